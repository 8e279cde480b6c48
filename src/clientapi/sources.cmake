list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/clientapi/KVal.h
  include/vxkernel/clientapi/vx_containers.h
  include/vxkernel/clientapi/vx_value.h
)
list(APPEND VXKERNEL_SOURCES
  src/clientapi/KVal.cpp
  src/clientapi/vx_containers.cpp
  src/clientapi/vx_members.cpp
  src/clientapi/vx_value.cpp
)
