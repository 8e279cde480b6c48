#!/usr/bin/env bash
# A search through the running server over 10,000 documents: uploads them
# (about 4 KB of Zipf-skewed made-up words each, 20 a request) with a
# token, waits until the background has read every text, then times the
# list page for a query (curl's time_total, 50 requests each): a common
# word (every document matches), a rare one, two words, a two-letter
# prefix, and the page without a query.
#   bench/server/search.sh [vxhost binary]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
vxhost="${1:-$here/../../build/tools/vxhost/vxhost}"
work="$(mktemp -d /tmp/vxhost-search-bench.XXXXXX)"
trap 'kill "${server_pid:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
. "$here/lib.sh"
mkdir -p "$work/data" "$work/files"
bench_token
printf '[server]\nrequests_per_second_per_address=0\n' >"$work/data/vxhost.ini"
words="$(python3 - "$work/files" <<'PY'
import random, sys
random.seed(7)
vocab = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(random.randint(3, 9)))
         for _ in range(20000)]
weights = [1 / (i + 1) for i in range(len(vocab))]
for i in range(10000):
    with open(f'{sys.argv[1]}/d{i:05d}.txt', 'w') as f:
        f.write(' '.join(random.choices(vocab, weights=weights, k=450)) + '\n')
print(vocab[0], vocab[5000], vocab[0][:2])
PY
)"
read -r common rare prefix <<<"$words"
bench_start_server
(cd "$work/files" && ls) | split -l 20 - "$work/batch."
# Four uploads at a time; each must be answered 303.
upload() {
  local args=() f
  while read -r f; do args+=(-F "file=@$work/files/$f"); done <"$1"
  [ "$(curl -s -o /dev/null -w '%{http_code}' "${auth[@]}" "${args[@]}" "${server_url}upload")" = 303 ] ||
    { echo "an upload of $1 failed" >&2; exit 1; }
}
pids=()
for b in "$work"/batch.*; do
  [ "${#pids[@]}" -lt 4 ] || { wait "${pids[0]}"; pids=("${pids[@]:1}"); }
  upload "$b" &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done
until [ "$(cat "$work"/data/logs/*.log | grep -c 'took the text')" -ge 10000 ]; do sleep 1; done
time_list() {
  for _ in $(seq 1 50); do curl -s -o /dev/null -w '%{time_total}\n' "${auth[@]}" "${server_url}$1"; done |
    sort -n | awk -v what="$2" '{t[NR] = $1 * 1000} END {printf "%-28s median %6.1f ms  p98 %6.1f ms\n", what, t[25], t[49]}'
}
time_list "?q=$common" "a common word"
time_list "?q=$rare" "a rare word"
time_list "?q=$common+$rare" "two words"
time_list "?q=$prefix" "a two-letter prefix"
time_list "" "no query"
