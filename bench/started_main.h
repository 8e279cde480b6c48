// The main() of benchmark programs that need the library started (script
// values need the built-in classes registered). Include it from one file;
// a program that prepares something first defines VXK_BENCH_OWN_MAIN and
// calls RunStartedBenchmarks from its own main().
#ifndef VXKERNEL_BENCH_STARTED_MAIN_H_
#define VXKERNEL_BENCH_STARTED_MAIN_H_

#include <benchmark/benchmark.h>

#include "vxkernel/runtime/KAt.h"

inline int RunStartedBenchmarks(int argc, char** argv) {
  KAt::ProcessStartup(1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  KAt::ProcessShutdown(1);
  return 0;
}

#ifndef VXK_BENCH_OWN_MAIN
int main(int argc, char** argv) { return RunStartedBenchmarks(argc, argv); }
#endif

#endif  // VXKERNEL_BENCH_STARTED_MAIN_H_
