// Private to the password hash: the DES tables of FIPS 46, with their bit positions counted from 1 as
// the standard prints them (bit 1 is the most significant).
#ifndef VXKERNEL_CRYPT_CRYPT_INTERNAL_H_
#define VXKERNEL_CRYPT_CRYPT_INTERNAL_H_

#include <cstdint>

namespace vxk_internal {

extern const uint8_t kDesIP[64];
extern const uint8_t kDesFP[64];
extern const uint8_t kDesPC1[56];  // C half, then D half
extern const uint8_t kDesPC2[48];  // over the 56 bits C then D
extern const uint8_t kDesShifts[16];
extern const uint8_t kDesE[48];
extern const uint8_t kDesP[32];
extern const uint8_t kDesS[8][64];  // [box][row * 16 + column]

// The salt KCrypt::Crypt makes for calendar time t (seconds): t is taken
// modulo 2^32 as an unsigned number, so times after 2038 still give a
// letter a-z and a digit 0-9. Writes two characters to out.
void CryptSaltForTime(int64_t t, char out[2]);

}  // namespace vxk_internal

#endif  // VXKERNEL_CRYPT_CRYPT_INTERNAL_H_
