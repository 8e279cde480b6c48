// KMutex, KMutexGuard, KCondition and KConditionMutex.
#include "vxkernel/threads/KMutex.h"

#include <gtest/gtest.h>

#include <vector>

#include "threads/threads_test_util.h"
#include "vxkernel/runtime/KLibraryInfo.h"
#include "vxkernel/threads/KCondition.h"

namespace {

// The result of TryLock (or of Unlock) on m from another thread.
long Elsewhere(const KMutex& m, bool unlock = false) {
  long rc = -1;
  std::thread([&] {
    rc = unlock ? m.Unlock() : m.TryLock();
    if (!unlock && rc == 0) m.Unlock();
  }).join();
  return rc;
}

// Kind 0 is a re-entrant mutex object; any other kind (4 by default) a
// critical section, which cannot be tried. Codes: 2 held elsewhere, 6 not
// supported, 5 not held by the caller.
TEST(KMutex, KindsAndStatusCodes) {
  KMutex object(0), critical;
  const std::vector<long> steps{object.TryLock(),   Elsewhere(object),   object.TryLock(),
                                object.Unlock(),    object.Unlock(),     Elsewhere(object),
                                critical.TryLock(), KMutex(-3).TryLock()};
  EXPECT_EQ(steps, (std::vector<long>{0, 2, 0, 0, 0, 0, 6, 6}));
  EXPECT_NE(critical._Critical(), nullptr);
  EXPECT_EQ(object._Critical(), nullptr);
  // Unlocking what one does not hold (ThreadSanitizer would report the misuse).
  if (std::string(KLibraryInfo::Sanitizers()).find("thread") != std::string::npos) return;
  const std::vector<long> misuse{object.Unlock(), object.Lock(), Elsewhere(object, /*unlock=*/true),
                                 object.Unlock()};
  EXPECT_EQ(misuse, (std::vector<long>{5, 0, 5, 0}));
}

TEST(KMutex, GuardExcludesOtherThreads) {
  for (int kind : {0, 1}) {
    KMutex m(kind);
    long counter = 0;
    OnThreads(4, [&](int) {
      for (int i = 0; i < 10000; ++i) {
        KMutexGuard guard(m), nested(m);  // re-entrant
        ++counter;
      }
    });
    EXPECT_EQ(counter, 40000) << "kind " << kind;
  }
}

// Waiters count themselves under the mutex: counted and the mutex free, all wait.
TEST(KConditionMutex, SignalWakesOneWaiterAndBroadcastThoseWaitingThen) {
  KConditionMutex monitor;
  std::atomic<int> waiting{0}, woken{0};
  std::jthread waiters([&] {
    OnThreads(3, [&](int) {
      monitor.Lock();
      ++waiting;
      if (monitor.Wait() == 0) ++woken;
      monitor.Unlock();
    });
  });
  ASSERT_TRUE(EventuallyTrue([&] { return waiting == 3; }));
  monitor.Lock();
  EXPECT_EQ(monitor.Signal(), 0);
  monitor.Unlock();
  ASSERT_TRUE(EventuallyTrue([&] { return woken == 1; }));
  EXPECT_EQ(monitor.Broadcast(), 0);
  waiters.join();
  EXPECT_EQ(woken, 3);
  monitor.Lock();
  EXPECT_EQ(monitor.Wait(FromNow(100)), 10);  // a later waiter is not woken by it
  monitor.Unlock();
}

// Deadline on the wall clock, measure on the steady one: a generous lower bound only.
TEST(KCondition, LostSignalsTimeOutsAndDeadlinesOutOfRange) {
  KMutex mutex(0);
  KCondition cond;
  // Nobody waits: lost.
  EXPECT_EQ(cond.Signal(), 0);
  EXPECT_EQ(cond.Broadcast(), 0);
  KLockGuard guard(mutex);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(cond.Wait(mutex, FromNow(200)), 10);
  EXPECT_GE(ElapsedMs(start), 100);
  EXPECT_EQ(cond.Wait(mutex, FromNow(-50)), 5);
  EXPECT_EQ(cond.Wait(mutex, FromNow(1LL << 32)), 5);
  EXPECT_EQ(Elsewhere(mutex), 2);  // held again after each
}

}  // namespace
