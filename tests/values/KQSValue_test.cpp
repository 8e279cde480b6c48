// KQSValue: construction, assignment, counters, class lookup, forwards to
// storage, diagnostics, and order and equality.
#include "vxkernel/values/KQSValue.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/text/str.h"
#include "vxkernel/values/KQSValueBytes.h"
#include "vxkernel/values/KQSValueDate.h"
#include "vxkernel/values/KQSValueString.h"

namespace {

using namespace valtest;

TEST(KQSValueConstruction, IntegerConstructorsKeepThirtyTwoBits) {
  const struct {
    KQSValue value;
    long asLong;               // operator long: the 32-bit meaning
    unsigned long asUnsigned;  // operator unsigned long
  } cases[] = {
      {KQSValue(static_cast<char>(-5)), -5, 4294967291ul},
      {KQSValue(static_cast<unsigned short>(65535)), 65535, 65535},
      {KQSValue(3000000000L), -1294967296L, 3000000000ul},
      {KQSValue(4294967303ul), 7, 7},  // 2^32 + 7
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.asLong);
    EXPECT_EQ(c.value.Type(), kInteger);
    EXPECT_EQ(static_cast<long>(c.value), c.asLong);
    EXPECT_EQ(static_cast<unsigned long>(c.value), c.asUnsigned);
    EXPECT_EQ(static_cast<double>(c.value), static_cast<double>(c.asLong));
    EXPECT_EQ(static_cast<int64>(c.value), c.asLong);
  }
  EXPECT_EQ(static_cast<short>(KQSValue(70000)), 4464);  // the narrow accessors cut the word
  EXPECT_EQ(static_cast<unsigned char>(KQSValue(-1)), 255);
  EXPECT_EQ(KQSValue::Error(0xFFFFFFFFL).Error(), -1);  // a code keeps 32 bits
  EXPECT_EQ(KQSValue::BlobId(-3).BlobId(), -3);
}

TEST(KQSValueConstruction, AStringSharesItsTextWhicheverHolderGoesFirst) {
  const KString text("h\xc3\xa9llo");  // 6 bytes
  const KQSValue s(text);
  EXPECT_EQ(s.String().Ref(), text.Ref());  // shared, not copied
  EXPECT_EQ(s.Length(), 6);
  EXPECT_EQ(KQSValue(static_cast<const char*>(nullptr)).Length(), 0);
  // Storage and text of a String made from bytes share one block, which
  // lives as long as a copy of its KString does (the sanitizers see it).
  KString kept;
  {
    const KQSValue v("a text of some length");
    kept = v.String();
  }
  KString other = kept;
  other += "!";  // shared: appending copies
  kept += " and then some more, well past the room it had";  // alone again: it grows
  EXPECT_EQ(Str(kept), "a text of some length and then some more, well past the room it had");
  EXPECT_EQ(Str(other), "a text of some length!");
  auto* first = new KQSValue("shared");  // the one block outlives whichever holder goes first
  const KQSValue second(first->String());
  EXPECT_EQ(second.String().Ref(), first->String().Ref());
  delete first;
  for (const KQSValue& v : {KQSValue(42), KQSValue::NewTypeCodeValue("Integer"), KQSValue(kString, 0L)}) {
    EXPECT_EQ(Str(v.String()), "!KQSValue error string!");
    EXPECT_EQ(static_cast<const char*>(v), nullptr);
  }
}

TEST(KQSValueConstruction, DateAndBytesHoldCopies) {
  KDateTime d = MakeDate(2004, 3, 5, 14, 7, 9, 250);
  const KQSValue v(d);
  d.Year(1999);
  EXPECT_TRUE(v.Date() == MakeDate(2004, 3, 5, 14, 7, 9, 250));
  EXPECT_EQ(KQSValue::NewTypeCodeValue("KQSClass_Assoc").Length(), 14);
  unsigned char raw[] = {0x00, 0xAB, 0x10};
  const KQSValue b(kBytes, static_cast<const void*>(raw), 3L);
  raw[0] = 1;
  EXPECT_EQ(b, BytesValue("00ab10"));
  EXPECT_EQ(KQSValue(kBytes, static_cast<const void*>("abc"), -5L), KQSValue::NewBytesValue("", 0));
  EXPECT_EQ(KQSValue(kBytes, static_cast<void*>(KQSValueBytes::Make(nullptr, 4))), BytesValue("00000000"));  // zero-filled
}

TEST(KQSValueConstruction, StorageIsAdoptedWithOneReferenceAndAWordTakesNone) {
  ExpectDebug({}, [] {
    const Counters before = Counters::Of(kString);
    auto* storage = new KQSValueString("adopted");
    auto* handed = new KQSValueString("handed over");
    KQSValue::Class_String()->AddReference(handed);  // a word whose reference the caller hands over
    {
      const KQSValue s(kString, static_cast<void*>(storage));
      const KQSValue c(KQSValue::Class_String(), new KQSValueString("by class"));
      const KQSValue h(kString, reinterpret_cast<long>(handed));
      EXPECT_EQ(storage->References(), 1);
      EXPECT_EQ(handed->References(), 1);
      EXPECT_EQ(Counters::Of(kString) - before, (Counters{3, 3, 3}));
      const KQSValue t(&s);  // the pointer form copies too
      EXPECT_EQ(storage->References(), 2);
    }
    EXPECT_EQ(Counters::Of(kString) - before, (Counters{0, 0, 4}));
    EXPECT_EQ(static_cast<long>(KQSValue(kInteger, 42L)), 42);  // known numbers find their class
    EXPECT_EQ(KQSValue(kExtern, static_cast<const void*>("ab"), 2L).Class(), KQSValue::Class_Extern());
    EXPECT_EQ(KQSValue::LookupOrGenerateClass(KQSValue::ProcessEnvironment(), kReal), KQSValue::Class_Real());
  });
}

TEST(KQSValueConstruction, StorageForAnImmediateClassIsReportedAndNotOwned) {
  PlainStorage storage;
  ExpectDebug({"KQSValue::KQSValue() !c->fIsPointer...type=2/Integer\n"}, [&] {
    const KQSValue v(kInteger, static_cast<void*>(&storage));
    EXPECT_EQ(v.Instance(), &storage);
  });
  EXPECT_EQ(storage.References(), 0);
}

TEST(KQSValueClasses, HostSlotsMakeObjRefAndClassValues) {
  EXPECT_EQ(ChildTranscript([](Transcript& t) {
              static KQSClass objRef("ObjRef", 3);
              static KQSClass classClass("Class", KQSClass::kNoClassNumber);
              KQSValue::Class_ObjRef(&objRef);
              KQSValue::Class_Class(&classClass);
              const KQSValue o = KQSValue::ObjRef(4294967295ul);
              const KQSValue c = KQSValue::NewClassValue(KQSValue::Class_Integer());
              t.Line(o.Type(), " ", o.ObjRef(), " ", c.Instance() == KQSValue::Class_Integer(), c.Class() == &classClass);
            }),
            "3 4294967295 11\n");
}

TEST(KQSValueAssignment, EveryKindReleasesTheOldStorageAndKeepsTheCounts) {
  const std::pair<std::function<void(KQSValue&)>, std::string> cases[] = {
      {[](KQSValue& v) { v = 3000000000L; }, "-1294967296"},
      {[](KQSValue& v) { v = GEOM_point{3, -4}; }, "(3,-4)"},
      {[](KQSValue& v) { v = KString("k"); }, "'k'"},
      {[](KQSValue& v) { v = static_cast<int64>(-5); }, "L-5"},
      {[](KQSValue& v) { v.Undefine(); }, "?"},
  };
  for (const auto& [assign, text] : cases) {
    SCOPED_TRACE(text);
    const Counters before = Counters::Of(kString);
    {
      KQSValue v("old text");
      assign(v);
      EXPECT_EQ(Text(v), text);
      const long strings = text[0] == '\'' ? 1 : 0;  // a new String is the only one left
      EXPECT_EQ(Counters::Of(kString) - before, (Counters{strings, strings, 1 + strings}));
    }
    EXPECT_EQ((Counters::Of(kString) - before).obj, 0);
  }
  KQSValue a(1.5), b(a);
  b = 2.5;  // never written through the shared storage
  EXPECT_EQ(static_cast<double>(a), 1.5);
  EXPECT_EQ(static_cast<double>(b), 2.5);
  const Counters before = Counters::Of(kString);
  KQSValue v("own text");
  v = v.String();
  v = static_cast<const char*>(v);
  v = *&v;
  KQSValue w(v);
  v = w;  // the same storage through another value: taken, then dropped
  EXPECT_EQ(Str(v.String()), "own text");
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 2, 5}));
  KQSValue moved(std::move(w)), target("target");
  target = std::move(moved);  // releases "target"
  // NOLINTBEGIN(bugprone-use-after-move): the moved-from state is defined
  EXPECT_TRUE(w.IsUndefined());
  EXPECT_TRUE(moved.IsUndefined());
  // NOLINTEND(bugprone-use-after-move)
  EXPECT_EQ(target.Instance(), v.Instance());
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 2, 6}));
}

// String, Real, Bytes and Long are counted exactly by the thread test.
TEST(KQSValueCounters, EachStorageCountsInItsOwnClassAndNothingElseCounts) {
  for (const KQSValue& made : {KQSValue(MakeDate(2001, 1, 1)), KQSValue::NewTypeCodeValue("T")}) {
    const short t = made.Type();
    const Counters before = Counters::Of(t);
    {
      KQSValue v;
      v = made;
      const KQSValue w(v), x(w);
      EXPECT_EQ(Counters::Of(t) - before, (Counters{0, 3, 3})) << t;  // made is already counted
    }
    EXPECT_EQ(Counters::Of(t) - before, (Counters{0, 0, 3})) << t;
  }
  // Immediate types, numbers without a class and values without storage.
  const Counters lists = Counters::Of(kList);
  KQSValue keep[] = {KQSValue(1), KQSValue::Boolean(1), KQSValue::Error(3), KQSValue(kList, 0L), KQSValue()};
  keep[4] = keep[3];
  for (short t : {kUndefined, kError, kInteger, kBoolean, kPoint, kVoid, short{998}}) {
    EXPECT_EQ(Counters::Of(t), (Counters{0, 0, 0})) << t;
  }
  EXPECT_EQ(Counters::Of(kList) - lists, (Counters{0, 0, 0}));
}

TEST(KQSValueArrays, InitializeWritesUndefinedAndDestroyReleasesLeavingTheWords) {
  alignas(KQSValue) unsigned char raw[4 * sizeof(KQSValue)];
  std::memset(raw, 0xA5, sizeof raw);
  auto* values = reinterpret_cast<KQSValue*>(raw);
  KQSValue::InitializeValues(values, -3);
  KQSValue::InitializeValues(values, 2);
  EXPECT_TRUE(values[1].IsUndefined());
  for (size_t i = 2 * sizeof(KQSValue); i < sizeof raw; ++i) ASSERT_EQ(raw[i], 0xA5) << i;
  const Counters before = Counters::Of(kString);
  const KQSValue keep("kept alive");
  new (&values[0]) KQSValue(keep), new (&values[1]) KQSValue("dies"), new (&values[2]) KQSValue(5);
  unsigned char snapshot[sizeof raw];
  std::memcpy(snapshot, raw, sizeof raw);
  KQSValue::DestroyValues(values, 3);
  EXPECT_EQ(std::memcmp(snapshot, raw, sizeof raw), 0);
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 1, 3}));
}

TEST(KQSValueLookup, UnknownNumbersGenerateTheirClassOnceOrAreStrangeOutsideTheRange) {
  EXPECT_EQ(ChildTranscript([](Transcript& t) {
    DebugCapture capture;
    const KQSValue a(static_cast<short>(500), static_cast<const void*>("abc"), 3L);
    const KQSClass* c = a.Class();
    t.Line(capture.All(), c->ClassName(), " ", c->ClassNumber(), " pointer=", c->IsPointer(), " length=",
           a.Length(), " ", std::string(reinterpret_cast<const char*>(a.Bytes()), 3));
    capture.Clear();
    const KQSValue b(static_cast<short>(500), static_cast<const void*>("xy"), 2L);
    t.Line("[", capture.All(), "] same=", b.Class() == c, " number=", KQSValue::NumberToClass(500) == c,
           " name=", KQSValue::NameToClass("TYPE_500") == c, " obj=", Counters::Of(500).obj);
    const int identity = a.Instance() < b.Instance() ? -1 : 1;  // storage ordered by identity
    t.Line("identity=", a.Compare(b, 0) == identity && b.Compare(a, 0) == -identity, " equal=", a == b);
    capture.Clear();
    const KQSValue strange(static_cast<short>(-200), static_cast<const void*>("q"), 1L);
    t.Line(capture.All(), strange.Class()->ClassName(), " ", strange.Type(), " ", strange.Length());
  }), "KQSValue::LookupOrGenerateClass() Deprecated KQSValueBaseClass constructor: 500\n"
      "type_500 500 pointer=1 length=3 abc\n"
      "[] same=1 number=1 name=1 obj=2\n"
      "identity=1 equal=0\n"
      "KQSValue::LookupOrGenerateClass() Deprecated KQSValueBaseClass constructor: -200\n"
      "KOPPEnvironment::AddClass()...ClassNumber out of range=-200...Use AddProcessClass instead.\n"
      "KQSValue::LookupOrGenerateClass()...Cannot AddClass(). Probably already installed\n"
      "KQSValue::LookupOrGenerateClass()...Strange. Can't add it or find it.\n"
      "type_-200 -200 1\n");
}

class RecordingStorage : public KQSValueBase {
 public:
  long fStatus = 0;
  long Length() const override { return 42; }
  long Dot(const KQSValue& name, KQSValue& out, KQSValue* /*env*/) override {
    return out = KString("dot:") + name.String(), fStatus;
  }
  long Subscript(long i, long j, KQSValue& out) override { return out = i * 100 + j, 0; }
  long Invoke(short argc, KQSValue* /*argv*/, KQSValue& out) override { return out = static_cast<int>(argc), fStatus; }
};

TEST(KQSValueForwards, StorageAnswersThroughTheValueAndAFailingStatusBecomesTheResult) {
  auto* storage = new RecordingStorage;
  const KQSValue v(kListExpand, static_cast<void*>(storage));
  EXPECT_EQ(v.Length(), 42);
  KQSValue out, args[2] = {KQSValue(1), KQSValue(2)};
  EXPECT_EQ(v.Subscript(KQSValue(3), KQSValue(-4), out), 0);  // indices as raw words
  EXPECT_EQ(static_cast<long>(out), 296);
  EXPECT_EQ(v.Invoke(2, args, out), 0);
  EXPECT_EQ(static_cast<long>(out), 2);
  EXPECT_EQ(Str(v.DotValueGet(KQSValue("name"), nullptr).String()), "dot:name");
  EXPECT_TRUE(v.IsFeature(KQSValue("name")));
  storage->fStatus = 9;
  EXPECT_EQ(v.Invoke(2, args, out), 9);
  EXPECT_EQ(out, KQSValue::Error(9));
  EXPECT_EQ(v.DotInvoke(KQSValue("m"), 0, nullptr, out, nullptr), 9);
  EXPECT_EQ(out, KQSValue::Error(9));
  storage->fStatus = -1;
  EXPECT_FALSE(v.IsFeature(KQSValue("name")));
  storage->fStatus = -2;  // "invoke out yourself": out is left as the class set it
  EXPECT_EQ(v.DotInvoke(KQSValue("m"), 0, nullptr, out, nullptr), -2);
  EXPECT_EQ(Str(out.String()), "dot:m");
  const KQSValue p(kListExpand, static_cast<void*>(new PlainStorage));
  EXPECT_EQ(p.Length(), -1);
  EXPECT_EQ(p.Invoke(0, nullptr, out), -1);
  EXPECT_EQ(out.Error(), -1);
  EXPECT_FALSE(p.IsFeature(KQSValue("x")));
  EXPECT_TRUE(p.Features().IsUndefined());
  EXPECT_TRUE(p.DotValueGet(KQSValue("x"), nullptr).IsUndefined());
  char expected[32];
  std::snprintf(expected, sizeof expected, "%10lx", static_cast<unsigned long>(Word(p)));
  EXPECT_EQ(Str(p.User()->ReferenceDebugStr(0).String()), expected);
  EXPECT_TRUE(KQSValueDate(MakeDate(2004, 3, 5)).ReferenceDebugStr(0).IsUndefined());
  ExpectDebug({"Count = 0/0\n"}, [] { KQSValueBase::DebugPrintCount(); });
}

TEST(KQSValueDiagnostics, AssertClassRepairsAZeroOrSmallClassWord) {
  const std::pair<intptr_t, const char*> cases[] = {
      {0, "KQSValue::AssertClass( fClass == 0 )\n"}, {255, "KQSValue::AssertClass()\n"}, {-255, "KQSValue::AssertClass()\n"}};
  for (const auto& [word, message] : cases) {
    SCOPED_TRACE(word);
    KQSValue v(42);
    std::memcpy(static_cast<void*>(&v), &word, sizeof word);  // the class word is the first word
    ExpectDebug({message}, [&] { v.AssertClass(); });
    EXPECT_EQ(v, KQSValue(23571113));
  }
  KQSValue s("fine");
  const void* storage = s.Instance();
  ExpectDebug({}, [&] { s.AssertClass(), KQSValue(7).AssertInstance(); });
  EXPECT_EQ(s.Instance(), storage);
  ExpectDebug({"KQSValue::AssertInstance()\n"}, [] { KQSValue(0).AssertInstance(); });
}

TEST(KQSValueCompare, DifferentTypesOrderByTheTypeNumberDifference) {
  // KQSValue decides before any class is asked: a sample of both kinds and signs.
  const std::pair<short, KQSValue> samples[] = {
      {kUndefined, KQSValue()}, {kError, KQSValue::Error(5)}, {kInteger, KQSValue(5)}, {kNotSet, KQSValue::NotSet()},
      {kString, KQSValue("5")}, {kList, KQSValue(kList, 0L)}, {kReal, KQSValue(5.0)},
      {kBytes, KQSValue::NewBytesValue("5", 1)}, {kLong, KQSValue(static_cast<int64>(5))}, {kTypeCode, KQSValue::NewTypeCodeValue("5")},
  };
  ExpectDebug({}, [&] {
    for (const auto& [ta, a] : samples) {
      ASSERT_EQ(a.Type(), ta);
      const KQSValue copy(a);
      EXPECT_TRUE(a == copy) << ta;
      EXPECT_EQ(a.Compare(copy, 0), 0) << ta;
      EXPECT_TRUE(a <= copy) << ta;
      EXPECT_FALSE(a < copy) << ta;
      for (const auto& [tb, b] : samples) {
        if (ta == tb) continue;
        SCOPED_TRACE(std::to_string(ta) + " vs " + std::to_string(tb));
        EXPECT_EQ(a.Compare(b, 0), ta - tb);  // the difference itself
        EXPECT_EQ(a.Compare(b, 1), ta - tb);
        EXPECT_TRUE(a != b);
        EXPECT_EQ(a < b, ta < tb);
        EXPECT_EQ(a >= b, ta > tb);
      }
    }
  });
}

TEST(KQSValueCompare, WithinATypeValuesOrderTrulyAndRealsAreEqualWithinEpsilon) {
  const KQSValue date(MakeDate(2004, 3, 5, 14, 7, 9));
  const auto e = [](const char* bytes, long n) { return KQSValue(kExtern, static_cast<const void*>(bytes), n); };
  const struct {
    KQSValue a, b;
    int ab, ba;  // Compare both ways, exactly
    bool equal;
  } cases[] = {
      {KQSValue(INT_MAX), KQSValue(-1), 1, -1, false},  // where the difference wraps
      {KQSValue(int64{LLONG_MIN}), KQSValue(int64{1}), -1, 1, false},
      {KQSValue(int64{0x100000001LL}), KQSValue(int64{0x200000001LL}), -1, 1, false},  // same low half
      {KQSValue(0.1 + 0.2), KQSValue(0.3), 1, -1, true},  // ordered exactly, equal within epsilon
      {KQSValue(0.0), KQSValue(DBL_EPSILON), -1, 1, true},  // "at most": the boundary is equal
      {KQSValue(0.0), KQSValue(std::nextafter(DBL_EPSILON, 1.0)), -1, 1, false},
      {KQSValue(1e16), KQSValue(1e16 + 2), -1, 1, false},  // absolute, not relative
      {KQSValue::Boolean(1), KQSValue::Boolean(2), -1, -1, false},  // no order: less both ways
      {KQSValue(GEOM_point{1, 2}), KQSValue(GEOM_point{2, 1}), -1, -1, false},
      {BytesValue("01ff"), BytesValue("0102"), 1, -1, false},  // unsigned bytes
      {BytesValue("01"), BytesValue("010203"), -2, 2, false},  // the length difference as it is
      {BytesValue("ff"), BytesValue("000000"), 1, -1, false},  // the first difference wins
      {e("\x01\x02", 2), e("\x01\x02\x03", 3), -1, 1, false},  // Extern as Bytes
      {date, KQSValue(MakeDate(2004, 3, 5, 14, 7, 9, 1)), -1, 1, false},  // milliseconds count
      {date, KQSValue(MakeDate(2004, 3, 5, 14, 7, 9)), 0, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Text(c.a) + " vs " + Text(c.b));
    EXPECT_EQ(std::make_pair(c.a.Compare(c.b, 0), c.b.Compare(c.a, 0)), std::make_pair(c.ab, c.ba));
    EXPECT_EQ(std::make_pair(c.a == c.b, c.b == c.a), std::make_pair(c.equal, c.equal));
  }
}

TEST(KQSValueCompare, StringsCollateAndIgnoreCaseOnRequest) {
  const auto sign = [](int v) { return (v > 0) - (v < 0); };
  const char* texts[] = {"", "a", "A", "abc", "abd", "B", "Zeta", "a b", "10", "9"};
  for (const char* x : texts) {
    for (const char* y : texts) {
      SCOPED_TRACE(std::string("'") + x + "' vs '" + y + "'");
      const KQSValue a(x), b(KString{y});  // separate storage
      EXPECT_EQ(sign(a.Compare(b, 0)), sign(str_cmp_intl(x, y)));
      EXPECT_EQ(sign(a.Compare(b, 1)), sign(str_cmpu_intl(x, y)));
      EXPECT_EQ(a == b, std::string(x) == y);
    }
  }
}

}  // namespace
