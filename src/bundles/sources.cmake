# Properties files and resource bundles, and the error catalogue's bundles.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/bundles/KProperties.h
  include/vxkernel/bundles/KPropertyResourceBundle.h
)
list(APPEND VXKERNEL_SOURCES
  src/bundles/KProperties.cpp
  src/bundles/KPropertiesTable.cpp
  src/bundles/properties_parse.cpp
  src/bundles/properties_store.cpp
  src/bundles/KPropertyResourceBundle.cpp
  src/bundles/err_catalogue.cpp
)
