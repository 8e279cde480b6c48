#include "vxkernel/threads/KLock.h"

#include <new>

#include "base/check.h"
#include "base/debug_line.h"
#include "port/port.h"
#include "threads/KLock_internal.h"

// ===== KLock =====

KLock::KLock(Kind kind) : fKind(kind), fImpl(nullptr) { SysInit(); }

KLock::~KLock() { delete fImpl; }

KLockBase* NewKLockImpl(KLock::Kind kind) {
  switch (kind) {
    case KLock::kCriticalSection:
      return new (std::nothrow) KLockCriticalSection;
    case KLock::kSWMR:
      return new (std::nothrow) KLockSWMR;
    case KLock::kSWMRNoStarvation:
      return new (std::nothrow) KLockSWMRNoStarvation;
  }
  return nullptr;
}

void KLock::SysInit() {
  fImpl = NewKLockImpl(fKind);
  if (fKind != kCriticalSection && fKind != kSWMR && fKind != kSWMRNoStarvation)
    return;  // a kind without implementation does no locking
  // A lock the system refused does not lock; say so, as every failure does.
  if (fImpl == nullptr || !fImpl->Usable())
    vxk_internal::DebugLine("KLock::SysInit", "could not create the lock of kind ", static_cast<int>(fKind),
                            "; it does not lock");
}

// The analysis sees the lock taken here only as the caller does.
unsigned char KLock::Lock(Type type, unsigned long timeout) VXK_NO_THREAD_SAFETY_ANALYSIS {
  // The critical-section kind is by far the most used: skip the second
  // virtual call for it.
  if (fKind == kCriticalSection && fImpl != nullptr) {
    port::Mutex* m = static_cast<KLockCriticalSection*>(fImpl)->fMutex;
    if (m != nullptr) port::MutexLock(m);
    return true;
  }
  return fImpl == nullptr ? true : fImpl->Lock(type, timeout);
}

void KLock::Unlock(Type type) VXK_NO_THREAD_SAFETY_ANALYSIS {
  if (fKind == kCriticalSection && fImpl != nullptr) {
    port::Mutex* m = static_cast<KLockCriticalSection*>(fImpl)->fMutex;
    if (m != nullptr) {
      const bool released = port::MutexUnlock(m);
      VXK_DCHECK(released);  // the caller held the lock
    }
    return;
  }
  if (fImpl != nullptr) fImpl->Unlock(type);
}

// ===== KLockCriticalSection =====

bool KLockCriticalSection::Lock(KLock::Type, unsigned long) {
  if (fMutex != nullptr) port::MutexLock(fMutex);
  return true;
}

void KLockCriticalSection::Unlock(KLock::Type) {
  if (fMutex == nullptr) return;
  const bool released = port::MutexUnlock(fMutex);
  VXK_DCHECK(released);  // the caller held the lock
}

// ===== KLockSWMR =====

KLockSWMR::KLockSWMR()
    : fMutex(port::MutexCreate()), fReadersGo(port::CondCreate()), fWriterGo(port::CondCreate()) {}

KLockSWMR::~KLockSWMR() {
  port::CondDestroy(fWriterGo);
  port::CondDestroy(fReadersGo);
  port::MutexDestroy(fMutex);
}

template <class Ready>
bool KLockSWMR::WaitUntil(port::Cond* cond, unsigned long timeout, std::atomic<long>& waiting,
                          Ready ready) {
  if (ready()) return true;
  if (timeout == 0) return false;
  const bool limited = timeout != KLock::kInfinite;
  const int64_t deadline = limited ? port::MonotonicMicros() + static_cast<int64_t>(timeout) * 1000 : 0;
  waiting.fetch_add(1, std::memory_order_relaxed);
  bool ok = true;
  while (!ready()) {
    unsigned long ms = port::kWaitForever;
    if (limited) {
      int64_t left = deadline - port::MonotonicMicros();
      if (left <= 0) {
        ok = false;
        break;
      }
      ms = static_cast<unsigned long>((left + 999) / 1000);
    }
    // A failed wait is treated like a wake-up: the loop re-tests.
    port::CondWait(cond, fMutex, ms);
  }
  waiting.fetch_sub(1, std::memory_order_relaxed);
  return ok;
}

bool KLockSWMR::Lock(KLock::Type type, unsigned long timeout) {
  if (fMutex == nullptr || fReadersGo == nullptr || fWriterGo == nullptr) return false;
  if (type != KLock::kRead && type != KLock::kWrite) return false;
  const uintptr_t self = port::ThreadSelf();
  port::MutexLock(fMutex);
  bool ok;
  if (type == KLock::kRead) {
    // Only a writer that is not the caller keeps a reader out.
    ok = WaitUntil(fReadersGo, timeout, fWaitingReaders,
                   [&] { return fWriterDepth == 0 || fWriter == self; });
    if (ok) ++fReaders;
  } else {
    ok = WaitUntil(fWriterGo, timeout, fWaitingWriters, [&] {
      return (fWriterDepth == 0 || fWriter == self) && fReaders == 0;
    });
    if (ok) {
      fWriter = self;
      ++fWriterDepth;
    }
  }
  port::MutexUnlock(fMutex);
  return ok;
}

void KLockSWMR::Unlock(KLock::Type type) {
  if (fMutex == nullptr || fReadersGo == nullptr || fWriterGo == nullptr) return;
  port::MutexLock(fMutex);
  // The caller holds the lock with this type.
  VXK_DCHECK(type == KLock::kRead
                 ? fReaders > 0
                 : type != KLock::kWrite || (fWriterDepth > 0 && fWriter == port::ThreadSelf()));
  if (type == KLock::kRead) {
    if (fReaders > 0 && --fReaders == 0 && fWaitingWriters.load(std::memory_order_relaxed) > 0) {
      // Writers re-test their condition; the rest go back to sleep.
      port::CondBroadcast(fWriterGo);
    }
  } else if (type == KLock::kWrite) {
    if (fWriterDepth > 0 && fWriter == port::ThreadSelf() && --fWriterDepth == 0) {
      fWriter = 0;
      if (fWaitingReaders.load(std::memory_order_relaxed) > 0) port::CondBroadcast(fReadersGo);
      if (fWaitingWriters.load(std::memory_order_relaxed) > 0) port::CondBroadcast(fWriterGo);
    }
  }
  port::MutexUnlock(fMutex);
}

KLockCounts KLockSWMR::Counts() const {
  KLockCounts counts;
  counts.fWaitingReaders = fWaitingReaders.load(std::memory_order_relaxed);
  counts.fWaitingWriters = fWaitingWriters.load(std::memory_order_relaxed);
  return counts;
}

// ===== KLockSWMRNoStarvation =====

namespace {
constexpr long kSemaphoreMax = 2147483647L;
}  // namespace

namespace {

using Fair = KLockSWMRNoStarvation;

constexpr uint64_t kOneActiveReader = uint64_t{1} << Fair::kActiveReadersShift;
constexpr uint64_t kOneWaitingReader = uint64_t{1} << Fair::kWaitingReadersShift;
constexpr uint64_t kOneWaitingWriter = uint64_t{1} << Fair::kWaitingWritersShift;

inline uint64_t ActiveReaders(uint64_t w) { return (w >> Fair::kActiveReadersShift) & Fair::kCountMask; }
inline uint64_t WaitingReaders(uint64_t w) { return (w >> Fair::kWaitingReadersShift) & Fair::kCountMask; }
inline uint64_t WaitingWriters(uint64_t w) { return (w >> Fair::kWaitingWritersShift) & Fair::kCountMask; }
inline bool WriterActive(uint64_t w) { return (w & Fair::kWriterActive) != 0; }

}  // namespace

KLockSWMRNoStarvation::KLockSWMRNoStarvation()
    : fReadersGo(port::SemaphoreCreate(0, kSemaphoreMax)), fWriterGo(port::SemaphoreCreate(0, kSemaphoreMax)) {}

KLockSWMRNoStarvation::~KLockSWMRNoStarvation() {
  port::SemaphoreDestroy(fWriterGo);
  port::SemaphoreDestroy(fReadersGo);
}

bool KLockSWMRNoStarvation::Lock(KLock::Type type, unsigned long) {
  if (fReadersGo == nullptr || fWriterGo == nullptr) return false;
  if (type != KLock::kRead && type != KLock::kWrite) return false;
  uint64_t word = fWord.load(std::memory_order_relaxed);
  bool entered;
  uint64_t next;
  do {
    if (type == KLock::kRead) {
      // No writer active or waiting: enter; otherwise wait.
      entered = !WriterActive(word) && WaitingWriters(word) == 0;
      next = word + (entered ? kOneActiveReader : kOneWaitingReader);
    } else {
      // No reader and no writer active: enter; otherwise wait.
      entered = ActiveReaders(word) == 0 && !WriterActive(word);
      next = entered ? (word | kWriterActive) : word + kOneWaitingWriter;
    }
  } while (!fWord.compare_exchange_weak(word, next, std::memory_order_acquire, std::memory_order_relaxed));
  if (!entered) {
    // The thread that lets us in has already counted us as active.
    port::SemaphoreWait(type == KLock::kRead ? fReadersGo : fWriterGo, port::kWaitForever);
  }
  return true;
}

void KLockSWMRNoStarvation::Unlock(KLock::Type type) {
  if (fReadersGo == nullptr || fWriterGo == nullptr) return;
  if (type != KLock::kRead && type != KLock::kWrite) return;
  uint64_t word = fWord.load(std::memory_order_relaxed);
  uint64_t next;
  uint64_t wakeReaders;
  bool wakeWriter;
  do {
    next = word;
    wakeReaders = 0;
    wakeWriter = false;
    // The caller holds the lock with this type.
    VXK_DCHECK(type == KLock::kRead ? ActiveReaders(word) > 0 : WriterActive(word));
    if (type == KLock::kRead) {
      if (ActiveReaders(next) > 0) next -= kOneActiveReader;
      // The last reader out hands the lock to one waiting writer.
      if (ActiveReaders(next) == 0 && WaitingWriters(next) > 0) {
        next = (next - kOneWaitingWriter) | kWriterActive;
        wakeWriter = true;
      }
    } else {
      next &= ~kWriterActive;
      // A leaving writer prefers every waiting reader, then one writer.
      wakeReaders = WaitingReaders(next);
      if (wakeReaders > 0) {
        next = next - wakeReaders * kOneWaitingReader + wakeReaders * kOneActiveReader;
      } else if (WaitingWriters(next) > 0) {
        next = (next - kOneWaitingWriter) | kWriterActive;
        wakeWriter = true;
      }
    }
  } while (!fWord.compare_exchange_weak(word, next, std::memory_order_release, std::memory_order_relaxed));
  if (wakeReaders > 0) port::SemaphoreRelease(fReadersGo, static_cast<long>(wakeReaders), nullptr);
  if (wakeWriter) port::SemaphoreRelease(fWriterGo, 1, nullptr);
}

KLockCounts KLockSWMRNoStarvation::Counts() const {
  const uint64_t word = fWord.load(std::memory_order_relaxed);
  KLockCounts counts;
  counts.fActiveReaders = static_cast<long>(ActiveReaders(word));
  counts.fWaitingReaders = static_cast<long>(WaitingReaders(word));
  counts.fWriterActive = WriterActive(word);
  counts.fWaitingWriters = static_cast<long>(WaitingWriters(word));
  return counts;
}
