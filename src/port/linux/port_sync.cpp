// Mutexes, condition variables and semaphores over pthreads.
#include <errno.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <new>

#include "port/port.h"

namespace port {

struct Mutex {
  pthread_mutex_t fMutex;
};

struct Cond {
  pthread_cond_t fCond;
};

// The count is atomic so that a release or a take that need not wait costs
// one atomic operation. fMutex and fCond serve only threads that sleep.
struct Semaphore {
  pthread_mutex_t fMutex;
  pthread_cond_t fCond;
  std::atomic<long> fCount;
  std::atomic<long> fSleepers;  // changed under fMutex
  long fMax;                    // constant
};

namespace {

// The absolute monotonic time ms milliseconds from now.
timespec DeadlineAfter(unsigned long ms) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  ts.tv_sec += static_cast<time_t>(ms / 1000);
  ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

bool InitMonotonicCond(pthread_cond_t* c) {
  pthread_condattr_t attr;
  if (pthread_condattr_init(&attr) != 0) return false;
  bool ok = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC) == 0 && pthread_cond_init(c, &attr) == 0;
  pthread_condattr_destroy(&attr);
  return ok;
}

// Waits on c with m held, without limit or until deadline.
int TimedWait(pthread_cond_t* c, pthread_mutex_t* m, const timespec* deadline) {
  return deadline ? pthread_cond_timedwait(c, m, deadline) : pthread_cond_wait(c, m);
}

}  // namespace

Mutex* MutexCreate() {
  Mutex* m = new (std::nothrow) Mutex;
  if (m == nullptr) return nullptr;
  pthread_mutexattr_t attr;
  bool ok = pthread_mutexattr_init(&attr) == 0;
  ok = ok && pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
       pthread_mutex_init(&m->fMutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  if (!ok) {
    delete m;
    return nullptr;
  }
  return m;
}

void MutexDestroy(Mutex* m) {
  if (m == nullptr) return;
  pthread_mutex_destroy(&m->fMutex);
  delete m;
}

bool MutexLock(Mutex* m) { return pthread_mutex_lock(&m->fMutex) == 0; }
bool MutexTryLock(Mutex* m) { return pthread_mutex_trylock(&m->fMutex) == 0; }
bool MutexUnlock(Mutex* m) { return pthread_mutex_unlock(&m->fMutex) == 0; }

Cond* CondCreate() {
  Cond* c = new (std::nothrow) Cond;
  if (c == nullptr) return nullptr;
  if (!InitMonotonicCond(&c->fCond)) {
    delete c;
    return nullptr;
  }
  return c;
}

void CondDestroy(Cond* c) {
  if (c == nullptr) return;
  pthread_cond_destroy(&c->fCond);
  delete c;
}

WaitResult CondWait(Cond* c, Mutex* m, unsigned long ms) {
  timespec deadline;
  if (ms != kWaitForever) deadline = DeadlineAfter(ms);
  int rc = TimedWait(&c->fCond, &m->fMutex, ms == kWaitForever ? nullptr : &deadline);
  if (rc == 0) return WaitResult::kOk;
  return rc == ETIMEDOUT ? WaitResult::kTimeout : WaitResult::kFailed;
}

void CondSignal(Cond* c) { pthread_cond_signal(&c->fCond); }
void CondBroadcast(Cond* c) { pthread_cond_broadcast(&c->fCond); }

Semaphore* SemaphoreCreate(long initial, long max) {
  if (initial < 0 || max <= 0 || initial > max) return nullptr;
  Semaphore* s = new (std::nothrow) Semaphore;
  if (s == nullptr) return nullptr;
  if (pthread_mutex_init(&s->fMutex, nullptr) != 0) {
    delete s;
    return nullptr;
  }
  if (!InitMonotonicCond(&s->fCond)) {
    pthread_mutex_destroy(&s->fMutex);
    delete s;
    return nullptr;
  }
  s->fCount.store(initial);
  s->fSleepers.store(0);
  s->fMax = max;
  return s;
}

void SemaphoreDestroy(Semaphore* s) {
  if (s == nullptr) return;
  pthread_cond_destroy(&s->fCond);
  pthread_mutex_destroy(&s->fMutex);
  delete s;
}

namespace {

// Takes one count when there is one.
bool TryTake(Semaphore* s) {
  long count = s->fCount.load();
  while (count > 0) {
    if (s->fCount.compare_exchange_weak(count, count - 1)) return true;
  }
  return false;
}

// Spins this many rounds before sleeping: a count is often handed over
// within a few microseconds (a short critical section ends), and sleeping
// costs two context switches.
constexpr int kSpinRounds = 200;

}  // namespace

bool SemaphoreRelease(Semaphore* s, long count, long* previous) {
  if (count <= 0) return false;
  long old = s->fCount.load();
  do {
    if (count > s->fMax - old) return false;
  } while (!s->fCount.compare_exchange_weak(old, old + count));
  if (previous != nullptr) *previous = old;
  // A sleeper publishes itself before its last look at the count (both
  // sequentially consistent): either it sees the new count or we see it.
  if (s->fSleepers.load() > 0) {
    pthread_mutex_lock(&s->fMutex);
    if (count == 1) {
      pthread_cond_signal(&s->fCond);
    } else {
      pthread_cond_broadcast(&s->fCond);
    }
    pthread_mutex_unlock(&s->fMutex);
  }
  return true;
}

WaitResult SemaphoreWait(Semaphore* s, unsigned long ms) {
  if (TryTake(s)) return WaitResult::kOk;
  if (ms == 0) return WaitResult::kTimeout;
  for (int i = 0; i < kSpinRounds; ++i) {
    __builtin_ia32_pause();
    if (s->fCount.load(std::memory_order_relaxed) > 0 && TryTake(s)) return WaitResult::kOk;
  }
  timespec deadline;
  const bool limited = ms != kWaitForever;
  if (limited) deadline = DeadlineAfter(ms);
  WaitResult result = WaitResult::kOk;
  pthread_mutex_lock(&s->fMutex);
  s->fSleepers.fetch_add(1);
  while (!TryTake(s)) {
    int rc = TimedWait(&s->fCond, &s->fMutex, limited ? &deadline : nullptr);
    if (rc == ETIMEDOUT) {
      if (!TryTake(s)) result = WaitResult::kTimeout;
      break;
    }
    if (rc != 0) {
      result = WaitResult::kFailed;
      break;
    }
  }
  s->fSleepers.fetch_sub(1);
  pthread_mutex_unlock(&s->fMutex);
  return result;
}

}  // namespace port
