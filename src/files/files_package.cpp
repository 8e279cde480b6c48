#include "files/files_package.h"

#include <string>

#include "base/run_reported.h"
#include "files/files_internal.h"
#include "runtime/startup_dir.h"
#include "vxkernel/files/KDir.h"

namespace {

bool ReadStartupDir(std::string* out) {
  *out = vxk_internal::StartupDirName();
  return !out->empty();
}

}  // namespace

KDirPkg::KDirPkg() : KAtProcess(16) {}

KDirPkg::~KDirPkg() {
  vxk_internal::StartupDirReader expected = &ReadStartupDir;
  vxk_internal::gStartupDirReader.compare_exchange_strong(expected, nullptr);
  KDir::StartupDir(nullptr);
}

void KDirPkg::Startup() {
  vxk_internal::RunReported("KDirPkg::Startup", [] {
    KDir* current = KDir::CurrDir();
    KDir::StartupDir(current);
    delete current;
    vxk_internal::gStartupDirReader.store(&ReadStartupDir);
  });
}
