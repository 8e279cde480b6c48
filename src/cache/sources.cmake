# The file cache and client document cache items.
list(APPEND VXKERNEL_PUBLIC_HEADERS
)
list(APPEND VXKERNEL_SOURCES
)
