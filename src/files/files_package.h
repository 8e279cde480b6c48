// The directory package: its process-ring participant. Included by the
// package table.
#ifndef VXKERNEL_FILES_FILES_PACKAGE_H_
#define VXKERNEL_FILES_FILES_PACKAGE_H_

#include "vxkernel/runtime/KAt.h"

// Process-ring participant (priority 16): Startup records the current
// directory as the start-up directory (KDir::StartupDir) and lets the
// runtime read it (runtime/startup_dir.h); Shutdown does nothing, so the
// directory stays readable until the package is destroyed at unload. The
// package table holds the one instance.
class KDirPkg : public KAtProcess {
 public:
  KDirPkg();
  ~KDirPkg() override;

 protected:
  void Startup() override;
  void Shutdown() override {}
};

#endif  // VXKERNEL_FILES_FILES_PACKAGE_H_
