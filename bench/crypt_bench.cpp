// KCrypt::Crypt against the C library's crypt_r with a classic two-letter
// salt: both run 25 DES encryptions per hash.
#include <benchmark/benchmark.h>
#include <crypt.h>

#include <cstring>

#include "vxkernel/crypt/KCrypt.h"

namespace {

const char* const kPasswords[] = {"password", "letmein1", "Tr0ub4dor", "hunter22"};

void BM_KCrypt(benchmark::State& state) {
  size_t i = 0;
  for (auto _ : state) {
    KString h = KCrypt::Crypt(kPasswords[i++ & 3], "ab");
    benchmark::DoNotOptimize(h);
  }
}
BENCHMARK(BM_KCrypt);

void BM_CryptR(benchmark::State& state) {
  static struct crypt_data data;
  std::memset(&data, 0, sizeof data);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(crypt_r(kPasswords[i++ & 3], "ab", &data));
}
BENCHMARK(BM_CryptR);

}  // namespace

BENCHMARK_MAIN();
