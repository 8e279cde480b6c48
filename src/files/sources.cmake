# Files and configuration: files and directories, preference files, the
# configuration sources and the environment.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/files/env.h
)
list(APPEND VXKERNEL_SOURCES
  src/files/env.cpp
  src/files/profile.cpp
)
