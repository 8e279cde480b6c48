// Byte scanning a block at a time: which bytes of a block are a given byte,
// one of two, one of a set, or above 0x7F, and the sum of weights a set
// gives the bytes of a range. Two implementations with one interface, SSE2
// where the compiler targets it and a portable one on 64-bit words
// elsewhere; ByteScan names the one in use. Both are always compiled where
// they can be, so the tests hold them to the same answers.
//
// A mask has bit k set for byte k of the block (the block is kWidth bytes
// at p, all of which must be readable). Everything here is constant after
// construction; share it freely between threads.
#ifndef VXKERNEL_BASE_BYTE_SCAN_H_
#define VXKERNEL_BASE_BYTE_SCAN_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vxk_internal {

// The weight of every byte value for a Set: a byte listed twice keeps
// its first weight. Both implementations weigh the bytes a block loop
// leaves with it.
struct ByteWeights {
  ByteWeights() = default;
  ByteWeights(const unsigned char* bytes, const unsigned char* weights, int n) {
    std::memset(fWeight, 0, sizeof fWeight);
    for (int i = n - 1; i >= 0; --i) fWeight[bytes[i]] = weights[i];
  }
  // Whether entry i of bytes is the first listing of its byte.
  static bool First(const unsigned char* bytes, int i) {
    for (int k = 0; k < i; ++k)
      if (bytes[k] == bytes[i]) return false;
    return true;
  }
  size_t Weigh(const char* p, const char* end) const {
    size_t sum = 0;
    for (; p < end; ++p) sum += fWeight[static_cast<unsigned char>(*p)];
    return sum;
  }
  unsigned char fWeight[256];
};

// Eight bytes to a 64-bit word, with the usual carry-free tests for a zero
// byte.
struct ByteScanPortable {
  static constexpr size_t kWidth = 8;

  static uint32_t Equal(const char* p, char c) { return Compact(ZeroBytes(Load(p) ^ Splat(c))); }
  static uint32_t Either(const char* p, char c, char d) {
    const uint64_t v = Load(p);
    return Compact(ZeroBytes(v ^ Splat(c)) | ZeroBytes(v ^ Splat(d)));
  }
  static uint32_t High(const char* p) { return Compact(Load(p) & kHigh); }

  // Up to N bytes, each with a weight of 0 to 7; a byte listed twice
  // keeps its first weight.
  template <int N>
  class Set {
   public:
    Set() = default;
    Set(const unsigned char* bytes, const unsigned char* weights) : fWeight(bytes, weights, N) {
      for (int i = 0; i < N; ++i) fSplat[i] = Splat(static_cast<char>(bytes[i]));
    }
    uint32_t Match(const char* p) const {
      const uint64_t v = Load(p);
      uint64_t found = 0;
      for (int i = 0; i < N; ++i) found |= ZeroBytes(v ^ fSplat[i]);
      return Compact(found);
    }
    // The sum of the weights of the bytes of [p, end).
    size_t Weigh(const char* p, const char* end) const { return fWeight.Weigh(p, end); }

   private:
    uint64_t fSplat[N];
    ByteWeights fWeight;
  };

 private:
  static constexpr uint64_t kOnes = 0x0101010101010101ull;
  static constexpr uint64_t kHigh = 0x8080808080808080ull;

  // Byte k of the block in bits 8k to 8k + 7 whatever the byte order.
  static uint64_t Load(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
  }
  static uint64_t Splat(char c) { return kOnes * static_cast<unsigned char>(c); }
  // 0x80 in each zero byte of v, 0 in the others: the low seven bits of a
  // byte plus 0x7F carry into its top bit unless they are all zero, and
  // never into the next byte.
  static uint64_t ZeroBytes(uint64_t v) { return ~(((v & ~kHigh) + ~kHigh) | v) & kHigh; }
  // The top bit of byte k to bit k: each shifted bit lands at 56 + k, and
  // no two products share a place.
  static uint32_t Compact(uint64_t tops) { return static_cast<uint32_t>(((tops >> 7) * 0x0102040810204080ull) >> 56); }
};

}  // namespace vxk_internal

#if defined(__SSE2__)
#include <emmintrin.h>

namespace vxk_internal {

struct ByteScanSse2 {
  static constexpr size_t kWidth = 16;

  static uint32_t Equal(const char* p, char c) { return Mask(_mm_cmpeq_epi8(Load(p), _mm_set1_epi8(c))); }
  static uint32_t Either(const char* p, char c, char d) {
    const __m128i v = Load(p);
    return Mask(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(c)), _mm_cmpeq_epi8(v, _mm_set1_epi8(d))));
  }
  static uint32_t High(const char* p) { return Mask(Load(p)); }

  template <int N>
  class Set {
   public:
    Set() = default;
    Set(const unsigned char* bytes, const unsigned char* weights) : fWeight(bytes, weights, N) {
      for (int i = 0; i < N; ++i) {
        fVec[i] = _mm_set1_epi8(static_cast<char>(bytes[i]));
        fLaneWeight[i] = _mm_set1_epi8(static_cast<char>(ByteWeights::First(bytes, i) ? weights[i] : 0));
      }
    }
    uint32_t Match(const char* p) const {
      const __m128i v = Load(p);
      __m128i m = _mm_cmpeq_epi8(v, fVec[0]);
      for (int i = 1; i < N; ++i) m = _mm_or_si128(m, _mm_cmpeq_epi8(v, fVec[i]));
      return Mask(m);
    }
    size_t Weigh(const char* p, const char* end) const {
      size_t sum = 0;
      // Per-lane byte sums, folded into the total before they can overflow
      // (at most 7 a block, 32 blocks).
      while (end - p >= 16) {
        __m128i sums = _mm_setzero_si128();
        for (int block = 0; block < 32 && end - p >= 16; ++block, p += 16) {
          const __m128i v = Load(p);
          // A byte listed twice weighs 0 after its first entry, so OR
          // gathers each lane's weight with one addition on the
          // loop-carried chain.
          __m128i w = _mm_and_si128(_mm_cmpeq_epi8(v, fVec[0]), fLaneWeight[0]);
          for (int i = 1; i < N; ++i) w = _mm_or_si128(w, _mm_and_si128(_mm_cmpeq_epi8(v, fVec[i]), fLaneWeight[i]));
          sums = _mm_add_epi8(sums, w);
        }
        const __m128i folded = _mm_sad_epu8(sums, _mm_setzero_si128());
        sum += static_cast<size_t>(_mm_cvtsi128_si32(folded)) +
               static_cast<size_t>(_mm_cvtsi128_si32(_mm_srli_si128(folded, 8)));
      }
      return sum + fWeight.Weigh(p, end);
    }

   private:
    __m128i fVec[N];         // the byte in every lane
    __m128i fLaneWeight[N];  // its weight in every lane (0 for a repeat)
    ByteWeights fWeight;
  };

 private:
  static __m128i Load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static uint32_t Mask(__m128i m) { return static_cast<uint32_t>(_mm_movemask_epi8(m)); }
};

using ByteScan = ByteScanSse2;

}  // namespace vxk_internal
#else
namespace vxk_internal {
using ByteScan = ByteScanPortable;
}  // namespace vxk_internal
#endif

#endif  // VXKERNEL_BASE_BYTE_SCAN_H_
