#include "vxkernel/bundles/KPropertyResourceBundle.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/debug_line.h"
#include "port/port.h"
#include "vxkernel/bundles/KProperties.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/text/T23Tree.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/threads/KSharedFile.h"

// The registry's map from a file path to its bundle (null: nothing found).
class KBundleCache : public T23Tree<KStringKey, KPropertyResourceBundle*> {};

namespace {

constexpr const char* kOp = "KPropertyResourceBundle::GetResourceBundle";

// directory + separator (unless it ends with one) + base + suffix +
// ".properties"; a null or empty directory contributes nothing, so the
// path is then relative to the working directory rather than to "/".
std::string FilePath(const char* directory, const char* base, const char* suffix) {
  std::string path;
  if (directory != nullptr && *directory != '\0') {
    path = directory;
    if (path.back() != '/') path += '/';
  }
  path += base;
  path += suffix;
  path += ".properties";
  return path;
}

}  // namespace

// The steps of one GetResourceBundle call. Runs under the registry's cache
// lock; the parent of a bundle is set only here, and only on a bundle made
// by the same call, so bundles of earlier calls never change again.
class KBundleRegistry {
 public:
  KBundleRegistry(KPropertyResourceBundle& mgr, const char* base, const char* directory,
                  std::string key)
      : fCache(*mgr.fCache), fBase(base), fDirectory(directory), fKey(std::move(key)) {}

  // Walks the chain of locale from the full locale to the empty suffix.
  // True when the walk met a cached bundle (it then ends the chain);
  // *coversDefault is set when one step had the default suffix.
  bool Walk(KLocale locale, const KString& defaultSuffix, const char* message,
            bool* coversDefault) {
    for (;;) {
      const KString suffix = locale.ResourceSuffix();
      if (std::strcmp(suffix, defaultSuffix) == 0) *coversDefault = true;
      const std::string path = FilePath(fDirectory, fBase, suffix);
      KPropertyResourceBundle* cached = nullptr;
      if (fCache.Get(KStringKey(path.c_str()), cached)) {
        // A null entry is a request that found nothing, so this file was
        // missing: the step adds nothing and the less specific ones may
        // still. A bundle already on the chain (the default pass meeting
        // a file of the first pass) is not linked again: that would close
        // a loop, and its pairs are reachable already.
        if (cached != nullptr) {
          if (!OnChain(cached)) Link(cached);
          return true;
        }
      } else {
        auto* bundle = new KPropertyResourceBundle(fBase, locale, path.c_str());
        if (bundle->Populate()) {
          fCache.Add(KStringKey(path.c_str()), bundle);
          if (KIntl::Debug() > 2) Found(message, bundle);
          Link(bundle);
        } else {
          delete bundle;
        }
      }
      if (!locale.Simplify()) return false;
    }
  }

  // The file without suffix, standing in for the fallback locale's file of
  // the message-catalogue directory when it is missing.
  void Fallback(const KLocale& fallbackLocale) {
    const std::string path = FilePath(fDirectory, fBase, "");
    auto* bundle = new KPropertyResourceBundle(fBase, fallbackLocale, path.c_str());
    if (!bundle->Populate()) {
      delete bundle;
      return;
    }
    Found("warning using fallback property resource bundle for ", bundle);
    // The walk met no bundle under this path (it would have linked it), so
    // at most a null entry is replaced.
    fCache.Add(KStringKey(path.c_str()), bundle);
    Link(bundle);
  }

  KPropertyResourceBundle* Result() const { return fResult; }

 private:
  void Found(const char* message, const KPropertyResourceBundle* bundle) const {
    vxk_internal::DebugLine(kOp, message, fKey, " was found at ",
                            static_cast<const char*>(bundle->File().FullName()));
  }

  bool OnChain(const KPropertyResourceBundle* bundle) const {
    for (const KPropertyResourceBundle* b = fResult; b != nullptr; b = b->fParent)
      if (b == bundle) return true;
    return false;
  }

  void Link(KPropertyResourceBundle* bundle) {
    if (fLast != nullptr) fLast->fParent = bundle;
    if (fResult == nullptr) {
      fResult = bundle;
      fCache.Add(KStringKey(fKey.c_str()), bundle);
    }
    fLast = bundle;
  }

  KBundleCache& fCache;
  const char* fBase;
  const char* fDirectory;
  const std::string fKey;
  KPropertyResourceBundle* fResult = nullptr;
  KPropertyResourceBundle* fLast = nullptr;  // the most recently linked bundle
};

// ===== Process-wide objects =====

KPropertyResourceBundle KPropertyResourceBundle::gPropertyResourceMgr("en_US");
bool KPropertyResourceBundle::gTryDefaultERRLocation = true;

KPropertyResourceBundle::KPropertyResourceBundle(const char* fallbackSuffix)
    : fLocale(fallbackSuffix),
      fParent(nullptr),
      fProperties(new KProperties(0, nullptr)),
      fCacheLock(new KLock(KLock::kCriticalSection)),
      fCache(new KBundleCache()) {}

KPropertyResourceBundle::KPropertyResourceBundle(const char* baseName, const KLocale& locale,
                                                 const char* path)
    : fBaseName(baseName),
      fLocale(locale),
      fKeyPath(path),
      fFile(path),
      fParent(nullptr),
      fProperties(new KProperties(0, nullptr)),
      fCacheLock(nullptr),
      fCache(nullptr) {
  if (fFile.Exists() || !gTryDefaultERRLocation) return;
  const KString catalogueDir = err_properties_path();
  if (catalogueDir.Length() == 0) return;
  const std::string standIn = FilePath(catalogueDir, baseName, locale.ResourceSuffix());
  if (standIn == path) return;
  KFile other(standIn.c_str());
  if (other.Exists()) fFile = other;
}

// The registry's cache and lock stay with the registry (see the class
// comment); the properties are copied, the parent shared.
KPropertyResourceBundle::KPropertyResourceBundle(const KPropertyResourceBundle& other)
    : fBaseName(other.fBaseName),
      fLocale(other.fLocale),
      fKeyPath(other.fKeyPath),
      fFile(other.fFile),
      fParent(other.fParent),
      fProperties(new KProperties(*other.fProperties)),
      fCacheLock(nullptr),
      fCache(nullptr) {}

KPropertyResourceBundle& KPropertyResourceBundle::operator=(const KPropertyResourceBundle& other) {
  if (this == &other) return *this;
  KLockGuard guard(fCacheLock);  // the registry reads its locale under it
  fBaseName = other.fBaseName;
  fLocale = other.fLocale;
  fKeyPath = other.fKeyPath;
  fFile = other.fFile;
  fParent = other.fParent;
  *fProperties = *other.fProperties;
  return *this;
}

KPropertyResourceBundle::~KPropertyResourceBundle() {
  if (fCache != nullptr) {
    // The registry: one bundle may sit under several paths; delete each once.
    KBundleCache* cache = fCache;
    fCache = nullptr;
    std::vector<KPropertyResourceBundle*> all;
    KStringKey key;
    KPropertyResourceBundle* bundle = nullptr;
    for (long i = 1; cache->GetIndexed(i, key, bundle); ++i)
      if (bundle != nullptr) all.push_back(bundle);
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    for (KPropertyResourceBundle* b : all) delete b;
    delete cache;
  }
  delete fCacheLock;
  fCacheLock = nullptr;
  delete fProperties;
}

// ===== Lookups =====

const KPropertyResourceBundle* KPropertyResourceBundle::GetResourceBundle(const char* baseName,
                                                                          const KLocale& locale,
                                                                          const char* directory) {
  KPropertyResourceBundle& mgr = gPropertyResourceMgr;
  // Zero before the registry's construction and after its destruction.
  if (mgr.fCache == nullptr) return nullptr;
  if (baseName == nullptr) baseName = "";
  const KString defaultSuffix = KIntl::DefaultLocaleResourceSuffix();
  std::string key = FilePath(directory, baseName, locale.ResourceSuffix());

  KLockGuard guard(mgr.fCacheLock);
  KPropertyResourceBundle* cached = nullptr;
  if (mgr.fCache->Get(KStringKey(key.c_str()), cached)) {
    if (KIntl::Debug() > 3)
      vxk_internal::DebugLine(kOp, "sharing loaded property resource bundle: ", key);
    return cached;
  }
  KBundleRegistry walk(mgr, baseName, directory, key);
  bool coversDefault = false;
  const bool hit = walk.Walk(locale, defaultSuffix, "new property resource bundle available for ",
                             &coversDefault);
  if (!hit && !coversDefault) {
    walk.Walk(KLocale(static_cast<const char*>(defaultSuffix)), defaultSuffix,
              "new default property resource bundle available for ", &coversDefault);
  }
  if (walk.Result() == nullptr) walk.Fallback(mgr.fLocale);
  if (walk.Result() == nullptr) mgr.fCache->Add(KStringKey(key.c_str()), nullptr);
  return walk.Result();
}

KString KPropertyResourceBundle::FallbackLocaleResourceSuffix() {
  KPropertyResourceBundle& mgr = gPropertyResourceMgr;
  if (mgr.fCacheLock == nullptr) return KString("_en_US");
  KLockGuard guard(mgr.fCacheLock);
  return mgr.fLocale.ResourceSuffix();
}

bool KPropertyResourceBundle::GetString(const char* key, KString& out) const {
  if (key == nullptr) return false;
  for (const KPropertyResourceBundle* b = this; b != nullptr; b = b->fParent) {
    // One search for the usual non-empty value; a second only to tell an
    // empty value from a missing key.
    KString value = b->fProperties->GetProperty(key);
    if (value.Length() != 0 || b->fProperties->ContainsKey(key)) {
      out = value;
      return true;
    }
  }
  return false;
}

bool KPropertyResourceBundle::Populate() {
  if (!fFile.Exists()) return false;
  const KString name = fFile.FullName();
  // Runs under the registry lock, which every catalogue lookup of the
  // process waits for: the open must never wait (a FIFO without a writer
  // would hold it for good), and a FIFO, device or directory is no
  // properties file.
  bool refused = false;
  KSharedFile file(
      port::OpenShared(name, "re", kShareReadWrite | port::kShareRegularOnly, &refused), true);
  if (file.Stream() == nullptr) {
    vxk_internal::DebugLine("KPropertyResourceBundle::Populate",
                            "failed to open properties file: ", name);
    return false;
  }
  const long code = fProperties->Load(file.In());
  if (code != KProperties::kOk) {
    vxk_internal::DebugLine("KPropertyResourceBundle::Populate",
                            "failed to load properties file: ", name, " (", code, ")");
    return false;
  }
  return true;
}
