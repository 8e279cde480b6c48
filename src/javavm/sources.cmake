# The Java virtual machine bridge.
list(APPEND VXKERNEL_PUBLIC_HEADERS
)
list(APPEND VXKERNEL_SOURCES
)
