// Assoc against std::map<std::string, KQSValue> with a case-insensitive
// comparator (each byte through toupper, the order Assoc String keys use):
// 100 k random String keys inserted into an empty map (and into
// absl::btree_map where installed), then looked up one
// at a time in another order, with their own spelling and upper-cased.
// Both sides store the same Integer values; keys are made before timing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifdef VXK_HAVE_ABSL
#include <absl/container/btree_map.h>
#endif

#include "vxkernel/runtime/KAt.h"
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"

namespace {

constexpr size_t kKeys = 100000;

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const {
    const auto* pa = reinterpret_cast<const unsigned char*>(a.c_str());
    const auto* pb = reinterpret_cast<const unsigned char*>(b.c_str());
    for (;; ++pa, ++pb) {
      const int ca = std::toupper(*pa);
      const int cb = std::toupper(*pb);
      if (ca != cb) return ca < cb;
      if (*pa == 0) return false;
    }
  }
};
using PeerMap = std::map<std::string, KQSValue, CaseInsensitiveLess>;

void Start() {
  static const bool started = [] {
    KAt::ProcessStartup(1);
    return true;
  }();
  (void)started;
}

// 100 k keys of 8 to 16 mixed-case letters, distinct without regard to
// case, in random order.
const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = [] {
    std::mt19937_64 rng(42);
    std::map<std::string, int, CaseInsensitiveLess> seen;
    std::vector<std::string> v;
    while (v.size() < kKeys) {
      std::string s(8 + rng() % 9, 'a');
      for (char& c : s) c = static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 26);
      if (seen.emplace(s, 0).second) v.push_back(std::move(s));
    }
    return v;
  }();
  return texts;
}

// The same keys in another order; upper-cased when asked.
std::vector<std::string> Lookups(bool upper) {
  std::vector<std::string> v = Texts();
  std::shuffle(v.begin(), v.end(), std::mt19937_64(7));
  if (upper) {
    for (std::string& s : v) {
      for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  return v;
}

std::vector<KQSValue> Values(const std::vector<std::string>& texts) {
  Start();
  std::vector<KQSValue> v;
  v.reserve(texts.size());
  for (const std::string& s : texts) v.emplace_back(s.c_str());
  return v;
}

void BM_AssocInsert(benchmark::State& state) {
  const std::vector<KQSValue> keys = Values(Texts());
  for (auto _ : state) {
    KAssocVal a;
    long i = 0;
    for (const KQSValue& k : keys) a.Add(k, KQSValue(i++));
    benchmark::DoNotOptimize(a.Length());
  }
}
BENCHMARK(BM_AssocInsert)->Unit(benchmark::kMillisecond);

void BM_StdMapInsert(benchmark::State& state) {
  Start();
  const std::vector<std::string>& keys = Texts();
  for (auto _ : state) {
    PeerMap m;
    long i = 0;
    for (const std::string& k : keys) m.insert_or_assign(k, KQSValue(i++));
    benchmark::DoNotOptimize(m.size());
  }
}
BENCHMARK(BM_StdMapInsert)->Unit(benchmark::kMillisecond);

#ifdef VXK_HAVE_ABSL
// The same inserts into a B-tree with the same comparator.
void BM_AbslMapInsert(benchmark::State& state) {
  Start();
  const std::vector<std::string>& keys = Texts();
  for (auto _ : state) {
    absl::btree_map<std::string, KQSValue, CaseInsensitiveLess> m;
    long i = 0;
    for (const std::string& k : keys) m.insert_or_assign(k, KQSValue(i++));
    benchmark::DoNotOptimize(m.size());
  }
}
BENCHMARK(BM_AbslMapInsert)->Unit(benchmark::kMillisecond);
#endif

void AssocLookup(benchmark::State& state, bool upper) {
  const std::vector<KQSValue> keys = Values(Texts());
  const std::vector<KQSValue> probes = Values(Lookups(upper));
  KAssocVal a;
  long i = 0;
  for (const KQSValue& k : keys) a.Add(k, KQSValue(i++));
  for (auto _ : state) {
    long found = 0;
    KQSValue v;
    for (const KQSValue& k : probes) found += a.Get(k, v);
    if (found != static_cast<long>(kKeys)) state.SkipWithError("a key was not found");
  }
}

void PeerLookup(benchmark::State& state, bool upper) {
  Start();
  const std::vector<std::string> probes = Lookups(upper);
  PeerMap m;
  long i = 0;
  for (const std::string& k : Texts()) m.insert_or_assign(k, KQSValue(i++));
  for (auto _ : state) {
    long found = 0;
    KQSValue v;
    for (const std::string& k : probes) {
      auto it = m.find(k);
      if (it != m.end()) {
        v = it->second;
        ++found;
      }
    }
    if (found != static_cast<long>(kKeys)) state.SkipWithError("a key was not found");
  }
}

void BM_AssocLookup(benchmark::State& state) { AssocLookup(state, false); }
void BM_StdMapLookup(benchmark::State& state) { PeerLookup(state, false); }
void BM_AssocLookupUpperCase(benchmark::State& state) { AssocLookup(state, true); }
void BM_StdMapLookupUpperCase(benchmark::State& state) { PeerLookup(state, true); }
BENCHMARK(BM_AssocLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdMapLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AssocLookupUpperCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdMapLookupUpperCase)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
