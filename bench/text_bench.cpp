// KString against std::string (and strcmp) for copy, append and compare.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "vxkernel/text/KString.h"

namespace {

constexpr size_t kBuildSize = 1 << 20;  // appends build 1 MiB

std::string Text(size_t n, char last = 'z') {
  std::string s(n, 'a');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
  if (n != 0) s[n - 1] = last;
  return s;
}

// ===== Copy =====

void BM_KStringCopy(benchmark::State& state) {
  const KString source(Text(state.range(0)).c_str());
  for (auto _ : state) {
    KString copy(source);
    benchmark::DoNotOptimize(copy);
  }
}

void BM_StdStringCopy(benchmark::State& state) {
  const std::string source = Text(state.range(0));
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy);
  }
}

// ===== Append =====

void BM_KStringAppendChars(benchmark::State& state) {
  for (auto _ : state) {
    KString s;
    for (size_t i = 0; i < kBuildSize; ++i) s += static_cast<char>('a' + (i & 15));
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(state.iterations() * kBuildSize);
}

void BM_StdStringAppendChars(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (size_t i = 0; i < kBuildSize; ++i) s += static_cast<char>('a' + (i & 15));
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(state.iterations() * kBuildSize);
}

void BM_KStringAppendPieces(benchmark::State& state) {
  const std::string piece = Text(64);
  for (auto _ : state) {
    KString s;
    for (size_t i = 0; i < kBuildSize / 64; ++i) s += piece.c_str();
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(state.iterations() * kBuildSize);
}

void BM_StdStringAppendPieces(benchmark::State& state) {
  const std::string piece = Text(64);
  for (auto _ : state) {
    std::string s;
    for (size_t i = 0; i < kBuildSize / 64; ++i) s += piece.c_str();
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(state.iterations() * kBuildSize);
}

// ===== Compare =====
// Two distinct texts differing only in their last byte: the whole length is
// walked, and the representations differ so no shortcut applies.

void BM_KStringCompare(benchmark::State& state) {
  const KString a(Text(state.range(0), 'y').c_str());
  const KString b(Text(state.range(0), 'z').c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(a < b);
  }
}

void BM_Strcmp(benchmark::State& state) {
  const std::string a = Text(state.range(0), 'y');
  const std::string b = Text(state.range(0), 'z');
  const char* pa = a.c_str();
  const char* pb = b.c_str();
  for (auto _ : state) {
    benchmark::DoNotOptimize(pa);
    benchmark::DoNotOptimize(pb);
    benchmark::DoNotOptimize(std::strcmp(pa, pb) < 0);
  }
}

void BM_StdStringCompare(benchmark::State& state) {
  const std::string a = Text(state.range(0), 'y');
  const std::string b = Text(state.range(0), 'z');
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(a < b);
  }
}

}  // namespace

BENCHMARK(BM_KStringCopy)->Arg(8)->Arg(64)->Arg(4096);
BENCHMARK(BM_StdStringCopy)->Arg(8)->Arg(64)->Arg(4096);
BENCHMARK(BM_KStringAppendChars)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdStringAppendChars)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KStringAppendPieces)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdStringAppendPieces)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KStringCompare)->Arg(8)->Arg(64)->Arg(4096);
BENCHMARK(BM_Strcmp)->Arg(8)->Arg(64)->Arg(4096);
BENCHMARK(BM_StdStringCompare)->Arg(8)->Arg(64)->Arg(4096);

BENCHMARK_MAIN();
