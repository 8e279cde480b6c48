// List values: the documented edge cases, and a model test of sharing: a
// handful of values that copy, slice and change each other's lists, each
// compared after every step with a std::vector of what it must hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <sstream>
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
  EXPECT_TRUE(l.ListGetValue(LONG_MIN).IsUndefined());
  EXPECT_TRUE(l.ListGetValue(LONG_MAX).IsUndefined());
  l.ListSetValue(5, KQSValue(9));
  EXPECT_EQ(Text(l), "{1,2,3}");
  l.ListSetValue(-3, KQSValue(9));
  EXPECT_EQ(Text(l), "{9,2,3}");
  EXPECT_EQ(KQSValue::List().ListEntries(), 0);
  EXPECT_TRUE(KQSValue::List().ListGetValue(1).IsUndefined());
  EXPECT_EQ(KQSValue(5).ListEntries(), 0);
}

TEST(KQSValueListEdges, SubrangeBounds) {
  KQSValue l = Ints({1, 2, 3, 4});
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

// ===== long lists: elements live in blocks of 64 under segments of 1024 =====

using Values = std::vector<KQSValue>;

// Strings every third element, so shared blocks also share counted storage
// (a missed release or a double one shows under the sanitizers).
KQSValue Item(long k) {
  if (k % 3 == 0) return KQSValue(("s" + std::to_string(k)).c_str());
  return KQSValue(k);
}

KQSValue Build(const Values& m) {
  KQSValue l = KQSValue::List();
  for (const KQSValue& x : m) l.ListAppendValue(x);
  return l;
}

Values Range(long from, long to) {
  Values m;
  for (long k = from; k <= to; ++k) m.push_back(Item(k));
  return m;
}

std::string TextOf(const Values& m) {
  std::string text = "{";
  for (size_t k = 0; k < m.size(); ++k) text += (k > 0 ? "," : "") + Text(m[k]);
  return text + "}";
}

// Element by element, by index from the front and from the back, and by
// the text form (the writer walks the storage its own way).
::testing::AssertionResult Holds(const KQSValue& l, const Values& m) {
  const long n = static_cast<long>(m.size());
  if (l.ListEntries() != n) return ::testing::AssertionFailure() << "length " << l.ListEntries() << " not " << n;
  for (long i = 1; i <= n; ++i) {
    const KQSValue& want = m[static_cast<size_t>(i - 1)];
    if (l.ListGetValue(i).Compare(want, 0) != 0)
      return ::testing::AssertionFailure() << "element " << i << " is " << Text(l.ListGetValue(i)) << " not " << Text(want);
    if (l.ListGetValue(i - n - 1).Compare(want, 0) != 0)
      return ::testing::AssertionFailure() << "element " << i - n - 1 << " is " << Text(l.ListGetValue(i - n - 1));
  }
  if (!l.ListGetValue(n + 1).IsUndefined() || !l.ListGetValue(0).IsUndefined() || !l.ListGetValue(-n - 1).IsUndefined())
    return ::testing::AssertionFailure() << "an index outside 1.." << n << " is not Undefined";
  if (Text(l) != TextOf(m)) return ::testing::AssertionFailure() << "text " << Text(l).substr(0, 200);
  return ::testing::AssertionSuccess();
}

TEST(KQSValueListBlocks, ChangesAtBlockAndSegmentEdgesStayInTheCopy) {
  const Values m = Range(1, 2 * 1024 + 70);
  const KQSValue original = Build(m);
  for (long i : {1L, 63L, 64L, 65L, 128L, 1023L, 1024L, 1025L, 2048L, 2049L, 2 * 1024L + 70}) {
    SCOPED_TRACE(i);
    KQSValue copy = original;
    copy.ListSetValue(i, KQSValue("changed"));
    Values want = m;
    want[static_cast<size_t>(i - 1)] = KQSValue("changed");
    EXPECT_TRUE(Holds(copy, want));
    EXPECT_TRUE(Holds(original, m));
    // A second change in the same block and one in the next block.
    copy.ListSetValue(i - 1 > 0 ? i - 1 : i, KQSValue(-1));
    want[static_cast<size_t>(i - 1 > 0 ? i - 2 : i - 1)] = KQSValue(-1);
    if (i + 64 <= static_cast<long>(m.size())) {
      copy.ListSetValue(i + 64, KQSValue(-2));
      want[static_cast<size_t>(i + 63)] = KQSValue(-2);
    }
    EXPECT_TRUE(Holds(copy, want));
    EXPECT_TRUE(Holds(original, m));
  }
}

TEST(KQSValueListBlocks, PrependsAcrossBlocksAndSegments) {
  KQSValue l = KQSValue::List();
  Values want;
  for (long k = 1; k <= 2500; ++k) {
    l.ListPrependValue(Item(k));
    want.insert(want.begin(), Item(k));
  }
  EXPECT_TRUE(Holds(l, want));
  KQSValue copy = l;
  Values copyWant = want;
  for (long k = 1; k <= 1100; ++k) {
    copy.ListPrependValue(KQSValue(-k));
    copyWant.insert(copyWant.begin(), KQSValue(-k));
    if (k % 2 == 0) {
      copy.ListAppendValue(KQSValue(k));
      copyWant.push_back(KQSValue(k));
    }
  }
  EXPECT_TRUE(Holds(copy, copyWant));
  EXPECT_TRUE(Holds(l, want));
}

TEST(KQSValueListBlocks, SortLongListOfDistinctNumbers) {
  KQSValue numbers = KQSValue::List();
  std::vector<long> sorted;
  for (long k = 0; k < 3000; ++k) {
    numbers.ListAppendValue(KQSValue(k * 7919 % 3001));
    sorted.push_back(k * 7919 % 3001);
  }
  const KQSValue unsorted = numbers;
  numbers.ListSort(1);
  std::sort(sorted.begin(), sorted.end());
  Values want;
  for (long x : sorted) want.push_back(KQSValue(x));
  EXPECT_TRUE(Holds(numbers, want));
  EXPECT_EQ(unsorted.ListGetValue(2).Compare(KQSValue(7919 % 3001), 0), 0);
  numbers.ListSort(0);
  std::reverse(want.begin(), want.end());
  EXPECT_TRUE(Holds(numbers, want));
}

// ===== lists built in one go (the text reader, FromValues) =====

KQSValue ReadText(const std::string& text) {
  std::istringstream in(text);
  KQSValue v;
  in >> v;
  return v;
}

// Every size around the block and segment edges, read from text and made
// from an array, must behave like the list appending built: the same
// elements, and copies, sub-ranges and changes that stay private.
TEST(KQSValueListBulk, SizesAroundBlockEdgesBehaveLikeAppendedLists) {
  for (long n : {0L, 1L, 2L, 63L, 64L, 65L, 1023L, 1024L, 1025L, 2049L}) {
    SCOPED_TRACE(n);
    const Values m = Range(1, n);
    const KQSValue read = ReadText(TextOf(m));
    ASSERT_TRUE(read.IsList());
    EXPECT_TRUE(Holds(read, m));

    Values moved = m;
    const KQSValue made(KQSValue::Class_List(), static_cast<void*>(KQSValueList::FromValues(moved.data(), n)));
    EXPECT_TRUE(Holds(made, m));
    EXPECT_TRUE(std::all_of(moved.begin(), moved.end(), [](const KQSValue& v) { return v.IsUndefined(); }));

    for (const KQSValue* source : {&read, &made}) {
      KQSValue copy = *source;
      Values want = m;
      copy.ListAppendValue(KQSValue("tail"));
      want.push_back(KQSValue("tail"));
      copy.ListPrependValue(KQSValue("head"));
      want.insert(want.begin(), KQSValue("head"));
      if (n > 0) {
        copy.ListSetValue(n, KQSValue(-7));
        want[static_cast<size_t>(n - 1)] = KQSValue(-7);
      }
      EXPECT_TRUE(Holds(copy, want));
      EXPECT_TRUE(Holds(*source, m));

      // Appending to the list itself grows its exactly sized last block.
      KQSValue grown = *source;
      KQSValue keep = grown;
      Values grownWant = m;
      for (long k = 0; k < 70; ++k) {
        grown.ListAppendValue(Item(k));
        grownWant.push_back(Item(k));
      }
      EXPECT_TRUE(Holds(grown, grownWant));
      EXPECT_TRUE(Holds(keep, m));
      if (n >= 3) {
        KQSValue sub = source->ListSubrange(2, n - 1);
        sub.ListSetValue(1, KQSValue("changed"));
        Values subWant(m.begin() + 1, m.end() - 1);
        subWant.front() = KQSValue("changed");
        EXPECT_TRUE(Holds(sub, subWant));
        EXPECT_TRUE(Holds(*source, m));
        KQSValue removed = *source;
        Values kept;
        for (const KQSValue& x : m)
          if (!(x == Item(3))) kept.push_back(x);
        removed.ListRemove(Item(3));
        EXPECT_TRUE(Holds(removed, kept));
        EXPECT_TRUE(Holds(*source, m));
      }
    }
  }
}

// Nested lists stack their elements on one per-thread stack: a failure
// inside drops the whole list and leaves the next read unaffected.
TEST(KQSValueListBulk, NestedListsAndFailuresKeepTheReaderInStep) {
  const KQSValue nested = ReadText("{1,{2,{3,4},{}},'x',{{5}},6}");
  EXPECT_EQ(Text(nested), "{1,{2,{3,4},{}},'x',{{5}},6}");
  EXPECT_EQ(nested.ListEntries(), 5);
  EXPECT_EQ(nested.ListGetValue(2).ListGetValue(2).ListEntries(), 2);
  EXPECT_TRUE(ReadText("{1,{2,3},{4").IsUndefined());
  EXPECT_TRUE(ReadText("{1,{2,99999999999999999999}}").IsUndefined());
  std::istringstream in("{1,{2,{3 {4,5}");
  KQSValue first;
  in >> first;
  EXPECT_TRUE(first.IsUndefined());
  EXPECT_EQ(Text(ReadText("{7,8}")), "{7,8}");
  // A long list after a failure deep inside another one.
  const Values m = Range(1, 1500);
  EXPECT_TRUE(Holds(ReadText(TextOf(m)), m));
}

// A reader's cached run must not outlive a block that another window's
// change replaced (grown, copied or freed).
TEST(KQSValueListBlocks, CachedReadsFollowReplacedBlocks) {
  KQSValue l = Ints({1, 2, 3, 4});
  KQSValue sub = l.ListSubrange(1, 2);
  EXPECT_EQ(static_cast<long>(sub.ListGetValue(2)), 2);
  for (int k = 5; k <= 200; ++k) l.ListAppendValue(KQSValue(k));  // the first block grows and moves
  EXPECT_EQ(static_cast<long>(sub.ListGetValue(1)), 1);
  EXPECT_EQ(static_cast<long>(sub.ListGetValue(2)), 2);
  EXPECT_EQ(static_cast<long>(l.ListGetValue(100)), 100);
  l.ListSetValue(100, KQSValue(-100));  // in place: only l sees it
  EXPECT_EQ(static_cast<long>(l.ListGetValue(100)), -100);
  KQSValue copy = l;
  EXPECT_EQ(static_cast<long>(copy.ListGetValue(99)), 99);
  copy.ListSetValue(99, KQSValue(-99));  // copies the block
  EXPECT_EQ(static_cast<long>(copy.ListGetValue(99)), -99);
  EXPECT_EQ(static_cast<long>(l.ListGetValue(99)), 99);
  l = KQSValue();  // the copy now holds the blocks alone
  EXPECT_EQ(static_cast<long>(copy.ListGetValue(98)), 98);
  EXPECT_EQ(static_cast<long>(copy.ListGetValue(100)), -100);
}

// ===== random operations against a model =====

KQSValueListStorage* StorageOf(const KQSValue& v) {
  return v.User() != nullptr ? static_cast<KQSValueList*>(v.User())->Storage() : nullptr;
}

// Random operations on a handful of values that copy, slice and change each
// other's lists, each checked after every step against a vector of what it
// must hold. Few distinct elements make equal-node sharing common; batch,
// grow and cap set the lengths. Counts the changes that moved a value off a
// storage another value still used.
long RunModel(uint32_t seed, int steps, long batch, long grow, size_t cap) {
  constexpr int kValues = 6;
  std::mt19937 random(seed);
  std::vector<KQSValue> values(kValues, KQSValue::List());
  std::vector<Values> models(kValues);
  auto pick = [&random](long n) { return static_cast<long>(random() % static_cast<unsigned long>(n)); };
  long clones = 0;
  for (int step = 0; step < steps; ++step) {
    const int a = static_cast<int>(pick(kValues));
    const int b = static_cast<int>(pick(kValues));
    KQSValue& v = values[a];
    Values& m = models[a];
    const long len = static_cast<long>(m.size());
    const KQSValue x = Item(pick(4));
    KQSValueListStorage* before = StorageOf(v);
    bool shared = false;
    for (int k = 0; k < kValues; ++k) shared |= k != a && before != nullptr && StorageOf(values[k]) == before;
    switch (pick(10)) {
      case 0:
        values[a] = values[b];
        models[a] = models[b];
        break;
      case 1: {
        const long i = len > 0 ? pick(len) + 1 : 1;
        const long j = len > 0 ? i + pick(len - i + 1) : 1;
        values[b] = v.ListSubrange(i, j);
        models[b] = len > 0 ? Values(m.begin() + (i - 1), m.begin() + j) : Values();
        break;
      }
      case 2:
      case 3:
        for (long k = pick(batch); k >= 0; --k) {
          v.ListAppendValue(x);
          m.push_back(x);
        }
        break;
      case 4:
        for (long k = pick(batch); k >= 0; --k) {
          v.ListPrependValue(x);
          m.insert(m.begin(), x);
        }
        break;
      case 5:
        for (long k = pick(batch > 1 ? 20 : 1); k >= 0 && len > 0; --k) {
          const long i = pick(len) + 1;
          const KQSValue y = pick(2) ? x : KQSValue(step);
          v.ListSetValue(pick(2) ? i : i - len - 1, y);
          m[static_cast<size_t>(i - 1)] = y;
        }
        break;
      case 6: {
        long last = 0;
        Values kept;
        for (const KQSValue& e : m) {
          if (e == x) last = static_cast<long>(kept.size()) + 1;
          else kept.push_back(e);
        }
        EXPECT_EQ(v.ListRemove(x), last) << "step " << step;
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
        v.ListAllocate(n);
        m.resize(static_cast<size_t>(n));
        break;
      }
      default: {
        const auto at = std::find(m.begin(), m.end(), x);
        EXPECT_EQ(v.ListIn(x), at == m.end() ? 0 : at - m.begin() + 1) << "step " << step;
        break;
      }
    }
    if (shared && StorageOf(v) != before && StorageOf(v) != nullptr) ++clones;
    for (int k = 0; k < kValues; ++k) {
      const ::testing::AssertionResult holds = Holds(values[k], models[k]);
      if (!holds) {
        ADD_FAILURE() << "value " << k << " after step " << step << ": " << holds.message();
        return clones;
      }
    }
    if (models[a].size() > cap) {
      values[a] = KQSValue::List();
      models[a].clear();
    }
  }
  return clones;
}

// Short lists: every operation meets shared nodes.
TEST(KQSValueListModel, SharedShortListsReadAsPrivateCopies) { EXPECT_GT(RunModel(20261206, 200000, 1, 4, 24), 1000); }

// Long lists: batches cross block and segment edges.
TEST(KQSValueListModel, SharedLongListsReadAsPrivateCopies) { RunModel(61206, 800, 300, 200, 5000); }

}  // namespace
