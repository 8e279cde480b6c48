// Assocs: key order, the undefined value, the value's features, the text
// form with back-references, and a model check against a std::map.
#include "vxkernel/values/KAssocVal.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/values/KRZRow.h"

namespace {

using namespace valtest;
using Lines = std::vector<std::string>;

TEST(KAssocValKeys, TypesWithoutAnOrderTypeCodesAndRealsAreKeysOfTheirOwn) {
  // Booleans and Errors answer "less" both ways; each is still a key of its
  // own. A TypeCode is not a String key; a Real (-4) sorts before a String.
  KQSValue a = NewAssoc();
  for (int round = 0; round < 2; ++round) {
    for (long code = 1; code <= 20; ++code) A(a).Add(KQSValue::Error(code), code + round);
    A(a).Add(KQSValue::Boolean(1), 100 + round);
  }
  A(a).Add("abc", 1), A(a).Add(KQSValue::NewTypeCodeValue("ABC"), 3), A(a).Add(1.5, 0);
  EXPECT_EQ(A(a).Length(), 24);
  for (long code = 1; code <= 20; ++code) EXPECT_EQ(A(a)[KQSValue::Error(code)], KQSValue(code + 1));
  EXPECT_EQ(A(a)[KQSValue::Boolean(1)], KQSValue(101));
  EXPECT_EQ(A(a).Delete(KQSValue::Error(7)), KQSValue(8));
  EXPECT_FALSE(A(a).IsFeature(KQSValue::Error(7)));
  EXPECT_EQ(Pairs(a)[1], "G1.5=0");
  EXPECT_EQ(Pairs(a)[2], "'abc'=1");
}

TEST(KAssocValKeys, DoubleByteTextComparesByCharacters) {
  // In Shift-JIS mode a pair's trail byte is not folded, and a pair sorts
  // after every single byte. The mode is process-wide: a child.
  EXPECT_EQ(ChildTranscript([](Transcript& t) {
              KIntl::Encoding(KIntl::kNotEncoded);
              KIntl::Language(KIntl::kJapanese);
              KIntl::MultiByte(true);
              KQSValue a = NewAssoc();
              for (const char* k : {"\x82\x61", "\x82\x41", "\xB1", "abcdefgh\x82\x61", "ABCDEFGH\x82\x61"}) A(a).Add(k, 1);
              t.Line(Text(A(a).Keys()));
            }),
            "{'abcdefgh\x82\x61','\xB1','\x82\x41','\x82\x61'}\n");
}

TEST(KAssocValMap, AbsentKeysKeysItemsMergeAndCopy) {
  KQSValue a = NewAssoc(KQSValue(0)), b = NewAssoc(KQSValue("u"));
  KQSValue k = KQSValue("kept"), v = KQSValue("old");
  EXPECT_FALSE(A(a).Get("missing", v));
  EXPECT_FALSE(A(a).GetNth(1, k, v));
  EXPECT_EQ(Text(k), "'kept'");
  EXPECT_EQ(Text(v), "0");
  A(a).Add(2, "two"), A(a).Add("Key", 1);
  EXPECT_FALSE(A(a).GetNth(0, k, v));
  EXPECT_FALSE(A(a).GetNth(3, k, v));
  A(b).Add("KEY", 10), A(b).Add("only-b", 20);
  EXPECT_EQ(Text(A(a).Keys()), "{'Key',2}");
  EXPECT_EQ(Text(A(a).Items()), "{1,'two'}");
  A(a).Merge(A(b));
  EXPECT_EQ(Pairs(a), (Lines{"'Key'=10", "'only-b'=20", "2='two'"}));
  EXPECT_EQ(A(a).UndefinedValue(), KQSValue(0));
  A(a).Copy(A(b)), A(a).Copy(A(a)), A(a).Merge(A(a));
  EXPECT_EQ(Pairs(a), (Lines{"'KEY'=10", "'only-b'=20"}));
  EXPECT_EQ(A(a).Delete("x"), KQSValue("u"));
  A(b).Add("new", 1);  // the copy is independent
  EXPECT_EQ(A(a).Length(), 2);
}

TEST(KAssocValRecord, ToRecordAndBackByTheKeysInKeyOrder) {
  KQSValue a = NewAssoc();
  A(a).Add("b", 2), A(a).Add("A", 1), A(a).Add(3, "x");
  const KQSValue record = A(a).ToRecord();
  const KRZRow* row = KRZRow::FromValue(record);
  EXPECT_EQ(Text(row->ColNames()), "{'A','b',?}");
  EXPECT_EQ(Text(row->GetRow()), "{1,2,'x'}");
  EXPECT_EQ(KRZRow::FromValue(A(NewAssoc()).ToRecord())->Width(), 0);
  // "z" lands on "Z" (first spelling kept, later value); the Integer name
  // leaves its column unnamed, keyed Undefined.
  const KQSValue values = KQSValue::List(1, 2, 3, 4);
  const KQSValue from = KAssocVal::FromRecord(KRZRow::MakeValue(new KRZRow(KQSValue::List("Z", "a", "z", 7), &values)));
  EXPECT_EQ(Pairs(from), (Lines{"'a'=2", "'Z'=3", "?=4"}));
  ExpectDebug({"KAssocVal::FromRecord - not a Record: type 2\n"},
              [] { EXPECT_TRUE(KAssocVal::FromRecord(KQSValue(5)).IsUndefined()); });
}

TEST(KAssocValValue, DotSubscriptAndSubscriptPut) {
  KQSValue a = NewAssoc(KQSValue(0)), out;
  EXPECT_EQ(a.DotValuePut("Name", 5), 0);
  EXPECT_TRUE(a.IsFeature("NAME"));
  EXPECT_FALSE(a.IsFeature("other"));
  EXPECT_EQ(a.DotValueGet("name", nullptr), KQSValue(5));
  EXPECT_EQ(a.Dot("missing", out, nullptr), 0);
  EXPECT_EQ(out, KQSValue(0));
  A(a).Add("a", "first");
  EXPECT_EQ(a.SubscriptValuePut(2, 99, KQSValue("int")), 0);  // j is ignored
  EXPECT_EQ(A(a)[KQSValue(2)], KQSValue("int"));
  EXPECT_EQ(a.Subscript(2, 2, out), 0);
  EXPECT_EQ(out, KQSValue(5));  // Strings first: 'a', 'Name', 2
  EXPECT_EQ(a.Subscript(7, 7, out), 0);
  EXPECT_EQ(out, KQSValue(0));
  out = KQSValue("unchanged");
  ExpectDebug({"KAssocVal::Subscript - two different indices: 1, 2\n"},
              [&] { EXPECT_EQ(a.Subscript(1, 2, out), 0x26AD0017); });
  EXPECT_EQ(out, KQSValue("unchanged"));
}

TEST(KAssocValValue, CompareCountsFirstThenPairsInKeyOrderCaseSensitively) {
  const auto make = [](std::initializer_list<std::pair<const char*, int>> pairs, int undefined = 0) {
    KQSValue a = NewAssoc(KQSValue(undefined));
    for (const auto& [k, v] : pairs) A(a).Add(k, v);
    return a;
  };
  const struct {
    KQSValue a, b;
    int sign;
  } cases[] = {
      {make({{"a", 1}}), make({{"a", 1}}, 7), 0},  // the undefined value takes no part
      {make({{"a", 1}}), make({{"a", 1}, {"b", 2}}), -1},  // fewer pairs first
      {make({{"a", 1}, {"b", 2}}), make({{"a", 1}, {"c", 0}}), -1},
      {make({{"A", 1}}), make({{"a", 1}}), -1},  // keys compare case-sensitively here
      {make({{"a", 2}}), make({{"a", 1}}), 1},  // equal keys: the values decide
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Text(c.a) + " vs " + Text(c.b));
    const int ab = c.a.Compare(c.b, 0), ba = c.b.Compare(c.a, 0);
    EXPECT_EQ(std::make_tuple((ab > 0) - (ab < 0), (ba > 0) - (ba < 0), c.a == c.b), std::make_tuple(c.sign, -c.sign, c.sign == 0));
  }
  KQSValue x = NewAssoc(), y = NewAssoc();
  A(x).Add("x", x), A(y).Add("x", y);
  EXPECT_NE(x.Compare(y, 0), 0);  // without recursing
  A(x).Delete("x"), A(y).Delete("x");  // break the cycles so both are freed
}

TEST(KAssocValText, PairsInKeyOrderAfterTheUndefinedValueAndBackReferences) {
  KQSValue a = NewAssoc(), c = NewAssoc(), d = NewAssoc();
  A(a).Add("a", 1);
  A(c).Add("self", c), A(c).Add("d", d), A(d).Add("c", c);
  EXPECT_EQ(Text(d), "A<1,?,'c'=A<1,?,'d'=[Assoc:1],'self'=[Assoc:2]>>");
  // Through a List, which does not track the values it writes itself.
  A(d).Delete("c");
  A(c).Add("list", KQSValue::List(c));
  EXPECT_EQ(Text(c), "A<1,?,'d'=A<1,?>,'list'={[Assoc:1]},'self'=[Assoc:1]>");
  std::ostringstream out;  // without a formatter the storage still stops at itself
  EXPECT_TRUE(A(c).Formatter(out, nullptr));
  EXPECT_EQ(out.str(), Text(c));
  A(c).Delete("self"), A(c).Delete("list");
  // An unheld storage formats without being freed.
  KAssocVal plain;
  plain.Add("k", 1);
  KQSClassFormatter f;
  std::ostringstream unheld;
  EXPECT_TRUE(plain.Formatter(unheld, &f));
  EXPECT_EQ(unheld.str(), "A<1,?,'k'=1>");
  EXPECT_EQ(plain.References(), 0);
  A(a).Add(5, 1);
  A(a).Add("B", 1);
  char address[32];
  std::snprintf(address, sizeof address, "%lx\t", static_cast<unsigned long>(Word(a)));
  EXPECT_EQ(Str(A(a).ReferenceDebugStr(0).String()), address);
  EXPECT_EQ(Str(A(a).ReferenceDebugStr(1).String()), std::string(address) + "a, B");  // String keys only
}

// The independent order: each byte through toupper, as unsigned values.
struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const {
    for (size_t i = 0;; ++i) {
      const int ca = i < a.size() ? std::toupper(static_cast<unsigned char>(a[i])) : -1;
      const int cb = i < b.size() ? std::toupper(static_cast<unsigned char>(b[i])) : -1;
      if (ca != cb) return ca < cb;
      if (ca < 0) return false;
    }
  }
};

TEST(KAssocValModel, RandomStringAndIntegerKeysAgreeWithStdMap) {
  const unsigned seed = 20261206;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const std::string alphabet = "abcABC_[z";
  // Short texts, some behind a seven-letter stem in either case, so that
  // keys also differ only past their first bytes.
  auto randomText = [&] {
    std::string s(rng() % 4, 'a');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return rng() % 2 == 0 ? (rng() % 2 ? "CommonS" : "commons") + s : s;
  };
  const long ends[] = {INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX};
  std::map<std::string, long, CaseInsensitiveLess> strings;  // key: first spelling
  std::map<long, long> integers;
  NoNewStorage noStrings(kString), noAssocs(kAssoc);  // the pairs go with the Assoc
  KQSValue a = NewAssoc(KQSValue(-1));
  for (int step = 0; step < 8000; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    const bool useString = rng() % 3 != 0;
    const std::string text = randomText();
    const long number = rng() % 8 == 0 ? ends[rng() % 4] : static_cast<long>(rng() % 200) - 100;
    const long value = static_cast<long>(rng() % 1000);
    const KQSValue key = useString ? KQSValue(text.c_str()) : KQSValue(number);
    const long found = useString ? (strings.count(text) ? strings.at(text) : -1)
                                 : (integers.count(number) ? integers.at(number) : -1);
    switch (rng() % 4) {
      case 0:
      case 1:
        A(a).Add(key, value);
        if (useString) strings.insert_or_assign(text, value);
        else integers[number] = value;
        break;
      case 2:
        ASSERT_EQ(A(a).Delete(key), KQSValue(found));
        if (useString) strings.erase(text);
        else integers.erase(number);
        break;
      default:
        ASSERT_EQ(A(a)[key], KQSValue(found));
    }
    ASSERT_EQ(A(a).Length(), static_cast<long>(strings.size() + integers.size()));
    if (step % 250 != 0) continue;
    Lines want;
    for (const auto& [s, x] : strings) want.push_back("'" + s + "'=" + std::to_string(x));
    for (const auto& [i, x] : integers) want.push_back(std::to_string(i) + "=" + std::to_string(x));
    ASSERT_EQ(Pairs(a), want);
  }
}

}  // namespace
