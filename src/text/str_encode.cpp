// Encodings of the str_ module: the 8-to-6 bit text form, byte scrambling
// and Shift-JIS to JIS (ISO-2022-JP).
#include "vxkernel/text/str.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int SixBits(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;  // outside the alphabet counts as 0
}

// The two fixed bytes mixed into the key: even positions use the key's
// high byte and kScrambleEven, odd positions its low byte and kScrambleOdd.
constexpr unsigned char kScrambleEven = 0x5A;
constexpr unsigned char kScrambleOdd = 0xC3;

int Scramble(const char* src, unsigned short key, char* dst, long dstSize) {
  if (dst == nullptr || dstSize < 1) return 2;
  if (src == nullptr) src = "";
  const size_t total = std::strlen(src);
  const size_t room = static_cast<size_t>(dstSize - 1);
  const size_t n = total < room ? total : room;
  const unsigned char even = static_cast<unsigned char>((key >> 8) ^ kScrambleEven);
  const unsigned char odd = static_cast<unsigned char>((key & 0xFF) ^ kScrambleOdd);
  for (size_t i = 0; i < n; ++i) {
    dst[i] = static_cast<char>(static_cast<unsigned char>(src[i]) ^ ((i & 1) ? odd : even));
  }
  dst[n] = '\0';
  return n < total ? 2 : 0;
}

// ===== Shift-JIS to JIS =====

// JIS X 0208 codes of the half-width katakana 0xA1..0xDF.
constexpr uint16_t kHalfWidthKana[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523, 0x2525, 0x2527,
    0x2529,                                                                          // A1-AB
    0x2563, 0x2565, 0x2567, 0x2543, 0x213C, 0x2522, 0x2524, 0x2526, 0x2528, 0x252A,  // AC-B5
    0x252B, 0x252D, 0x252F, 0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D,  // B6-BF
    0x253F, 0x2541, 0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D, 0x254E,  // C0-C9
    0x254F, 0x2552, 0x2555, 0x2558, 0x255B, 0x255E, 0x255F, 0x2560, 0x2561, 0x2562,  // CA-D3
    0x2564, 0x2566, 0x2568, 0x2569, 0x256A, 0x256B, 0x256C, 0x256D, 0x256F, 0x2573,  // D4-DD
    0x212B, 0x212C,                                                                  // DE-DF
};

constexpr unsigned char kVoicedMark = 0xDE;
constexpr unsigned char kSemiVoicedMark = 0xDF;
// The "geta" mark, which stands for characters JIS X 0208 does not have.
constexpr uint16_t kGeta = 0x222E;

inline bool IsSjisLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The JIS X 0208 code of a Shift-JIS pair, or kGeta outside its 94 x 94 grid.
uint16_t SjisPairToJis(unsigned char c1, unsigned char c2) {
  if (c2 < 0x40 || c2 == 0x7F || c2 > 0xFC) return kGeta;
  int j1 = (c1 - (c1 <= 0x9F ? 0x70 : 0xB0)) << 1;
  int j2;
  if (c2 < 0x9F) {
    j1 -= 1;
    j2 = c2 - 0x1F - (c2 >= 0x80 ? 1 : 0);
  } else {
    j2 = c2 - 0x7E;
  }
  if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E) return kGeta;
  return static_cast<uint16_t>((j1 << 8) | j2);
}

// The full-width form of the half-width kana at p (0xA1..0xDF), merging a
// following voiced or semi-voiced mark where the kana has such a form;
// *used is 1 or 2.
uint16_t HalfWidthToJis(const unsigned char* p, size_t* used) {
  const unsigned char c = p[0];
  uint16_t j = kHalfWidthKana[c - 0xA1];
  *used = 1;
  if (p[1] == kVoicedMark) {
    if (c == 0xB3) {  // u + voiced mark: vu
      *used = 2;
      return 0x2574;
    }
    if ((c >= 0xB6 && c <= 0xC4) || (c >= 0xCA && c <= 0xCE)) {  // ka..to, ha..ho
      *used = 2;
      return static_cast<uint16_t>(j + 1);
    }
  } else if (p[1] == kSemiVoicedMark && c >= 0xCA && c <= 0xCE) {  // ha..ho: pa..po
    *used = 2;
    return static_cast<uint16_t>(j + 2);
  }
  return j;
}

}  // namespace

int str_encode8to6(const char* src, char* dst, long dstSize, long n) {
  if (dst == nullptr || dstSize < 1) return 2;
  if (src == nullptr) {
    src = "";
    n = 0;
  } else if (n <= 0) {
    n = static_cast<long>(std::strlen(src));
  }
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  const long groups = n / 3 + 1;
  int result = 0;
  long out = 0;
  for (long g = 0; g < groups; ++g) {
    if (out >= dstSize - 4) {
      result = 2;
      break;
    }
    uint32_t v = 0;
    for (long k = 0; k < 3; ++k) {
      const long i = g * 3 + k;
      v = (v << 8) | (i < n ? s[i] : 0u);
    }
    dst[out++] = kAlphabet[(v >> 18) & 63];
    dst[out++] = kAlphabet[(v >> 12) & 63];
    dst[out++] = kAlphabet[(v >> 6) & 63];
    dst[out++] = kAlphabet[v & 63];
  }
  dst[out] = '\0';
  return result;
}

int str_decode6to8(const char* src, char* dst, long dstSize, long* outLen) {
  long out = 0;
  int result = 0;
  if (src != nullptr && dst != nullptr) {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    const size_t n = std::strlen(src);
    // A last group shorter than four characters reads as padded with "A".
    for (size_t i = 0; i < n; i += 4) {
      if (out + 3 > dstSize) {
        result = 2;
        break;
      }
      uint32_t v = 0;
      for (size_t k = 0; k < 4; ++k)
        v = (v << 6) | static_cast<uint32_t>(i + k < n ? SixBits(s[i + k]) : 0);
      dst[out++] = static_cast<char>(v >> 16);
      dst[out++] = static_cast<char>(v >> 8);
      dst[out++] = static_cast<char>(v);
    }
  } else if (dst == nullptr) {
    result = 2;
  }
  if (outLen != nullptr) *outLen = out;
  return result;
}

int str_encode(const char* src, unsigned short key, char* dst, long dstSize) {
  return Scramble(src, key, dst, dstSize);
}

int str_decode(const char* src, unsigned short key, char* dst, long dstSize) {
  return Scramble(src, key, dst, dstSize);
}

char* str_sjis2jis(const char* s) {
  if (s == nullptr) return nullptr;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  std::string out;
  bool kanji = false;
  auto enterKanji = [&] {
    if (!kanji) out += "\x1b$B";
    kanji = true;
  };
  auto putJis = [&](uint16_t j) {
    enterKanji();
    out += static_cast<char>(j >> 8);
    out += static_cast<char>(j & 0xFF);
  };
  while (*p != 0) {
    const unsigned char c = *p;
    if (IsSjisLead(c) && p[1] != 0) {
      putJis(SjisPairToJis(c, p[1]));
      p += 2;
    } else if (c >= 0xA1 && c <= 0xDF) {
      size_t used;
      putJis(HalfWidthToJis(p, &used));
      p += used;
    } else {
      if (kanji) out += "\x1b(B";
      kanji = false;
      // Bytes JIS has no single-byte place for (0x80, 0xA0, 0xFD-0xFF and a
      // lead byte cut off by the end) pass through unchanged.
      out += static_cast<char>(c);
      ++p;
    }
  }
  if (kanji) out += "\x1b(B";
  char* r = new char[out.size() + 1];
  std::memcpy(r, out.c_str(), out.size() + 1);
  return r;
}
