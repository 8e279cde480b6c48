// Threads, clocks and sleeping over pthreads and clock_gettime.
#include <errno.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "port/port.h"

namespace port {

static_assert(sizeof(pthread_t) <= sizeof(uintptr_t));

namespace {

// Handed from ThreadCreate to the new thread. The creator waits until the
// thread has published its kernel id, so Create can return the id; the
// creator owns the block and frees it after that hand-shake.
struct StartBlock {
  unsigned (*fStart)(void*);
  void* fArgument;
  std::atomic<uint32_t> fId{0};
  pthread_mutex_t fMutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t fCond = PTHREAD_COND_INITIALIZER;
};

void* ThreadMain(void* raw) {
  StartBlock* block = static_cast<StartBlock*>(raw);
  unsigned (*start)(void*) = block->fStart;
  void* argument = block->fArgument;
  pthread_mutex_lock(&block->fMutex);
  block->fId.store(ThreadId(), std::memory_order_relaxed);
  pthread_cond_signal(&block->fCond);
  pthread_mutex_unlock(&block->fMutex);
  // block may be gone from here on.
  unsigned code = start(argument);
  return reinterpret_cast<void*>(static_cast<uintptr_t>(code));
}

}  // namespace

bool ThreadCreate(unsigned (*start)(void*), void* argument, uintptr_t* handle, uint32_t* id) {
  StartBlock* block = new (std::nothrow) StartBlock;
  if (block == nullptr) return false;
  block->fStart = start;
  block->fArgument = argument;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, ThreadMain, block) != 0) {
    delete block;
    return false;
  }
  pthread_mutex_lock(&block->fMutex);
  while (block->fId.load(std::memory_order_relaxed) == 0) pthread_cond_wait(&block->fCond, &block->fMutex);
  *id = block->fId.load(std::memory_order_relaxed);
  pthread_mutex_unlock(&block->fMutex);
  pthread_mutex_destroy(&block->fMutex);
  pthread_cond_destroy(&block->fCond);
  delete block;
  *handle = static_cast<uintptr_t>(thread);
  return true;
}

bool ThreadJoin(uintptr_t handle, unsigned* exitCode) {
  void* result = nullptr;
  // Joining oneself would deadlock; refused before the system sees it.
  if (pthread_equal(static_cast<pthread_t>(handle), pthread_self())) return false;
  if (pthread_join(static_cast<pthread_t>(handle), &result) != 0) return false;
  if (exitCode != nullptr) *exitCode = static_cast<unsigned>(reinterpret_cast<uintptr_t>(result));
  return true;
}

bool ThreadDetach(uintptr_t handle) { return pthread_detach(static_cast<pthread_t>(handle)) == 0; }

uintptr_t ThreadSelf() { return static_cast<uintptr_t>(pthread_self()); }

uint32_t ThreadId() {
  // The kernel id stays fixed for the thread's life; ask once per thread.
  static thread_local uint32_t tid = 0;
  if (tid == 0) tid = static_cast<uint32_t>(syscall(SYS_gettid));
  return tid;
}

int64_t MonotonicMicros() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t WallMillis() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMillis(unsigned long ms) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(ms / 1000);
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace port
