// The error catalogue beside its plain peer: a message of a loaded catalogue
// bundle through err_get_msg against finding the same text in an
// unordered_map keyed by the code's decimal text and copying it out. Both
// start from the numeric code.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>

#define VXK_BENCH_OWN_MAIN
#include "started_main.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/err.h"

namespace {

constexpr long kCatalogue = 0x2A;  // bundle "42"
constexpr int kMessages = 200;

long Code(int i) { return (kCatalogue << 16) | (i + 1); }
std::string Text(int i) { return "Message number " + std::to_string(i) + " of the catalogue"; }

void BM_ErrGetMsgCached(benchmark::State& state) {
  char buf[255];
  int i = 0;
  for (auto _ : state) {
    err_get_msg(Code(i), buf, sizeof buf);
    benchmark::DoNotOptimize(buf);
    i = (i + 7) % kMessages;
  }
}

void BM_UnorderedMapPeer(benchmark::State& state) {
  std::unordered_map<std::string, std::string> map;
  for (int i = 0; i < kMessages; ++i) map[std::to_string(Code(i))] = Text(i);
  char buf[255];
  int i = 0;
  for (auto _ : state) {
    auto it = map.find(std::to_string(Code(i)));
    const size_t n = std::min(it->second.size(), sizeof buf - 1);
    std::memcpy(buf, it->second.data(), n);
    buf[n] = '\0';
    benchmark::DoNotOptimize(buf);
    i = (i + 7) % kMessages;
  }
}

BENCHMARK(BM_ErrGetMsgCached);
BENCHMARK(BM_UnorderedMapPeer);

}  // namespace

// A catalogue directory "res/" with one bundle, chosen before start-up.
int main(int argc, char** argv) {
  char dir[] = "/tmp/vxk_bundles_bench_XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string base = std::string(dir) + "/";
  std::filesystem::create_directory(base + "res");
  {
    std::ofstream out(base + "res/42.properties");
    for (int i = 0; i < kMessages; ++i) out << Code(i) << '=' << Text(i) << '\n';
  }
  err_properties_path_set(base.c_str());
  const int rc = RunStartedBenchmarks(argc, argv);
  std::filesystem::remove_all(dir);
  return rc;
}
