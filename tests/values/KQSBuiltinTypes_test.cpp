// The built-in types: one row per value drives truth, text, display and
// coercions; then values without storage or a text form of their own.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/debug_capture.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/values/KQSValue.h"

namespace {

using namespace valtest;

// A coercion and the text of its result; null: refused, the value unchanged.
struct To {
  short type;
  const char* text;
};

struct Row {
  KQSValue value;
  bool truth;
  std::string text;
  std::vector<To> to = {};
  const char* display = nullptr;  // null: the text form
};

TEST(KQSBuiltinTypes, TruthTextDisplayAndCoercionsOfEveryScalarType) {
  const double inf = std::numeric_limits<double>::infinity();
  const Row rows[] = {
      {KQSValue(), false, "?", {{kInteger, nullptr}, {kBoolean, "false"}}},
      {KQSValue(0), false, "0", {{kBoolean, "false"}}},
      // The low 16 bits of INT_MIN are all zero: its truth is not cut.
      {KQSValue(INT_MIN), true, "-2147483648",
       {{kReal, "G-2147483648"}, {kLong, "L-2147483648"}, {kString, nullptr}, {kDate, nullptr}, {kBoolean, "true"}}},
      {KQSValue(INT_MAX), true, "2147483647", {{kReal, "G2147483647"}, {kPoint, nullptr}}},
      {KQSValue::BlobId(0), false, "B/0"},
      {KQSValue::BlobId(-3), true, "B/-3", {{kInteger, nullptr}}},
      {KQSValue::Boolean(0), false, "false", {{kInteger, "0"}, {kLong, "L0"}, {kReal, "G0"}, {kBytes, nullptr}}},
      {KQSValue::Boolean(9), true, "true", {{kInteger, "1"}, {kLong, "L1"}, {kReal, "G1"}, {kString, nullptr}}},
      {KQSValue(GEOM_point{65536, 0}), false, "(0,0)"},  // 16 bits kept
      {KQSValue(GEOM_point{0, 1}), true, "(0,1)"},
      {KQSValue(GEOM_point{-32768, 32767}), true, "(-32768,32767)", {{kInteger, nullptr}}},
      {KQSValue(KQSValue::Class_Point(), reinterpret_cast<void*>(uintptr_t{0xFFFF0001u})), true, "(1,-1)"},
      {KQSValue::NotSet(), true, "N", {{kInteger, nullptr}}},
      {KQSValue(""), false, "''", {}, ""},
      {KQSValue("0"), true, "'0'", {}, "0"},  // length, not content
      {KQSValue("12"), true, "'12'", {{kInteger, nullptr}, {kReal, nullptr}}, "12"},
      {KQSValue("it's\n\t\\"), true, "'it\\'s\\n\t\\\\'", {}, "it's\n\t\\"},
      {KQSValue(kList, 0L), false, "{}", {{kInteger, nullptr}}},
      {KQSValue(-0.0), false, "G-0"},
      {KQSValue(DBL_EPSILON), false, "G2.22044604925031e-16"},  // not greater than epsilon
      {KQSValue(std::nextafter(DBL_EPSILON, 1.0)), true, "G2.22044604925031e-16"},
      {KQSValue(0.1f), true, "G0.100000001490116"},  // widened, not re-rounded
      {KQSValue(-2.7), true, "G-2.7", {{kInteger, "-2"}, {kLong, "L-2"}, {kString, nullptr}}},
      {KQSValue(2147483647.5), true, "G2147483647.5", {{kInteger, nullptr}, {kLong, "L2147483647"}}},
      {KQSValue(-2147483648.0), true, "G-2147483648", {{kInteger, "-2147483648"}}},
      {KQSValue(-2147483648.5), true, "G-2147483648.5", {{kInteger, nullptr}}},
      {KQSValue(inf), true, "Ginf", {{kInteger, nullptr}, {kLong, nullptr}}},
      {KQSValue(-std::numeric_limits<double>::quiet_NaN()), false, "G-nan", {{kInteger, nullptr}, {kLong, nullptr}}},
      {KQSValue(9223372036854775808.0), true, "G9.22337203685478e+18", {{kLong, nullptr}}},  // 2^63
      {KQSValue(9223372036854774784.0), true, "G9.22337203685477e+18", {{kLong, "L9223372036854774784"}}},
      {KQSValue(-9223372036854775808.0), true, "G-9.22337203685478e+18", {{kLong, "L-9223372036854775808"}}},
      {KQSValue(-9223372036854777856.0), true, "G-9.22337203685478e+18", {{kLong, nullptr}}},
      {KQSValue(int64{0}), false, "L0"},
      {KQSValue(int64{1} << 32), true, "L4294967296", {{kInteger, nullptr}, {kBoolean, "true"}}},  // not cut
      {KQSValue(int64{INT_MIN}), true, "L-2147483648", {{kInteger, "-2147483648"}}},
      {KQSValue(int64{INT_MIN} - 1), true, "L-2147483649", {{kInteger, nullptr}}},
      {KQSValue(int64{INT_MAX}), true, "L2147483647", {{kInteger, "2147483647"}}},
      {KQSValue(int64{INT_MAX} + 1), true, "L2147483648", {{kInteger, nullptr}, {kDate, nullptr}}},
      {KQSValue(int64{LLONG_MIN}), true, "L-9223372036854775808"},
      {KQSValue::NewBytesValue("", 0), true, "[]"},
      {BytesValue("0001090a0f10f0fffe7f80"), true, "[0001090a0f10f0fffe7f80]", {{kInteger, nullptr}}},
      {KQSValue::NewTypeCodeValue(""), false, "%''"},
      {KQSValue::NewTypeCodeValue("a'b\n"), true, "%'a'b\n'"},  // written as it is
  };
  DebugCapture capture;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(r.value.CoerceToBoolean(), r.truth);
    EXPECT_EQ(Text(r.value), r.text);
    EXPECT_EQ(Display(r.value), r.display != nullptr ? r.display : r.text);
    // To its own type: true, and nothing changes (Boolean keeps its byte).
    KQSValue own(r.value);
    const Counters before = Counters::Of(own.Type());
    EXPECT_TRUE(own.CoerceTo(own.Type()));
    EXPECT_EQ(Word(own), Word(r.value));
    EXPECT_EQ(Counters::Of(own.Type()) - before, (Counters{0, 0, 0}));
    for (const To& to : r.to) {
      KQSValue v(r.value);  // a copy: the coercion must not reach the original
      EXPECT_EQ(v.CoerceTo(to.type), to.text != nullptr) << to.type;
      EXPECT_EQ(v.Type(), to.text != nullptr ? to.type : r.value.Type()) << to.type;
      EXPECT_EQ(Text(v), to.text != nullptr ? to.text : r.text) << to.type;
    }
    EXPECT_EQ(Text(r.value), r.text) << "the original changed";
  }
  EXPECT_EQ(capture.All(), "");
  for (const int64 x : {LLONG_MAX, (int64{1} << 53) + 1}) {
    KQSValue v(x);
    ASSERT_TRUE(v.CoerceTo(kReal));
    EXPECT_EQ(static_cast<double>(v), static_cast<double>(x));
  }
}

TEST(KQSBuiltinTypes, ErrorsStayErrorsAndToBooleanInPlaceReleasesOnlyThisValuesReference) {
  for (short target : {kInteger, kString, kDate, kAssoc}) {
    KQSValue e = KQSValue::Error(0x26AD000F);
    EXPECT_TRUE(e.CoerceTo(target)) << target;
    EXPECT_EQ(Text(e), "E648871951") << target;
  }
  KQSValue e = KQSValue::Error(-5);
  EXPECT_EQ(Text(e), "E-5");
  EXPECT_TRUE(e.CoerceTo(kBoolean));
  EXPECT_EQ(Text(e), "false");  // not asked of the class
  const Counters before = Counters::Of(kString);
  const KQSValue a("shared");
  KQSValue b(a);
  EXPECT_TRUE(b.CoerceTo(kBoolean));
  EXPECT_EQ(static_cast<unsigned char>(b), 1);
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{1, 1, 2}));
}

TEST(KQSBuiltinText, ValuesWithoutStorageOrATextFormOfTheirOwn) {
  ExpectDebug({}, [] {
    for (short t : {kString, kReal, kExtern, kBytes, kDate, kLong, kTypeCode, kListExpand, kAssoc, kRecord, kRecArray}) {
      const KQSValue v(t, 0L);
      EXPECT_EQ(Text(v), "|NULL baseval|") << t;
      EXPECT_EQ(v.Length(), 0) << t;
      EXPECT_TRUE(v == KQSValue(t, 0L)) << t;
    }
    for (const KQSValue& v : {KQSValue("a"), KQSValue(1.0), KQSValue(int64{1}), BytesValue("01"), KQSValue(MakeDate(2004, 3, 5))}) {
      const KQSValue empty(v.Type(), 0L);
      EXPECT_LT(empty.Compare(v, 0), 0) << Text(v);
      EXPECT_GT(v.Compare(empty, 0), 0) << Text(v);
      EXPECT_FALSE(empty == v) << Text(v);
      EXPECT_FALSE(v == empty) << Text(v);
    }
  });
  auto* storage = new PlainStorage;  // other storage orders by identity
  const KQSValue a(kListExpand, static_cast<void*>(storage)), b(kListExpand, static_cast<void*>(new PlainStorage));
  const int lowFirst = a.Instance() < b.Instance() ? -1 : 1;
  EXPECT_EQ(a.Compare(b, 0), lowFirst);
  EXPECT_EQ(b.Compare(a, 0), -lowFirst);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a == KQSValue(a));
  const KQSValue e(kExtern, static_cast<const void*>("ab"), 2L);
  std::ostringstream storageAt, externAt;  // storage without a text form writes its class and address
  storageAt << static_cast<const void*>(storage);
  externAt << e.Instance();
  EXPECT_EQ(Text(a), "U<ListExpand(-108)=" + storageAt.str() + ">");
  EXPECT_EQ(Text(e), "U<Extern(-5)=" + externAt.str() + ">");
  void* word = reinterpret_cast<void*>(uintptr_t{0x1234});
  EXPECT_EQ(Text(KQSValue(KQSValue::Class_Void(), word)), "|Void=0x1234|");
  EXPECT_EQ(Text(KQSValue(KQSValue::Class_SlotIndex(), word)), "|SlotIndex=0x1234|");
}

TEST(KQSBuiltinDisplay, ErrorShowsTheCatalogueText) {
  const long code = err_add_local_msg("Volume is full");
  ASSERT_NE(code, 0);
  EXPECT_EQ(Display(KQSValue::Error(code)), "Volume is full");
  EXPECT_EQ(Display(KQSValue::Error(0x26AD000F)), Str(err_get_msg(0x26AD000F)));
  err_delete_local_msg(code);
}

TEST(KQSBuiltinDisplay, DateWritesItsFieldsAndDisplaysInTheFallbackFormatLikeStrftime) {
  const KQSValue first(MakeDate(1999, 12, 31, 23, 59, 58, 999));
  EXPECT_EQ(Text(first), "D/1999/12/31:23:59:58");  // no milliseconds
  EXPECT_TRUE(first.CoerceToBoolean());
  KQSValue copy(first);
  EXPECT_FALSE(copy.CoerceTo(kLong));
  if (err_get_msg(0x21410001).Length() != 0) GTEST_SKIP() << "the catalogue has a date format";

  std::mt19937 random(1582);
  std::vector<KDateTime> dates = {MakeDate(2000, 2, 29), MakeDate(1600, 12, 31, 12), MakeDate(2399, 1, 1, 1, 1, 1)};
  for (int i = 0; i < 100; ++i) {
    const auto pick = [&random](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    dates.push_back(MakeDate(pick(1601, 2400), pick(1, 12), pick(1, 28), pick(0, 23), pick(0, 59), pick(0, 59)));
  }
  for (const KDateTime& d : dates) {
    std::tm tm{.tm_sec = d.Second(), .tm_min = d.Minute(), .tm_hour = d.Hour(), .tm_mday = d.Day(),
               .tm_mon = d.Month() - 1, .tm_year = d.Year() - 1900, .tm_wday = 0, .tm_yday = 0,
               .tm_isdst = 0, .tm_gmtoff = 0, .tm_zone = nullptr};
    std::time_t t = timegm(&tm);  // fills in the day of the week
    ASSERT_NE(gmtime_r(&t, &tm), nullptr);
    char expected[255];
    ASSERT_GT(std::strftime(expected, sizeof expected, "%a %b %d %H:%M:%S %Y", &tm), 0u);
    EXPECT_EQ(Display(KQSValue(d)), expected) << Text(KQSValue(d));
  }
}

}  // namespace
