// The error catalogue's bundle lookup, installed into the runtime when the
// library is loaded.
//
// Every catalogue message asks for the bundle of (catalogue, current
// locale, catalogue directory) and a key in its chain. GetResourceBundle
// answers under the process-wide registry lock after building the request
// path, and the key lookup copies the text out of a locked table. Neither
// answer can change once given: requests are cached for the life of the
// process (null ones included) and a bundle never reloads. So each answer
// is also kept in a lock-free table that the common case reads.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "runtime/err_bundle_lookup.h"
#include "vxkernel/bundles/KPropertyResourceBundle.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/locale/KLocale.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

namespace {

// One answered lookup. Immutable once published.
struct Answer {
  std::string bundle;
  std::string key;
  std::string suffix;
  std::string directory;
  vxk_internal::ErrBundleResult result;
  std::string text;
};

// An answer sits in one of kProbe slots from its hash (the first free one,
// else the first); a miss costs the full lookup. Answers are never freed (a
// reader may hold one) and all stay in gAnswers, which a repeated miss
// reuses. Past kMaxAnswers distinct lookups
// (a caller inventing codes) new ones are answered but not kept.
constexpr size_t kSlots = 4096;
constexpr size_t kProbe = 4;
constexpr size_t kMaxAnswers = 1 << 16;
std::atomic<const Answer*> gSlots[kSlots];
KLock& AnswersLock() {
  static KLock* lock = new KLock(KLock::kCriticalSection);
  return *lock;
}
// Keyed by the four texts joined with NULs.
std::unordered_map<std::string, std::unique_ptr<Answer>>* gAnswers VXK_GUARDED_BY(AnswersLock()) = nullptr;

// The key spreads the slots; the suffix only needs to keep two locales of
// one key apart, so its length and last byte are enough.
size_t SlotOf(std::string_view key, std::string_view suffix) {
  size_t h = std::hash<std::string_view>{}(key);
  if (!suffix.empty()) h ^= (suffix.size() << 8) ^ static_cast<unsigned char>(suffix.back());
  return h % kSlots;
}

vxk_internal::ErrBundleResult CopyOut(const Answer& a, char* text, size_t size, size_t* length) {
  if (a.result == vxk_internal::ErrBundleResult::kFound && size != 0) {
    const size_t n = std::min(a.text.size(), size - 1);
    std::memcpy(text, a.text.data(), n);
    text[n] = '\0';
    *length = n;
  }
  return a.result;
}

Answer Ask(std::string_view bundle, const KLocale& locale, std::string_view directory,
           std::string_view key) {
  Answer a{std::string(bundle),
           std::string(key),
           {},
           std::string(directory),
           vxk_internal::ErrBundleResult::kNoBundle,
           {}};
  const KPropertyResourceBundle* b =
      KPropertyResourceBundle::GetResourceBundle(a.bundle.c_str(), locale, a.directory.c_str());
  if (b == nullptr) return a;
  KString value;
  a.result = vxk_internal::ErrBundleResult::kNoKey;
  if (!b->GetString(a.key.c_str(), value)) return a;
  a.result = vxk_internal::ErrBundleResult::kFound;
  a.text.assign(value, value.Length());
  return a;
}

vxk_internal::ErrBundleResult LookUp(std::string_view bundle, std::string_view dir,
                                     std::string_view key, char* text, size_t size,
                                     size_t* length) {
  const KLocale& locale = KLocale::CurrentLocale();
  const KString suffixText = locale.ResourceSuffix();
  const std::string_view suffix(suffixText, suffixText.Length());
  const size_t slot = SlotOf(key, suffix);
  // Above debug level 3 every request reports that it shares a bundle, so
  // the registry has to see each one.
  if (KIntl::Debug() > 3) return CopyOut(Ask(bundle, locale, dir, key), text, size, length);
  for (size_t i = 0; i < kProbe; ++i) {
    const Answer* a = gSlots[(slot + i) % kSlots].load(std::memory_order_acquire);
    if (a == nullptr) break;
    if (a->key == key && a->suffix == suffix && a->bundle == bundle && a->directory == dir)
      return CopyOut(*a, text, size, length);
  }

  auto fresh = std::make_unique<Answer>(Ask(bundle, locale, dir, key));
  fresh->suffix = suffix;
  const vxk_internal::ErrBundleResult result = CopyOut(*fresh, text, size, length);
  std::string id =
      fresh->bundle + '\0' + fresh->key + '\0' + fresh->suffix + '\0' + fresh->directory;
  KLockGuard guard(AnswersLock());
  if (gAnswers == nullptr)
    gAnswers = new std::unordered_map<std::string, std::unique_ptr<Answer>>();
  auto it = gAnswers->find(id);
  if (it == gAnswers->end()) {
    if (gAnswers->size() >= kMaxAnswers) return result;
    it = gAnswers->emplace(std::move(id), std::move(fresh)).first;
  }
  size_t free = slot;
  for (size_t i = 0; i < kProbe; ++i) {
    if (gSlots[(slot + i) % kSlots].load(std::memory_order_relaxed) == nullptr) {
      free = (slot + i) % kSlots;
      break;
    }
  }
  gSlots[free].store(it->second.get(), std::memory_order_release);
  return result;
}

// Installs the lookup at load time and removes it at exit.
struct Installer {
  Installer() { vxk_internal::ErrSetBundleLookup(&LookUp); }
  ~Installer() { vxk_internal::ErrSetBundleLookup(nullptr); }
} gInstaller;

}  // namespace
