#!/usr/bin/env bash
# Starvation of the document-drop server by idle and slow clients:
#   bench/server/starve.sh <vxhost binary> [seconds, default 30]
# Starts `vxhost serve` on a free port with a fresh data folder (as run.sh
# does), uploads one 16 MiB and one small document, then holds against it at
# once, from source addresses 127.0.1.1 onwards: 10,000 idle connections
# (100 per address), 1,000 slowloris connections (one byte of a head every
# 5 s, 100 per address), 64 stalled downloads of the 16 MiB document (small
# receive buffer, never read) and 64 open log pages (long polls in a row as
# the page's script does), one per address. Once the load is held, a probe
# from 127.0.0.2 asks GET / on a fresh connection every 100 ms; the server's
# VmRSS and VmHWM are sampled every 0.5 s. It prints the counts held, the
# probe's latencies and failures, the peak memory, and a table row for
# docs/benchmarks.md; exit status 1 when a target is missed (probe p99 over
# 50 ms, any probe failure, peak RSS of 256 MB or more, or a load count never
# reached). The load and the probe are bench/starve_load (built with
# -DVXKERNEL_BUILD_BENCHMARKS=ON: cmake --build build --target starve_load
# vxhost); STARVE_LOAD names another copy. A user and a token are made and
# every request carries `Authorization: Bearer TOKEN` (the idle and
# slowloris clients excepted: they stand for strangers). Everything started here is stopped on exit.
set -euo pipefail
vxhost="$(realpath "${1:?usage: $0 <vxhost binary> [seconds]}")"
seconds="${2:-30}"
load_tool="${STARVE_LOAD:-$(dirname "$vxhost")/../../bench/starve_load}"
idle=10000 slow=1000 stalled=64 logs=64
for tool in "$load_tool" curl; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

# Both the server and the load tool hold a descriptor per connection, and
# the server inherits this limit. Where the hard limit is below 65536 (a
# container), the hard limit itself is enough if it covers the load.
need=$((idle + slow + stalled + logs + 1000))
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"
files="$(ulimit -n)"
if [ "$files" != unlimited ] && [ "$files" -lt "$need" ]; then
  echo "ulimit -n is $files; the load needs $need open files" >&2
  exit 1
fi

work="$(mktemp -d /tmp/vxhost-starve.XXXXXX)"
server_pid=""
load_pid=""
sampler_pid=""
stop() {  # TERM, then KILL after 10 s: a starved server may not get to its exit
  local pid="$1"
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
cleanup() {
  [ -n "$sampler_pid" ] && stop "$sampler_pid"
  [ -n "$load_pid" ] && stop "$load_pid"
  [ -n "$server_pid" ] && stop "$server_pid"
  exec 3<&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -p "$work/data"

. "$(dirname "$0")/lib.sh"
bench_token
bench_start_server
port="${server_url##*:}"
port="${port%/}"
cat <&3 >/dev/null &

# Uploads a file; prints the key the server gave it.
upload() {
  curl -sf "${auth[@]}" -D - -o /dev/null -F "file=@$1;filename=$(basename "$1")" "${server_url}upload" |
    tr -d '\r' | awk -F': *' 'tolower($1) == "x-doc-keys" { print $2 }'
}
head -c $((16 << 20)) /dev/urandom >"$work/big.bin"
head -c 2048 /dev/urandom >"$work/small.bin"
big="$(upload "$work/big.bin")"
small="$(upload "$work/small.bin")"
[ -n "$big" ] && [ -n "$small" ] || { echo "an upload got no key" >&2; exit 1; }
curl -sf "${auth[@]}" -o "$work/fetched.bin" "${server_url}doc/$big"
cmp -s "$work/fetched.bin" "$work/big.bin" || { echo "the download differs from the upload" >&2; exit 1; }
rm -f "$work/fetched.bin" "$work/big.bin"

# The load runs until stopped; it prints "ramped" once its connections are
# held (or had their chance), and its counts when it stops.
"$load_tool" load --port="$port" --doc="$big" --seconds=100000 --token="$token" \
  --idle="$idle" --slow="$slow" --stalled="$stalled" --logs="$logs" >"$work/load.out" 2>"$work/load.err" &
load_pid=$!
for _ in $(seq 600); do
  grep -q '^ramped' "$work/load.out" && break
  kill -0 "$load_pid" 2>/dev/null || { echo "the load tool failed:" >&2; cat "$work/load.err" >&2; exit 1; }
  sleep 0.1
done
grep -q '^ramped' "$work/load.out" || { echo "the load did not ramp up within 60 s" >&2; exit 1; }

(while kill -0 "$server_pid" 2>/dev/null; do
  awk '$1 == "VmRSS:" { rss = $2 } $1 == "VmHWM:" { hwm = $2 } END { print rss, hwm }' "/proc/$server_pid/status"
  sleep 0.5
done) >"$work/memory" 2>/dev/null &
sampler_pid=$!

"$load_tool" probe --port="$port" --seconds="$seconds" --token="$token" --source=127.0.0.2 >"$work/probe.out"
server_alive=yes
kill -0 "$server_pid" 2>/dev/null || server_alive=no
hwm_kb="$(awk '$1 == "VmHWM:" { print $2 }' "/proc/$server_pid/status" 2>/dev/null || echo 0)"
stop "$sampler_pid"
sampler_pid=""
stop "$load_pid"
load_pid=""

echo "vxhost $server_url; $seconds s probe; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); ulimit -n $files"
echo "token: yes (every request but the idle and slowloris ones carries it)"
grep -v '^HELD' "$work/load.out"
grep -v '^PROBE' "$work/probe.out"
grep -q '^PROBE' "$work/probe.out" || { echo "the probe printed no result" >&2; exit 1; }
grep -q '^HELD' "$work/load.out" || { echo "the load tool printed no counts" >&2; exit 1; }
read -r _ probes failed p50 p90 p99 pmax < <(grep '^PROBE' "$work/probe.out")
rss_mb="$(awk -v h="$hwm_kb" '{ if ($1 > m) m = $1 } END { printf "%.1f", (h > m ? h : m) / 1024 }' "$work/memory")"
max_rss_mb="$(awk '{ if ($1 > m) m = $1 } END { printf "%.1f", m / 1024 }' "$work/memory")"
echo "probe latency ms: p50 $p50, p90 $p90, p99 $p99, max $pmax; $failed of $probes failed"
echo "server memory: peak RSS (VmHWM) $rss_mb MB; highest VmRSS sampled during the probe $max_rss_mb MB"

# The lowest counts held while the probe ran make the table; a kind whose
# highest count never reached its target was not held at all.
kinds=("idle" "slowloris" "stalled download" "log page")
held_cells=""
missed=()
i=0
while read -r _ low high target; do
  held_cells+="${held_cells:+ / }$low"
  [ "$high" -lt "$target" ] && missed+=("${kinds[$i]} connections: at most $high of $target held")
  i=$((i + 1))
done < <(grep '^HELD' "$work/load.out")
[ "$server_alive" = yes ] || missed+=("the server exited during the run")
awk -v v="$p99" 'BEGIN { exit !(v > 50) }' && missed+=("probe p99 $p99 ms > 50 ms")
[ "$failed" -gt 0 ] && missed+=("$failed probe failures")
awk -v v="$rss_mb" 'BEGIN { exit !(v >= 256) }' && missed+=("peak RSS $rss_mb MB >= 256 MB")

echo
echo "| Run | held (min): idle / slowloris / stalled / log pages | probe p50 / p90 / p99 / max | probe failures | peak RSS |"
echo "|---|---|---|---|---|"
echo "| $(date -u '+%Y-%m-%d') | $held_cells | $p50 / $p90 / $p99 / $pmax ms | $failed of $probes | $rss_mb MB |"
if [ "${#missed[@]}" -gt 0 ]; then
  echo
  for m in "${missed[@]}"; do echo "MISSED: $m"; done
  exit 1
fi
echo "all targets met"
