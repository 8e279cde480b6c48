#!/usr/bin/env bash
# Mutation check of the test suite: applies each small source mutation of
# scripts/mutants.txt to a scratch copy of the tree, rebuilds only the test
# programs the mutant names (incrementally) and runs them. A mutant is
# "killed" when a test fails, "survived" when all pass, and "stillborn" when
# it does not compile. Not part of CI (it takes a while); the last result is
# summarised in docs/testing.md.
#
#   scripts/mutants.sh [ID...]        all mutants, or only those named
#
# Environment: VXK_MUTANTS_DIR (scratch folder, default /tmp/vxk-mutants),
# VXK_MUTANTS_OUT (result table, default <scratch>/results.txt).
#
# A mutant in scripts/mutants.txt is three lines:
#   @@ <id> <file> <test>...        (CTest names; vxhost_* tests build vxhost)
#   - <the exact original text, unique in the file>
#   + <its replacement>
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
list="$root/scripts/mutants.txt"
work="${VXK_MUTANTS_DIR:-/tmp/vxk-mutants}"
out="${VXK_MUTANTS_OUT:-$work/results.txt}"
tree="$work/tree"
build="$work/build"
jobs=$(nproc)

mkdir -p "$work"
# The scratch tree follows the checkout: a file whose bytes changed since
# the last run is copied with a new time, so the build redoes it; the others
# keep their time. (Copying every file with its own time would leave a file
# changed back after the last run's build older than its object.)
stage="$work/stage"
rm -rf "$stage" && mkdir -p "$stage" "$tree"
tar -C "$root" --exclude='./build*' --exclude='./.git' -cf - . | tar -C "$stage" -xf -
(cd "$stage" && find . -type f) | while IFS= read -r f; do
  cmp -s "$stage/$f" "$tree/$f" || { mkdir -p "$(dirname "$tree/$f")" && cp "$stage/$f" "$tree/$f"; }
done
(cd "$tree" && find . -type f) | while IFS= read -r f; do
  [ -e "$stage/$f" ] || rm -f "$tree/$f"
done
# With ccache, restoring a mutated file costs a cache hit instead of a
# second compile of every object that includes it.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DVXKERNEL_BUILD_TOOLS=ON "${launcher[@]}" >/dev/null || exit 1
echo "== building the unmutated tree"
cmake --build "$build" -j "$jobs" >/dev/null || { echo "the unmutated tree does not build"; exit 1; }

wanted=" $* "
: > "$out"
killed=0 survived=0 stillborn=0 broken=0
id="" file="" tests="" before=""
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    "@@ "*) read -r _ id file tests <<< "$line"; before=""; continue ;;
    "- "*) before="${line#- }"; continue ;;
    "+ "*) after="${line#+ }" ;;
    *) continue ;;
  esac
  [ "$wanted" = "  " ] || [[ "$wanted" == *" $id "* ]] || continue
  target="$tree/$file"
  cp "$target" "$work/original" 2>/dev/null || true
  # Exactly one occurrence is replaced; {NL} stands for a line end.
  count=$(BEFORE="$before" AFTER="$after" perl -0777 -i -pe '
      BEGIN { ($from, $to) = map { (my $t = $_) =~ s/\{NL\}/\n/g; $t } ($ENV{BEFORE}, $ENV{AFTER}); }
      $n = () = /\Q$from\E/g;
      s/\Q$from\E/$to/ if $n == 1;
      END { print STDERR "$n\n" }' "$target" 2>&1 >/dev/null)
  if [ "$count" != 1 ]; then
    printf '%-34s %-10s %s\n' "$id" broken "$file: the original text occurs ${count:-0} times" | tee -a "$out"
    broken=$((broken + 1))
    continue
  fi
  targets=$(for t in $tests; do [[ "$t" == vxhost_* ]] && echo vxhost || echo "$t"; done | sort -u)
  pattern="^($(echo $tests | tr ' ' '|'))\$"
  if ! cmake --build "$build" -j "$jobs" --target $targets >"$work/build.log" 2>&1; then
    result=stillborn; stillborn=$((stillborn + 1))
  elif (cd "$build" && timeout 900 ctest -j "$jobs" --no-tests=error -R "$pattern" >"$work/test.log" 2>&1); then
    result=survived; survived=$((survived + 1))
  else
    result=killed; killed=$((killed + 1))
  fi
  cp "$work/original" "$target"
  printf '%-34s %-10s %s\n' "$id" "$result" "$file" | tee -a "$out"
done < "$list"
echo "== $killed killed, $survived survived, $stillborn stillborn, $broken broken (table: $out)"
[ "$survived" -eq 0 ] && [ "$broken" -eq 0 ]
