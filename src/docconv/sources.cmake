# The document-conversion client.
list(APPEND VXKERNEL_PUBLIC_HEADERS
)
list(APPEND VXKERNEL_SOURCES
)
