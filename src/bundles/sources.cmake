# Properties files and resource bundles, and the error catalogue's bundles.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/bundles/KPropertyResourceBundle.h
)
list(APPEND VXKERNEL_SOURCES
  src/bundles/KPropertyResourceBundle.cpp
  src/bundles/err_catalogue.cpp
)
