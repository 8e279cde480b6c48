// T23Tree: the 2-3 tree against a std::map model, its structure after every batch of changes,
// positional access, copies and stored keys.
#include "vxkernel/text/T23Tree.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "vxkernel/text/KString.h"
#include "vxkernel/text/KStringKey.h"

namespace {

std::string Name(long i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "k%06ld", i);
  return buf;
}

// A key that compares without regard to case, as script values do in Assocs.
struct CaseFreeKey {
  std::string text;
  CaseFreeKey(const char* s) : text(s) {}  // NOLINT: implicit for brevity
  bool operator==(const CaseFreeKey& o) const {
    return strcasecmp(text.c_str(), o.text.c_str()) == 0;
  }
  bool operator<(const CaseFreeKey& o) const {
    return strcasecmp(text.c_str(), o.text.c_str()) < 0;
  }
};

// Counts live instances, so a lost or twice-destroyed key or value shows.
struct Tracked {
  static inline long gLive = 0;
  long v;
  Tracked(long x = 0) : v(x) { ++gLive; }  // NOLINT: implicit for brevity
  Tracked(const Tracked& o) : v(o.v) { ++gLive; }
  Tracked& operator=(const Tracked&) = default;
  ~Tracked() { --gLive; }
  bool operator==(const Tracked& o) const { return v == o.v; }
  bool operator<(const Tracked& o) const { return v < o.v; }
};

// Compares every observable of the tree with the model (walks by value, by pointer and in batches,
// positions, lookups) and checks the structure; exact asks for routing keys equal to the smallest
// key below.
template <class K>
void ExpectSame(const T23Tree<K, long>& tree, const std::map<std::string, long>& model,
                bool exact = false) {
  std::string why;
  ASSERT_TRUE(tree.CheckStructure(exact, &why)) << why;
  ASSERT_EQ(tree.Length(), static_cast<long>(model.size()));
  T23Iter<K, long> byValue(tree), byPointer(tree);
  K key, ik;
  long value = 0, iv = -1, got = -1, n = 0;
  const K* pk = nullptr;
  const long* pv = nullptr;
  for (const auto& [mk, mv] : model) {
    ++n;
    ASSERT_TRUE(byValue.Next(key, value)) << n;
    ASSERT_TRUE(byPointer.Next(pk, pv)) << n;
    ASSERT_TRUE(tree.GetIndexed(n, ik, iv)) << n;
    ASSERT_TRUE(tree.Get(K(mk.c_str()), got)) << mk;
    for (const K* k : {static_cast<const K*>(&key), pk, static_cast<const K*>(&ik)})
      ASSERT_STREQ(static_cast<const char*>(*k), mk.c_str()) << n;
    ASSERT_EQ(value, mv) << n;
    ASSERT_EQ(*pv, mv) << n;
    ASSERT_EQ(iv, mv) << n;
    ASSERT_EQ(tree[n], mv) << n;
    ASSERT_EQ(got, mv) << n;
  }
  EXPECT_FALSE(byValue.Next(key, value));
  EXPECT_FALSE(byPointer.Next(pk, pv));
  EXPECT_FALSE(tree.GetIndexed(0, key, value));
  EXPECT_FALSE(tree.GetIndexed(n + 1, key, value));
  std::vector<std::pair<std::string, long>> visited;
  tree.VisitInBatches([&](const K* const* keys, const long* const* values, int count) {
    ASSERT_GE(count, 1);
    ASSERT_LE(count, (T23Tree<K, long>::kVisitBatch));
    for (int i = 0; i < count; ++i) visited.emplace_back(*keys[i], *values[i]);
  });
  EXPECT_EQ(visited, (std::vector<std::pair<std::string, long>>(model.begin(), model.end())));
  // Asking for the levels of a small map ahead of a walk reads nodes only; past the leaves it
  // reports every pair once per call.
  for (int depth = 0; depth < 8; ++depth) {
    long pairs = 0;
    tree.PrefetchLevel(depth, [&](const K&, const long&) { ++pairs; });
    if (pairs == 0) continue;
    EXPECT_EQ(pairs, tree.Length()) << depth;
    EXPECT_LE(pairs, (T23Tree<K, long>::kVisitBatch)) << depth;
  }
}

template <class K>
class T23TreeKeyTest : public ::testing::Test {};
using KeyTypes = ::testing::Types<KString, KStringKey>;
TYPED_TEST_SUITE(T23TreeKeyTest, KeyTypes);

// Random changes in phases that grow, churn and shrink the map (merges reach the root).
TYPED_TEST(T23TreeKeyTest, RandomChangesMatchStdMapModel) {
  using K = TypeParam;
  T23Tree<K, long> tree;
  std::map<std::string, long> model;
  std::mt19937 rng(12345);
  for (int op = 0; op < 200000; ++op) {
    const int phase = (op / 25000) % 4;  // grow, churn, shrink, churn
    const int addPercent = phase == 0 ? 80 : phase == 2 ? 20 : 50;
    const long universe = 1 + static_cast<long>(op % 25000) / 2 + 200;
    const std::string k = Name(static_cast<long>(rng() % universe) * 7);
    const K key(k.c_str());
    if (static_cast<int>(rng() % 100) < addPercent) {
      const long v = static_cast<long>(rng());
      tree.Add(key, v);
      model[k] = v;
    } else {
      ASSERT_EQ(tree.Delete(key), model.erase(k) == 1) << k;
    }
    long got = -1;
    const auto found = model.find(k);
    const bool there = found != model.end();
    ASSERT_EQ(tree.IsKey(key), there) << k;
    ASSERT_EQ(tree.Get(key, got), there) << k;
    if (there) {
      ASSERT_EQ(got, found->second) << k;
    }
    ASSERT_EQ(tree.Length(), static_cast<long>(model.size()));
    if ((op + 1) % 10000 == 0) ExpectSame(tree, model);  // everything, every 10000 steps
  }
}

// Built in ascending, descending and random order, the map has exact routing keys; emptied in
// random order it answers nothing and starts again from a single leaf.
TYPED_TEST(T23TreeKeyTest, AnyInsertionOrderAgreesAndDeletingEverythingEmptiesTheMap) {
  using K = TypeParam;
  constexpr long kN = 5000;
  std::vector<long> order(kN);
  std::map<std::string, long> model;
  for (long i = 0; i < kN; ++i) model[Name(order[i] = i)] = i;
  std::vector<std::vector<long>> orders{order, order, order};
  std::reverse(orders[1].begin(), orders[1].end());
  std::shuffle(orders[2].begin(), orders[2].end(), std::mt19937(7));
  for (const auto& o : orders) {
    SCOPED_TRACE(&o - orders.data());  // ascending, descending, random
    T23Tree<K, long> tree;
    ExpectSame(tree, {});
    EXPECT_FALSE(tree.Delete(K("a")));
    EXPECT_FALSE(tree.IsKey(K("a")));
    for (long i : o) tree.Add(K(Name(i).c_str()), i);
    ExpectSame(tree, model, /*exact=*/true);
    std::map<std::string, long> left = model;
    for (long i : orders[2]) {
      ASSERT_TRUE(tree.Delete(K(Name(i).c_str())));
      left.erase(Name(i));
      if (left.size() % 999 == 0) ExpectSame(tree, left);
    }
    ExpectSame(tree, left);
    K key("keep");
    long v = -1;
    EXPECT_FALSE(tree.Delete(K("k000001")));
    EXPECT_FALSE(tree.Get(K("k000001"), v));
    EXPECT_FALSE(tree.GetIndexed(1, key, v));
    EXPECT_EQ(v, -1);
    EXPECT_STREQ(static_cast<const char*>(key), "keep");
    EXPECT_EQ(tree[1], 0);
    tree.Add(K("again"), 5);
    EXPECT_EQ(tree.Length(), 1);
    EXPECT_EQ(tree[1], 5);
    EXPECT_TRUE(tree.Delete(K("again")));
    EXPECT_EQ(tree.Length(), 0);
  }
}

// The empty key sorts before every other.
TYPED_TEST(T23TreeKeyTest, EmptyKeySortsFirst) {
  using K = TypeParam;
  T23Tree<K, long> tree;
  for (const char* k : {"b", "\x01", "", "a"}) tree.Add(K(k), 1);
  K first("x");
  long v = 0;
  EXPECT_TRUE(tree.IsKey(K()));
  ASSERT_TRUE(tree.GetIndexed(1, first, v));
  EXPECT_STREQ(static_cast<const char*>(first), "");
  ASSERT_TRUE(tree.Delete(K("")));
  EXPECT_FALSE(tree.IsKey(K("")));
  ASSERT_TRUE(tree.GetIndexed(1, first, v));
  EXPECT_STREQ(static_cast<const char*>(first), "\x01");
}

// Replacing or merging keeps this map's stored key and takes the new value.
TEST(T23TreeTest, ReplacingKeepsTheStoredKey) {
  T23Tree<CaseFreeKey, long> tree, other;
  tree.Add("ABC", 1);
  tree.Add("abd", 2);
  tree.Add("abc", 3);
  other.Add("AbD", 20);
  other.Add("zz", 30);
  EXPECT_EQ(tree.Length(), 2);
  EXPECT_TRUE(tree.IsKey("aBc"));
  tree.Merge(other);
  EXPECT_EQ(tree.Length(), 3);
  CaseFreeKey key("");
  long v = 0;
  ASSERT_TRUE(tree.GetIndexed(1, key, v));
  EXPECT_EQ(key.text, "ABC");
  EXPECT_EQ(v, 3);
  ASSERT_TRUE(tree.GetIndexed(2, key, v));
  EXPECT_EQ(key.text, "abd");
  EXPECT_EQ(v, 20);
}

TEST(T23TreeTest, CopiesAreIndependent) {
  T23Tree<KString, KString> a, c;
  for (long i = 0; i < 300; ++i) a.Add(Name(i).c_str(), Name(i * 2).c_str());
  T23Tree<KString, KString> b(a);
  c.Add("zzz", "gone");
  c = a;
  b.Add("k000001", "changed");
  b.Delete("k000002");
  c.Delete("k000003");
  KString v;
  ASSERT_TRUE(a.Get("k000001", v));
  EXPECT_EQ(v, "k000002");
  EXPECT_TRUE(a.IsKey("k000002"));
  EXPECT_TRUE(a.IsKey("k000003"));
  EXPECT_FALSE(c.IsKey("zzz"));
  EXPECT_EQ(a.Length(), 300);
  EXPECT_EQ(b.Length(), 299);
  EXPECT_EQ(c.Length(), 299);
  T23Tree<KString, KString>& alias = c;
  c = alias;                // self-assignment keeps the map
  auto&& result = (b = c);  // a copy of the map, not the map itself
  result.Add("extra", "x");
  EXPECT_FALSE(b.IsKey("extra"));
  T23Tree<KString, KString> moved(std::move(c));
  EXPECT_EQ(moved.Length(), 299);
  EXPECT_EQ(c.Length(), 0);  // NOLINT: a moved-from map is empty
  std::string why;
  EXPECT_TRUE(moved.CheckStructure(false, &why)) << why;
}

// Keys and values are destroyed exactly once, whichever way they leave: routing-key moves on
// splits, merges and borrows included.
TEST(T23TreeTest, EveryKeyAndValueIsDestroyedOnce) {
  {
    T23Tree<Tracked, Tracked> tree;
    std::mt19937 rng(3);
    for (int i = 0; i < 20000; ++i) {
      const long k = static_cast<long>(rng() % 3000);
      rng() % 3 != 0 ? tree.Add(k, k) : static_cast<void>(tree.Delete(k));
    }
    std::string why;
    EXPECT_TRUE(tree.CheckStructure(false, &why)) << why;
    T23Tree<Tracked, Tracked> copy(tree);
    copy.Clear();
    EXPECT_EQ(copy.Length(), 0);
  }
  EXPECT_EQ(Tracked::gLive, 0);
}

// A case-free key that counts its live copies and whose copies can be made to fail.
struct FlakyKey {
  static inline int gCopiesLeft = -1;  // copies until one throws; never when negative
  static inline long gLive = 0;
  std::string text;
  FlakyKey(std::string s) : text(std::move(s)) { ++gLive; }  // NOLINT: implicit for brevity
  FlakyKey(const FlakyKey& o) : text((Copy(), o.text)) { ++gLive; }
  FlakyKey(FlakyKey&& o) noexcept : text(std::move(o.text)) { ++gLive; }
  FlakyKey& operator=(const FlakyKey& o) { return Copy(), text = o.text, *this; }
  FlakyKey& operator=(FlakyKey&& o) noexcept { return text = std::move(o.text), *this; }
  ~FlakyKey() { --gLive; }
  static void Copy() {
    if (gCopiesLeft == 0) throw std::bad_alloc();
    if (gCopiesLeft > 0) --gCopiesLeft;
  }
  bool operator==(const FlakyKey& o) const { return strcasecmp(text.c_str(), o.text.c_str()) == 0; }
  bool operator<(const FlakyKey& o) const { return strcasecmp(text.c_str(), o.text.c_str()) < 0; }
};
struct WideValue {  // makes leaves and inner nodes as small as they come
  long v = 0;
  char pad[88] = {};
};

// Random runs of ascending adds, random adds and deletes down to empty, with keys spelt in either
// case and some copies failing: the map keeps the first spelling, is unchanged by a failed Add, and
// matches the model pair by pair and position by position.
TEST(T23TreeTest, SmallNodesMatchModelThroughFailuresAndSpellings) {
  struct Less {
    bool operator()(const std::string& a, const std::string& b) const {
      return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
  };
  {
    T23Tree<FlakyKey, WideValue> tree;
    std::map<std::string, std::pair<std::string, long>, Less> model;  // spelling and value
    std::mt19937 rng(99);
    long ascending = 0;
    for (int op = 0; op < 60000; ++op) {
      const int phase = (op / 1500) % 4;  // ascending, random adds, deleting all, mixed
      const bool add = phase == 0 || phase == 1 || (phase == 3 && rng() % 2 == 0);
      const long i = phase == 0 ? ascending++ % 1500 : phase == 2 ? (op * 7L) % 1500 : rng() % 1500;
      std::string k = Name(i);
      if (rng() % 2 != 0) k[0] = 'K';
      if (add) {
        WideValue v;
        v.v = static_cast<long>(rng());
        FlakyKey::gCopiesLeft = rng() % 8 == 0 ? static_cast<int>(rng() % 3) : -1;
        bool threw = false;
        try {
          tree.Add(k, v);
        } catch (const std::bad_alloc&) {
          threw = true;
        }
        FlakyKey::gCopiesLeft = -1;
        if (!threw) model.try_emplace(k, k, 0).first->second.second = v.v;
      } else {
        ASSERT_EQ(tree.Delete(k), model.erase(k) == 1) << k;
      }
      ASSERT_EQ(tree.Length(), static_cast<long>(model.size()));
      if (model.size() > 40 && op % 101 != 0) continue;
      std::string why;
      ASSERT_TRUE(tree.CheckStructure(false, &why)) << why << " after op " << op;
      T23Iter<FlakyKey, WideValue> it(tree);
      const FlakyKey* pk = nullptr;
      const WideValue* pv = nullptr;
      FlakyKey key("");
      WideValue value;
      long n = 0;
      for (const auto& [lower, stored] : model) {
        ASSERT_TRUE(it.Next(pk, pv)) << op;
        ASSERT_TRUE(tree.GetIndexed(++n, key, value)) << op;
        ASSERT_EQ(pk->text, stored.first) << op << " " << n;
        ASSERT_EQ(key.text, stored.first) << op << " " << n;
        ASSERT_EQ(pv->v, stored.second) << op << " " << n;
        ASSERT_EQ(value.v, stored.second) << op << " " << n;
      }
      ASSERT_FALSE(it.Next(pk, pv));
      ASSERT_FALSE(tree.GetIndexed(n + 1, key, value));
    }
  }
  EXPECT_EQ(FlakyKey::gLive, 0);
}

}  // namespace
