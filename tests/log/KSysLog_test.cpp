// The log against its file format, a follower model and other processes.
#include "vxkernel/log/KSysLog.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log/KSysLog_internal.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/temp_dir.h"
#include "vxkernel/runtime/dbgstrm.h"
#include "vxkernel/threads/KTimestamp.h"

namespace {

// Waits that only a writer or Shutdown should end are bounded by this
// watchdog, far above any real wait, so that a missed wake-up fails a test
// instead of hanging it.
constexpr long kWatchdogMs = 60000;

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
  auto log = KSysLogInternal::New();
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
  ASSERT_EQ(log->ReadWithTimeout(again, KSysLog_Iterator(it.Seek(), 1), 1, 0).Entry(), 2);
  EXPECT_EQ(again[0].SequenceNumber(), 1);
}

// A routine gets every Append (owned texts included) and nothing reaches
// the file until it writes them back; refused owned texts are the
// routine's to free (ASan's leak check sees a double or missing delete).
TEST(KSysLog, AppendGoesThroughTheRoutine) {
  struct Queue : KSysLog_AsychBufferRoutine {
    std::vector<std::pair<std::string, std::string>> held;
    unsigned char Enqueue(const char* sender, const char* message, unsigned char owned) override {
      const bool accept = std::string(message) != "refuse";
      if (accept) held.emplace_back(sender, message);
      if (owned) {
        delete[] sender;
        delete[] message;
      }
      return accept;
    }
  };
  TempDir dir;
  auto log = KSysLogInternal::New();
  auto* queue = new Queue;
  ASSERT_TRUE(log->Create((dir / "sys.log").c_str(), queue));
  auto dup = [](const char* t) { return std::strcpy(new char[std::strlen(t) + 1], t); };
  EXPECT_TRUE(log->Append("a", "first", false));
  EXPECT_TRUE(log->Append(dup("b"), dup("second"), true));
  EXPECT_FALSE(log->Append(dup("c"), dup("refuse"), true));
  EXPECT_EQ(dir.Read(dir / "sys.log"), "");
  for (auto& [sender, message] : queue->held) ASSERT_TRUE(log->_Append_atomic(sender.c_str(), message.c_str(), true));
  KSysLog_EntryList list;
  log->Head(list, 10);
  ASSERT_EQ(list.Size(), 2);
  EXPECT_EQ(std::string(static_cast<const char*>(list[1].Sender())), "b");
  EXPECT_EQ(Join(list[1]), "second");
}

// What would break the format: a sender's tabs and line ends become
// blanks; a message line that begins like a header (after any blanks) gets
// one blank more in the file and loses it again on reading, so the message
// comes back whole, and the next entry is found, also from an offset that
// points into the middle of that line.
TEST(KSysLog, SendersAndMessageLinesThatLookLikeHeaders) {
  TempDir dir;
  auto log = KSysLogInternal::New();
  ASSERT_TRUE(log->Create((dir / "sys.log").c_str(), nullptr));
  const std::string message = "^{ x\n^{ 1\ta\tb }\tfake\n ^{ y\n^{\n";
  ASSERT_TRUE(log->Append("a\tb\nc\rd", message.c_str(), false));
  ASSERT_TRUE(log->Append("next", "y\n", false));
  const std::string file = dir.Read(dir / "sys.log");
  EXPECT_NE(file.find("\ta b c d }\t^{ x\n ^{ 1\ta\tb }\tfake\n  ^{ y\n^{\n^{ 1\t"),
            std::string::npos);
  KSysLog_EntryList list;
  log->ReadWithTimeout(list, log->Begin(), 10, 0);
  ASSERT_EQ(list.Size(), 2);
  EXPECT_EQ(std::string(static_cast<const char*>(list[0].Sender())), "a b c d");
  EXPECT_EQ(Join(list[0]), message);
  EXPECT_EQ(list[1].SequenceNumber(), 1);
  KSysLog_EntryList next;
  const long inside = static_cast<long>(file.find("^{ 1\ta"));
  log->ReadWithTimeout(next, KSysLog_Iterator(inside, 1), 1, 0);
  ASSERT_EQ(next.Size(), 1);
  EXPECT_EQ(std::string(static_cast<const char*>(next[0].Sender())), "next");
}

// Writes cut short by a full disk (the file size limit here) use up their
// numbers; a torn header is still followed by a line end. A follower reading
// one entry at a time moves past the gaps and the torn header in one read
// each.
TEST(KSysLog, FollowerMovesPastFailedWrites) {
  TempDir dir;
  const std::string out = ChildTranscript([&](Transcript& t) {
    signal(SIGXFSZ, SIG_IGN);
    auto log = KSysLogInternal::New();
    if (!log->Create((dir / "sys.log").c_str(), nullptr)) return t.Line("no log");
    auto append = [&](const char* message, long room) {
      const rlim_t size = static_cast<rlim_t>(log->End().Seek() + room);
      const rlimit lim{room < 0 ? RLIM_INFINITY : size, RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &lim);
      t.Line(int(log->Append("s", message, false)));
    };
    append("first\n", -1);
    append("lost\n", 0);
    append("torn\n", 10);
    append("after\n", -1);
    append("lost at the end\n", 0);
    KSysLog_EntryList list;
    int reads = 0;
    for (KSysLog_Iterator at = log->Begin(); at != log->End() && reads < 10; ++reads) {
      at = log->ReadWithTimeout(list, at, 1, 0);
    }
    t.Line(reads, " reads");
    for (long i = 0; i < list.Size(); ++i) t.Line(list[i].SequenceNumber(), " ", Join(list[i]));
  });
  EXPECT_EQ(out, "1\n0\n0\n1\n0\n3 reads\n0 first\n\n3 after\n\n");
}

// Writers and followers: each follower reads the file in order and must see
// the numbers 0, 1, 2... (file order is sequence order) and each writer's
// entries once, in its order (nothing lost or repeated).
TEST(KSysLog, WritersAndFollowers) {
  constexpr int kWriters = 8, kPerWriter = 10000, kFollowers = 4;
  constexpr long kTotal = long{kWriters} * kPerWriter;
  TempDir dir;
  auto log = KSysLogInternal::New();
  ASSERT_TRUE(log->Create((dir / "sys.log").c_str(), nullptr));
  std::vector<std::thread> threads;
  const KSysLog_Iterator start = log->End();
  for (int f = 0; f < kFollowers; ++f) {
    threads.emplace_back([&] {
      KSysLog_Iterator at = start;
      std::vector<int> last(kWriters, -1);
      while (at.Entry() < kTotal) {
        KSysLog_EntryList list;
        KSysLog_Iterator after = log->ReadWithTimeout(list, at, 1000, kWatchdogMs);
        ASSERT_GT(list.Size(), 0) << "no entry within the watchdog";
        ASSERT_EQ(after.Entry(), at.Entry() + list.Size());
        for (long i = 0; i < list.Size(); ++i) {
          ASSERT_EQ(list[i].SequenceNumber(), at.Entry() + i);
          int w = 0, n = 0;
          ASSERT_EQ(std::sscanf(static_cast<const char*>(list[i][0]), "w%d n%d\n", &w, &n), 2);
          ASSERT_EQ(n, last[w] + 1) << "entry lost or repeated";
          last[w] = n;
        }
        at = after;
      }
      EXPECT_EQ(last, std::vector<int>(kWriters, kPerWriter - 1));
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
}

// Lost wake-ups: in every round an entry is appended after the follower
// noted the end and before it waits, the gap where a writer may always
// land. A follower found waiting then has slept through the append: the
// watcher counts a stall and appends again to wake it.
TEST(KSysLog, FollowerNeverSleepsThroughAnAppend) {
  constexpr long kRounds = 100;
  TempDir dir;
  auto log = KSysLogInternal::New();
  ASSERT_TRUE(log->Create((dir / "sys.log").c_str(), nullptr));
  std::atomic<long> round{0};
  std::thread follower([&] {
    KSysLog_Iterator at = log->End();
    for (; round < kRounds; ++round) {
      const KSysLog_Iterator end = log->End();
      EXPECT_TRUE(log->Append("w", "in the gap\n", false));
      KSysLog_EntryList list;
      at = KSysLogInternal::ReadFromEnd(*log, list, at, end, kWatchdogMs);
      EXPECT_GE(list.Size(), 1);
    }
  });
  long stalls = 0;
  for (long r; (r = round) < kRounds; std::this_thread::yield()) {
    if (KSysLogInternal::Waiters(*log) == 0) continue;
    ++stalls;
    log->Append("watcher", "wake up\n", false);
    while (round == r) std::this_thread::yield();
  }
  follower.join();
  EXPECT_EQ(stalls, 0);
}

TEST(KSysLog, TimeoutAndShutdownWakeWaiters) {
  TempDir dir;
  auto log = KSysLogInternal::New();
  ASSERT_TRUE(log->Create((dir / "sys.log").c_str(), nullptr));
  KSysLog_EntryList list;
  const KSysLog_Iterator end = log->End();
  EXPECT_EQ(log->ReadWithTimeout(list, end, 5, 20).Entry(), end.Entry());
  EXPECT_EQ(list.Size(), 0);
  std::vector<std::thread> waiters;
  std::atomic<int> returned{0};
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      KSysLog_EntryList mine;
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(log->ReadWithTimeout(mine, end, 5, kWatchdogMs), end);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kWatchdogMs))
          << "not woken by Shutdown";
      ++returned;
    });
  }
  while (KSysLogInternal::Waiters(*log) < 3 && returned == 0) std::this_thread::yield();
  EXPECT_EQ(returned, 0) << "a read did not wait";
  EXPECT_TRUE(log->Shutdown());
  for (auto& t : waiters) t.join();
  EXPECT_FALSE(log->Append("s", "after", false));
  EXPECT_FALSE(log->Create((dir / "other.log").c_str(), nullptr));
}

// The time stamp is the local time of the append, month first, read
// against libc's clock and calendar. The zone is chosen (far east or far
// west of UTC) so that the day differs from the month and local time from
// UTC; the append runs on a fresh thread, whose stamp cache is empty.
TEST(KSysLog, TimeStampIsTheLocalTimeMonthFirst) {
  TempDir dir;
  const std::string out = ChildTranscript([&](Transcript& t) {
    auto clock = [] {
      return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    };
    const std::time_t now = clock();
    std::tm tm{};
    for (const char* zone : {"VXK-14", "VXK+12"}) {
      setenv("TZ", zone, 1);
      tzset();
      if (localtime_r(&now, &tm) != nullptr && tm.tm_mday != tm.tm_mon + 1) break;
    }
    auto log = KSysLogInternal::New();
    if (!log->Create((dir / "sys.log").c_str(), nullptr)) return t.Line("no log");
    const std::time_t before = clock();
    std::thread([&] { log->Append("s", "m", false); }).join();
    const std::time_t after = clock();
    KSysLog_EntryList list;
    log->Head(list, 1);
    if (list.Size() != 1) return t.Line("no entry");
    const std::string stamp(list[0].TimeStamp(), list[0].TimeStamp().Length());
    for (std::time_t s = before; s <= after; ++s) {
      char text[32];
      std::strftime(text, sizeof text, "%m/%d/%Y %H:%M:%S", localtime_r(&s, &tm));
      if (stamp == text) return t.Line("match");
    }
    t.Line(stamp);
  });
  EXPECT_EQ(out, "match\n");
}

// A device takes the log as it is: nothing to truncate, no sharing rule
// that would refuse a second log on it (another process's, say), and a
// read finds nothing and moves on.
TEST(KSysLog, DeviceAsLogFile) {
  auto log = KSysLogInternal::New();
  auto other = KSysLogInternal::New();
  ASSERT_TRUE(log->Create("/dev/null", nullptr));
  EXPECT_TRUE(other->Create("/dev/null", nullptr));
  EXPECT_TRUE(log->Append("s", "m", false));
  KSysLog_EntryList list;
  EXPECT_EQ(log->ReadWithTimeout(list, log->Begin(), 5, 0), log->End());
}

// A second process cannot create a log on a held file and leaves it alone;
// it may create one elsewhere.
TEST(KSysLog, HeldFileRefusedInAnotherProcess) {
  TempDir dir;
  const std::string path = dir / "sys.log";
  auto log = KSysLogInternal::New();
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
    long tid = 0;
    std::thread([&] { VXDropinEcho("there"), tid = syscall(SYS_gettid); }).join();
    t.Line("^{ 0\tTS\t", getpid(), " }\thello\n^{ 1\tTS\t", tid, " }\tthere");
  });
  EXPECT_EQ(std::regex_replace(dir.Read(path), std::regex("\t[0-9/: ]{19}\t"), "\tTS\t"), "\n" + out);
}

}  // namespace
