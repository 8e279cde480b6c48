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

// Bits 0-63 of a one-bit-per-byte block from 8 bytes, first bit most significant.
std::string Bits(const unsigned char* bytes) {
  std::string bits(130, '\0');
  for (int i = 0; i < 64; ++i) bits[i] = static_cast<char>((bytes[i / 8] >> (7 - i % 8)) & 1);
  return bits;
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

TEST(CryptCoreTest, DesMatchesOpenSslAndTheTextbookVector) {
  std::mt19937 rng(1234);
  CryptCore core;
  for (int n = 0; n <= 2000; ++n) {
    DES_cblock key, in, out;
    for (int i = 0; i < 16; ++i) (i < 8 ? key : in)[i % 8] = static_cast<unsigned char>(rng());
    DES_key_schedule ks;
    DES_set_key_unchecked(&key, &ks);
    DES_ecb_encrypt(&in, &out, &ks, DES_ENCRYPT);
    if (n == 2000) {  // without the oracle
      std::memcpy(key, "\x13\x34\x57\x79\x9B\xBC\xDF\xF1", 8);
      std::memcpy(in, "\x01\x23\x45\x67\x89\xAB\xCD\xEF", 8);
      std::memcpy(out, "\x85\xE8\x13\x54\x0F\x0A\xB4\x05", 8);
    }
    std::string block = Bits(in);
    core.crypt_pw_makekey(Bits(key).data());
    core.crypt_pw_encrypt(block.data());
    ASSERT_EQ(block, Bits(out)) << "case " << n;
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
  EXPECT_EQ(std::string(KCrypt::Crypt("", "..")), "..Ki63KrfKIRdRcQQxGFC");
  EXPECT_EQ(std::string(KCrypt::Crypt("correct horse battery staple", "Zz")), "ZzjMYh2jZLcNFmFABAcCz");
}

TEST(KCryptTest, WhatCounts) {
  auto h = [](const char* pw, const char* salt) { return std::string(KCrypt::Crypt(pw, salt)).substr(2); };
  EXPECT_EQ(h(nullptr, "xy"), h("\x80", "xy"));  // (which characters count: OneWayMatchesBitBlockPasses)
  // Outside the alphabet: '!' is 33 - 46 = -13, low bits 51 ('n'); 0xFF is 196, 4 ('2').
  EXPECT_EQ(h("pw", "!\xFF"), h("pw", "n2"));
}

TEST(KCryptTest, CheckComparesTheFirst21Characters) {
  std::string h(KCrypt::Crypt("secret", "q7"));
  EXPECT_TRUE(KCrypt::Check("secret", (h + "trailing").c_str()));
  EXPECT_FALSE(KCrypt::Check("Secret", h.c_str()));
  EXPECT_FALSE(KCrypt::Check("secret", h.substr(0, 20).c_str()));
  EXPECT_FALSE(KCrypt::Check("secret", nullptr));
}

TEST(KCryptTest, ShortSaltIsMadeFromTheClock) {
  std::time_t before = std::time(nullptr);
  std::string h(KCrypt::Crypt("pw", "a"));
  bool matched = false;
  for (std::time_t t = before; t <= std::time(nullptr); ++t) {
    char s[2];
    vxk_internal::CryptSaltForTime(t, s);
    matched = matched || h.compare(0, 2, s, 2) == 0;
  }
  EXPECT_TRUE(matched) << h;
  // Times modulo 2^32, as Python computes them.
  const std::pair<int64_t, std::string> cases[] = {{0, "a0"}, {1, "0b"}, {2147483648, "y6"}, {-1, "3v"}};
  for (const auto& [t, salt] : cases) {
    char s[2];
    vxk_internal::CryptSaltForTime(t, s);
    EXPECT_EQ(std::string(s, 2), salt) << t;
  }
}

}  // namespace
