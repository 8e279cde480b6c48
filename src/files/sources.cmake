# Files and configuration: files and directories, preference files, the
# configuration sources and the environment.
list(APPEND VXKERNEL_PUBLIC_HEADERS
)
list(APPEND VXKERNEL_SOURCES
)
