# Files and configuration: files and directories, preference files, the
# configuration sources and the environment.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/files/env.h
  include/vxkernel/files/fileprefs.h
  # Forwards to locale/KAttr.h; goes after one release.
  include/vxkernel/files/KAttr.h
  include/vxkernel/files/KConfigData.h
  include/vxkernel/files/KConfigFile.h
  include/vxkernel/files/KDir.h
  include/vxkernel/files/KFile.h
  include/vxkernel/files/KFileCopyOperation.h
  include/vxkernel/files/KFilePrefs.h
  include/vxkernel/files/KLoadLib.h
  include/vxkernel/files/KPath.h
  include/vxkernel/files/pcfile.h
)
list(APPEND VXKERNEL_SOURCES
  src/files/env.cpp
  src/files/fileprefs.cpp
  src/files/files_package.cpp
  src/files/KConfigData.cpp
  src/files/KConfigFile.cpp
  src/files/KDir.cpp
  src/files/KFile.cpp
  src/files/KFileCopyOperation.cpp
  src/files/KFilePrefs.cpp
  src/files/KLoadLib.cpp
  src/files/KPath.cpp
  src/files/pcfile.cpp
  src/files/prefs_file.cpp
  src/files/prefs_map.cpp
  src/files/profile.cpp
)
