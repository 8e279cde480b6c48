// KLockGuard: holds a KLock for the lifetime of a scope.
#ifndef VXKERNEL_THREADS_KLOCKGUARD_H_
#define VXKERNEL_THREADS_KLOCKGUARD_H_

#include "vxkernel/threads/KLock.h"

// Takes the lock (exclusive unless told otherwise, without time limit) on
// construction and releases it on destruction, so a return or an exception
// between the two can never leave it held. A null lock is allowed and
// guards nothing.
//
// The guard does not own the lock. Thread rule: a guard lives on one
// thread's stack; it is neither copied nor moved.
class KLockGuard {
 public:
  explicit KLockGuard(KLock* lock, KLock::Type type = KLock::kWrite)
      : fLock(lock), fType(type), fHeld(lock != nullptr && lock->Lock(type, KLock::kInfinite)) {}
  explicit KLockGuard(KLock& lock, KLock::Type type = KLock::kWrite) : KLockGuard(&lock, type) {}
  ~KLockGuard() {
    if (fHeld) fLock->Unlock(fType);
  }
  KLockGuard(const KLockGuard&) = delete;
  KLockGuard& operator=(const KLockGuard&) = delete;

  // False when the lock refused (the SWMR kinds with an invalid type).
  bool Held() const { return fHeld; }

 private:
  KLock* const fLock;
  const KLock::Type fType;
  const bool fHeld;
};

#endif  // VXKERNEL_THREADS_KLOCKGUARD_H_
