// KDateTime beside its peers: day-number conversions against C++20
// std::chrono::year_month_day, strftime against the C library's strftime.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <random>
#include <vector>

#include "vxkernel/locale/KDateTime.h"

namespace {

constexpr size_t kCount = 1024;
constexpr long kDaysTo1970 = 141427;

// The same 1024 random days of years 1-9999 for every benchmark.
const std::vector<long>& DayNumbers() {
  static const std::vector<long> days = [] {
    std::mt19937 rng(42);
    std::uniform_int_distribution<long> d(-577735, 3074323);
    std::vector<long> v(kCount);
    for (long& n : v) n = d(rng);
    return v;
  }();
  return days;
}

std::vector<KDateTime> Dates() {
  std::vector<KDateTime> v(kCount);
  for (size_t i = 0; i < kCount; ++i) {
    v[i].Date(DayNumbers()[i]);
    v[i].SetTime(static_cast<int>(i % 24), static_cast<int>(i % 60), static_cast<int>(i % 59));
  }
  return v;
}

std::vector<std::chrono::year_month_day> ChronoDates() {
  std::vector<std::chrono::year_month_day> v;
  for (long n : DayNumbers())
    v.emplace_back(std::chrono::sys_days{std::chrono::days{n - kDaysTo1970}});
  return v;
}

void BM_DateToDay_KDateTime(benchmark::State& state) {
  const std::vector<KDateTime> dates = Dates();
  for (auto _ : state) {
    long sum = 0;
    for (const KDateTime& d : dates) sum += d.Date();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_DateToDay_KDateTime);

void BM_DateToDay_Chrono(benchmark::State& state) {
  const std::vector<std::chrono::year_month_day> dates = ChronoDates();
  for (auto _ : state) {
    long sum = 0;
    for (const auto& d : dates) sum += std::chrono::sys_days{d}.time_since_epoch().count();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_DateToDay_Chrono);

void BM_DayToDate_KDateTime(benchmark::State& state) {
  const std::vector<long>& days = DayNumbers();
  KDateTime d;
  for (auto _ : state) {
    long sum = 0;
    for (long n : days) {
      d.Date(n);
      sum += d.Year() + d.Month() + d.Day();
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_DayToDate_KDateTime);

void BM_DayToDate_Chrono(benchmark::State& state) {
  const std::vector<long>& days = DayNumbers();
  for (auto _ : state) {
    long sum = 0;
    for (long n : days) {
      const std::chrono::year_month_day d{
          std::chrono::sys_days{std::chrono::days{n - kDaysTo1970}}};
      sum += static_cast<int>(d.year()) + static_cast<unsigned>(d.month()) +
             static_cast<unsigned>(d.day());
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_DayToDate_Chrono);

constexpr const char* kNumeric = "%m/%d/%Y %H:%M:%S";
constexpr const char* kNamed = "%A, %d %B %Y (%a %b) %I:%M %p";

void StrftimeOurs(benchmark::State& state, const char* fmt) {
  const std::vector<KDateTime> dates = Dates();
  char buf[128];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dates[i].strftime(buf, sizeof buf - 1, fmt));
    benchmark::ClobberMemory();
    i = (i + 1) % kCount;
  }
}

void StrftimeLibc(benchmark::State& state, const char* fmt) {
  std::vector<struct tm> parts(kCount);
  for (size_t j = 0; j < kCount; ++j) {
    const time_t s = static_cast<time_t>((DayNumbers()[j] - kDaysTo1970) * 86400 + 3723);
    gmtime_r(&s, &parts[j]);
  }
  char buf[128];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(::strftime(buf, sizeof buf, fmt, &parts[i]));
    benchmark::ClobberMemory();
    i = (i + 1) % kCount;
  }
}

void BM_StrftimeNumeric_KDateTime(benchmark::State& state) { StrftimeOurs(state, kNumeric); }
void BM_StrftimeNumeric_Libc(benchmark::State& state) { StrftimeLibc(state, kNumeric); }
void BM_StrftimeNames_KDateTime(benchmark::State& state) { StrftimeOurs(state, kNamed); }
void BM_StrftimeNames_Libc(benchmark::State& state) { StrftimeLibc(state, kNamed); }
BENCHMARK(BM_StrftimeNumeric_KDateTime);
BENCHMARK(BM_StrftimeNumeric_Libc);
BENCHMARK(BM_StrftimeNames_KDateTime);
BENCHMARK(BM_StrftimeNames_Libc);

}  // namespace

BENCHMARK_MAIN();
