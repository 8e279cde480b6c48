// KSharedFile and KSharedFileLock against another process (fixtures/sharedfile_probe).
#include "vxkernel/threads/KSharedFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <tuple>

#include "support/debug_capture.h"
#include "threads/threads_test_util.h"

namespace {

class KSharedFileTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(fPath, std::ios::binary) << std::string(100, 'x'); }
  void TearDown() override { std::remove(fPath.c_str()); }

  // Whether the probe, another process, gets what args ask for on fPath.
  bool Probe(const std::string& args) {
    return std::system((std::string(VXK_SHAREDFILE_PROBE) + " '" + fPath + "' " + args).c_str()) ==
           0;
  }
  bool OtherCan(const char* what, long byte) {
    return Probe(std::string(what) + " " + std::to_string(byte) + " 1");
  }
  // True while a lock request on fPath waits in the kernel (a "->" line of /proc/locks).
  bool SomeoneWaits() {
    struct stat st;
    const std::string inode = ":" + std::to_string(stat(fPath.c_str(), &st) == 0 ? st.st_ino : 0);
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
      if (line.find("->") != line.npos && line.find(inode + " ") != line.npos) return true;
    }
    return false;
  }

  // The process id keeps concurrent runs (several build folders) apart.
  const std::string fPath = ::testing::TempDir() + "vxk_sharedfile_" + std::to_string(getpid()) +
                            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

// Each case locks a range, probes a byte it holds and one outside it, and unlocks.
TEST_F(KSharedFileTest, RangesAndTheirOriginsAgainstAnotherProcess) {
  // exclusive, origin, offset, length; then where the stream is, a byte held and one free.
  const std::tuple<bool, KSeekMode, long, long, long, long, long> cases[] = {
      {false, kSeekBegin, 10, 20, 0, 29, 30},  // shared: others may read
      {true, kSeekBegin, 10, 20, 0, 10, 9},
      {true, kSeekEnd, 5, 10, 100, 105, 104},  // from the end: 100 + 5; the stream moves there
      {true, kSeekEnd, 0, 3, 100, 0, 3},       // offset 0 starts at byte 0 whatever the origin
      {true, kSeekCurrent, 50, 2, 40, 1, 50},  // so does the current position as origin
      {true, kSeekBegin, 10, 0x100000002L, 0, 11, 12},  // the length is taken modulo 2^32
  };
  KSharedFileLock lock(fPath.c_str(), "r+", kShareReadWrite);
  for (const auto& [exclusive, origin, offset, length, position, held, free] : cases) {
    SCOPED_TRACE(held);
    std::fseek(lock.File().Stream(), 40, SEEK_SET);
    ASSERT_TRUE(exclusive ? lock.Writer().TryLock(origin, offset, length)
                          : lock.Reader().Lock(origin, offset, length));
    EXPECT_EQ(std::ftell(lock.File().Stream()), position);
    EXPECT_FALSE(OtherCan("trywrite", held));
    EXPECT_NE(OtherCan("tryread", held), exclusive);
    EXPECT_TRUE(OtherCan("trywrite", free));
    ASSERT_TRUE(lock.Unlock(origin, offset, length));
    EXPECT_TRUE(OtherCan("trywrite", held));
  }
  // No bytes, no origin, before the start.
  EXPECT_FALSE(lock.WriteLock(kSeekBegin, 10, 0));
  EXPECT_FALSE(lock.WriteLock(static_cast<KSeekMode>(7), 10, 1));
  EXPECT_FALSE(lock.WriteLock(kSeekBegin, -200, 1));
}

// Locks belong to the open, not to the process; a blocked lock waits in the
// kernel until the other open lets go.
TEST_F(KSharedFileTest, TwoOpensInOneProcessExcludeAndWaitForEachOther) {
  KSharedFileLock first(fPath.c_str(), "r+", kShareReadWrite);
  KSharedFileLock second(fPath.c_str(), "r+", kShareReadWrite);
  ASSERT_TRUE(first.WriteLock(kSeekBegin, 0, 50));
  EXPECT_FALSE(second.TryWriteLock(kSeekBegin, 20, 5));
  EXPECT_FALSE(second.TryReadLock(kSeekBegin, 20, 5));
  EXPECT_TRUE(second.TryWriteLock(kSeekBegin, 60, 5));  // outside its range
  ASSERT_TRUE(first.Unlock(kSeekBegin, 0, 50));
  ASSERT_TRUE(first.ReadLock(kSeekBegin, 1, 10));
  EXPECT_TRUE(second.TryReadLock(kSeekBegin, 1, 10));
  EXPECT_TRUE(second.Unlock(kSeekBegin, 1, 10));
  bool got = false;
  std::thread waiter([&] { got = second.WriteLock(kSeekBegin, 5, 2); });
  EXPECT_TRUE(EventuallyTrue([&] { return SomeoneWaits(); }));
  EXPECT_TRUE(first.Unlock(kSeekBegin, 1, 10));
  waiter.join();
  EXPECT_TRUE(got);
}

// Our mode and share against the probe's open ("mode share"): kShareRead lets others
// only read and denies nothing we do; write-only modes count too.
TEST_F(KSharedFileTest, SharingModesBetweenProcesses) {
  using Case = std::tuple<const char*, KShareMode, const char*, bool>;  // ..., refused
  for (const auto& [mode, share, other, refused] :
       {Case{"r", kShareRead, "r 3", false}, Case{"r", kShareRead, "r+ 3", true},
        Case{"r", kShareRead, "a 3", true}, Case{"r", kShareRead, "r 2", true},
        Case{"r+", kShareNone, "r 3", true}, Case{"a", kShareRead, "r 3", false},
        Case{"a", kShareRead, "a 3", true}}) {
    std::FILE* ours = KSharedFile::Open(fPath.c_str(), mode, share);
    ASSERT_NE(ours, nullptr);
    EXPECT_EQ(Probe(std::string("open ") + other), !refused) << mode << " " << other;
    std::fclose(ours);
  }
  EXPECT_TRUE(Probe("open r+ 0"));  // the rule ends with the close
  std::FILE* exclusive = KSharedFile::Open(fPath.c_str(), "r+", kShareNone);
  ExpectDebug({"KSharedFile::Open - sharing violation: " + fPath + "\n",
               "KSharedFile::Open - could not open file: " + fPath + "/x\n"},
              [&] {
                // Refused in the same process too.
                EXPECT_EQ(KSharedFile::Open(fPath.c_str(), "w", kShareReadWrite), nullptr);
                EXPECT_EQ(KSharedFile::Open((fPath + "/x").c_str(), "r", kShareReadWrite), nullptr);
              });
  EXPECT_EQ(std::ifstream(fPath, std::ios::binary | std::ios::ate).tellg(), 100);  // not truncated
  std::fclose(exclusive);
}

TEST_F(KSharedFileTest, StreamWrappersAndGuards) {
  KSharedFile file(fPath.c_str(), "r+", kShareReadWrite);
  file.Out() << "hello " << 42 << std::flush;
  std::fseek(file.Stream(), 0, SEEK_SET);
  std::string word;
  int number = 0;
  file.In() >> word >> number;
  EXPECT_EQ(word, "hello");
  EXPECT_EQ(number, 42);
  EXPECT_EQ(KSharedFile(nullptr, false)._Handle(), -1);
  {
    KSharedFileWriteLockGuard guard(file.Stream(), kSeekBegin, 1, 4);  // does not own the stream
    KSharedFileReadLockGuard other(fPath.c_str(), "r", kShareReadWrite, kSeekBegin, 60, 4);
    EXPECT_TRUE(guard.Locked());
    EXPECT_TRUE(other.Locked());
    EXPECT_FALSE(OtherCan("tryread", 2));
    EXPECT_FALSE(OtherCan("trywrite", 61));
  }
  EXPECT_TRUE(OtherCan("trywrite", 2));
  EXPECT_TRUE(OtherCan("trywrite", 61));
  EXPECT_EQ(std::fseek(file.Stream(), 0, SEEK_SET), 0);  // still open
}

}  // namespace
