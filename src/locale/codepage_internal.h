// The code pages the text functions follow in each text mode, and the lead
// bytes of the double-byte code pages.
//
// ActiveCodePage() is what the operating system would call the active ANSI
// code page: 65001 when the encoding is UTF-8, else 932 when the language is
// Japanese, 949 when it is Korean, 1252 otherwise. DbcsCodePage() is the code
// page that double-byte processing (multi-byte on, encoding not UTF-8) splits
// characters by: 949 when the language is Korean, else 932, so a multi-byte
// flag set without a language still has lead bytes to work with.
#ifndef VXKERNEL_LOCALE_CODEPAGE_INTERNAL_H_
#define VXKERNEL_LOCALE_CODEPAGE_INTERNAL_H_

#include <cstdint>

#include "locale/intl_internal.h"

namespace vxk_internal {

constexpr unsigned kCodePageShiftJis = 932;
constexpr unsigned kCodePageGbk = 936;
constexpr unsigned kCodePageHangul = 949;
constexpr unsigned kCodePageBig5 = 950;
constexpr unsigned kCodePageLatin1 = 1252;
constexpr unsigned kCodePageUtf8 = 65001;

// The language bits of the settings word (KIntl::kLanguage values).
constexpr uint32_t kIntlLanguageJapanese = 1;
constexpr uint32_t kIntlLanguageKorean = 2;

inline unsigned ActiveCodePage() {
  uint32_t w = IntlSettingsWord();
  if (w & kIntlUtf8Bit) return kCodePageUtf8;
  switch (w & kIntlLanguageMask) {
    case kIntlLanguageJapanese:
      return kCodePageShiftJis;
    case kIntlLanguageKorean:
      return kCodePageHangul;
    default:
      return kCodePageLatin1;
  }
}

inline unsigned DbcsCodePage() {
  return (IntlSettingsWord() & kIntlLanguageMask) == kIntlLanguageKorean ? kCodePageHangul
                                                                         : kCodePageShiftJis;
}

// True when b starts a two-byte character in code page cp: 932 uses
// 0x81-0x9F and 0xE0-0xFC (0xA1-0xDF are single-byte katakana); 936, 949 and
// 950 use 0x81-0xFE. Every other code page has no lead bytes.
constexpr bool IsDBCSLeadByte(unsigned cp, unsigned char b) {
  switch (cp) {
    case kCodePageShiftJis:
      return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case kCodePageGbk:
    case kCodePageHangul:
    case kCodePageBig5:
      return b >= 0x81 && b <= 0xFE;
    default:
      return false;
  }
}

}  // namespace vxk_internal

#endif  // VXKERNEL_LOCALE_CODEPAGE_INTERNAL_H_
