// The value text reader: numbers against the C library, malformed input, host
// class forms, multi-byte strings, the nesting cap and the cracker table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/clientapi/KVal.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/locale/KIntl.h"

namespace {

using namespace valtest;

struct Read {
  KQSValue value;
  std::string rest;
  bool fail = false, eof = false;
};

Read ReadText(const std::string& text, KQSClassCracker* cracker = nullptr) {
  std::istringstream in(text);
  Read r;
  r.value = KQSValue(7);  // must become Undefined first
  KQSValue::FormattedInput(in, r.value, cracker);
  r.fail = in.fail();
  r.eof = in.eof();
  in.clear();
  r.rest.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return r;
}

// A value of an immediate class holding word; through volatiles, or the
// compiler follows the constructor's storage branch and warns.
KQSValue Immediate(const KQSClass* c, uintptr_t word) {
  const KQSClass* volatile hiddenClass = c;
  volatile uintptr_t hiddenWord = word;
  return KQSValue(hiddenClass, reinterpret_cast<void*>(hiddenWord));
}

// An immediate host class written in the tag form: "<VX:Gauge>77</VX:Gauge>".
class GaugeClass : public KQSClass {
 public:
  GaugeClass() : KQSClass("Gauge", 21) {}
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const override {
    out << static_cast<const char*>(FormatXMLV1OpenTag(""));
    out << static_cast<long>(static_cast<int32_t>(reinterpret_cast<uintptr_t>(data)));
    return out << static_cast<const char*>(FormatXMLV1CloseTag());
  }
  bool FormattedInput(std::istream& in, KQSValue& out, KQSClassCracker* /*c*/) const override {
    long n = 0;
    if (!(in >> n)) return false;
    out = Immediate(this, static_cast<uintptr_t>(static_cast<int32_t>(n)));
    return true;
  }
};

class RefClass : public KQSClass {
 public:
  RefClass() : KQSClass("TestObjRef", 3) {}
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const override {
    return out << '#' << std::hex << reinterpret_cast<uintptr_t>(data) << std::dec;
  }
};

const GaugeClass* Gauge() {
  static GaugeClass* c = [] {
    auto* g = new GaugeClass();
    EXPECT_TRUE(KQSValue::AddProcessClass(g, 1));
    return g;
  }();
  return c;
}

TEST(ValueTextReader, NumbersMatchStrtolAndStrtod) {
  std::mt19937_64 rng(7);
  std::vector<std::string> texts = {"0", "-0", "-2147483648", "4294967296", "-9223372036854775808", "007"};
  for (int i = 0; i < 100; ++i) texts.push_back(std::to_string(static_cast<long>(rng())));
  for (const std::string& t : texts) {
    const long expected = std::strtol(t.c_str(), nullptr, 10);
    const Read r = ReadText(t);  // the number runs to the end of the input
    EXPECT_EQ(r.value, KQSValue(static_cast<int>(expected))) << t;
    EXPECT_TRUE(r.eof) << t;
    EXPECT_FALSE(r.fail) << t;
    EXPECT_EQ(static_cast<int64>(Parse("L" + t)), expected) << t;
  }
  for (int i = 0; i < 100; ++i) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 1900) - 1000));
    const Read r = ReadText(std::string("G") + text + ",");
    EXPECT_EQ(static_cast<double>(r.value), std::strtod(text, nullptr)) << text;
    EXPECT_EQ(r.rest, ",");
  }
  EXPECT_EQ(static_cast<double>(Parse("G+.5E2")), 50.0);
  EXPECT_EQ(static_cast<double>(Parse("G-inf")), -HUGE_VAL);
  EXPECT_TRUE(std::isnan(static_cast<double>(Parse("Gnan"))));
  EXPECT_TRUE(std::signbit(static_cast<double>(Parse("G-nan"))));
}

TEST(ValueTextReader, MalformedInputLeavesUndefinedAndWhatFollows) {
  const struct {
    const char* text;
    const char* rest;  // nullptr: not checked
    bool fail;
  } cases[] = {
      {"-x", nullptr, true}, {"B/", nullptr, true}, {"Gx", nullptr, true}, {"Gin", nullptr, true},
      {"G-na", nullptr, true}, {"L+", nullptr, true}, {"99999999999999999999", nullptr, true},
      {"L-9223372036854775809", nullptr, true}, {"G1e999", nullptr, true}, {"D/1/2", nullptr, true},
      {"D/99999/1/1:0:0:0", nullptr, true}, {"", "", true},
      {"(3;-4)", nullptr, false}, {"(3,-4]", nullptr, false},   // Points need "," and ")"
      {"[0A],1", ",1", false},  // Bytes: lowercase digits, read up to the bracket
      {"[0]", nullptr, false}, {"[00ab", nullptr, false},
      {"E5", "5", false},  // Errors have no reader: "E" is consumed, the code is not
      {" 5", "5", false},  // blanks are not skipped before a value
      {"{1,{2,{3", nullptr, false}, {"{1,{2,L}}", nullptr, false},  // unfinished, or an element failed
      {"A<1,?,'a'=1", nullptr, false}, {"A(1,?)", nullptr, false}, {"R<'x'=1", nullptr, false},
      {"V{<'x'><1>", nullptr, false}, {"V{<'x'>x}", nullptr, false}, {"V{'x'}", nullptr, false},
      {"V<'x'>", nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Read r = ReadText(c.text);
    EXPECT_TRUE(r.value.IsUndefined());
    if (c.fail) {
      EXPECT_TRUE(r.fail);
    }
    EXPECT_EQ(c.rest != nullptr ? r.rest : "", c.rest != nullptr ? c.rest : "");
  }
  EXPECT_EQ(Text(Parse("{1,{2}}")), "{1,{2}}");  // the failures left the element stack empty
  const Read r = ReadText("12}");
  EXPECT_EQ(static_cast<long>(r.value), 12);
  EXPECT_EQ(r.rest, "}");
  EXPECT_FALSE(r.fail);
  EXPECT_FALSE(r.eof);
}

TEST(ValueTextReader, ScalarFormsSkipBlanksInsideAndBooleansTakeAnyPrefix) {
  EXPECT_EQ(Text(Parse("( 3 , 4 )")), "(3,4)");
  EXPECT_EQ(Text(Parse("L  12")), "L12");
  std::istringstream in("L 12");
  in >> std::noskipws;
  KQSValue v;
  KQSValue::FormattedInput(in, v, nullptr);
  EXPECT_TRUE(v.IsUndefined());
  EXPECT_TRUE(in.fail());
  for (const char* t : {"TRUE", "tRu", "t"}) EXPECT_EQ(Text(Parse(t)), "true") << t;
  for (const char* t : {"FALSEy", "fx"}) {  // the first mismatch stays
    const Read r = ReadText(t);
    EXPECT_EQ(Text(r.value), "false") << t;
    EXPECT_EQ(r.rest, std::string(t).substr(std::string(t).size() - 1)) << t;
  }
  EXPECT_EQ(Parse("D/2024/2/29:23:59:58").Date(), MakeDate(2024, 2, 29, 23, 59, 58));
}

TEST(ValueTextReader, StringsWithEscapesAndEitherQuote) {
  const std::pair<std::string, std::string> cases[] = {
      {"'it\\'s\\n'", "it's\n"}, {"\"a\\tb\"", "a\tb"}, {"'\\r\\q\\\\'", "\rq\\"},
      {"\"it's\"", "it's"}, {"'say \"x\"'", "say \"x\""},  // the other quote as it is
      {"'open\\", "open"},  // the end of input ends the string, even after a backslash
      {std::string("'a\0b'", 5), std::string("a\0b", 3)},  // NUL is a character
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(Str(Parse(text).String()), want) << text;
  EXPECT_EQ(Parse("'" + std::string(100000, 'x') + "'").String().Length(), 100000u);
}

TEST(ValueTextReader, ListSeparatorsAndContainersThatDropWhatTheyCannotUse) {
  EXPECT_EQ(Text(Parse("{ 1,,2 ,}")), "{1,2}");
  EXPECT_EQ(Text(Parse("{1 2}")), "{1,2}");
  EXPECT_EQ(Text(Parse("{1;2}")), "{1,?,2}");  // a character no reader knows
  EXPECT_EQ(Text(Parse("A<1,?,'k';'j'=1>")), "A<1,?,'j'=1>");  // a key without "="
  EXPECT_EQ(static_cast<long>(KVal::Get(Parse("V{<'x','y'><1,2><3,4>}"), "y", 2)), 4);
}

TEST(ValueTextReader, TagFormReadsThroughTheHostClassAndEachFailureOfItAndOfTypeCodesIsReported) {
  const KQSValue v = Immediate(Gauge(), 77);
  EXPECT_EQ(Text(v), "<VX:Gauge>77</VX:Gauge>");
  ExpectDebug({}, [&] {
    const KQSValue l = Parse("{<VX:Gauge>77</VX:Gauge>,<VX:gauge attr='1'>5</x>}");
    EXPECT_EQ(l.ListGetValue(1), v);
    EXPECT_EQ(l.ListGetValue(2).Class(), Gauge());
  });
  const std::string m = "KQSValue::operator>>() ";
  const struct {
    std::string text;
    bool defined;  // what the class stored stays
    std::string message;
  } cases[] = {
      {"<vx:Gauge>1", false, m + "bad tag: <vx:Gauge>\n"},
      {"<" + std::string(300, 'V'), false, m + "getline( '>' ) failed\n"},
      {"<VX:" + std::string(250, 'n') + ">", false, m + "No such class: <" + std::string(250, 'n') + ">\n"},
      {"<VX:Gauge>x</VX:Gauge>", false, m + "Error during FormattedInput()\n"},
      {"<VX:Gauge>5,", true, m + "No closing tag after FormattedInput()\n"},
      {"<VX:Gauge>5<", true, m + "No closing '>' in closing tag after FormattedInput()\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ExpectDebug({c.message}, [&] { EXPECT_EQ(Parse(c.text).IsDefined(), c.defined); });
  }
  ExpectDebug({"operator>>( % ) EOF\n", "KQSValue::operator>>( no quoted FQN specified for typecode )\n"}, [] {
    EXPECT_TRUE(Parse("%").IsUndefined());
    EXPECT_TRUE(Parse("%x'a'").IsUndefined());
  });
  ExpectDebug({}, [] { EXPECT_EQ(Text(Parse("%'no.end")), "%'no.end'"); });
}

TEST(ValueTextReader, HashReadsClassThreeOnlyWhenTheHostInstalledIt) {
  EXPECT_EQ(ChildTranscript([](Transcript& t) {
              DebugCapture capture;
              const bool defined = Parse("#1f").IsDefined();
              t.Line(defined, capture.All());
              auto* ref = new RefClass();
              KQSValue::AddProcessClass(ref, 1);
              const KQSValue v = Parse("#1f");
              t.Line(v.Type(), " ", Word(v), " ", Text(v), " ", Text(Parse(Text(Immediate(ref, 0xABCDEFu)))));
            }),
            "0KQSValue::operator>>( # ) no object reference class\n\n3 31 #1f #abcdef\n");
}

TEST(ValueTextReader, CodePageCrackersKeepSequencesWhole) {
  KQSClassCracker utf8 = CodePage(65001), sjis = CodePage(932), gbk = CodePage(936), latin = CodePage(1252);
  const struct {
    KQSClassCracker* cracker;
    std::string text, want;
  } cases[] = {
      {&utf8, "'\\\xC3\xA9x'", "\xC3\xA9x"},  // after a backslash the sequence is copied whole
      {&utf8, "'a\xC3'", "a\xC3"},  // a cut sequence stops at the quote
      {&utf8, "'\xF0\x9F\\\\'", "\xF0\x9F\\"},
      {&sjis, "'\x95\\x'", "\x95\\x"},  // 0x95 0x5C is one character
      {nullptr, "'\x95\\x'", "\x95x"},  // single-byte: an escape
      {&sjis, "'\x82''x'", "\x82'x"},  // a doubled quote after a lead byte
      {&sjis, "'\xA1\\x'", "\xA1x"},  // katakana in 932, a lead byte in 936
      {&gbk, "'\xA1\\x'", "\xA1\\x"},
      {&latin, "'\x95\\x'", "\x95x"},  // no lead bytes at all
  };
  for (const auto& c : cases) EXPECT_EQ(Str(Parse(c.text, c.cracker).String()), c.want) << c.text;
  // A lead byte never takes the closing quote along: the quote ends the
  // string (the price of reading a lone lead byte at the end back).
  const Read quote = ReadText("'\x82\x27x'", &sjis);
  EXPECT_EQ(Str(quote.value.String()), "\x82");
  EXPECT_EQ(quote.rest, "x'");
  const Read lone = ReadText("'ab\x95',1", &sjis);
  EXPECT_EQ(Str(lone.value.String()), "ab\x95");
  EXPECT_EQ(lone.rest, ",1");
}

TEST(ValueTextReader, NestingIsCappedAt512Levels) {
  const auto nested = [](int levels, const std::string& open, const std::string& close) {
    std::string s;
    for (int i = 0; i < levels; ++i) s += open;
    s += "1";
    for (int i = 0; i < levels; ++i) s += close;
    return s;
  };
  EXPECT_TRUE(Parse(nested(512, "{", "}")).IsList());
  const Read deep = ReadText(nested(513, "{", "}"));
  EXPECT_TRUE(deep.value.IsUndefined());
  EXPECT_TRUE(deep.fail);
  EXPECT_EQ(deep.rest, "1" + std::string(513, '}'));  // all after the 513th brace
  // Crackers count too, mixed with Lists.
  EXPECT_TRUE(Parse(nested(256, "A<1,?,1={", "}>")).IsDefined());
  EXPECT_TRUE(Parse(nested(257, "A<1,?,1={", "}>")).IsUndefined());
  EXPECT_TRUE(Parse(nested(100000, "V{<", ">}")).IsUndefined());
  EXPECT_TRUE(Parse(nested(512, "{", "}")).IsList());  // the counter is back at zero
}

TEST(ValueTextReader, NeverThrowsAndReadsOneValueAtATimeInTheClassicLocale) {
  std::istringstream in("L"), failed("5"), three("{1,2}'x'G1.5");
  in.exceptions(std::ios_base::failbit | std::ios_base::eofbit);
  failed.setstate(std::ios_base::failbit);  // a stream that has failed already reads nothing
  KQSValue v, w(3), a, b, c;
  EXPECT_NO_THROW(KQSValue::FormattedInput(in, v, nullptr));
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(in.exceptions(), std::ios_base::failbit | std::ios_base::eofbit);
  KQSValue::FormattedInput(failed, w, nullptr);
  EXPECT_TRUE(w.IsUndefined());
  EXPECT_EQ(failed.rdbuf()->sgetc(), '5');
  three >> a >> b >> c;
  EXPECT_EQ(Text(a), "{1,2}");
  EXPECT_EQ(Text(b), "'x'");
  EXPECT_EQ(Text(c), "G1.5");
  EXPECT_TRUE(three.getloc() == std::locale::classic());
}

TEST(ValueTextReader, RegisteredCrackerReadsItsTag) {
  EXPECT_EQ(ChildTranscript([](Transcript& t) {
    const auto first = [](std::istream& in, char tag, KQSValue& v, KQSClassCracker*) {
      v = KString(std::string(1, tag).c_str());
      in.get();
    };
    const auto second = [](std::istream&, char, KQSValue& v, KQSClassCracker*) { v = 2; };
    // Enough registrations to grow the table twice; the first reader wins
    // and the built-in ones are still found.
    const int added = KQSValue::RegisterCracker('Q', first);
    for (int i = 0; i < 9; ++i) KQSValue::RegisterCracker('Q', second);
    const Read read = ReadText("Qxy");
    t.Line(added, Text(read.value), read.rest, Text(Parse("A<1,?>")));
  }), "1'Q'yA<1,?>\n");
}

}  // namespace
