// Building blocks of the escapes: a scanner that finds the next byte of a
// small set 16 bytes at a time, and a string whose exact length is known
// before its bytes are written. Private to src/web.
#ifndef VXKERNEL_WEB_ESCAPE_INTERNAL_H_
#define VXKERNEL_WEB_ESCAPE_INTERNAL_H_

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/debug_line.h"
#include "vxkernel/text/KString.h"

namespace vxk_internal {

// Finds the bytes of a set of N values. The escapes copy the
// long runs between special bytes with memcpy, so finding the next special
// byte fast is what makes them fast.
template <int N>
class ByteSetScanner {
 public:
  // bytes: N values (repeats are fine).
  explicit ByteSetScanner(const unsigned char* bytes) {
    for (bool& b : fIn) b = false;
    for (int i = 0; i < N; ++i) {
      const unsigned char c = bytes[i];
      fIn[c] = true;
#if defined(__SSE2__)
      fVec[i] = _mm_set1_epi8(static_cast<char>(c));
#endif
    }
  }

  bool Contains(unsigned char c) const { return fIn[c]; }

  // The first byte of [p, end) in the set, or end.
  const char* Find(const char* p, const char* end) const {
#if defined(__SSE2__)
    while (end - p >= 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      __m128i m = _mm_cmpeq_epi8(v, fVec[0]);
      for (int i = 1; i < N; ++i) m = _mm_or_si128(m, _mm_cmpeq_epi8(v, fVec[i]));
      const int bits = _mm_movemask_epi8(m);
      if (bits != 0) return p + __builtin_ctz(static_cast<unsigned>(bits));
      p += 16;
    }
#endif
    while (p < end && !fIn[static_cast<unsigned char>(*p)]) ++p;
    return p;
  }

 private:
  bool fIn[256];
#if defined(__SSE2__)
  __m128i fVec[N];
#endif
};

// A new string of exactly n bytes (terminated), whose bytes the caller
// writes through *text before anyone else sees the string. n == 0 gives the
// empty string and a null *text.
inline KString NewStringOfLength(size_t n, char** text) {
  if (n == 0) {
    *text = nullptr;
    return KString();
  }
  KString::KStringRef* r = KString::KStringRef::Create(static_cast<uint32_t>(n));
  *text = r->fText;
  r->fText[n] = '\0';
  KString s = KString::Sharing(r);
  KString::ReleaseHost(r);  // Create's own hold: s is the only holder now
  return s;
}

// Cuts a string made by NewStringOfLength to its first n bytes.
// REQUIRES: s is the only holder; n <= its length.
inline void ShrinkNewString(KString& s, size_t n) {
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
