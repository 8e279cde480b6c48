/// \file
/// Hash functions for texts and memory.
#ifndef VXKERNEL_TEXT_KHASH_H_
#define VXKERNEL_TEXT_KHASH_H_

#include <cstdint>

#include "vxkernel/export.h"

/// Multiplicative hashes: h = h * 65587 + byte for each byte, taken unsigned,
/// modulo 2^32, starting from the seed. The results are stored by callers
/// (bucket numbers in files), so the arithmetic is fixed at 32 bits.
/// Pure functions: safe from any thread.
class VXKERNEL_EXPORT KHash {
 public:
  static constexpr uint32_t kMultiplier = 0x10033;  ///< 65587

  /// Over the bytes before the NUL; a null text gives the seed.
  static uint32_t HashString(const char* s, uint32_t seed = 0);
  /// Over n bytes; n <= 0 or a null p gives the seed.
  static uint32_t HashMem(const void* p, long n, uint32_t seed = 0);
  /// As above with each byte c replaced by table[c] (256 entries); a null
  /// table hashes the bytes untranslated.
  ///@{
  static uint32_t HashTransString(const char* s, const unsigned char* table, uint32_t seed = 0);
  static uint32_t HashTransMem(const void* p, long n, const unsigned char* table, uint32_t seed = 0);
  ///@}
  /// HashString with seed 0 after folding 'A'..'Z' to 'a'..'z' (and nothing
  /// else, whatever the locale).
  static uint32_t HashInsensitiveStr(const char* s);

  KHash() = delete;
};

#endif  // VXKERNEL_TEXT_KHASH_H_
