// List values: the documented edge cases, and a model test of sharing: a
// handful of values that copy, slice and change each other's lists, each
// compared after every step with a std::vector of what it must hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "support/started_process.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

KQSValue Ints(std::initializer_list<int> xs) {
  KQSValue l = KQSValue::List();
  for (int x : xs) l.ListAppendValue(KQSValue(x));
  return l;
}

std::string Text(const KQSValue& v) { return std::string(v.FormattedString()); }

TEST(KQSValueListEdges, IndexRules) {
  KQSValue l = Ints({1, 2, 3});
  EXPECT_EQ(static_cast<long>(l.ListGetValue(-1)), 3);
  EXPECT_TRUE(l.ListGetValue(0).IsUndefined());
  EXPECT_TRUE(l.ListGetValue(4).IsUndefined());
  EXPECT_TRUE(l.ListGetValue(-4).IsUndefined());
  l.ListSetValue(5, KQSValue(9));
  EXPECT_EQ(Text(l), "{1,2,3}");
  l.ListSetValue(-3, KQSValue(9));
  EXPECT_EQ(Text(l), "{9,2,3}");
  EXPECT_EQ(KQSValue::List().ListEntries(), 0);
  EXPECT_TRUE(KQSValue::List().ListGetValue(1).IsUndefined());
  EXPECT_EQ(KQSValue(5).ListEntries(), 0);
}

TEST(KQSValueListEdges, AllocateGrowsWithUndefinedAndCuts) {
  KQSValue a = Ints({1, 2});
  a.ListAllocate(5);
  EXPECT_EQ(Text(a), "{1,2,?,?,?}");
  KQSValue b = Ints({1, 2, 3});
  b.ListAllocate(1);
  EXPECT_EQ(Text(b), "{1}");
  KQSValue c = KQSValue::List();
  c.ListAllocate(2);
  EXPECT_EQ(Text(c), "{?,?}");
}

TEST(KQSValueListEdges, CopiesAndSubrangesReadAsTheirOwn) {
  KQSValue a = Ints({1, 2, 3});
  KQSValue b = a;
  b.ListAppendValue(KQSValue(4));
  EXPECT_EQ(Text(a), "{1,2,3}");
  EXPECT_EQ(Text(b), "{1,2,3,4}");

  KQSValue l = Ints({1, 2, 3, 4});
  KQSValue sub = l.ListSubrange(2, 3);
  EXPECT_EQ(Text(sub), "{2,3}");
  sub.ListSetValue(1, KQSValue(20));
  EXPECT_EQ(Text(l), "{1,2,3,4}");
  EXPECT_EQ(Text(sub), "{20,3}");
  EXPECT_EQ(Text(l.ListSubrange(-2, -1)), "{3,4}");
  EXPECT_EQ(l.ListSubrange(3, 2).ListEntries(), 0);
  EXPECT_EQ(l.ListSubrange(0, 2).ListEntries(), 0);
  EXPECT_EQ(l.ListSubrange(2, 5).ListEntries(), 0);
}

TEST(KQSValueListEdges, AppendOverAnEqualNodeSharesIt) {
  KQSValue l = Ints({1, 2, 3, 4});
  KQSValue sub = l.ListSubrange(1, 2);
  auto* before = static_cast<KQSValueList*>(sub.User());
  KQSValueListStorage* storage = before->Storage();
  sub.ListAppendValue(KQSValue(3));  // the next node already holds 3
  EXPECT_EQ(static_cast<KQSValueList*>(sub.User())->Storage(), storage);
  sub.ListAppendValue(KQSValue(7));  // the next node holds 4: a private copy
  EXPECT_NE(static_cast<KQSValueList*>(sub.User())->Storage(), storage);
  EXPECT_EQ(Text(sub), "{1,2,3,7}");
  EXPECT_EQ(Text(l), "{1,2,3,4}");
}

TEST(KQSValueListEdges, RemoveEveryMatch) {
  KQSValue l = Ints({2, 1, 2, 3, 2});
  KQSValue copy = l;
  EXPECT_EQ(l.ListRemove(KQSValue(2)), 3);
  EXPECT_EQ(Text(l), "{1,3}");
  EXPECT_EQ(Text(copy), "{2,1,2,3,2}");
  EXPECT_EQ(l.ListRemove(KQSValue(9)), 0);
  EXPECT_EQ(l.ListIn(KQSValue(3)), 2);
  EXPECT_EQ(l.ListIn(KQSValue(9)), 0);
}

TEST(KQSValueListEdges, SortMixesNumbersAndOrdersTypes) {
  KQSValue l = KQSValue::List(KQSValue(3), KQSValue(1.5), KQSValue(2));
  KQSValue copy = l;
  EXPECT_EQ(l.ListSort(1), 3);
  EXPECT_EQ(Text(l), "{G1.5,2,3}");
  EXPECT_EQ(Text(copy), "{3,G1.5,2}");
  l.ListSort(0);
  EXPECT_EQ(Text(l), "{3,2,G1.5}");
  KQSValue mixed = KQSValue::List(KQSValue(2), KQSValue("b"), KQSValue(1), KQSValue("a"));
  mixed.ListSort(1);
  EXPECT_EQ(Text(mixed), "{'a','b',1,2}");
  KQSValue withLong = KQSValue::List(KQSValue(static_cast<int64>(5)), KQSValue(4), KQSValue(4.5));
  withLong.ListSort(1);
  EXPECT_EQ(Text(withLong), "{4,G4.5,L5}");
}

TEST(KQSValueListEdges, OrderEqualityAndTruth) {
  EXPECT_EQ(Ints({1, 2}).Compare(Ints({1, 3}), 0), -1);
  EXPECT_EQ(Ints({1, 2, 3}).Compare(Ints({1, 2}), 0), 1);
  EXPECT_TRUE(Ints({1, 2}) == Ints({1, 2}));
  // Elements equal within the Real tolerance make equal lists.
  EXPECT_TRUE(KQSValue::List(KQSValue(0.1 + 0.2)) == KQSValue::List(KQSValue(0.3)));
  EXPECT_FALSE(KQSValue::List().CoerceToBoolean());
  EXPECT_FALSE(Ints({}).CoerceToBoolean());
  EXPECT_TRUE(Ints({0}).CoerceToBoolean());
  EXPECT_EQ(Text(KQSValue::List()), "{}");
  EXPECT_EQ(Text(KQSValue::List(KQSValue("x"), KQSValue::List(KQSValue(1)))), "{'x',{1}}");
}

// ===== the model =====

constexpr long kUndefined = LONG_MIN;
using Model = std::vector<long>;

Model Read(const KQSValue& v) {
  Model m;
  for (long i = 1; i <= v.ListEntries(); ++i) {
    KQSValue e = v.ListGetValue(i);
    m.push_back(e.IsUndefined() ? kUndefined : static_cast<long>(e));
  }
  return m;
}

KQSValue Element(long x) { return x == kUndefined ? KQSValue() : KQSValue(x); }

KQSValueListStorage* StorageOf(const KQSValue& v) {
  return v.User() != nullptr ? static_cast<KQSValueList*>(v.User())->Storage() : nullptr;
}

TEST(KQSValueListModel, SharedListsReadAsPrivateCopies) {
  constexpr int kValues = 6;
  constexpr int kSteps = 200000;
  std::mt19937 random(20261206);
  std::vector<KQSValue> values(kValues, KQSValue::List());
  std::vector<Model> models(kValues);
  long clones = 0;  // a changed value moved off a storage another value still used

  for (int step = 0; step < kSteps; ++step) {
    const int a = static_cast<int>(random() % kValues);
    const int b = static_cast<int>(random() % kValues);
    KQSValue& v = values[a];
    Model& m = models[a];
    const long x = static_cast<long>(random() % 4);  // few values: equal-node sharing happens
    const long len = static_cast<long>(m.size());
    KQSValueListStorage* before = StorageOf(v);
    bool shared = false;
    for (int k = 0; k < kValues; ++k) shared |= k != a && StorageOf(values[k]) == before && before != nullptr;

    switch (random() % 10) {
      case 0:
        values[a] = values[b];
        models[a] = models[b];
        break;
      case 1: {
        long i = len > 0 ? static_cast<long>(random() % len) + 1 : 1;
        long j = len > 0 ? i + static_cast<long>(random() % (len - i + 1)) : 1;
        values[b] = v.ListSubrange(i, j);
        models[b] = len > 0 ? Model(m.begin() + (i - 1), m.begin() + j) : Model();
        break;
      }
      case 2:
      case 3:
        v.ListAppendValue(Element(x));
        m.push_back(x);
        break;
      case 4:
        v.ListPrependValue(Element(x));
        m.insert(m.begin(), x);
        break;
      case 5:
        if (len > 0) {
          long i = static_cast<long>(random() % len) + 1;
          v.ListSetValue(random() % 2 ? i : i - len - 1, Element(x));
          m[i - 1] = x;
        }
        break;
      case 6: {
        long last = 0;
        Model kept;
        for (long e : m) {
          if (e == x) last = static_cast<long>(kept.size()) + 1;
          else kept.push_back(e);
        }
        ASSERT_EQ(v.ListRemove(Element(x)), last) << "step " << step;
        m = kept;
        break;
      }
      case 7:
        if (random() % 4 == 0) {
          bool up = random() % 2 != 0;
          v.ListSort(up ? 1 : 0);
          std::stable_sort(m.begin(), m.end());
          if (!up) std::reverse(m.begin(), m.end());
        }
        break;
      case 8: {
        long n = static_cast<long>(random() % 8);
        v.ListAllocate(n);
        m.resize(static_cast<size_t>(n), kUndefined);
        break;
      }
      default:
        ASSERT_EQ(v.ListIn(Element(x)),
                  std::find(m.begin(), m.end(), x) == m.end() ? 0 : std::find(m.begin(), m.end(), x) - m.begin() + 1);
        break;
    }
    if (shared && StorageOf(v) != before && StorageOf(v) != nullptr) ++clones;
    for (int k = 0; k < kValues; ++k) {
      ASSERT_EQ(Read(values[k]), models[k]) << "value " << k << " after step " << step;
    }
    // Keep lists short enough that every operation meets shared nodes.
    if (models[a].size() > 24) {
      values[a] = KQSValue::List();
      models[a].clear();
    }
  }
  EXPECT_GT(clones, 1000);
}

}  // namespace
