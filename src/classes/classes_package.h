// The Ptr package: the start-up participant that registers the Ptr class.
// Included by the package table.
#ifndef VXKERNEL_CLASSES_CLASSES_PACKAGE_H_
#define VXKERNEL_CLASSES_CLASSES_PACKAGE_H_

#include "vxkernel/runtime/KAt.h"

// Priority 15 (after the value package at 8 has made the process
// environment): makes the Ptr class and registers it as process class 17,
// which also runs its CompleteClassDefinition. Shut-down frees every box
// the class made. The class object itself stays until the process ends,
// because the process tables (never cleared) point at it and a Ptr value
// destroyed late still reads its class.
class KPtrPkg : public KPkg {
 public:
  KPtrPkg() : KPkg(15) {}

 protected:
  void Startup() override;
  void Shutdown() override;
};

#endif  // VXKERNEL_CLASSES_CLASSES_PACKAGE_H_
