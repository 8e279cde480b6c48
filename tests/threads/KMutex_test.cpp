// KMutex, KMutexGuard, KCondition and KConditionMutex.
#include "vxkernel/threads/KMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "threads/threads_test_util.h"
#include "vxkernel/threads/KCondition.h"
#include "vxkernel/threads/KTimestamp.h"

class KConditionTestPeer {
 public:
  static long Waiters(const KCondition& c) { return c.fWaiters.load(); }
};

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kUnderThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kUnderThreadSanitizer = true;
#else
constexpr bool kUnderThreadSanitizer = false;
#endif
#else
constexpr bool kUnderThreadSanitizer = false;
#endif

// The result of TryLock on m from another thread.
long TryLockElsewhere(const KMutex& m) {
  long rc = -1;
  std::thread([&] {
    rc = m.TryLock();
    if (rc == 0) m.Unlock();
  }).join();
  return rc;
}

KTimestamp InMs(long ms) {
  KTimestamp t;
  t._Milliseconds() += ms;
  return t;
}

TEST(KMutex, KindsAndTryLockCodes) {
  KMutex object(0);
  EXPECT_EQ(object._Critical(), nullptr);
  EXPECT_NE(object._Handle(), nullptr);
  EXPECT_EQ(object.TryLock(), 0);
  EXPECT_EQ(TryLockElsewhere(object), 2);
  EXPECT_EQ(object.TryLock(), 0);  // the owner may re-enter
  EXPECT_EQ(object.Unlock(), 0);
  EXPECT_EQ(object.Unlock(), 0);
  EXPECT_EQ(TryLockElsewhere(object), 0);

  KMutex critical;  // default argument 4: the critical-section kind
  EXPECT_NE(critical._Critical(), nullptr);
  EXPECT_EQ(critical._Handle(), nullptr);
  EXPECT_EQ(critical.TryLock(), 6);
  EXPECT_EQ(KMutex(-3).TryLock(), 6);  // any non-zero kind is a critical section
}

TEST(KMutex, UnlockByNonOwnerOfMutexObjectIsRefused) {
  if (kUnderThreadSanitizer) GTEST_SKIP() << "the sanitizer reports the deliberate misuse";
  KMutex object(0);
  EXPECT_EQ(object.Unlock(), 5);
  ASSERT_EQ(object.Lock(), 0);
  long rc = -1;
  std::thread([&] { rc = object.Unlock(); }).join();
  EXPECT_EQ(rc, 5);
  EXPECT_EQ(object.Unlock(), 0);
}

TEST(KMutex, GuardExcludesOtherThreads) {
  for (int kind : {0, 1}) {
    KMutex m(kind);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < 10000; ++i) {
          KMutexGuard guard(m);
          KMutexGuard nested(m);  // re-entrant
          ++counter;
        }
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 40000) << "kind " << kind;
  }
}

class KConditionTest : public ::testing::Test {
 protected:
  // Starts n threads that each wait once on fCond and then count a wake-up.
  void StartWaiters(int n) {
    for (int i = 0; i < n; ++i) {
      fThreads.emplace_back([this] {
        fMutex.Lock();
        if (fCond.Wait(fMutex) == 0) ++fWoken;
        fMutex.Unlock();
      });
    }
    ASSERT_TRUE(EventuallyTrue([&] { return KConditionTestPeer::Waiters(fCond) == static_cast<long>(fThreads.size()); }));
  }
  void JoinAll() {
    for (auto& t : fThreads) t.join();
    fThreads.clear();
  }

  KMutex fMutex{0};
  KCondition fCond;
  std::atomic<int> fWoken{0};
  std::vector<std::thread> fThreads;
};

TEST_F(KConditionTest, SignalWithoutWaiterIsLost) {
  EXPECT_EQ(fCond.Signal(), 0);
  EXPECT_EQ(fCond.Broadcast(), 0);
  ASSERT_EQ(fMutex.Lock(), 0);
  EXPECT_EQ(fCond.Wait(fMutex, InMs(150)), 10);
  // The mutex is held again after the time-out.
  EXPECT_EQ(TryLockElsewhere(fMutex), 2);
  fMutex.Unlock();
}

TEST_F(KConditionTest, SignalWakesOneWaiter) {
  StartWaiters(2);
  fMutex.Lock();
  EXPECT_EQ(fCond.Signal(), 0);
  fMutex.Unlock();
  ASSERT_TRUE(EventuallyTrue([&] { return fWoken.load() == 1; }));
  EXPECT_EQ(KConditionTestPeer::Waiters(fCond), 1);
  fMutex.Lock();
  fCond.Signal();
  fMutex.Unlock();
  JoinAll();
  EXPECT_EQ(fWoken.load(), 2);
}

TEST_F(KConditionTest, BroadcastWakesExactlyThePresentWaiters) {
  StartWaiters(3);
  fMutex.Lock();  // the broadcaster may hold the mutex
  EXPECT_EQ(fCond.Broadcast(), 0);
  fMutex.Unlock();
  JoinAll();
  EXPECT_EQ(fWoken.load(), 3);
  // A later waiter is not woken by the earlier broadcast.
  fMutex.Lock();
  EXPECT_EQ(fCond.Wait(fMutex, InMs(150)), 10);
  fMutex.Unlock();
}

TEST_F(KConditionTest, DeadlineOutOfRangeReturnsAtOnceHoldingTheMutex) {
  fMutex.Lock();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fCond.Wait(fMutex, InMs(-50)), 5);
  KTimestamp far = KTimestamp::Now();
  far._Milliseconds() += 4294967295LL;
  EXPECT_EQ(fCond.Wait(fMutex, far), 5);
  EXPECT_LT(ElapsedMs(start), 1000);
  EXPECT_EQ(TryLockElsewhere(fMutex), 2);
  fMutex.Unlock();
}

TEST_F(KConditionTest, TimedWaitLastsUntilTheDeadline) {
  fMutex.Lock();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fCond.Wait(fMutex, InMs(200)), 10);
  EXPECT_GE(ElapsedMs(start), 150);  // wall and monotonic clocks may differ slightly
  fMutex.Unlock();
}

TEST(KConditionMutex, ProducerConsumer) {
  KConditionMutex monitor;
  int queued = 0;
  int consumed = 0;
  std::thread consumer([&] {
    monitor.Lock();
    while (consumed < 1000) {
      while (queued == 0) monitor.Wait();
      --queued;
      ++consumed;
    }
    monitor.Unlock();
  });
  for (int i = 0; i < 1000; ++i) {
    monitor.Lock();
    ++queued;
    monitor.Signal();
    monitor.Unlock();
  }
  consumer.join();
  EXPECT_EQ(consumed, 1000);
  monitor.Lock();
  EXPECT_EQ(monitor.Wait(InMs(20)), 10);
  monitor.Unlock();
}

}  // namespace
