# Files and configuration: files and directories, preference files, the
# configuration sources and the environment.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/files/fileprefs.h
  include/vxkernel/files/KFilePrefs.h
  include/vxkernel/files/KConfigFile.h
  include/vxkernel/files/KConfigData.h
)
list(APPEND VXKERNEL_SOURCES
  src/files/prefs_file.cpp
  src/files/prefs_map.cpp
  src/files/fileprefs.cpp
  src/files/KFilePrefs.cpp
  src/files/KConfigFile.cpp
  src/files/KConfigData.cpp
)
