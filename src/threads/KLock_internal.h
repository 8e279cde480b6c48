// The implementations behind KLock. Private to the library and its tests.
#ifndef VXKERNEL_THREADS_KLOCK_INTERNAL_H_
#define VXKERNEL_THREADS_KLOCK_INTERNAL_H_

#include <atomic>
#include <cstdint>

#include "port/port.h"
#include "vxkernel/threads/KLock.h"

// A snapshot of an implementation's counters, for tests that wait until a
// thread has become a waiter.
struct KLockCounts {
  long fActiveReaders = 0;
  long fWaitingReaders = 0;
  bool fWriterActive = false;
  long fWaitingWriters = 0;
};

// What a KLock forwards to. Owned by its KLock.
class KLockBase {
 public:
  virtual ~KLockBase() = default;
  virtual bool Lock(KLock::Type type, unsigned long timeout) = 0;
  virtual void Unlock(KLock::Type type) = 0;
  // Test hook; may be called without any lock held.
  virtual KLockCounts Counts() const { return KLockCounts(); }
  // False when the system refused a part of the implementation; such a
  // lock does not lock.
  virtual bool Usable() const = 0;
};

// One re-entrant critical section; type and timeout are ignored, every hold
// is exclusive and waits without limit.
class KLockCriticalSection final : public KLockBase {
 public:
  KLockCriticalSection() : fMutex(port::MutexCreate()) {}
  ~KLockCriticalSection() override { port::MutexDestroy(fMutex); }
  bool Lock(KLock::Type, unsigned long) override;
  void Unlock(KLock::Type) override;
  bool Usable() const override { return fMutex != nullptr; }

  port::Mutex* const fMutex;  // null when the system refused one
};

// Single writer, multiple readers; readers may starve writers. Readers wait
// only while a writer holds the lock; a writer waits until no writer holds
// it and no reader is inside, so a steady stream of readers keeps it out.
// A writer holds new readers off until it unlocks. The writer may lock
// again (write or read) while it holds the lock, as the owner of a mutex
// object may.
//
// One monitor realises "wait for the writer mutex and the no-readers event
// at once": the writer's admission test reads both under fMutex, so it
// enters exactly when both would be signalled. Timeouts apply to the whole
// wait.
class KLockSWMR final : public KLockBase {
 public:
  KLockSWMR();
  ~KLockSWMR() override;
  bool Lock(KLock::Type type, unsigned long timeout) override;
  void Unlock(KLock::Type type) override;
  KLockCounts Counts() const override;
  bool Usable() const override { return fMutex != nullptr && fReadersGo != nullptr && fWriterGo != nullptr; }

 private:
  // Waits on cond until ready() or the deadline; true when ready.
  template <class Ready>
  bool WaitUntil(port::Cond* cond, unsigned long timeout, std::atomic<long>& waiting, Ready ready);

  // Constant after construction.
  port::Mutex* const fMutex;
  port::Cond* const fReadersGo;
  port::Cond* const fWriterGo;
  // Guarded by fMutex.
  uintptr_t fWriter = 0;      // thread handle of the writer; valid while fWriterDepth > 0
  long fWriterDepth = 0;      // re-entry count of the writer
  long fReaders = 0;          // readers inside
  // Changed under fMutex; atomic so that Counts may read them without it.
  std::atomic<long> fWaitingReaders{0};
  std::atomic<long> fWaitingWriters{0};
};

// Single writer, multiple readers, neither side starves: a waiting writer
// holds newly arriving readers off, and a leaving writer lets all waiting
// readers in before the next writer. The timeout is ignored. Not re-entrant.
//
// The four counters (active readers, waiting readers, writer active, waiting
// writers) are packed into one 64-bit word, and every transition of the
// algorithm is one compare-and-swap on it: that is what a mutex around the
// counters would give, without making every reader take a mutex. Threads
// that must wait sleep on a semaphore; whoever lets them in counts them as
// active first and then releases the semaphore.
class KLockSWMRNoStarvation final : public KLockBase {
 public:
  KLockSWMRNoStarvation();
  ~KLockSWMRNoStarvation() override;
  bool Lock(KLock::Type type, unsigned long timeout) override;
  void Unlock(KLock::Type type) override;
  KLockCounts Counts() const override;
  bool Usable() const override { return fReadersGo != nullptr && fWriterGo != nullptr; }

  // The word: 21 bits per count, the top bit for the active writer.
  static constexpr int kCountBits = 21;
  static constexpr uint64_t kCountMask = (uint64_t{1} << kCountBits) - 1;
  static constexpr int kActiveReadersShift = 0;
  static constexpr int kWaitingReadersShift = kCountBits;
  static constexpr int kWaitingWritersShift = 2 * kCountBits;
  static constexpr uint64_t kWriterActive = uint64_t{1} << 63;
  static_assert(3 * kCountBits + 1 == 64, "three counts and a flag fill the word");

 private:
  // Constant after construction.
  port::Semaphore* const fReadersGo;  // a waiting reader takes one count
  port::Semaphore* const fWriterGo;   // a waiting writer takes one count
  std::atomic<uint64_t> fWord{0};
};

// The implementation of kind (owned by the caller): null for a kind without
// one, or when memory ran out.
KLockBase* NewKLockImpl(KLock::Kind kind);

#endif  // VXKERNEL_THREADS_KLOCK_INTERNAL_H_
