// The cost of reading the text settings, on one and two threads, beside a
// plain atomic load (the floor) and a getter behind the process-wide lock
// kind (what the settings would cost if every getter locked).
#include <benchmark/benchmark.h>

#include <atomic>

#include "text/text_settings.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/threads/KLock.h"

namespace {

std::atomic<bool> gPlainFlag{false};

void BM_PlainAtomicLoad(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(gPlainFlag.load(std::memory_order_relaxed));
}
BENCHMARK(BM_PlainAtomicLoad)->Threads(1)->Threads(2);

void BM_KIntlMultiByte(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(KIntl::MultiByte());
}
BENCHMARK(BM_KIntlMultiByte)->Threads(1)->Threads(2);

void BM_KIntlLanguage(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(KIntl::Language());
}
BENCHMARK(BM_KIntlLanguage)->Threads(1)->Threads(2);

void BM_CurrentTextMode(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(vxk_internal::CurrentTextMode());
}
BENCHMARK(BM_CurrentTextMode)->Threads(1)->Threads(2);

// The peer: the same flag read under a critical-section KLock.
KLock* gPeerLock = new KLock(KLock::kCriticalSection);
bool gPeerFlag = false;

void BM_LockedGetterPeer(benchmark::State& state) {
  for (auto _ : state) {
    gPeerLock->Lock(KLock::kWrite, KLock::kInfinite);
    bool v = gPeerFlag;
    gPeerLock->Unlock(KLock::kWrite);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_LockedGetterPeer)->Threads(1)->Threads(2);

// A setter (compare-and-swap on the shared word) while other threads read.
void BM_KIntlMultiByteSetter(benchmark::State& state) {
  bool on = false;
  for (auto _ : state) {
    KIntl::MultiByte(on);
    on = !on;
  }
  KIntl::MultiByte(false);
}
BENCHMARK(BM_KIntlMultiByteSetter)->Threads(1)->Threads(2);

// The compound value, which does take the lock and copies the text.
void BM_DefaultLocaleResourceSuffix(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(KIntl::DefaultLocaleResourceSuffix());
}
BENCHMARK(BM_DefaultLocaleResourceSuffix)->Threads(1)->Threads(2);

}  // namespace

BENCHMARK_MAIN();
