// KFilePrefs from several threads: one instance per file, and reads that
// see a whole value while another thread rewrites it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/temp_dir.h"
#include "vxkernel/files/KFilePrefs.h"

TEST(KFilePrefsThreadTest, ReadersSeeWholeValuesWhileAWriterChangesThem) {
  TempDir dir("vxk_prefs_thread");
  const std::string path = dir.Write("t.ini", "[S]\nk=aaaa\n");
  KFilePrefs* seen[2] = {};
  std::thread openers[2];
  for (int i = 0; i < 2; ++i) openers[i] = std::thread([&, i] { seen[i] = KFilePrefs::GetKFilePrefs(path.c_str()); });
  for (auto& t : openers) t.join();
  ASSERT_NE(seen[0], nullptr);
  EXPECT_EQ(seen[0], seen[1]);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 300; ++i) seen[0]->AddPref("S", "k", i % 2 ? "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb" : "aaaa");
    done = true;
  });
  int bad = 0;
  while (!done) {
    char buf[64];
    ASSERT_EQ(seen[1]->GetPref("s", "K", buf, sizeof buf), 0);
    const std::string v = buf;
    bad += v != "aaaa" && v != std::string(40, 'b');
  }
  writer.join();
  EXPECT_EQ(bad, 0);
}
