// The str_ functions in each text mode: single-byte, double-byte with real
// Shift-JIS and Hangul text, and UTF-8. Modes are set through KIntl.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <fstream>
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

// Shift-JIS: "hyou" (table) is 95 5C, whose trail byte is a backslash.
const char kHyou[] = "\x95\x5c";
const char kNihon[] = "\x93\xfa\x96\x7b";  // two kanji
// Hangul code page: a pair whose trail byte is the letter "a".
const char kHangulA[] = "\x81\x61";

std::string Own(char* p) {
  std::unique_ptr<char[]> owned(p);
  return p ? std::string(p) : std::string("<null>");
}

int Sign(int v) { return (v > 0) - (v < 0); }

// ===== Single-byte =====

TEST(StrSingleByteTest, WhiteSpace) {
  Mode mode(Mode::kSingleByte);
  char a[] = "  \tA";
  EXPECT_EQ(str_compress(a), 2);
  EXPECT_STREQ(a, " A");
  char b[] = " a \t b\t";
  EXPECT_EQ(str_collapse(b), 2);
  EXPECT_STREQ(b, "ab");
  char c[] = " \t x y \n\r ";
  EXPECT_STREQ(str_trim(c), " \t x y");
  EXPECT_STREQ(str_trimlr(c), "x y");
  char d[] = "a\xa0";  // bytes above 0x7F are never white space
  EXPECT_STREQ(str_trimall(d), "a\xa0");
}

TEST(StrSingleByteTest, CaseAndWords) {
  Mode mode(Mode::kSingleByte);
  char a[] = "jean-paul DUPONT, o'neil 2nd";
  EXPECT_EQ(str_capitalize(a), static_cast<long>(std::strlen(a)));
  EXPECT_STREQ(a, "Jean-paul Dupont, O'Neil 2Nd");
  char b[] = "MiXeD 1";
  EXPECT_STREQ(str_upper(b), "MIXED 1");
  EXPECT_STREQ(str_lower(b), "mixed 1");
}

TEST(StrSingleByteTest, StripTranslateFillExpand) {
  Mode mode(Mode::kSingleByte);
  char a[] = "a-b_c-";
  EXPECT_EQ(str_strip(a, "-_"), 3);
  EXPECT_STREQ(a, "abc");
  char b[] = "hello";
  EXPECT_STREQ(str_translate_n(b, 4, "lol", "LOx"), "heLLo");  // first "l" wins; only 4 bytes
  char c[8];
  EXPECT_STREQ(str_fill(c, '*', 3), "***");
  char d[16];
  EXPECT_EQ(str_expand(d, sizeof d, "a\tbc\td  \t", 4), 9);
  EXPECT_STREQ(d, "a   bc  d");
  EXPECT_EQ(str_expand(d, sizeof d, "\tx", 0), 5);  // tab < 1 means 4
  EXPECT_EQ(str_expand(d, 6, "abcdefgh", 8), -5);
  EXPECT_STREQ(d, "abcde");
}

TEST(StrSingleByteTest, SubstringsAndEditing) {
  Mode mode(Mode::kSingleByte);
  char dst[16];
  EXPECT_STREQ(str_copy_n(dst, sizeof dst, "abcdef", 3), "abc");
  EXPECT_STREQ(str_copy_n(dst, 3, "abcdef", 10), "ab");
  EXPECT_STREQ(str_sub(dst, "abcdef", 2, 3), "cde");
  EXPECT_STREQ(str_sub(dst, "abcdef", 4, 99), "ef");
  EXPECT_STREQ(str_sub(dst, "abcdef", 9, 2), "");
  EXPECT_EQ(Own(str_substring("abcdef", 1, 2)), "bc");
  EXPECT_EQ(Own(str_substring("abc", 1, 1L << 36)), "bc");  // sized by the text, not by len
  char e[16] = "abcdef";
  EXPECT_EQ(str_delete(e, 1, 2), 4);
  EXPECT_STREQ(e, "adef");
  EXPECT_EQ(str_delete(e, 10, 2), 4);
  EXPECT_EQ(str_insert(e, 1, "XY"), 6);
  EXPECT_STREQ(e, "aXYdef");
  EXPECT_EQ(str_insert(e, 99, "!"), 7);  // past the end: appended
  EXPECT_STREQ(e, "aXYdef!");
  EXPECT_EQ(Own(str_dup(nullptr)), "");
  EXPECT_EQ(Own(str_add("ab", "cd")), "abcd");
  EXPECT_EQ(Own(str_subtract("abcabc", "bc")), "aabc");
  EXPECT_EQ(Own(str_subtract("abc", "x")), "abc");
  EXPECT_EQ(str_length_in_chars("abc"), 3);
}

TEST(StrSingleByteTest, Elements) {
  Mode mode(Mode::kSingleByte);
  EXPECT_EQ(str_nsubelements("a,b,,c", ','), 4);
  EXPECT_EQ(str_nsubelements("", ','), 1);
  char dst[8] = "x";
  EXPECT_STREQ(str_element(dst, 2, ',', "a,b,,c"), "");
  EXPECT_STREQ(str_element(dst, 0, ',', "a,b,,c"), "a");
  EXPECT_STREQ(str_element(dst, -5, ',', "a,b,,c"), "a");
  EXPECT_STREQ(str_element(dst, 3, ',', "a,b,,c"), "c");
  EXPECT_EQ(str_element(dst, 4, ',', "a,b,,c"), nullptr);
  EXPECT_EQ(Own(str_subelement("a,b,,c", 1, ',')), "b");
  EXPECT_EQ(Own(str_subelement("a,b,,c", 4, ',')), "<null>");
  long* map = nullptr;
  EXPECT_EQ(str_elements_map("a,b,,c", ',', map), 4);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(std::vector<long>(map, map + 5), (std::vector<long>{-1, 1, 3, 4, 6}));
  delete[] map;
}

TEST(StrSingleByteTest, Quoting) {
  Mode mode(Mode::kSingleByte);
  EXPECT_EQ(Own(str_quote("it's", '\'')), "'it''s'");
  EXPECT_EQ(Own(str_munge_quotes("it's 'x'")), "it''s ''x''");
  char dst[16];
  EXPECT_EQ(str_unquote(dst, sizeof dst, "'it''s'"), 4);
  EXPECT_STREQ(dst, "it's");
  EXPECT_EQ(str_unquote(dst, sizeof dst, "\"a\"\"b\""), 3);
  EXPECT_STREQ(dst, "a\"b");
  EXPECT_EQ(str_unquote(dst, sizeof dst, "'a'b"), 4);  // more after the closing quote
  EXPECT_STREQ(dst, "'a'b");
  EXPECT_EQ(str_unquote(dst, sizeof dst, "'open"), 5);  // never closed
  EXPECT_STREQ(dst, "'open");
  EXPECT_EQ(str_unquote(dst, 3, "plain"), 2);
  EXPECT_STREQ(dst, "pl");
  // Bounded quoting: a doubled quote goes in whole or not at all.
  EXPECT_STREQ(str_quote("it's", 6, dst, '\''), "'it''");
  EXPECT_STREQ(str_quote("it's", 5, dst, '\''), "'it");
  EXPECT_STREQ(str_quote("ab", 5, dst, '"'), "\"ab\"");
}

// Blank-extended and bounded comparisons against formulations that do not
// share the walk: padding with spaces, and the C library.
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
  EXPECT_EQ(str_cmpbe("ab", "ab  ", false), 0);
  EXPECT_EQ(str_cmpbe("ab", "ab !", false), ' ' - '!');
  EXPECT_EQ(str_cmpu(nullptr, "x"), 0);
  EXPECT_FALSE(str_is_lead_byte(0x81));
}

TEST(StrSingleByteTest, InternationalComparisonUsesCollation) {
  Mode mode(Mode::kUtf8);
  KIntl::IntlStrings(false);
  EXPECT_EQ(str_cmp_intl("B", "a"), -1);  // byte order
  EXPECT_EQ(str_cmpu_intl("B", "a"), 1);
  KIntl::IntlStrings(true);
  const std::string saved = std::setlocale(LC_COLLATE, nullptr);
  if (std::setlocale(LC_COLLATE, "C.UTF-8") != nullptr) {
    EXPECT_EQ(str_cmp_intl("\xc3\xa9", "z"), 1);  // U+00E9 after z by code point
    EXPECT_EQ(str_cmpu_intl("abc", "ABC"), 0);
  }
  std::setlocale(LC_COLLATE, saved.c_str());
}

// ===== Double-byte: Shift-JIS =====

TEST(StrShiftJisTest, TrailByteNeverMatchesBackslash) {
  Mode mode(Mode::kShiftJis);
  EXPECT_EQ(str_DBCS_chr(kHyou, '\\'), nullptr);
  EXPECT_EQ(str_DBCS_rchr(kHyou, '\\'), nullptr);
  const std::string text = std::string("a") + kHyou + "\\b" + kHyou;
  EXPECT_EQ(str_DBCS_chr(text.c_str(), '\\'), text.c_str() + 3);
  EXPECT_EQ(str_DBCS_rchr(text.c_str(), '\\'), text.c_str() + 3);
  EXPECT_EQ(str_DBCS_chr(text.c_str(), 0x955C), text.c_str() + 1);
  EXPECT_EQ(str_DBCS_rchr(text.c_str(), 0x955C), text.c_str() + 5);
  EXPECT_EQ(str_DBCS_chr(text.c_str(), 0), text.c_str() + text.size());
  const std::string trap = std::string(kHyou) + "x";
  EXPECT_NE(std::strstr(trap.c_str(), "\\x"), nullptr);  // the byte-wise search is fooled
  EXPECT_EQ(str_DBCS_str(trap.c_str(), "\\x"), nullptr);
  EXPECT_EQ(str_DBCS_str(text.c_str(), "\\b"), text.c_str() + 3);
  EXPECT_EQ(str_DBCS_cspn(text.c_str(), "\\"), 3);
  EXPECT_EQ(str_DBCS_spn(text.c_str(), "a\x95\x5c"), 3);
  EXPECT_EQ(str_nsubelements(text.c_str(), '\\'), 2);
  char stripped[16];
  std::strcpy(stripped, text.c_str());
  EXPECT_EQ(str_strip(stripped, "\\"), 6);
  EXPECT_EQ(std::string(stripped), std::string("a") + kHyou + "b" + kHyou);
  EXPECT_EQ(Own(str_quote(kHyou, '\\')), std::string("\\") + kHyou + "\\");
  char translated[8] = "a\x95\x5c\x5c";
  EXPECT_STREQ(str_translate_n(translated, 4, "\\", "/"), "a\x95\x5c/");  // the trail byte stays
}

TEST(StrShiftJisTest, ComparisonValuesWholeCharacters) {
  Mode mode(Mode::kShiftJis);
  EXPECT_EQ(str_DBCS_cmp("\x93\xfa", "\x93\xfb", false), -1);
  // Half-width katakana B1 is one byte, valued below every pair, although
  // its byte is above the lead byte 81.
  EXPECT_LT(str_DBCS_cmp("\xb1", "\x81\x40", false), 0);
  EXPECT_GT(std::strcmp("\xb1", "\x81\x40"), 0);
  EXPECT_TRUE(KString("\xb1") < KString("\x81\x40"));
  // Ignoring case folds single bytes only: the trail 61 ("a") stays.
  EXPECT_EQ(str_DBCS_cmp("x\x82\x61", "X\x82\x61", true), 0);
  EXPECT_EQ(str_DBCS_cmp("\x82\x61", "\x82\x41", true), 0x20);
  EXPECT_EQ(str_DBCS_ncmp("\x93\xfa\x61", "\x93\xfa\x62", 2, false), 0);  // ...a / ...b
  EXPECT_NE(str_DBCS_ncmp("\x93\xfa\x61", "\x93\xfa\x62", 3, false), 0);
  EXPECT_EQ(str_cmpbe("\x93\xfa", "\x93\xfa  ", false), 0);
  EXPECT_TRUE(str_is_lead_byte(0x81));
  EXPECT_FALSE(str_is_lead_byte(0xA1));
  EXPECT_TRUE(str_is_lead_byte_ex(0x95, 932));
  EXPECT_FALSE(str_is_lead_byte_ex(0xA1, 932));
  EXPECT_TRUE(str_is_lead_byte_ex(0xA1, 949));
  EXPECT_FALSE(str_is_lead_byte_ex(0x95, 1252));
}

TEST(StrShiftJisTest, EditingNeverSplitsAPair) {
  Mode mode(Mode::kShiftJis);
  char dst[16];
  EXPECT_STREQ(str_copy_n(dst, sizeof dst, "a\x93\xfa", 2), "a");
  EXPECT_STREQ(str_copy_n(dst, sizeof dst, kNihon, 3), "\x93\xfa");
  EXPECT_STREQ(str_sub(dst, kNihon, 1, 2), "\x93\xfa");  // 1 rounds down to 0
  EXPECT_STREQ(str_sub(dst, kNihon, 1, 3), "\x93\xfa");  // end 3 rounds down to 2
  char e[16];
  std::strcpy(e, kNihon);
  EXPECT_EQ(str_delete(e, 3, 1), 4);  // rounds to [2, 2): half a pair is not deleted
  EXPECT_EQ(str_delete(e, 3, 2), 2);  // position 3 is inside the second pair
  EXPECT_STREQ(e, "\x93\xfa");
  EXPECT_EQ(str_insert(e, 1, "x"), 3);
  EXPECT_STREQ(e, "x\x93\xfa");
  EXPECT_EQ(str_length_in_chars("a\x93\xfa\x96\x7b"), 3);
  EXPECT_EQ(str_byte_offset_to_char_offset("a\x93\xfa\x96\x7b", 2), 2);
  EXPECT_EQ(str_byte_offset_to_char_offset("a\x93\xfa\x96\x7b", 1), 1);
  EXPECT_STREQ(str_fill(dst, 0x8140, 5), "\x81\x40\x81\x40");
  char u[] = "ab\x82\x61\x63\x64";  // ab, a pair with trail "a", cd
  EXPECT_STREQ(str_upper(u), "AB\x82\x61\x43\x44");
  char w[] = "ab\x82\x60\x63\x64";
  str_capitalize(w);
  EXPECT_STREQ(w, "Ab\x82\x60\x43\x64");  // the pair ends a word
}

std::string FromHex(const std::string& hex) {
  std::string s;
  if (hex == "-") return s;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    s += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return s;
}

TEST(StrSjis2JisTest, MatchesPythonCodecsWithNfkcKana) {
  std::ifstream cases(VXK_FIXTURES_DIR "/sjis2jis_cases.txt");
  ASSERT_TRUE(cases.good());
  std::string in, out;
  int n = 0;
  while (cases >> in >> out) {
    EXPECT_EQ(Own(str_sjis2jis(FromHex(in).c_str())), FromHex(out)) << in;
    ++n;
  }
  EXPECT_GT(n, 190);
  EXPECT_EQ(Own(str_sjis2jis(nullptr)), "<null>");
}

// ===== Double-byte: Hangul =====

TEST(StrHangulTest, TrailLettersStayUntouched) {
  Mode mode(Mode::kHangul);
  char u[] = "\x81\x61\x61";
  EXPECT_STREQ(str_upper(u), "\x81\x61\x41");
  EXPECT_EQ(str_DBCS_chr(kHangulA, 'a'), nullptr);
  const char* han = "\xc7\xd1\xb1\xb9";  // two syllables
  EXPECT_EQ(str_length_in_chars(han), 2);
  char dst[8];
  EXPECT_STREQ(str_copy_n(dst, sizeof dst, han, 3), "\xc7\xd1");
  EXPECT_EQ(str_nsubelements("\x81\x61,a", 'a'), 2);
  EXPECT_EQ(str_DBCS_cmp("\x81\x61", "\x81\x41", true), 0x20);
}

// ===== UTF-8 =====

TEST(StrUtf8Test, SequencesCountOnceWhileMultiByteIsOn) {
  const char* naive = "na\xc3\xafve";
  {
    Mode mode(Mode::kUtf8);
    EXPECT_EQ(str_length_in_chars(naive), 5);
    EXPECT_EQ(str_byte_offset_to_char_offset(naive, 4), 3);
    char dst[8];
    EXPECT_STREQ(str_sub(dst, naive, 3, 2), "\xc3\xaf");  // 3 rounds down to 2
    EXPECT_TRUE(str_is_lead_byte(0xC3));
    EXPECT_FALSE(str_is_lead_byte(0x80));
    EXPECT_EQ(str_DBCS_cmp("\xc3\xa9", "z", false), 1);
  }
  {
    Mode mode(Mode::kUtf8NoMultiByte);
    EXPECT_EQ(str_length_in_chars(naive), 6);
    char dst[8];
    EXPECT_STREQ(str_sub(dst, naive, 3, 2), "\xafv");
  }
}

TEST(StrUtf8Test, CopyDropsAnIncompleteLastSequence) {
  Mode mode(Mode::kUtf8NoMultiByte);  // follows the encoding, not the multibyte flag
  const char* nihon = "\xe6\x97\xa5\xe6\x9c\xac";
  char dst[8];
  EXPECT_STREQ(str_copy_n(dst, sizeof dst, nihon, 5), "\xe6\x97\xa5");
  EXPECT_STREQ(str_copy_n(dst, sizeof dst, nihon, 4), "\xe6\x97\xa5");
  EXPECT_STREQ(str_copy_n(dst, sizeof dst, nihon, 6), nihon);
  EXPECT_STREQ(str_copy_n(dst, sizeof dst, "\xf0\x9f\x98\x80", 3), "");
}

// ===== Every mode: damaged and random text =====

// Texts made of lead bytes, trail bytes that look like ASCII, UTF-8 pieces
// and separators, each in an allocation of exactly its size, so the
// sanitizer build catches any read past the terminator.
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
      ASSERT_LE(str_length_in_chars(t), len);
      ASSERT_LE(str_byte_offset_to_char_offset(t, len + 5), str_length_in_chars(t));
      str_copy_n(big, sizeof big, t, static_cast<long>(rng() % (n + 2)));
      ASSERT_EQ(std::strncmp(big, t, std::strlen(big)), 0);  // a prefix
      const long pos = static_cast<long>(rng() % (n + 2));
      const long cnt = static_cast<long>(rng() % (n + 2));
      str_sub(big, t, pos, cnt);
      ASSERT_LE(static_cast<long>(std::strlen(big)), cnt);
      Own(str_substring(t, pos, cnt));
      std::strcpy(big, t);
      ASSERT_LE(str_delete(big, pos, cnt), len);
      std::strcpy(big, t);
      ASSERT_EQ(str_insert(big, pos, "xy"), len + 2);
      for (auto fn : {str_compress, str_collapse, str_capitalize}) {
        std::strcpy(big, t);
        ASSERT_LE(fn(big), len);
      }
      std::strcpy(big, t);
      str_trimlr(str_upper(big));
      std::strcpy(big, t);
      ASSERT_LE(str_strip(big, "\x95\x5c,"), len);
      ASSERT_GE(str_nsubelements(t, ','), 1);
      long* map = nullptr;
      ASSERT_EQ(str_elements_map(t, '\\', map), str_nsubelements(t, '\\'));
      delete[] map;
      Own(str_subelement(t, static_cast<long>(rng() % 4), ','));
      Own(str_quote(t, '\''));
      Own(str_munge_quotes(t));
      str_unquote(big, sizeof big, t);
      str_quote(t, static_cast<long>(rng() % 12), big, '"');
      Own(str_sjis2jis(t));
      str_DBCS_chr(t, 0x955c);
      str_DBCS_rchr(t, '\\');
      str_DBCS_str(t, "\x5c,");
      str_DBCS_spn(t, "a\x95\x5c");
      str_DBCS_cspn(t, ",");
      str_cmpbe(t, "a ", true);
      str_DBCS_ncmp(t, "\x95\x5c", 3, true);
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

// Each case: the line written ("*": not looked at) and the rest returned
// ("<null>": the text was used up).
TEST(StrHyphenateTest, BreaksAtSpacesHyphensLineFeedsAndAfterTheLastVowel) {
  const std::string jp = std::string(kNihon) + kNihon + kHyou;  // five pairs
  struct Case {
    Mode::Mode mode;
    std::string src;
    long maxWidth, maxChars;
    str_width_fn fn;
    std::string text, rest;
  } cases[] = {
      {Mode::kSingleByte, "  hello world foo", 11, 0, nullptr, "hello world", " foo"},
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
      EXPECT_EQ(std::string(dst), c.text);
    }
    if (c.rest != "*") {
      EXPECT_EQ(rest ? std::string(rest) : std::string("<null>"), c.rest);
    }
  }
}

}  // namespace
