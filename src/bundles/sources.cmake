# Properties files and resource bundles, and the error catalogue's bundles.
list(APPEND VXKERNEL_PUBLIC_HEADERS
)
list(APPEND VXKERNEL_SOURCES
)
