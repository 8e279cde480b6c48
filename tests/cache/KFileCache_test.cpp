// The file cache and client cache items against a std::map model, the
// header bytes against an encoder written here, places on disk, companions,
// sweeping, header sizes, and write and sync failures (a file-size limit in
// a child, an fsync made to fail).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/temp_dir.h"
#include "vxkernel/cache/KFileCache.h"
#include "vxkernel/cache/KVXClientCacheItem.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned long kHeader = KVXClientCacheItem::kHeaderBytes;

// While not 0, every fsync of this program fails with this errno value.
std::atomic<int> gSyncError{0};

// Files below dir named like temporaries ("~" id "_" key).
int Temporaries(const std::string& dir) {
  static const std::regex temporary("~-?[0-9]+_.*");
  int n = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    n += std::regex_match(e.path().filename().string(), temporary);
  return n;
}

bool Store(KCache* cache, const std::string& key, const std::string& doc, unsigned long size) {
  KVXClientCacheItem item(cache, key, 7);
  item.DocSize(size);
  item.DocName("n" + std::to_string(doc.size()));
  std::istringstream in(doc);
  return item.StoreDoc(in) != 0;
}

// The document of key, or "<none>".
std::string Read(KCache* cache, const std::string& key) {
  KVXClientCacheItem item(cache, key, 7);
  if (item.Exists() == 0) return "<none>";
  std::ostringstream out;
  item.ForwardDoc(out, 0, 0);
  EXPECT_EQ(item.DocName(), "n" + std::to_string(out.str().size()));
  return out.str();
}

// The document of key as a sender of the item file's descriptor reads it,
// or "<none>".
std::string ReadDescriptor(KFileCache& cache, const std::string& key) {
  int64_t offset = -1, length = -1;
  int fd = cache.OpenData(key, &offset, &length);
  if (fd < 0) return "<none>";
  EXPECT_EQ(offset, static_cast<int64_t>(cache.HeaderSize()));
  // One byte more than said: a wrong length shows as a marker.
  std::string doc(static_cast<size_t>(length) + 1, '\0');
  ssize_t got = pread(fd, doc.data(), doc.size(), offset);
  close(fd);
  doc.resize(static_cast<size_t>(std::max<ssize_t>(0, got)));
  if (got != length) doc += "<length " + std::to_string(length) + ">";
  return doc;
}

// A part file as an upload writes it: a hole of the header's room, then doc.
std::string PartFile(const TempDir& temp, const std::string& name, const std::string& doc) {
  const std::string path = temp / name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fseek(f, static_cast<long>(kHeader), SEEK_SET);
  std::fwrite(doc.data(), 1, doc.size(), f);
  std::fclose(f);
  return path;
}

}  // namespace

// Stands in for the C library's fsync (the test links the library's objects,
// so their calls land here).
extern "C" int fsync(int fd) {
  if (int e = gSyncError.load()) {
    errno = e;
    return -1;
  }
  return static_cast<int>(syscall(SYS_fsync, fd));
}

// Random stores (some with a wrong size), deletes and reads of keys, some of
// which name the same file or no file at all, against a map of documents.
TEST(KFileCacheTest, ModelOfStoresDeletesAndReads) {
  TempDir temp("vxk_cache_model");
  KFileCache cache({temp.Path(), temp / "second/"}, 3, 2, kHeader, 0);
  fs::create_directory(temp / "second");
  // "a/b" and "a_b" are one item; the last five form no name ("~7_1" is
  // shaped like a temporary, and "~1" would delete temporaries of id 1).
  const std::vector<std::string> keys = {
      "1",   "4",  "12345", "abcd", "dcba", "a/b", "a_b", "0",  "99999999999", "~draft",
      "~1x", "~$Budget.xlsx", ".",  "..",   "~7_1", "~1", ""};
  auto model_key = [](std::string k) { return k == "a/b" ? std::string("a_b") : k; };
  auto refused = [](const std::string& k) {
    return k.empty() || k == "." || k == ".." || k == "~7_1" || k == "~1";
  };
  const size_t sizes[] = {0, 1, 1064, 102400, 102401, 250000};
  std::map<std::string, std::string> model;
  std::mt19937 rng(12345);
  for (int i = 0; i < 300; ++i) {
    const std::string& key = keys[rng() % keys.size()];
    SCOPED_TRACE("op " + std::to_string(i) + " key " + key);
    if (i == 150) cache.SetSyncOnCommit(true);  // the second half commits through fsync
    switch (rng() % 4) {
      case 0:
      case 1: {
        std::string doc(sizes[rng() % 6], static_cast<char>('a' + i % 26));
        bool wrongSize = rng() % 5 == 0;
        bool stored = Store(&cache, key, doc, doc.size() + (wrongSize ? 1 : 0));
        EXPECT_EQ(stored, !refused(key) && !wrongSize && !doc.empty());
        if (stored) model[model_key(key)] = doc;
        break;
      }
      case 2: {
        KVXClientCacheItem item(&cache, key, 7);
        bool had = model.erase(model_key(key)) != 0;
        EXPECT_EQ(item.DeleteFileA(nullptr) != 0, had);
        EXPECT_EQ(item.Exists(), had ? 1 : 0);  // as FindItem left it
        break;
      }
      default: {
        auto it = model.find(model_key(key));
        EXPECT_EQ(Read(&cache, key), it == model.end() ? "<none>" : it->second);
        EXPECT_EQ(ReadDescriptor(cache, key), it == model.end() ? "<none>" : it->second);
      }
    }
  }
  EXPECT_EQ(Temporaries(temp.Path()), 0);
}

// Places worked out independently (Python struct sums) for 3 partitions,
// 10 sections and 20 subsections.
TEST(KFileCacheTest, KeysLandInTheirPlaces) {
  TempDir temp("vxk_cache_place");
  for (const char* p : {"p1", "p2", "p3"}) fs::create_directory(temp / p);
  KFileCache cache({temp / "p1", temp / "p2", temp / "p3"}, 10, 20, 0, 0);
  const std::string doc = "x";
  struct Case {
    std::string key, path;
  } cases[] = {
      {"12345", "p1/6/15/12345"},
      {"abcd", "p2/10/5/abcd"},  // little-endian group 0x64636261
      {"dcba", "p2/5/13/dcba"},
      {"abcdefgh", "p1/5/14/abcdefgh"},  // groups swapped: same place
      {"efghabcd", "p1/5/14/efghabcd"},
      {"0", "p1/9/5/0"},  // not a number: its byte, 48
      {"a:b\\c", "p2/5/17/a_b_c"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Store(&cache, c.key, doc, 1)) << c.key;
    EXPECT_TRUE(fs::exists(temp / c.path)) << c.key;
  }
}

// The header against bytes laid out here word by word; long texts cut.
TEST(KVXClientCacheItemTest, HeaderBytes) {
  static_assert(std::endian::native == std::endian::little, "the oracle copies host words");
  TempDir temp("vxk_cache_header");
  KFileCache cache({temp.Path()}, 0, 0, kHeader, 0);
  KVXClientCacheItem item(&cache, "42", 9);
  const long t = 1700000000;
  item.DocVersion(2), item.DocSize(3), item.DocDataForkSize(0x01020304);
  item.DocResourceForkSize(5), item.DocPlatform(0xFFFFFFFF), item.ExpireInterval(77);
  // 30 February is written as mktime normalises it: 1 March. DocModifiedDate
  // stays unset (all fields 0) and is written as 0.
  KDateTime february, march;
  february.SetDate(2024, 2, 30, 12, 0, 0, 0);
  march.SetDate(2024, 3, 1, 12, 0, 0, 0);
  std::tm tm{};
  tm.tm_year = 124, tm.tm_mon = 2, tm.tm_mday = 1, tm.tm_hour = 12, tm.tm_isdst = -1;
  const long marchSeconds = static_cast<long>(std::mktime(&tm));
  item.DateLastVerified(KDateTime(t)), item.DocCreatedDate(february), item.DocPublic(7);
  item.ContentType(std::string(300, 'x')), item.DocName(std::string(300, 'n'));
  item.DocType(std::string(254, 't')), item.DocCreator(std::string(600, 'c'));
  std::string expect(kHeader, '\0');
  size_t at = 0;
  auto word = [&](uint32_t v) { std::memcpy(&expect[at], &v, 4), at += 4; };
  auto text = [&](const std::string& s) {
    word(static_cast<uint32_t>(s.size())), expect.replace(at, s.size(), s), at += s.size();
  };
  for (uint32_t v : {3u, 2u, 3u, 0x01020304u, 5u, 0xFFFFFFFFu}) word(v);
  for (long v : {t, marchSeconds, 0L, 1L, 77L}) word(static_cast<uint32_t>(v));
  // Each text cut to 254; 44 + 3 * (4 + 254) + 4 leaves 242 for the last.
  text(std::string(254, 'x')), text(std::string(254, 'n')), text(std::string(254, 't')),
      text(std::string(242, 'c'));
  ASSERT_EQ(at, kHeader);
  EXPECT_EQ(item.EncodeHeader(), expect);
  std::istringstream in("abc");
  ASSERT_TRUE(item.StoreDoc(in));
  EXPECT_EQ(TempDir::Read(temp / "0/0/42"), expect + "abc");
  KVXClientCacheItem back(&cache, "42", 9);
  EXPECT_EQ(back.DocName(), std::string(254, 'n'));
  EXPECT_EQ(back.DocCreatedDate(), march);
  EXPECT_EQ(back.DocPublic(), 1);
  // A wrong version word is refused and the fields stay.
  expect[0] = 4;
  ExpectDebug(
      {"KVXClientCacheItem::PopulateHeaderFromBuffer - Invalid header version in cache item.\n"},
      [&] { EXPECT_FALSE(back.DecodeHeader(expect.data(), kHeader)); });
  EXPECT_EQ(back.DocSize(), 3u);
}

// A header rewritten through a read handle is in the file at once;
// companions are deleted by type; old temporaries are swept.
TEST(KFileCacheTest, HeaderRewriteCompanionsAndSweep) {
  TempDir temp("vxk_cache_misc");
  KFileCache cache({temp.Path()}, 0, 0, 4, 0);
  void* w = cache.Create("7", 1);
  DebugCapture capture;
  EXPECT_EQ(cache.Create("7", 1), nullptr) << "temporaries are exclusive";
  EXPECT_NE(capture.All().find("KFileCache::Create - could not create temp file: "),
            std::string::npos);
  ASSERT_TRUE(cache.PutHeader(w, "HHHH"));
  ASSERT_TRUE(cache.StoreData(w, reinterpret_cast<const unsigned char*>("data"), 0));
  ASSERT_TRUE(cache.Release(w));
  void* r = cache.Open("7");
  void* stale = cache.Open("7");
  ASSERT_TRUE(cache.PutHeader(r, "hhhh"));
  EXPECT_EQ(TempDir::Read(temp / "0/0/7"), "hhhhdata");
  unsigned char buf[3];
  EXPECT_TRUE(cache.ForwardData(r, buf, 3, 1, 0));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "ata");
  cache.Release(r);
  // A read handle opened before another writer's commit does not write its
  // header onto the new version.
  w = cache.Create("7", 1);
  ASSERT_TRUE(cache.PutHeader(w, "NNNN"));
  ASSERT_TRUE(cache.StoreData(w, reinterpret_cast<const unsigned char*>("DATA"), 0));
  ASSERT_TRUE(cache.Release(w));
  ExpectDebug({"KFileCache::ReOpenForWrite - cache file was replaced since it was opened: " +
               temp / "0/0/7" + "\n"},
              [&] { EXPECT_FALSE(cache.PutHeader(stale, "ssss")); });
  EXPECT_EQ(TempDir::Read(temp / "0/0/7"), "NNNNDATA");
  cache.Release(stale);
  for (const char* c : {"7.txt", "7_x.txt", "7.doc", "77.txt", "~3_7", "~4_8"})
    temp.Write(std::string("0/0/") + c, "c");
  int64_t offset = 0, length = 0;
  ExpectDebug({"KFileCache::OpenData - cache file shorter than its header: " + temp / "0/0/77.txt" + "\n"},
              [&] { EXPECT_EQ(cache.OpenData("77.txt", &offset, &length), -1); });
  EXPECT_TRUE(cache.Delete("7", "txt"));
  for (const char* c : {"7", "7.doc", "77.txt"}) EXPECT_TRUE(fs::exists(temp / "0/0/" + c)) << c;
  EXPECT_FALSE(fs::exists(temp / "0/0/7.txt"));
  EXPECT_FALSE(fs::exists(temp / "0/0/7_x.txt"));
  EXPECT_EQ(cache.SweepTemporaries(3600), 0);
  EXPECT_EQ(cache.SweepTemporaries(0), 2);
  EXPECT_TRUE(fs::exists(temp / "0/0/7"));
}

// A commit whose rename fails (a directory took the item's name) keeps the
// complete temporary; its lock ends with the handle, so the next writer with
// that id takes it over.
TEST(KFileCacheTest, FailedRenameKeepsTheTemporary) {
  TempDir temp("vxk_cache_rename");
  KFileCache cache({temp.Path()}, 0, 0, 0, 0);
  fs::create_directories(temp / "0/0/3");
  void* w = cache.Create("3", 1);
  ASSERT_TRUE(cache.StoreData(w, reinterpret_cast<const unsigned char*>("new"), 0));
  ExpectDebug({"KFileCache::Release - error renaming file from " + temp / "0/0/~1_3" + " to " +
               temp / "0/0/3" + " : Is a directory\n"},
              [&] { EXPECT_FALSE(cache.Release(w)); });
  EXPECT_EQ(TempDir::Read(temp / "0/0/~1_3"), "new");
  w = cache.Create("3", 1);
  EXPECT_NE(w, nullptr);
  cache.Release(w);
}

// DeleteFileA leaves Exists() as it was; the item's next store then has no
// old item to replace, says so, and stores.
TEST(KVXClientCacheItemTest, StoreAfterDeleteFileA) {
  TempDir temp("vxk_cache_redelete");
  KFileCache cache({temp.Path()}, 0, 0, kHeader, 0);
  ASSERT_TRUE(Store(&cache, "4", "old", 3));
  KVXClientCacheItem item(&cache, "4", 7);
  EXPECT_TRUE(item.DeleteFileA(nullptr));
  std::istringstream in("new");
  ExpectDebug({"KVXClientCacheItem::StoreDoc - could not delete old cache item.\n"},
              [&] { EXPECT_TRUE(item.StoreDoc(in)); });
  EXPECT_EQ(Read(&cache, "4"), "new");
}

// Copies share the handle and the last of them releases it (AddressSanitizer
// sees a handle released twice or never). A copy stores through a temporary
// of its own; the other keeps what it holds: the version it opened, or the
// shared temporary.
TEST(KVXClientCacheItemTest, CopiesShareTheHandle) {
  TempDir temp("vxk_cache_copy");
  KFileCache cache({temp.Path()}, 0, 0, kHeader, 0);
  ASSERT_TRUE(Store(&cache, "2", "old", 3));
  KVXClientCacheItem found(&cache, "2", 7);
  KVXClientCacheItem copy(found);
  std::istringstream in("new");
  EXPECT_TRUE(copy.StoreDoc(in));
  std::ostringstream kept;
  EXPECT_TRUE(found.ForwardDoc(kept, 0, 0));
  EXPECT_EQ(kept.str(), "old");
  {
    KVXClientCacheItem missing(&cache, "3", 7);  // holds the temporary ~7_3
    KVXClientCacheItem other(missing);
    other.TmpNameId(8), other.DocSize(3), other.DocName("n3");
    std::istringstream abc("abc");
    EXPECT_TRUE(other.StoreDoc(abc));
    EXPECT_EQ(Temporaries(temp.Path()), 1);  // ~7_3, still missing's
    missing = other;
    EXPECT_EQ(Temporaries(temp.Path()), 0);
  }
  EXPECT_EQ(Read(&cache, "3"), "abc");
}

// Writes cut short by RLIMIT_FSIZE: the message of the step that failed,
// false, no temporary left, and the old document still there.
TEST(KVXClientCacheItemTest, WriteFailuresKeepTheOldItem) {
  TempDir temp("vxk_cache_fsize");
  KFileCache cache({temp.Path()}, 0, 0, kHeader, 0);
  ASSERT_TRUE(Store(&cache, "5", "old", 3));
  const std::string big(200000, 'b');
  temp.Write("big", big);
  struct Case {
    rlim_t limit;
    bool fromPath;
    std::vector<std::string> lines;
  } cases[] = {
      {1000,
       false,
       {"SaveHeader::PutHeader - failed to write header. 1000 bytes of 1064",
        "KVXClientCacheItem::StoreDoc - could update item header.\n"}},
      {50000, false, {"KFileCache::StoreAndForwardData failed to write 102400 to cachefile.\n"}},
      {50000, true, {"KFileCache::StoreData failed to write 102400 to cachefile.\n"}},
  };
  cases[0].lines[0] += "\n";
  for (const Case& c : cases) {
    ChildResult r = RunInChild([&](std::string& out) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit lim{c.limit, c.limit};
      setrlimit(RLIMIT_FSIZE, &lim);
      DebugCapture capture;
      KVXClientCacheItem item(&cache, "5", 9);
      item.DocSize(big.size());
      std::istringstream in(big);
      bool ok = c.fromPath ? item.StoreDoc((temp / "big").c_str()) : item.StoreDoc(in);
      for (const std::string& t : capture.Texts()) out += t + "|";
      // The item at once holds the old document again, no temporary.
      std::ostringstream now;
      item.ForwardDoc(now, 0, 0);
      out +=
          (ok ? "stored " : "failed ") + now.str() + " " + std::to_string(Temporaries(temp.Path()));
    });
    std::string expect;
    for (const std::string& l : c.lines) expect += l + "|";
    EXPECT_EQ(r.output, expect + "failed old 0") << c.limit;
    EXPECT_EQ(Read(&cache, "5"), "old");
    EXPECT_EQ(Temporaries(temp.Path()), 0);
  }
}

// Forwarding into a caller's buffer: chunks of 102,400 bytes, each copied up
// to the room left, the one that overflows reported with the bytes it
// dropped; the expected lines follow that rule on the item's size.
TEST(KFileCacheTest, ForwardIntoBufferReportsWhatDoesNotFit) {
  TempDir dir;
  KFileCache cache({dir.Path()}, 3, 3, 0, 0);
  std::string data(250000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  void* h = cache.Create("doc", 1);
  ASSERT_TRUE(cache.StoreData(h, reinterpret_cast<const unsigned char*>(data.data()), data.size()));
  cache.Release(h);
  const unsigned long cases[][3] = {// size, offset, length
                                    {10, 0, 0},         {102400, 0, 0}, {150000, 0, 0},
                                    {300000, 0, 0},     {150000, 1000, 0}, {150000, 0, 120000},
                                    {250000, 249990, 0}, {249995, 0, 0}};
  for (const auto& c : cases) {
    std::vector<std::string> expected;
    unsigned long used = 0, at = c[1], left = c[2] ? c[2] : ~0UL;
    while (used < c[0] && at < data.size() && left > 0) {
      unsigned long chunk = std::min({102400UL, data.size() - at, left});
      unsigned long take = std::min(chunk, c[0] - used);
      if (take < chunk) expected.push_back("KFileCache::ForwardData Truncated " + std::to_string(chunk - take) + " bytes.\n");
      used += take;
      at += chunk;
      left -= c[2] ? chunk : 0;
      if (chunk < 102400) break;
    }
    std::string buf(c[0], '\x55');
    void* r = cache.Open("doc");
    ExpectDebug(expected, [&] {
      EXPECT_TRUE(cache.ForwardData(r, reinterpret_cast<unsigned char*>(buf.data()), c[0], c[1], c[2]));
    });
    cache.Release(r);
    EXPECT_EQ(buf.substr(0, used), data.substr(c[1], used)) << c[0] << " " << c[1];
    EXPECT_EQ(buf.find_first_not_of('\x55', used), std::string::npos);
  }
}

// A handle keeps the header size it was made with: after HeaderSize changes,
// a header of the new size is refused, not copied short or long; above the
// limit no handle is made and no header buffer allocated.
TEST(KVXClientCacheItemTest, HeaderSizeIsCheckedAndCapped) {
  TempDir temp("vxk_cache_hsize");
  const unsigned long over = KCache::kMaxHeaderSize + 1;
  const std::string failed = "KVXClientCacheItem::StoreDoc - could update item header.\n";
  const std::string limit = " - header size 1048577 is above the limit of 1048576 bytes.\n";
  struct Case {
    unsigned long made, now;
    std::vector<std::string> lines;
  } cases[] = {
      {2000,
       kHeader,
       {"KFileCache::PutHeader - header size changed: the handle holds 2000 bytes, the cache "
        "1064.\n",
        failed}},
      // After the failed store the item looks for a handle again: refused too.
      {kHeader,
       over,
       {"KVXClientCacheItem::UpdateDocHeader" + limit, failed, "KFileCache::Open" + limit,
        "KFileCache::Create" + limit}},
  };
  for (const Case& c : cases) {
    KFileCache cache({temp.Path()}, 0, 0, c.made, 0);
    KVXClientCacheItem item(&cache, "9", 7);  // holds a temporary made with c.made
    cache.HeaderSize(c.now);
    item.DocSize(3);
    std::istringstream in("abc");
    ExpectDebug(c.lines, [&] { EXPECT_FALSE(item.StoreDoc(in)) << c.made; });
  }
  KFileCache cache({temp.Path()}, 0, 0, KCache::kMaxHeaderSize, 0);
  void* h = cache.Create("8", 1);
  EXPECT_NE(h, nullptr);
  cache.Release(h);
  cache.HeaderSize(over);
  ExpectDebug({"KFileCache::Create" + limit}, [&] { EXPECT_EQ(cache.Create("8", 1), nullptr); });
}

// A store needs at least one byte: an empty source fails (all bits set from
// a FILE*) and the old item stays.
TEST(KVXClientCacheItemTest, EmptySourceIsNotStored) {
  TempDir temp("vxk_cache_empty");
  KFileCache cache({temp.Path()}, 0, 0, kHeader, 0);
  ASSERT_TRUE(Store(&cache, "6", "old", 3));
  void* h = cache.Create("6", 8);
  std::FILE* empty = std::fopen(temp.Write("empty", "").c_str(), "rb");
  ExpectDebug({"KFileCache::StoreData received no data from strm.\n"},
              [&] { EXPECT_EQ(cache.StoreData(h, empty, 0), ~0UL); });
  std::fclose(empty);
  cache.Release(h);
  ExpectDebug({"KFileCache::StoreAndForwardData received no data from istream.\n"},
              [&] { EXPECT_FALSE(Store(&cache, "6", "", 0)); });
  EXPECT_EQ(Read(&cache, "6"), "old");
  EXPECT_EQ(Temporaries(temp.Path()), 0);
}

// With SetSyncOnCommit(true) a commit whose fsync fails reports failure and
// the old item stays.
TEST(KVXClientCacheItemTest, FailedSyncKeepsTheOldItem) {
  TempDir temp("vxk_cache_sync");
  KFileCache cache({temp.Path()}, 0, 0, kHeader, 0);
  ASSERT_TRUE(Store(&cache, "5", "old", 3));
  cache.SetSyncOnCommit(true);
  gSyncError = EIO;
  ExpectDebug({"KFileCache::Release - could not sync temp file: " + temp / "0/0/~7_5" +
               " : Input/output error\n"},
              [&] { EXPECT_FALSE(Store(&cache, "5", "new", 3)); });
  gSyncError = 0;
  EXPECT_EQ(Read(&cache, "5"), "old");
  EXPECT_EQ(Temporaries(temp.Path()), 0);
}

// An adopted document reads back as the same document stored by StoreDoc:
// the header field by field and the bytes; the part file is the item now,
// and nothing is left of the handle's temporary.
TEST(KVXClientCacheItemTest, AdoptedDocumentReadsAsStored) {
  TempDir temp("vxk_cache_adopt");
  KFileCache cache({temp / "cache"}, 2, 2, kHeader, 0);
  fs::create_directory(temp / "cache");
  cache.SetSyncOnCommit(true);
  std::string doc(250000, '\0');
  for (size_t i = 0; i < doc.size(); ++i) doc[i] = static_cast<char>(i * 7 + i / 251);
  KDateTime when;
  when.SetDate(2025, 6, 1, 8, 30, 0, 0);
  auto describe = [&](KVXClientCacheItem& item) {
    item.DocSize(doc.size()), item.DocVersion(4), item.DocPublic(1);
    item.ContentType("text/plain"), item.DocName("a.txt"), item.DocType("A title");
    item.DocCreator("a note"), item.DocCreatedDate(when), item.DateLastVerified(when);
  };
  KVXClientCacheItem stored(&cache, "11", 7), adopted(&cache, "12", 7);
  describe(stored), describe(adopted);
  std::istringstream in(doc);
  ASSERT_TRUE(stored.StoreDoc(in));
  const std::string part = PartFile(temp, "part", doc);
  ASSERT_TRUE(adopted.AdoptDoc(part.c_str()));
  KVXClientCacheItem a(&cache, "11", 7), b(&cache, "12", 7);
  struct Field {
    const char* name;
    std::string (*get)(const KVXClientCacheItem&);
  } fields[] = {
      {"size", [](const KVXClientCacheItem& i) { return std::to_string(i.DocSize()); }},
      {"version", [](const KVXClientCacheItem& i) { return std::to_string(i.DocVersion()); }},
      {"public", [](const KVXClientCacheItem& i) { return std::to_string(i.DocPublic()); }},
      {"type", [](const KVXClientCacheItem& i) { return i.ContentType(); }},
      {"name", [](const KVXClientCacheItem& i) { return i.DocName(); }},
      {"title", [](const KVXClientCacheItem& i) { return i.DocType(); }},
      {"creator", [](const KVXClientCacheItem& i) { return i.DocCreator(); }},
      {"created", [](const KVXClientCacheItem& i) { return std::to_string(i.DocCreatedDate().Systime()); }},
  };
  for (const Field& f : fields) EXPECT_EQ(f.get(b), f.get(a)) << f.name;
  std::ostringstream out;
  EXPECT_TRUE(b.ForwardDoc(out, 0, 0));
  EXPECT_EQ(out.str(), doc);
  EXPECT_FALSE(fs::exists(part));
  EXPECT_EQ(Temporaries(temp.Path()), 0);
}

// A failed adoption keeps the old document, leaves no temporary and leaves
// the part file where it was, for its writer to remove.
TEST(KVXClientCacheItemTest, FailedAdoptionKeepsTheOldItem) {
  TempDir temp("vxk_cache_adopt_fail");
  KFileCache cache({temp.Path()}, 0, 0, kHeader, 0);
  const std::string part = PartFile(temp, "part", "new");
  fs::create_symlink(part, temp / "link");
  fs::create_directories(temp / "0/0/9");  // a directory where item 9 goes
  struct Case {
    const char* key;
    unsigned long size;
    std::string path;
    int syncError;
    std::string line;
    // The directory at item 9 is opened as the old item after the failure.
    std::vector<std::string> more = {};
  } cases[] = {
      {"5", 4, part, 0,
       "KFileCache::AdoptFile - file " + part + " holds 3 bytes after the header's room, expected 4 bytes.\n"},
      {"5", 3, temp / "link", 0,
       "KFileCache::AdoptFile - could not open file: " + temp / "link" + " : Too many levels of symbolic links\n"},
      {"5", 3, part, EIO, "KFileCache::AdoptFile - could not sync temp file: " + part + " : Input/output error\n"},
      {"9", 3, part, 0,
       "KFileCache::AdoptFile - error renaming file from " + part + " to " + temp / "0/0/9" + " : Is a directory\n",
       {"KFileCache::RefreshHeader - failed to read header. 0 bytes of 1064\n",
        "KFileCache::Open - could not read header.\n",
        "KVXClientCacheItem::PopulateHeaderFromBuffer - Invalid header version in cache item.\n"}},
  };
  ASSERT_TRUE(Store(&cache, "5", "old", 3));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    cache.SetSyncOnCommit(c.syncError != 0);
    KVXClientCacheItem item(&cache, c.key, 7);
    item.DocSize(c.size);
    item.DocName("n3");
    gSyncError = c.syncError;
    std::vector<std::string> lines = {c.line};
    lines.insert(lines.end(), c.more.begin(), c.more.end());
    ExpectDebug(lines, [&] { EXPECT_FALSE(item.AdoptDoc(c.path.c_str())); });
    gSyncError = 0;
    EXPECT_EQ(Read(&cache, "5"), "old");
    EXPECT_EQ(TempDir::Read(part).substr(kHeader), "new");
    EXPECT_EQ(Temporaries(temp.Path()), 0);
  }
}

// A full disk can refuse the header even though the part file is already
// as long as the item: its room is a hole. The adoption fails before the
// rename, so no item appears without its header.
TEST(KVXClientCacheItemTest, AdoptionOnAFullDiskKeepsTheOldItem) {
  TempDir temp("vxk_cache_adopt_full");
  KFileCache cache({temp.Path()}, 0, 0, kHeader, 0);
  ASSERT_TRUE(Store(&cache, "5", "old", 3));
  const std::string part = PartFile(temp, "part", "new");
  ChildResult r = RunInChild([&](std::string& out) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{500, 500};
    setrlimit(RLIMIT_FSIZE, &lim);
    DebugCapture capture;
    KVXClientCacheItem item(&cache, "5", 7);
    item.DocSize(3);
    item.DocName("n3");
    out += item.AdoptDoc(part.c_str()) ? "adopted|" : "failed|";
    for (const std::string& t : capture.Texts()) out += t;
  });
  EXPECT_EQ(r.output, "failed|KFileCache::AdoptFile - failed to write header. 500 bytes of 1064\n");
  EXPECT_EQ(Read(&cache, "5"), "old");
  EXPECT_EQ(TempDir::Read(part).substr(kHeader), "new");
  EXPECT_EQ(Temporaries(temp.Path()), 0);
}

// From another file system the data is copied into the cache's temporary;
// the part file stays with its writer.
TEST(KVXClientCacheItemTest, AdoptionFromAnotherFileSystemCopies) {
  TempDir temp("vxk_cache_adopt_xdev");
  std::string shm = "/dev/shm/vxk_cache_adopt_XXXXXX";
  struct stat here {}, there {};
  if (mkdtemp(shm.data()) == nullptr || stat(shm.c_str(), &there) != 0 ||
      stat(temp.Path().c_str(), &here) != 0 || here.st_dev == there.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  struct Gone {
    std::string dir;
    ~Gone() { fs::remove_all(dir); }
  } gone{shm};
  const std::string part = shm + "/part";
  std::ofstream(part, std::ios::binary) << std::string(kHeader, '\0') << "new bytes";
  KFileCache cache({temp.Path()}, 0, 0, kHeader, 0);
  KVXClientCacheItem item(&cache, "5", 7);
  item.DocSize(9);
  item.DocName("n9");
  ASSERT_TRUE(item.AdoptDoc(part.c_str()));
  EXPECT_EQ(Read(&cache, "5"), "new bytes");
  EXPECT_TRUE(fs::exists(part));
  EXPECT_EQ(Temporaries(temp.Path()), 0);
}
