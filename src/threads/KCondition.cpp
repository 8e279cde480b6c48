#include "vxkernel/threads/KCondition.h"

#include "port/port.h"
#include "vxkernel/threads/KTimestamp.h"

// The condition is a system condition variable bound to the KMutex's system
// mutex. That gives the two observable rules directly: a signal with nobody
// waiting is lost, and a broadcast wakes the threads blocked at that moment
// and no later arrival. The waiter count only lets Signal and Broadcast
// return at once when nobody waits.

KCondition::KCondition() : fCond(port::CondCreate()) {}

KCondition::~KCondition() { port::CondDestroy(static_cast<port::Cond*>(fCond)); }

long KCondition::WaitFor(KMutex& mutex, unsigned long ms) {
  if (fCond == nullptr || mutex.fObject == nullptr) return KMutex::kTimedOut;
  fWaiters.fetch_add(1, std::memory_order_relaxed);
  port::WaitResult result =
      port::CondWait(static_cast<port::Cond*>(fCond), static_cast<port::Mutex*>(mutex.fObject), ms);
  fWaiters.fetch_sub(1, std::memory_order_relaxed);
  return result == port::WaitResult::kOk ? KMutex::kOk : KMutex::kTimedOut;
}

long KCondition::Wait(KMutex& mutex) { return WaitFor(mutex, port::kWaitForever); }

long KCondition::Wait(KMutex& mutex, const KTimestamp& deadline) {
  KTimestamp left(deadline);
  left -= KTimestamp::Now();
  const int64 remaining = left._Milliseconds();
  if (remaining < 0 || remaining >= 4294967295LL) return KMutex::kSystemError;
  return WaitFor(mutex, static_cast<unsigned long>(remaining));
}

long KCondition::Signal() {
  if (fWaiters.load(std::memory_order_relaxed) <= 0) return KMutex::kOk;
  if (fCond == nullptr) return KMutex::kSystemError;
  port::CondSignal(static_cast<port::Cond*>(fCond));
  return KMutex::kOk;
}

long KCondition::Broadcast() {
  if (fWaiters.load(std::memory_order_relaxed) <= 0) return KMutex::kOk;
  if (fCond == nullptr) return KMutex::kSystemError;
  port::CondBroadcast(static_cast<port::Cond*>(fCond));
  return KMutex::kOk;
}
