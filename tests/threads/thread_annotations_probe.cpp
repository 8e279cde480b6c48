// Compiled, never run, by the thread_annotations_<n> tests: case VXK_PROBE
// breaks one locking rule (case 0 keeps them all), and the compiler must
// refuse exactly that.
#include "vxkernel/threads/KCondition.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/threads/KMutex.h"
#include "vxkernel/threads/KRWLock.h"

struct Account {
  KMutex fMutex;
  KCondition fChanged;
  long fBalance VXK_GUARDED_BY(fMutex) = 0;
  KRWLock fLimits;
  long fLimit VXK_GUARDED_BY(fLimits) = 0;
  KLock fLock{KLock::kCriticalSection};
  long fCount VXK_GUARDED_BY(fLock) = 0;
};

long Probe(Account& a) {
  long seen = 0;
  {
#if VXK_PROBE != 1  // a read without the lock
    KLockGuard guard(a.fMutex);
#endif
    seen += a.fBalance;
  }
  {
#if VXK_PROBE == 2  // a write under a reader's hold
    KLockGuard guard(a.fLimits, KLockGuard::kShared);
#else
    KLockGuard guard(a.fLimits);
#endif
    a.fLimit = seen;
  }
  {
    KLockGuard shared(a.fLimits, KLockGuard::kShared);
    seen += a.fLimit;
  }
  {
#if VXK_PROBE != 3  // a write without the lock
    KLockGuard guard(a.fLock);
#endif
    ++a.fCount;
  }
  {
#if VXK_PROBE == 4  // a wait without the mutex
    a.fChanged.Wait(a.fMutex);
#else
    KLockGuard guard(a.fMutex);
    a.fChanged.Wait(a.fMutex);
#endif
  }
  return seen;
}
