#!/usr/bin/env bash
# One large upload, as the page sends it (multipart/form-data, curl -F), to
# vxhost and to nginx as an upload sink (client_body_in_file_only on: nginx
# writes the body once, into its client_body_temp, and keeps the file),
# both with their data under one folder in /tmp. The two alternate within
# each round; prints the medians of curl's time_total side by side with
# vxhost's throughput as a share of nginx's, and the bytes vxhost wrote and
# read per upload (its /proc/PID/io write_bytes and read_bytes: what reaches
# the disk layer, whatever the load).
#   bench/server/upload.sh [vxhost binary] [MiB] [rounds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
vxhost="${1:-$here/../../build/tools/vxhost/vxhost}"
mib="${2:-1024}"
rounds="${3:-3}"
work="$(mktemp -d /tmp/vxhost-upload-bench.XXXXXX)"
nginx_pid=""
trap 'kill "${server_pid:-0}" 2>/dev/null || true; [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null; rm -rf "$work"' EXIT
. "$here/lib.sh"
mkdir -p "$work/data" "$work/nginx/body" "$work/nginx/logs"
# nginx's workers drop to an unprivileged user when it starts as root.
chmod 755 "$work" "$work/nginx"
chmod 777 "$work/nginx/body"
bench_token
printf '[server]\nmax_upload_bytes=4294967295\nmin_free_bytes=0\nrequests_per_second_per_address=0\n' \
  >"$work/data/vxhost.ini"
head -c "$((mib << 20))" /dev/urandom >"$work/upload.bin"

# nginx reads the body only for a handler that wants it: the proxy does,
# and its upstream (a second server of the same nginx) answers 204 without
# the body.
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
back="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  server {
    listen 127.0.0.1:$port;
    location /up {
      client_body_in_file_only on;
      client_max_body_size 4g;
      proxy_pass_request_body off;
      proxy_set_header Content-Length "";
      proxy_pass http://127.0.0.1:$back/done;
    }
  }
  server {
    listen 127.0.0.1:$back;
    location /done { return 204; }
  }
}
EOF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
bench_start_server
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done

# The time of one upload; fails unless the answer is the expected status.
upload() {
  local url="$1" want="$2" out
  out="$(curl -s -o /dev/null -w '%{http_code} %{time_total}' "${auth[@]}" -F "file=@$work/upload.bin" "$url")"
  [ "${out%% *}" = "$want" ] || { echo "upload to $url answered ${out%% *}, not $want" >&2; tail -3 "$work/nginx/logs/error.log" >&2; exit 1; }
  echo "${out#* }"
}

echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
: >"$work/vx.times"
: >"$work/nginx.times"
# A field of vxhost's /proc/PID/io.
io() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$server_pid/io"; }
: >"$work/vx.io"
for round in $(seq "$rounds"); do
  w0="$(io write_bytes)" r0="$(io read_bytes)"
  upload "${server_url}upload" 303 >>"$work/vx.times"
  echo "$(($(io write_bytes) - w0)) $(($(io read_bytes) - r0))" >>"$work/vx.io"
  upload "http://127.0.0.1:$port/up" 204 >>"$work/nginx.times"
  # nginx keeps each body: one file of the body's size, removed for the next round.
  kept="$(find "$work/nginx/body" -type f -size +"$((mib << 10))"k | wc -l)"
  [ "$kept" = 1 ] || { echo "nginx kept $kept body files in round $round, not 1" >&2; exit 1; }
  find "$work/nginx/body" -type f -delete
  echo "round $round: vxhost $(tail -1 "$work/vx.times") s, nginx $(tail -1 "$work/nginx.times") s;" \
    "vxhost wrote $(tail -1 "$work/vx.io" | cut -d' ' -f1) bytes, read $(tail -1 "$work/vx.io" | cut -d' ' -f2)"
done
vx="$(median <"$work/vx.times")"
ng="$(median <"$work/nginx.times")"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v vx="$vx" -v ng="$ng" -v mib="$mib" 'BEGIN {
  printf "%d MiB upload, median of the rounds\n", mib
  printf "vxhost %.2f s (%.0f MiB/s)   nginx %.2f s (%.0f MiB/s)   vxhost/nginx throughput %.2f\n",
    vx, mib / vx, ng, mib / ng, ng / vx }'
