# The document-conversion client.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/docconv/dcsclient.h
  include/vxkernel/docconv/KDor.h
)
list(APPEND VXKERNEL_SOURCES
  src/docconv/KDor.cpp
)
