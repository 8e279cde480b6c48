// The delimiter search of multipart bodies: memmem, faster on upload data.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "base/byte_scan.h"
#include "web/http_args_internal.h"

namespace {

using vxk_internal::ByteScan;

// Many places are tested at once for the delimiter's first and last byte,
// and the bytes between are compared only where both match. That is rare
// in binary data and, since the last byte is the boundary's, also in text
// with CR LF line ends. A compare that runs long passes no CR unless the
// boundary holds one, so only such a boundary can make the compares overlap
// and the search quadratic: once the compares cost more than the bytes
// scanned, the rest goes to memmem, which stays linear.
struct Search {
  const char* p;
  size_t n;
  const char* d;
  size_t L;
  size_t spent = 0;  // bytes compared so far

  // The places i + k of the set bits k of mask, where the first and last
  // bytes match; true when the search is over, its result in *out.
  bool Places(size_t i, uint32_t mask, const char** out) {
    for (; mask != 0; mask &= mask - 1) {
      const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
      if (std::memcmp(p + at + 1, d + 1, L - 2) == 0) {
        *out = p + at;
        return true;
      }
      spent += L;
      if (spent > n) {
        *out = static_cast<const char*>(memmem(p + at + 1, n - at - 1, d, L));
        return true;
      }
    }
    return false;
  }

  // The places from i on, one at a time.
  const char* Tail(size_t i) const {
    for (const size_t starts = n - L + 1; i < starts; ++i) {
      if (p[i] == d[0] && std::memcmp(p + i + 1, d + 1, L - 1) == 0) return p + i;
    }
    return nullptr;
  }
};

using Finder = const char* (*)(const char*, size_t, const char*, size_t);

Finder PickFinder() {
  return vxk_internal::HttpAvx2Usable() ? vxk_internal::HttpFindDelimiterAvx2
                                        : vxk_internal::HttpFindDelimiterBlocks;
}

}  // namespace

bool vxk_internal::HttpAvx2Usable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}

const char* vxk_internal::HttpFindDelimiter(const char* p, size_t n, const char* d, size_t L) {
  static const Finder find = PickFinder();
  return find(p, n, d, L);
}

const char* vxk_internal::HttpFindDelimiterBlocks(const char* p, size_t n, const char* d, size_t L) {
  if (n < L) return nullptr;
  if (L < 2) return static_cast<const char*>(memmem(p, n, d, L));
  Search s{p, n, d, L};
  const size_t starts = n - L + 1;  // places a match can start
  constexpr size_t kWidth = ByteScan::kWidth;
  const char* out = nullptr;
  size_t i = 0;
  // The second block ends at p[i + L + kWidth - 2], inside the buffer while
  // every place of the first can start a match.
  for (; i + kWidth <= starts; i += kWidth) {
    const uint32_t mask = ByteScan::Equal(p + i, d[0]) & ByteScan::Equal(p + i + L - 1, d[L - 1]);
    if (s.Places(i, mask, &out)) return out;
  }
  return s.Tail(i);
}

// 32 places at a time; chosen at run time, where the processor has AVX2.
// It stays out of ByteScan, whose implementation the compiler's target
// picks once: this one is picked per processor, and its loop (two blocks
// a step, memory asked for ahead) is shaped by the uploads it reads first.
__attribute__((target("avx2"))) const char* vxk_internal::HttpFindDelimiterAvx2(const char* p,
                                                                                size_t n,
                                                                                const char* d,
                                                                                size_t L) {
  if (n < L) return nullptr;
  if (L < 2) return static_cast<const char*>(memmem(p, n, d, L));
  Search s{p, n, d, L};
  const size_t starts = n - L + 1;
  const __m256i first = _mm256_set1_epi8(d[0]);
  const __m256i last = _mm256_set1_epi8(d[L - 1]);
  const char* out = nullptr;
  size_t i = 0;
  // The search is the first to read an upload's bytes, so it waits on
  // memory more than it compares: two blocks a step, and the bytes 2 KiB
  // ahead asked for (a prefetch past the end reads nothing).
  for (; i + 64 <= starts; i += 64) {
    _mm_prefetch(p + i + 2048, _MM_HINT_T0);
    const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + L - 1));
    const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32));
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 31 + L));
    const __m256i m0 = _mm256_and_si256(_mm256_cmpeq_epi8(a0, first), _mm256_cmpeq_epi8(b0, last));
    const __m256i m1 = _mm256_and_si256(_mm256_cmpeq_epi8(a1, first), _mm256_cmpeq_epi8(b1, last));
    const __m256i any = _mm256_or_si256(m0, m1);
    if (_mm256_testz_si256(any, any) != 0) continue;
    if (s.Places(i, static_cast<uint32_t>(_mm256_movemask_epi8(m0)), &out)) return out;
    if (s.Places(i + 32, static_cast<uint32_t>(_mm256_movemask_epi8(m1)), &out)) return out;
  }
  // The second load ends at p[i + L + 30], inside the buffer while every
  // place of the block can start a match.
  for (; i + 32 <= starts; i += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + L - 1));
    const auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last))));
    if (s.Places(i, mask, &out)) return out;
  }
  return s.Tail(i);
}
