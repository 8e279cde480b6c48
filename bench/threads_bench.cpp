// Locks: vxkernel next to the standard library and pthreads.
//
// Uncontended figures run on one thread; contended ones on two (->Threads(2)).
// The SWMR comparisons do 9 reads for every write.
#include <benchmark/benchmark.h>
#include <pthread.h>

#include <mutex>
#include <shared_mutex>

#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KRWLock.h"

namespace {

constexpr unsigned long kForever = KLock::kInfinite;

// Work done inside the lock: a few dependent additions, so that the lock
// and not the work dominates, yet critical sections are not empty.
long gShared = 0;
inline void Work() { benchmark::DoNotOptimize(++gShared); }

// ===== Exclusive, re-entrant =====

void BM_KLockCriticalSection(benchmark::State& state) {
  static KLock lock(KLock::kCriticalSection);
  for (auto _ : state) {
    lock.Lock(KLock::kWrite, kForever);
    Work();
    lock.Unlock(KLock::kWrite);
  }
}
BENCHMARK(BM_KLockCriticalSection)->Threads(1)->Threads(2)->UseRealTime();

void BM_StdRecursiveMutex(benchmark::State& state) {
  static std::recursive_mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    Work();
    mutex.unlock();
  }
}
BENCHMARK(BM_StdRecursiveMutex)->Threads(1)->Threads(2)->UseRealTime();

// ===== Reader/writer, 90 % reads =====

template <class Read, class Write>
void ReadMostly(benchmark::State& state, Read read, Write write) {
  int i = state.thread_index();
  for (auto _ : state) {
    if (++i % 10 == 0) {
      write();
    } else {
      read();
    }
  }
}

KRWLock gRWLock;
void BM_KRWLock(benchmark::State& state) {
  ReadMostly(
      state,
      [] {
        gRWLock.ReadLock();
        benchmark::DoNotOptimize(gShared);
        gRWLock.Unlock();
      },
      [] {
        gRWLock.WriteLock();
        Work();
        gRWLock.Unlock();
      });
}
BENCHMARK(BM_KRWLock)->Threads(1)->Threads(2)->UseRealTime();

pthread_rwlock_t gPthreadRW;
int InitPthreadRW() {
  pthread_rwlockattr_t attr;
  pthread_rwlockattr_init(&attr);
  pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  return pthread_rwlock_init(&gPthreadRW, &attr);
}
const int gPthreadRWInit = InitPthreadRW();

void BM_PthreadRWLockPreferWriter(benchmark::State& state) {
  ReadMostly(
      state,
      [] {
        pthread_rwlock_rdlock(&gPthreadRW);
        benchmark::DoNotOptimize(gShared);
        pthread_rwlock_unlock(&gPthreadRW);
      },
      [] {
        pthread_rwlock_wrlock(&gPthreadRW);
        Work();
        pthread_rwlock_unlock(&gPthreadRW);
      });
}
BENCHMARK(BM_PthreadRWLockPreferWriter)->Threads(1)->Threads(2)->UseRealTime();

template <KLock::Kind kKind>
void BM_KLockSWMR(benchmark::State& state) {
  static KLock lock(kKind);
  ReadMostly(
      state,
      [] {
        lock.Lock(KLock::kRead, kForever);
        benchmark::DoNotOptimize(gShared);
        lock.Unlock(KLock::kRead);
      },
      [] {
        lock.Lock(KLock::kWrite, kForever);
        Work();
        lock.Unlock(KLock::kWrite);
      });
}
BENCHMARK_TEMPLATE(BM_KLockSWMR, KLock::kSWMR)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_KLockSWMR, KLock::kSWMRNoStarvation)->Threads(1)->Threads(2)->UseRealTime();

std::shared_mutex gSharedMutex;
void BM_StdSharedMutex(benchmark::State& state) {
  ReadMostly(
      state,
      [] {
        gSharedMutex.lock_shared();
        benchmark::DoNotOptimize(gShared);
        gSharedMutex.unlock_shared();
      },
      [] {
        gSharedMutex.lock();
        Work();
        gSharedMutex.unlock();
      });
}
BENCHMARK(BM_StdSharedMutex)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
