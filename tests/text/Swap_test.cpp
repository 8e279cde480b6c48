// Swap stream I/O: exact bytes, both stream kinds, damaged input.
#include "vxkernel/text/Swap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "support/debug_capture.h"

namespace {

// Runs the same writes on a FILE* and on a C++ stream and checks that both
// produced the expected bytes.
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

// Written through both stream kinds and read back through both.
TEST(SwapTest, IntegersAreLittleEndian) {
  const int32_t i4 = -0x789ABCDF + 0x10000000;  // 0x9765 4321
  const std::string bytes = WrittenByBoth([&](auto& s) {
    SwapWriteI1(s, int8_t{-2});
    SwapWriteI2(s, int16_t{0x1234});
    SwapWriteI4(s, i4);
  });
  EXPECT_EQ(bytes, "\xfe\x34\x12\x21\x43\x65\x97");
  std::istringstream in(bytes);
  std::FILE* f = FileWith(bytes);
  auto readBack = [&](auto& s) {
    int8_t a = 0;
    int16_t b = 0;
    int32_t c = 0;
    EXPECT_TRUE(SwapReadI1(s, &a) && SwapReadI2(s, &b) && SwapReadI4(s, &c));
    EXPECT_TRUE(a == -2 && b == 0x1234 && c == i4);
  };
  readBack(in);
  readBack(f);
  std::fclose(f);
}

TEST(SwapTest, StringFormat) {
  std::ostringstream out;
  SwapWriteStr(out, "");
  SwapWriteStr(out, nullptr);
  SwapWriteStr(out, "ab");
  EXPECT_EQ(out.str(), std::string("\x01\x00\x00\x01\x00\x00\x03\x00\x61\x62\x00", 11));  // .. "ab"

  // 32766 characters + NUL fit the 16-bit field; one more needs the escape.
  const std::string shortest(32766, 'x');
  const std::string longer(32767, 'y');
  std::ostringstream big;
  SwapWriteStr(big, shortest.c_str());
  SwapWriteStr(big, longer.c_str());
  const std::string b = big.str();
  EXPECT_EQ(b.substr(0, 2), "\xff\x7f");
  EXPECT_EQ(b.substr(2 + 32767, 6), std::string("\xff\xff\x00\x80\x00\x00", 6));
  std::istringstream in(b);
  EXPECT_EQ(std::string(SwapReadStr(in)), shortest);
  EXPECT_EQ(std::string(SwapReadStr(in)), longer);
}

TEST(SwapTest, ReadStrStopsAtTheFirstNul) {
  std::istringstream in(std::string("\x05\x00\x61\x62\x00\x63\x64", 7));  // 5: "ab\0cd"
  EXPECT_EQ(std::string(SwapReadStr(in)), "ab");
  int8_t v;
  EXPECT_FALSE(SwapReadI1(in, &v));  // the whole stored length was consumed
}

TEST(SwapTest, TruncatedInputFailsWithOneLine) {
  DebugCapture capture;
  std::istringstream shortInt(std::string("\x01", 1));
  int16_t v = 7;
  EXPECT_FALSE(SwapReadI2(shortInt, &v));
  EXPECT_EQ(v, 7);
  std::FILE* f = FileWith(std::string("\x09\x00\x61\x62\x63", 5));  // 9 claimed, "abc" there
  EXPECT_EQ(std::string(SwapReadStr(f)), "");
  std::fclose(f);
  std::istringstream huge(std::string("\xff\xff\xff\xff\xff\x7f\x61\x62\x63", 9));
  EXPECT_EQ(std::string(SwapReadStr(huge)), "");  // 2 GiB claimed, 3 bytes there
  char buf[4];
  std::istringstream bytes("ab");
  EXPECT_FALSE(SwapReadBytes(bytes, buf, 4));
  EXPECT_EQ(capture.Texts().size(), 4u);
  EXPECT_EQ(capture.Texts()[0], "SwapReadI2 - unexpected end of stream\n");
}

TEST(SwapTest, RawBytes) {
  const std::string bytes = WrittenByBoth([](auto& s) { SwapWriteBytes(s, "\x00\x01\xff", 3); });
  std::istringstream in(bytes);
  char buf[3];
  EXPECT_TRUE(SwapReadBytes(in, buf, 3) && std::string(buf, 3) == bytes && bytes == std::string("\0\1\xff", 3));
}

}  // namespace
