// The error catalogue's bundle lookup, installed into the runtime when the
// library is loaded.
//
// Every catalogue message asks for the bundle of (catalogue, current
// locale, catalogue directory). GetResourceBundle answers that under the
// process-wide registry lock after building the request path; since its
// answer for one request never changes once made (requests are cached for
// the life of the process, null ones included), the answers are also kept
// in a small lock-free table that the common case reads without a lock.
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bundles/bundles_internal.h"
#include "runtime/err_bundle_lookup.h"
#include "vxkernel/bundles/KPropertyResourceBundle.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/locale/KLocale.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

namespace {

// One answered request. Immutable once published.
struct Answer {
  std::string bundle;
  std::string suffix;
  std::string directory;
  const KPropertyResourceBundle* result;
};

// Slots hold the most recent answer of their hash; a miss only costs the
// registry call. Answers are never freed (a reader may hold one), and all
// of them stay in gAnswers, which a new request reuses, so their number is
// bounded by the distinct requests of the process.
constexpr size_t kSlots = 64;
std::atomic<const Answer*> gSlots[kSlots];
KLock& AnswersLock() {
  static KLock* lock = new KLock(KLock::kCriticalSection);
  return *lock;
}
std::vector<std::unique_ptr<Answer>>* gAnswers = nullptr;  // guarded by AnswersLock()

size_t SlotOf(std::string_view bundle, std::string_view suffix) {
  size_t h = 2166136261u;
  for (char c : bundle) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  for (char c : suffix) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h % kSlots;
}

bool Matches(const Answer* a, std::string_view bundle, std::string_view suffix,
             std::string_view directory) {
  return a != nullptr && a->bundle == bundle && a->suffix == suffix && a->directory == directory;
}

const KPropertyResourceBundle* FindBundle(const char* bundle, const char* directory) {
  const KLocale& locale = KLocale::CurrentLocale();
  const KString suffixText = locale.ResourceSuffix();
  const std::string_view suffix(suffixText, suffixText.Length());
  const size_t slot = SlotOf(bundle, suffix);
  // Above debug level 3 every request reports that it shares a bundle, so
  // the registry has to see each one.
  const bool quiet = KIntl::Debug() <= 3;
  if (quiet) {
    const Answer* a = gSlots[slot].load(std::memory_order_acquire);
    if (Matches(a, bundle, suffix, directory) && vxk_internal::BundleRegistryLive())
      return a->result;
  }
  const KPropertyResourceBundle* result =
      KPropertyResourceBundle::GetResourceBundle(bundle, locale, directory);

  KLockGuard guard(AnswersLock());
  if (gAnswers == nullptr) gAnswers = new std::vector<std::unique_ptr<Answer>>();
  const Answer* known = nullptr;
  for (const auto& a : *gAnswers)
    if (Matches(a.get(), bundle, suffix, directory)) known = a.get();
  if (known == nullptr) {
    gAnswers->push_back(std::make_unique<Answer>(
        Answer{bundle, std::string(suffix), directory, result}));
    known = gAnswers->back().get();
  }
  gSlots[slot].store(known, std::memory_order_release);
  return result;
}

vxk_internal::ErrBundleResult LookUp(const char* bundle, const char* directory, const char* key,
                                     std::string* text) {
  const KPropertyResourceBundle* b = FindBundle(bundle, directory != nullptr ? directory : "");
  if (b == nullptr) return vxk_internal::ErrBundleResult::kNoBundle;
  KString value;
  if (!b->GetString(key, value)) return vxk_internal::ErrBundleResult::kNoKey;
  text->assign(value, value.Length());
  return vxk_internal::ErrBundleResult::kFound;
}

// Installs the lookup at load time and removes it at exit, before the
// registry (defined in another file) may be gone.
struct Installer {
  Installer() { vxk_internal::ErrSetBundleLookup(&LookUp); }
  ~Installer() { vxk_internal::ErrSetBundleLookup(nullptr); }
} gInstaller;

}  // namespace
