# The Java VM bridge. Only its sources see <jni.h>; the public headers
# declare the JNI types themselves. VXKERNEL_WITH_JAVAVM=OFF leaves it out
# (headers, sources and its package-table entry).
if(NOT VXKERNEL_WITH_JAVAVM)
  return()
endif()
vxk_part(vxkernel -DVXKERNEL_WITH_JAVAVM=OFF)
vxk_need_header(VXKERNEL_JNI_INCLUDE_DIR jni.h openjdk-17-jdk-headless
  HINTS $ENV{JAVA_HOME}/include
  PATHS /usr/lib/jvm/java-17-openjdk-amd64/include /usr/lib/jvm/default-java/include)
set(VXKERNEL_JNI_INCLUDE_DIRS ${VXKERNEL_JNI_INCLUDE_DIR} ${VXKERNEL_JNI_INCLUDE_DIR}/linux)
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/javavm/KJavaVM.h
  include/vxkernel/javavm/KJavaVMAppGlobals.h
  include/vxkernel/javavm/KJavaVMGlobals.h
)
list(APPEND VXKERNEL_SOURCES
  src/javavm/KJavaVM.cpp
  src/javavm/KJavaVMAppGlobals.cpp
)
set_source_files_properties(src/javavm/KJavaVM.cpp PROPERTIES INCLUDE_DIRECTORIES "${VXKERNEL_JNI_INCLUDE_DIRS}")
