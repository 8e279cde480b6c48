// The DES core against OpenSSL, the key schedule and salted E against libc
// crypt(), and the windowed hash against the one-bit-per-byte primitives.
#include "vxkernel/crypt/KCrypt.h"

// DES_ecb_encrypt is the oracle; OpenSSL 3 marks it deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <crypt.h>
#include <gtest/gtest.h>
#include <openssl/des.h>

#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "crypt/crypt_internal.h"
#include "vxkernel/crypt/CryptCore.h"

namespace {

const char kAlphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

void ToBits(const unsigned char* bytes, int n, char* bits) {
  for (int i = 0; i < n * 8; ++i) bits[i] = static_cast<char>((bytes[i / 8] >> (7 - i % 8)) & 1);
}

std::string Encode(const char* bits, int chars) {
  std::string s;
  for (int i = 0; i < chars; ++i) {
    int v = 0;
    for (int j = 0; j < 6; ++j) v = v * 2 + bits[6 * i + j];
    s += kAlphabet[v];
  }
  return s;
}

std::string RandomText(std::mt19937& rng, int maxLen, bool anyByte) {
  std::string s(rng() % (maxLen + 1), ' ');
  for (char& c : s) c = anyByte ? static_cast<char>(1 + rng() % 255) : kAlphabet[rng() % 64];
  return s;
}

TEST(CryptCoreTest, DesMatchesOpenSslAndTheFipsVector) {
  std::mt19937 rng(1234);
  CryptCore core;
  for (int n = 0; n < 2001; ++n) {
    DES_cblock key, in, out;
    for (int i = 0; i < 8; ++i) {
      key[i] = static_cast<unsigned char>(rng());
      in[i] = static_cast<unsigned char>(rng());
    }
    if (n == 2000) {  // the textbook example
      const unsigned char k[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
      const unsigned char p[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
      std::memcpy(key, k, 8);
      std::memcpy(in, p, 8);
    }
    DES_key_schedule ks;  // the oracle for all but the last case
    DES_set_key_unchecked(&key, &ks);
    DES_ecb_encrypt(&in, &out, &ks, DES_ENCRYPT);
    if (n == 2000) {
      const unsigned char c[8] = {0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05};
      std::memcpy(out, c, 8);
    }
    char kb[130] = {}, bb[130] = {}, ob[130] = {};
    ToBits(key, 8, kb);
    ToBits(in, 8, bb);
    ToBits(out, 8, ob);
    core.crypt_pw_makekey(kb);
    core.crypt_pw_encrypt(bb);
    ASSERT_EQ(0, std::memcmp(bb, ob, 64)) << "case " << n;
  }
}

// Classic crypt(): key from 8 password characters, 25 salted encryptions
// of a zero block. After crypt_pw_one_way the core holds that key and E.
TEST(CryptCoreTest, KeyScheduleAndSaltedEMatchLibcCrypt) {
  std::mt19937 rng(99);
  CryptCore core;
  struct crypt_data data;
  for (int n = 0; n < 2000; ++n) {
    std::string pw = RandomText(rng, 8, false);
    char salt[3] = {kAlphabet[rng() % 64], kAlphabet[rng() % 64], 0};
    if (n == 0) salt[0] = salt[1] = '.';
    char out[22];
    core.crypt_pw_one_way(pw.c_str(), salt, out);
    char block[130] = {};
    for (int p = 0; p < 25; ++p) core.crypt_pw_encrypt(block);
    std::memset(&data, 0, sizeof data);
    const char* want = crypt_r(pw.c_str(), salt, &data);
    ASSERT_NE(want, nullptr);
    ASSERT_EQ(std::string(want + 2), Encode(block, 11)) << pw << " salt " << salt;
  }
}

// The packed hash against the spelled-out algorithm on one-bit-per-byte
// blocks: seven bits per character, windows at bits 0, 16, ..., 64.
TEST(CryptCoreTest, OneWayMatchesBitBlockPasses) {
  std::mt19937 rng(7);
  CryptCore core;
  for (int n = 0; n < 2000; ++n) {
    std::string pw = RandomText(rng, 20, true);
    std::string salt = RandomText(rng, 2, true);
    char out[22];
    core.crypt_pw_one_way(pw.c_str(), salt.c_str(), out);
    char block[130] = {};
    for (size_t k = 0; k < pw.size() && k < 16; ++k)
      for (int b = 0; b < 7; ++b) block[8 * k + b] = static_cast<char>((pw[k] >> (6 - b)) & 1);
    for (int p = 0; p < 25; ++p) core.crypt_pw_encrypt(block + (p % 5) * 16);
    ASSERT_EQ(std::string(out + 2), Encode(block, 19)) << "case " << n;
    char s0 = salt.empty() ? 'L' : salt[0];
    ASSERT_EQ(out[0], s0);
    ASSERT_EQ(out[1], salt.size() < 2 ? s0 : salt[1]);
  }
}

TEST(KCryptTest, KnownAnswers) {
  struct {
    const char* password;
    const char* salt;
    const char* hash;
  } cases[] = {
      {"", "..", "..Ki63KrfKIRdRcQQxGFC"},
      {"password", "ab", "ab52Uo4DkRYpwaeTGQ77v"},
      {"correct horse battery staple", "Zz", "ZzjMYh2jZLcNFmFABAcCz"},
      {"\xE9t\xE9", "/9", "/99H5ZVV/B/i7nMRBGc6d"},
  };
  for (const auto& c : cases) EXPECT_EQ(std::string(KCrypt::Crypt(c.password, c.salt)), c.hash);
}

TEST(KCryptTest, WhatCounts) {
  std::string h = std::string(KCrypt::Crypt("abcdefghijklmnop", "xy"));
  EXPECT_EQ(h, std::string(KCrypt::Crypt("abcdefghijklmnopQRS", "xy")));  // past 16: ignored
  EXPECT_NE(h, std::string(KCrypt::Crypt("abcdefghijklmnoq", "xy")));     // 16th counts
  EXPECT_NE(h, std::string(KCrypt::Crypt("abcdefghJjklmnop", "xy")));     // 9th counts
  EXPECT_EQ(h, std::string(KCrypt::Crypt("abc\xE4" "efghijklmnop", "xy")));  // high bit dropped
  EXPECT_EQ(KCrypt::Crypt("", "xy"), KCrypt::Crypt("\x80", "xy"));
  EXPECT_EQ(KCrypt::Crypt(nullptr, "xy"), KCrypt::Crypt("", "xy"));
  // Salt characters outside the alphabet count by the low six bits of the
  // same arithmetic: '!' as 33 - 46 = -13 (51, 'n'), 0xFF as 196 (4, '2').
  EXPECT_EQ(std::string(KCrypt::Crypt("pw", "!\xFF")).substr(2), std::string(KCrypt::Crypt("pw", "n2")).substr(2));
}

TEST(KCryptTest, CheckComparesTheFirst21Characters) {
  std::string h = std::string(KCrypt::Crypt("secret", "q7"));
  ASSERT_EQ(h.size(), 21u);
  EXPECT_TRUE(KCrypt::Check("secret", h.c_str()));
  EXPECT_TRUE(KCrypt::Check("secret", (h + "trailing").c_str()));
  EXPECT_FALSE(KCrypt::Check("Secret", h.c_str()));
  EXPECT_FALSE(KCrypt::Check("secret", h.substr(0, 20).c_str()));
  std::string lower = h;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower != h) {
    EXPECT_FALSE(KCrypt::Check("secret", lower.c_str()));
  }
  EXPECT_FALSE(KCrypt::Check("secret", nullptr));
}

TEST(KCryptTest, ShortSaltIsMadeFromTheClock) {
  for (const char* salt : {static_cast<const char*>(nullptr), "", "a"}) {
    std::time_t before = std::time(nullptr);
    std::string h = std::string(KCrypt::Crypt("pw", salt));
    std::time_t after = std::time(nullptr);
    bool matched = false;
    for (std::time_t t = before; t <= after; ++t) {
      char s[2];
      vxk_internal::CryptSaltForTime(t, s);
      matched = matched || h.compare(0, 2, s, 2) == 0;
    }
    EXPECT_TRUE(matched) << h;
    EXPECT_TRUE(KCrypt::Check("pw", h.c_str()));
  }
}

TEST(KCryptTest, SaltForTime) {
  // Expected values from t mod 2^32 computed in Python.
  struct {
    int64_t t;
    const char* salt;
  } cases[] = {{0, "a0"},          {1, "0b"},          {29, "1d"},        {2147483647, "6x"},
               {2147483648, "y6"}, {4294967297, "0b"}, {-1, "3v"}};
  for (const auto& c : cases) {
    char s[2];
    vxk_internal::CryptSaltForTime(c.t, s);
    EXPECT_EQ(std::string(s, 2), c.salt) << c.t;
  }
}

}  // namespace
