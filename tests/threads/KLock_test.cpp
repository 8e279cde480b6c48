// KLock of every kind: exclusion, time-outs and the preference rules.
#include "vxkernel/threads/KLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "threads/KLock_internal.h"
#include "threads/threads_test_util.h"

namespace {

constexpr unsigned long kForever = KLock::kInfinite;

KLockCounts Counts(KLock& lock) { return KLockTestPeer::Impl(lock)->Counts(); }

// A thread that takes the lock with the given type, reports that it holds
// it, and releases it when told to.
class Holder {
 public:
  Holder(KLock& lock, KLock::Type type) : fLock(lock), fType(type) {
    fThread = std::thread([this] {
      fLock.Lock(fType, kForever);
      fIn = true;
      while (!fRelease) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      fLock.Unlock(fType);
      fOut = true;
    });
  }
  ~Holder() {
    Release();
    fThread.join();
  }
  bool In() const { return fIn; }
  void Release() { fRelease = true; }
  bool Out() const { return fOut; }

 private:
  KLock& fLock;
  KLock::Type fType;
  std::atomic<bool> fIn{false};
  std::atomic<bool> fRelease{false};
  std::atomic<bool> fOut{false};
  std::thread fThread;
};

// Runs readers and writers against lock and checks that a writer is always
// alone: the shared state is a reader count and a writer flag, checked
// under the lock.
void CheckExclusion(KLock& lock, bool shared) {
  std::atomic<int> readers{0};
  std::atomic<int> writers{0};
  std::atomic<int> violations{0};
  long plain = 0;  // written only under the write lock
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        bool write = !shared || (i + t) % 5 == 0;
        KLock::Type type = write ? KLock::kWrite : KLock::kRead;
        ASSERT_TRUE(lock.Lock(type, kForever));
        if (write) {
          if (writers.fetch_add(1) != 0 || readers.load() != 0) ++violations;
          ++plain;
          writers.fetch_sub(1);
        } else {
          readers.fetch_add(1);
          if (writers.load() != 0) ++violations;
          readers.fetch_sub(1);
        }
        lock.Unlock(type);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(violations.load(), 0);
  EXPECT_GT(plain, 0);
}

TEST(KLock, EveryKindExcludesWriters) {
  KLock critical(KLock::kCriticalSection);
  CheckExclusion(critical, false);
  KLock swmr(KLock::kSWMR);
  CheckExclusion(swmr, true);
  KLock fair(KLock::kSWMRNoStarvation);
  CheckExclusion(fair, true);
}

TEST(KLock, CriticalSectionIsReentrantAndIgnoresTypeAndTimeout) {
  KLock lock(KLock::kCriticalSection);
  ASSERT_TRUE(lock.Lock(KLock::kRead, 0));
  ASSERT_TRUE(lock.Lock(KLock::kWrite, 0));  // same thread: enters again
  std::atomic<bool> entered{false};
  std::thread other([&] {
    lock.Lock(KLock::kRead, 0);  // even a read waits: it is exclusive
    entered = true;
    lock.Unlock(KLock::kRead);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(entered.load());
  lock.Unlock(KLock::kWrite);
  EXPECT_FALSE(entered.load());
  lock.Unlock(KLock::kRead);
  other.join();
  EXPECT_TRUE(entered.load());
}

TEST(KLock, UnknownKindDoesNoLocking) {
  KLock lock(static_cast<KLock::Kind>(7));
  EXPECT_TRUE(lock.Lock(KLock::kWrite, kForever));
  bool other = false;
  std::thread([&] { other = lock.Lock(KLock::kWrite, kForever); }).join();
  EXPECT_TRUE(other);
  lock.Unlock(KLock::kWrite);
  lock.Unlock(KLock::kWrite);
}

TEST(KLock, SwmrKindsRefuseAnUnknownType) {
  KLock swmr(KLock::kSWMR);
  KLock fair(KLock::kSWMRNoStarvation);
  EXPECT_FALSE(swmr.Lock(static_cast<KLock::Type>(3), kForever));
  EXPECT_FALSE(fair.Lock(static_cast<KLock::Type>(3), kForever));
  // Nothing was taken: a writer gets in at once.
  EXPECT_TRUE(swmr.Lock(KLock::kWrite, 0));
  swmr.Unlock(KLock::kWrite);
}

TEST(KLockSWMR, ReadersMayStarveAWaitingWriter) {
  KLock lock(KLock::kSWMR);
  Holder first(lock, KLock::kRead);
  ASSERT_TRUE(EventuallyTrue([&] { return first.In(); }));
  Holder writer(lock, KLock::kWrite);
  ASSERT_TRUE(EventuallyTrue([&] { return Counts(lock).fWaitingWriters == 1; }));
  // A new reader passes the waiting writer.
  Holder second(lock, KLock::kRead);
  ASSERT_TRUE(EventuallyTrue([&] { return second.In(); }));
  first.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return first.Out(); }));
  EXPECT_FALSE(writer.In());  // the second reader still keeps it out
  second.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return writer.In(); }));
}

TEST(KLockSWMR, WriterHoldsReadersOffAndTimeoutsExpire) {
  KLock lock(KLock::kSWMR);
  Holder writer(lock, KLock::kWrite);
  ASSERT_TRUE(EventuallyTrue([&] { return writer.In(); }));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(lock.Lock(KLock::kRead, 100));
  EXPECT_GE(ElapsedMs(start), 90);
  EXPECT_FALSE(lock.Lock(KLock::kWrite, 0));
  writer.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return writer.Out(); }));
  EXPECT_TRUE(lock.Lock(KLock::kRead, 0));
  // A reader inside: a writer times out.
  unsigned char got = 1;
  std::thread([&] { got = lock.Lock(KLock::kWrite, 50); }).join();
  EXPECT_FALSE(got);
  lock.Unlock(KLock::kRead);
  EXPECT_TRUE(lock.Lock(KLock::kWrite, 0));
  EXPECT_TRUE(lock.Lock(KLock::kWrite, 0));  // the writer may enter again
  lock.Unlock(KLock::kWrite);
  lock.Unlock(KLock::kWrite);
  EXPECT_EQ(Counts(lock).fWaitingReaders, 0);
}

TEST(KLockSWMRNoStarvation, WaitingWriterGoesBeforeALaterReader) {
  KLock lock(KLock::kSWMRNoStarvation);
  Holder r1(lock, KLock::kRead);
  Holder r2(lock, KLock::kRead);
  ASSERT_TRUE(EventuallyTrue([&] { return r1.In() && r2.In(); }));
  Holder writer(lock, KLock::kWrite);
  ASSERT_TRUE(EventuallyTrue([&] { return Counts(lock).fWaitingWriters == 1; }));
  Holder r3(lock, KLock::kRead);
  ASSERT_TRUE(EventuallyTrue([&] { return Counts(lock).fWaitingReaders == 1; }));
  EXPECT_FALSE(r3.In());

  r1.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return r1.Out(); }));
  EXPECT_FALSE(writer.In());
  r2.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return writer.In(); }));
  EXPECT_TRUE(Counts(lock).fWriterActive);
  EXPECT_EQ(Counts(lock).fWaitingReaders, 1);
  EXPECT_FALSE(r3.In());

  writer.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return r3.In(); }));
  EXPECT_FALSE(Counts(lock).fWriterActive);
  EXPECT_EQ(Counts(lock).fActiveReaders, 1);
}

TEST(KLockSWMRNoStarvation, LeavingWriterPrefersAllWaitingReaders) {
  KLock lock(KLock::kSWMRNoStarvation);
  Holder w1(lock, KLock::kWrite);
  ASSERT_TRUE(EventuallyTrue([&] { return w1.In(); }));
  Holder r1(lock, KLock::kRead);
  Holder r2(lock, KLock::kRead);
  ASSERT_TRUE(EventuallyTrue([&] { return Counts(lock).fWaitingReaders == 2; }));
  Holder w2(lock, KLock::kWrite);
  ASSERT_TRUE(EventuallyTrue([&] { return Counts(lock).fWaitingWriters == 1; }));
  w1.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return r1.In() && r2.In(); }));
  EXPECT_FALSE(w2.In());
  r1.Release();
  r2.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return w2.In(); }));
}

}  // namespace
