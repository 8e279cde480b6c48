# Stream sockets.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/net/KISocket.h
  include/vxkernel/net/KOSocket.h
  include/vxkernel/net/KSocket.h
  include/vxkernel/net/KSocketStream.h
  include/vxkernel/net/KWSASocket.h
)
list(APPEND VXKERNEL_SOURCES
  src/net/KSocket.cpp
  src/net/KSocketStream.cpp
  src/net/KWSASocket.cpp
  src/net/net_package.cpp
  src/net/routing.cpp
)
