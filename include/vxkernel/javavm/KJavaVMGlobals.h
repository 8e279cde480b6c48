/// \file
/// KJavaVMGlobals: one thread's Java VM state.
#ifndef VXKERNEL_JAVAVM_KJAVAVMGLOBALS_H_
#define VXKERNEL_JAVAVM_KJAVAVMGLOBALS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vxkernel/export.h"

struct JNIEnv_;

/// The thread's JNIEnv (recorded when KJavaVM attaches the thread), the text
/// of its last Java exception, that exception's stack frames and the number
/// of exceptions the thread has seen. Created and deleted by the thread
/// ring (KJavaVMAppGlobals); used only by its own thread, so no lock.
class VXKERNEL_EXPORT KJavaVMGlobals {
 public:
  KJavaVMGlobals() = default;
  KJavaVMGlobals(const KJavaVMGlobals&) = delete;
  KJavaVMGlobals& operator=(const KJavaVMGlobals&) = delete;
  ~KJavaVMGlobals() = default;

  /// The thread's JNIEnv (not owned); null while it is not attached.
  ///@{
  JNIEnv_* MyJNIEnv() const { return fMyJNIEnv; }
  void MyJNIEnv(JNIEnv_* env) { fMyJNIEnv = env; }
  ///@}
  /// The text of the last exception KJavaVM::CheckException took, empty
  /// when none was pending; setting null stores "". The pointer is valid
  /// until the next set.
  ///@{
  const char* LastError() const { return fLastError.c_str(); }
  void LastError(const char* text) { fLastError = text != nullptr ? text : ""; }
  ///@}
  /// Exceptions this thread has seen; the increment returns the new count.
  ///@{
  unsigned long NumExceptions() const { return fNumExceptions; }
  unsigned long IncrementNumExceptions() { return ++fNumExceptions; }
  ///@}
  /// The stack frames of the last exception, one text each, innermost
  /// first; owned by this object.
  std::vector<std::string>* ErrorStack() { return &fErrorStack; }
  /// Appends one frame to ErrorStack().
  void PushError(const std::string& text) { fErrorStack.push_back(text); }
  /// Empties ErrorStack().
  void ClearErrorStack() { fErrorStack.clear(); }

 private:
  JNIEnv_* fMyJNIEnv = nullptr;
  std::string fLastError;
  std::vector<std::string> fErrorStack;
  uint32_t fNumExceptions = 0;
};

#endif  // VXKERNEL_JAVAVM_KJAVAVMGLOBALS_H_
