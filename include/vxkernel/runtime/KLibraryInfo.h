/// \file
/// Facts about the running library, as built (not as the caller's headers
/// say): a host compiled against one version may load another.
#ifndef VXKERNEL_RUNTIME_KLIBRARYINFO_H_
#define VXKERNEL_RUNTIME_KLIBRARYINFO_H_

#include "vxkernel/export.h"

/// Build facts of the loaded library; static strings the caller does not free.
/// Safe from any thread.
class VXKERNEL_EXPORT KLibraryInfo {
 public:
  /// "major.minor.patch" of the loaded library.
  static const char* Version();
  /// The CMake build type the library was built with ("Release", ...).
  static const char* BuildType();
  /// The sanitizers compiled in ("address,undefined", "thread" or "").
  static const char* Sanitizers();
};

#endif  // VXKERNEL_RUNTIME_KLIBRARYINFO_H_
