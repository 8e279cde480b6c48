/// \file
/// KCrypt: one-way password hashing for storage and later verification.
#ifndef VXKERNEL_CRYPT_KCRYPT_H_
#define VXKERNEL_CRYPT_KCRYPT_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// The exported front end of CryptCore. Each call uses its own working
/// state, so any number of threads may hash at once. Hashes are 21
/// characters: the 2 salt characters, then 19 of "./0-9A-Za-z".
class VXKERNEL_EXPORT KCrypt {
 public:
  /// The hash of password (null counts as empty) with salt. A null salt or
  /// one shorter than two characters is replaced by one made from the
  /// current time.
  static KString Crypt(const char* password, const char* salt);
  /// True when password hashed with the salt of stored (its first two
  /// characters) gives the first 21 characters of stored. False for null.
  static bool Check(const char* password, const char* stored);
};

#endif  // VXKERNEL_CRYPT_KCRYPT_H_
