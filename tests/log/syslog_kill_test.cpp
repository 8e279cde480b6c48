// A writer process killed with SIGKILL at random moments keeps every entry
// whose Append returned, whole; and a reader in another process finds each
// entry in the file as soon as Append returns. Rounds come from
// VXK_SYSLOG_KILLS (default 20).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "vxkernel/log/KSysLog.h"

namespace {

// The writer stops here (and waits for its kill), so that it cannot run far
// ahead of the reports.
constexpr long kMaxEntries = 2000;

// Entry n's message: its number, then a body whose size varies a lot, so
// that kills land inside writes too.
std::string Message(long n) {
  return "m" + std::to_string(n) + " " + std::string(static_cast<size_t>(n * 7919 % 8000), 'x') + "\n";
}

// Whether the file holds entry n whole, read without the library. Entries
// stand in number order, so a caller checking them in turn passes the end of
// the previous one as from and the whole check stays linear in the file.
bool HasEntry(const std::string& file, long n, size_t* from = nullptr) {
  size_t p = file.find("\n^{ " + std::to_string(n) + "\t", from != nullptr ? *from : 0);
  if (p == std::string::npos || (p = file.find(" }\t", p)) == std::string::npos) return false;
  const std::string message = Message(n);
  if (file.compare(p + 3, message.size(), message) != 0) return false;
  if (from != nullptr) *from = p + 3 + message.size() - 1;
  return true;
}

}  // namespace

TEST(SysLogKill, AppendedEntriesSurviveAndAreSeenAtOnce) {
  TempDir dir("vxk_syslog_kill");
  const std::string path = dir / "sys.log";
  const char* env = std::getenv("VXK_SYSLOG_KILLS");
  const int rounds = env != nullptr ? std::atoi(env) : 20;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(seed);
  std::mt19937 rng(seed);
  for (int round = 0; round < rounds; ++round) {
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      close(done[0]);
      KSysLog& log = KSysLog::TheSysLog();
      if (!log.Create(path.c_str(), nullptr)) _exit(2);
      for (long n = 0; n < kMaxEntries; ++n) {
        if (!log.Append("w", Message(n).c_str(), false)) _exit(3);
        if (write(done[1], "a", 1) != 1) _exit(4);  // one byte per returned Append
      }
      pause();
    }
    close(done[1]);
    const long reported = static_cast<long>(rng() % kMaxEntries + 1);
    char byte;
    for (long n = 0; n < reported; ++n) {
      ASSERT_EQ(read(done[0], &byte, 1), 1);
      // Following from here: the entry is in the file the moment it is reported.
      ASSERT_TRUE(round > 0 || n >= 20 || HasEntry(dir.Read(path), n)) << "entry " << n;
    }
    const bool killed = KillAndReap(pid);
    close(done[0]);
    ASSERT_TRUE(killed) << "the writer ended before its kill";
    const std::string file = dir.Read(path);
    size_t from = 0;
    for (long n = 0; n < reported; ++n) ASSERT_TRUE(HasEntry(file, n, &from)) << "entry " << n;
  }
}
