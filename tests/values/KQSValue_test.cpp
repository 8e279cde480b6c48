// KQSValue: construction, accessors, assignment, the storage counters, bulk
// initialisation and destruction, the class lookup of the type-number
// constructors and the diagnostics.
#include "vxkernel/values/KQSValue.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/KQSValueBytes.h"
#include "vxkernel/values/KQSValueDate.h"
#include "vxkernel/values/KQSValueString.h"

namespace {

using namespace valtest;

static_assert(sizeof(KQSValue) == 2 * sizeof(void*), "a value is two words");

constexpr const char* kErrorString = "!KQSValue error string!";

// ===== Construction and accessors =====

struct IntegerCase {
  const char* what;
  std::function<KQSValue()> make;
  long asLong;               // operator long: the 32-bit meaning
  unsigned long asUnsigned;  // operator unsigned long
};

TEST(KQSValueConstruction, IntegerConstructorsKeepThirtyTwoBits) {
  DebugCapture capture;
  const std::vector<IntegerCase> cases = {
      {"char -5", [] { return KQSValue(static_cast<char>(-5)); }, -5, 4294967291ul},
      {"unsigned char 250", [] { return KQSValue(static_cast<unsigned char>(250)); }, 250, 250},
      {"short -30000", [] { return KQSValue(static_cast<short>(-30000)); }, -30000, 4294937296ul},
      {"unsigned short 65535", [] { return KQSValue(static_cast<unsigned short>(65535)); }, 65535,
       65535},
      {"int INT_MIN", [] { return KQSValue(INT_MIN); }, INT_MIN, 2147483648ul},
      {"int 70000", [] { return KQSValue(70000); }, 70000, 70000},
      {"long -1", [] { return KQSValue(-1L); }, -1, 4294967295ul},
      {"long 3000000000 wraps", [] { return KQSValue(3000000000L); }, -1294967296L, 3000000000ul},
      {"long 2^32 wraps to 0", [] { return KQSValue(4294967296L); }, 0, 0},
      {"long -2^31-1 wraps", [] { return KQSValue(-2147483649L); }, 2147483647L, 2147483647ul},
      {"unsigned int max", [] { return KQSValue(4294967295u); }, -1, 4294967295ul},
      {"unsigned long 2147483648", [] { return KQSValue(2147483648ul); }, INT_MIN, 2147483648ul},
      {"unsigned long 2^32+7 wraps", [] { return KQSValue(4294967303ul); }, 7, 7},
  };
  for (const IntegerCase& c : cases) {
    SCOPED_TRACE(c.what);
    KQSValue v = c.make();
    EXPECT_TRUE(v.IsInteger());
    EXPECT_EQ(v.Type(), kInteger);
    EXPECT_EQ(v.Class(), KQSValue::Class_Integer());
    EXPECT_EQ(static_cast<long>(v), c.asLong);
    EXPECT_EQ(static_cast<unsigned long>(v), c.asUnsigned);
    EXPECT_EQ(static_cast<int>(v), static_cast<int>(c.asLong));
    EXPECT_EQ(static_cast<unsigned int>(v), static_cast<unsigned int>(c.asUnsigned));
    EXPECT_EQ(static_cast<double>(v), static_cast<double>(c.asLong));
    EXPECT_EQ(static_cast<int64>(v), static_cast<int64>(c.asLong));
    EXPECT_EQ(v.Length(), -1);
    // Equal 32-bit meanings make equal values whatever the constructor.
    EXPECT_EQ(v, KQSValue(static_cast<int>(c.asLong)));
    EXPECT_EQ(v.Compare(KQSValue(static_cast<int>(c.asLong)), 0), 0);
  }
  EXPECT_EQ(capture.All(), "");
}

TEST(KQSValueConstruction, NarrowingAccessorsTruncateTheWord) {
  KQSValue v(70000);
  EXPECT_EQ(static_cast<short>(v), 4464);  // 70000 - 65536
  EXPECT_EQ(static_cast<unsigned short>(v), 4464);
  KQSValue m(-1);
  EXPECT_EQ(static_cast<char>(m), static_cast<char>(-1));
  EXPECT_EQ(static_cast<unsigned char>(m), 255);
  EXPECT_EQ(static_cast<short>(m), -1);
  EXPECT_EQ(static_cast<unsigned short>(m), 65535);
  EXPECT_EQ(static_cast<float>(KQSValue(7)), 7.0f);
}

TEST(KQSValueConstruction, ImmediateMakersKeepTheirWord) {
  KQSValue u;
  EXPECT_TRUE(u.IsUndefined() && !u.IsDefined());
  EXPECT_EQ(u.Class(), KQSValue::Class_Undefined());
  EXPECT_EQ(u.Instance(), nullptr);
  EXPECT_EQ(u.Length(), -1);
  EXPECT_EQ(KQSValue::Undefined(), u);
  EXPECT_EQ(KQSValue::NotSet().Instance(), nullptr);
  EXPECT_TRUE(KQSValue::Error(0x26AD000F).IsError());
  EXPECT_EQ(KQSValue::Error(0x26AD000F).Error(), 0x26AD000F);
  EXPECT_EQ(KQSValue::Error(0xFFFFFFFFL).Error(), -1);  // a code keeps 32 bits
  EXPECT_EQ(KQSValue::BlobId(-3).BlobId(), -3);
  EXPECT_EQ(static_cast<unsigned char>(KQSValue::Boolean(7)), 7);  // the byte is kept as given
}

TEST(KQSValueConstruction, PointKeepsSixteenBitHalves) {
  struct Case {
    int32_t x, y;
  } cases[] = {{-1, 2}, {70000, 0}, {-32768, 32767}, {0x12345, -70000}, {0, -1}, {65535, 65536}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    KQSValue v(GEOM_point{c.x, c.y});
    EXPECT_EQ(v.Type(), kPoint);
    GEOM_point p = static_cast<GEOM_point>(v);
    EXPECT_EQ(p.x, static_cast<int16_t>(c.x & 0xFFFF));
    EXPECT_EQ(p.y, static_cast<int16_t>(c.y & 0xFFFF));
    // The 32-bit word is x in the low half, y in the high half.
    uint32_t word32 = (static_cast<uint32_t>(c.x) & 0xFFFFu) | (static_cast<uint32_t>(c.y) << 16);
    EXPECT_EQ(static_cast<unsigned long>(v), word32);
  }
  GEOM_point p = static_cast<GEOM_point>(KQSValue(GEOM_point{70000, 0}));
  EXPECT_EQ(p.x, 4464);
}

TEST(KQSValueConstruction, RealAndLong) {
  KQSValue d(2.5);
  EXPECT_TRUE(d.IsReal());
  EXPECT_EQ(d.Class(), KQSValue::Class_Real());
  EXPECT_EQ(d.Length(), -1);
  EXPECT_EQ(static_cast<double>(KQSValue(0.1f)), static_cast<double>(0.1f));  // widened, not re-rounded
  EXPECT_EQ(static_cast<float>(KQSValue(1e300)), static_cast<float>(1e300));

  KQSValue l(static_cast<int64>(1) << 40);
  EXPECT_TRUE(l.IsLong());
  EXPECT_EQ(l.Class(), KQSValue::Class_Long());
  EXPECT_EQ(l.Length(), -1);
  EXPECT_EQ(static_cast<int64>(KQSValue(static_cast<int64>(LLONG_MIN))), LLONG_MIN);
  // Accessors do not check the type: a Long read as a double is the word.
  EXPECT_EQ(static_cast<double>(l), static_cast<double>(static_cast<int32_t>(Word(l))));
}

TEST(KQSValueConstruction, StringsShareTheirText) {
  KString text("h\xc3\xa9llo");  // 6 bytes, 5 characters in UTF-8
  KQSValue s(text);
  EXPECT_TRUE(s.IsString());
  EXPECT_EQ(s.Class(), KQSValue::Class_String());
  EXPECT_EQ(s.String().Ref(), text.Ref());  // shared, not copied
  EXPECT_EQ(s.Length(), 6);
  EXPECT_STREQ(s.operator const char*(), "h\xc3\xa9llo");
  KString copy = s.operator KString();
  EXPECT_EQ(copy.Ref(), text.Ref());

  KQSValue c("plain");
  EXPECT_EQ(Str(c.String()), "plain");
  EXPECT_EQ(c.Length(), 5);
  KQSValue empty("");
  EXPECT_EQ(empty.Length(), 0);
  EXPECT_STREQ(empty.operator const char*(), "");
}

// A String made from bytes keeps storage and text in one block, which must
// stay alive for as long as a copy of its KString does, in whatever order
// the holders go; the sanitizer builds catch a block freed too early.
TEST(KQSValueConstruction, StringTextOutlivesItsValue) {
  KString kept;
  {
    KQSValue v("a text of some length");
    kept = v.String();
    EXPECT_GE(kept.Capacity(), kept.Length());
  }
  EXPECT_EQ(Str(kept), "a text of some length");
  KString other = kept;
  // Shared: appending copies; alone again: appending grows it.
  other += "!";
  EXPECT_EQ(Str(kept), "a text of some length");
  kept += " and then some more, well past the room it had";
  EXPECT_EQ(Str(kept), "a text of some length and then some more, well past the room it had");
  EXPECT_EQ(Str(other), "a text of some length!");

  // A value made from the text of another shares it; either may go first.
  for (int order = 0; order < 2; ++order) {
    auto* first = new KQSValue("shared");
    auto* second = new KQSValue(first->String());
    EXPECT_EQ(second->String().Ref(), first->String().Ref());
    delete (order == 0 ? first : second);
    delete (order == 0 ? second : first);
  }
  // Read from text, the same holds.
  KString read;
  {
    std::istringstream in("'read back'");
    KQSValue v;
    in >> v;
    read = v.String();
  }
  EXPECT_EQ(Str(read), "read back");
  EXPECT_EQ(KQSValue(static_cast<const char*>(nullptr)).Length(), 0);
}

TEST(KQSValueConstruction, NonStringsGiveTheErrorString) {
  const KQSValue others[] = {KQSValue(42), KQSValue(), KQSValue(1.5),
                             KQSValue::NewTypeCodeValue("Integer")};
  for (const KQSValue& v : others) {
    SCOPED_TRACE(Text(v));
    EXPECT_EQ(Str(v.String()), kErrorString);
    EXPECT_EQ(v.operator const char*(), nullptr);
    EXPECT_EQ(Str(v.operator KString()), kErrorString);
  }
  // Always the one process-wide string.
  EXPECT_EQ(KQSValue(1).String().Ref(), KQSValue(2).String().Ref());
}

TEST(KQSValueConstruction, DateHoldsACopyAndTypeCodeItsOwnClass) {
  KDateTime d = MakeDate(2004, 3, 5, 14, 7, 9, 250);
  KQSValue v(d);
  d.Year(1999);
  EXPECT_EQ(v.Class(), KQSValue::Class_Date());
  EXPECT_TRUE(v.Date() == MakeDate(2004, 3, 5, 14, 7, 9, 250));
  EXPECT_EQ(v.Length(), -1);

  KQSValue t = KQSValue::NewTypeCodeValue("KQSClass_Assoc");
  EXPECT_EQ(t.Class(), KQSValue::Class_TypeCode());
  EXPECT_FALSE(t.IsString());
  EXPECT_EQ(t.Length(), 14);
}

TEST(KQSValueConstruction, BytesFromTypeNumber) {
  const unsigned char raw[] = {0x00, 0xAB, 0x10};
  KQSValue b(kBytes, static_cast<const void*>(raw), 3L);
  EXPECT_EQ(b.Type(), kBytes);
  EXPECT_EQ(b.Class(), KQSValue::Class_Bytes());
  ASSERT_EQ(b.Length(), 3);
  EXPECT_NE(b.Bytes(), raw);  // a copy
  EXPECT_EQ(std::memcmp(b.Bytes(), raw, 3), 0);

  KQSValue empty(kBytes, static_cast<const void*>(raw), 0L);
  EXPECT_EQ(empty.Type(), kBytes);
  EXPECT_EQ(empty.Length(), 0);

  KQSValue made = KQSValue::NewBytesValue("xyz", 3);
  EXPECT_EQ(made, KQSValue(kBytes, static_cast<const void*>("xyz"), 3L));
  EXPECT_EQ(std::memcmp(made.Bytes(), "xyz", 3), 0);

  // Storage made without bytes is zero-filled.
  KQSValueBytes* zero = KQSValueBytes::Make(nullptr, 4);
  KQSValue z(kBytes, static_cast<void*>(zero));
  ASSERT_EQ(z.Length(), 4);
  EXPECT_EQ(std::memcmp(z.Bytes(), "\0\0\0\0", 4), 0);
}

TEST(KQSValueConstruction, ClassOrTypeNumberWithStorageAdoptsOneReference) {
  DebugCapture capture;
  KQSValue i(KQSValue::Class_Integer(), reinterpret_cast<void*>(static_cast<uintptr_t>(99)));
  EXPECT_TRUE(i.IsInteger());
  EXPECT_EQ(static_cast<long>(i), 99);

  // A pointer class takes a reference to the storage it is given.
  for (bool byNumber : {false, true}) {
    SCOPED_TRACE(byNumber ? "type number" : "class");
    Counters before = Counters::Of(kString);
    auto* storage = new KQSValueString("adopted");
    {
      KQSValue s = byNumber ? KQSValue(kString, static_cast<void*>(storage))
                            : KQSValue(KQSValue::Class_String(), storage);
      EXPECT_TRUE(s.IsString());
      EXPECT_EQ(storage->References(), 1);
      EXPECT_EQ(Str(s.String()), "adopted");
      EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 1, 1}));
      KQSValue t(&s);  // the pointer form copies too
      EXPECT_EQ(storage->References(), 2);
      EXPECT_EQ(t.Instance(), storage);
    }
    // Both released: the storage is gone and the class counts are back.
    EXPECT_EQ(Counters::Of(kString) - before, (Counters{0, 0, 2}));
  }
  EXPECT_EQ(capture.All(), "");
}

TEST(KQSValueConstruction, TypeNumberAndWordTakesNoReference) {
  // A List without storage: an empty list.
  KQSValue list(kList, 0L);
  EXPECT_TRUE(list.IsList());
  EXPECT_EQ(list.Instance(), nullptr);
  EXPECT_EQ(list.Length(), 0);

  KQSValue i(kInteger, 42L);
  EXPECT_TRUE(i.IsInteger());
  EXPECT_EQ(static_cast<long>(i), 42);

  // A storage pointer whose reference the caller hands over.
  Counters before = Counters::Of(kString);
  auto* storage = new KQSValueString("handed over");
  KQSValue::Class_String()->AddReference(storage);
  {
    KQSValue s(kString, reinterpret_cast<long>(storage));
    EXPECT_EQ(storage->References(), 1);
    EXPECT_EQ(Str(s.String()), "handed over");
  }
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{0, 0, 1}));
}

TEST(KQSValueConstruction, ImmediateClassForStorageIsReportedAndNotOwned) {
  PlainStorage storage;
  for (const auto& [type, message] : {std::pair<short, const char*>{kInteger, "type=2/Integer\n"},
                                      std::pair<short, const char*>{kBoolean, "type=5/Boolean\n"}}) {
    DebugCapture capture;
    KQSValue v(type, static_cast<void*>(&storage));
    EXPECT_EQ(capture.All(), std::string("KQSValue::KQSValue() !c->fIsPointer...") + message);
    EXPECT_EQ(v.Type(), type);
    EXPECT_EQ(v.Instance(), &storage);
    EXPECT_EQ(storage.References(), 0);
  }
}

// ===== Host slots =====

TEST(KQSValueClasses, HostSlotsMakeObjRefAndClassValues) {
  // Installing classes in the host's slots changes process state: a child.
  ChildResult r = RunInChild([](std::string& out) {
    static KQSClass objRef("ObjRef", 3);
    static KQSClass classClass("Class", KQSClass::kNoClassNumber);
    KQSValue::Class_ObjRef(&objRef);
    KQSValue::Class_Class(&classClass);
    KQSValue o = KQSValue::ObjRef(4294967295ul);
    out += "objref type=" + std::to_string(o.Type()) + " ref=" + std::to_string(o.ObjRef()) + "\n";
    KQSValue c = KQSValue::NewClassValue(KQSValue::Class_Integer());
    out += std::string("class value holds Integer=") +
           (c.Instance() == KQSValue::Class_Integer() ? "yes" : "no") +
           " classOfValue=" + (c.Class() == &classClass ? "slot" : "other") + "\n";
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output,
            "objref type=3 ref=4294967295\n"
            "class value holds Integer=yes classOfValue=slot\n");
}

// ===== Assignment =====

struct AssignCase {
  const char* what;
  std::function<void(KQSValue&)> assign;
  short type;
  std::string text;  // the text form afterwards
};

TEST(KQSValueAssignment, EveryTypeReleasesTheOldString) {
  KDateTime date = MakeDate(2004, 3, 5, 14, 7, 9);
  const std::vector<AssignCase> cases = {
      {"long", [](KQSValue& v) { v = 3000000000L; }, kInteger, "-1294967296"},
      {"unsigned long", [](KQSValue& v) { v = 4294967295ul; }, kInteger, "-1"},
      {"int", [](KQSValue& v) { v = -12; }, kInteger, "-12"},
      {"short", [](KQSValue& v) { v = static_cast<short>(-2); }, kInteger, "-2"},
      {"char", [](KQSValue& v) { v = static_cast<char>(-3); }, kInteger, "-3"},
      {"unsigned char", [](KQSValue& v) { v = static_cast<unsigned char>(200); }, kInteger, "200"},
      {"unsigned int", [](KQSValue& v) { v = 4000000000u; }, kInteger, "-294967296"},
      {"unsigned short", [](KQSValue& v) { v = static_cast<unsigned short>(65535); }, kInteger,
       "65535"},
      {"point", [](KQSValue& v) { v = GEOM_point{3, -4}; }, kPoint, "(3,-4)"},
      {"const char*", [](KQSValue& v) { v = "next"; }, kString, "'next'"},
      {"KString", [](KQSValue& v) { v = KString("k"); }, kString, "'k'"},
      {"float", [](KQSValue& v) { v = 0.5f; }, kReal, "G0.5"},
      {"double", [](KQSValue& v) { v = 0.25; }, kReal, "G0.25"},
      {"int64", [](KQSValue& v) { v = static_cast<int64>(-5); }, kLong, "L-5"},
      {"value", [&](KQSValue& v) { v = KQSValue(date); }, kDate, "D/2004/3/5:14:7:9"},
      {"undefine", [](KQSValue& v) { v.Undefine(); }, kUndefined, "?"},
  };
  for (const AssignCase& c : cases) {
    SCOPED_TRACE(c.what);
    Counters before = Counters::Of(kString);
    {
      KQSValue v("old text");
      EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 1, 1}));
      c.assign(v);
      EXPECT_EQ(v.Type(), c.type);
      EXPECT_EQ(Text(v), c.text);
      // The old storage is gone; a new String (if any) is the only one left.
      long strings = c.type == kString ? 1 : 0;
      EXPECT_EQ(Counters::Of(kString).obj - before.obj, strings);
      EXPECT_EQ(Counters::Of(kString).ref - before.ref, strings);
    }
    EXPECT_EQ(Counters::Of(kString).obj, before.obj);
    EXPECT_EQ(Counters::Of(kString).ref, before.ref);
  }
}

TEST(KQSValueAssignment, ScalarAssignmentBuildsNewStorage) {
  KQSValue a(1.5);
  KQSValue b(a);
  EXPECT_EQ(a.Instance(), b.Instance());
  b = 2.5;  // never written through the shared storage
  EXPECT_NE(a.Instance(), b.Instance());
  EXPECT_EQ(static_cast<double>(a), 1.5);
  EXPECT_EQ(static_cast<double>(b), 2.5);
}

TEST(KQSValueAssignment, FromItsOwnPayload) {
  // The new storage is built before the old one goes.
  KQSValue v("own text");
  v = v.String();
  EXPECT_EQ(Str(v.String()), "own text");
  v = v.operator const char*();
  EXPECT_EQ(Str(v.String()), "own text");
  KQSValue d(2.5);
  d = static_cast<double>(d);
  EXPECT_EQ(static_cast<double>(d), 2.5);
  KQSValue l(static_cast<int64>(1) << 35);
  l = static_cast<int64>(l);
  EXPECT_EQ(static_cast<int64>(l), static_cast<int64>(1) << 35);
  KQSValue t(MakeDate(2004, 3, 5));
  t = KQSValue(t.Date());
  EXPECT_EQ(Text(t), "D/2004/3/5:0:0:0");
}

TEST(KQSValueAssignment, SelfAssignmentChangesNothing) {
  KQSValue v("self");
  Counters before = Counters::Of(kString);
  KQSValue& alias = v;
  v = alias;
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{0, 0, 0}));
  EXPECT_EQ(Str(v.String()), "self");
  KQSValue w(v);
  v = w;  // same storage, different value
  EXPECT_EQ(Str(v.String()), "self");
  EXPECT_EQ(Counters::Of(kString).ref - before.ref, 1);
}

TEST(KQSValueAssignment, MoveTransfersTheReference) {
  Counters before = Counters::Of(kString);
  KQSValue a("moving");
  const void* storage = a.Instance();
  KQSValue b(std::move(a));
  EXPECT_TRUE(a.IsUndefined());  // NOLINT(bugprone-use-after-move): moved-from state is defined
  EXPECT_EQ(b.Instance(), storage);
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 1, 1}));

  KQSValue c("target");
  c = std::move(b);              // releases "target"
  EXPECT_TRUE(b.IsUndefined());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(c.Instance(), storage);
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 1, 2}));
}

// ===== Counters =====

TEST(KQSValueCounters, StringCopiesCountReferences) {
  Counters before = Counters::Of(kString);
  {
    KQSValue first("shared");
    std::vector<KQSValue> copies;
    for (int i = 1; i <= 5; ++i) {
      copies.emplace_back(first);
      EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 1 + i, 1 + i}));
    }
    EXPECT_EQ(first.User()->References(), 6);
    // Destroying the first copy keeps the text alive.
    KQSValue keep(copies.back());
    first.Undefine();
    copies.clear();
    EXPECT_EQ(Str(keep.String()), "shared");
    EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 1, 7}));
  }
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{0, 0, 7}));
}

TEST(KQSValueCounters, EachScalarStorageCountsInItsOwnClass) {
  const std::pair<short, std::function<KQSValue()>> makers[] = {
      {kReal, [] { return KQSValue(3.25); }},
      {kLong, [] { return KQSValue(static_cast<int64>(9)); }},
      {kBytes, [] { return KQSValue::NewBytesValue("ab", 2); }},
      {kDate, [] { return KQSValue(MakeDate(2001, 1, 1)); }},
      {kTypeCode, [] { return KQSValue::NewTypeCodeValue("T"); }},
  };
  for (const auto& [t, make] : makers) {
    SCOPED_TRACE(t);
    Counters before = Counters::Of(t);
    {
      KQSValue v;
      v = make();
      KQSValue w(v);
      KQSValue x(w);
      EXPECT_EQ(Counters::Of(t) - before, (Counters{1, 3, 3}));
    }
    EXPECT_EQ(Counters::Of(t) - before, (Counters{0, 0, 3}));
  }
}

TEST(KQSValueCounters, ImmediateAndUnknownTypesReportZero) {
  {
    KQSValue keep[] = {KQSValue(1), KQSValue(2), KQSValue::Boolean(1), KQSValue::Error(3)};
    (void)keep;
    for (short t :
         {kUndefined, kError, kInteger, kBlobId, kBoolean, kPoint, kNotSet, kVoid, short{-131}}) {
      EXPECT_EQ(KQSValue::ObjCount(t), 0) << t;
      EXPECT_EQ(KQSValue::RefCount(t), 0) << t;
      EXPECT_EQ(KQSValue::RefTotal(t), 0) << t;
    }
  }
  EXPECT_EQ(KQSValue::ObjCount(998), 0);
  EXPECT_EQ(KQSValue::RefTotal(998), 0);
}

TEST(KQSValueCounters, NullStorageIsNotCounted) {
  Counters before = Counters::Of(kList);
  {
    KQSValue a(kList, 0L);
    KQSValue b(a);
    KQSValue c;
    c = b;
  }
  EXPECT_EQ(Counters::Of(kList) - before, (Counters{0, 0, 0}));
}

// ===== Raw arrays =====

TEST(KQSValueArrays, InitializeWritesUndefinedThatDestroyLeavesAlone) {
  alignas(KQSValue) unsigned char raw[4 * sizeof(KQSValue)];
  std::memset(raw, 0xA5, sizeof raw);
  KQSValue* values = reinterpret_cast<KQSValue*>(raw);
  KQSValue::InitializeValues(values, 0);
  KQSValue::InitializeValues(values, -3);
  for (unsigned char b : raw) ASSERT_EQ(b, 0xA5);  // untouched
  KQSValue::InitializeValues(values, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(values[i].IsUndefined());
    EXPECT_EQ(values[i].Instance(), nullptr);
  }
  for (size_t i = 3 * sizeof(KQSValue); i < sizeof raw; ++i) EXPECT_EQ(raw[i], 0xA5) << i;
  // Destroying Undefined slots changes nothing.
  unsigned char snapshot[sizeof raw];
  std::memcpy(snapshot, raw, sizeof raw);
  KQSValue::DestroyValues(values, 3);
  KQSValue::DestroyValues(values, 0);
  EXPECT_EQ(std::memcmp(snapshot, raw, sizeof raw), 0);
}

TEST(KQSValueArrays, DestroyReleasesEachSlotAndLeavesTheWords) {
  Counters before = Counters::Of(kString);
  KQSValue keep("kept alive");
  alignas(KQSValue) unsigned char raw[3 * sizeof(KQSValue)];
  KQSValue* values = reinterpret_cast<KQSValue*>(raw);
  new (&values[0]) KQSValue(keep);
  new (&values[1]) KQSValue("dies");
  new (&values[2]) KQSValue(5);
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{2, 3, 3}));
  unsigned char snapshot[sizeof raw];
  std::memcpy(snapshot, raw, sizeof raw);
  KQSValue::DestroyValues(values, 3);
  EXPECT_EQ(std::memcmp(snapshot, raw, sizeof raw), 0);
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 1, 3}));
  EXPECT_EQ(keep.User()->References(), 1);
  // The slots are not destroyed again: their references are gone.
}

// ===== Class lookup of the type-number constructors =====

TEST(KQSValueLookup, UnknownNumberGeneratesItsClassOnce) {
  // The generated class stays registered in the process: a child.
  ChildResult r = RunInChild([](std::string& out) {
    DebugCapture capture;
    KQSValue a(static_cast<short>(500), static_cast<const void*>("abc"), 3L);
    out += "first: " + capture.All();
    const KQSClass* c = a.Class();
    out += std::string("name=") + c->ClassName() + " number=" + std::to_string(c->ClassNumber()) +
           " pointer=" + (c->IsPointer() ? "1" : "0") + " length=" + std::to_string(a.Length()) +
           " bytes=" + std::string(reinterpret_cast<const char*>(a.Bytes()), 3) + "\n";
    capture.Clear();
    KQSValue b(static_cast<short>(500), static_cast<const void*>("xy"), 2L);
    out += "second: [" + capture.All() + "] same=" + (b.Class() == c ? "1" : "0") + "\n";
    out += std::string("registered=") + (KQSValue::NumberToClass(500) == c ? "1" : "0") +
           " byName=" + (KQSValue::NameToClass("TYPE_500") == c ? "1" : "0") + "\n";
    Counters live = Counters::Of(500);
    out += "counters obj=" + std::to_string(live.obj) + " ref=" + std::to_string(live.ref) + "\n";
    // A generated class orders its storage by identity.
    int identity = a.Instance() < b.Instance() ? -1 : 1;
    out += std::string("identity order=") +
           (a.Compare(b, 0) == identity && b.Compare(a, 0) == -identity ? "1" : "0") +
           " equal=" + (a == b ? "1" : "0") + "\n";
    KQSValue g = KQSValue(static_cast<short>(501), 0L);
    out += "word: [" + capture.All() + "]\n";
    out += std::string("word class=") + g.Class()->ClassName() + "\n";
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(
      r.output,
      "first: KQSValue::LookupOrGenerateClass() Deprecated KQSValueBaseClass constructor: 500\n"
      "name=type_500 number=500 pointer=1 length=3 bytes=abc\n"
      "second: [] same=1\n"
      "registered=1 byName=1\n"
      "counters obj=2 ref=2\n"
      "identity order=1 equal=0\n"
      "word: [KQSValue::LookupOrGenerateClass() Deprecated KQSValueBaseClass constructor: 501\n]\n"
      "word class=type_501\n");
}

TEST(KQSValueLookup, NumberOutsideTheEnvironmentRangeIsStrange) {
  // The class made for -200 cannot be registered and is never freed: a child.
  ChildResult r = RunInChild([](std::string& out) {
    DebugCapture capture;
    KQSValue a(static_cast<short>(-200), static_cast<const void*>("q"), 1L);
    out += capture.All();
    out += std::string("name=") + a.Class()->ClassName() + " type=" + std::to_string(a.Type()) +
           " length=" + std::to_string(a.Length()) + "\n";
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(
      r.output,
      "KQSValue::LookupOrGenerateClass() Deprecated KQSValueBaseClass constructor: -200\n"
      "KOPPEnvironment::AddClass()...ClassNumber out of range=-200...Use AddProcessClass instead.\n"
      "KQSValue::LookupOrGenerateClass()...Cannot AddClass(). Probably already installed\n"
      "KQSValue::LookupOrGenerateClass()...Strange. Can't add it or find it.\n"
      "name=type_-200 type=-200 length=1\n");
}

TEST(KQSValueLookup, KnownNumbersFindTheirClassSilently) {
  DebugCapture capture;
  KQSValue s(kString, static_cast<void*>(new KQSValueString("x")));
  KQSValue b(kExtern, static_cast<const void*>("ab"), 2L);
  EXPECT_EQ(s.Class(), KQSValue::Class_String());
  EXPECT_EQ(b.Class(), KQSValue::Class_Extern());
  EXPECT_EQ(KQSValue::LookupOrGenerateClass(KQSValue::ProcessEnvironment(), kReal),
            KQSValue::Class_Real());
  EXPECT_EQ(capture.All(), "");
}

// ===== Forwards to the storage =====

// Storage that answers every forwarded operation in a recognisable way.
class RecordingStorage : public KQSValueBase {
 public:
  long fDotStatus = 0;
  long fInvokeStatus = 0;

  long Length() const override { return 42; }
  long Dot(const KQSValue& name, KQSValue& out, KQSValue* /*env*/) override {
    out = KString("dot:") + name.String();
    return fDotStatus;
  }
  long Subscript(long i, long j, KQSValue& out) override {
    out = i * 100 + j;
    return 0;
  }
  long Invoke(short argc, KQSValue* /*argv*/, KQSValue& out) override {
    out = static_cast<int>(argc);
    return fInvokeStatus;
  }
};

TEST(KQSValueForwards, StorageAnswersThroughTheValue) {
  auto* storage = new RecordingStorage;
  KQSValue v(kListExpand, static_cast<void*>(storage));
  EXPECT_EQ(v.Length(), 42);

  KQSValue out;
  EXPECT_EQ(v.Subscript(KQSValue(3), KQSValue(-4), out), 0);  // indices as raw words
  EXPECT_EQ(static_cast<long>(out), 296);

  KQSValue args[2] = {KQSValue(1), KQSValue(2)};
  EXPECT_EQ(v.Invoke(2, args, out), 0);
  EXPECT_EQ(static_cast<long>(out), 2);
  storage->fInvokeStatus = 9;
  EXPECT_EQ(v.Invoke(2, args, out), 9);
  EXPECT_TRUE(out.IsError());  // a failing status becomes the result
  EXPECT_EQ(out.Error(), 9);

  EXPECT_EQ(Str(v.DotValueGet(KQSValue("name"), nullptr).String()), "dot:name");
  EXPECT_TRUE(v.IsFeature(KQSValue("name")));
  storage->fDotStatus = -1;
  EXPECT_FALSE(v.IsFeature(KQSValue("name")));

  storage->fDotStatus = 5;
  EXPECT_EQ(v.DotInvoke(KQSValue("m"), 0, nullptr, out, nullptr), 5);
  EXPECT_TRUE(out.IsError());
  EXPECT_EQ(out.Error(), 5);
  storage->fDotStatus = -2;  // "invoke out yourself": out is left as the class set it
  EXPECT_EQ(v.DotInvoke(KQSValue("m"), 0, nullptr, out, nullptr), -2);
  EXPECT_EQ(Str(out.String()), "dot:m");
}

TEST(KQSValueForwards, BaseStorageHasNoFeatures) {
  KQSValue v(kListExpand, static_cast<void*>(new PlainStorage));
  KQSValue out(7);
  EXPECT_EQ(v.Length(), -1);
  EXPECT_EQ(v.Subscript(KQSValue(1), KQSValue(0), out), -1);
  EXPECT_EQ(v.SubscriptValuePut(KQSValue(1), KQSValue(0), KQSValue(2)), -1);
  EXPECT_EQ(v.DotValuePut(KQSValue("x"), KQSValue(2)), -1);
  EXPECT_FALSE(v.IsFeature(KQSValue("x")));
  EXPECT_TRUE(v.Features().IsUndefined());
  EXPECT_TRUE(v.DotValueGet(KQSValue("x"), nullptr).IsUndefined());
  EXPECT_EQ(v.Invoke(0, nullptr, out), -1);
  EXPECT_EQ(out.Error(), -1);
}

TEST(KQSValueForwards, StorageDebugStrings) {
  PlainStorage plain;
  char expected[32];
  std::snprintf(expected, sizeof expected, "%10lx",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&plain)));
  KQSValue s = plain.ReferenceDebugStr(0);
  EXPECT_TRUE(s.IsString());
  EXPECT_EQ(Str(s.String()), expected);
  KQSValueDate date(MakeDate(2004, 3, 5));
  EXPECT_TRUE(date.ReferenceDebugStr(0).IsUndefined());

  DebugCapture capture;
  KQSValueBase::DebugPrintCount();
  EXPECT_EQ(capture.All(), "Count = 0/0\n");
  EXPECT_EQ(KQSValueBase::AllocCount(), 0);
  EXPECT_EQ(KQSValueBase::AllocReferenced(), 0);
}

// ===== Diagnostics =====

// Overwrites the class word (the first word of a value).
void SetClassWord(KQSValue& v, intptr_t word) {
  std::memcpy(static_cast<void*>(&v), &word, sizeof word);
}

TEST(KQSValueDiagnostics, AssertClassRepairsAZeroOrSmallClassWord) {
  const std::pair<intptr_t, const char*> cases[] = {{0, "KQSValue::AssertClass( fClass == 0 )\n"},
                                                    {17, "KQSValue::AssertClass()\n"},
                                                    {-3, "KQSValue::AssertClass()\n"},
                                                    {255, "KQSValue::AssertClass()\n"},
                                                    {-255, "KQSValue::AssertClass()\n"}};
  for (const auto& [word, message] : cases) {
    SCOPED_TRACE(word);
    DebugCapture capture;
    KQSValue v(42);
    const KQSClass* first = nullptr;  // the class word is the first word
    std::memcpy(&first, static_cast<const void*>(&v), sizeof first);
    ASSERT_EQ(first, KQSValue::Class_Integer());
    SetClassWord(v, word);
    v.AssertClass();
    EXPECT_EQ(capture.All(), message);
    EXPECT_TRUE(v.IsInteger());
    EXPECT_EQ(static_cast<long>(v), KQSValue::kBadClassMarker);
    EXPECT_EQ(static_cast<long>(v), 23571113);
  }
}

TEST(KQSValueDiagnostics, AssertClassLeavesGoodValues) {
  DebugCapture capture;
  KQSValue s("fine");
  const void* storage = s.Instance();
  s.AssertClass();
  KQSValue u;
  u.AssertClass();
  EXPECT_EQ(capture.All(), "");
  EXPECT_EQ(s.Instance(), storage);
  EXPECT_TRUE(u.IsUndefined());
}

TEST(KQSValueDiagnostics, AssertInstanceReportsAZeroWord) {
  DebugCapture capture;
  KQSValue zero(0);
  zero.AssertInstance();
  EXPECT_EQ(capture.All(), "KQSValue::AssertInstance()\n");
  EXPECT_TRUE(zero.IsInteger());
  EXPECT_EQ(static_cast<long>(zero), 0);
  capture.Clear();
  KQSValue(7).AssertInstance();
  KQSValue("x").AssertInstance();
  EXPECT_EQ(capture.All(), "");
}

}  // namespace
