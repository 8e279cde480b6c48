// Debug output and the error catalogue beside their plain peers: template
// filling against snprintf with the equivalent format, and a debug-stream line
// through the compatibility printer and a thread routine against only
// building the same line in a string stream.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/dbg.h"
#include "vxkernel/runtime/dbgstrm.h"
#include "vxkernel/runtime/err.h"

namespace {

void BM_ErrSprintfBuffer(benchmark::State& state) {
  char buf[255];
  for (auto _ : state) {
    err_sprintf_buffer(buf, sizeof buf, "File %s#1 has %ld#2 bytes", "report.txt", 4096L);
    benchmark::DoNotOptimize(buf);
  }
}

void BM_SnprintfPeer(benchmark::State& state) {
  char buf[255];
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, "File %s has %ld bytes", "report.txt", 4096L);
    benchmark::DoNotOptimize(buf);
  }
}

void Sink(DBG_output, long, void* datum, const char* text) {
  if (text != nullptr) ++*static_cast<long*>(datum);
}

void BM_DbgstrmPrintThroughRoutine(benchmark::State& state) {
  long lines = 0;
  dbg_set_output(&Sink, &lines);
  for (auto _ : state) {
    std::ostringstream line;
    line << "KFileCache::Delete - could not delete file: " << 42 << '\n';
    dbgstrm_print(line);
  }
  dbg_clear_output();
  benchmark::DoNotOptimize(lines);
}

void BM_OstringstreamLinePeer(benchmark::State& state) {
  for (auto _ : state) {
    std::ostringstream line;
    line << "KFileCache::Delete - could not delete file: " << 42 << '\n';
    std::string text = line.str();
    benchmark::DoNotOptimize(text);
  }
}

BENCHMARK(BM_ErrSprintfBuffer);
BENCHMARK(BM_SnprintfPeer);
BENCHMARK(BM_DbgstrmPrintThroughRoutine);
BENCHMARK(BM_OstringstreamLinePeer);

}  // namespace

int main(int argc, char** argv) {
  KAt::ProcessStartup(1);
  dbgstrm_set_compatiblity_mode();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  KAt::ProcessShutdown(1);
  return 0;
}
