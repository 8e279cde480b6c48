list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/text/KArray.h
  include/vxkernel/text/KHash.h
  include/vxkernel/text/KStack.h
  include/vxkernel/text/KString.h
  include/vxkernel/text/KStringKey.h
  include/vxkernel/text/str.h
)
list(APPEND VXKERNEL_SOURCES
  src/text/KArray.cpp
  src/text/KHash.cpp
  src/text/KStack.cpp
  src/text/KString.cpp
  src/text/KStringKey.cpp
  src/text/str_cmp.cpp
)
