/// \file
/// KJavaVMAppGlobals: the thread-ring participant of the Java VM bridge.
#ifndef VXKERNEL_JAVAVM_KJAVAVMAPPGLOBALS_H_
#define VXKERNEL_JAVAVM_KJAVAVMAPPGLOBALS_H_

#include "vxkernel/export.h"
#include "vxkernel/runtime/KThreadGlobals.h"

class KJavaVMGlobals;

/// Priority 16, one slot: Init creates the thread's KJavaVMGlobals, Cleanup
/// deletes it. The package table holds the one instance.
class VXKERNEL_EXPORT KJavaVMAppGlobals : public KThreadGlobals {
 public:
  KJavaVMAppGlobals();
  ~KJavaVMAppGlobals() override;

  /// The calling thread's globals, or null (never started, or gone).
  static KJavaVMGlobals* ThreadGlobals();

 protected:
  void Init() override;
  void Cleanup() override;

 private:
  static KJavaVMAppGlobals* gInstance;  ///< the package table's, or null
};

#endif  // VXKERNEL_JAVAVM_KJAVAVMAPPGLOBALS_H_
