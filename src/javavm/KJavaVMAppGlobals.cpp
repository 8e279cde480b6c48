#include "vxkernel/javavm/KJavaVMAppGlobals.h"

#include "base/run_reported.h"
#include "vxkernel/javavm/KJavaVMGlobals.h"

KJavaVMAppGlobals* KJavaVMAppGlobals::gInstance = nullptr;

KJavaVMAppGlobals::KJavaVMAppGlobals() : KThreadGlobals(16, 1) { gInstance = this; }

KJavaVMAppGlobals::~KJavaVMAppGlobals() {
  if (gInstance == this) gInstance = nullptr;
}

KJavaVMGlobals* KJavaVMAppGlobals::ThreadGlobals() {
  return gInstance != nullptr ? static_cast<KJavaVMGlobals*>(gInstance->User1()) : nullptr;
}

void KJavaVMAppGlobals::Init() {
  vxk_internal::RunReported("KJavaVMAppGlobals::Init", [this] { User1(new KJavaVMGlobals()); });
}

void KJavaVMAppGlobals::Cleanup() {
  delete static_cast<KJavaVMGlobals*>(User1());
  User1(nullptr);
}
