// Storing and forwarding cache items against the plain system calls a host
// would write: open a temporary, write, close, rename; open, read, close.
// The cache directory comes from VXK_CACHE_BENCH_DIR (default /dev/shm);
// VXK_CACHE_BENCH_SYNC=1 turns on sync on commit (and fsync on the plain side).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "vxkernel/cache/KFileCache.h"
#include "vxkernel/cache/KVXClientCacheItem.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned long kHeader = KVXClientCacheItem::kHeaderBytes;
constexpr int kItems = 2000;

bool Sync() {
  const char* s = std::getenv("VXK_CACHE_BENCH_SYNC");
  return s != nullptr && s[0] == '1';
}

// A fresh directory below VXK_CACHE_BENCH_DIR, removed at the end.
struct BenchDir {
  std::string path;
  BenchDir() {
    const char* base = std::getenv("VXK_CACHE_BENCH_DIR");
    path = std::string(base != nullptr ? base : "/dev/shm") + "/vxk_cache_bench_" +
           std::to_string(getpid());
    fs::create_directories(path);
  }
  ~BenchDir() { fs::remove_all(path); }
};

// The plain side: the same 100 directories, names made beforehand.
struct Plain {
  std::vector<std::string> names, temps;
  explicit Plain(const std::string& dir, int items) {
    for (int i = 0; i < items; ++i) {
      std::string d = dir + "/plain/" + std::to_string(i % 10) + "/" + std::to_string(i / 10 % 10);
      fs::create_directories(d);
      names.push_back(d + "/" + std::to_string(i + 1));
      temps.push_back(d + "/~1_" + std::to_string(i + 1));
    }
  }
  void Store(int i, const std::string& bytes, bool sync) const {
    int fd = open(temps[i].c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      std::abort();
    if (sync && fsync(fd) != 0) std::abort();
    close(fd);
    if (rename(temps[i].c_str(), names[i].c_str()) != 0) std::abort();
    if (sync) {
      int dfd = open(fs::path(names[i]).parent_path().c_str(), O_RDONLY | O_DIRECTORY);
      fsync(dfd);
      close(dfd);
    }
  }
  size_t Read(int i, std::string& buf) const {
    int fd = open(names[i].c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t n = read(fd, buf.data(), buf.size());
    close(fd);
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
};

void StoreCache(KFileCache& cache, int i, const std::string& header, const std::string& data) {
  void* h = cache.Create(std::to_string(i + 1), 1);
  cache.PutHeader(h, header.data());
  cache.StoreData(h, reinterpret_cast<const unsigned char*>(data.data()), data.size());
  if (cache.Release(h) == 0) std::abort();
}

size_t ForwardCache(KFileCache& cache, int i, std::string& buf) {
  void* h = cache.Open(std::to_string(i + 1));
  cache.ForwardData(h, reinterpret_cast<unsigned char*>(buf.data()), buf.size(), 0, 0);
  cache.Release(h);
  return buf.size();
}

// state.range(0): bytes per item; items: 2,000 of 16 KiB or one of 64 MiB.
int ItemsFor(long bytes) { return bytes > (1 << 20) ? 1 : kItems; }

void BM_CacheStore(benchmark::State& state) {
  BenchDir dir;
  KFileCache cache({dir.path}, 10, 10, kHeader, 0);
  cache.SetSyncOnCommit(Sync());
  const std::string header(kHeader, 'h'), data(state.range(0), 'd');
  const int items = ItemsFor(state.range(0));
  int i = 0;
  for (auto _ : state) {
    StoreCache(cache, i, header, data);
    i = (i + 1) % items;
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_PlainStore(benchmark::State& state) {
  BenchDir dir;
  const int items = ItemsFor(state.range(0));
  Plain plain(dir.path, items);
  const std::string bytes = std::string(kHeader, 'h') + std::string(state.range(0), 'd');
  const bool sync = Sync();
  int i = 0;
  for (auto _ : state) {
    plain.Store(i, bytes, sync);
    i = (i + 1) % items;
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_CacheForward(benchmark::State& state) {
  BenchDir dir;
  KFileCache cache({dir.path}, 10, 10, kHeader, 0);
  const std::string header(kHeader, 'h'), data(state.range(0), 'd');
  const int items = ItemsFor(state.range(0));
  for (int i = 0; i < items; ++i) StoreCache(cache, i, header, data);
  std::string buf(state.range(0), '\0');
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ForwardCache(cache, i, buf));
    i = (i + 1) % items;
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// Reads header and data in one call, as a plain reader would.
void BM_PlainForward(benchmark::State& state) {
  BenchDir dir;
  const int items = ItemsFor(state.range(0));
  Plain plain(dir.path, items);
  const std::string bytes = std::string(kHeader, 'h') + std::string(state.range(0), 'd');
  for (int i = 0; i < items; ++i) plain.Store(i, bytes, false);
  std::string buf(bytes.size(), '\0');
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(plain.Read(i, buf));
    i = (i + 1) % items;
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The whole item round of a host: StoreDoc from a stream (which reopens the
// item) and ForwardDoc into a stream. Reported, no plain counterpart.
void BM_ItemStoreDoc(benchmark::State& state) {
  BenchDir dir;
  KFileCache cache({dir.path}, 10, 10, kHeader, 0);
  cache.SetSyncOnCommit(Sync());
  const std::string data(state.range(0), 'd');
  int i = 0;
  for (auto _ : state) {
    KVXClientCacheItem item(&cache, std::to_string(i + 1), 1);
    item.DocSize(data.size());
    std::istringstream in(data);
    if (item.StoreDoc(in) == 0) std::abort();
    i = (i + 1) % kItems;
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_CacheStore)->Arg(16 << 10)->Arg(64 << 20)->UseRealTime();
BENCHMARK(BM_PlainStore)->Arg(16 << 10)->Arg(64 << 20)->UseRealTime();
BENCHMARK(BM_CacheForward)->Arg(16 << 10)->Arg(64 << 20)->UseRealTime();
BENCHMARK(BM_PlainForward)->Arg(16 << 10)->Arg(64 << 20)->UseRealTime();
BENCHMARK(BM_ItemStoreDoc)->Arg(16 << 10)->UseRealTime();

BENCHMARK_MAIN();
