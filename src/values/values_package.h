// The value package: start-up participants that create the process class
// environment and register the built-in types. Included by the package
// table.
#ifndef VXKERNEL_VALUES_VALUES_PACKAGE_H_
#define VXKERNEL_VALUES_VALUES_PACKAGE_H_

#include "vxkernel/runtime/KAt.h"

// Priority 8: creates the process environment and registers the built-in
// classes in their fixed order. Nothing to shut down: the environment and
// the classes live until the process ends.
class KQSValuePkg : public KPkg {
 public:
  KQSValuePkg() : KPkg(8) {}

 protected:
  void Startup() override;
  void Shutdown() override {}
};

// Priority 32: from here on copying classes into the process environment
// takes its lock.
class KQSValuePkgHigh : public KPkg {
 public:
  KQSValuePkgHigh() : KPkg(32) {}

 protected:
  void Startup() override;
  void Shutdown() override {}
};

#endif  // VXKERNEL_VALUES_VALUES_PACKAGE_H_
