// Private helpers of the str_ function module.
#ifndef VXKERNEL_TEXT_STR_INTERNAL_H_
#define VXKERNEL_TEXT_STR_INTERNAL_H_

#include <cstdint>

#include "locale/intl_internal.h"

namespace vxk_internal {

// How the process encodes text. Character-walking code branches on it.
enum class TextMode {
  kSingleByte,  // one byte, one character
  kUtf8,        // byte order already equals code point order
  kDoubleByte,  // Shift-JIS or Hangul code page: lead byte + trail byte
};

// THE place where the str_ functions learn the process's text mode: UTF-8
// whenever the encoding is UTF-8, else double-byte when the multi-byte flag is
// set, else single-byte. One relaxed load of the KIntl settings word, inline,
// because every text function asks on every call.
inline TextMode CurrentTextMode() {
  uint32_t w = IntlSettingsWord();
  if (w & kIntlUtf8Bit) return TextMode::kUtf8;
  return (w & kIntlMultiByteBit) ? TextMode::kDoubleByte : TextMode::kSingleByte;
}

}  // namespace vxk_internal

#endif  // VXKERNEL_TEXT_STR_INTERNAL_H_
