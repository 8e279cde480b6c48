// Swap stream I/O: exact bytes, both stream kinds, damaged input.
#include "vxkernel/text/Swap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "support/debug_capture.h"

namespace {

// Runs the same writes on a FILE* and on a C++ stream and checks that both produced the expected
// bytes.
template <typename WriteFn>
std::string WrittenByBoth(WriteFn write) {
  std::FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  write(f);
  std::ostringstream out;
  write(out);
  const std::string viaStream = out.str();
  std::string viaFile(viaStream.size() + 16, '\0');
  std::rewind(f);
  viaFile.resize(std::fread(viaFile.data(), 1, viaFile.size(), f));
  std::fclose(f);
  EXPECT_EQ(viaFile, viaStream);
  return viaStream;
}

std::FILE* FileWith(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

// Integers are little-endian. "" and null are stored alike; 32766 characters + NUL fit the 16-bit
// length, one more needs the escape FFFF and a 32-bit length. Written through both stream kinds,
// read back through both.
TEST(SwapTest, EveryKindWrittenAndReadBackThroughBothStreamKinds) {
  const int32_t i4 = -0x789ABCDF + 0x10000000;  // 0x97654321
  const std::string shortest(32766, 'x'), longer(32767, 'y');
  const std::string bytes = WrittenByBoth([&](auto& s) {
    SwapWriteI1(s, int8_t{-2});
    SwapWriteI2(s, int16_t{0x1234});
    SwapWriteI4(s, i4);
    SwapWriteStr(s, "");
    SwapWriteStr(s, nullptr);
    SwapWriteStr(s, "ab");
    SwapWriteBytes(s, "\0\1\xff", 3);
    SwapWriteStr(s, shortest.c_str());
    SwapWriteStr(s, longer.c_str());
  });
  EXPECT_EQ(bytes.substr(0, 23), std::string("\xfe\x34\x12\x21\x43\x65\x97"
                                             "\1\0\0\1\0\0\3\0ab\0\0\1\xff\xff\x7f",
                                             23));
  EXPECT_EQ(bytes.substr(23 + 32767, 6), std::string("\xff\xff\x00\x80\x00\x00", 6));
  std::istringstream in(bytes);
  std::FILE* f = FileWith(bytes);
  auto readBack = [&](auto& s) {
    int8_t a = 0;
    int16_t b = 0;
    int32_t c = 0;
    char raw[3];
    EXPECT_TRUE(SwapReadI1(s, &a));
    EXPECT_TRUE(SwapReadI2(s, &b));
    EXPECT_TRUE(SwapReadI4(s, &c));
    EXPECT_EQ(a, -2);
    EXPECT_EQ(b, 0x1234);
    EXPECT_EQ(c, i4);
    EXPECT_EQ(std::string(SwapReadStr(s)), "");
    EXPECT_EQ(std::string(SwapReadStr(s)), "");
    EXPECT_EQ(std::string(SwapReadStr(s)), "ab");
    ASSERT_TRUE(SwapReadBytes(s, raw, 3));
    EXPECT_EQ(std::string(raw, 3), std::string("\0\1\xff", 3));
    EXPECT_EQ(std::string(SwapReadStr(s)), shortest);
    EXPECT_EQ(std::string(SwapReadStr(s)), longer);
  };
  {
    SCOPED_TRACE("stream");
    readBack(in);
  }
  SCOPED_TRACE("FILE");
  readBack(f);
  std::fclose(f);
}

// A stored text ends at its first NUL, but its whole stored length is read.
TEST(SwapTest, ReadStrStopsAtTheFirstNul) {
  std::istringstream in(std::string("\x05\x00\x61\x62\x00\x63\x64", 7));  // 5: "ab\0cd"
  EXPECT_EQ(std::string(SwapReadStr(in)), "ab");
  int8_t v;
  EXPECT_FALSE(SwapReadI1(in, &v));
}

TEST(SwapTest, TruncatedInputOrAZeroLengthFailsWithOneLine) {
  std::istringstream shortInt(std::string("\x01", 1)), bytes("ab"), zero(std::string(2, '\0'));
  std::istringstream huge(std::string("\xff\xff\xff\xff\xff\x7f\x61\x62\x63", 9));  // 2 GiB
  std::FILE* f = FileWith(std::string("\x09\x00\x61\x62\x63", 5));  // 9 claimed, "abc" there
  int16_t v = 7;
  char buf[4];
  DebugCapture capture;
  EXPECT_FALSE(SwapReadI2(shortInt, &v));
  EXPECT_EQ(v, 7);
  EXPECT_EQ(std::string(SwapReadStr(zero)), "");
  EXPECT_EQ(std::string(SwapReadStr(f)), "");
  EXPECT_EQ(std::string(SwapReadStr(huge)), "");
  EXPECT_FALSE(SwapReadBytes(bytes, buf, 4));
  std::fclose(f);
  EXPECT_EQ(capture.Texts().size(), 5u);
  EXPECT_EQ(capture.Texts()[0], "SwapReadI2 - unexpected end of stream\n");
}

}  // namespace
