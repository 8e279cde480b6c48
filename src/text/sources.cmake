list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/text/KArray.h
  include/vxkernel/text/KHash.h
  include/vxkernel/text/KStack.h
  include/vxkernel/text/KString.h
  include/vxkernel/text/KStringKey.h
  include/vxkernel/text/str.h
  include/vxkernel/text/KBSF.h
  include/vxkernel/text/Swap.h
  include/vxkernel/text/codepage.h
)
list(APPEND VXKERNEL_SOURCES
  src/text/KArray.cpp
  src/text/KHash.cpp
  src/text/KStack.cpp
  src/text/KString.cpp
  src/text/KStringKey.cpp
  src/text/str_cmp.cpp
  src/text/str_search.cpp
  src/text/str_edit.cpp
  src/text/str_elements.cpp
  src/text/str_encode.cpp
  src/text/str_hyphenate.cpp
  src/text/str_table.cpp
  src/text/KBSF.cpp
  src/text/Swap.cpp
  src/text/codepage.cpp
)
