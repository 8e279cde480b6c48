/// \file
/// KLockGuard: holds a lock for the lifetime of a scope. It is the one scoped
/// lock form of the library, for KLock, KMutex and KRWLock alike.
#ifndef VXKERNEL_THREADS_KLOCKGUARD_H_
#define VXKERNEL_THREADS_KLOCKGUARD_H_

#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/thread_annotations.h"

class KMutex;
class KRWLock;

/// Takes the lock (exclusive unless told otherwise, without time limit) on
/// construction and releases it on destruction, so a return or an exception
/// between the two can never leave it held. A null KLock pointer is allowed
/// and guards nothing. The KMutex and KRWLock constructors are defined in
/// their headers, which include this one.
///
/// Clang's thread-safety analysis knows the guard as a scoped capability: in
/// the guard's scope the lock counts as held, shared with kShared. (A KLock
/// taken with a run-time Type counts as held exclusively.)
///
/// The guard does not own the lock. Thread rule: a guard lives on one
/// thread's stack; it is neither copied nor moved.
class VXK_SCOPED_CAPABILITY KLockGuard {
 public:
  /// Asks for a shared (reader's) hold.
  enum Shared { kShared };

  /// Takes lock with type (kWrite by default) and no time limit; with kShared,
  /// as kRead. A null pointer, or a lock that refuses (see Held), leaves the
  /// guard holding nothing.
  ///@{
  explicit KLockGuard(KLock* lock, KLock::Type type = KLock::kWrite) VXK_ACQUIRE(lock)
      : fObject(lock), fRelease(&ReleaseKLock), fType(type) {
    if (lock == nullptr || !lock->Lock(type, KLock::kInfinite)) fRelease = nullptr;
  }
  explicit KLockGuard(KLock& lock, KLock::Type type = KLock::kWrite) VXK_ACQUIRE(lock)
      : KLockGuard(&lock, type) {}
  KLockGuard(KLock& lock, Shared) VXK_ACQUIRE_SHARED(lock) : KLockGuard(&lock, KLock::kRead) {}
  ///@}
  /// Takes mutex with KMutex::Lock (defined in KMutex.h).
  inline explicit KLockGuard(KMutex& mutex) VXK_ACQUIRE(mutex);
  /// Takes lock as its writer (WriteLock) or, with kShared, as a reader
  /// (ReadLock); defined in KRWLock.h.
  ///@{
  inline explicit KLockGuard(KRWLock& lock) VXK_ACQUIRE(lock);
  inline KLockGuard(KRWLock& lock, Shared) VXK_ACQUIRE_SHARED(lock);
  ///@}

  ~KLockGuard() VXK_RELEASE() {
    if (fRelease != nullptr) fRelease(fObject, fType);
  }
  KLockGuard(const KLockGuard&) = delete;
  KLockGuard& operator=(const KLockGuard&) = delete;

  /// False when the lock refused (the SWMR kinds of KLock with an invalid
  /// type) or there was none.
  bool Held() const { return fRelease != nullptr; }

 private:
  static void ReleaseKLock(void* lock, KLock::Type type) VXK_NO_THREAD_SAFETY_ANALYSIS {
    static_cast<KLock*>(lock)->Unlock(type);
  }
  /// Releases a KMutex or a KRWLock.
  template <class Lock>
  static void ReleaseLock(void* lock, KLock::Type) VXK_NO_THREAD_SAFETY_ANALYSIS {
    static_cast<Lock*>(lock)->Unlock();
  }

  void* const fObject;  ///< the lock held
  /// Releases fObject; null when nothing is held. The analysis cannot follow
  /// the call through a pointer, hence the exemptions on the releasers.
  void (*fRelease)(void* object, KLock::Type type);
  const KLock::Type fType;  ///< the type a KLock was taken with
};

#endif  // VXKERNEL_THREADS_KLOCKGUARD_H_
