#include "vxkernel/locale/KLocale.h"

#include <cstring>

#include "base/run_reported.h"
#include "locale/locale_package.h"
#include "vxkernel/locale/KIntl.h"

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void AppendFolded(KString& out, const KString& s, char (*fold)(char)) {
  for (unsigned i = 0; i < s.Length(); ++i) out += fold(static_cast<const char*>(s)[i]);
}

bool EqualIgnoringAsciiCase(const char* a, const char* b) {
  for (; *a != '\0' && AsciiLower(*a) == AsciiLower(*b); ++a, ++b) {
  }
  return AsciiLower(*a) == AsciiLower(*b);
}

}  // namespace

KLocale::KLocale(const char* language, const char* country, const char* variant)
    : fLanguage(language), fCountry(country), fVariant(variant) {
  fSuffix = ComputeSuffix();
}

KLocale::KLocale(const char* suffix) { SetBySuffix(suffix); }

KLocale::KLocale(const KLocale& other) = default;
KLocale& KLocale::operator=(const KLocale& other) = default;
KLocale::~KLocale() = default;

void KLocale::Language(const char* language) {
  fLanguage = language;
  fSuffix = KString();
}

void KLocale::Country(const char* country) {
  fCountry = country;
  fSuffix = KString();
}

void KLocale::Variant(const char* variant) {
  fVariant = variant;
  fSuffix = KString();
}

KString KLocale::ComputeSuffix() const {
  KString s;
  if (fLanguage.Length() == 0) return s;
  s += '_';
  AppendFolded(s, fLanguage, AsciiLower);
  if (fCountry.Length() != 0) {
    s += '_';
    AppendFolded(s, fCountry, AsciiUpper);
    if (fVariant.Length() != 0) {
      s += '_';
      s += fVariant;
    }
  }
  return s;
}

KString KLocale::ResourceSuffix() const {
  return fSuffix.Length() != 0 ? fSuffix : ComputeSuffix();
}

void KLocale::SetBySuffix(const char* suffix) {
  if (suffix == nullptr) return;
  char sep = '_';
  if (std::strchr(suffix, '_') == nullptr && std::strchr(suffix, '-') != nullptr) sep = '-';
  while (*suffix == sep) ++suffix;
  if (*suffix == '\0') return;

  const char* end = std::strchr(suffix, sep);
  if (end == nullptr) end = suffix + std::strlen(suffix);
  KString language(suffix, static_cast<unsigned>(end - suffix));
  KString country;
  KString variant;
  if (*end == sep) {
    const char* c = end + 1;
    const char* cend = std::strchr(c, sep);
    if (cend == nullptr) {
      country = KString(c);
    } else {
      country = KString(c, static_cast<unsigned>(cend - c));
      variant = KString(cend + 1);
    }
  }
  fLanguage = language;
  fCountry = country;
  fVariant = variant;
  fSuffix = ComputeSuffix();
}

bool KLocale::Simplify() {
  KString* most = fVariant.Length() != 0    ? &fVariant
                  : fCountry.Length() != 0  ? &fCountry
                  : fLanguage.Length() != 0 ? &fLanguage
                                            : nullptr;
  if (most == nullptr) return false;
  *most = KString();
  fSuffix = KString();
  return true;
}

bool KLocale::operator==(const KLocale& other) const {
  return EqualIgnoringAsciiCase(ResourceSuffix(), other.ResourceSuffix());
}

// ===== Current locale =====

namespace {

// The locale of threads without one of their own. Created on first use and
// never destroyed, so a thread still running at process exit can use it.
const KLocale& SharedLocale() {
  static const KLocale* shared =
      new KLocale(static_cast<const char*>(KIntl::DefaultLocaleResourceSuffix()));
  return *shared;
}

}  // namespace

const KLocale& KLocale::CurrentLocale() {
  KLocaleGlobals* g = KLocaleInit::ThreadGlobals();
  return g != nullptr ? g->fLocale : SharedLocale();
}

void KLocale::CurrentLocale(const KLocale& locale) {
  KLocaleGlobals* g = KLocaleInit::ThreadGlobals();
  if (g != nullptr) g->fLocale = locale;
}

void KLocale::CurrentLocale(const char* language, const char* country, const char* variant) {
  CurrentLocale(KLocale(language, country, variant));
}

void KLocale::CurrentLocale(const char* suffix) { CurrentLocale(KLocale(suffix)); }

// ===== KLocaleInit =====

KLocaleInit* KLocaleInit::gInstance = nullptr;

KLocaleInit::KLocaleInit() : KThreadGlobals(16, 1) { gInstance = this; }

KLocaleInit::~KLocaleInit() {
  if (gInstance == this) gInstance = nullptr;
}

KLocaleGlobals* KLocaleInit::ThreadGlobals() {
  return gInstance != nullptr ? static_cast<KLocaleGlobals*>(gInstance->User1()) : nullptr;
}

void KLocaleInit::Init() {
  vxk_internal::RunReported("KLocaleInit::Init", [this] {
    KString suffix = KIntl::DefaultLocaleResourceSuffix();
    User1(new KLocaleGlobals(suffix));
  });
}

void KLocaleInit::Cleanup() {
  delete static_cast<KLocaleGlobals*>(User1());
  User1(nullptr);
}
