/// \file
/// KMutex and KMutexGuard: the library's basic mutual-exclusion object.
#ifndef VXKERNEL_THREADS_KMUTEX_H_
#define VXKERNEL_THREADS_KMUTEX_H_

#include "vxkernel/export.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/threads/thread_annotations.h"

/// A re-entrant mutex of one of two kinds, chosen at construction: the
/// critical-section kind (kind argument non-zero; the default) or the
/// operating-system mutex-object kind (kind argument 0). Both may be entered
/// again by their owner. Only the mutex-object kind supports TryLock.
///
/// The KMutex owns its operating-system object. Not copyable. Thread rule:
/// any thread may lock; only the owner may unlock.
class VXK_CAPABILITY("mutex") VXKERNEL_EXPORT KMutex {
 public:
  /// Result codes of the thread primitives.
  enum {
    kOk = 0,
    kCreateFailed = 1,
    kBusy = 2,
    kSystemError = 5,
    kNotSupported = 6,
    kNotLocked = 8,
    kJoinFailed = 9,
    kTimedOut = 10
  };

  /// kind 0: mutex object; any other value: critical section.
  explicit KMutex(int kind = 4);
  ~KMutex();
  KMutex(const KMutex&) = delete;
  KMutex& operator=(const KMutex&) = delete;

  /// Waits without limit. Returns 0, or 5 when the system refuses the wait.
  long Lock() const VXK_ACQUIRE();
  /// Mutex-object kind: 0 when taken, 2 when another thread holds it.
  /// Critical-section kind: 6 (not supported), the lock is not taken. (The
  /// analysis cannot express "0 means taken": callers that unlock after a
  /// successful TryLock are exempt from it.)
  long TryLock() const;
  /// Releases one level. Returns 0; the mutex-object kind returns 5 when the
  /// caller does not own it.
  long Unlock() const VXK_RELEASE();

  /// The critical section (null for the mutex-object kind) and the mutex
  /// handle (null for the critical-section kind), as opaque pointers.
  ///@{
  void* _Critical() const { return fKind == 1 ? fObject : nullptr; }
  void* _Handle() const { return fKind == 0 ? fObject : nullptr; }
  ///@}

 private:
  friend class KCondition;  ///< waits on fObject

  // Constant after construction.
  int fKind;      ///< 1 critical section, 0 mutex object
  void* fObject;  ///< the operating-system object; null if it could not be made
};

/// The KLockGuard of a KMutex.
inline KLockGuard::KLockGuard(KMutex& mutex)
    : fObject(&mutex), fRelease(&ReleaseLock<KMutex>), fType(KLock::kWrite) {
  mutex.Lock();
}

/// The former name of KLockGuard over a KMutex, kept for hosts.
class VXK_SCOPED_CAPABILITY KMutexGuard : public KLockGuard {
 public:
  /// Locks mutex (KMutex::Lock) until the guard is destroyed.
  explicit KMutexGuard(KMutex& mutex) VXK_ACQUIRE(mutex) : KLockGuard(mutex) {}
  ~KMutexGuard() VXK_RELEASE() {}
};

#endif  // VXKERNEL_THREADS_KMUTEX_H_
