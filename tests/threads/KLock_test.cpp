// KLock of every kind: exclusion, re-entry, time-outs and the preference rules.
#include "vxkernel/threads/KLock.h"

#include <gtest/gtest.h>

#include <memory>

#include "threads/KLock_internal.h"
#include "threads/threads_test_util.h"

namespace {

constexpr unsigned long kForever = KLock::kInfinite;

long Waiting(const KLockBase& lock) {
  const KLockCounts c = lock.Counts();
  return c.fWaitingReaders + c.fWaitingWriters;
}

// On the implementation a KLock of kind forwards to, whose counters it reads.
void Play(KLock::Kind kind, const std::string& scenario) {
  std::unique_ptr<KLockBase> lock(NewKLockImpl(kind));
  ASSERT_NE(lock, nullptr);
  auto type = [](bool write) { return write ? KLock::kWrite : KLock::kRead; };
  PlayScenario(
      scenario, [&](bool write) { return lock->Lock(type(write), kForever) ? 0L : 1L; },
      [&](bool write) { lock->Unlock(type(write)); }, [&] { return Waiting(*lock); });
}

// Four threads lock 2000 times each, mostly for reading, and count who is inside: a
// writer (under a critical section every holder) must be alone. Where re-entry is
// allowed each holder first locks once more and lets go (a lost re-entry fails).
void CheckExclusion(KLock::Kind kind, bool readsShare, bool reenter, unsigned long timeout) {
  KLock lock(kind);
  std::atomic<int> readers{0}, writers{0}, violations{0};
  OnThreads(4, [&](int t) {
    for (int i = 0; i < 2000; ++i) {
      const KLock::Type type = (i + t) % 5 == 0 ? KLock::kWrite : KLock::kRead;
      const KLock::Type inner = type == KLock::kWrite && i % 2 == 0 ? KLock::kWrite : KLock::kRead;
      const bool alone = type == KLock::kWrite || !readsShare;
      ASSERT_TRUE(lock.Lock(type, timeout));
      // A failed re-entry counts, and the holder goes on: the others wait for it.
      if (reenter) violations += lock.Lock(inner, 0) ? (lock.Unlock(inner), 0) : 1;
      std::atomic<int>& mine = alone ? writers : readers;
      ++mine;
      if (writers.load() != (alone ? 1 : 0) || (alone && readers.load() != 0)) ++violations;
      --mine;
      lock.Unlock(type);
    }
  });
  EXPECT_EQ(violations.load(), 0);
}

// A critical section ignores type and time-out (0 here): every hold excludes.
TEST(KLock, EveryKindExcludesWritersAndReentersWhereAllowed) {
  CheckExclusion(KLock::kCriticalSection, /*readsShare=*/false, /*reenter=*/true, 0);
  CheckExclusion(KLock::kSWMR, true, true, kForever);
  CheckExclusion(KLock::kSWMRNoStarvation, true, false, kForever);
}

TEST(KLock, PreferenceRules) {
  Play(KLock::kSWMR, "r1+ w1? r2+ r1- w1. r2- w1!");  // a new reader passes a waiting writer
  // No starvation: a leaving writer lets the waiting readers in before the next
  // writer, and a waiting writer goes before a later reader.
  Play(KLock::kSWMRNoStarvation, "w1+ r1? r2? w2? w1- r1! r2! w2. r3? r1- w2. r2- w2! r3. w2- r3!");
}

// An unknown kind locks nothing; an unknown type takes nothing.
TEST(KLock, TimeOutsExpireBothWaysAndUnknownKindsAndTypesTakeNothing) {
  KLockSWMR lock;
  KLockSWMRNoStarvation fair;
  KLock none(static_cast<KLock::Kind>(7));
  auto elsewhere = [](auto& l, KLock::Type type, unsigned long ms) {
    bool got = true;
    OnThreads(1, [&](int) { got = l.Lock(type, ms); });
    return got;
  };
  ASSERT_TRUE(lock.Lock(KLock::kWrite, 0));
  ASSERT_TRUE(none.Lock(KLock::kWrite, kForever));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(elsewhere(lock, KLock::kRead, 100));
  EXPECT_GE(ElapsedMs(start), 90);
  EXPECT_FALSE(elsewhere(lock, KLock::kWrite, 0));
  EXPECT_TRUE(elsewhere(none, KLock::kWrite, 0));
  lock.Unlock(KLock::kWrite);
  ASSERT_TRUE(lock.Lock(KLock::kRead, 0));
  EXPECT_FALSE(elsewhere(lock, KLock::kWrite, 50));  // a reader is inside
  lock.Unlock(KLock::kRead);
  EXPECT_EQ(Waiting(lock), 0);
  for (KLockBase* l : {static_cast<KLockBase*>(&lock), static_cast<KLockBase*>(&fair)}) {
    SCOPED_TRACE(l == static_cast<KLockBase*>(&fair) ? "fair" : "swmr");
    EXPECT_FALSE(l->Lock(static_cast<KLock::Type>(3), kForever));
    EXPECT_TRUE(l->Lock(KLock::kWrite, 0));
    l->Unlock(KLock::kWrite);
  }
}

}  // namespace
