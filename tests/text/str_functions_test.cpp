// The str_ functions in each text mode: single-byte, double-byte with real Shift-JIS and Hangul
// text, and UTF-8. Modes are set through KIntl.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "text/text_mode_scope.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/text/str.h"

namespace {

using Mode = TextModeScope;

const char kHyou[] = "\x95\x5c";           // Shift-JIS "hyou", whose trail byte is a backslash
const char kNihon[] = "\x93\xfa\x96\x7b";  // two kanji

std::string T(const char* p) { return p ? std::string(p) : std::string("<null>"); }
// A new text, which it frees.
std::string Own(char* p) { return T(std::unique_ptr<char[]>(p).get()); }
long OwnLength(char* p) { return p ? static_cast<long>(Own(p).size()) : -1; }  // -1: none
// A count and the text it goes with.
std::string R(long n, const char* s) { return std::to_string(n) + ":" + s; }
// Where p points in s.
std::string At(const char* p, const char* s) { return p ? std::to_string(p - s) : "<null>"; }
std::string N(long n) { return std::to_string(n); }

int Sign(int v) { return (v > 0) - (v < 0); }

constexpr Mode::Mode S = Mode::kSingleByte, J = Mode::kShiftJis, H = Mode::kHangul, U = Mode::kUtf8,
                     B = Mode::kUtf8NoMultiByte;
// "a", hyou, a backslash, "b", hyou: a trail byte that is a backslash twice.
const char kText[] = "a\x95\x5c\\b\x95\x5c";

// A row's function of the text s.
#define F(expr) []([[maybe_unused]] char* s) { return expr; }

// A destination for the functions that write elsewhere.
char* D() {
  static char d[64];
  return d;
}
auto CopyN(long size, long n) {
  return [=](char* s) { return T(str_copy_n(D(), size, s, n)); };
}
auto Sub(long pos, long len) {
  return [=](char* s) { return T(str_sub(D(), s, pos, len)); };
}
auto Expand(long size, long tab) {
  return [=](char* s) { return R(str_expand(D(), size, s, tab), D()); };
}
auto Element(long n) {
  return [=](char* s) { return T(str_element(std::strcpy(D(), "x"), n, ',', s)); };
}
auto Unquote(long size) {
  return [=](char* s) { return R(str_unquote(D(), size, s), D()); };
}
auto QuoteInto(long size, char q) {
  return [=](char* s) { return T(str_quote(s, size, D(), q)); };
}

// Every edit, search and copy in every mode: the function's result on a copy of the input (the text
// it leaves, a count with its text, a position or a new text). Double-byte text is never split, and
// a trail byte never matches a single-byte character: Shift-JIS "hyou" 95 5C ends in a backslash, a
// Hangul pair may end in "a".
TEST(StrFunctionsTest, ResultsInEveryMode) {
  struct Case {
    Mode::Mode mode;
    const char* in;
    std::function<std::string(char*)> fn;
    std::string expected;
  } cases[] = {
      {S, "  \tA", F(R(str_compress(s), s)), "2: A"},
      {S, " a \t b\t", F(R(str_collapse(s), s)), "2:ab"},
      {S, " \t x y \n\r ", F(T(str_trim(s))), " \t x y"},
      {S, " \t x y \n\r ", F(T(str_trimlr(s))), "x y"},
      {S, "a\xa0", F(T(str_trimall(s))), "a\xa0"},  // never white space
      {S, "jean-paul DUPONT, o'neil", F(R(str_capitalize(s), s)), "24:Jean-paul Dupont, O'Neil"},
      {S, "2nd x", F(R(str_capitalize(s), s)), "5:2Nd X"},
      {S, "MiXeD 1", F(T(str_upper(s))), "MIXED 1"},
      {S, "MiXeD 1", F(T(str_lower(s))), "mixed 1"},
      {S, "a-b_c-", F(R(str_strip(s, "-_"), s)), "3:abc"},
      {S, "hello", F(T(str_translate_n(s, 4, "lol", "LOx"))), "heLLo"},  // first "l" wins
      {S, "", F(T(str_fill(s, '*', 3))), "***"},
      {S, "a\tbc\td  \t", Expand(16, 4), "9:a   bc  d"},
      {S, "\tx", Expand(16, 0), "5:    x"},  // tab < 1 means 4
      {S, "abcdefgh", Expand(6, 8), "-5:abcde"},
      {S, "abcdef", CopyN(16, 3), "abc"},
      {S, "abcdef", CopyN(3, 10), "ab"},
      {S, "abcdef", Sub(2, 3), "cde"},
      {S, "abcdef", Sub(4, 99), "ef"},
      {S, "abcdef", Sub(9, 2), ""},
      {S, "abcdef", F(Own(str_substring(s, 1, 2))), "bc"},
      {S, "abc", F(Own(str_substring(s, 1, 1L << 36))), "bc"},  // sized by the text
      {S, "abcdef", F(R(str_delete(s, 1, 2), s)), "4:adef"},
      {S, "adef", F(R(str_delete(s, 10, 2), s)), "4:adef"},
      {S, "adef", F(R(str_insert(s, 1, "XY"), s)), "6:aXYdef"},
      {S, "aXYdef", F(R(str_insert(s, 99, "!"), s)), "7:aXYdef!"},  // appended
      {S, "", F(Own(str_dup(nullptr))), ""},
      {S, "ab", F(Own(str_add(s, "cd"))), "abcd"},
      {S, "abcabc", F(Own(str_subtract(s, "bc"))), "aabc"},
      {S, "axc", F(Own(str_subtract(s, "bc"))), "axc"},
      {S, "a,b,,c", F(N(str_nsubelements(s, ','))), "4"},
      {S, "", F(N(str_nsubelements(s, ','))), "1"},
      {S, "a,b,,c", Element(2), ""},
      {S, "a,b,,c", Element(-5), "a"},
      {S, "a,b,,c", Element(3), "c"},
      {S, "a,b,,c", Element(4), "<null>"},
      {S, "a,b,,c", F(Own(str_subelement(s, 1, ','))), "b"},
      {S, "a,b,,c", F(Own(str_subelement(s, 4, ','))), "<null>"},
      {S, "it's", F(Own(str_quote(s, '\''))), "'it''s'"},
      {S, "it's 'x'", F(Own(str_munge_quotes(s))), "it''s ''x''"},
      {S, "'it''s'", Unquote(16), "4:it's"},
      {S, "\"a\"\"b\"", Unquote(16), "3:a\"b"},
      {S, "'a'b", Unquote(16), "4:'a'b"},    // more after the closing quote
      {S, "'open", Unquote(16), "5:'open"},  // never closed
      {S, "plain", Unquote(3), "2:pl"},
      {S, "it's", QuoteInto(6, '\''), "'it''"},  // a doubled quote goes in whole or not at all
      {S, "it's", QuoteInto(5, '\''), "'it"},
      {S, "ab", QuoteInto(5, '"'), "\"ab\""},
      {J, kText, F(At(str_DBCS_chr(s, '\\'), s)), "3"},
      {J, kText, F(At(str_DBCS_rchr(s, '\\'), s)), "3"},
      {J, kText, F(At(str_DBCS_chr(s, 0x955C), s)), "1"},
      {J, kText, F(At(str_DBCS_rchr(s, 0x955C), s)), "5"},
      {J, kText, F(At(str_DBCS_chr(s, 0), s)), "7"},
      {J, kText, F(At(str_DBCS_str(s, "\\b"), s)), "3"},
      {J, "\x95\x5cx", F(At(str_DBCS_str(s, "\\x"), s)), "<null>"},  // strstr finds it
      {J, kText, F(N(str_DBCS_cspn(s, "\\"))), "3"},
      {J, kText, F(N(str_DBCS_spn(s, "a\x95\x5c"))), "3"},
      {J, kText, F(N(str_nsubelements(s, '\\'))), "2"},
      {J, kText, F(R(str_strip(s, "\\"), s)), "6:a\x95\x5c\x62\x95\x5c"},
      {J, "\x95\x5c", F(Own(str_quote(s, '\\'))), "\\\x95\x5c\\"},
      {J, "a\x95\x5c\x5c", F(T(str_translate_n(s, 4, "\\", "/"))), "a\x95\x5c/"},
      {J, "a\x93\xfa", CopyN(16, 2), "a"},
      {J, "\x93\xfa\x96\x7b", CopyN(16, 3), "\x93\xfa"},
      {J, "\x93\xfa\x96\x7b", Sub(1, 2), "\x93\xfa"},  // 1 rounds down to 0
      {J, "\x93\xfa\x96\x7b", Sub(1, 3), "\x93\xfa"},  // end 3 rounds down to 2
      {J, "\x93\xfa\x96\x7b", F(R(str_delete(s, 3, 1), s)), "4:\x93\xfa\x96\x7b"},
      {J, "\x93\xfa\x96\x7b", F(R(str_delete(s, 3, 2), s)), "2:\x93\xfa"},
      {J, "\x93\xfa", F(R(str_insert(s, 1, "x"), s)), "3:x\x93\xfa"},
      {J, "a\x93\xfa\x96\x7b", F(N(str_length_in_chars(s))), "3"},
      {J, "a\x93\xfa\x96\x7b", F(N(str_byte_offset_to_char_offset(s, 2))), "2"},
      {J, "a\x93\xfa\x96\x7b", F(N(str_byte_offset_to_char_offset(s, 1))), "1"},
      {J, "", F(T(str_fill(s, 0x8140, 5))), "\x81\x40\x81\x40"},
      {J, "ab\x82\x61\x63\x64", F(T(str_upper(s))), "AB\x82\x61\x43\x44"},
      {J, "ab\x82\x60\x63\x64", F((str_capitalize(s), T(s))), "Ab\x82\x60\x43\x64"},
      {H, "\x81\x61\x61", F(T(str_upper(s))), "\x81\x61\x41"},
      {H, "\x81\x61", F(At(str_DBCS_chr(s, 'a'), s)), "<null>"},
      {H, "\xc7\xd1\xb1\xb9", F(N(str_length_in_chars(s))), "2"},
      {H, "\xc7\xd1\xb1\xb9", CopyN(16, 3), "\xc7\xd1"},
      {H, "\x81\x61,a", F(N(str_nsubelements(s, 'a'))), "2"},
      {U, "na\xc3\xafve", F(N(str_length_in_chars(s))), "5"},
      {U, "na\xc3\xafve", F(N(str_byte_offset_to_char_offset(s, 4))), "3"},
      {U, "na\xc3\xafve", Sub(3, 2), "\xc3\xaf"},  // 3 rounds down to 2
      {B, "na\xc3\xafve", F(N(str_length_in_chars(s))), "6"},
      {B, "na\xc3\xafve", Sub(3, 2), "\xafv"},
      // A cut UTF-8 sequence is dropped whatever the multibyte setting.
      {B, "\xe6\x97\xa5\xe6\x9c\xac", CopyN(16, 5), "\xe6\x97\xa5"},
      {B, "\xe6\x97\xa5\xe6\x9c\xac", CopyN(16, 4), "\xe6\x97\xa5"},
      {B, "\xe6\x97\xa5\xe6\x9c\xac", CopyN(16, 6), "\xe6\x97\xa5\xe6\x9c\xac"},
      {B, "\xf0\x9f\x98\x80", CopyN(16, 3), ""},
  };
  for (const Case& c : cases) {
    Mode mode(c.mode);
    char text[32];
    std::strcpy(text, c.in);
    EXPECT_EQ(c.fn(text), c.expected) << "mode " << c.mode << ": " << c.in;
  }
  Mode mode(S);
  long* map = nullptr;
  EXPECT_EQ(str_elements_map("a,b,,c", ',', map), 4);
  // The separators, then the length (the spare last entry holds it again).
  EXPECT_EQ(std::vector<long>(map, map + 5), (std::vector<long>{1, 3, 4, 6, 6}));
  delete[] map;
}

// Blank-extended and bounded comparisons against formulations that do not share the walk: padding
// with spaces, and the C library.
TEST(StrSingleByteTest, ComparisonsAgainstReferences) {
  Mode mode(Mode::kSingleByte);
  std::mt19937 rng(11);
  const char alphabet[] = " !aAbB\x1f\x7f\x80\xff";
  for (int i = 0; i < 20000; ++i) {
    std::string a(rng() % 8, ' '), b(rng() % 8, ' ');
    for (char& c : a) c = alphabet[rng() % (sizeof alphabet - 1)];
    for (char& c : b) c = alphabet[rng() % (sizeof alphabet - 1)];
    const size_t width = std::max(a.size(), b.size());
    const std::string pa = a + std::string(width - a.size(), ' ');
    const std::string pb = b + std::string(width - b.size(), ' ');
    ASSERT_EQ(Sign(str_cmpbe(a.c_str(), b.c_str(), false)), Sign(pa.compare(pb))) << a << "|" << b;
    std::string ua = pa, ub = pb;
    for (char& c : ua) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : ub) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(Sign(str_cmpbeu(a.c_str(), b.c_str())), Sign(ua.compare(ub)));
    const long n = static_cast<long>(rng() % 9);
    ASSERT_EQ(str_DBCS_ncmp(a.c_str(), b.c_str(), n, false),
              Sign(std::strncmp(a.c_str(), b.c_str(), n)));
    ASSERT_EQ(Sign(str_ncmpu(a.c_str(), b.c_str(), n)), Sign(strncasecmp(a.c_str(), b.c_str(), n)));
  }
  EXPECT_EQ(str_cmpbe("ab", "ab !", false), ' ' - '!');
  EXPECT_EQ(str_cmpu(nullptr, "x"), 0);
  EXPECT_FALSE(str_is_lead_byte(0x81));
}

TEST(StrSingleByteTest, InternationalComparisonUsesCollation) {
  Mode mode(Mode::kUtf8);
  KIntl::IntlStrings(false);
  // Byte order.
  EXPECT_EQ(str_cmp_intl("B", "a"), -1);
  EXPECT_EQ(str_cmpu_intl("B", "a"), 1);
  KIntl::IntlStrings(true);
  const std::string saved = std::setlocale(LC_COLLATE, nullptr);
  if (std::setlocale(LC_COLLATE, "C.UTF-8") != nullptr) {
    // By code point.
    EXPECT_EQ(str_cmp_intl("\xc3\xa9", "z"), 1);
    EXPECT_EQ(str_cmpu_intl("abc", "ABC"), 0);
  }
  std::setlocale(LC_COLLATE, saved.c_str());
}

TEST(StrShiftJisTest, ComparisonValuesWholeCharactersAndLeadBytesFollowTheCodePage) {
  Mode mode(Mode::kShiftJis);
  EXPECT_EQ(str_DBCS_cmp("\x93\xfa", "\x93\xfb", false), -1);
  // Half-width katakana B1 is one byte, valued below every pair, although its byte is above the
  // lead byte 81.
  EXPECT_LT(str_DBCS_cmp("\xb1", "\x81\x40", false), 0);
  EXPECT_TRUE(KString("\xb1") < KString("\x81\x40"));
  // Ignoring case folds single bytes only: the trail 61 ("a") stays.
  EXPECT_EQ(str_DBCS_cmp("x\x82\x61", "X\x82\x61", true), 0);
  EXPECT_EQ(str_DBCS_cmp("\x82\x61", "\x82\x41", true), 0x20);
  EXPECT_EQ(str_DBCS_ncmp("\x93\xfa\x61", "\x93\xfa\x62", 2, false), 0);  // ...a / ...b
  EXPECT_NE(str_DBCS_ncmp("\x93\xfa\x61", "\x93\xfa\x62", 3, false), 0);
  EXPECT_EQ(str_cmpbe("\x93\xfa", "\x93\xfa  ", false), 0);
  EXPECT_TRUE(str_is_lead_byte(0x81));
  EXPECT_TRUE(str_is_lead_byte(0x9F));
  EXPECT_FALSE(str_is_lead_byte(0xA1));
  EXPECT_TRUE(str_is_lead_byte_ex(0x95, 932));
  EXPECT_TRUE(str_is_lead_byte_ex(0xA1, 949));
  EXPECT_FALSE(str_is_lead_byte_ex(0xA1, 932));
  EXPECT_FALSE(str_is_lead_byte_ex(0x95, 1252));
  Mode hangul(Mode::kHangul);
  EXPECT_EQ(str_DBCS_cmp("\x81\x61", "\x81\x41", true), 0x20);
  Mode utf8(Mode::kUtf8);
  EXPECT_TRUE(str_is_lead_byte(0xC3));
  EXPECT_FALSE(str_is_lead_byte(0x80));
  EXPECT_EQ(str_DBCS_cmp("\xc3\xa9", "z", false), 1);
}

std::string FromHex(const std::string& hex) {
  std::string s;  // "-": none
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    s += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return s;
}

TEST(StrSjis2JisTest, MatchesPythonCodecsWithNfkcKana) {
  std::ifstream cases(VXK_FIXTURES_DIR "/sjis2jis_cases.txt");
  ASSERT_TRUE(cases.good());
  std::string in, out;
  int n = 0;
  for (; cases >> in >> out; ++n)
    EXPECT_EQ(Own(str_sjis2jis(FromHex(in).c_str())), FromHex(out)) << in;
  EXPECT_GT(n, 190);
  EXPECT_EQ(Own(str_sjis2jis(nullptr)), "<null>");
}

// ===== Every mode: damaged and random text =====

// Texts made of lead bytes, trail bytes that look like ASCII, UTF-8 pieces and separators, each in
// an allocation of exactly its size, so the sanitizer build catches any read past the terminator.
TEST(StrRandomTextTest, NoFunctionReadsPastTheTextInAnyMode) {
  const unsigned char pieces[] = {0x81, 0x95, 0x5c, 'a',  'e',  ' ', '\t', '-',  '\n', 0xe6,
                                  0x97, 0xa5, 0xc3, 0xa1, 0xde, ',', '\'', 0xf0, 0xfe, 0x41};
  std::mt19937 rng(21);
  for (Mode::Mode m :
       {Mode::kSingleByte, Mode::kShiftJis, Mode::kHangul, Mode::kUtf8, Mode::kUtf8NoMultiByte}) {
    Mode mode(m);
    for (int round = 0; round < 3000; ++round) {
      const size_t n = rng() % 24;
      std::unique_ptr<char[]> text(new char[n + 1]);
      for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>(pieces[rng() % sizeof pieces]);
      text[n] = '\0';
      const char* t = text.get();
      char big[256];
      const long len = static_cast<long>(n);
      const long pos = static_cast<long>(rng() % (n + 2));
      const long cnt = static_cast<long>(rng() % (n + 2));
      auto inside = [&](const char* p) { return p == nullptr || (p >= t && p <= t + n); };
      auto edited = [&](auto fn) { return fn(std::strcpy(big, t)); };
      ASSERT_LE(str_length_in_chars(t), len);
      ASSERT_LE(str_byte_offset_to_char_offset(t, len + 5), str_length_in_chars(t));
      str_copy_n(big, sizeof big, t, cnt);
      ASSERT_EQ(std::strncmp(big, t, std::strlen(big)), 0);  // a prefix
      ASSERT_LE(static_cast<long>(std::strlen(str_sub(big, t, pos, cnt))), cnt);
      ASSERT_LE(OwnLength(str_substring(t, pos, cnt)), cnt);
      ASSERT_LE(edited([&](char* b) { return str_delete(b, pos, cnt); }), len);
      ASSERT_EQ(edited([&](char* b) { return str_insert(b, pos, "xy"); }), len + 2);
      for (auto fn : {str_compress, str_collapse, str_capitalize}) ASSERT_LE(edited(fn), len);
      ASSERT_LE(std::strlen(edited([](char* b) { return str_trimlr(str_upper(b)); })), n);
      ASSERT_LE(edited([](char* b) { return str_strip(b, "\x95\x5c,"); }), len);
      ASSERT_GE(str_nsubelements(t, ','), 1);
      long* map = nullptr;
      ASSERT_EQ(str_elements_map(t, '\\', map), str_nsubelements(t, '\\'));
      ASSERT_EQ(map[str_nsubelements(t, '\\')], len);
      delete[] map;
      ASSERT_LE(OwnLength(str_subelement(t, static_cast<long>(rng() % 4), ',')), len);
      ASSERT_GE(OwnLength(str_quote(t, '\'')), len + 2);
      ASSERT_GE(OwnLength(str_munge_quotes(t)), len);
      ASSERT_LE(str_unquote(big, sizeof big, t), len);
      const long room = 1 + static_cast<long>(rng() % 12);
      ASSERT_LT(static_cast<long>(std::strlen(str_quote(t, room, big, '"'))), room);
      ASSERT_LE(OwnLength(str_sjis2jis(t)), 8 * len + 8);
      ASSERT_TRUE(inside(str_DBCS_chr(t, 0x955c)));
      ASSERT_TRUE(inside(str_DBCS_rchr(t, '\\')));
      ASSERT_TRUE(inside(str_DBCS_str(t, "\x5c,")));
      ASSERT_LE(str_DBCS_spn(t, "a\x95\x5c") + str_DBCS_cspn(t, ","), 2 * len);
      ASSERT_EQ(Sign(str_cmpbe(t, "a ", true)), -Sign(str_cmpbe("a ", t, true)));
      ASSERT_EQ(Sign(str_DBCS_ncmp(t, "\x95\x5c", 3, true)),
                -Sign(str_DBCS_ncmp("\x95\x5c", t, 3, true)));
      ASSERT_EQ(str_DBCS_cmp(t, t, false), 0);
      // Line breaking consumes the whole text in finitely many lines.
      const char* rest = t;
      int lines = 0;
      while (rest != nullptr && lines <= static_cast<int>(n) + 1) {
        rest = str_hyphenate(rest, big, 8, 4, nullptr, nullptr, 0);
        ++lines;
      }
      ASSERT_EQ(rest, nullptr) << "text of " << n << " bytes not consumed";
    }
  }
}

// ===== Line breaking =====

long DoubleWidth(void*, const char*, long n) { return 2 * n; }

// Each case: the line written ("*": not looked at) and the rest returned ("<null>": the text was
// used up).
TEST(StrHyphenateTest, BreaksAtSpacesHyphensLineFeedsAndAfterTheLastVowel) {
  const std::string jp = std::string(kNihon) + kNihon + kHyou;  // five pairs
  struct Case {
    Mode::Mode mode;
    std::string src;
    long maxWidth, maxChars;
    str_width_fn fn;
    std::string text, rest;
  } cases[] = {
      // Stopped right before a space: still cut back to the last break inside.
      {Mode::kSingleByte, "  hello world foo", 11, 0, nullptr, "hello", " world foo"},
      {Mode::kSingleByte, "hello wonderful", 11, 0, nullptr, "hello", " wonderful"},
      {Mode::kSingleByte, "well-known fact", 8, 0, nullptr, "well", "-known fact"},
      {Mode::kSingleByte, "ab\ncd", 10, 0, nullptr, "ab", "cd"},
      {Mode::kSingleByte, "short", 10, 0, nullptr, "short", ""},
      {Mode::kSingleByte, "    ", 10, 0, nullptr, "*", "<null>"},
      {Mode::kSingleByte, "", 10, 0, nullptr, "*", "<null>"},
      {Mode::kSingleByte, "hello world", 12, 0, DoubleWidth, "hello", "*"},  // 6 characters fit
      {Mode::kSingleByte, "internationalization", 8, 0, nullptr, "interna-", "tionalization"},
      {Mode::kSingleByte, "rhythm", 4, 0, nullptr, "rhyt-", "hm"},  // no vowel: full width
      // Japanese text is cut whole and without a hyphen; maxChars counts characters.
      {Mode::kShiftJis, jp, 5, 0, nullptr, kNihon, std::string(kNihon) + kHyou},
      {Mode::kShiftJis, jp, 100, 3, nullptr, std::string(kNihon) + "\x93\xfa", "*"},
      {Mode::kShiftJis, "internationalization", 8, 0, nullptr, "internat", "*"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.src);
    Mode mode(c.mode);
    char dst[64];
    const char* rest =
        str_hyphenate(c.src.c_str(), dst, sizeof dst, c.maxWidth, c.fn, nullptr, c.maxChars);
    if (c.text != "*") {
      EXPECT_EQ(dst, c.text);
    }
    if (c.rest != "*") {
      EXPECT_EQ(T(rest), c.rest);
    }
  }
}

}  // namespace
