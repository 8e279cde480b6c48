// List values: sorting, order, node sharing, bulk-built lists, and a model
// of values sharing lists against std::vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

using namespace valtest;
using Values = std::vector<KQSValue>;

std::string Written(const KQSValue& v) { return Str(v.FormattedString()); }

KQSValueListStorage* StorageOf(const KQSValue& v) {
  return v.User() != nullptr ? static_cast<KQSValueList*>(v.User())->Storage() : nullptr;
}

TEST(KQSValueList, SortOrdersNumbersOfEveryTypeByValueAndOtherTypesByNumber) {
  KQSValue l = KQSValue::List(KQSValue(3), KQSValue(1.5), KQSValue(static_cast<int64>(2)));
  const KQSValue copy = l;
  EXPECT_EQ(l.ListSort(1), 3);
  EXPECT_EQ(Text(l), "{G1.5,L2,3}");
  EXPECT_EQ(Text(copy), "{3,G1.5,L2}");
  KQSValue mixed = KQSValue::List(KQSValue(2), KQSValue("b"), KQSValue(1), KQSValue("a"));
  l.ListSort(0), mixed.ListSort(1);
  EXPECT_EQ(Text(l), "{3,L2,G1.5}");
  EXPECT_EQ(Text(mixed), "{'a','b',1,2}");
}

TEST(KQSValueList, OrderEqualityTruthAndReadsOfOtherValues) {
  EXPECT_EQ(Text(Parse("{1,{2,{3,4},{}},'x',{{5}},6}")), "{1,{2,{3,4},{}},'x',{{5}},6}");
  EXPECT_EQ(Ints({1, 2}).Compare(Ints({1, 3}), 0), -1);
  EXPECT_EQ(Ints({1, 2, 3}).Compare(Ints({1, 2}), 0), 1);
  EXPECT_TRUE(KQSValue::List(KQSValue(0.1 + 0.2)) == KQSValue::List(KQSValue(0.3)));
  EXPECT_FALSE(Ints({}).CoerceToBoolean());
  EXPECT_TRUE(Ints({0}).CoerceToBoolean());
  EXPECT_EQ(KQSValue(5).ListEntries(), 0);
  EXPECT_TRUE(KQSValue(5).ListGetValue(1).IsUndefined());
  EXPECT_EQ(KQSValue(5).ListSubrange(1, 1).ListEntries(), 0);
}

TEST(KQSValueList, AppendingWhatTheNextNodeHoldsSharesIt) {
  const KQSValue l = Ints({1, 2, 3, 4});
  KQSValue sub = l.ListSubrange(1, 2);
  KQSValueListStorage* storage = StorageOf(sub);
  sub.ListAppendValue(KQSValue(3));  // the next node already holds 3
  EXPECT_EQ(StorageOf(sub), storage);
  sub.ListAppendValue(KQSValue(7));  // the next node holds 4: a private copy
  EXPECT_NE(StorageOf(sub), storage);
  EXPECT_EQ(Text(sub), "{1,2,3,7}");
  EXPECT_EQ(Text(l), "{1,2,3,4}");
}

// Strings every third element, so a missed or double release of shared
// blocks shows under the sanitizers.
KQSValue Item(long k) { return k % 3 == 0 ? KQSValue(("s" + std::to_string(k)).c_str()) : KQSValue(k); }

std::string TextOf(const Values& m) {
  std::string text = "{";
  for (size_t k = 0; k < m.size(); ++k) text += (k > 0 ? "," : "") + Written(m[k]);
  return text + "}";
}

::testing::AssertionResult Holds(const KQSValue& l, const Values& m) {
  const long n = static_cast<long>(m.size());
  if (l.ListEntries() != n) return ::testing::AssertionFailure() << "length " << l.ListEntries() << " not " << n;
  for (long i = 1; i <= n; ++i) {
    const KQSValue& want = m[static_cast<size_t>(i - 1)];
    if (l.ListGetValue(i).Compare(want, 0) != 0 || l.ListGetValue(i - n - 1).Compare(want, 0) != 0)
      return ::testing::AssertionFailure() << "element " << i << " is " << Written(l.ListGetValue(i)) << " not "
                                           << Written(want);
  }
  for (long outside : {0L, n + 1, -n - 1, LONG_MIN, LONG_MAX}) {
    if (!l.ListGetValue(outside).IsUndefined()) return ::testing::AssertionFailure() << "index " << outside;
  }
  if (Written(l) != TextOf(m)) return ::testing::AssertionFailure() << "text " << Written(l).substr(0, 200);
  return ::testing::AssertionSuccess();
}

// Every size around the block and segment edges, read from text and made
// from an array, behaves like an appended list, copies and slices private.
TEST(KQSValueListBulk, SizesAroundBlockEdgesBehaveLikeAppendedLists) {
  for (long n : {0L, 1L, 63L, 64L, 65L, 1023L, 1024L, 1025L, 2049L}) {
    SCOPED_TRACE(n);
    Values m;
    for (long k = 1; k <= n; ++k) m.push_back(Item(k));
    const KQSValue read = Parse(TextOf(m));
    EXPECT_TRUE(Holds(read, m));
    Values moved = m;
    const KQSValue made(KQSValue::Class_List(), static_cast<void*>(KQSValueList::FromValues(moved.data(), n)));
    EXPECT_TRUE(Holds(made, m));
    EXPECT_TRUE(std::all_of(moved.begin(), moved.end(), [](const KQSValue& v) { return v.IsUndefined(); }));
    for (const KQSValue* source : {&read, &made}) {
      KQSValue copy = *source;
      Values want = m;
      copy.ListPrependValue(KQSValue("head")), want.insert(want.begin(), KQSValue("head"));
      if (n > 0) copy.ListSetValue(n, KQSValue(-7)), want[static_cast<size_t>(n - 1)] = KQSValue(-7);
      for (long k = 0; k < 70; ++k) copy.ListAppendValue(Item(k)), want.push_back(Item(k));  // grows the last block
      EXPECT_TRUE(Holds(copy, want));
      if (n >= 3) {  // slices and removals are the model's; here they meet the bulk-built blocks
        KQSValue sub = source->ListSubrange(2, n - 1);
        sub.ListSetValue(1, KQSValue("changed"));
        Values subWant(m.begin() + 1, m.end() - 1);
        subWant.front() = KQSValue("changed");
        EXPECT_TRUE(Holds(sub, subWant));
        KQSValue removed = *source;
        Values kept;
        std::copy_if(m.begin(), m.end(), std::back_inserter(kept), [](const KQSValue& x) { return !(x == Item(3)); });
        removed.ListRemove(Item(3));
        EXPECT_TRUE(Holds(removed, kept));
      }
      EXPECT_TRUE(Holds(*source, m));
    }
  }
}

// Appends go to an open run of the last block. A list cut from a
// downward-grown one starts mid-block, so alternating prepends soon replace
// that very block; the appends after each must land in the new one.
TEST(KQSValueListRun, AppendsAfterPrependsReplaceTheLastBlock) {
  for (long lead : {1L, 10L, 40L, 70L}) {
    SCOPED_TRACE(lead);
    KQSValue whole = KQSValue::List();
    for (long k = 0; k < lead; ++k) whole.ListPrependValue(Item(k));
    KQSValue cut = whole.ListSubrange(1, 1);
    Values m{Item(lead - 1)};
    for (long k = 0; k < 80; ++k) {
      cut.ListAppendValue(Item(100 + k)), m.push_back(Item(100 + k));
      cut.ListPrependValue(Item(200 + k)), m.insert(m.begin(), Item(200 + k));
    }
    EXPECT_TRUE(Holds(cut, m));
  }
}

// A list taking in a value that holds another window of its storage must
// move to a storage of its own first, or the storage would hold itself and
// never be freed (LeakSanitizer reports it; the storages tell it here).
TEST(KQSValueListRun, AppendingAWindowOfTheSameStorageCopiesFirst) {
  KQSValue whole = KQSValue::List(Item(1), Item(2), Item(3));
  const KQSValue part = whole.ListSubrange(1, 2);
  whole.ListAppendValue(part);
  EXPECT_NE(StorageOf(whole), StorageOf(part));
  EXPECT_TRUE(Holds(whole, {Item(1), Item(2), Item(3), part}));
}

// Random operations on values sharing lists; the touched values are checked
// after each step, all of them every few steps. Few distinct elements make
// equal-node sharing common. Returns how many changes left a shared storage.
long RunModel(uint32_t seed, int steps, long batch, long grow, size_t cap) {
  constexpr int kValues = 6, kAllEvery = 16;
  std::mt19937 random(seed);
  std::vector<KQSValue> values(kValues, KQSValue::List());
  std::vector<Values> models(kValues);
  const auto pick = [&random](long n) { return static_cast<long>(random() % static_cast<unsigned long>(n)); };
  long clones = 0;
  for (int step = 0; step < steps; ++step) {
    const int a = static_cast<int>(pick(kValues)), b = static_cast<int>(pick(kValues));
    KQSValue& v = values[a];
    Values& m = models[a];
    const long len = static_cast<long>(m.size());
    const KQSValue x = Item(pick(4));
    KQSValueListStorage* before = StorageOf(v);
    bool shared = false;
    for (int k = 0; k < kValues; ++k) shared |= k != a && before != nullptr && StorageOf(values[k]) == before;
    switch (pick(10)) {
      case 0: values[a] = values[b], models[a] = models[b]; break;
      case 1: {
        // Any range from 0 to one past the end, half the time counted from the end.
        long i = pick(len + 2), j = i - 1 + pick(len + 3 - i);
        const bool valid = i >= 1 && j >= i && j <= len;
        const Values slice = valid ? Values(m.begin() + (i - 1), m.begin() + j) : Values();
        if (pick(2) == 0 && i >= 1 && j >= 1) i -= len + 1, j -= len + 1;
        values[b] = v.ListSubrange(i, j);
        models[b] = slice;
        break;
      }
      case 2:
      case 3:
      case 4: {
        const bool front = pick(3) == 0;
        for (long k = pick(batch); k >= 0; --k) {
          if (front) v.ListPrependValue(x);
          else v.ListAppendValue(x);
          m.insert(front ? m.begin() : m.end(), x);
        }
        break;
      }
      case 5:
        for (long k = pick(batch > 1 ? 20 : 1); k >= 0; --k) {
          const long i = pick(len + 2);  // 0 and len + 1 are outside: ignored
          const KQSValue y = pick(2) ? x : KQSValue(step);
          v.ListSetValue(pick(2) ? i : i - len - 1, y);
          if (i >= 1 && i <= len) m[static_cast<size_t>(i - 1)] = y;
        }
        break;
      case 6: {
        long last = 0;
        Values kept;
        for (const KQSValue& e : m) {
          if (e == x) last = static_cast<long>(kept.size()) + 1;
          else kept.push_back(e);
        }
        EXPECT_EQ(v.ListRemove(x), last) << "seed " << seed << " step " << step;
        m = kept;
        break;
      }
      case 7:
        if (pick(4) == 0) {
          // Equal elements are interchangeable here (no Reals), so any order of them reads the same.
          const bool up = pick(2) != 0;
          v.ListSort(up ? 1 : 0);
          std::stable_sort(m.begin(), m.end(), [](const KQSValue& p, const KQSValue& q) { return p.Compare(q, 0) < 0; });
          if (!up) std::reverse(m.begin(), m.end());
        }
        break;
      case 8: {
        const long n = pick(len + grow);
        v.ListAllocate(n), m.resize(static_cast<size_t>(n));
        break;
      }
      default: {
        const auto at = std::find(m.begin(), m.end(), x);
        EXPECT_EQ(v.ListIn(x), at == m.end() ? 0 : at - m.begin() + 1) << "seed " << seed << " step " << step;
        break;
      }
    }
    if (shared && StorageOf(v) != before && StorageOf(v) != nullptr) ++clones;
    for (int k = 0; k < kValues; ++k) {
      if (k != a && k != b && step % kAllEvery != 0) continue;
      if (const ::testing::AssertionResult holds = Holds(values[k], models[k]); !holds) {
        return ADD_FAILURE() << "seed " << seed << ": value " << k << " after step " << step << ": " << holds.message(), clones;
      }
    }
    if (models[a].size() > cap) values[a] = KQSValue::List(), models[a].clear();
  }
  return clones;
}

TEST(KQSValueListModel, SharedShortListsReadAsPrivateCopies) { EXPECT_GT(RunModel(20261206, 40000, 1, 4, 24), 1000); }

TEST(KQSValueListModel, SharedLongListsReadAsPrivateCopies) { EXPECT_GT(RunModel(61206, 1500, 300, 200, 5000), 50); }

}  // namespace
