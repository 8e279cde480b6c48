list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/runtime/dbg.h
  include/vxkernel/runtime/dbgstrm.h
  include/vxkernel/runtime/dbgutils.h
  include/vxkernel/runtime/err.h
  include/vxkernel/runtime/PcRsc.h
  include/vxkernel/runtime/KAt.h
  include/vxkernel/runtime/KContext.h
  include/vxkernel/runtime/KLibraryInfo.h
  include/vxkernel/runtime/KThreadGlobals.h
)
list(APPEND VXKERNEL_SOURCES
  src/runtime/dbg.cpp
  src/runtime/dbgstrm.cpp
  src/runtime/dbgutils.cpp
  src/runtime/err.cpp
  src/runtime/KAt.cpp
  src/runtime/KContext.cpp
  src/runtime/KLibraryInfo.cpp
  src/runtime/KThreadGlobals.cpp
  src/runtime/PcRsc.cpp
)
