// Base64: table-driven, a 3-byte group in, a 4-character group out, with no
// per-byte branches on the common path.
#include "vxkernel/text/KBSF.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

#include "base/debug_line.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value, stored in memory order, so
// one 3-byte group costs two loads and two 16-bit stores.
struct PairTable {
  uint16_t fPair[4096];
};

constexpr PairTable MakePairTable() {
  PairTable t{};
  for (int v = 0; v < 4096; ++v) {
    const auto first = static_cast<uint16_t>(static_cast<unsigned char>(kAlphabet[v >> 6]));
    const auto second = static_cast<uint16_t>(static_cast<unsigned char>(kAlphabet[v & 63]));
    t.fPair[v] = static_cast<uint16_t>(first | (second << 8));  // little-endian: first in memory
  }
  return t;
}

constexpr PairTable kPairs = MakePairTable();

// Decoding: one table per place in the group, holding the 6-bit value
// already shifted to its place in the 24-bit group. Characters outside the
// alphabet carry kBad, so OR-ing the four entries tells at once whether the
// group needs a closer look ("=" or an error).
constexpr uint32_t kBad = 0x01000000;

struct DecodeTables {
  uint32_t fPlace[4][256];
};

constexpr DecodeTables MakeDecodeTables() {
  DecodeTables t{};
  for (int place = 0; place < 4; ++place) {
    for (int c = 0; c < 256; ++c) t.fPlace[place][c] = kBad;
    for (int v = 0; v < 64; ++v) {
      t.fPlace[place][static_cast<unsigned char>(kAlphabet[v])] = static_cast<uint32_t>(v)
                                                                  << (18 - 6 * place);
    }
  }
  return t;
}

constexpr DecodeTables kDecode = MakeDecodeTables();

inline uint64_t LoadBigEndian64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

using vxk_internal::DebugLine;

void Encode(const unsigned char* src, size_t n, char* dst) {
  size_t i = 0;
  // Six bytes (two groups) per step from one 8-byte load.
  for (; i + 8 <= n; i += 6, dst += 8) {
    const uint64_t w = LoadBigEndian64(src + i);
    const uint16_t p[4] = {kPairs.fPair[(w >> 52) & 0xFFF], kPairs.fPair[(w >> 40) & 0xFFF],
                           kPairs.fPair[(w >> 28) & 0xFFF], kPairs.fPair[(w >> 16) & 0xFFF]};
    std::memcpy(dst, p, 8);
  }
  for (; i + 3 <= n; i += 3, dst += 4) {
    const uint32_t v = (uint32_t{src[i]} << 16) | (uint32_t{src[i + 1]} << 8) | src[i + 2];
    const uint16_t p[2] = {kPairs.fPair[v >> 12], kPairs.fPair[v & 0xFFF]};
    std::memcpy(dst, p, 4);
  }
  const size_t rest = n - i;
  if (rest == 1) {
    const uint32_t v = uint32_t{src[i]} << 16;
    dst[0] = kAlphabet[v >> 18];
    dst[1] = kAlphabet[(v >> 12) & 63];
    dst[2] = '=';
    dst[3] = '=';
  } else if (rest == 2) {
    const uint32_t v = (uint32_t{src[i]} << 16) | (uint32_t{src[i + 1]} << 8);
    dst[0] = kAlphabet[v >> 18];
    dst[1] = kAlphabet[(v >> 12) & 63];
    dst[2] = kAlphabet[(v >> 6) & 63];
    dst[3] = '=';
  }
}

// Decodes n characters (a multiple of 4). Returns the bytes written, or -1
// with *badAt set to the offset of the first character not allowed. Each
// group is read completely before its bytes are written, and a group's
// bytes never reach past its own characters, so dst may equal src.
long Decode(const unsigned char* src, size_t n, unsigned char* dst, size_t* badAt) {
  unsigned char* out = dst;
  for (size_t i = 0; i < n; i += 4) {
    const uint32_t v = kDecode.fPlace[0][src[i]] | kDecode.fPlace[1][src[i + 1]] |
                       kDecode.fPlace[2][src[i + 2]] | kDecode.fPlace[3][src[i + 3]];
    if (__builtin_expect((v & kBad) == 0, 1)) {
      out[0] = static_cast<unsigned char>(v >> 16);
      out[1] = static_cast<unsigned char>(v >> 8);
      out[2] = static_cast<unsigned char>(v);
      out += 3;
      continue;
    }
    // A group with "=" or a character outside the alphabet.
    const uint32_t a = kDecode.fPlace[0][src[i]];
    const uint32_t b = kDecode.fPlace[1][src[i + 1]];
    if (a & kBad) {
      *badAt = i;
      return -1;
    }
    if (b & kBad) {
      *badAt = i + 1;
      return -1;
    }
    if (src[i + 2] == '=') {
      *out++ = static_cast<unsigned char>((a | b) >> 16);
      continue;
    }
    const uint32_t c = kDecode.fPlace[2][src[i + 2]];
    if (c & kBad) {
      *badAt = i + 2;
      return -1;
    }
    if (src[i + 3] == '=') {
      const uint32_t w = a | b | c;
      out[0] = static_cast<unsigned char>(w >> 16);
      out[1] = static_cast<unsigned char>(w >> 8);
      out += 2;
      continue;
    }
    *badAt = i + 3;
    return -1;
  }
  return static_cast<long>(out - dst);
}

}  // namespace

// Saturates at LONG_MAX for lengths whose encoding no long can count, so
// no buffer is ever judged large enough for them.
long KBSF::Base64EncodedLength(long n) {
  if (n < 0) return 0;
  const long groups = n / 3 + (n % 3 != 0 ? 1 : 0);
  return groups > LONG_MAX / 4 ? LONG_MAX : groups * 4;
}

long KBSF::Base64MaxDecodedLength(long n) { return n < 0 ? 0 : n / 4 * 3; }

bool KBSF::ToBase64(const void* src, long n, char* dst, long& dstLen) {
  if (n < 0 || (src == nullptr && n > 0)) {
    DebugLine("KBSF::ToBase64", "invalid source length ", n);
    dstLen = -1;
    return false;
  }
  const long need = Base64EncodedLength(n);
  if (dstLen < need || (dst == nullptr && need > 0)) {
    DebugLine("KBSF::ToBase64", "output buffer too small: need ", need, ", have ",
              dstLen < 0 ? 0 : dstLen);
    dstLen = -1;
    return false;
  }
  if (n > 0) Encode(static_cast<const unsigned char*>(src), static_cast<size_t>(n), dst);
  dstLen = need;
  return true;
}

char* KBSF::ToBase64(const void* src, long n) {
  if (n < 0 || (src == nullptr && n > 0)) {
    DebugLine("KBSF::ToBase64", "invalid source length ", n);
    return nullptr;
  }
  long len = Base64EncodedLength(n);
  // A saturated length stands for an encoding no long counts; any other
  // may still be more than the memory has.
  char* out = len < LONG_MAX ? new (std::nothrow) char[static_cast<size_t>(len) + 1] : nullptr;
  if (out == nullptr) {
    DebugLine("KBSF::ToBase64", "no memory for the encoding of ", n, " bytes");
    return nullptr;
  }
  if (!ToBase64(src, n, out, len)) {
    delete[] out;
    return nullptr;
  }
  out[len] = '\0';
  return out;
}

bool KBSF::FromBase64(const char* src, long n, void* dst, long& dstLen) {
  if (n < 0 || n % 4 != 0 || (src == nullptr && n > 0)) {
    DebugLine("KBSF::FromBase64", "length is not a multiple of 4: ", n);
    dstLen = -1;
    return false;
  }
  const long need = Base64MaxDecodedLength(n);
  if (dstLen < need || (dst == nullptr && need > 0)) {
    DebugLine("KBSF::FromBase64", "output buffer too small: need ", need, ", have ",
              dstLen < 0 ? 0 : dstLen);
    dstLen = -1;
    return false;
  }
  if (n == 0) {
    dstLen = 0;
    return true;
  }
  size_t badAt = 0;
  const long got = Decode(reinterpret_cast<const unsigned char*>(src), static_cast<size_t>(n),
                          static_cast<unsigned char*>(dst), &badAt);
  if (got < 0) {
    DebugLine("KBSF::FromBase64", "invalid character at offset ", badAt);
    dstLen = -1;
    return false;
  }
  dstLen = got;
  return true;
}

bool KBSF::FromBase64(char* buf, long& len) {
  long room = Base64MaxDecodedLength(len);
  if (!FromBase64(buf, len, buf, room)) {
    len = -1;
    return false;
  }
  if (buf != nullptr) buf[room] = '\0';
  len = room;
  return true;
}
