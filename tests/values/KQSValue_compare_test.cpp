// KQSValue ordering and equality: across types by type number, and within
// each built-in type by its own order.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "support/debug_capture.h"
#include "values/value_test_util.h"
#include "vxkernel/text/str.h"
#include "vxkernel/values/KQSValue.h"

namespace {

using namespace valtest;

int Sign(int v) { return (v > 0) - (v < 0); }

struct Sample {
  short number;  // the type number the value must carry
  KQSValue value;
};

std::vector<Sample> OneOfEachType() {
  return {
      {kUndefined, KQSValue()},
      {kError, KQSValue::Error(5)},
      {kInteger, KQSValue(5)},
      {kBlobId, KQSValue::BlobId(5)},
      {kBoolean, KQSValue::Boolean(1)},
      {kPoint, KQSValue(GEOM_point{1, 2})},
      {kNotSet, KQSValue::NotSet()},
      {kString, KQSValue("5")},
      {kList, KQSValue(kList, 0L)},
      {kReal, KQSValue(5.0)},
      {kExtern, KQSValue(kExtern, static_cast<const void*>("5"), 1L)},
      {kBytes, KQSValue::NewBytesValue("5", 1)},
      {kDate, KQSValue(MakeDate(2005, 5, 5))},
      {kLong, KQSValue(static_cast<int64>(5))},
      {kTypeCode, KQSValue::NewTypeCodeValue("5")},
  };
}

TEST(KQSValueCompare, SameTypeIsEqualAndDifferentTypesOrderByTypeNumberDifference) {
  DebugCapture capture;
  std::vector<Sample> samples = OneOfEachType();
  for (const Sample& a : samples) {
    ASSERT_EQ(a.value.Type(), a.number);
    const KQSValue copy(a.value);
    EXPECT_EQ(a.value.Compare(copy, 0), 0) << Text(a.value);
    EXPECT_TRUE(a.value == copy && a.value <= copy && !(a.value < copy)) << Text(a.value);
    for (const Sample& b : samples) {
      if (a.number == b.number) continue;
      SCOPED_TRACE(Text(a.value) + " vs " + Text(b.value));
      // The difference itself, not reduced to -1 or 1.
      EXPECT_EQ(a.value.Compare(b.value, 0), a.number - b.number);
      EXPECT_EQ(a.value.Compare(b.value, 1), a.number - b.number);
      EXPECT_FALSE(a.value == b.value);
      EXPECT_TRUE(a.value != b.value);
      EXPECT_EQ(a.value < b.value, a.number < b.number);
      EXPECT_EQ(a.value >= b.value, a.number > b.number);
    }
  }
  EXPECT_EQ(capture.All(), "");
}

TEST(KQSValueCompare, IntegerAndLongTrueOrderEvenWhereTheDifferenceWraps) {
  struct {
    bool isLong;
    int64 a, b;
    int expected;
  } pairs[] = {
      {false, 3, 7, -1},
      {false, 7, 3, 1},
      {false, -5, -5, 0},
      {false, INT_MAX, -1, 1},
      {false, -1, INT_MAX, -1},
      {false, INT_MIN, 1, -1},
      {false, 1, INT_MIN, 1},
      {false, INT_MIN, INT_MAX, -1},
      {false, INT_MAX, INT_MIN, 1},
      {false, 0, INT_MIN, 1},
      {true, 1, 2, -1},
      {true, LLONG_MAX, -1, 1},
      {true, -1, LLONG_MAX, -1},
      {true, LLONG_MIN, 1, -1},
      {true, 1, LLONG_MIN, 1},
      {true, LLONG_MIN, LLONG_MAX, -1},
      {true, LLONG_MAX, LLONG_MIN, 1},
      {true, 0x100000001LL, 0x200000001LL, -1},  // same low 32 bits: the high half decides
      {true, -4294967296LL, 0, -1},
      {true, 123456789012345LL, 123456789012345LL, 0},  // separate storage, equal numbers
  };
  for (const auto& p : pairs) {
    SCOPED_TRACE(std::to_string(p.a) + " vs " + std::to_string(p.b));
    KQSValue a = p.isLong ? KQSValue(p.a) : KQSValue(static_cast<long>(p.a));
    KQSValue b = p.isLong ? KQSValue(p.b) : KQSValue(static_cast<long>(p.b));
    ASSERT_EQ(a.Type(), p.isLong ? kLong : kInteger);
    EXPECT_EQ(a.Compare(b, 0), p.expected);
    EXPECT_EQ(a == b, p.expected == 0);
  }
}

TEST(KQSValueCompare, RealOrderIsExactAndEqualityTolerant) {
  const double eps = 2.220446049250313e-16;
  ASSERT_EQ(eps, DBL_EPSILON);
  struct {
    double a, b;
    bool equal;
  } cases[] = {
      {0.1 + 0.2, 0.3, true},  // equal, yet 0.30000000000000004 orders after 0.3
      {1.0, 2.0, false},       {2.0, -1e300, false},        {2.5, 2.5, true},
      {-0.0, 0.0, true},       {0.0, eps, true},  // "at most": the boundary itself is equal
      {0.0, -eps, true},       {1.0, 1.0 + eps, true},      {0.0, std::nextafter(eps, 1.0), false},
      {0.0, 2 * eps, false},   {1.0, 1.0 + 2 * eps, false}, {1e-300, -1e-300, true},
      {1e16, 1e16 + 2, false},  // absolute, not relative
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.a) + " vs " + std::to_string(c.b));
    EXPECT_EQ(KQSValue(c.a) == KQSValue(c.b), c.equal);
    EXPECT_EQ(KQSValue(c.b) == KQSValue(c.a), c.equal);
    EXPECT_EQ(KQSValue(c.a) < KQSValue(c.b), c.a < c.b);
    // The order stays exact even where equality tolerates.
    EXPECT_EQ(KQSValue(c.a).Compare(KQSValue(c.b), 0), (c.a > c.b) - (c.a < c.b));
  }
}

TEST(KQSValueCompare, ImmediateTypesWithoutOrderGiveMinusOneBothWays) {
  const std::pair<KQSValue, KQSValue> pairs[] = {
      {KQSValue::Boolean(1), KQSValue::Boolean(0)},
      {KQSValue::Boolean(1), KQSValue::Boolean(2)},  // both true, different bytes
      {KQSValue::Error(1), KQSValue::Error(2)},
      {KQSValue::BlobId(9), KQSValue::BlobId(-9)},
      {KQSValue(GEOM_point{1, 2}), KQSValue(GEOM_point{2, 1})},
  };
  for (const auto& [a, b] : pairs) {
    SCOPED_TRACE(Text(a) + " vs " + Text(b));
    EXPECT_EQ(a.Compare(b, 0), -1);
    EXPECT_EQ(b.Compare(a, 0), -1);
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a != b);
  }
  EXPECT_TRUE(KQSValue::Boolean(1) == KQSValue::Boolean(1));
}

TEST(KQSValueCompare, StringsCollateAndIgnoreCaseOnRequest) {
  KQSValue lower("abc"), upper("ABC");
  EXPECT_NE(lower.Compare(upper, 0), 0);
  EXPECT_EQ(lower.Compare(upper, 1), 0);
  EXPECT_EQ(upper.Compare(lower, 1), 0);
  EXPECT_FALSE(lower == upper);
  EXPECT_TRUE(KQSValue("abc") == KQSValue(KString("abc")));  // separate storage
  EXPECT_EQ(KQSValue("abc").Compare(KQSValue("abc"), 0), 0);

  // The order is the library's collating comparison.
  const char* texts[] = {"",  "a",    "A",    "ab",  "abc", "abd", "b",
                         "B", "zeta", "Zeta", "a b", "10",  "9"};
  for (const char* x : texts) {
    for (const char* y : texts) {
      SCOPED_TRACE(std::string("'") + x + "' vs '" + y + "'");
      KQSValue a(x), b(y);
      EXPECT_EQ(Sign(a.Compare(b, 0)), Sign(str_cmp_intl(x, y)));
      EXPECT_EQ(Sign(a.Compare(b, 1)), Sign(str_cmpu_intl(x, y)));
      EXPECT_EQ(a == b, std::string(x) == y);
    }
  }
}

TEST(KQSValueCompare, BytesCommonPrefixThenLength) {
  struct {
    const char* a;
    const char* b;
    int expected;
  } cases[] = {
      // clang-format off
      {"0102", "0103", -1},
      {"0103", "0102", 1},
      {"01ff", "0102", 1},     // unsigned bytes
      {"80", "7f", 1},
      {"0102", "010200", -1},
      {"01", "010203", -2},    // the length difference as it is
      {"010203", "01", 2},
      {"", "00", -1},
      {"", "", 0},
      {"00ab10", "00ab10", 0},
      {"ff", "000000", 1},     // the first difference wins over length
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    KQSValue a = BytesValue(c.a), b = BytesValue(c.b);
    EXPECT_EQ(a.Compare(b, 0), c.expected);
    EXPECT_EQ(a == b, c.expected == 0);
  }
  // Extern orders and compares as Bytes.
  KQSValue e1(kExtern, static_cast<const void*>("\x01\x02"), 2L);
  KQSValue e2(kExtern, static_cast<const void*>("\x01\x02\x03"), 3L);
  KQSValue e3(kExtern, static_cast<const void*>("\x01\x02"), 2L);
  EXPECT_EQ(e1.Compare(e2, 0), -1);
  EXPECT_EQ(e2.Compare(e1, 0), 1);
  EXPECT_TRUE(e1 == e3);
}

TEST(KQSValueCompare, DatesOrderByTheirFields) {
  const KDateTime base = MakeDate(2004, 3, 5, 14, 7, 9);
  const std::pair<KDateTime, int> cases[] = {{MakeDate(2004, 3, 5, 14, 7, 10), -1},
                                             {MakeDate(2003, 12, 31, 23, 59, 59), 1},
                                             {MakeDate(2004, 3, 5, 14, 7, 9, 1), -1},
                                             {MakeDate(2004, 3, 5, 14, 7, 9), 0}};
  for (const auto& [other, expected] : cases) {
    SCOPED_TRACE(Text(KQSValue(other)));
    EXPECT_EQ(KQSValue(base).Compare(KQSValue(other), 0), expected);
    EXPECT_EQ(KQSValue(other).Compare(KQSValue(base), 0), -expected);
    EXPECT_EQ(KQSValue(base) == KQSValue(other), expected == 0);
  }
}

TEST(KQSValueCompare, MissingStorageOrdersBeforeStoredValues) {
  DebugCapture capture;
  const KQSValue stored[] = {KQSValue("a"), KQSValue(1.0), KQSValue(static_cast<int64>(1)),
                             BytesValue("01"), KQSValue(MakeDate(2004, 3, 5))};
  for (const KQSValue& v : stored) {
    SCOPED_TRACE(Text(v));
    KQSValue empty(v.Type(), 0L);
    EXPECT_LT(empty.Compare(v, 0), 0);
    EXPECT_GT(v.Compare(empty, 0), 0);
    EXPECT_FALSE(empty == v);
    EXPECT_FALSE(v == empty);
    EXPECT_TRUE(empty == KQSValue(v.Type(), 0L));
  }
  EXPECT_EQ(capture.All(), "");
}

TEST(KQSValueCompare, StorageWithoutOrderUsesIdentity) {
  KQSValue a(kListExpand, static_cast<void*>(new PlainStorage));
  KQSValue b(kListExpand, static_cast<void*>(new PlainStorage));
  int lowFirst = a.Instance() < b.Instance() ? -1 : 1;
  EXPECT_EQ(a.Compare(b, 0), lowFirst);
  EXPECT_EQ(b.Compare(a, 0), -lowFirst);
  EXPECT_FALSE(a == b);
  KQSValue same(a);
  EXPECT_EQ(a.Compare(same, 0), 0);
  EXPECT_TRUE(a == same);
  // The storage's own Compare is what the class forwards to.
  EXPECT_EQ(a.User()->Compare(b.User()), lowFirst);
  EXPECT_EQ(a.User()->Compare(a.User()), 0);
}

}  // namespace
