/// \file
/// CryptCore: the working state of the salted DES password hash.
#ifndef VXKERNEL_CRYPT_CRYPTCORE_H_
#define VXKERNEL_CRYPT_CRYPTCORE_H_

#include <cstdint>

#include "vxkernel/export.h"

/// Holds a DES key schedule and the salted expansion table, and computes
/// the 21-character hash: up to 16 seven-bit password characters fill a
/// 128-bit block, the first 64 bits key DES, and 25 encryptions run over
/// 64-bit windows starting at bits 0, 16, 32, 48, 64 in turn. A bit block
/// is an array of 130 chars holding one bit (0 or 1) each.
///
/// The tables live inside the object and are packed: the schedule keeps
/// each round's 48 bits as eight 6-bit groups, and the salt is kept both as
/// the perturbed 48-entry E table and as the swap masks the rounds apply.
///
/// Not synchronized: one thread at a time per object.
class VXKERNEL_EXPORT CryptCore {
 public:
  CryptCore();
  CryptCore(const CryptCore&) = delete;
  CryptCore& operator=(const CryptCore&) = delete;
  ~CryptCore();

  /// Builds the key schedule from bits 0-63 of block (bits 7, 15, ... are
  /// ignored, as DES parity bits are) and resets E to the standard table.
  void crypt_pw_makekey(const char* block);
  /// DES-encrypts bits 0-63 of block in place with the current schedule
  /// and (salted) E.
  void crypt_pw_encrypt(char* block);
  /// Writes the 2 salt characters, 19 hash characters and a NUL to out
  /// (at least 22 bytes). Null password or salt count as empty; a missing
  /// first salt character becomes 'L', a missing second repeats the first.
  void crypt_pw_one_way(const char* password, const char* salt, char* out);
  /// True when hashing password with the first two characters of stored
  /// gives the first 21 characters of stored (case-sensitive).
  bool crypt_pw_check(const char* password, const char* stored);

 private:
  void MakeKey(uint64_t key);
  void ApplySalt(const char* salt2);
  uint64_t Encrypt(uint64_t block) const;

  uint8_t fKeySchedule[16][8];  ///< per round: eight 6-bit groups of key bits
  uint8_t fE[48];               ///< expansion table, values 0-31
  uint8_t fSwap0 = 0;           ///< E groups 0 and 4: bits swapped by the salt
  uint8_t fSwap1 = 0;           ///< E groups 1 and 5
};

#endif  // VXKERNEL_CRYPT_CRYPTCORE_H_
