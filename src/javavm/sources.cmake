# The Java virtual machine bridge. Only its sources see <jni.h>; the public
# headers declare the JNI types themselves.
find_path(VXKERNEL_JNI_INCLUDE_DIR jni.h
  HINTS $ENV{JAVA_HOME}/include
  PATHS /usr/lib/jvm/java-17-openjdk-amd64/include /usr/lib/jvm/default-java/include)
if(NOT VXKERNEL_JNI_INCLUDE_DIR)
  message(FATAL_ERROR "jni.h not found: install a JDK (openjdk-17-jdk-headless) or set JAVA_HOME")
endif()
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
