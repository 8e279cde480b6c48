// Building blocks of the escapes: a byte escaper that measures and writes
// 16 bytes at a time, the percent-pair decoding, and strings whose bytes
// are written in place before anyone else sees them. Private to src/web.
#ifndef VXKERNEL_WEB_ESCAPE_INTERNAL_H_
#define VXKERNEL_WEB_ESCAPE_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/debug_line.h"
#include "vxkernel/text/KString.h"

namespace vxk_internal {

// One special byte and the text (1 to 8 bytes) that replaces it.
struct ByteReplacement {
  unsigned char fByte;
  const char* fText;
};

// Replaces each of N special bytes by its text. Texts are stored padded to
// 8 bytes so that one fixed-size copy writes any of them. Constant after
// construction; share it freely between threads.
template <int N>
class ByteEscaper {
 public:
  explicit ByteEscaper(const ByteReplacement* entries) {
    for (unsigned char& s : fSlot) s = 0;
    for (int i = 0; i < N; ++i) {
      const unsigned char c = entries[i].fByte;
      fLen[i] = static_cast<unsigned char>(std::strlen(entries[i].fText));
      std::memset(fText[i], 0, sizeof fText[i]);
      std::memcpy(fText[i], entries[i].fText, fLen[i]);
      if (fSlot[c] == 0) fSlot[c] = static_cast<unsigned char>(i + 1);
#if defined(__SSE2__)
      fVec[i] = _mm_set1_epi8(static_cast<char>(c));
      fGrowth[i] = _mm_set1_epi8(static_cast<char>(fSlot[c] == i + 1 ? fLen[i] - 1 : 0));
#endif
    }
  }

  bool Contains(unsigned char c) const { return fSlot[c] != 0; }
  std::string_view Replacement(unsigned char c) const {
    const int i = fSlot[c] - 1;
    return std::string_view(fText[i], fLen[i]);
  }

  // How many bytes longer [p, end) becomes when escaped.
  size_t Growth(const char* p, const char* end) const {
    size_t growth = 0;
#if defined(__SSE2__)
    // Per-lane byte sums, folded into the total before they can overflow
    // (at most 7 a block, 32 blocks).
    while (end - p >= 16) {
      __m128i sums = _mm_setzero_si128();
      for (int block = 0; block < 32 && end - p >= 16; ++block, p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // The special bytes differ (a repeat adds 0), so OR gathers each
        // lane's growth with one addition on the loop-carried chain.
        __m128i g = _mm_and_si128(_mm_cmpeq_epi8(v, fVec[0]), fGrowth[0]);
        for (int i = 1; i < N; ++i) g = _mm_or_si128(g, _mm_and_si128(_mm_cmpeq_epi8(v, fVec[i]), fGrowth[i]));
        sums = _mm_add_epi8(sums, g);
      }
      const __m128i folded = _mm_sad_epu8(sums, _mm_setzero_si128());
      growth += static_cast<size_t>(_mm_cvtsi128_si32(folded)) +
                static_cast<size_t>(_mm_cvtsi128_si32(_mm_srli_si128(folded, 8)));
    }
#endif
    for (; p < end; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (fSlot[c] != 0) growth += fLen[fSlot[c] - 1] - 1u;
    }
    return growth;
  }

  // Where Write stopped: the first byte not escaped and the end of the
  // output so far.
  struct Progress {
    const char* fIn;
    char* fOut;
  };

  // Writes the escaped [p, end) at out, as far as it fits before limit
  // (fIn == end when all of it did). It may scribble up to 16 bytes past
  // what it wrote, but never at or beyond limit.
  Progress Write(const char* p, const char* end, char* out, const char* limit) const {
#if defined(__SSE2__)
    // Each round stores a whole block; at each special byte it writes the
    // replacement and stores the rest of the block again behind it. The
    // next block's position never waits for this one's specials.
    while (end - p >= 32 && limit - out >= 16 * 8 + 32) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      __m128i m = _mm_cmpeq_epi8(v, fVec[0]);
      for (int i = 1; i < N; ++i) m = _mm_or_si128(m, _mm_cmpeq_epi8(v, fVec[i]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
      unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(m));
      int done = 0;  // bytes of the block already accounted for
      while (bits != 0) {
        const int k = __builtin_ctz(bits);
        out += k - done;
        const int i = fSlot[static_cast<unsigned char>(p[k])] - 1;
        std::memcpy(out, fText[i], 8);
        out += fLen[i];
        done = k + 1;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + done)));
        bits &= bits - 1;
      }
      out += 16 - done;
      p += 16;
    }
#endif
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
#if defined(__SSE2__)
  __m128i fVec[N];     // the special byte in every lane
  __m128i fGrowth[N];  // its growth in every lane (0 for a repeated byte)
#endif
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
