#include "vxkernel/crypt/KCrypt.h"

#include <ctime>

#include "crypt/crypt_internal.h"
#include "vxkernel/crypt/CryptCore.h"

void vxk_internal::CryptSaltForTime(int64_t t, char out[2]) {
  uint32_t u = static_cast<uint32_t>(t);
  char letter = static_cast<char>('a' + u % 26);
  char digit = static_cast<char>('0' + (u / 15) % 10);
  out[0] = (u & 1) ? digit : letter;
  out[1] = (u & 1) ? letter : digit;
}

KString KCrypt::Crypt(const char* password, const char* salt) {
  char made[3] = {};
  if (salt == nullptr || salt[0] == '\0' || salt[1] == '\0') {
    vxk_internal::CryptSaltForTime(static_cast<int64_t>(std::time(nullptr)), made);
    salt = made;
  }
  char out[22];
  CryptCore core;
  core.crypt_pw_one_way(password, salt, out);
  return KString(out);
}

bool KCrypt::Check(const char* password, const char* stored) {
  CryptCore core;
  return core.crypt_pw_check(password, stored);
}
