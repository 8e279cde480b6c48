# Web requests: arguments and uploads, escaping and HTML formatting.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/web/KHTTPArgs.h
)
list(APPEND VXKERNEL_SOURCES
  src/web/KHTTPArgs.cpp
  src/web/http_multipart.cpp
)
