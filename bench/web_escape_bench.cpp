// KWebEscape::EscapeHTML of 1 MiB with 2 % special characters, against a
// plain character-by-character loop and POCO's htmlize.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "vxkernel/web/KWebEscape.h"

#if defined(VXK_HAVE_POCO_NET)
#include "Poco/Net/Net.h"
#endif

namespace {

const std::string& Page() {
  static const std::string page = [] {
    std::mt19937 rng(3);
    std::string s(1u << 20, 'a');
    for (char& c : s) {
      const unsigned r = rng() % 1000;
      c = (r < 20) ? "<>&\""[r % 4] : static_cast<char>('a' + r % 26);
    }
    return s;
  }();
  return page;
}

// What a first implementation writes: one append per byte.
std::string PlainLoop(const std::string& in) {
  std::string out;
  for (char c : in) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      default: out += c;
    }
  }
  return out;
}

void BM_EscapeHTML(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(KWebEscape::EscapeHTML(page.c_str()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_EscapeHTML);

void BM_PlainLoop(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(PlainLoop(page));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_PlainLoop);

#if defined(VXK_HAVE_POCO_NET)
void BM_PocoHtmlize(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(Poco::Net::htmlize(page));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_PocoHtmlize);
#endif

}  // namespace

BENCHMARK_MAIN();
