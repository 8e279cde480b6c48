// The process's text settings as the text functions read them: the packed
// settings word of KIntl, the text mode derived from it, and the code pages
// and lead bytes of each mode.
//
// The word lives here, below the locale subsystem whose KIntl sets it,
// because every text function reads it on every call; KIntl owns its
// meaning and is its only writer. Shared with the layers above (locale,
// values); not installed.
#ifndef VXKERNEL_TEXT_TEXT_SETTINGS_H_
#define VXKERNEL_TEXT_TEXT_SETTINGS_H_

#include <atomic>
#include <cstdint>

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

// The language bits of the settings word (KIntl::kLanguage values).
constexpr uint32_t kIntlLanguageJapanese = 1;
constexpr uint32_t kIntlLanguageKorean = 2;

extern std::atomic<uint32_t> gIntlSettings;

// One relaxed load: the settings carry no data that other memory depends on.
inline uint32_t IntlSettingsWord() { return gIntlSettings.load(std::memory_order_relaxed); }

// KIntl::IntlStrings() and KIntl::Japanese(), for the text functions.
inline bool IntlStringsOn() { return (IntlSettingsWord() & kIntlStringsBit) != 0; }
inline bool JapaneseLanguage() {
  return (IntlSettingsWord() & kIntlLanguageMask) == kIntlLanguageJapanese;
}

// ===== Text mode =====

// How the process encodes text. Character-walking code branches on it.
enum class TextMode {
  kSingleByte,  // one byte, one character
  kUtf8,        // byte order already equals code point order
  kDoubleByte,  // Shift-JIS or Hangul code page: lead byte + trail byte
};

// THE place where the str_ functions learn the process's text mode: UTF-8
// whenever the encoding is UTF-8, else double-byte when the multi-byte flag is
// set, else single-byte. One relaxed load of the settings word, inline,
// because every text function asks on every call.
inline TextMode CurrentTextMode() {
  uint32_t w = IntlSettingsWord();
  if (w & kIntlUtf8Bit) return TextMode::kUtf8;
  return (w & kIntlMultiByteBit) ? TextMode::kDoubleByte : TextMode::kSingleByte;
}

// ===== Code pages =====
// ActiveCodePage() is what the operating system would call the active ANSI
// code page: 65001 when the encoding is UTF-8, else 932 when the language is
// Japanese, 949 when it is Korean, 1252 otherwise. DbcsCodePage() is the code
// page that double-byte processing (multi-byte on, encoding not UTF-8) splits
// characters by: 949 when the language is Korean, else 932, so a multi-byte
// flag set without a language still has lead bytes to work with.

constexpr unsigned kCodePageShiftJis = 932;
constexpr unsigned kCodePageGbk = 936;
constexpr unsigned kCodePageHangul = 949;
constexpr unsigned kCodePageBig5 = 950;
constexpr unsigned kCodePageLatin1 = 1252;
constexpr unsigned kCodePageUtf8 = 65001;

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

#endif  // VXKERNEL_TEXT_TEXT_SETTINGS_H_
