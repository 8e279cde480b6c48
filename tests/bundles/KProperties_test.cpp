// KProperties against java.util.Properties, a std::map model and the cases
// neither reaches.
#include "vxkernel/bundles/KProperties.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "locale/intl_internal.h"
#include "support/debug_capture.h"
#include "support/temp_dir.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

struct Mode {
  explicit Mode(bool utf8) { KIntl::Encoding(utf8 ? KIntl::kUTF8 : KIntl::kNotEncoded); }
  ~Mode() { vxk_internal::IntlResetForTesting(); }
};

std::vector<std::string> Keys(KProperties& p, const char* group = nullptr) {
  KQSValue list = KQSValue::List();
  EXPECT_EQ(p.ListKeys(list, group), 0);
  std::vector<std::string> keys;
  for (long i = 1; i <= list.ListEntries(); ++i) keys.emplace_back(list.ListGetValue(i).String());
  return keys;
}

// Lower-case hex of the UTF-8 bytes (of the ISO-8859-1 text with latin1).
std::string Hex(const std::string& s, bool latin1) {
  std::string out;
  auto put = [&](unsigned b) { out.append({"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]}); };
  for (unsigned char c : s) latin1 && c >= 0x80 ? (put(0xC0 | (c >> 6)), put(0x80 | (c & 0x3F))) : put(c);
  return out;
}

// The table as PropsDump.java prints one file.
std::string Dump(const std::string& text, bool utf8, int n) {
  Mode mode(utf8);
  KProperties p;
  std::istringstream in(text);
  if (p.Load(in) != 0) return "#" + std::to_string(n) + " error\n";
  std::string out = "#" + std::to_string(n) + "\n";
  for (const std::string& k : Keys(p)) out += Hex(k, !utf8) + " " + Hex(std::string(p.GetProperty(k.c_str())), !utf8) + "\n";
  return out;
}

// A random file of pieces that both readers accept: escapes, separators,
// comments, continuations, Latin-1 bytes, CRLF ends, a final backslash.
std::string RandomFile(std::mt19937& rng, bool* wide) {
  static const char* kText[] = {"a", "b", "k.x", "\\ ", "\\:", "\\=", "\\\\", "\\t", "\\n", "\\f", "\\q", "#", "!",
                                "\xe9", "\xff", "\x7f", "\\u00e9", "\\u00FF", "\\u0041", "=", ":", "\\#"};
  static const char* kWide[] = {"\\u4e2D", "\\uD83D\\uDE00", "\\uDC00", "\\uD800x"};
  static const char* kSep[] = {"=", ":", " ", "\t", " = ", " :  ", "\f", "=:", " \t"};
  static const char* kEnd[] = {"\n", "\r\n", "\\\n   ", "\\\r\n\t", "\\\n\n", "\\\n  \n", " \n"};
  auto pick = [&](const auto& table) { return std::string(table[rng() % std::size(table)]); };
  std::string f;
  for (int line = rng() % 8; line >= 0; --line) {
    const int kind = rng() % 10;
    // No logical line starts with a bare continuation: after a line of only
    // a backslash Java reads a "#" as a comment, this reader as a key.
    if (kind == 0) f += pick(std::array{"# c\\", "  ! x=y", "", "   ", "#\xe9"}) + "\n";
    for (int i = rng() % 3; kind != 0 && i >= 0; --i) f += pick(kText);
    if (kind == 1) *wide = true, f += pick(kWide);
    if (kind > 2) f += pick(kSep);
    for (int i = rng() % 5; kind > 3 && i >= 0; --i) f += (rng() % 6 ? "" : pick(kEnd)) + pick(kText);
    f += rng() % 2 ? "\n" : "\r\n";
  }
  if (rng() % 4 == 0) f += rng() % 2 ? "t=1\\" : "t=2";
  return f;
}

TEST(KProperties, AgreesWithJavaUtilProperties) {
  const char* java = VXK_JAVA;
  if (*java == '\0') GTEST_SKIP() << "no JDK found (java); the comparison with java.util.Properties is skipped";
  TempDir dir("props");
  std::mt19937 rng(20261206);
  std::vector<std::string> files{"=v\nk=1\n"};  // Java keeps the empty key; it is ignored here
  std::vector<bool> wide{false};
  for (int n = 1; n < 3000; ++n) {
    bool w = false;
    files.push_back(RandomFile(rng, &w));
    wide.push_back(w);
  }
  for (size_t n = 0; n < files.size(); ++n) dir.Write(std::to_string(n) + ".properties", files[n]);
  const std::string cmd = std::string(java) + " " + VXK_PROPS_DUMP + " " + dir.Path() + " " + std::to_string(files.size());
  FILE* pipe = popen(cmd.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string all;
  char buf[65536];
  for (size_t got; (got = fread(buf, 1, sizeof buf, pipe)) > 0;) all.append(buf, got);
  ASSERT_EQ(pclose(pipe), 0) << cmd;
  std::istringstream lines(all);
  std::vector<std::string> javaDumps;
  for (std::string line; std::getline(lines, line);) {
    if (line[0] == '#') javaDumps.emplace_back();
    if (line[0] != ' ') javaDumps.back() += line + "\n";
  }
  ASSERT_EQ(javaDumps.size(), files.size());
  EXPECT_NE(all.find("#0\n 76\n"), std::string::npos);
  for (size_t n = 0; n < files.size(); ++n) {
    EXPECT_EQ(Dump(files[n], true, static_cast<int>(n)), javaDumps[n]) << "UTF-8 mode, file:\n" << files[n];
    if (!wide[n]) {
      EXPECT_EQ(Dump(files[n], false, static_cast<int>(n)), javaDumps[n]) << "file:\n" << files[n];
    }
  }
}

// Random changes checked against a std::map, then Store and Load again.
TEST(KProperties, StoreThenLoadKeepsEveryTable) {
  for (bool utf8 : {false, true}) {
    Mode mode(utf8);
    std::mt19937 rng(utf8 ? 7 : 8);
    auto text = [&] {
      std::string s;
      for (int i = rng() % 6; i > 0; --i) {
        if (!utf8) {
          s += static_cast<char>(1 + rng() % 255);
          continue;
        }
        const unsigned c = std::array{1u + rng() % 0x7F, 0x80 + rng() % 0x780, 0xE000 + rng() % 0x2000, 0x10000 + rng() % 0x100000}[rng() % 4];
        const int n = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        s += static_cast<char>(n == 0 ? c : ((0xFF80 >> n) & 0xFF) | (c >> (6 * n)));
        for (int i = n - 1; i >= 0; --i) s += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
      }
      return s;
    };
    KProperties p;
    std::map<std::string, std::string> model;
    auto modelKeys = [&] {
      std::vector<std::string> keys;
      for (const auto& pair : model) keys.push_back(pair.first);
      return keys;
    };
    for (int op = 0; op < 3000; ++op) {
      if (op % 7 == 0) {
        EXPECT_EQ(Keys(p), modelKeys()) << "the key order must follow every change";
      }
      const std::string k = rng() % 2 ? "k" + text() : std::to_string(rng() % 50);  // some keys come back
      const std::string v = text();
      const std::string old = model.count(k) ? model[k] : "";
      if (rng() % 3) {
        EXPECT_EQ(std::string(p.SetProperty(k.c_str(), v.c_str())), old);
        model[k] = v;
      } else {
        EXPECT_EQ(std::string(p.ClearProperty(k.c_str())), old);
        model.erase(k);
      }
    }
    std::stringstream file;
    p.Store(file, "header");
    KProperties back;
    ASSERT_EQ(back.Load(file), 0);
    for (const auto& [k, v] : model) EXPECT_EQ(std::string(back.GetProperty(k.c_str())), v);
    EXPECT_EQ(Keys(back), modelKeys());
  }
}

// The first and the last pair of surrogates: the random tables rarely reach
// either end of the range.
TEST(KProperties, SurrogatePairsAreOneCharacterInUtf8Mode) {
  Mode mode(true);
  const char* const kBoth = "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";  // U+10000, U+10FFFF
  KProperties p;
  std::istringstream in("a=\\uD800\\uDC00\\uDBFF\\uDFFF\n");
  ASSERT_EQ(p.Load(in), 0);
  EXPECT_STREQ(p.GetProperty("a"), kBoth);
  std::stringstream file;
  p.Store(file, "h");
  KProperties back;
  ASSERT_EQ(back.Load(file), 0);
  EXPECT_STREQ(back.GetProperty("a"), kBoth);
}

TEST(KProperties, RefusedEscapesKeepTheOldTableButClearTheComments) {
  struct Case { bool utf8; const char* file; long code; std::vector<std::string> debug; } cases[] = {
      {false, "a\\u4e2d=1", 6,
       {"KPropertiesLine::UnescapeLine dropping large character: 20013\n",
        "KPropertiesLine::ProcessCompleteLine - failed to process line with name: a\\u4e2d\n"}},
      {true, "a=\\u12x4", 5, {"KPropertiesLine::ProcessCompleteLine - failed to process line with value: \\u12x4\n"}},
  };
  for (const Case& c : cases) {
    Mode mode(c.utf8);
    KProperties p;
    p.SetProperty("old", "1");
    p.HeaderComment("h");
    std::istringstream in(std::string("x=1\n") + c.file);
    ExpectDebug(c.debug, [&] { EXPECT_EQ(p.Load(in), c.code); });
    EXPECT_EQ(Keys(p), std::vector<std::string>{"old"});
    EXPECT_STREQ(p.HeaderComment(), "");
  }
}

TEST(KProperties, OddEscapesAndLongLines) {
  Mode mode(false);
  const std::string longLine = "y=" + std::string(KProperties::kMaxLineBytes - 3, 'v') + "\r";
  struct Case { std::string file, key, value; } cases[] = {
      {"a=\\uZ\\uu41\\u4", "a", "uZ\\u41\x04"},
      {"a=x\\u", "a", "x"},
      {longLine + "\nz=1", "z", "1"},
      {"x=1\n" + longLine + "v\nz=1", "x", "1"},  // one byte more stops the reading
  };
  for (const Case& c : cases) {
    KProperties p;
    p.TimestampComment("t");
    std::istringstream in(c.file);
    ASSERT_EQ(p.Load(in), 0);
    EXPECT_STREQ(p.TimestampComment(), "");
    EXPECT_EQ(Keys(p).empty() ? "" : Keys(p).back(), c.key);
    EXPECT_EQ(std::string(p.GetProperty(c.key.c_str())), c.value);
  }
}

TEST(KProperties, ReadOnlyDefaultsGroupsAndComments) {
  KProperties defaults;
  defaults.SetProperty("d", "from defaults");
  KProperties p(0, &defaults);
  for (const char* k : {"a.x", "a.y", "b.z", "c", ".e"}) p.SetProperty(k, "1");
  KQSValue groups = KQSValue::List();
  EXPECT_EQ(p.ListGroupNames(groups), 0);
  EXPECT_EQ(groups.ListEntries(), 2);
  EXPECT_EQ(Keys(p, "a"), (std::vector<std::string>{"a.x", "a.y"}));
  KQSValue notList(1);
  EXPECT_EQ(p.ListKeys(notList, nullptr), 1);
  EXPECT_STREQ(p.GetProperty("d"), "from defaults");
  EXPECT_TRUE(p.ContainsKey("d"));

  KProperties copy(p);
  copy.SetProperty("c", "2");
  p.ReadOnly(true);
  p.HeaderComment("h");
  std::istringstream in("c=3");
  EXPECT_EQ(p.Load(in), KProperties::kReadOnly);
  EXPECT_STREQ(p.HeaderComment(), "h");
  EXPECT_STREQ(p.SetProperty("c", "4"), "");
  EXPECT_STREQ(p.ClearProperty("c"), "");
  EXPECT_STREQ(p.GetProperty("c"), "1");

  std::ostringstream out;
  copy.Store(out, "one\ntwo");
  EXPECT_TRUE(std::regex_search(out.str(), std::regex(R"(^# one\n# two\n# [1-9]\d*/[1-9]\d?/[1-9]\d? (0|[1-9]\d?):(0|[1-9]\d?):(0|[1-9]\d?)\n\n)")))
      << out.str();
  EXPECT_NE(out.str().find("\nc = 2\n"), std::string::npos);
}

TEST(KProperties, EscapeString) {
  Mode mode(false);
  struct Case { const char* text; bool isKey; const char* escaped; } cases[] = {
      {"a b", true, "a\\ b"},
      {" \t x y", false, "\\ \\t\\ x y"},
      {"=:#!\\\xe9\x7f~", false, "\\=\\:\\#\\!\\\\\\u00E9\\u007F~"},
  };
  for (const Case& c : cases) EXPECT_STREQ(KProperties::EscapeString(c.text, c.isKey), c.escaped);
}

}  // namespace
