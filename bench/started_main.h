// The main() of benchmark programs that need the library started (script
// values need the built-in classes registered). Include it from one file.
#ifndef VXKERNEL_BENCH_STARTED_MAIN_H_
#define VXKERNEL_BENCH_STARTED_MAIN_H_

#include <benchmark/benchmark.h>

#include "vxkernel/runtime/KAt.h"

int main(int argc, char** argv) {
  KAt::ProcessStartup(1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  KAt::ProcessShutdown(1);
  return 0;
}

#endif  // VXKERNEL_BENCH_STARTED_MAIN_H_
