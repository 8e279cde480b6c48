// System log appends, each flushed to the file, against spdlog's
// basic_logger_mt with flush_on(trace); and what a follower waiting on the
// log adds to an append.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "log/KSysLog_internal.h"
#include "vxkernel/log/KSysLog.h"

#ifdef VXK_HAVE_SPDLOG
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

namespace {

const char kMessage[] = "GET /docs/report?id=4711 200 18342 bytes in 3 ms\n";

// A folder on the work disk for the benchmark's files, removed at exit.
const std::string& Dir() {
  static const std::string dir = [] {
    char name[] = "/tmp/vxk_syslog_bench_XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    return std::string(name);
  }();
  return dir;
}

void BM_SysLogAppend(benchmark::State& state) {
  const std::string path = Dir() + "/append.log";
  auto log = KSysLogInternal::New();
  if (!log->Create(path.c_str(), nullptr)) state.SkipWithError("create");
  for (auto _ : state) benchmark::DoNotOptimize(log->Append("4711", kMessage, false));
  log.reset();
  unlink(path.c_str());
}
BENCHMARK(BM_SysLogAppend);

// One reader follows the log from its end, waiting for every append.
void BM_SysLogAppendFollowed(benchmark::State& state) {
  const std::string path = Dir() + "/followed.log";
  auto log = KSysLogInternal::New();
  if (!log->Create(path.c_str(), nullptr)) state.SkipWithError("create");
  std::atomic<long> read{0};
  std::thread follower([&] {
    KSysLog_Iterator at = log->End();
    KSysLog_EntryList list;
    for (;;) {
      KSysLog_Iterator next = log->Read(list, at, 1000);
      if (next == at) break;  // shut down
      read += list.Size();
      list.Erase();
      at = next;
    }
  });
  for (auto _ : state) benchmark::DoNotOptimize(log->Append("4711", kMessage, false));
  log->Shutdown();
  follower.join();
  state.counters["read"] = static_cast<double>(read.load());
  log.reset();
  unlink(path.c_str());
}
BENCHMARK(BM_SysLogAppendFollowed);

#ifdef VXK_HAVE_SPDLOG
void BM_SpdlogFlushEach(benchmark::State& state) {
  const std::string path = Dir() + "/spdlog.log";
  auto logger = spdlog::basic_logger_mt("bench", path, true);
  logger->flush_on(spdlog::level::trace);
  for (auto _ : state) logger->info(kMessage);
  spdlog::drop("bench");
  logger.reset();
  unlink(path.c_str());
}
BENCHMARK(BM_SpdlogFlushEach);
#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  rmdir(Dir().c_str());
  return 0;
}
