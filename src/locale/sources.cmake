list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/locale/KAttr.h
  include/vxkernel/locale/KDateTime.h
  include/vxkernel/locale/KIntl.h
  include/vxkernel/locale/KLocale.h
)
list(APPEND VXKERNEL_SOURCES
  src/locale/KAttr.cpp
  src/locale/KDateTime.cpp
  src/locale/KDateTime_format.cpp
  src/locale/KDateTime_names.cpp
  src/locale/KIntl.cpp
  src/locale/KIntl_initialize.cpp
  src/locale/KLocale.cpp
)
