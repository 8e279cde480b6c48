#!/usr/bin/env bash
# Builds and runs every test:
#   0. the include rules of the layers (scripts/check_layers.sh),
#   1. the plain build (g++, warnings are errors, benchmarks compiled), its
#      Debian packages (scripts/package_test.sh) and the API reference
#      (Doxygen; any warning fails),
#   2. an AddressSanitizer + UndefinedBehaviorSanitizer build (clang),
#   3. the thread tests under ThreadSanitizer (clang),
#   4. every libFuzzer target for a short run on a copy of its corpus (clang,
#      ASan + UBSan).
# Tests labelled "slow" (long crash and soak runs) are left out; run them
# with: ctest --test-dir build -L slow
set -euo pipefail
VXK_ROOT="$(cd "$(dirname "$0")" && pwd)"
. "$VXK_ROOT/scripts/setup.sh"
vxk_setup $vxk_run_packages $vxk_test_packages
jobs=$(nproc)
start=$SECONDS

echo "== layer rules"
"$VXK_ROOT/scripts/check_layers.sh"

echo "== plain build (g++)"
vxk_configure_plain -DVXKERNEL_BUILD_TESTS=ON -DVXKERNEL_BUILD_BENCHMARKS=ON
cmake --build "$VXK_ROOT/build" -j "$jobs"
(cd "$VXK_ROOT/build" && ctest -j "$jobs" -LE slow --output-on-failure)

echo "== Debian packages of the plain build (cpack, unpacked and run, lintian)"
"$VXK_ROOT/scripts/package_test.sh" "$VXK_ROOT/build"

echo "== API reference (Doxygen, warnings are errors)"
vxk_configure build-docs -DVXKERNEL_BUILD_DOCS=ON -DVXKERNEL_BUILD_TESTS=OFF -DVXKERNEL_BUILD_TOOLS=OFF
cmake --build "$VXK_ROOT/build-docs" --target vxkernel_docs

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build (clang)"
vxk_configure build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DVXKERNEL_WERROR=ON -DVXKERNEL_SANITIZE=address,undefined
cmake --build "$VXK_ROOT/build-asan" -j "$jobs"
(cd "$VXK_ROOT/build-asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest -j "$jobs" -LE slow --output-on-failure)

echo "== ThreadSanitizer build, thread tests (clang)"
vxk_configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DVXKERNEL_WERROR=ON -DVXKERNEL_SANITIZE=thread
cmake --build "$VXK_ROOT/build-tsan" -j "$jobs" --target vxk_thread_tests
(cd "$VXK_ROOT/build-tsan" && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest -j "$jobs" -L thread --output-on-failure)

echo "== fuzz targets, ${VXK_FUZZ_SECONDS:-20} s each (clang, ASan + UBSan)"
vxk_configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DVXKERNEL_WERROR=ON -DVXKERNEL_SANITIZE=address,undefined -DVXKERNEL_BUILD_FUZZERS=ON \
  -DVXKERNEL_BUILD_TESTS=OFF -DVXKERNEL_BUILD_TOOLS=OFF
cmake --build "$VXK_ROOT/build-fuzz" -j "$jobs"
for source in "$VXK_ROOT"/fuzz/*_fuzz.cpp; do
  name="$(basename "$source" .cpp)"
  format="${name%_fuzz}"
  work="$VXK_ROOT/build-fuzz/corpus-run/$format"
  rm -rf "$work" && mkdir -p "$work"
  cp -R "$VXK_ROOT/fuzz/corpus/$format/." "$work/"
  dict=()
  [ -f "$VXK_ROOT/fuzz/$format.dict" ] && dict=("-dict=$VXK_ROOT/fuzz/$format.dict")
  echo "-- $name"
  (cd "$VXK_ROOT/build-fuzz" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "./fuzz/$name" -max_total_time="${VXK_FUZZ_SECONDS:-20}" -timeout=10 -print_final_stats=1 "${dict[@]}" "$work")
done

echo "== test code against library code"
"$VXK_ROOT/scripts/test_ratio.sh"

echo "== all test runs passed in $((SECONDS - start)) s"
