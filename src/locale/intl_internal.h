// Private view of the KIntl settings: the packed settings word that the text
// functions read without a call, and the start-up logic that derives the
// settings from configuration values or the system language.
#ifndef VXKERNEL_LOCALE_INTL_INTERNAL_H_
#define VXKERNEL_LOCALE_INTL_INTERNAL_H_

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "vxkernel/export.h"

namespace vxk_internal {

// ===== The settings word =====
// Every scalar KIntl setting shares one atomic word, so a getter is one load
// and a reader never sees the multi-byte flag of one setter with the
// encoding of another half-applied.
//   bits 0-1  language (KIntl::kLanguage)
//   bit  2    encoding is UTF-8
//   bit  3    multi-byte
//   bit  4    international strings
//   bits 8-15 font character set
constexpr uint32_t kIntlLanguageMask = 0x3;
constexpr uint32_t kIntlUtf8Bit = 0x4;
constexpr uint32_t kIntlMultiByteBit = 0x8;
constexpr uint32_t kIntlStringsBit = 0x10;
constexpr int kIntlCharSetShift = 8;
constexpr uint32_t kIntlCharSetMask = 0xFFu << kIntlCharSetShift;

VXKERNEL_EXPORT extern std::atomic<uint32_t> gIntlSettings;

// One relaxed load: the settings carry no data that other memory depends on.
inline uint32_t IntlSettingsWord() { return gIntlSettings.load(std::memory_order_relaxed); }

// ===== Start-up =====

// The Lang-section values SysInitialize reads; an absent key is nullopt.
struct IntlLangPrefs {
  std::optional<std::string> language;     // VX_LANGUAGE
  std::optional<std::string> intlStrings;  // VX_INTLSTRINGS
  std::optional<std::string> multiByte;    // VX_MULTIBYTE
  std::optional<std::string> encoding;     // VX_ENCODING
};

// Sets language, font character set, multi-byte, encoding and international
// strings from prefs (null: no preferences), falling back to the system's
// primary language when no key decides, writes the report lines to the debug
// stream and fills KIntl's character tables from the current C library
// locale. Not atomic as a whole: meant to run before other threads read the
// settings.
VXKERNEL_EXPORT void IntlSysInitialize(const IntlLangPrefs* prefs);

// As above with an explicit primary language identifier instead of the
// system's (0x11 Japanese, 0x12 Korean); tests use it to play other systems.
VXKERNEL_EXPORT void IntlSysInitializeWithLanguage(const IntlLangPrefs* prefs, int primaryLanguage);

// Stores the debug level KIntl::Debug() reports.
VXKERNEL_EXPORT void IntlSetDebugLevel(int32_t level);

// Puts every setting, the default locale and the tables back to their
// process-start values. For tests.
VXKERNEL_EXPORT void IntlResetForTesting();

}  // namespace vxk_internal

#endif  // VXKERNEL_LOCALE_INTL_INTERNAL_H_
