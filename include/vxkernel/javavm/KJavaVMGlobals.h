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

  JNIEnv_* MyJNIEnv() const { return fMyJNIEnv; }
  void MyJNIEnv(JNIEnv_* env) { fMyJNIEnv = env; }
  const char* LastError() const { return fLastError.c_str(); }
  void LastError(const char* text) { fLastError = text != nullptr ? text : ""; }
  unsigned long NumExceptions() const { return fNumExceptions; }
  unsigned long IncrementNumExceptions() { return ++fNumExceptions; }
  std::vector<std::string>* ErrorStack() { return &fErrorStack; }
  void PushError(const std::string& text) { fErrorStack.push_back(text); }
  void ClearErrorStack() { fErrorStack.clear(); }

 private:
  JNIEnv_* fMyJNIEnv = nullptr;
  std::string fLastError;
  std::vector<std::string> fErrorStack;
  uint32_t fNumExceptions = 0;
};

#endif  // VXKERNEL_JAVAVM_KJAVAVMGLOBALS_H_
