// KBSF Base64 and the str_ 8-to-6 bit form, checked against OpenSSL.
#include "vxkernel/text/KBSF.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/debug_capture.h"
#include "support/failing_new.h"
#include "vxkernel/text/str.h"

namespace {

std::vector<unsigned char> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<unsigned char> v(n);
  for (auto& b : v) b = static_cast<unsigned char>(rng());
  return v;
}

std::string OpenSslEncode(const std::vector<unsigned char>& v) {
  std::string out(4 * ((v.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), v.data(),
                                static_cast<int>(v.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Encode(const std::vector<unsigned char>& v) {
  std::unique_ptr<char[]> r(KBSF::ToBase64(v.data(), static_cast<long>(v.size())));
  return r ? std::string(r.get()) : std::string("<null>");
}

// Decodes text; "<fail>" when KBSF refuses it.
std::string Decode(const std::string& text) {
  std::string out(KBSF::Base64MaxDecodedLength(static_cast<long>(text.size())), '\0');
  long len = static_cast<long>(out.size());
  if (!KBSF::FromBase64(text.data(), static_cast<long>(text.size()), out.data(), len)) {
    EXPECT_EQ(len, -1);
    return "<fail>";
  }
  out.resize(static_cast<size_t>(len));
  return out;
}

// Every length up to 300 and a few megabytes: the encoding is OpenSSL's and decodes back to the
// bytes.
TEST(KBSFTest, EncodingMatchesOpenSslAndDecodesBack) {
  std::mt19937 rng(1);
  for (size_t n = 0; n <= 301; ++n) {
    const auto bytes = RandomBytes(rng, n <= 300 ? n : (3 << 20) + 2);
    const std::string expected = OpenSslEncode(bytes);
    ASSERT_EQ(Encode(bytes), expected) << "length " << n;
    ASSERT_EQ(KBSF::Base64EncodedLength(static_cast<long>(bytes.size())),
              static_cast<long>(expected.size()));
    ASSERT_TRUE(Decode(expected) == std::string(bytes.begin(), bytes.end())) << "length " << n;
  }
}

// Plain groups and padding are covered by the OpenSSL comparisons above: "=" in the third place
// ends the group (the fourth character is not read), concatenated encodings decode to the
// concatenated bytes, and anything else is refused with one line.
TEST(KBSFTest, PaddingEndsAGroupAndWhatIsNotBase64IsRefused) {
  EXPECT_EQ(Decode("YQ=x"), "a");
  EXPECT_EQ(Decode("YQ==YWI=YWJj"), "aababc");
  DebugCapture capture;
  const std::vector<std::string> bad{
      "YWJ", "YWJjY", "YW J", "YW\nJ", "Y-Jj", "=WJj", "Y=Jj", "YWJ\xff", std::string("YW\0j", 4)};
  for (const std::string& b : bad) {
    EXPECT_EQ(Decode(b), "<fail>") << b;  // no line breaks, no URL-safe alphabet
  }
  const auto texts = capture.Texts();
  ASSERT_EQ(texts.size(), 9u);
  EXPECT_EQ(texts[0], "KBSF::FromBase64 - length is not a multiple of 4: 3\n");
  EXPECT_EQ(texts[2], "KBSF::FromBase64 - invalid character at offset 2\n");
}

TEST(KBSFTest, RoomIsCheckedBeforeWriting) {
  DebugCapture capture;
  char out[8] = "XXXXXXX";
  unsigned char bytes[8];
  long small = 3, enough = 8, tooShort = 5, exact = 6;
  EXPECT_FALSE(KBSF::ToBase64("abcd", 4, out, small));
  EXPECT_EQ(small, -1);
  EXPECT_EQ(out[0], 'X');
  ASSERT_TRUE(KBSF::ToBase64("abcd", 4, out, enough));
  EXPECT_EQ(std::string(out, enough), "YWJjZA==");
  // Decoding needs n / 4 * 3 even when padding makes the output shorter.
  EXPECT_FALSE(KBSF::FromBase64("YWJjZA==", 8, bytes, tooShort));
  EXPECT_EQ(tooShort, -1);
  EXPECT_TRUE(KBSF::FromBase64("YWJjZA==", 8, bytes, exact));
  EXPECT_EQ(exact, 4);
  EXPECT_EQ(capture.Texts().size(), 2u);
  // Lengths whose encoding no long counts saturate instead of overflowing.
  EXPECT_EQ(KBSF::Base64EncodedLength(LONG_MAX), LONG_MAX);
  EXPECT_EQ(KBSF::Base64EncodedLength(LONG_MAX / 4 * 3), LONG_MAX / 4 * 4);
  // In place, the result is terminated.
  char buf[] = "aGVsbG8gd29ybGQ=", bad[] = "aGV*";
  long len = static_cast<long>(sizeof buf - 1), badLen = 4;
  ASSERT_TRUE(KBSF::FromBase64(buf, len));
  EXPECT_STREQ(buf, "hello world");
  EXPECT_EQ(len, 11);
  EXPECT_FALSE(KBSF::FromBase64(bad, badLen));
  EXPECT_EQ(badLen, -1);
}

// The length is checked before anything is read or allocated.
TEST(KBSFTest, AnEncodingNoLongCountsGivesNull) {
  ExpectDebug({"KBSF::ToBase64 - no memory for the encoding of 9223372036854775807 bytes\n"},
              [] { EXPECT_EQ(KBSF::ToBase64("abc", LONG_MAX), nullptr); });
}

#ifdef VXK_FAILING_NEW
TEST(KBSFTest, NoMemoryForTheEncodingGivesNull) {
  DebugCapture capture;
  failing_new::FailNth(1);
  char* out = KBSF::ToBase64("abc", 3);
  failing_new::FailNth(0);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(capture.All(), "KBSF::ToBase64 - no memory for the encoding of 3 bytes\n");
}
#endif

// ===== The 8-to-6 bit form =====

// A length divisible by 3 still gets a zero group.
TEST(Str8To6Test, EveryGroupIsBase64OfZeroPaddedBytes) {
  std::mt19937 rng(3);
  for (size_t n = 1; n < 60; ++n) {
    auto bytes = RandomBytes(rng, n);
    std::vector<unsigned char> padded = bytes;
    padded.resize((n / 3 + 1) * 3, 0);
    std::vector<char> buf(padded.size() / 3 * 4 + 5);
    ASSERT_EQ(str_encode8to6(reinterpret_cast<const char*>(bytes.data()), buf.data(),
                             static_cast<long>(buf.size()), static_cast<long>(n)),
              0);
    ASSERT_EQ(std::string(buf.data()), OpenSslEncode(padded)) << n;
    std::vector<char> back(padded.size());
    long outLen = -1;
    ASSERT_EQ(str_decode6to8(buf.data(), back.data(), static_cast<long>(back.size()), &outLen), 0);
    ASSERT_EQ(outLen, static_cast<long>(padded.size()));
    ASSERT_EQ(0, std::memcmp(back.data(), padded.data(), padded.size()));
  }
}

TEST(Str8To6Test, GroupsThatDoNotFitAreDropped) {
  char out[9];
  EXPECT_EQ(str_encode8to6("abc", out, 8, 0), 2);  // the zero group needs position 4 < 8 - 4
  EXPECT_STREQ(out, "YWJj");
  char small[2];
  long outLen = 0;
  EXPECT_EQ(str_decode6to8("YWJjYWJj", small, sizeof small, &outLen), 2);
  EXPECT_EQ(outLen, 0);
  char bytes[3], ref[3];
  EXPECT_EQ(str_decode6to8("Y*Jj", bytes, 3, &outLen), 0);  // "*" counts as 0, like "A"
  str_decode6to8("YAJj", ref, 3, nullptr);
  EXPECT_EQ(0, std::memcmp(bytes, ref, 3));
}

TEST(StrScrambleTest, DecodeUndoesEncodeAndTheKeyMatters) {
  std::mt19937 rng(4);
  for (int round = 0; round < 200; ++round) {
    std::string text(rng() % 40, ' ');
    for (char& c : text) c = static_cast<char>('a' + rng() % 26);
    const auto key = static_cast<unsigned short>(rng());
    std::vector<char> enc(text.size() + 1), dec(text.size() + 1);
    ASSERT_EQ(str_encode(text.c_str(), key, enc.data(), static_cast<long>(enc.size())), 0);
    if (std::memchr(enc.data(), 0, text.size()) != nullptr) continue;  // not NUL-safe
    ASSERT_EQ(str_decode(enc.data(), key, dec.data(), static_cast<long>(dec.size())), 0);
    ASSERT_EQ(std::string(dec.data()), text);
    if (text.empty()) continue;
    std::vector<char> other(text.size() + 1);
    str_encode(text.c_str(), static_cast<unsigned short>(key ^ 0x0101), other.data(),
               static_cast<long>(other.size()));
    ASSERT_NE(std::memcmp(other.data(), enc.data(), text.size()), 0);
  }
  char small[4];
  EXPECT_EQ(str_encode("abcdef", 1, small, sizeof small), 2);
  EXPECT_EQ(small[3], '\0');
}

}  // namespace
