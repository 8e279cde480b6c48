/// \file
/// KCondition and KConditionMutex: waiting for a state change under a KMutex.
#ifndef VXKERNEL_THREADS_KCONDITION_H_
#define VXKERNEL_THREADS_KCONDITION_H_

#include <atomic>

#include "vxkernel/export.h"
#include "vxkernel/threads/KMutex.h"
#include "vxkernel/threads/thread_annotations.h"

class KTimestamp;

/// A condition variable used with a caller-supplied KMutex. A Signal with no
/// waiter is lost (the next waiter does not wake from it); Broadcast wakes
/// exactly the threads waiting at that moment. As with every condition
/// variable a waiter may wake without a signal, so callers re-check their
/// predicate in a loop.
///
/// The KCondition owns its operating-system object. Not copyable. Thread rule:
/// Wait is called with the mutex held exactly once by the caller; Signal and
/// Broadcast may be called with or without it (with it, the waiter count they
/// test is exact).
class VXKERNEL_EXPORT KCondition {
 public:
  KCondition();
  ~KCondition();
  KCondition(const KCondition&) = delete;
  KCondition& operator=(const KCondition&) = delete;

  /// Releases mutex, waits for a signal and locks mutex again. Returns 0, or
  /// 10 when the wait failed.
  /// The caller holds mutex (once).
  long Wait(KMutex& mutex) VXK_REQUIRES(mutex);
  /// As Wait, ending at deadline (a wall-clock instant) with 10. A deadline in
  /// the past, or 4294967295 ms or more ahead, returns 5 at once with the
  /// mutex still held.
  long Wait(KMutex& mutex, const KTimestamp& deadline) VXK_REQUIRES(mutex);
  /// Wakes one waiter; returns 0 (also when nobody waits), 5 on failure.
  long Signal();
  /// Wakes every thread waiting now; returns 0, 5 on failure.
  long Broadcast();

  /// This object, for code that passes the condition around as a handle.
  KCondition* _Cond() { return this; }

 private:
  long WaitFor(KMutex& mutex, unsigned long ms) VXK_REQUIRES(mutex);

  /// Incremented and decremented by waiters holding the caller's mutex.
  std::atomic<long> fWaiters{0};
  void* fCond;  ///< the operating-system condition; constant after construction
};

/// A KMutex of the default kind paired with a KCondition: the usual monitor.
/// Owns both. Thread rule: as KMutex and KCondition.
class VXKERNEL_EXPORT KConditionMutex {
 public:
  /// KMutex::Lock and KMutex::Unlock on the monitor's mutex, with their
  /// results.
  ///@{
  long Lock() const VXK_ACQUIRE(fMutex) { return fMutex.Lock(); }
  long Unlock() const VXK_RELEASE(fMutex) { return fMutex.Unlock(); }
  ///@}
  /// KCondition::Wait on the monitor's mutex, with or without a deadline, with
  /// its results (0; 10 on failure or at the deadline; 5 for a deadline out of
  /// range). The caller holds the monitor (once).
  ///@{
  long Wait() VXK_REQUIRES(fMutex) { return fCondition.Wait(fMutex); }
  long Wait(const KTimestamp& deadline) VXK_REQUIRES(fMutex) { return fCondition.Wait(fMutex, deadline); }
  ///@}
  /// KCondition::Signal and KCondition::Broadcast: 0, or 5 on failure.
  ///@{
  long Signal() { return fCondition.Signal(); }
  long Broadcast() { return fCondition.Broadcast(); }
  ///@}

 private:
  KMutex fMutex;
  KCondition fCondition;
};

#endif  // VXKERNEL_THREADS_KCONDITION_H_
