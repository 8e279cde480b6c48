// Private view of the KIntl settings: the start-up logic that derives the
// settings from configuration values or the system language. The settings
// word itself is in text/text_settings.h.
#ifndef VXKERNEL_LOCALE_INTL_INTERNAL_H_
#define VXKERNEL_LOCALE_INTL_INTERNAL_H_

#include <cstdint>
#include <optional>
#include <string>

#include "text/text_settings.h"

namespace vxk_internal {

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
void IntlSysInitialize(const IntlLangPrefs* prefs);

// As above with an explicit primary language identifier instead of the
// system's (0x11 Japanese, 0x12 Korean); tests use it to play other systems.
void IntlSysInitializeWithLanguage(const IntlLangPrefs* prefs, int primaryLanguage);

// Stores the debug level KIntl::Debug() reports.
void IntlSetDebugLevel(int32_t level);

// Puts every setting, the default locale and the tables back to their
// process-start values. For tests.
void IntlResetForTesting();

}  // namespace vxk_internal

#endif  // VXKERNEL_LOCALE_INTL_INTERNAL_H_
