list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/values/KQSValue.h
  include/vxkernel/values/KQSValueBase.h
)
list(APPEND VXKERNEL_SOURCES
  src/values/KQSValue.cpp
  src/values/KQSValueBase.cpp
  src/values/KQSValuePkg.cpp
)
