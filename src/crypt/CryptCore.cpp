#include "vxkernel/crypt/CryptCore.h"

#include <cstring>

#include "crypt/crypt_internal.h"

// The rounds work on 32-bit halves. Every permutation is applied through
// tables built once from the FIPS tables: a bit permutation as one lookup
// per input nibble, and the S-boxes merged with P. The expansion is never
// built as 48 bits: group g of E(R) is R rotated right by 27 - 4g, and the
// salt swaps bits between groups 0 and 4 and between groups 1 and 5.

namespace {

using namespace vxk_internal;

// A bit permutation of an inBits-wide input (bit 1 the most significant)
// to an outBits-wide output, applied one input nibble at a time.
template <int kInBits>
struct NibblePerm {
  uint64_t t[kInBits / 4][16];

  NibblePerm(const uint8_t* table, int outBits) {
    std::memset(t, 0, sizeof t);
    for (int i = 0; i < outBits; ++i) {
      int src = table[i] - 1;
      for (int v = 0; v < 16; ++v) {
        if ((v >> (3 - src % 4)) & 1) t[src / 4][v] |= uint64_t{1} << (outBits - 1 - i);
      }
    }
  }
  uint64_t Apply(uint64_t x) const {
    uint64_t out = 0;
    for (int q = 0; q < kInBits / 4; ++q) out |= t[q][(x >> (kInBits - 4 - 4 * q)) & 15];
    return out;
  }
};

struct DesTables {
  NibblePerm<64> ip{kDesIP, 64};
  NibblePerm<64> fp{kDesFP, 64};
  NibblePerm<64> pc1{kDesPC1, 56};
  NibblePerm<56> pc2{kDesPC2, 48};
  uint32_t sp[8][64];  // S-box g on a 6-bit group, then P

  DesTables() {
    for (int g = 0; g < 8; ++g) {
      for (int v = 0; v < 64; ++v) {
        int row = ((v >> 4) & 2) | (v & 1);
        int col = (v >> 1) & 15;
        uint32_t s = static_cast<uint32_t>(kDesS[g][row * 16 + col]) << (28 - 4 * g);
        uint32_t p = 0;
        for (int i = 0; i < 32; ++i) {
          if ((s >> (32 - kDesP[i])) & 1) p |= uint32_t{1} << (31 - i);
        }
        sp[g][v] = p;
      }
    }
  }
};

const DesTables& Tables() {
  static const DesTables tables;
  return tables;
}

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << ((32 - n) & 31)); }

inline uint64_t LoadBE(const unsigned char* p) {
  uint64_t x;
  std::memcpy(&x, p, 8);
  return __builtin_bswap64(x);
}

inline void StoreBE(unsigned char* p, uint64_t x) {
  x = __builtin_bswap64(x);
  std::memcpy(p, &x, 8);
}

uint64_t PackBits(const char* block) {
  uint64_t x = 0;
  for (int i = 0; i < 64; ++i) x = (x << 1) | static_cast<uint64_t>(block[i] & 1);
  return x;
}

// The 6-bit value of a salt character; characters outside the alphabet
// keep the low six bits of the same arithmetic.
unsigned SaltValue(unsigned char c) {
  int v = c;
  if (v > 'Z') v -= 6;
  if (v > '9') v -= 7;
  v -= '.';
  return static_cast<unsigned>(v) & 63;
}

char HashLetter(unsigned v) {
  int c = static_cast<int>(v) + '.';
  if (c > '9') c += 7;
  if (c > 'Z') c += 6;
  return static_cast<char>(c);
}

}  // namespace

CryptCore::CryptCore() {
  std::memset(fKeySchedule, 0, sizeof fKeySchedule);
  std::memcpy(fE, kDesE, sizeof fE);
  for (uint8_t& e : fE) --e;
}

CryptCore::~CryptCore() = default;

void CryptCore::MakeKey(uint64_t key) {
  const DesTables& t = Tables();
  uint64_t cd = t.pc1.Apply(key);
  uint32_t c = static_cast<uint32_t>(cd >> 28);
  uint32_t d = static_cast<uint32_t>(cd & 0xFFFFFFF);
  for (int r = 0; r < 16; ++r) {
    int s = kDesShifts[r];
    c = ((c << s) | (c >> (28 - s))) & 0xFFFFFFF;
    d = ((d << s) | (d >> (28 - s))) & 0xFFFFFFF;
    uint64_t k = t.pc2.Apply((static_cast<uint64_t>(c) << 28) | d);
    for (int g = 0; g < 8; ++g) fKeySchedule[r][g] = static_cast<uint8_t>((k >> (42 - 6 * g)) & 63);
  }
  for (int i = 0; i < 48; ++i) fE[i] = static_cast<uint8_t>(kDesE[i] - 1);
  fSwap0 = fSwap1 = 0;
}

void CryptCore::ApplySalt(const char* salt2) {
  for (int i = 0; i < 2; ++i) {
    unsigned v = SaltValue(static_cast<unsigned char>(salt2[i]));
    uint8_t mask = 0;
    for (int j = 0; j < 6; ++j) {
      if ((v >> j) & 1) {
        uint8_t tmp = fE[6 * i + j];
        fE[6 * i + j] = fE[6 * i + j + 24];
        fE[6 * i + j + 24] = tmp;
        mask ^= static_cast<uint8_t>(1 << (5 - j));  // bit j of the group, MSB first
      }
    }
    (i == 0 ? fSwap0 : fSwap1) ^= mask;
  }
}

uint64_t CryptCore::Encrypt(uint64_t block) const {
  const DesTables& t = Tables();
  const uint32_t(*sp)[64] = t.sp;
  uint64_t x = t.ip.Apply(block);
  uint32_t l = static_cast<uint32_t>(x >> 32);
  uint32_t r = static_cast<uint32_t>(x);
  const uint32_t s0 = fSwap0, s1 = fSwap1;
  for (int round = 0; round < 16; ++round) {
    const uint8_t* k = fKeySchedule[round];
    uint32_t g0 = Rotr(r, 27) & 63, g1 = Rotr(r, 23) & 63, g2 = (r >> 19) & 63,
             g3 = (r >> 15) & 63, g4 = (r >> 11) & 63, g5 = (r >> 7) & 63,
             g6 = (r >> 3) & 63, g7 = Rotr(r, 31) & 63;
    uint32_t w0 = (g0 ^ g4) & s0, w1 = (g1 ^ g5) & s1;
    g0 ^= w0;
    g4 ^= w0;
    g1 ^= w1;
    g5 ^= w1;
    uint32_t f = sp[0][g0 ^ k[0]] | sp[1][g1 ^ k[1]] | sp[2][g2 ^ k[2]] | sp[3][g3 ^ k[3]] |
                 sp[4][g4 ^ k[4]] | sp[5][g5 ^ k[5]] | sp[6][g6 ^ k[6]] | sp[7][g7 ^ k[7]];
    uint32_t nl = r;
    r = l ^ f;
    l = nl;
  }
  return t.fp.Apply((static_cast<uint64_t>(r) << 32) | l);
}

void CryptCore::crypt_pw_makekey(const char* block) {
  MakeKey(PackBits(block));
}

void CryptCore::crypt_pw_encrypt(char* block) {
  uint64_t x = Encrypt(PackBits(block));
  for (int i = 0; i < 64; ++i) block[i] = static_cast<char>((x >> (63 - i)) & 1);
}

void CryptCore::crypt_pw_one_way(const char* password, const char* salt, char* out) {
  // Character k's seven low bits, most significant first, fill bits 8k to
  // 8k+6: the byte (c & 0x7f) << 1 of a big-endian 128-bit block.
  unsigned char block[16] = {};
  if (password != nullptr) {
    for (int k = 0; k < 16 && password[k] != '\0'; ++k)
      block[k] = static_cast<unsigned char>((password[k] & 0x7F) << 1);
  }
  MakeKey(LoadBE(block));

  char s0 = salt != nullptr ? salt[0] : '\0';
  if (s0 == '\0') s0 = 'L';
  char s1 = (salt != nullptr && salt[0] != '\0') ? salt[1] : '\0';
  if (s1 == '\0') s1 = s0;
  out[0] = s0;
  out[1] = s1;
  ApplySalt(out);

  for (int p = 0; p < 25; ++p) {
    unsigned char* w = block + (p % 5) * 2;
    StoreBE(w, Encrypt(LoadBE(w)));
  }

  unsigned __int128 bits = (static_cast<unsigned __int128>(LoadBE(block)) << 64) | LoadBE(block + 8);
  for (int i = 0; i < 19; ++i) out[2 + i] = HashLetter(static_cast<unsigned>(bits >> (122 - 6 * i)) & 63);
  out[21] = '\0';
}

bool CryptCore::crypt_pw_check(const char* password, const char* stored) {
  if (stored == nullptr) return false;
  char out[22];
  crypt_pw_one_way(password, stored, out);
  return std::strncmp(out, stored, 21) == 0;
}
