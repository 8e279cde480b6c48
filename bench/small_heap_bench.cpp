// The small-object heap against glibc malloc and mimalloc: alloc/free
// pairs, a burst of 100k mixed small blocks freed in allocation order and
// in random order, and blocks made on one thread and freed on another.
//
// mimalloc is opened with dlopen and its mi_ functions looked up by name:
// linking its library would make it the whole process's malloc.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <thread>
#include <type_traits>
#include <vector>

#include "vxkernel/smallheap.h"

namespace {

struct Small {
  static void* Alloc(size_t n) { return vxk::SmallAlloc(n); }
  static void Free(void* p, size_t n) { vxk::SmallFree(p, n); }
};

struct Glibc {
  static void* Alloc(size_t n) { return std::malloc(n); }
  static void Free(void* p, size_t) { std::free(p); }
};

struct Mimalloc {
  using AllocFn = void* (*)(size_t);
  using FreeFn = void (*)(void*);
  static inline AllocFn alloc = nullptr;
  static inline FreeFn free = nullptr;
  static bool Load() {
    static const bool loaded = [] {
      void* lib = dlopen("libmimalloc.so.2", RTLD_NOW | RTLD_LOCAL);
      if (lib == nullptr) return false;
      alloc = reinterpret_cast<AllocFn>(dlsym(lib, "mi_malloc"));
      free = reinterpret_cast<FreeFn>(dlsym(lib, "mi_free"));
      return alloc != nullptr && free != nullptr;
    }();
    return loaded;
  }
  static void* Alloc(size_t n) { return alloc(n); }
  static void Free(void* p, size_t) { free(p); }
};

template <class A>
bool Ready(benchmark::State& state) {
  if constexpr (std::is_same_v<A, Mimalloc>) {
    if (!Mimalloc::Load()) {
      state.SkipWithError("libmimalloc.so.2 not found");
      return false;
    }
  }
  return true;
}

constexpr int kBurst = 100000;

// Sizes as the value model asks for them: mostly 16..128, some up to 256.
const std::vector<size_t>& Sizes() {
  static const std::vector<size_t> sizes = [] {
    std::mt19937 rng(7);
    std::vector<size_t> v(kBurst);
    for (size_t& n : v) n = rng() % 4 != 0 ? 16 + rng() % 113 : 129 + rng() % 128;
    return v;
  }();
  return sizes;
}

template <class A>
void BM_Pair(benchmark::State& state) {
  if (!Ready<A>(state)) return;
  for (auto _ : state) {
    void* p = A::Alloc(64);
    benchmark::DoNotOptimize(p);
    A::Free(p, 64);
  }
}

template <class A>
void BM_Burst(benchmark::State& state) {
  if (!Ready<A>(state)) return;
  const std::vector<size_t>& sizes = Sizes();
  std::vector<int> order(kBurst);
  for (int i = 0; i < kBurst; ++i) order[i] = i;
  if (state.range(0) != 0) std::shuffle(order.begin(), order.end(), std::mt19937(11));
  std::vector<void*> blocks(kBurst);
  for (auto _ : state) {
    for (int i = 0; i < kBurst; ++i) {
      blocks[i] = A::Alloc(sizes[i]);
      *static_cast<char*>(blocks[i]) = 1;  // touched, as a value's block would be
    }
    for (int i : order) A::Free(blocks[i], sizes[i]);
  }
  state.SetItemsProcessed(state.iterations() * kBurst);
}

// A single-producer single-consumer ring: the timed thread allocates, a
// second thread frees.
template <class A>
void BM_CrossThread(benchmark::State& state) {
  if (!Ready<A>(state)) return;
  constexpr size_t kRing = 1024;
  std::vector<void*> ring(kRing);
  std::atomic<size_t> head{0}, tail{0};
  std::atomic<bool> stop{false};
  std::thread consumer([&] {
    size_t t = 0;
    for (;;) {
      const size_t h = head.load(std::memory_order_acquire);
      if (t == h) {
        if (stop.load(std::memory_order_acquire) && t == head.load(std::memory_order_acquire)) break;
        std::this_thread::yield();
        continue;
      }
      for (; t != h; ++t) A::Free(ring[t % kRing], 48);
      tail.store(t, std::memory_order_release);
    }
  });
  size_t h = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBurst; ++i) {
      while (h - tail.load(std::memory_order_acquire) == kRing) std::this_thread::yield();
      ring[h % kRing] = A::Alloc(48);
      head.store(++h, std::memory_order_release);
    }
  }
  stop.store(true, std::memory_order_release);
  consumer.join();
  state.SetItemsProcessed(state.iterations() * kBurst);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Pair, Small);
BENCHMARK_TEMPLATE(BM_Pair, Glibc);
BENCHMARK_TEMPLATE(BM_Pair, Mimalloc);
BENCHMARK_TEMPLATE(BM_Burst, Small)->ArgName("random")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Burst, Glibc)->ArgName("random")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Burst, Mimalloc)->ArgName("random")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_CrossThread, Small)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_CrossThread, Glibc)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_CrossThread, Mimalloc)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
