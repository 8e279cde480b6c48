// Code-page conversions, checked against iconv called directly.
#include "vxkernel/text/codepage.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/debug_capture.h"
#include "text/text_mode_scope.h"

namespace {

// The oracle: one iconv call over the whole input; false when iconv rejects any of it.
bool Iconv(const char* from, const char* to, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(in.size() * 4 + 16, '\0');
  char *src = const_cast<char*>(in.data()), *dst = out->data();
  size_t srcLeft = in.size(), dstLeft = out->size();
  const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  const size_t f = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  iconv_close(cd);
  out->resize(out->size() - dstLeft);
  return r != static_cast<size_t>(-1) && f != static_cast<size_t>(-1) && srcLeft == 0;
}

std::string Bytes(const std::wstring& w) {
  return std::string(reinterpret_cast<const char*>(w.data()), w.size() * 4);
}

std::string FromHex(const char* hex) {
  std::string s;
  for (; hex[0] && hex[1]; hex += 2)
    s += static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16));
  return s;
}

// Every double-byte code of a code page that iconv accepts, concatenated.
std::string AllPairs(const char* name, int leadLo, int leadHi, int trailLo, int trailHi) {
  std::string all, tmp;
  for (int lead = leadLo; lead <= leadHi; ++lead) {
    for (int trail = trailLo; trail <= trailHi; ++trail) {
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      if (Iconv(name, "UTF-32LE", pair, &tmp) && tmp.size() == 4) all += pair;
    }
  }
  return all;
}

void ExpectMatchesIconv(unsigned codePage, const char* name, const std::string& text) {
  std::string ref;
  ASSERT_TRUE(Iconv(name, "UTF-32LE", text, &ref));
  const std::wstring w = mbtow(codePage, text);
  ASSERT_EQ(Bytes(w), ref) << name;
  std::string back;
  ASSERT_TRUE(Iconv("UTF-32LE", name, ref, &back));
  EXPECT_EQ(wtomb(codePage, w), back) << name;
}

// Every pair of the double-byte code pages, both ways.
TEST(CodePageTest, DoubleByteTablesMatchIconv) {
  const std::string sjis = AllPairs("CP932", 0x81, 0xFC, 0x40, 0xFC);
  const std::string hangul = AllPairs("CP949", 0x81, 0xFE, 0x41, 0xFE);
  ASSERT_GT(sjis.size(), 2 * 7000u);
  ASSERT_GT(hangul.size(), 2 * 8000u);
  ExpectMatchesIconv(932, "CP932", sjis);
  ExpectMatchesIconv(949, "CP949", hangul);
  EXPECT_EQ(sjtow(sjis), mbtow(932, sjis));
  EXPECT_EQ(wtosj(sjtow(sjis)), wtomb(932, sjtow(sjis)));
}

// Converters are pooled and shared between threads; each thread must still get its own converter
// (they carry shift state).
TEST(CodePageTest, ConcurrentConversionsStayCorrect) {
  const std::string sjis = AllPairs("CP932", 0x88, 0x89, 0x40, 0xFC);
  const std::string jis = FromHex("1b244230211b2842") + "x";  // ISO-2022-JP is stateful
  const std::wstring wSjis = sjtow(sjis), wJis = mbtow(50220, jis);
  ASSERT_EQ(wJis.size(), 2u);
  std::atomic<int> badSjis{0}, badJis{0}, badBack{0};
  {
    std::vector<std::jthread> threads(4);
    for (auto& t : threads) {
      t = std::jthread([&] {
        for (int i = 0; i < 200; ++i) {
          badSjis += sjtow(sjis) != wSjis;
          badJis += mbtow(50220, jis) != wJis;
          badBack += wtosj(wSjis) != sjis;
        }
      });
    }
  }
  EXPECT_EQ(badSjis, 0);
  EXPECT_EQ(badJis, 0);
  EXPECT_EQ(badBack, 0);
}

TEST(CodePageTest, MixedTextsMatchIconv) {
  ExpectMatchesIconv(
      932, "CP932",
      FromHex("93fa967b8cea82cc8365834c835883678141955c8ea682c68c9f8df58142b6c0b6c5"));
  ExpectMatchesIconv(949, "CP949", FromHex("c7d1b1b9beee20c5d8bdbac6aebfcd20b0cbbbf6"));
  ExpectMatchesIconv(65001, "UTF-8", "na\xc3\xafve \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80");
  ExpectMatchesIconv(1252, "CP1252", "caf\xe9 \x80 \x93quoted\x94");
  const std::string u8 = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e";
  EXPECT_EQ(utf8tow(u8), L"\u65e5\u672c\u8a9e");
  EXPECT_EQ(wtoutf8(L"\u65e5\u672c\u8a9e"), u8);
  EXPECT_EQ(utf8tow(u8.c_str(), 3), L"\u65e5");  // an explicit length
}

TEST(CodePageTest, InvalidBytesBecomeReplacementCharacters) {
  std::string ref;
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    const std::wstring w = mbtow(932, one);
    if (b == 0) {
      EXPECT_EQ(w, std::wstring(1, L'\0'));
    } else if (Iconv("CP932", "UTF-32LE", one, &ref)) {
      EXPECT_EQ(Bytes(w), ref) << b;
    } else {
      EXPECT_EQ(w, L"\xFFFD") << b;  // lone lead bytes and bytes CP932 lacks
    }
  }
  EXPECT_EQ(utf8tow("a\xff\x62\xe6\x97"), L"a\xFFFD\x62\xFFFD\xFFFD");  // a, bad, b, cut
  EXPECT_EQ(wtomb(1252, L"a\u65e5b"), "a?b");
  EXPECT_EQ(wtosj(L"\u00e9"), "?");
  // Past the last code point: the system's UTF-8 codec would pass these.
  EXPECT_EQ(utf8tow("\xF4\x8F\xBF\xBF\xF4\x90\x80\x80"), std::wstring(L"\U0010FFFF") + L"\xFFFD");
  const wchar_t beyond[] = {L'a', static_cast<wchar_t>(0x110000), static_cast<wchar_t>(0x7FFFFFFF),
                            0};
  EXPECT_EQ(wtoutf8(beyond), "a??");
}

TEST(CodePageTest, NullEmptyAndUnknown) {
  ExpectDebug({"mbtow - unsupported code page 12345\n", "wtomb - unsupported code page 12345\n"},
              [] {
                EXPECT_EQ(mbtow(932, nullptr), L"");
                EXPECT_EQ(wtomb(932, nullptr), "");
                EXPECT_EQ(mbtow(932, ""), L"");
                EXPECT_EQ(mbtow(12345, "abc"), L"");
                EXPECT_EQ(wtomb(12345, L"abc"), "");
              });
  EXPECT_TRUE(WCodePage::IsMultiByte(1252));
  EXPECT_FALSE(WCodePage::IsMultiByte(0));
}

// Code page 0 is the one the text mode implies (Western 1252 when single-byte).
TEST(CodePageTest, CodePageZeroFollowsTheSettings) {
  using Case = std::tuple<TextModeScope::Mode, std::string, std::wstring>;
  for (const auto& [m, text, wide] :
       {Case{TextModeScope::kShiftJis, FromHex("93fa967b"), L"\u65e5\u672c"},
        Case{TextModeScope::kSingleByte, "\xe9", L"\u00e9"},
        Case{TextModeScope::kUtf8, "\xc3\xa9", L"\u00e9"}}) {
    TextModeScope mode(m);
    EXPECT_EQ(atow(text), wide) << m;
    EXPECT_EQ(wtoa(wide), text) << m;
  }
}

TEST(CodePageTest, WideEnvironment) {
  ::setenv("VXK_CODEPAGE_TEST", "\xe6\x97\xa5-x", 1);
  EXPECT_EQ(WGetEnv(L"VXK_CODEPAGE_TEST"), L"\u65e5-x");
  ::unsetenv("VXK_CODEPAGE_TEST");
  EXPECT_EQ(WGetEnv(L"VXK_CODEPAGE_TEST"), L"");
  EXPECT_EQ(WGetEnv(nullptr), L"");
}

}  // namespace
