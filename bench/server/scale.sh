#!/usr/bin/env bash
# Several servers behind nginx: the list page and a 16 KiB download through
# deploy/nginx/vxhost.conf (rendered as the tests do, TLS with a self-signed
# certificate) with 1, 2 and 3 `vxhost serve` instances in its upstream:
#   bench/server/scale.sh <vxhost binary> [seconds per run, default 10] [rounds, default 3]
# The three instances share one data folder, a local one: this measures
# what spreading requests over processes gives, not a network volume. wrk
# (2 threads, 64 connections) runs against each upstream size in turn, in
# rounds; the medians of requests/s and p99 latency are printed. Everything
# started here is stopped on exit. Builds nothing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
vxhost="$(realpath "${1:?usage: $0 <vxhost binary> [seconds] [rounds]}")"
seconds="${2:-10}"
rounds="${3:-3}"
conf="$here/../../deploy/nginx/vxhost.conf"
PATH="$PATH:/usr/sbin"
for tool in nginx openssl wrk curl python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

work="$(mktemp -d /tmp/vxhost-scale-bench.XXXXXX)"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
. "$here/lib.sh"
. "$here/../../tests/deploy/lib.sh"
mkdir -p "$work/data"
printf '[server]\ntrusted_proxies=127.0.0.1\nserver_names=localhost,127.0.0.1\nrequests_per_second_per_address=0\n' \
  >"$work/data/vxhost.ini"
bench_token
make_cert

upstreams=()
for name in a b c; do
  start_server "$name" --data "$work/data" --instance "$name"
  upstreams+=("$server_addr")
done
head -c 16384 /dev/urandom >"$work/doc16k.bin"
key="$(curl -sf "${auth[@]}" -D - -o /dev/null -F "file=@$work/doc16k.bin;filename=doc16k.bin" \
  "http://${upstreams[0]}/upload" | tr -d '\r' | sed -n 's/^[Xx]-[Dd]oc-[Kk]eys: *//p' || true)"
[ -n "$key" ] || { echo "the upload gave no key" >&2; exit 1; }

# One nginx for each upstream size, with as many workers as cores.
nginx_workers=auto
declare -A url
for n in 1 2 3; do
  run_nginx "$n" "${upstreams[@]:0:n}" >/dev/null
  url[$n]="https://localhost:$https_port/"
  # Every server of the upstream has the document (the others learn of it
  # through the first one's log) before anything is measured.
  for ((i = 0; i < n; i++)); do
    for ((tries = 0; tries < 300; tries++)); do
      curl -sf "${auth[@]}" -o /dev/null "http://${upstreams[i]}/doc/$key" && break
      sleep 0.1
    done
  done
  curl -sf -k "${auth[@]}" -o "$work/fetched.bin" "${url[$n]}doc/$key"
  cmp -s "$work/fetched.bin" "$work/doc16k.bin" || { echo "the download through nginx differs" >&2; exit 1; }
done

echo "wrk -t2 -c64 -d${seconds}s over TLS, $rounds rounds, medians; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
# Rounds interleave the sizes so that a change in the machine's load falls
# on all of them.
for ((round = 1; round <= rounds; round++)); do
  for target in list download; do
    path=""
    [ "$target" = download ] && path="doc/$key"
    for n in 1 2 3; do measure "${url[$n]}$path" >>"$work/$target.$n"; done
  done
done
printf '%-10s %-8s %11s %10s\n' target servers "requests/s" "p99 ms"
for target in list download; do
  for n in 1 2 3; do
    printf '%-10s %-8s %11s %10s\n' "$target" "$n" "$(cut -d' ' -f1 "$work/$target.$n" | median)" \
      "$(cut -d' ' -f3 "$work/$target.$n" | median)"
  done
done
