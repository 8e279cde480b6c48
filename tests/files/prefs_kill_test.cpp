// A writer killed with SIGKILL at random moments leaves the old file or the
// new one, and the next successful write removes its temporary. The number
// of kills comes from VXK_PREFS_KILLS (default 50).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "port/port.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "vxkernel/files/fileprefs.h"

namespace fs = std::filesystem;

namespace {

int Temporaries(const std::string& dir) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string().rfind(port::ReplaceTempPrefix("p.ini"), 0) == 0;
  return n;
}

}  // namespace

TEST(PrefsKillTest, KilledWriterLeavesOldOrNewFile) {
  TempDir temp("vxk_prefs_kill");
  const std::string dir = temp.Path(), path = temp / "p.ini";
  // Large values make the write long enough for kills to land inside it.
  const std::string values[2] = {std::string(1 << 18, 'a'), std::string(1 << 18, 'b')};
  const std::string texts[2] = {"[S]\nk=" + values[0] + "\n", "[S]\nk=" + values[1] + "\n"};
  temp.Write("p.ini", texts[0]);
  const char* env = std::getenv("VXK_PREFS_KILLS");
  const int kills = env != nullptr ? std::atoi(env) : 50;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(seed);
  std::mt19937 rng(seed);
  int leftovers = 0;
  for (int i = 0; i < kills; ++i) {
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(done[0]);
      void* h = fileprefs_open(path.c_str());
      for (int n = 0;; ++n) {
        if (fileprefs_add_pref(h, "S", "k", values[n % 2].c_str()) != 0) _exit(2);
        if (write(done[1], "w", 1) != 1) _exit(3);  // one byte per finished write
      }
    }
    close(done[1]);
    char byte;
    for (unsigned n = rng() % 3 + 1; n > 0; --n) ASSERT_EQ(read(done[0], &byte, 1), 1);
    volatile unsigned spin = rng() % 200000;
    while (spin > 0) spin = spin - 1;
    const bool killed = KillAndReap(pid);
    close(done[0]);
    ASSERT_TRUE(killed) << "the writer ended before its kill";
    const std::string now = TempDir::Read(path);
    ASSERT_TRUE(now == texts[0] || now == texts[1]) << "torn file of " << now.size() << " bytes after kill " << i;
    const int left = Temporaries(dir);
    ASSERT_LE(left, 1) << "temporaries pile up";
    leftovers += left;
  }
  void* h = fileprefs_open(path.c_str());
  EXPECT_EQ(fileprefs_add_pref(h, "S", "k", "done"), 0);
  fileprefs_close(h);
  EXPECT_EQ(Temporaries(dir), 0);
  std::cout << kills << " kills, " << leftovers << " left a temporary behind\n";
}
