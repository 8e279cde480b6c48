#include "vxkernel/runtime/KLibraryInfo.h"

#include "vxkernel/version.h"

#ifndef VXKERNEL_BUILD_TYPE
#define VXKERNEL_BUILD_TYPE ""
#endif
#ifndef VXKERNEL_SANITIZERS
#define VXKERNEL_SANITIZERS ""
#endif

const char* KLibraryInfo::Version() { return VXKERNEL_VERSION_STRING; }
const char* KLibraryInfo::BuildType() { return VXKERNEL_BUILD_TYPE; }
const char* KLibraryInfo::Sanitizers() { return VXKERNEL_SANITIZERS; }
