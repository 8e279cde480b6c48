// KSharedFile and KSharedFileLock between real processes. The other process
// is tests/fixtures/sharedfile_probe, which checks byte ranges with fcntl.
#include "vxkernel/threads/KSharedFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>
#include <thread>

#include <unistd.h>

#include "support/debug_capture.h"
#include "threads/threads_test_util.h"

namespace {

class KSharedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps concurrent runs of this suite (several build
    // folders, say) from locking each other's files.
    fPath = ::testing::TempDir() + "vxk_sharedfile_" + std::to_string(getpid()) + "_" +
            info->name() + ".dat";
    std::ofstream(fPath, std::ios::binary) << std::string(100, 'x');
  }
  void TearDown() override {
    std::remove(fPath.c_str());
    std::remove((fPath + ".ready").c_str());
  }

  // Exit status of the probe run against fPath with args.
  int Probe(const std::string& args) {
    std::string command = std::string(VXK_SHAREDFILE_PROBE) + " '" + fPath + "' " + args;
    int status = std::system(command.c_str());
    return status == -1 ? -1 : WEXITSTATUS(status);
  }
  bool OtherCanRead(long start, long len) {
    return Probe("tryread " + std::to_string(start) + " " + std::to_string(len)) == 0;
  }
  bool OtherCanWrite(long start, long len) {
    return Probe("trywrite " + std::to_string(start) + " " + std::to_string(len)) == 0;
  }

  std::string fPath;
};

TEST_F(KSharedFileTest, SharedAndExclusiveRangesAgainstAnotherProcess) {
  KSharedFileLock lock(fPath.c_str(), "r+", kShareReadWrite);
  ASSERT_NE(lock.File().Stream(), nullptr);
  ASSERT_TRUE(lock.ReadLock(kSeekBegin, 10, 20));  // bytes 10..29
  EXPECT_TRUE(OtherCanRead(10, 20));
  EXPECT_FALSE(OtherCanWrite(29, 1));
  EXPECT_TRUE(OtherCanWrite(30, 5));
  ASSERT_TRUE(lock.Unlock(kSeekBegin, 10, 20));
  EXPECT_TRUE(OtherCanWrite(10, 20));

  ASSERT_TRUE(lock.Writer().TryLock(kSeekBegin, 10, 20));
  EXPECT_FALSE(OtherCanRead(15, 1));
  EXPECT_FALSE(OtherCanWrite(10, 1));
  ASSERT_TRUE(lock.Writer().Unlock(kSeekBegin, 10, 20));
  EXPECT_TRUE(OtherCanRead(15, 1));
}

TEST_F(KSharedFileTest, TryFailsWhileAnotherProcessHoldsAndWaitEndsAtItsRelease) {
  const std::string ready = fPath + ".ready";
  std::string command =
      std::string(VXK_SHAREDFILE_PROBE) + " '" + fPath + "' holdwrite 0 50 30000 '" + ready + "' &";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ASSERT_TRUE(EventuallyTrue([&] { return std::ifstream(ready).good(); }));

  KSharedFileLock lock(fPath.c_str(), "r+", kShareReadWrite);
  EXPECT_FALSE(lock.TryWriteLock(kSeekBegin, 20, 5));
  EXPECT_FALSE(lock.Reader().TryLock(kSeekBegin, 20, 5));
  EXPECT_TRUE(lock.TryWriteLock(kSeekBegin, 60, 5));  // outside its range
  EXPECT_TRUE(lock.Unlock(kSeekBegin, 60, 5));
  // Blocks until the other process lets its lock go (it exits on release).
  std::atomic<bool> got{false};
  std::thread waiter([&] { got = lock.WriteLock(kSeekBegin, 20, 5); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(got.load());
  std::ofstream(ready + ".release").put('x');
  waiter.join();
  EXPECT_TRUE(got.load());
  EXPECT_TRUE(lock.Unlock(kSeekBegin, 20, 5));
  std::remove((ready + ".release").c_str());
}

TEST_F(KSharedFileTest, TwoOpensInOneProcessExcludeEachOther) {
  KSharedFileLock first(fPath.c_str(), "r+", kShareReadWrite);
  KSharedFileLock second(fPath.c_str(), "r+", kShareReadWrite);
  ASSERT_TRUE(first.ReadLock(kSeekBegin, 1, 10));
  EXPECT_TRUE(second.TryReadLock(kSeekBegin, 1, 10));
  EXPECT_FALSE(second.TryWriteLock(kSeekBegin, 1, 10));
  EXPECT_TRUE(second.Unlock(kSeekBegin, 1, 10));
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    got = second.WriteLock(kSeekBegin, 5, 2);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(got.load());
  ASSERT_TRUE(first.Unlock(kSeekBegin, 1, 10));
  waiter.join();
  EXPECT_TRUE(got.load());
}

TEST_F(KSharedFileTest, RangeOriginRules) {
  KSharedFileLock lock(fPath.c_str(), "r+", kShareReadWrite);
  // From the end: 100 + 5 = byte 105; the stream moves to the end.
  ASSERT_TRUE(lock.WriteLock(kSeekEnd, 5, 10));
  EXPECT_EQ(std::ftell(lock.File().Stream()), 100);
  EXPECT_FALSE(OtherCanWrite(105, 1));
  EXPECT_TRUE(OtherCanWrite(104, 1));
  ASSERT_TRUE(lock.Unlock(kSeekEnd, 5, 10));
  // Offset 0 starts at byte 0 whatever the origin.
  ASSERT_TRUE(lock.WriteLock(kSeekEnd, 0, 3));
  EXPECT_FALSE(OtherCanWrite(0, 1));
  EXPECT_TRUE(OtherCanWrite(3, 1));
  ASSERT_TRUE(lock.Unlock(kSeekEnd, 0, 3));
  // The current position as origin also starts at byte 0.
  std::fseek(lock.File().Stream(), 40, SEEK_SET);
  ASSERT_TRUE(lock.WriteLock(kSeekCurrent, 50, 2));
  EXPECT_FALSE(OtherCanWrite(1, 1));
  EXPECT_TRUE(OtherCanWrite(50, 1));
  ASSERT_TRUE(lock.Unlock(kSeekCurrent, 50, 2));
  // The length is taken modulo 2^32; zero bytes and bad origins fail.
  ASSERT_TRUE(lock.WriteLock(kSeekBegin, 10, 0x100000002L));
  EXPECT_FALSE(OtherCanWrite(11, 1));
  EXPECT_TRUE(OtherCanWrite(12, 1));
  ASSERT_TRUE(lock.Unlock(kSeekBegin, 10, 0x100000002L));
  EXPECT_FALSE(lock.WriteLock(kSeekBegin, 10, 0));
  EXPECT_FALSE(lock.WriteLock(static_cast<KSeekMode>(7), 10, 1));
  EXPECT_FALSE(lock.WriteLock(kSeekBegin, -200, 1));
}

TEST_F(KSharedFileTest, SharingModesBetweenProcesses) {
  DebugCapture capture;
  std::FILE* reader = KSharedFile::Open(fPath.c_str(), "r", kShareRead);  // others may only read
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(Probe("open r 3"), 0);
  EXPECT_EQ(Probe("open r+ 3"), 1);  // wants to write: denied
  EXPECT_EQ(Probe("open a 3"), 1);
  EXPECT_EQ(Probe("open r 2"), 1);  // would deny our read access
  std::fclose(reader);
  EXPECT_EQ(Probe("open r+ 0"), 0);  // the rule ends with the close

  std::FILE* exclusive = KSharedFile::Open(fPath.c_str(), "r+", kShareNone);
  ASSERT_NE(exclusive, nullptr);
  EXPECT_EQ(Probe("open r 3"), 1);
  EXPECT_EQ(KSharedFile::Open(fPath.c_str(), "r", kShareReadWrite), nullptr);  // same process too
  // A refused "w" open leaves the contents alone.
  EXPECT_EQ(KSharedFile::Open(fPath.c_str(), "w", kShareReadWrite), nullptr);
  EXPECT_EQ(std::ifstream(fPath, std::ios::binary | std::ios::ate).tellg(), 100);
  EXPECT_NE(capture.All().find("KSharedFile::Open - sharing violation"), std::string::npos);
  std::fclose(exclusive);

  // Write-only modes take part in the rule as well.
  std::FILE* writer = KSharedFile::Open(fPath.c_str(), "a", kShareRead);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(Probe("open r 3"), 0);
  EXPECT_EQ(Probe("open a 3"), 1);
  EXPECT_EQ(KSharedFile::Open(fPath.c_str(), "w", kShareReadWrite), nullptr);
  std::fclose(writer);

  EXPECT_EQ(KSharedFile::Open((fPath + ".missing/x").c_str(), "r", kShareReadWrite), nullptr);
  EXPECT_NE(capture.All().find("KSharedFile::Open - could not open file"), std::string::npos);
}

TEST_F(KSharedFileTest, StreamWrappersAndGuards) {
  {
    KSharedFile file(fPath.c_str(), "r+", kShareReadWrite);
    ASSERT_NE(file.Stream(), nullptr);
    EXPECT_GE(file._Handle(), 0);
    file.Out() << "hello " << 42;
    file.Out().flush();
    std::fseek(file.Stream(), 0, SEEK_SET);
    std::string word;
    int number = 0;
    file.In() >> word >> number;
    EXPECT_EQ(word, "hello");
    EXPECT_EQ(number, 42);
  }
  KSharedFile none(nullptr, false);
  EXPECT_EQ(none._Handle(), -1);

  std::FILE* stream = KSharedFile::Open(fPath.c_str(), "r+", kShareReadWrite);
  ASSERT_NE(stream, nullptr);
  {
    KSharedFileWriteLockGuard guard(stream, kSeekBegin, 1, 4);
    EXPECT_TRUE(guard.Locked());
    EXPECT_FALSE(OtherCanRead(2, 1));
    KSharedFileReadLockGuard other(fPath.c_str(), "r", kShareReadWrite, kSeekBegin, 60, 4);
    EXPECT_TRUE(other.Locked());
    EXPECT_FALSE(OtherCanWrite(61, 1));
  }
  EXPECT_TRUE(OtherCanWrite(2, 1));
  EXPECT_TRUE(OtherCanWrite(61, 1));
  std::fclose(stream);  // the guard did not own it
}

}  // namespace
