# The package table: every participant of the library's rings, in one file
# whose order is the start-up order within each priority. It needs every
# subsystem, so it sits above all of them.
list(APPEND VXKERNEL_SOURCES
  src/packages/packages.cpp
)
