// Private helpers of the str_ function module.
#ifndef VXKERNEL_TEXT_STR_INTERNAL_H_
#define VXKERNEL_TEXT_STR_INTERNAL_H_

namespace vxk_internal {

// How the process encodes text. Character-walking code branches on it.
enum class TextMode {
  kSingleByte,  // one byte, one character
  kUtf8,        // byte order already equals code point order
  kDoubleByte,  // Shift-JIS or Hangul code page: lead byte + trail byte
};

// THE place where the str_ functions learn the process's text mode. It will
// read the internationalisation settings (multi-byte flag and encoding) once
// they exist; until then every process runs single-byte. Kept inline so the
// comparison fast path costs nothing while the answer is a constant.
inline TextMode CurrentTextMode() { return TextMode::kSingleByte; }

}  // namespace vxk_internal

#endif  // VXKERNEL_TEXT_STR_INTERNAL_H_
