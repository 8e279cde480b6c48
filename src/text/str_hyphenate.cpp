// Line breaking: str_hyphenate cuts one output line from a text.
#include "vxkernel/text/str.h"

#include <cstring>

#include "text/text_walk.h"

namespace {

using vxk_internal::TextEnv;

inline bool IsVowel(unsigned char c) {
  switch (c) {
    case 'A':
    case 'E':
    case 'I':
    case 'O':
    case 'U':
    case 'a':
    case 'e':
    case 'i':
    case 'o':
    case 'u':
      return true;
    default:
      return false;
  }
}

// The bytes of the next character for line growth: a pair in double-byte
// mode, a whole sequence in UTF-8 mode (a line never ends inside one).
inline size_t StepBytes(const TextEnv& e, const unsigned char* p) {
  if (e.Utf8()) return vxk_internal::Utf8SequenceBytes(p);
  return vxk_internal::UnitBytes(e, p);
}

}  // namespace

const char* str_hyphenate(const char* src, char* dst, long dstSize, long maxWidth,
                          str_width_fn widthFn, void* ctx, long maxChars) {
  if (dst != nullptr && dstSize > 0) *dst = '\0';
  if (src == nullptr) return nullptr;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  const bool multiByteMode = e.fMode != vxk_internal::TextMode::kSingleByte;
  if (maxChars == 0) maxChars = maxWidth;

  const auto* text = reinterpret_cast<const unsigned char*>(src);
  while (*text == ' ') ++text;
  if (*text == 0) return nullptr;

  auto measure = [&](size_t bytes) -> long {
    if (widthFn == nullptr) return static_cast<long>(bytes);
    return widthFn(ctx, reinterpret_cast<const char*>(text), static_cast<long>(bytes));
  };

  // 1. Grow the line while it fits.
  size_t len = 0;
  long chars = 0;
  bool atLineFeed = false;
  while (text[len] != 0) {
    if (text[len] == '\n') {
      atLineFeed = true;
      break;
    }
    const size_t k = StepBytes(e, text + len);
    const long width = measure(len + k);
    const long counted = multiByteMode ? chars + 1 : width;
    // The first character is always taken, so every call makes progress.
    if (len > 0 && (width > maxWidth || counted > maxChars)) break;
    len += k;
    ++chars;
  }

  size_t lineEnd = len;    // bytes of text that go to dst
  size_t restStart = len;  // where the next line starts
  bool hyphen = false;
  if (atLineFeed) {
    restStart = len + 1;
  } else if (text[len] != 0) {
    // 2. Stopped inside the text: break at the last space or hyphen inside
    // the line (not its first character, so every line makes progress).
    size_t cut = 0;
    for (size_t i = 0; i < len; i += StepBytes(e, text + i)) {
      const unsigned char c = text[i];
      const bool single = StepBytes(e, text + i) == 1;
      if (single && (c == ' ' || c == '-' || c == '\n') && i > 0) cut = i;
    }
    if (cut > 0) {
      lineEnd = restStart = cut;
    } else if (!vxk_internal::JapaneseLanguage()) {
      // 3. One long word: cut after its last vowel and add a hyphen.
      size_t vowelEnd = 0;
      for (size_t i = 0; i < len; i += StepBytes(e, text + i)) {
        if (StepBytes(e, text + i) == 1 && IsVowel(text[i])) vowelEnd = i + 1;
      }
      if (vowelEnd > 0) lineEnd = restStart = vowelEnd;
      hyphen = true;
    }
  }

  if (dst != nullptr && dstSize > 0) {
    const size_t room = static_cast<size_t>(dstSize - 1);
    size_t n = 0;
    while (n < lineEnd) {  // whole characters only
      const size_t k = StepBytes(e, text + n);
      if (n + k > room) break;
      n += k;
    }
    std::memcpy(dst, text, n);
    dst[n] = '\0';
    str_trim(dst);
    if (hyphen) {
      const size_t m = std::strlen(dst);
      if (m < room) {
        dst[m] = '-';
        dst[m + 1] = '\0';
      }
    }
  }
  return reinterpret_cast<const char*>(text + restStart);
}
