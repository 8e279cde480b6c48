// KHash against a straightforward 64-bit computation reduced modulo 2^32.
#include "vxkernel/text/KHash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

uint32_t Reference(const std::string& bytes, uint32_t seed, const unsigned char* table = nullptr) {
  uint64_t h = seed;
  for (unsigned char c : bytes) h = (h * 65587u + (table ? table[c] : c)) % 4294967296u;
  return static_cast<uint32_t>(h);
}

// Values the random comparison below does not reach.
TEST(KHashTest, EdgeCases) {
  EXPECT_EQ(KHash::HashString("", 7), 7u);
  EXPECT_EQ(KHash::HashString(nullptr, 7), 7u);
  EXPECT_EQ(KHash::HashMem("abc", 0, 9), 9u);
  EXPECT_EQ(KHash::HashMem("abc", -4, 9), 9u);
  EXPECT_EQ(KHash::HashInsensitiveStr("AbC"), KHash::HashString("abc", 0));
  EXPECT_EQ(KHash::HashInsensitiveStr("[@Z_]"), KHash::HashString("[@z_]", 0));
}

TEST(KHashTest, MatchesReferenceOnRandomBytes) {
  std::mt19937 rng(99);
  unsigned char table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(rng());
  for (int i = 0; i < 500; ++i) {
    std::string s(rng() % 64, ' ');
    for (char& c : s) c = static_cast<char>(rng() % 255 + 1);  // no NUL: strings too
    const uint32_t seed = rng();
    ASSERT_EQ(KHash::HashString(s.c_str(), seed), Reference(s, seed));
    ASSERT_EQ(KHash::HashMem(s.data(), static_cast<long>(s.size()), seed), Reference(s, seed));
    ASSERT_EQ(KHash::HashTransString(s.c_str(), table, seed), Reference(s, seed, table));
    ASSERT_EQ(KHash::HashTransMem(s.data(), static_cast<long>(s.size()), table, seed),
              Reference(s, seed, table));
  }
  // HashMem runs over embedded NULs; HashString stops at the first.
  const std::string withNul("a\0b", 3);
  EXPECT_EQ(KHash::HashMem(withNul.data(), 3, 0), Reference(withNul, 0));
  EXPECT_EQ(KHash::HashString(withNul.data(), 0), Reference("a", 0));
}

}  // namespace
