# Web requests: arguments and uploads, escaping and HTML formatting.
list(APPEND VXKERNEL_PUBLIC_HEADERS
)
list(APPEND VXKERNEL_SOURCES
)
