// KRWLock: writer preference, try codes, unlock of a free lock, guards.
#include "vxkernel/threads/KRWLock.h"

#include <gtest/gtest.h>

#include "threads/threads_test_util.h"

class KRWLockTestPeer {
 public:
  static long Waiting(KRWLock& l) {
    KMutexGuard g(l.fMutex);
    return l.fWaitingReaders + l.fWaitingWriters;
  }
  static int State(KRWLock& l) { return l.fState; }  // readers inside, -1 for a writer
};

namespace {

using Peer = KRWLockTestPeer;

void Play(const std::string& scenario) {
  KRWLock lock;
  PlayScenario(
      scenario, [&](bool write) { return write ? lock.WriteLock() : lock.ReadLock(); },
      [&](bool) { lock.Unlock(); }, [&] { return Peer::Waiting(lock); });
}

TEST(KRWLock, TryCodesAndUnlockOfAFreeLock) {
  KRWLock lock;
  EXPECT_EQ(lock.Unlock(), KMutex::kNotLocked);
  EXPECT_EQ(lock.TryReadLock(), 0);
  EXPECT_EQ(lock.Reader().TryLock(), 0);
  EXPECT_EQ(Peer::State(lock), 2);
  EXPECT_EQ(lock.TryWriteLock(), KMutex::kBusy);
  EXPECT_EQ(lock.Unlock(), 0);
  EXPECT_EQ(lock.Reader().Unlock(), 0);
  EXPECT_EQ(lock.Writer().TryLock(), 0);
  EXPECT_EQ(Peer::State(lock), -1);
  EXPECT_EQ(lock.TryReadLock(), KMutex::kBusy);
  EXPECT_EQ(lock.Writer().TryLock(), KMutex::kBusy);
  EXPECT_EQ(lock.Writer().Unlock(), 0);
  EXPECT_EQ(lock.Unlock(), KMutex::kNotLocked);
}

TEST(KRWLock, WritersGoFirst) {
  Play("r1+ w1? r2? r1- w1! r2. w1- r2!");  // a waiting writer holds new readers off
  Play("w1+ r1? w2? w1- w2! r1. w2- r1!");  // a leaving holder wakes a writer first
}

// A writer adds 1 twice: a reader must never see the odd middle, and no
// write may be lost (a quarter of the 4 x 3000 steps write).
TEST(KRWLock, GuardsAndFacetsUnderLoad) {
  KRWLock lock;
  std::atomic<long> value{0}, bad{0};
  long writes = 0;
  OnThreads(4, [&](int t) {
    for (int i = 0; i < 3000; ++i) {
      if ((i + t) % 4 != 0) {
        KRLock_var guard(lock);
        if (value % 2 != 0) ++bad;
      } else if (i % 3 == 0) {
        KWLock_var guard(lock);
        ++value, ++writes, ++value;
      } else {
        ASSERT_EQ(lock.Writer().Lock(), 0);
        ++value, ++writes, ++value;
        lock.Writer().Unlock();
      }
    }
  });
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(writes, 3000);
  EXPECT_EQ(Peer::State(lock), 0);
}

}  // namespace
