#!/usr/bin/env bash
# Test code against library code, by non-blank lines of C and C++ sources:
# tests/ against src/ + include/ + tools/ for the whole project, and
# tests/<subsystem>/ against src/<subsystem>/ + include/vxkernel/<subsystem>/
# for each subsystem. The limits are 40 % overall and 60 % per subsystem
# (the aim is a quarter to a third). Prints the table; exits 1 when a limit
# is broken.
set -uo pipefail
cd "$(dirname "$0")/.."

count() {
  local n
  n=$(find "$@" -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) \
        -print0 2>/dev/null | xargs -0 -r cat | grep -cv '^[[:space:]]*$')
  echo "${n:-0}"
}

code=$(count src include tools)
tests=$(count tests)
status=0
printf '%-12s %8s %8s %6s\n' subsystem code tests ratio
for d in src/*/; do
  sub=$(basename "$d")
  [ "$sub" = port ] && continue
  c=$(count "src/$sub" "include/vxkernel/$sub")
  t=$(count "tests/$sub")
  [ "$c" -gt 0 ] || continue
  r=$((100 * t / c))
  mark=""
  if [ "$r" -gt 60 ]; then mark="  over 60 %"; status=1; fi
  printf '%-12s %8d %8d %5d%%%s\n' "$sub" "$c" "$t" "$r" "$mark"
done
r=$((100 * tests / code))
mark=""
if [ "$r" -gt 40 ]; then mark="  over 40 %"; status=1; fi
printf '%-12s %8d %8d %5d%%%s\n' total "$code" "$tests" "$r" "$mark"
exit $status
