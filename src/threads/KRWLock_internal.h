// KRWLockInternal: what the library's tests read of a KRWLock's state.
#ifndef VXKERNEL_THREADS_KRWLOCK_INTERNAL_H_
#define VXKERNEL_THREADS_KRWLOCK_INTERNAL_H_

#include "vxkernel/threads/KRWLock.h"

class KRWLockInternal {
 public:
  // Readers and writers that sleep (or are about to) until the lock is free.
  static long Waiting(KRWLock& lock) {
    KLockGuard guard(lock.fMutex);
    return lock.fWaitingReaders + lock.fWaitingWriters;
  }
  // Readers inside, -1 for a writer, 0 when free.
  static int State(const KRWLock& lock) { return lock.fState; }
};

#endif  // VXKERNEL_THREADS_KRWLOCK_INTERNAL_H_
