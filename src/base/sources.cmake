# The base layer: below every subsystem, above the platform layer. The
# memory-block module lives here because the text functions keep their
# tables in its handles.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/base/mem.h
  # Forwards to base/mem.h; goes after one release.
  include/vxkernel/runtime/mem.h
)
list(APPEND VXKERNEL_SOURCES
  src/base/check.cpp
  src/base/debug_line.cpp
  src/base/mem.cpp
  src/base/small_heap.cpp
)
