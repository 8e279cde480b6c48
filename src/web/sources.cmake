# Web requests: arguments and uploads, escaping and HTML formatting.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/web/KHTTPArgs.h
  include/vxkernel/web/KSGMLValues.h
  include/vxkernel/web/KWebEscape.h
  include/vxkernel/web/KWebFormat.h
)
list(APPEND VXKERNEL_SOURCES
  src/web/http_delimiter.cpp
  src/web/http_multipart.cpp
  src/web/http_type_probe.cpp
  src/web/KHTTPArgs.cpp
  src/web/KSGMLValues.cpp
  src/web/KWebEscape.cpp
  src/web/KWebEscape_url.cpp
  src/web/KWebFormat.cpp
)
