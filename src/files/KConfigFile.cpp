// KConfigFile: the process's configuration file.
#include "vxkernel/files/KConfigFile.h"

#include <atomic>
#include <string>

#include "base/debug_line.h"
#include "port/port.h"

KConfigFile* KConfigFile::gTheConfigFile = nullptr;

KConfigFile::KConfigFile(const char* path) {
  std::string full;
  if (path != nullptr && port::AbsolutePath(path, &full)) {
    try {
      fPath = KString(full.c_str(), static_cast<unsigned>(full.size()));
    } catch (...) {
      vxk_internal::DebugLine("KConfigFile::KConfigFile", "out of memory");
    }
  } else {
    vxk_internal::DebugLine("KConfigFile::KConfigFile", "no absolute path for: ", path != nullptr ? path : "(null)");
  }
  KConfigFile* none = nullptr;
  std::atomic_ref<KConfigFile*>(gTheConfigFile).compare_exchange_strong(none, this);
}

KConfigFile::~KConfigFile() {
  KConfigFile* self = this;
  std::atomic_ref<KConfigFile*>(gTheConfigFile).compare_exchange_strong(self, nullptr);
}

KConfigFile* KConfigFile::TheConfigFile() { return std::atomic_ref<KConfigFile*>(gTheConfigFile).load(); }
