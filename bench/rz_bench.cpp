// Record tables against a std::vector of rows (each row a
// std::vector<KQSValue>): reading every row by increasing number, inserting
// and deleting a row at the front, and adding then removing a column.
#include <benchmark/benchmark.h>

#include <vector>

#include "vxkernel/runtime/KAt.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KRZTable.h"

namespace {

constexpr long kRows = 100000;
constexpr long kWidth = 8;

KQSValue NamesList() {
  KQSValue l = KQSValue::List();
  for (long c = 0; c < kWidth; ++c) {
    char name[8] = {'c', static_cast<char>('0' + c), 0};
    l.ListAppendValue(KQSValue(name));
  }
  return l;
}

KQSValue MakeTable(long rows) {
  auto* t = new KRZTable(NamesList());
  KQSValue v = KRZTable::MakeValue(t);
  KQSValue values = KQSValue::List();
  for (long c = 0; c < kWidth; ++c) values.ListAppendValue(KQSValue(static_cast<int>(c)));
  t->AddRows(rows, &values);
  return v;
}

using Rows = std::vector<std::vector<KQSValue>>;

Rows MakeRows(long rows) {
  std::vector<KQSValue> row;
  for (long c = 0; c < kWidth; ++c) row.push_back(KQSValue(static_cast<int>(c)));
  return Rows(static_cast<size_t>(rows), row);
}

void BM_TableReadSequential(benchmark::State& state) {
  const long n = state.range(0);
  KQSValue v = MakeTable(n);
  KRZTable* t = KRZTable::FromValue(v);
  for (auto _ : state) {
    long sum = 0;
    for (long i = 1; i <= n; ++i) sum += static_cast<long>(t->GetArray(i)[3]);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_VectorReadSequential(benchmark::State& state) {
  const long n = state.range(0);
  Rows rows = MakeRows(n);
  for (auto _ : state) {
    long sum = 0;
    for (long i = 0; i < n; ++i) sum += static_cast<long>(rows[static_cast<size_t>(i)][3]);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_TableInsertDeleteFront(benchmark::State& state) {
  KQSValue v = MakeTable(kRows);
  KRZTable* t = KRZTable::FromValue(v);
  for (auto _ : state) {
    t->InsertRowAt(1, 1, nullptr);
    t->DeleteRow(1);
  }
}

void BM_VectorInsertDeleteFront(benchmark::State& state) {
  Rows rows = MakeRows(kRows);
  for (auto _ : state) {
    rows.insert(rows.begin(), std::vector<KQSValue>(kWidth));
    rows.erase(rows.begin());
  }
}

void BM_TableAddDeleteColumn(benchmark::State& state) {
  KQSValue v = MakeTable(kRows / 10);
  KRZTable* t = KRZTable::FromValue(v);
  const KQSValue name("extra");
  for (auto _ : state) {
    t->AddColumn(name);
    t->DeleteColumn(kWidth + 1);
  }
}

void BM_VectorAddDeleteColumn(benchmark::State& state) {
  Rows rows = MakeRows(kRows / 10);
  for (auto _ : state) {
    for (auto& r : rows) r.emplace_back();
    for (auto& r : rows) r.pop_back();
  }
}

BENCHMARK(BM_TableReadSequential)->Arg(1000)->Arg(kRows);
BENCHMARK(BM_VectorReadSequential)->Arg(1000)->Arg(kRows);
BENCHMARK(BM_TableInsertDeleteFront);
BENCHMARK(BM_VectorInsertDeleteFront);
BENCHMARK(BM_TableAddDeleteColumn);
BENCHMARK(BM_VectorAddDeleteColumn);

}  // namespace

#include "started_main.h"
