// KRWLock: writer preference, try codes, unlock of a free lock, guards.
#include "vxkernel/threads/KRWLock.h"

#include <gtest/gtest.h>

#include <vector>

#include "threads/KRWLock_internal.h"
#include "threads/threads_test_util.h"

namespace {

using Peer = KRWLockInternal;

void Play(const std::string& scenario) {
  KRWLock lock;
  PlayScenario(
      scenario, [&](bool write) { return write ? lock.WriteLock() : lock.ReadLock(); },
      [&](bool) { lock.Unlock(); }, [&] { return Peer::Waiting(lock); });
}

// Each step's code or the lock's state, in order (braced lists evaluate left to right).
TEST(KRWLock, TryCodesAndUnlockOfAFreeLock) {
  KRWLock lock;
  constexpr long kFree = KMutex::kNotLocked, kBusy = KMutex::kBusy;
  const std::vector<long> steps{
      lock.Unlock(),       lock.TryReadLock(), lock.Reader().TryLock(), Peer::State(lock),
      lock.TryWriteLock(), lock.Unlock(),      lock.Reader().Unlock(),  lock.Writer().TryLock(),
      Peer::State(lock),   lock.TryReadLock(), lock.Writer().TryLock(), lock.Writer().Unlock(),
      lock.Unlock()};
  EXPECT_EQ(steps, (std::vector<long>{kFree, 0, 0, 2, kBusy, 0, 0, 0, -1, kBusy, kBusy, 0, kFree}));
}

TEST(KRWLock, WritersGoFirst) {
  Play("r1+ w1? r2? r1- w1! r2. w1- r2!");  // a waiting writer holds new readers off
  Play("w1+ r1? w2? w1- w2! r1. w2- r1!");  // a leaving holder wakes a writer first
}

// A writer adds 1 twice: readers never see the odd middle, and no write is lost.
TEST(KRWLock, GuardsAndFacetsUnderLoad) {
  KRWLock lock;
  std::atomic<long> value{0}, bad{0};
  long writes = 0;
  OnThreads(4, [&](int t) {
    for (int i = 0; i < 3000; ++i) {
      if ((i + t) % 4 != 0) {
        KRLock_var guard(lock);
        bad += value % 2;
      } else if (i % 3 == 0) {
        KWLock_var guard(lock);
        ++value, ++writes, ++value;
      } else if (lock.Writer().Lock() == 0) {  // a failure shows in the count
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
