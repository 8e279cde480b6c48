// KRWLock: writer preference, try codes, unlock of a free lock, guards.
#include "vxkernel/threads/KRWLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "threads/threads_test_util.h"

class KRWLockTestPeer {
 public:
  static long WaitingWriters(KRWLock& l) {
    KMutexGuard g(l.fMutex);
    return l.fWaitingWriters;
  }
  static long WaitingReaders(KRWLock& l) {
    KMutexGuard g(l.fMutex);
    return l.fWaitingReaders;
  }
  static int State(KRWLock& l) {
    KMutexGuard g(l.fMutex);
    return l.fState;
  }
};

namespace {

using Peer = KRWLockTestPeer;

// A thread that takes the read or write lock, reports it, and releases on
// request.
class Holder {
 public:
  Holder(KRWLock& lock, bool write) {
    fThread = std::thread([this, &lock, write] {
      fResult = write ? lock.WriteLock() : lock.ReadLock();
      fIn = true;
      while (!fRelease) std::this_thread::yield();
      lock.Unlock();
      fOut = true;
    });
  }
  ~Holder() {
    fRelease = true;
    fThread.join();
  }
  bool In() const { return fIn; }
  bool Out() const { return fOut; }
  void Release() { fRelease = true; }
  long Result() const { return fResult; }

 private:
  std::atomic<bool> fIn{false}, fOut{false}, fRelease{false};
  std::atomic<long> fResult{-1};
  std::thread fThread;
};

TEST(KRWLock, TryCodesAndUnlockOfAFreeLock) {
  KRWLock lock;
  EXPECT_EQ(lock.Unlock(), 8);
  EXPECT_EQ(Peer::State(lock), 0);
  EXPECT_EQ(lock.TryReadLock(), 0);
  EXPECT_EQ(lock.TryReadLock(), 0);
  EXPECT_EQ(Peer::State(lock), 2);
  EXPECT_EQ(lock.TryWriteLock(), 2);
  EXPECT_EQ(lock.Unlock(), 0);
  EXPECT_EQ(lock.Unlock(), 0);
  EXPECT_EQ(lock.Unlock(), 8);
  EXPECT_EQ(lock.Writer().TryLock(), 0);
  EXPECT_EQ(Peer::State(lock), -1);
  EXPECT_EQ(lock.Reader().TryLock(), 2);
  EXPECT_EQ(lock.Writer().TryLock(), 2);
  EXPECT_EQ(lock.Writer().Unlock(), 0);
  EXPECT_EQ(Peer::State(lock), 0);
}

TEST(KRWLock, WaitingWriterHoldsNewReadersOff) {
  KRWLock lock;
  Holder reader(lock, false);
  ASSERT_TRUE(EventuallyTrue([&] { return reader.In(); }));
  Holder writer(lock, true);
  ASSERT_TRUE(EventuallyTrue([&] { return Peer::WaitingWriters(lock) == 1; }));
  EXPECT_EQ(lock.TryReadLock(), 2);
  Holder late(lock, false);
  ASSERT_TRUE(EventuallyTrue([&] { return Peer::WaitingReaders(lock) == 1; }));

  reader.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return writer.In(); }));
  EXPECT_EQ(writer.Result(), 0);
  EXPECT_FALSE(late.In());
  EXPECT_EQ(Peer::State(lock), -1);

  writer.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return late.In(); }));
  EXPECT_EQ(Peer::State(lock), 1);
}

TEST(KRWLock, LeavingHolderWakesAWriterBeforeReaders) {
  KRWLock lock;
  Holder w1(lock, true);
  ASSERT_TRUE(EventuallyTrue([&] { return w1.In(); }));
  Holder r1(lock, false);
  ASSERT_TRUE(EventuallyTrue([&] { return Peer::WaitingReaders(lock) == 1; }));
  Holder w2(lock, true);
  ASSERT_TRUE(EventuallyTrue([&] { return Peer::WaitingWriters(lock) == 1; }));
  w1.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return w2.In(); }));
  EXPECT_FALSE(r1.In());
  w2.Release();
  ASSERT_TRUE(EventuallyTrue([&] { return r1.In(); }));
}

TEST(KRWLock, GuardsAndFacetsUnderLoad) {
  KRWLock lock;
  long value = 0;
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      KReadLock reader(lock);
      KWriteLock writer(lock.Writer());
      for (int i = 0; i < 3000; ++i) {
        if ((i + t) % 4 == 0) {
          KWLock_var guard(lock);
          value += 2;
        } else if (i % 7 == 0) {
          ASSERT_EQ(writer.Lock(), 0);
          value += 2;
          writer.Unlock();
        } else {
          KRLock_var guard(lock);
          if (value % 2 != 0) ++bad;
          (void)reader;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(Peer::State(lock), 0);
  EXPECT_GT(value, 0);
}

}  // namespace
