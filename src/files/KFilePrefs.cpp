// KFilePrefs: the shared instances, their lock and their lookup map.
#include "vxkernel/files/KFilePrefs.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/debug_line.h"
#include "files/prefs_file_internal.h"
#include "files/prefs_map_internal.h"
#include "port/port.h"
#include "vxkernel/files/fileprefs.h"
#include "vxkernel/text/str.h"
#include "vxkernel/threads/KLockGuard.h"

using vxk_internal::DebugLine;
using vxk_internal::kPrefsArgument;
using vxk_internal::kPrefsNoValue;
using vxk_internal::kPrefsOk;
using vxk_internal::kPrefsTruncated;

// The instances by absolute path. Owns them: they go with gPrefsMgr when the
// process ends.
class KFilePrefsRegistry {
 public:
  ~KFilePrefsRegistry() {
    for (auto& entry : fFiles) delete entry.second;
  }
  std::unordered_map<std::string, KFilePrefs*> fFiles;
};

KFilePrefs KFilePrefs::gPrefsMgr;

namespace {

constexpr long kNoFile = 1;

long NullArgument(const char* operation) {
  DebugLine(operation, "null argument");
  return kPrefsArgument;
}

// The registry key of path; false (and a debug line) when there is none.
bool FullPath(const char* operation, const char* path, std::string* out) {
  if (path == nullptr) {
    NullArgument(operation);
    return false;
  }
  if (port::AbsolutePath(path, out)) return true;
  DebugLine(operation, "no absolute path for: ", path);
  return false;
}

}  // namespace

KFilePrefs::KFilePrefs() : fPrefs(nullptr), fLock(KLock::kCriticalSection), fMap(nullptr), fRegistry(nullptr) {}

KFilePrefs::~KFilePrefs() {
  delete fRegistry;
  delete fMap;
  fileprefs_close(fPrefs);
}

// The new map is built beside the old one, which stays (stale, but whole)
// when memory runs out.
void KFilePrefs::Rebuild(const char* operation) {
  try {
    auto map = std::make_unique<KFilePrefsMap>();
    map->Build(*static_cast<vxk_internal::PrefFile*>(fPrefs));
    delete fMap;
    fMap = map.release();
  } catch (...) {
    vxk_internal::PrefsGuardFailed(operation);
  }
}

KFilePrefs* KFilePrefs::GetKFilePrefs(const char* path) {
  try {
    std::string full;
    if (!FullPath("KFilePrefs::GetKFilePrefs", path, &full)) return nullptr;
    KLockGuard guard(gPrefsMgr.fLock);
    if (gPrefsMgr.fRegistry == nullptr) gPrefsMgr.fRegistry = new KFilePrefsRegistry;
    auto& files = gPrefsMgr.fRegistry->fFiles;
    if (auto it = files.find(full); it != files.end()) return it->second;
    std::unique_ptr<KFilePrefs> p(new KFilePrefs);
    p->fPrefs = fileprefs_open(full.c_str());  // writes the failure's line
    if (p->fPrefs == nullptr) return nullptr;
    {
      KLockGuard instance(p->fLock);
      p->Rebuild("KFilePrefs::GetKFilePrefs");
    }
    files.emplace(std::move(full), p.get());
    return p.release();
  } catch (...) {
    vxk_internal::PrefsGuardFailed("KFilePrefs::GetKFilePrefs");
    return nullptr;
  }
}

long KFilePrefs::CreateKFilePrefs(const char* path) {
  try {
    std::string full;
    if (!FullPath("KFilePrefs::CreateKFilePrefs", path, &full)) return path == nullptr ? kPrefsArgument : -1;
    long r = fileprefs_create(full.c_str());
    KLockGuard guard(gPrefsMgr.fLock);
    if (gPrefsMgr.fRegistry != nullptr) {
      if (auto it = gPrefsMgr.fRegistry->fFiles.find(full); it != gPrefsMgr.fRegistry->fFiles.end()) {
        it->second->Refresh();
      }
    }
    return r;
  } catch (...) {
    vxk_internal::PrefsGuardFailed("KFilePrefs::CreateKFilePrefs");
    return -1;
  }
}

long KFilePrefs::Close() { return 0; }

long KFilePrefs::Refresh() {
  if (fPrefs == nullptr) return kNoFile;
  KLockGuard guard(fLock);
  long r = fileprefs_refresh(fPrefs);
  Rebuild("KFilePrefs::Refresh");
  DebugLine("KFilePrefs::Refresh()", "why is this called...");
  return r;
}

long KFilePrefs::GetPref(const char* section, const char* name, char* buf, long size) {
  if (section == nullptr || name == nullptr || buf == nullptr || size < 1) return NullArgument("KFilePrefs::GetPref");
  if (fPrefs == nullptr) return kNoFile;
  KLockGuard guard(fLock);
  std::string_view value;
  if (fMap == nullptr || !fMap->Find(section, name, &value)) return kPrefsNoValue;
  str_copy_n(buf, size, value.data(), static_cast<long>(value.size()));
  return value.size() >= static_cast<unsigned long>(size) ? kPrefsTruncated : kPrefsOk;
}

long KFilePrefs::GetPrefLength(const char* section, const char* name, long* length) {
  if (section == nullptr || name == nullptr || length == nullptr) return NullArgument("KFilePrefs::GetPrefLength");
  if (fPrefs == nullptr) return kNoFile;
  KLockGuard guard(fLock);
  std::string_view value;
  if (fMap == nullptr || !fMap->Find(section, name, &value)) return kPrefsNoValue;
  *length = static_cast<long>(value.size());
  return kPrefsOk;
}

long KFilePrefs::GetPath(const char* section, const char* name, char* buf, long size) {
  long r = GetPref(section, name, buf, size);
  if (r == kPrefsOk) fileprefs_FixDirSep(buf);
  return r;
}

long KFilePrefs::AddPref(const char* section, const char* name, const char* value) {
  if (section == nullptr || name == nullptr || value == nullptr) return NullArgument("KFilePrefs::AddPref");
  if (fPrefs == nullptr) return kNoFile;
  KLockGuard guard(fLock);
  std::string_view stored;
  if (*value != '\0' && fMap != nullptr && fMap->Find(section, name, &stored) && stored == value) return kPrefsOk;
  long r = fileprefs_add_pref(fPrefs, section, name, value);
  Rebuild("KFilePrefs::AddPref");
  return r;
}

long KFilePrefs::DelPref(const char* section, const char* name) {
  if (section == nullptr || name == nullptr) return NullArgument("KFilePrefs::DelPref");
  if (fPrefs == nullptr) return kNoFile;
  KLockGuard guard(fLock);
  std::string_view stored;
  if (fMap == nullptr || !fMap->Find(section, name, &stored)) return kPrefsOk;
  long r = fileprefs_del_pref(fPrefs, section, name);
  Rebuild("KFilePrefs::DelPref");
  return r;
}

char** KFilePrefs::ListSections() {
  if (fPrefs == nullptr) return nullptr;
  KLockGuard guard(fLock);
  return fileprefs_list_sections(fPrefs);
}

char** KFilePrefs::ListValues(const char* section) {
  if (fPrefs == nullptr) return nullptr;
  KLockGuard guard(fLock);
  return fileprefs_list_values(fPrefs, section);
}

void KFilePrefs::ListRelease(char** list) { fileprefs_list_release(list); }

void KFilePrefs::Dump() {
  if (fPrefs == nullptr) return;
  KLockGuard guard(fLock);
  fileprefs_dump(fPrefs);
}
