// Building blocks of the escapes: a byte escaper that measures and writes
// a block of bytes at a time, the percent-pair decoding, and strings whose bytes
// are written in place before anyone else sees them. Private to src/web.
#ifndef VXKERNEL_WEB_ESCAPE_INTERNAL_H_
#define VXKERNEL_WEB_ESCAPE_INTERNAL_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/byte_scan.h"
#include "base/debug_line.h"
#include "vxkernel/text/KString.h"

namespace vxk_internal {

// One special byte and the text (1 to 8 bytes) that replaces it.
struct ByteReplacement {
  unsigned char fByte;
  const char* fText;
};

// Replaces each of N special bytes by its text, finding them with Scan (the
// tests pass each implementation). Texts are stored padded to 8 bytes so
// that one fixed-size copy writes any of them. Constant after
// construction; share it freely between threads.
template <int N, class Scan = ByteScan>
class ByteEscaper {
 public:
  explicit ByteEscaper(const ByteReplacement* entries) {
    for (unsigned char& s : fSlot) s = 0;
    unsigned char bytes[N];
    unsigned char growth[N];
    for (int i = 0; i < N; ++i) {
      const unsigned char c = entries[i].fByte;
      fLen[i] = static_cast<unsigned char>(std::strlen(entries[i].fText));
      std::memset(fText[i], 0, sizeof fText[i]);
      std::memcpy(fText[i], entries[i].fText, fLen[i]);
      if (fSlot[c] == 0) fSlot[c] = static_cast<unsigned char>(i + 1);
      bytes[i] = c;
      growth[i] = static_cast<unsigned char>(fLen[i] - 1);
    }
    fSpecial = typename Scan::template Set<N>(bytes, growth);
  }

  bool Contains(unsigned char c) const { return fSlot[c] != 0; }
  std::string_view Replacement(unsigned char c) const {
    const int i = fSlot[c] - 1;
    return std::string_view(fText[i], fLen[i]);
  }

  // How many bytes longer [p, end) becomes when escaped.
  size_t Growth(const char* p, const char* end) const { return fSpecial.Weigh(p, end); }

  // Where Write stopped: the first byte not escaped and the end of the
  // output so far.
  struct Progress {
    const char* fIn;
    char* fOut;
  };

  // Writes the escaped [p, end) at out, as far as it fits before limit
  // (fIn == end when all of it did). It may scribble up to a block
  // (Scan::kWidth bytes) past what it wrote, but never at or beyond limit.
  Progress Write(const char* p, const char* end, char* out, const char* limit) const {
    constexpr int kWidth = static_cast<int>(Scan::kWidth);
    // Each round stores a whole block; at each special byte it writes the
    // replacement and stores the rest of the block again behind it. The
    // next block's position never waits for this one's specials. A round
    // reads up to two blocks and writes up to 8 bytes for each byte of its
    // block and one block more.
    while (end - p >= 2 * kWidth && limit - out >= kWidth * 8 + 2 * kWidth) {
      uint32_t bits = fSpecial.Match(p);
      std::memcpy(out, p, kWidth);
      int done = 0;  // bytes of the block already accounted for
      while (bits != 0) {
        const int k = std::countr_zero(bits);
        out += k - done;
        const int i = fSlot[static_cast<unsigned char>(p[k])] - 1;
        std::memcpy(out, fText[i], 8);
        out += fLen[i];
        done = k + 1;
        std::memcpy(out, p + done, kWidth);
        bits &= bits - 1;
      }
      out += kWidth - done;
      p += kWidth;
    }
    for (; p < end; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (fSlot[c] == 0) {
        if (out == limit) break;
        *out++ = static_cast<char>(c);
      } else {
        const int i = fSlot[c] - 1;
        if (limit - out < fLen[i]) break;
        std::memcpy(out, fText[i], fLen[i]);
        out += fLen[i];
      }
    }
    return Progress{p, out};
  }

 private:
  unsigned char fSlot[256];  // 1 + index of the byte's entry; 0 when plain
  char fText[N][8];
  unsigned char fLen[N];
  typename Scan::template Set<N> fSpecial;  // the special bytes, weighing their growth
};

// The byte that "%" c1 c2 stands for, in KWebEscape::Unescape and in
// request arguments alike: a character whose code (an unsigned byte) is 'A'
// or above gives (code AND 0xDF) - 55, one below gives code - '0', and the
// byte is high * 16 + low modulo 256. Nothing is validated.
inline unsigned char PercentPairByte(unsigned char c1, unsigned char c2) {
  const auto nibble = [](unsigned char c) { return c >= 'A' ? (c & 0xDF) - 55 : c - '0'; };
  return static_cast<unsigned char>(nibble(c1) * 16 + nibble(c2));
}

// A new string of exactly n bytes (terminated), whose bytes the caller
// writes through *text before anyone else sees the string; *limit is the
// end of the buffer, which may be written up to before the terminator is
// set. n == 0 gives the empty string and null pointers.
inline KString NewStringOfLength(size_t n, char** text, const char** limit = nullptr) {
  if (n == 0) {
    *text = nullptr;
    if (limit != nullptr) *limit = nullptr;
    return KString();
  }
  KString::KStringRef* r = KString::KStringRef::Create(static_cast<uint32_t>(n));
  *text = r->fText;
  if (limit != nullptr) *limit = r->fText + r->fCapacity;
  r->fText[n] = '\0';
  KString s = KString::Sharing(r);
  KString::ReleaseHost(r);  // Create's own hold: s is the only holder now
  return s;
}

// Sets the length of a string made by NewStringOfLength to n and
// terminates it there. REQUIRES: s is the only holder; n <= its capacity.
inline void SetNewStringLength(KString& s, size_t n) {
  if (n == 0) {
    s = KString();
    return;
  }
  auto* r = const_cast<KString::KStringRef*>(s.Ref());
  r->fLength = static_cast<uint32_t>(n);
  r->fText[n] = '\0';
}

// Whether a result of n bytes fits in a KString; when not, writes the
// failure line of operation.
inline bool ResultFits(size_t n, const char* operation) {
  if (n < 0xFFFFFF00u) return true;
  DebugLine(operation, "result longer than a string can hold: ", n, " bytes");
  return false;
}

}  // namespace vxk_internal

#endif  // VXKERNEL_WEB_ESCAPE_INTERNAL_H_
