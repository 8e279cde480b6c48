#include "vxkernel/locale/KIntl.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/debug_line.h"
#include "locale/intl_internal.h"
#include "vxkernel/locale/KLocale.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

using vxk_internal::gIntlSettings;
using vxk_internal::kIntlCharSetMask;
using vxk_internal::kIntlCharSetShift;
using vxk_internal::kIntlLanguageMask;
using vxk_internal::kIntlMultiByteBit;
using vxk_internal::kIntlStringsBit;
using vxk_internal::kIntlUtf8Bit;

// The text functions read the language bits of the settings word without
// KIntl: the word's values are KIntl's.
static_assert(vxk_internal::kIntlLanguageJapanese == KIntl::kJapanese &&
              vxk_internal::kIntlLanguageKorean == KIntl::kKorean &&
              (KIntl::kUnicode & ~kIntlLanguageMask) == 0);

unsigned char KIntl::fCharTable[256];
unsigned char KIntl::fUpper[256];
unsigned char KIntl::fLower[256];

namespace {

std::atomic<int32_t> gDebugLevel{0};

// Replaces the bits of mask by value in one step, so concurrent setters of
// different settings never undo each other.
void StoreBits(uint32_t mask, uint32_t value) {
  uint32_t old = gIntlSettings.load(std::memory_order_relaxed);
  while (!gIntlSettings.compare_exchange_weak(old, (old & ~mask) | (value & mask),
                                              std::memory_order_relaxed)) {
  }
}

uint32_t Word() { return gIntlSettings.load(std::memory_order_relaxed); }

// The process-wide lock of the compound settings. Made on first use (magic
// static) and never destroyed, so a late caller at exit still finds it.
KLock& Monitor() {
  static KLock* monitor = new KLock(KLock::kCriticalSection);
  return *monitor;
}

// Made on first use, never destroyed.
KLocale& DefaultLocaleLocked() VXK_REQUIRES(Monitor()) {
  static KLocale* locale = new KLocale("en", "US", nullptr);
  return *locale;
}

// A copy that shares no representation with s: KString counts are not
// atomic, so text handed out of the lock must not share the guarded copy.
KString Detached(const KString& s) { return KString(static_cast<const char*>(s), s.Length()); }

}  // namespace

// ===== Language =====

KIntl::kLanguage KIntl::Language() { return static_cast<kLanguage>(Word() & kIntlLanguageMask); }
void KIntl::Language(kLanguage language) {
  StoreBits(kIntlLanguageMask, static_cast<uint32_t>(language));
}
bool KIntl::English() { return Language() == kEnglish; }
bool KIntl::Japanese() { return Language() == kJapanese; }
bool KIntl::Korean() { return Language() == kKorean; }
bool KIntl::Unicode() { return Language() == kUnicode; }

// ===== Encoding =====

KIntl::kEncoding KIntl::Encoding() { return (Word() & kIntlUtf8Bit) ? kUTF8 : kNotEncoded; }
void KIntl::Encoding(kEncoding encoding) {
  StoreBits(kIntlUtf8Bit, encoding == kUTF8 ? kIntlUtf8Bit : 0);
}
bool KIntl::NotEncoded() { return (Word() & kIntlUtf8Bit) == 0; }
bool KIntl::Utf8() { return (Word() & kIntlUtf8Bit) != 0; }

// ===== Flags =====

bool KIntl::MultiByte() { return (Word() & kIntlMultiByteBit) != 0; }
void KIntl::MultiByte(bool on) { StoreBits(kIntlMultiByteBit, on ? kIntlMultiByteBit : 0); }
bool KIntl::IntlStrings() { return (Word() & kIntlStringsBit) != 0; }
void KIntl::IntlStrings(bool on) { StoreBits(kIntlStringsBit, on ? kIntlStringsBit : 0); }

// ===== Font character set =====

unsigned char KIntl::FontCharSet() {
  return static_cast<unsigned char>((Word() & kIntlCharSetMask) >> kIntlCharSetShift);
}
void KIntl::FontCharSet(unsigned char charSet) {
  StoreBits(kIntlCharSetMask, static_cast<uint32_t>(charSet) << kIntlCharSetShift);
}

// ===== Default locale =====

void KIntl::DefaultLocale(const char* language, const char* country, const char* variant) {
  KLockGuard guard(Monitor());
  // Made inside the lock: the guarded locale shares representations with
  // `replacement`, whose release must not race with a reader's copy.
  KLocale replacement(language, country, variant);
  DefaultLocaleLocked() = replacement;
}

void KIntl::DefaultLocale(const char* suffix) {
  KLockGuard guard(Monitor());
  DefaultLocaleLocked().SetBySuffix(suffix);
}

KString KIntl::DefaultLocaleResourceSuffix() {
  KLockGuard guard(Monitor());
  return Detached(DefaultLocaleLocked().ResourceSuffix());
}

int32_t KIntl::Debug() { return gDebugLevel.load(std::memory_order_relaxed); }

KString KIntl::FixHighBitString(const KString& s) { return s; }

// ===== Start-up =====

namespace vxk_internal {

namespace {

constexpr int kPrimaryJapanese = 0x11;
constexpr int kPrimaryKorean = 0x12;
constexpr int kPrimaryEnglish = 0x09;

bool EqualsIgnoringAsciiCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Values are read into a 255-byte buffer by the configuration reader.
std::string Clip(const std::string& s) { return s.size() > 255 ? s.substr(0, 255) : s; }

// The primary language the environment asks for, by the POSIX precedence of
// the message-language variables: the first non-empty of LC_ALL,
// LC_MESSAGES and LANG. "ja..." is Japanese and "ko..." Korean; anything
// else, including no setting at all, is English.
int SystemPrimaryLanguage() {
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  for (const char* name : names) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') continue;
    if (std::strncmp(v, "ja", 2) == 0) return kPrimaryJapanese;
    if (std::strncmp(v, "ko", 2) == 0) return kPrimaryKorean;
    return kPrimaryEnglish;
  }
  return kPrimaryEnglish;
}

struct LangSettings {
  bool languageDecided = false;  // language and character set are to be stored
  KIntl::kLanguage language = KIntl::kEnglish;
  unsigned char charSet = KIntl::kDefaultCharSet;
  bool multiByte = false;
  KIntl::kEncoding encoding = KIntl::kNotEncoded;
  bool intlStrings = false;
};

void AsianLanguage(LangSettings& s, KIntl::kLanguage language, unsigned char charSet) {
  s.languageDecided = true;
  s.language = language;
  s.charSet = charSet;
  s.multiByte = true;
  s.encoding = KIntl::kNotEncoded;
  s.intlStrings = true;
}

void FillTables() {
  for (int c = 0; c < 256; ++c) {
    KIntl::fCharTable[c] = static_cast<unsigned char>(c);
    KIntl::fUpper[c] = static_cast<unsigned char>(std::toupper(c));
    KIntl::fLower[c] = static_cast<unsigned char>(std::tolower(c));
  }
}

}  // namespace

void IntlSysInitializeWithLanguage(const IntlLangPrefs* prefs, int primaryLanguage) {
  LangSettings s;
  bool detect = true;
  if (prefs != nullptr) {
    if (prefs->language) {
      std::string v = Clip(*prefs->language);
      DebugText("KIntl::SysInitialize - language = ", v);
      if (v == "Japanese") {
        AsianLanguage(s, KIntl::kJapanese, KIntl::kShiftJisCharSet);
        detect = false;
      } else if (v == "Korean") {
        AsianLanguage(s, KIntl::kKorean, KIntl::kHangulCharSet);
        detect = false;
      }
    }
    if (prefs->intlStrings) {
      s.intlStrings = EqualsIgnoringAsciiCase(Clip(*prefs->intlStrings), "TRUE");
      detect = false;
    }
    if (prefs->multiByte) {
      s.multiByte = EqualsIgnoringAsciiCase(Clip(*prefs->multiByte), "TRUE");
      detect = false;
    }
    if (prefs->encoding) {
      std::string v = Clip(*prefs->encoding);
      s.encoding = (EqualsIgnoringAsciiCase(v, "UTF8") || EqualsIgnoringAsciiCase(v, "UTF-8"))
                       ? KIntl::kUTF8
                       : KIntl::kNotEncoded;
      detect = false;
    }
  }

  if (detect) {
    switch (primaryLanguage & 0x3FF) {
      case kPrimaryJapanese:
        AsianLanguage(s, KIntl::kJapanese, KIntl::kShiftJisCharSet);
        DebugText("KIntl::SysInitialize - native language = Japanese");
        break;
      case kPrimaryKorean:
        AsianLanguage(s, KIntl::kKorean, KIntl::kHangulCharSet);
        DebugText("KIntl::SysInitialize - native language = Korean");
        break;
      default:
        s = LangSettings();
        s.languageDecided = true;
        DebugText("KIntl::SysInitialize - default native language = English");
        break;
    }
  }

  DebugText("KIntl::SysInitialize - MultiByte set to ", s.multiByte ? "TRUE" : "FALSE");
  DebugText("KIntl::SysInitialize - Encoding set to ", static_cast<int>(s.encoding));
  DebugText("KIntl::SysInitialize - IntlStrings set to ", s.intlStrings ? "TRUE" : "FALSE");

  // Language and character set change only where a language was decided
  // (a known VX_LANGUAGE or the system's language); the three flags are
  // always stored.
  if (s.languageDecided) {
    KIntl::Language(s.language);
    KIntl::FontCharSet(s.charSet);
  }
  KIntl::MultiByte(s.multiByte);
  KIntl::Encoding(s.encoding);
  KIntl::IntlStrings(s.intlStrings);
  FillTables();
}

void IntlSysInitialize(const IntlLangPrefs* prefs) {
  IntlSysInitializeWithLanguage(prefs, SystemPrimaryLanguage());
}

void IntlSetDebugLevel(int32_t level) { gDebugLevel.store(level, std::memory_order_relaxed); }

void IntlResetForTesting() {
  gIntlSettings.store(0, std::memory_order_relaxed);
  gDebugLevel.store(0, std::memory_order_relaxed);
  KIntl::DefaultLocale("en", "US", nullptr);
  std::memset(KIntl::fCharTable, 0, sizeof KIntl::fCharTable);
  std::memset(KIntl::fUpper, 0, sizeof KIntl::fUpper);
  std::memset(KIntl::fLower, 0, sizeof KIntl::fLower);
}

}  // namespace vxk_internal
