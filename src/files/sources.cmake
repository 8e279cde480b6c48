# Files and configuration: files and directories, preference files, the
# configuration sources and the environment.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/files/KAttr.h
  include/vxkernel/files/KDir.h
  include/vxkernel/files/KFile.h
  include/vxkernel/files/KFileCopyOperation.h
  include/vxkernel/files/KPath.h
  include/vxkernel/files/env.h
  include/vxkernel/files/pcfile.h
)
list(APPEND VXKERNEL_SOURCES
  src/files/KAttr.cpp
  src/files/KDir.cpp
  src/files/KFile.cpp
  src/files/KFileCopyOperation.cpp
  src/files/KPath.cpp
  src/files/env.cpp
  src/files/files_package.cpp
  src/files/pcfile.cpp
  src/files/profile.cpp
)
