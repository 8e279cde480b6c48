/// \file
/// KLoadLib: a shared library loaded at run time.
#ifndef VXKERNEL_FILES_KLOADLIB_H_
#define VXKERNEL_FILES_KLOADLIB_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// Loads one shared library, finds its functions by name and unloads it,
/// keeping the loader's text of the last failure. Copies share the loaded
/// library; destruction leaves it loaded, only Close unloads it. Failures
/// write one debug line.
///
/// Thread rule: one thread at a time per object.
class VXKERNEL_EXPORT KLoadLib {
 public:
  KLoadLib();
  /// Copies the handle and the error text: both objects then use the same
  /// loaded library. Close on one unloads it for both; the other must then
  /// not be used or closed.
  ///@{
  KLoadLib(const KLoadLib& other);
  KLoadLib& operator=(const KLoadLib& other);
  ///@}
  /// Leaves the library loaded, as copies may still use it: Close unloads.
  virtual ~KLoadLib();

  /// A library is loaded through this object.
  bool IsOpened() const { return fModule != nullptr; }
  /// flags is accepted and not used.
  bool Open(const char* fileName, long flags = 0);
  /// Appends LibSuffix() (always) and calls Open; false for an empty name.
  bool OpenWithProperSuffix(const char* name, long flags = 0);
  /// ".so".
  static const char* LibSuffix();
  /// Null when nothing is loaded or the name is not exported.
  void* GetFunctionAddress(const char* name);
  /// Unloads; false when nothing was loaded. The handle is null afterwards.
  bool Close();
  /// The loader's text of the last failure.
  const KString& LastError() const { return fLastError; }

 private:
  void SetLastError(const char* text);

  void* fModule = nullptr;
  KString fLastError;
};

#endif  // VXKERNEL_FILES_KLOADLIB_H_
