/// \file
/// KRWLock: a reader/writer lock that prefers writers, with its facets and
/// scope guards.
#ifndef VXKERNEL_THREADS_KRWLOCK_H_
#define VXKERNEL_THREADS_KRWLOCK_H_

#include <atomic>
#include <cstdint>

#include "vxkernel/export.h"
#include "vxkernel/threads/KCondition.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/threads/KMutex.h"
#include "vxkernel/threads/thread_annotations.h"

class KRWLock;

/// The reader side of a KRWLock, usable where a lock with Lock/TryLock/Unlock
/// is expected. Refers to the lock, does not own it.
class VXKERNEL_EXPORT KReadLock {
 public:
  /// Refers to lock, which must outlive this facet.
  explicit KReadLock(KRWLock& lock) : fLock(&lock) {}
  /// KRWLock::ReadLock, with its result.
  long Lock();
  /// KRWLock::TryReadLock: 0 when taken, 2 when busy.
  long TryLock();
  /// KRWLock::Unlock, with its result.
  long Unlock();

 private:
  KRWLock* fLock;
};

/// The writer side of a KRWLock. Refers to the lock, does not own it.
class VXKERNEL_EXPORT KWriteLock {
 public:
  /// Refers to lock, which must outlive this facet.
  explicit KWriteLock(KRWLock& lock) : fLock(&lock) {}
  /// KRWLock::WriteLock, with its result.
  long Lock();
  /// KRWLock::TryWriteLock: 0 when taken, 2 when busy.
  long TryLock();
  /// KRWLock::Unlock, with its result.
  long Unlock();

 private:
  KRWLock* fLock;
};

/// Many readers or one writer; writers are preferred: while a writer waits,
/// new readers wait too, and a leaving holder wakes a waiting writer before
/// any reader. Not re-entrant: a thread that read-locks twice while a writer
/// waits deadlocks.
///
/// Owns its mutex and conditions. Thread rule: any thread may lock; Unlock
/// releases the caller's hold (the lock does not record owners).
class VXK_CAPABILITY("rwlock") VXKERNEL_EXPORT KRWLock {
 public:
  KRWLock();
  KRWLock(const KRWLock&) = delete;
  KRWLock& operator=(const KRWLock&) = delete;

  /// Each returns 0 on success or, when it had to wait, the error of the
  /// internal mutex or of a condition wait (the state is then unchanged).
  ///@{
  long ReadLock() VXK_ACQUIRE_SHARED();
  long WriteLock() VXK_ACQUIRE();
  ///@}
  /// 0 when taken, 2 when the lock is busy (a reader also gets 2 while a
  /// writer waits). Unannotated, as KMutex::TryLock.
  ///@{
  long TryReadLock();
  long TryWriteLock();
  ///@}
  /// Releases a writer's or one reader's hold; 8 when nobody holds the lock.
  long Unlock() VXK_RELEASE_GENERIC();

  /// The reader and writer facets; they live as long as the lock.
  ///@{
  KReadLock& Reader() { return fReader; }
  KWriteLock& Writer() { return fWriter; }
  ///@}

 private:
  friend class KRWLockInternal;  ///< src/threads/KRWLock_internal.h: the waiting counts

  /// The lock-free attempts: a reader enters when no writer holds or waits.
  bool TryEnterRead();
  bool TryEnterWrite();

  // Constant after construction.
  KReadLock fReader;
  KWriteLock fWriter;

  /// Taking and releasing a free or read-held lock changes fState with one
  /// atomic operation. A thread that must wait takes fMutex, counts itself
  /// as waiting, looks at fState once more and only then sleeps; a releaser
  /// that sees a waiter after changing fState takes fMutex to wake it. As all
  /// these accesses are sequentially consistent, either the waiter sees the
  /// release or the releaser sees the waiter, so no wake-up is lost.
  KMutex fMutex;
  KCondition fReadersGo;
  KCondition fWriterGo;
  std::atomic<long> fWaitingReaders;  ///< changed under fMutex
  std::atomic<long> fWaitingWriters;  ///< changed under fMutex
  std::atomic<int32_t> fState;        ///< 0 free, n > 0 held by n readers, -1 held by a writer
};

/// The KLockGuards of a KRWLock: exclusive (writer) or shared (reader).
inline KLockGuard::KLockGuard(KRWLock& lock)
    : fObject(&lock), fRelease(&ReleaseLock<KRWLock>), fType(KLock::kWrite) {
  lock.WriteLock();
}
inline KLockGuard::KLockGuard(KRWLock& lock, Shared)
    : fObject(&lock), fRelease(&ReleaseLock<KRWLock>), fType(KLock::kRead) {
  lock.ReadLock();
}

/// The former name of the shared KLockGuard of a KRWLock, kept for hosts.
class VXK_SCOPED_CAPABILITY KRLock_var : public KLockGuard {
 public:
  /// Read-locks lock (KRWLock::ReadLock) until the guard is destroyed.
  explicit KRLock_var(KRWLock& lock) VXK_ACQUIRE_SHARED(lock) : KLockGuard(lock, kShared) {}
  ~KRLock_var() VXK_RELEASE() {}
};
/// The former name of the exclusive KLockGuard of a KRWLock, kept for hosts.
class VXK_SCOPED_CAPABILITY KWLock_var : public KLockGuard {
 public:
  /// Write-locks lock (KRWLock::WriteLock) until the guard is destroyed.
  explicit KWLock_var(KRWLock& lock) VXK_ACQUIRE(lock) : KLockGuard(lock) {}
  ~KWLock_var() VXK_RELEASE() {}
};

#endif  // VXKERNEL_THREADS_KRWLOCK_H_
