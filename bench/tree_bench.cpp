// T23Tree against std::map (and absl::btree_map where installed) with the
// same key types: 1 M random inserts, lookups and deletes; positional access
// against __gnu_pbds::tree's find_by_order; Length() against size().
#include <benchmark/benchmark.h>
#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifdef VXK_HAVE_ABSL
#include <absl/container/btree_map.h>
#endif

#include "vxkernel/text/KString.h"
#include "vxkernel/text/KStringKey.h"
#include "vxkernel/text/T23Tree.h"

namespace {

constexpr size_t kPairs = 1 << 20;  // about 1 M distinct keys

// 1 M distinct random keys of 8 to 16 lower-case letters, in random order.
const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = [] {
    std::mt19937_64 rng(42);
    std::vector<std::string> v;
    v.reserve(kPairs);
    for (size_t i = 0; i < kPairs; ++i) {
      std::string s(8 + rng() % 9, 'a');
      for (char& c : s) c = static_cast<char>('a' + rng() % 26);
      v.push_back(std::move(s));
    }
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    std::shuffle(v.begin(), v.end(), rng);
    return v;
  }();
  return texts;
}

template <class K>
const std::vector<K>& Keys() {
  static const std::vector<K> keys = [] {
    std::vector<K> v;
    for (const std::string& s : Texts()) v.emplace_back(s.c_str());
    return v;
  }();
  return keys;
}

// The same keys in another random order, for lookups and deletes.
template <class K>
const std::vector<K>& OtherOrder() {
  static const std::vector<K> keys = [] {
    std::vector<K> v = Keys<K>();
    std::shuffle(v.begin(), v.end(), std::mt19937_64(7));
    return v;
  }();
  return keys;
}

// One interface over the maps under test.
template <class K>
struct T23Map {
  T23Tree<K, long> m;
  void Insert(const K& k, long v) { m.Add(k, v); }
  bool Find(const K& k) const { return m.IsKey(k); }
  void Erase(const K& k) { m.Delete(k); }
  long Size() const { return m.Length(); }
};
template <class K>
struct StdMap {
  std::map<K, long> m;
  void Insert(const K& k, long v) { m.insert_or_assign(k, v); }
  bool Find(const K& k) const { return m.find(k) != m.end(); }
  void Erase(const K& k) { m.erase(k); }
  long Size() const { return static_cast<long>(m.size()); }
};
#ifdef VXK_HAVE_ABSL
template <class K>
struct AbslMap {
  absl::btree_map<K, long> m;
  void Insert(const K& k, long v) { m.insert_or_assign(k, v); }
  bool Find(const K& k) const { return m.find(k) != m.end(); }
  void Erase(const K& k) { m.erase(k); }
  long Size() const { return static_cast<long>(m.size()); }
};
#endif

template <class M, class K>
void Fill(M& map) {
  long i = 0;
  for (const K& k : Keys<K>()) map.Insert(k, i++);
}

// ===== 1 M inserts, lookups, deletes =====

template <class M, class K>
void BM_Insert(benchmark::State& state) {
  const auto& keys = Keys<K>();
  for (auto _ : state) {
    auto* map = new M;
    long i = 0;
    for (const K& k : keys) map->Insert(k, i++);
    benchmark::DoNotOptimize(map);
    state.PauseTiming();
    delete map;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}

template <class M, class K>
void BM_Lookup(benchmark::State& state) {
  static M* map = [] {
    auto* m = new M;
    Fill<M, K>(*m);
    return m;
  }();
  const auto& keys = OtherOrder<K>();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map->Find(keys[i]));
    if (++i == keys.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

template <class M, class K>
void BM_Delete(benchmark::State& state) {
  const auto& keys = OtherOrder<K>();
  for (auto _ : state) {
    state.PauseTiming();
    auto* map = new M;
    Fill<M, K>(*map);
    state.ResumeTiming();
    for (const K& k : keys) map->Erase(k);
    benchmark::DoNotOptimize(map->Size());
    state.PauseTiming();
    delete map;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}

// ===== Positional access and size =====

using PbdsTree = __gnu_pbds::tree<KString, long, std::less<KString>, __gnu_pbds::rb_tree_tag,
                                  __gnu_pbds::tree_order_statistics_node_update>;

const std::vector<long>& Positions() {
  static const std::vector<long> positions = [] {
    std::mt19937_64 rng(11);
    std::vector<long> v(kPairs);
    for (long& p : v) p = 1 + static_cast<long>(rng() % Keys<KString>().size());
    return v;
  }();
  return positions;
}

void BM_T23Tree_GetIndexed(benchmark::State& state) {
  static T23Map<KString>* map = [] {
    auto* m = new T23Map<KString>;
    Fill<T23Map<KString>, KString>(*m);
    return m;
  }();
  const auto& pos = Positions();
  size_t i = 0;
  KString key;
  long value = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map->m.GetIndexed(pos[i], key, value));
    if (++i == pos.size()) i = 0;
  }
}

void BM_Pbds_FindByOrder(benchmark::State& state) {
  static PbdsTree* tree = [] {
    auto* t = new PbdsTree;
    long i = 0;
    for (const KString& k : Keys<KString>()) t->insert({k, i++});
    return t;
  }();
  const auto& pos = Positions();
  size_t i = 0;
  KString key;
  long value = 0;
  for (auto _ : state) {
    auto it = tree->find_by_order(static_cast<size_t>(pos[i] - 1));
    key = it->first;  // copy out as GetIndexed does
    value = it->second;
    benchmark::DoNotOptimize(value);
    if (++i == pos.size()) i = 0;
  }
}

template <class M>
void BM_Length(benchmark::State& state) {
  static M* map = [] {
    auto* m = new M;
    Fill<M, KString>(*m);
    return m;
  }();
  for (auto _ : state) benchmark::DoNotOptimize(map->Size());
}

// ===== Registration =====

#define VXK_TREE_BENCH(M, K)                                                            \
  BENCHMARK_TEMPLATE(BM_Insert, M<K>, K)->Unit(benchmark::kMillisecond)->Iterations(2); \
  BENCHMARK_TEMPLATE(BM_Lookup, M<K>, K);                                               \
  BENCHMARK_TEMPLATE(BM_Delete, M<K>, K)->Unit(benchmark::kMillisecond)->Iterations(2)

VXK_TREE_BENCH(T23Map, KString);
VXK_TREE_BENCH(StdMap, KString);
VXK_TREE_BENCH(T23Map, KStringKey);
VXK_TREE_BENCH(StdMap, KStringKey);
#ifdef VXK_HAVE_ABSL
VXK_TREE_BENCH(AbslMap, KString);
VXK_TREE_BENCH(AbslMap, KStringKey);
#endif
BENCHMARK(BM_T23Tree_GetIndexed);
BENCHMARK(BM_Pbds_FindByOrder);
BENCHMARK_TEMPLATE(BM_Length, T23Map<KString>);
BENCHMARK_TEMPLATE(BM_Length, StdMap<KString>);

}  // namespace

BENCHMARK_MAIN();
