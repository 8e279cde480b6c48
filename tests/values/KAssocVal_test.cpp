// Assocs: the key order (case-insensitive Strings before Integers), the
// undefined value, the storage operations reached through an Assoc value,
// the text form with its back-references, and a model check against a
// std::map with a case-insensitive comparator.
#include "vxkernel/values/KAssocVal.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdint>
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
#include "vxkernel/values/KRZTable.h"

namespace {

using namespace valtest;

constexpr short kAssoc = -18;

// A new Assoc value, and the storage inside one.
KQSValue NewAssoc(const KQSValue& undefinedValue = KQSValue()) {
  return KQSValue(kAssoc, static_cast<void*>(new KAssocVal(undefinedValue)));
}
KAssocVal& A(const KQSValue& v) { return *static_cast<KAssocVal*>(v.User()); }

// The pairs in key order, as "key=value" text forms.
std::vector<std::string> Pairs(const KQSValue& assoc) {
  std::vector<std::string> out;
  KQSValue k, v;
  for (long n = 1; A(assoc).GetNth(n, k, v); ++n) out.push_back(Text(k) + "=" + Text(v));
  return out;
}

std::vector<std::string> Texts(const KQSValue& list) {
  std::vector<std::string> out;
  for (long i = 1; i <= list.ListEntries(); ++i) out.push_back(Text(list.ListGetValue(i)));
  return out;
}

// ===== Keys and their order =====

TEST(KAssocValKeys, OnlyStringKeysFoldCase) {
  KQSValue a = NewAssoc();
  A(a).Add("abc", 1);
  A(a).Add(KQSValue::NewTypeCodeValue("ABC"), 3);  // a TypeCode of the same text is another key
  EXPECT_EQ(A(a).Length(), 2);
  EXPECT_EQ(A(a)[KQSValue("aBc")], KQSValue(1));
}

TEST(KAssocValKeys, StringsComeBeforeIntegersAndIntegersSortNumerically) {
  KQSValue a = NewAssoc();
  A(a).Add("b", 1);
  A(a).Add("a", 2);
  A(a).Add(1, 3);
  for (long i : {2147483647L, -1L, -2147483648L, 0L, 10L}) A(a).Add(i, i);
  EXPECT_EQ(Pairs(a), (std::vector<std::string>{"'a'=2", "'b'=1", "-2147483648=-2147483648", "-1=-1",
                                                 "0=0", "1=3", "10=10", "2147483647=2147483647"}));
  // Type number order between other types: Real (-4) before String (-1).
  A(a).Add(1.5, 0);
  KQSValue k, v;
  ASSERT_TRUE(A(a).GetNth(1, k, v));
  EXPECT_TRUE(k.IsReal());
}

TEST(KAssocValKeys, TypesWithoutAnOrderStillWorkAsKeys) {
  // Booleans and Errors answer "less" both ways; the Assoc still keeps each
  // one as its own key and finds it again.
  KQSValue a = NewAssoc();
  for (int round = 0; round < 2; ++round) {
    for (long code = 1; code <= 20; ++code) A(a).Add(KQSValue::Error(code), code + round);
    A(a).Add(KQSValue::Boolean(1), 100 + round);
    A(a).Add(KQSValue::Boolean(0), 200 + round);
  }
  EXPECT_EQ(A(a).Length(), 22);
  for (long code = 1; code <= 20; ++code) EXPECT_EQ(A(a)[KQSValue::Error(code)], KQSValue(code + 1));
  EXPECT_EQ(A(a)[KQSValue::Boolean(1)], KQSValue(101));
  EXPECT_EQ(A(a)[KQSValue::Boolean(0)], KQSValue(201));
  EXPECT_EQ(A(a).Delete(KQSValue::Error(7)), KQSValue(8));
  EXPECT_FALSE(A(a).IsFeature(KQSValue::Error(7)));
  EXPECT_EQ(A(a).Length(), 21);
}

TEST(KAssocValKeys, DoubleByteTextComparesByCharacters) {
  // In Shift-JIS mode a pair's trail byte is not folded, and a pair (worth
  // lead * 256 + trail) sorts after every single byte, whatever its lead
  // byte: neither holds byte by byte. The mode is process-wide: a child.
  ChildResult r = RunInChild([](std::string& out) {
    KIntl::Encoding(KIntl::kNotEncoded);
    KIntl::Language(KIntl::kJapanese);
    KIntl::MultiByte(true);
    KQSValue a = NewAssoc();
    A(a).Add("\x82\x61", 1);  // pair with trail 'a'
    A(a).Add("\x82\x41", 2);  // pair with trail 'A': another key
    A(a).Add("\xB1", 3);       // a single half-width byte
    A(a).Add("abcdefgh\x82\x61", 4);
    A(a).Add("ABCDEFGH\x82\x61", 5);  // ASCII still folds
    for (const std::string& p : Pairs(a)) out += p + ";";
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "'abcdefgh\x82\x61'=5;'\xB1'=3;'\x82\x41'=2;'\x82\x61'=1;");
}

// ===== The map operations =====

TEST(KAssocValMap, AbsentKeysAnswerTheUndefinedValue) {
  KQSValue a = NewAssoc(KQSValue(0));
  KQSValue v = KQSValue("old");
  EXPECT_FALSE(A(a).Get("missing", v));
  EXPECT_EQ(v, KQSValue(0));
  KQSValue k = KQSValue("kept");
  v = KQSValue(9);
  EXPECT_FALSE(A(a).GetNth(1, k, v));
  EXPECT_EQ(Text(k), "'kept'");
  EXPECT_EQ(v, KQSValue(0));
  A(a).UndefinedValue(KQSValue("none"));
  EXPECT_EQ(A(a)[KQSValue(1)], KQSValue("none"));
  EXPECT_EQ(A(a).Delete("x"), KQSValue("none"));
  // A default Assoc answers Undefined.
  EXPECT_TRUE(A(NewAssoc())[KQSValue("x")].IsUndefined());
}

TEST(KAssocValMap, GetNthCountsFromOne) {
  KQSValue a = NewAssoc(KQSValue(-1));
  A(a).Add("c", 3);
  A(a).Add("a", 1);
  KQSValue k, v;
  EXPECT_FALSE(A(a).GetNth(0, k, v));
  EXPECT_FALSE(A(a).GetNth(-1, k, v));
  EXPECT_FALSE(A(a).GetNth(3, k, v));
  EXPECT_TRUE(k.IsUndefined());
  ASSERT_TRUE(A(a).GetNth(2, k, v));
  EXPECT_EQ(Text(k) + Text(v), "'c'3");
}

TEST(KAssocValMap, KeysAndItemsAreListsInKeyOrder) {
  KQSValue a = NewAssoc();
  A(a).Add(2, "two");
  A(a).Add("B", "bee");
  A(a).Add("a", "ay");
  EXPECT_EQ(Texts(A(a).Keys()), (std::vector<std::string>{"'a'", "'B'", "2"}));
  EXPECT_EQ(Texts(A(a).Items()), (std::vector<std::string>{"'ay'", "'bee'", "'two'"}));
  EXPECT_EQ(A(NewAssoc()).Keys().ListEntries(), 0);
  EXPECT_TRUE(A(NewAssoc()).Items().IsList());
}

TEST(KAssocValMap, MergeTakesTheOtherValuesAndCopyReplacesEverything) {
  KQSValue a = NewAssoc(KQSValue(0));
  KQSValue b = NewAssoc(KQSValue("u"));
  A(a).Add("Key", 1);
  A(a).Add("only-a", 2);
  A(b).Add("KEY", 10);
  A(b).Add("only-b", 20);
  A(a).Merge(A(b));
  EXPECT_EQ(Pairs(a), (std::vector<std::string>{"'Key'=10", "'only-a'=2", "'only-b'=20"}));
  EXPECT_EQ(A(a).UndefinedValue(), KQSValue(0));

  A(a).Copy(A(b));
  EXPECT_EQ(Pairs(a), (std::vector<std::string>{"'KEY'=10", "'only-b'=20"}));
  EXPECT_EQ(A(a).UndefinedValue(), KQSValue("u"));
  A(a).Copy(A(a));
  A(a).Merge(A(a));
  EXPECT_EQ(A(a).Length(), 2);
  // The copy is independent.
  A(b).Add("new", 1);
  EXPECT_EQ(A(a).Length(), 2);
}

TEST(KAssocValMap, PairsAreReleasedWithTheAssoc) {
  const Counters before = Counters::Of(kString);
  const Counters assocBefore = Counters::Of(kAssoc);
  {
    KQSValue a = NewAssoc(KQSValue("undefined"));
    for (int i = 0; i < 100; ++i) A(a).Add(KQSValue(("k" + std::to_string(i)).c_str()), KQSValue("v"));
    A(a).Delete("k5");
    EXPECT_EQ((Counters::Of(kAssoc) - assocBefore).obj, 1);
  }
  EXPECT_EQ((Counters::Of(kString) - before).obj, 0);
  EXPECT_EQ((Counters::Of(kString) - before).ref, 0);
  EXPECT_EQ((Counters::Of(kAssoc) - assocBefore).obj, 0);
}

TEST(KAssocValRecord, ToRecordNamesColumnsByTheKeysInKeyOrder) {
  KQSValue a = NewAssoc();
  A(a).Add("b", 2);
  A(a).Add("A", 1);
  A(a).Add(3, "x");
  const KQSValue record = A(a).ToRecord();
  const KRZRow* row = KRZRow::FromValue(record);
  ASSERT_NE(row, nullptr);
  ASSERT_EQ(row->Width(), 3);
  EXPECT_EQ(Texts(row->ColNames()), (std::vector<std::string>{"'A'", "'b'", "?"}));
  EXPECT_EQ(row->GetColumn(1), KQSValue(1));
  EXPECT_EQ(row->GetColumn(2), KQSValue(2));
  EXPECT_EQ(row->GetColumn(3), KQSValue("x"));
  EXPECT_EQ(row->GetColIndex("B"), 2);
  EXPECT_EQ(KRZRow::FromValue(A(NewAssoc()).ToRecord())->Width(), 0);
}

TEST(KAssocValRecord, FromRecordCollapsesNamesEqualWithoutRegardToCase) {
  const KQSValue values = KQSValue::List(1, 2, 3, 4);
  const KQSValue record =
      KRZRow::MakeValue(new KRZRow(KQSValue::List("Z", "a", "z", KQSValue(7)), &values));
  const KQSValue a = KAssocVal::FromRecord(record);
  ASSERT_EQ(a.Type(), kAssoc);
  // "z" lands on "Z" (first spelling kept, later value); the Integer name
  // leaves its column unnamed, keyed Undefined.
  EXPECT_EQ(Pairs(a), (std::vector<std::string>{"'a'=2", "'Z'=3", "?=4"}));
  EXPECT_TRUE(A(a).UndefinedValue().IsUndefined());

  DebugCapture capture;
  EXPECT_TRUE(KAssocVal::FromRecord(KQSValue(5)).IsUndefined());
  EXPECT_TRUE(KAssocVal::FromRecord(a).IsUndefined());
  EXPECT_EQ(capture.Texts(), (std::vector<std::string>{"KAssocVal::FromRecord - not a Record: type 2\n",
                                                       "KAssocVal::FromRecord - not a Record: type -18\n"}));
}

// ===== Through the Assoc value and its class =====

TEST(KAssocValValue, DotReadsAndWritesKeys) {
  KQSValue a = NewAssoc(KQSValue(0));
  EXPECT_EQ(a.DotValuePut("Name", 5), 0);
  EXPECT_TRUE(a.IsFeature("NAME"));
  EXPECT_FALSE(a.IsFeature("other"));
  EXPECT_EQ(a.DotValueGet("name", nullptr), KQSValue(5));
  KQSValue out;
  EXPECT_EQ(a.Dot("missing", out, nullptr), 0);
  EXPECT_EQ(out, KQSValue(0));
}

TEST(KAssocValValue, SubscriptReadsPositionsAndSubscriptPutWritesIntegerKeys) {
  KQSValue a = NewAssoc(KQSValue(0));
  A(a).Add("y", "second");
  A(a).Add("x", "first");
  KQSValue out;
  EXPECT_EQ(a.Subscript(2, 2, out), 0);
  EXPECT_EQ(out, KQSValue("second"));
  EXPECT_EQ(a.Subscript(7, 7, out), 0);
  EXPECT_EQ(out, KQSValue(0));

  EXPECT_EQ(a.SubscriptValuePut(2, 2, KQSValue("int")), 0);
  EXPECT_EQ(a.SubscriptValuePut(2, 99, KQSValue("int2")), 0);  // j is ignored
  EXPECT_EQ(A(a).Length(), 3);
  EXPECT_EQ(A(a)[KQSValue(2)], KQSValue("int2"));
  EXPECT_EQ(a.Subscript(2, 2, out), 0);  // positions are unchanged: Strings first
  EXPECT_EQ(out, KQSValue("second"));

  DebugCapture capture;
  out = KQSValue("unchanged");
  EXPECT_EQ(a.Subscript(1, 2, out), 0x26AD0017);
  EXPECT_EQ(out, KQSValue("unchanged"));
  EXPECT_EQ(capture.All(), "KAssocVal::Subscript - two different indices: 1, 2\n");
}

TEST(KAssocValValue, CompareCountsFirstThenPairsInKeyOrder) {
  KQSValue a = NewAssoc();
  KQSValue b = NewAssoc();
  A(a).Add("a", 1);
  A(b).Add("a", 1);
  EXPECT_EQ(a.Compare(b, 0), 0);
  EXPECT_TRUE(a == b);

  A(b).Add("b", 2);
  EXPECT_LT(a.Compare(b, 0), 0);
  EXPECT_GT(b.Compare(a, 0), 0);
  A(a).Add("c", 0);  // same count now: "b" < "c" decides
  EXPECT_LT(b.Compare(a, 0), 0);
  EXPECT_FALSE(a == b);

  // Keys compare case-sensitively here: {"A":1} and {"a":1} differ.
  KQSValue upper = NewAssoc();
  KQSValue lower = NewAssoc();
  A(upper).Add("A", 1);
  A(lower).Add("a", 1);
  EXPECT_LT(upper.Compare(lower, 0), 0);
  EXPECT_FALSE(upper == lower);
  // Equal keys: the values decide.
  A(lower).Add("a", 2);
  KQSValue lower1 = NewAssoc();
  A(lower1).Add("a", 1);
  EXPECT_GT(lower.Compare(lower1, 0), 0);
  // The undefined value takes no part.
  A(lower1).UndefinedValue(KQSValue(7));
  A(lower1).Add("a", 2);
  EXPECT_TRUE(lower == lower1);
}

TEST(KAssocValValue, SelfContainingAssocsCompareWithoutRecursing) {
  KQSValue a = NewAssoc();
  KQSValue b = NewAssoc();
  A(a).Add("x", a);
  A(b).Add("x", b);
  EXPECT_NE(a.Compare(b, 0), 0);
  EXPECT_EQ(a.Compare(a, 0), 0);
  // Break the cycles so both are freed.
  A(a).Delete("x");
  A(b).Delete("x");
}

// ===== Text form =====

TEST(KAssocValText, PairsInKeyOrderAfterTheUndefinedValue) {
  KQSValue a = NewAssoc();
  EXPECT_EQ(Text(a), "A<1,?>");
  A(a).Add("b", 2);
  A(a).Add("a", 1);
  EXPECT_EQ(Text(a), "A<1,?,'a'=1,'b'=2>");
  KQSValue b = NewAssoc(KQSValue("it's"));
  A(b).Add(3, 1.5);
  A(b).Add("l", KQSValue::List(1, "x"));
  A(b).Add("inner", a);
  EXPECT_EQ(Text(b), "A<1,'it\\'s','inner'=A<1,?,'a'=1,'b'=2>,'l'={1,'x'},3=G1.5>");
}

TEST(KAssocValText, AnAssocInsideItselfIsABackReference) {
  KQSValue a = NewAssoc();
  KQSValue b = NewAssoc();
  A(a).Add("self", a);
  EXPECT_EQ(Text(a), "A<1,?,'self'=[Assoc:1]>");
  A(a).Add("b", b);
  A(b).Add("a", a);
  EXPECT_EQ(Text(a), "A<1,?,'b'=A<1,?,'a'=[Assoc:1]>,'self'=[Assoc:1]>");
  EXPECT_EQ(Text(b), "A<1,?,'a'=A<1,?,'b'=[Assoc:1],'self'=[Assoc:2]>>");
  // Through a List, which does not track the values it writes itself.
  A(b).Delete("a");
  A(a).Add("list", KQSValue::List(a));
  EXPECT_EQ(Text(a), "A<1,?,'b'=A<1,?>,'list'={[Assoc:1]},'self'=[Assoc:1]>");

  // Without a formatter the storage still stops at itself.
  std::ostringstream out;
  EXPECT_TRUE(A(a).Formatter(out, nullptr));
  EXPECT_EQ(out.str(), "A<1,?,'b'=A<1,?>,'list'={[Assoc:1]},'self'=[Assoc:1]>");
  A(a).Delete("self");
  A(a).Delete("list");
}

TEST(KAssocValText, AnUnheldStorageFormatsWithoutBeingFreed) {
  KAssocVal plain;
  plain.Add("k", 1);
  KQSClassFormatter f;
  std::ostringstream out;
  EXPECT_TRUE(plain.Formatter(out, &f));
  EXPECT_EQ(out.str(), "A<1,?,'k'=1>");
  EXPECT_EQ(plain.References(), 0);
}

TEST(KAssocValText, ReferenceDebugStrListsTheStringKeys) {
  KQSValue a = NewAssoc();
  A(a).Add("b", 1);
  A(a).Add(5, 1);
  A(a).Add("a", 1);
  char address[32];
  std::snprintf(address, sizeof address, "%lx\t", static_cast<unsigned long>(Word(a)));
  EXPECT_EQ(Str(A(a).ReferenceDebugStr(0).String()), address);
  EXPECT_EQ(Str(A(a).ReferenceDebugStr(1).String()), std::string(address) + "a, b");
}

// ===== Model check =====

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
  std::mt19937 rng(20261206);
  const std::string alphabet = "abcABC_[z";
  // Short texts, and texts behind a common seven-letter stem spelled in
  // either case, so that keys also differ only past their first bytes.
  auto randomText = [&] {
    std::string s(rng() % 4, 'a');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    if (rng() % 2 == 0) s = (rng() % 2 ? "CommonS" : "commons") + s;
    return s;
  };
  std::map<std::string, long, CaseInsensitiveLess> strings;  // key: first spelling
  std::map<long, long> integers;
  KQSValue a = NewAssoc(KQSValue(-1));
  for (int step = 0; step < 20000; ++step) {
    const bool useString = rng() % 3 != 0;
    const std::string text = randomText();
    const long number = static_cast<long>(rng() % 200) - 100;
    const KQSValue key = useString ? KQSValue(text.c_str()) : KQSValue(number);
    const long value = static_cast<long>(rng() % 1000);
    switch (rng() % 4) {
      case 0:
      case 1:
        A(a).Add(key, value);
        if (useString) strings.insert_or_assign(text, value);
        else integers[number] = value;
        break;
      case 2: {
        long expected = -1;
        if (useString) {
          auto it = strings.find(text);
          if (it != strings.end()) expected = it->second, strings.erase(it);
        } else if (integers.count(number) != 0) {
          expected = integers[number];
          integers.erase(number);
        }
        ASSERT_EQ(A(a).Delete(key), KQSValue(expected)) << "step " << step;
        break;
      }
      default: {
        long expected = -1;
        if (useString && strings.count(text) != 0) expected = strings.at(text);
        if (!useString && integers.count(number) != 0) expected = integers.at(number);
        ASSERT_EQ(A(a)[key], KQSValue(expected)) << "step " << step;
      }
    }
    ASSERT_EQ(A(a).Length(), static_cast<long>(strings.size() + integers.size())) << "step " << step;
    if (step % 500 != 0) continue;
    // Full walk: every pair in order, Strings (first spelling) then Integers.
    long n = 1;
    KQSValue k, v;
    for (const auto& [s, x] : strings) {
      ASSERT_TRUE(A(a).GetNth(n++, k, v));
      ASSERT_TRUE(k.IsString());
      ASSERT_EQ(Str(k.String()), s);
      ASSERT_EQ(v, KQSValue(x));
    }
    for (const auto& [i, x] : integers) {
      ASSERT_TRUE(A(a).GetNth(n++, k, v));
      ASSERT_EQ(k, KQSValue(i));
      ASSERT_EQ(v, KQSValue(x));
    }
    ASSERT_FALSE(A(a).GetNth(n, k, v));
  }
}

}  // namespace
