// The log against its file format, a follower model and other processes.
#include "vxkernel/log/KSysLog.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log/syslog_peer.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/temp_dir.h"
#include "vxkernel/runtime/dbgstrm.h"

namespace {

std::string Join(const KSysLog_EntryBase& e) {
  std::string s;
  for (long i = 0; i < e.Size(); ++i) s += std::string(static_cast<const char*>(e[i]), e[i].Length());
  return s;
}

// Every message shape against the bytes the format prescribes, and read
// back as the same entry: the separator rule, multi-line messages, the
// empty line before the first entry.
TEST(KSysLog, FileBytesAndReadBack) {
  TempDir dir;
  auto log = KSysLogTestPeer::New();
  ASSERT_TRUE(log->Create((dir / "sys.log").c_str(), nullptr));
  const std::vector<std::string> messages = {"one", "", "two\n", "x\ny", "x\ny\n", "last"};
  std::string expected;
  bool separator = true;
  for (const std::string& m : messages) {
    ASSERT_TRUE(log->Append("snd", m.c_str(), false));
    expected += std::string(separator ? "\n" : "") + "^{ N\tTS\tsnd }\t" + m;
    separator = m.empty() || m.back() != '\n';
  }
  const std::regex header(R"(\^\{ \d+\t\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\t)");
  EXPECT_EQ(std::regex_replace(dir.Read(dir / "sys.log"), header, "^{ N\tTS\t"), expected);

  KSysLog_EntryList list;
  KSysLog_Iterator it = log->Head(list, 100);
  EXPECT_EQ(it, log->End());
  ASSERT_EQ(list.Size(), 6);
  for (long i = 0; i < 6; ++i) {
    EXPECT_EQ(list[i].SequenceNumber(), i);
    EXPECT_EQ(std::string(static_cast<const char*>(list[i].Sender())), "snd");
    const std::string& m = messages[static_cast<size_t>(i)];
    // A message without a line end gets the one the next separator wrote.
    EXPECT_EQ(Join(list[i]), m + (i < 5 && (m.empty() || m.back() != '\n') ? "\n" : ""));
  }
  EXPECT_EQ(list[3].Size(), 2);
  KSysLog_EntryList tail;
  log->Tail(tail, 2);
  ASSERT_EQ(tail.Size(), 2);
  EXPECT_EQ(tail[0].SequenceNumber(), 4);
  // A stale offset past the entry still finds it.
  KSysLog_EntryList again;
  EXPECT_EQ(log->ReadWithTimeout(again, KSysLog_Iterator(it.Seek(), 1), 1, 0).Entry(), 2);
  EXPECT_EQ(again[0].SequenceNumber(), 1);
}

// Writers and followers against a model: the file holds the entries in
// sequence order, and each follower sees each entry exactly once, whole.
TEST(KSysLog, WritersAndFollowers) {
  constexpr int kWriters = 8, kPerWriter = 10000, kFollowers = 4;
  constexpr long kTotal = long{kWriters} * kPerWriter;
  TempDir dir;
  auto log = KSysLogTestPeer::New();
  ASSERT_TRUE(log->Create((dir / "sys.log").c_str(), nullptr));
  std::vector<std::vector<int>> seen(kFollowers);  // per follower: writer ids in read order
  std::vector<std::thread> threads;
  for (int f = 0; f < kFollowers; ++f) {
    threads.emplace_back([&, f] {
      KSysLog_Iterator at = log->End();
      long next = 0;
      std::vector<int> last(kWriters, -1);
      while (at.Entry() < kTotal) {
        KSysLog_EntryList list;
        KSysLog_Iterator after = log->Read(list, at, 1000);
        ASSERT_EQ(after.Entry(), at.Entry() + list.Size());
        for (long i = 0; i < list.Size(); ++i) {
          ASSERT_EQ(list[i].SequenceNumber(), next++);
          int w = 0, n = 0;
          ASSERT_EQ(std::sscanf(static_cast<const char*>(list[i][0]), "w%d n%d\n", &w, &n), 2);
          ASSERT_EQ(n, last[w] + 1) << "entry lost or repeated";
          last[w] = n;
          seen[f].push_back(w);
        }
        at = after;
      }
    });
  }
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int n = 0; n < kPerWriter; ++n) {
        const std::string m = "w" + std::to_string(w) + " n" + std::to_string(n) + "\n";
        ASSERT_TRUE(log->Append("t", m.c_str(), false));
      }
    });
  }
  for (auto& t : threads) t.join();
  // The file, read independently, in the order the followers saw.
  const std::string file = dir.Read(dir / "sys.log");
  std::vector<int> order;
  long expectSeq = 0;
  for (size_t p = file.find("^{ "); p != std::string::npos; p = file.find("\n^{ ", p) ) {
    long seq = -1;
    int w = -1;
    ASSERT_EQ(std::sscanf(file.c_str() + p + (file[p] == '\n'), "^{ %ld\t%*[^\t]\tt }\tw%d", &seq, &w), 2);
    EXPECT_EQ(seq, expectSeq++);
    order.push_back(w);
    ++p;
  }
  EXPECT_EQ(static_cast<long>(order.size()), kTotal);
  for (const auto& s : seen) EXPECT_EQ(s, order);
}

TEST(KSysLog, TimeoutAndShutdownWakeWaiters) {
  TempDir dir;
  auto log = KSysLogTestPeer::New();
  ASSERT_TRUE(log->Create((dir / "sys.log").c_str(), nullptr));
  KSysLog_EntryList list;
  const KSysLog_Iterator end = log->End();
  EXPECT_EQ(log->ReadWithTimeout(list, end, 5, 20).Entry(), end.Entry());
  EXPECT_EQ(list.Size(), 0);
  std::vector<std::thread> waiters;
  std::atomic<int> back{0};
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      KSysLog_EntryList mine;
      EXPECT_EQ(log->Read(mine, end, 5), end);
      ++back;
    });
  }
  // Shutdown may come before a waiter waits: it then returns at once.
  EXPECT_TRUE(log->Shutdown());
  for (auto& t : waiters) t.join();
  EXPECT_EQ(back.load(), 3);
  EXPECT_FALSE(log->Append("s", "after", false));
  EXPECT_FALSE(log->Create((dir / "other.log").c_str(), nullptr));
}

// A second process cannot create a log on a held file and leaves it alone;
// it may create one elsewhere.
TEST(KSysLog, HeldFileRefusedInAnotherProcess) {
  TempDir dir;
  const std::string path = dir / "sys.log";
  auto log = KSysLogTestPeer::New();
  ASSERT_TRUE(log->Create(path.c_str(), nullptr));
  ASSERT_TRUE(log->Append("s", "kept\n", false));
  const std::string before = dir.Read(path);
  const std::string other = dir / "other.log";
  EXPECT_EQ(ChildTranscript([&](Transcript& t) {
              DebugCapture capture;
              const int created = KSysLog::TheSysLog().Create(path.c_str(), nullptr);
              t.Line(created, " ", capture.All());
              t.Line(int(KSysLog::TheSysLog().Create(other.c_str(), nullptr)));
            }),
            "0 KSysLog::Create - the log file is held by another process: " + path + "\n\n1\n");
  EXPECT_EQ(dir.Read(path), before);
}

// The debug stream's log mode: each debug text becomes an entry whose
// sender is the kernel thread id (the process id on the main thread).
TEST(KSysLog, DebugStreamLogMode) {
  TempDir dir;
  const std::string path = dir / "debug.log";
  const std::string out = ChildTranscript([&](Transcript& t) {
    dbgstrm_set_syslog_mode(path.c_str());
    VXDropinEcho("hello");
    t.Line(getpid());
  });
  EXPECT_EQ(std::regex_replace(dir.Read(path), std::regex("\t[^\t]*\t"), "\tTS\t"),
            "\n^{ 0\tTS\t" + out.substr(0, out.size() - 1) + " }\thello\n");
}

}  // namespace
