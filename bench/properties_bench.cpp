// Properties files against POCO's PropertyFileConfiguration (where
// installed): loading 5,000 lines from memory and looking keys up. The same
// text is timed with java.util.Properties by bench/PropertiesBench.java.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "vxkernel/bundles/KProperties.h"

#ifdef VXK_HAVE_POCO
#include <Poco/AutoPtr.h>
#include <Poco/Util/PropertyFileConfiguration.h>
#endif

namespace {

constexpr int kLines = 5000;

// Dotted keys of 100 groups with plain values, one in ten with an escape,
// and a comment every 50 lines: the shape of a message catalogue.
const std::string& Text(std::vector<std::string>* keys = nullptr) {
  static std::vector<std::string> all;
  static const std::string text = [] {
    std::string t;
    for (int i = 0; i < kLines; ++i) {
      if (i % 50 == 0) t += "# group " + std::to_string(i / 50) + "\n";
      const std::string key = "group" + std::to_string(i % 100) + ".message" + std::to_string(i);
      all.push_back(key);
      t += key + " = The operation " + std::to_string(i) + " could not be completed";
      t += i % 10 == 0 ? ": try again\\u00e9\n" : ".\n";
    }
    return t;
  }();
  if (keys != nullptr) *keys = all;
  return text;
}

// Lookups walk the keys in a fixed scattered order.
std::vector<std::string> Scattered() {
  std::vector<std::string> keys;
  Text(&keys);
  std::vector<std::string> out;
  for (size_t i = 0, j = 0; i < keys.size(); ++i, j = (j + 389) % keys.size()) out.push_back(keys[j]);
  return out;
}

void BM_Load_KProperties(benchmark::State& state) {
  for (auto _ : state) {
    std::istringstream in(Text());
    KProperties p;
    benchmark::DoNotOptimize(p.Load(in));
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_Load_KProperties);

void BM_GetProperty_KProperties(benchmark::State& state) {
  std::istringstream in(Text());
  KProperties p;
  p.Load(in);
  const std::vector<std::string> keys = Scattered();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(p.GetProperty(keys[i++ % keys.size()].c_str()));
}
BENCHMARK(BM_GetProperty_KProperties);

#ifdef VXK_HAVE_POCO
void BM_Load_Poco(benchmark::State& state) {
  for (auto _ : state) {
    std::istringstream in(Text());
    Poco::AutoPtr<Poco::Util::PropertyFileConfiguration> c(new Poco::Util::PropertyFileConfiguration(in));
    benchmark::DoNotOptimize(c.get());
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_Load_Poco);

void BM_GetString_Poco(benchmark::State& state) {
  std::istringstream in(Text());
  Poco::AutoPtr<Poco::Util::PropertyFileConfiguration> c(new Poco::Util::PropertyFileConfiguration(in));
  const std::vector<std::string> keys = Scattered();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(c->getString(keys[i++ % keys.size()]));
}
BENCHMARK(BM_GetString_Poco);
#endif

}  // namespace

BENCHMARK_MAIN();
