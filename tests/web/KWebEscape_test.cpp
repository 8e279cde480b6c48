// Escapes: exact outputs per family, inverse pairs on random bytes, and the
// run-copying escapes, with either byte scanner, against a byte-at-a-time
// reference.
#include "vxkernel/web/KWebEscape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "text/text_mode_scope.h"
#include "web/escape_internal.h"

namespace {

std::string S(const KString& k) { return std::string(k, k.Length()); }
// Random non-NUL bytes, mostly letters so that runs are long, with specials
// and high bytes sprinkled in at random places.
std::string RandomText(std::mt19937& rng, size_t maxLength, unsigned specialPercent = 8) {
  static const char kSpecial[] = "<>\"&'\t\n\r\\%+`\x80\xE9\xFF";
  std::string s(rng() % maxLength, 'a');
  for (char& c : s) {
    const unsigned r = rng() % 100;
    if (r < specialPercent) c = kSpecial[rng() % (sizeof(kSpecial) - 1)];
    else if (r < 10) c = static_cast<char>(1 + rng() % 255);
    else c = static_cast<char>('a' + r % 26);
  }
  return s;
}

// The entity escapes one byte at a time, independent of the run scanner.
std::string Reference(const std::string& s, bool apos) {
  std::string out;
  for (char c : s) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else if (c == '&') out += "&amp;";
    else if (c == '\'' && apos) out += "&apos;";
    else out += c;
  }
  return out;
}

TEST(KWebEscape, ExactOutputs) {
  TextModeScope mode(TextModeScope::kSingleByte);
  const struct {
    KString got;
    std::string want;
  } rows[] = {
      {KWebEscape::Escape("a b/\xE9_Z9"), "a%20b%2F%E9_Z9"},
      {KWebEscape::Unescape("100%"), "100%"},
      {KWebEscape::Unescape("%4"), "%4"},
      {KWebEscape::Unescape("%41+%42%2b%6a"), "A B+j"},
      {KWebEscape::Unescape("%\xE9\xE9"), "\xB2"},  // bytes of 0x80 and above count as from 'A' up
      {KWebEscape::EscapeHTML("<\"&>'"), "&lt;&quot;&amp;&gt;'"},
      {KWebEscape::EscapeXML("<'"), "&lt;&apos;"},
      {KWebEscape::XMLString("'\t\n\r\"&<>"), "'&#9;&#10;&#13;&quot;&amp;&lt;&gt;"},
      {KWebEscape::EscapeQuotes("a'b''", '\'', '\\'), "a\\'b\\'\\'"},
      {KWebEscape::CString("a\"'\t\n\r\\"), "\"a\\\"'\\t\\n\\r\\\\\""},
      {KWebEscape::JString("a\"'"), "'a\"\\''"},
      {KWebEscape::XString("a\"'", 'x'), "xa\"'x"},
      {KWebEscape::XString("abc", '\0'), ""},
      {KWebEscape::EncodeForURL("\xE9\x80 "), "%C3%A9%E2%82%AC%20"},  // code page 1252
      {KWebEscape::DecodeForURL("%C3%A9%E2%82%AC+"), "\xE9\x80 "},
  };
  for (const auto& r : rows) EXPECT_EQ(S(r.got), r.want);
}

TEST(KWebEscape, DoubleByteCharactersAreCopiedWhole) {
  // 0x95 0x5C is one Shift-JIS character whose trail byte is a backslash.
  const char* text = "\x95\x5C\t\x95";  // ends in a lone lead byte
  {
    TextModeScope mode(TextModeScope::kShiftJis);
    EXPECT_EQ(S(KWebEscape::CString(text)), "\"\x95\x5C\\t\x95\"");
    EXPECT_EQ(S(KWebEscape::XMLString("\x95\x3C<")), "\x95\x3C&lt;");
    EXPECT_EQ(S(KWebEscape::EncodeForURL("\x93\xFA\x96\x7B")), "%E6%97%A5%E6%9C%AC");
    EXPECT_EQ(S(KWebEscape::DecodeForURL("%E6%97%A5%E6%9C%AC")), "\x93\xFA\x96\x7B");
  }
  TextModeScope mode(TextModeScope::kSingleByte);
  EXPECT_EQ(S(KWebEscape::CString(text)), "\"\x95\\\\\\t\x95\"");
}

TEST(KWebEscape, RandomTexts) {
  std::mt19937 rng(20261207);
  for (int i = 0; i < 2000; ++i) {
    // Every tenth text is mostly specials: its escape outgrows the first guess.
    const std::string b = RandomText(rng, i < 1900 ? 80 : 3000, i % 10 ? 8 : 95);
    {
      TextModeScope mode(TextModeScope::kSingleByte);
      EXPECT_EQ(S(KWebEscape::Unescape(KWebEscape::Escape(b.c_str()))), b);
      EXPECT_EQ(S(KWebEscape::EscapeHTML(b.c_str())), Reference(b, false));
      EXPECT_EQ(S(KWebEscape::EscapeXML(b.c_str())), Reference(b, true));
    }
    TextModeScope mode(TextModeScope::kUtf8);
    EXPECT_EQ(S(KWebEscape::DecodeForURL(KWebEscape::EncodeForURL(b.c_str()))), b);
  }
}

// The escaper as the escapes run it, with each byte scanner: written into
// a buffer of the input's length, measured where that stopped, and
// finished in a buffer of exactly the rest. Each buffer is a heap block of
// its size, as is the input, so a block read or written past one is
// reported under AddressSanitizer.
template <class Scan>
void EscapesLikeTheReference(const char* name) {
  static const vxk_internal::ByteReplacement kEntities[] = {
      {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'&', "&amp;"}, {'\'', "&apos;"}};
  const vxk_internal::ByteEscaper<5, Scan> escaper(kEntities);
  std::mt19937 rng(20261208);
  for (int i = 0; i < 1000; ++i) {
    const std::string b = RandomText(rng, 300, i % 10 ? 8 : 95);
    const std::string want = Reference(b, true);
    const auto in = std::make_unique<char[]>(b.size());
    std::copy(b.begin(), b.end(), in.get());
    const char* end = in.get() + b.size();
    const auto first = std::make_unique<char[]>(b.size());
    auto done = escaper.Write(in.get(), end, first.get(), first.get() + b.size());
    std::string got(first.get(), done.fOut);
    ASSERT_EQ(got.size() + escaper.Growth(done.fIn, end) + static_cast<size_t>(end - done.fIn), want.size()) << name << " " << i;
    const size_t rest = want.size() - got.size();
    const auto second = std::make_unique<char[]>(rest);
    done = escaper.Write(done.fIn, end, second.get(), second.get() + rest);
    got.append(second.get(), done.fOut);
    ASSERT_EQ(got, want) << name << " " << i;
  }
}

TEST(KWebEscape, EitherByteScannerEscapesLikeTheReference) {
  EscapesLikeTheReference<vxk_internal::ByteScanPortable>("portable");
#if defined(__SSE2__)
  EscapesLikeTheReference<vxk_internal::ByteScanSse2>("sse2");
#endif
}

}  // namespace
