// List values against std::vector<KQSValue>: appending, reading by
// increasing index, copying a list to change one element of the copy, and
// making a short list (where block storage costs most).
#include <benchmark/benchmark.h>

#include <vector>

#include "vxkernel/runtime/KAt.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

constexpr long kAppend = 1000000;
constexpr long kCopy = 100000;

void BM_ListAppend(benchmark::State& state) {
  for (auto _ : state) {
    KQSValue l = KQSValue::List();
    for (long i = 0; i < kAppend; ++i) l.ListAppendValue(KQSValue(static_cast<int>(i)));
    benchmark::DoNotOptimize(l);
  }
  state.SetItemsProcessed(state.iterations() * kAppend);
}

void BM_VectorAppend(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<KQSValue> v;
    for (long i = 0; i < kAppend; ++i) v.push_back(KQSValue(static_cast<int>(i)));
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * kAppend);
}

KQSValue MakeList(long n) {
  KQSValue l = KQSValue::List();
  for (long i = 0; i < n; ++i) l.ListAppendValue(KQSValue(static_cast<int>(i)));
  return l;
}

void BM_ListReadSequential(benchmark::State& state) {
  const KQSValue l = MakeList(kAppend);
  for (auto _ : state) {
    long sum = 0;
    for (long i = 1; i <= kAppend; ++i) sum += static_cast<long>(l.ListGetValue(i));
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kAppend);
}

void BM_VectorReadSequential(benchmark::State& state) {
  std::vector<KQSValue> v;
  for (long i = 0; i < kAppend; ++i) v.push_back(KQSValue(static_cast<int>(i)));
  for (auto _ : state) {
    long sum = 0;
    for (long i = 0; i < kAppend; ++i) sum += static_cast<long>(KQSValue(v[static_cast<size_t>(i)]));
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kAppend);
}

void BM_ListCopyChangeOne(benchmark::State& state) {
  const KQSValue l = MakeList(kCopy);
  for (auto _ : state) {
    KQSValue copy = l;
    copy.ListSetValue(kCopy / 2, KQSValue(-1));
    benchmark::DoNotOptimize(copy);
  }
}

void BM_VectorCopyChangeOne(benchmark::State& state) {
  std::vector<KQSValue> v;
  for (long i = 0; i < kCopy; ++i) v.push_back(KQSValue(static_cast<int>(i)));
  for (auto _ : state) {
    std::vector<KQSValue> copy = v;
    copy[kCopy / 2] = KQSValue(-1);
    benchmark::DoNotOptimize(copy.data());
  }
}

void BM_ListSmall(benchmark::State& state) {
  for (auto _ : state) {
    KQSValue l = KQSValue::List(KQSValue(1), KQSValue(2), KQSValue(3));
    benchmark::DoNotOptimize(static_cast<long>(l.ListGetValue(2)));
  }
}

void BM_VectorSmall(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<KQSValue> v;
    v.push_back(KQSValue(1));
    v.push_back(KQSValue(2));
    v.push_back(KQSValue(3));
    benchmark::DoNotOptimize(static_cast<long>(KQSValue(v[1])));
  }
}

}  // namespace

BENCHMARK(BM_ListAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListReadSequential)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorReadSequential)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListCopyChangeOne)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VectorCopyChangeOne)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListSmall);
BENCHMARK(BM_VectorSmall);

#include "started_main.h"
