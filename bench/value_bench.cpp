// Script values: copying a String value against copying a std::string of the
// same text, and the cost of immediate values and cross-type comparison.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "vxkernel/runtime/KAt.h"
#include "vxkernel/values/KQSValue.h"

namespace {

std::string Text(size_t n) {
  std::string s(n, 'a');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
  return s;
}

// A copy made and dropped each iteration: one reference up and down, and
// the class statistics.
void BM_ValueStringCopy(benchmark::State& state) {
  const KQSValue source(Text(static_cast<size_t>(state.range(0))).c_str());
  for (auto _ : state) {
    KQSValue copy(source);
    benchmark::DoNotOptimize(copy);
  }
}

void BM_StdStringCopy(benchmark::State& state) {
  const std::string source = Text(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy);
  }
}

void BM_ValueIntegerCopy(benchmark::State& state) {
  const KQSValue source(12345);
  for (auto _ : state) {
    KQSValue copy(source);
    benchmark::DoNotOptimize(copy);
  }
}

// Filling a vector of values, as a list would, against std::string.
void BM_ValueStringVectorFill(benchmark::State& state) {
  const KQSValue source(Text(1024).c_str());
  for (auto _ : state) {
    std::vector<KQSValue> v(64, source);
    benchmark::DoNotOptimize(v.data());
  }
}

void BM_StdStringVectorFill(benchmark::State& state) {
  const std::string source = Text(1024);
  for (auto _ : state) {
    std::vector<std::string> v(64, source);
    benchmark::DoNotOptimize(v.data());
  }
}

// Different types return at once, before any class call.
void BM_ValueCompareCrossType(benchmark::State& state) {
  const KQSValue a(5);
  const KQSValue b("5");
  for (auto _ : state) benchmark::DoNotOptimize(a.Compare(b, 0));
}

void BM_ValueCompareString(benchmark::State& state) {
  const KQSValue a(Text(64).c_str());
  const KQSValue b((Text(63) + "b").c_str());
  for (auto _ : state) benchmark::DoNotOptimize(a.Compare(b, 0));
}

void BM_StdStringCompare(benchmark::State& state) {
  const std::string a = Text(64);
  const std::string b = Text(63) + "b";
  for (auto _ : state) benchmark::DoNotOptimize(a.compare(b));
}

}  // namespace

BENCHMARK(BM_ValueStringCopy)->Arg(16)->Arg(1024);
BENCHMARK(BM_StdStringCopy)->Arg(16)->Arg(1024);
BENCHMARK(BM_ValueIntegerCopy);
BENCHMARK(BM_ValueStringVectorFill);
BENCHMARK(BM_StdStringVectorFill);
BENCHMARK(BM_ValueCompareCrossType);
BENCHMARK(BM_ValueCompareString);
BENCHMARK(BM_StdStringCompare);

#include "started_main.h"
