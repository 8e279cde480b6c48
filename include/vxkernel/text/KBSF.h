/// \file
/// Base64 encoding and decoding.
#ifndef VXKERNEL_TEXT_KBSF_H_
#define VXKERNEL_TEXT_KBSF_H_

#include "vxkernel/export.h"

/// Standard Base64 (alphabet A-Z, a-z, 0-9, "+", "/"; "=" pads the last
/// group). Stateless: every function is reentrant. Buffers belong to the
/// caller, except the arrays the allocating forms return (free with delete[]).
///
/// Decoding reads groups of four characters. "=" in the third place ends the
/// group after one byte (the fourth character is not looked at), "=" in the
/// fourth place after two; decoding then goes on with the next group, so
/// concatenated encodings decode to the concatenated bytes. Any other
/// character outside the alphabet, or "=" in the first two places, makes the
/// whole call fail.
class VXKERNEL_EXPORT KBSF {
 public:
  KBSF() = delete;

  /// (n + 2) / 3 * 4: the characters ToBase64 writes for n bytes (0 for n < 0).
  static long Base64EncodedLength(long n);
  /// n / 4 * 3: the room FromBase64 requires for n characters (0 for n < 0).
  static long Base64MaxDecodedLength(long n);

  /// Encodes the n bytes at src into dst; dstLen holds the room on entry and
  /// the number of characters written (no NUL is added) on success. Fails
  /// (dstLen = -1, false, one debug line) when the room is below
  /// Base64EncodedLength(n), n is negative or src is null with n > 0.
  static bool ToBase64(const void* src, long n, char* dst, long& dstLen);
  /// The encoding as a new NUL-terminated array; null (one debug line) on
  /// the failures above and when the memory cannot hold the encoding.
  static char* ToBase64(const void* src, long n);

  /// Decodes the n characters at src into dst; dstLen holds the room on entry
  /// and the number of bytes written on success. Fails (dstLen = -1, false,
  /// one debug line) when n is not a multiple of 4, the room is below
  /// Base64MaxDecodedLength(n) or a character is not allowed (see above);
  /// dst may then hold part of the output.
  static bool FromBase64(const char* src, long n, void* dst, long& dstLen);
  /// Decodes the len characters at buf in place and adds a NUL after the
  /// bytes; len becomes their number. On failure len = -1 and buf is
  /// unspecified.
  static bool FromBase64(char* buf, long& len);
};

#endif  // VXKERNEL_TEXT_KBSF_H_
