// Writers of one item killed with SIGKILL in the middle of StoreDoc (or of
// an adoption of a prepared file, AdoptDoc), and
// four writers racing two readers: the item is always a whole version
// (data matching its checksum and its header), never missing once stored.
// The number of kills comes from VXK_CACHE_KILLS (default 50).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/temp_dir.h"
#include "vxkernel/cache/KFileCache.h"
#include "vxkernel/cache/KVXClientCacheItem.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned long kHeader = KVXClientCacheItem::kHeaderBytes;
const char kKey[] = "31337";

uint64_t Fnv(const char* p, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 1099511628211ull;
  return h;
}

// Version seq of the document: 8 bytes of checksum, then a size and bytes
// that differ from version to version.
std::string Version(uint32_t seq) {
  std::string s(40000 + seq * 7919 % 160000, '\0');
  uint32_t x = seq * 2654435761u + 1;
  for (size_t i = 8; i < s.size(); ++i)
    s[i] = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
  uint64_t h = Fnv(s.data() + 8, s.size() - 8);
  std::memcpy(s.data(), &h, 8);
  return s;
}

bool Whole(const std::string& s) {
  uint64_t h = 0;
  if (s.size() < 8) return false;
  std::memcpy(&h, s.data(), 8);
  return h == Fnv(s.data() + 8, s.size() - 8);
}

// With forward, the document also goes there chunk by chunk as it is stored.
bool StoreVersion(KCache* cache, uint32_t seq, const std::string& doc, std::FILE* forward = nullptr,
                  unsigned long id = 0) {
  KVXClientCacheItem item(cache, kKey, id);
  item.DocSize(doc.size());
  item.DocName(std::to_string(seq));
  std::istringstream in(doc);
  return (forward != nullptr ? item.StoreNForwardItem(in, forward) : item.StoreDoc(in)) != 0;
}

bool StoreVersion(KCache* cache, uint32_t seq, unsigned long id = 0) {
  return StoreVersion(cache, seq, Version(seq), nullptr, id);
}

// The document written as an upload's part file (a hole of the header's
// room, then the bytes), which the cache then takes over as the item.
bool AdoptVersion(KCache* cache, uint32_t seq, const std::string& doc, const std::string& part) {
  std::FILE* f = std::fopen(part.c_str(), "wb");
  bool written = f != nullptr && std::fseek(f, kHeader, SEEK_SET) == 0 &&
                 std::fwrite(doc.data(), 1, doc.size(), f) == doc.size();
  if (f != nullptr && std::fclose(f) != 0) written = false;
  KVXClientCacheItem item(cache, kKey, 0);
  item.DocSize(doc.size());
  item.DocName(std::to_string(seq));
  return written && item.AdoptDoc(part.c_str()) != 0;
}

// "" when the item is missing, "ok" when the file and the item hold a whole
// version whose header matches, else the first thing found torn.
std::string Check(KCache* cache, const std::string& raw_path) {
  std::string raw = TempDir::Read(raw_path);
  KVXClientCacheItem item(cache, kKey, 0);
  if (item.Exists() == 0 && raw.empty()) return "";
  std::ostringstream out;
  item.ForwardDoc(out, 0, 0);
  if (raw.size() < kHeader) return "file shorter than its header";
  uint32_t rawSize = 0;
  std::memcpy(&rawSize, raw.data() + 8, 4);
  if (rawSize != raw.size() - kHeader) return "header size " + std::to_string(rawSize);
  if (!Whole(raw.substr(kHeader))) return "file bytes torn";
  if (item.DocSize() != out.str().size()) return "item size " + std::to_string(item.DocSize());
  if (!Whole(out.str())) return "item bytes torn";
  if (Version(static_cast<uint32_t>(std::stoul(item.DocName()))) != out.str()) {
    return "item bytes not those of version " + item.DocName();
  }
  return "ok";
}

int Temporaries(const std::string& dir) {
  int n = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    n += e.path().filename().string()[0] == '~';
  return n;
}

}  // namespace

TEST(CacheKillTest, KilledStoreLeavesOldOrNewItem) {
  TempDir temp("vxk_cache_kill");
  KFileCache cache({temp.Path()}, 4, 4, kHeader, 0);
  ASSERT_TRUE(StoreVersion(&cache, 0));
  const std::string path = temp / "2/3/31337";  // 31337 mod 4 + 1, 31337 div 4 mod 4 + 1
  ASSERT_EQ(Check(&cache, path), "ok");
  const char* env = std::getenv("VXK_CACHE_KILLS");
  const int kills = env != nullptr ? std::atoi(env) : 50;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(seed);
  std::mt19937 rng(seed);
  for (int i = 0; i < kills; ++i) {
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(done[0]);
      // Made beforehand, so that nearly all the time goes into storing.
      std::vector<std::string> docs;
      for (uint32_t seq = 1; seq <= 8; ++seq) docs.push_back(Version(seq));
      // Odd rounds forward each store into the pipe, so the parent can stop
      // the writer in the middle of one; even rounds signal whole stores.
      std::FILE* pipe_out = i % 2 != 0 ? fdopen(done[1], "w") : nullptr;
      if (pipe_out != nullptr) setvbuf(pipe_out, nullptr, _IONBF, 0);
      // Every fourth round stores by adoption.
      const bool adopt = i % 4 == 2;
      for (uint32_t n = 0;; ++n) {
        if (!(adopt ? AdoptVersion(&cache, n % 8 + 1, docs[n % 8], temp / "part")
                    : StoreVersion(&cache, n % 8 + 1, docs[n % 8], pipe_out)))
          _exit(2);
        if (pipe_out == nullptr && write(done[1], "w", 1) != 1) _exit(3);
      }
    }
    close(done[1]);
    char buf[4096];
    if (i % 2 != 0) {
      for (long n = rng() % 400000 + 1; n > 0;) {
        ssize_t got = read(done[0], buf, std::min<long>(n, sizeof buf));
        ASSERT_GT(got, 0);
        n -= got;
      }
    } else {
      for (unsigned n = rng() % 2 + 1; n > 0; --n) ASSERT_EQ(read(done[0], buf, 1), 1);
      volatile unsigned spin = rng() % 400000;
      while (spin > 0) spin = spin - 1;
    }
    const bool killed = KillAndReap(pid);
    close(done[0]);
    ASSERT_TRUE(killed) << "the writer ended before its kill";
    ASSERT_EQ(Check(&cache, path), "ok") << "after kill " << i;
  }
  // Each killed writer leaves at most its own temporary behind.
  const int left = Temporaries(temp.Path());
  EXPECT_LE(left, kills);
  EXPECT_EQ(cache.SweepTemporaries(0), left);
  EXPECT_EQ(Temporaries(temp.Path()), 0);
  EXPECT_EQ(Check(&cache, path), "ok");
  std::cout << kills << " kills, " << left << " temporaries swept\n";
}

// A writer killed while it holds its temporary leaves the file behind; a
// writer with the same id in another process takes it over. While the
// holder lives, a second writer with its id is kept out.
TEST(CacheKillTest, DeadWritersTemporaryIsTakenOver) {
  TempDir temp("vxk_cache_takeover");
  KFileCache cache({temp.Path()}, 4, 4, kHeader, 0);
  const std::string path = temp / "2/3/31337";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  if (pid == 0) {
    // Longer than the version stored after it, so a takeover must truncate.
    const std::string junk(300000, 'j');
    void* h = cache.Create(kKey, 77);
    if (h == nullptr ||
        cache.StoreData(h, reinterpret_cast<const unsigned char*>(junk.data()), junk.size()) == 0)
      _exit(2);
    if (write(ready[1], "w", 1) != 1) _exit(3);
    for (;;) pause();
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ExpectDebug({"KFileCache::Create - could not create temp file: " + temp / "2/3/~77_31337" +
               " - File exists\n"},
              [&] { EXPECT_EQ(cache.Create(kKey, 77), nullptr); });
  ASSERT_TRUE(KillAndReap(pid));
  EXPECT_EQ(Temporaries(temp.Path()), 1);
  EXPECT_TRUE(StoreVersion(&cache, 1, 77));
  EXPECT_EQ(Check(&cache, path), "ok");
  EXPECT_EQ(Temporaries(temp.Path()), 0);
  close(ready[0]);
  close(ready[1]);
}

TEST(CacheKillTest, FourWritersTwoReadersNoTornRead) {
  TempDir temp("vxk_cache_race");
  KFileCache cache({temp.Path()}, 4, 4, kHeader, 0);
  ASSERT_TRUE(StoreVersion(&cache, 0));
  const std::string path = temp / "2/3/31337";
  std::vector<pid_t> pids;
  for (int w = 0; w < 4; ++w) {
    pid_t pid = fork();
    if (pid == 0) {
      for (uint32_t n = 1; n <= 100; ++n) {
        if (!StoreVersion(&cache, static_cast<uint32_t>(w) * 1000 + n)) _exit(2);
      }
      _exit(0);
    }
    pids.push_back(pid);
  }
  for (int r = 0; r < 2; ++r) {
    pid_t pid = fork();
    if (pid == 0) {
      for (int n = 0; n < 300; ++n) {
        if (Check(&cache, path) != "ok") _exit(4);
      }
      _exit(0);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "process " << pid << " status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "process " << pid;
  }
  EXPECT_EQ(Temporaries(temp.Path()), 0);
}
