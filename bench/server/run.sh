#!/usr/bin/env bash
# The document-drop server against nginx on loopback:
#   bench/server/run.sh <vxhost binary> [seconds per run, default 10] [rounds, default 3]
# Starts `vxhost serve` on a free port with a fresh data folder, uploads one
# 16 KiB document, and starts nginx on another free port serving the same
# file under the same path and a static copy of the list page. Then wrk (2
# threads) runs against the list page and the download on each, in rounds,
# at each number of open connections in CONNECTIONS (default "64"; e.g.
# CONNECTIONS="64 256 1000"), and the medians of the requests/s and p50/p99
# latencies are printed side by side, one block per number. Everything
# started here is stopped on exit. Builds nothing: give it a built vxhost
# (cmake --build build --target vxhost).
set -euo pipefail
vxhost="$(realpath "${1:?usage: $0 <vxhost binary> [seconds] [rounds]}")"
seconds="${2:-10}"
rounds="${3:-3}"
connections="${CONNECTIONS:-64}"
nginx="${NGINX:-/usr/sbin/nginx}"
for tool in "$nginx" wrk curl python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

# Each connection is a descriptor in wrk, in the server and in nginx.
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"

work="$(mktemp -d /tmp/vxhost-bench.XXXXXX)"
server_pid=""
nginx_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill -TERM "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  exec 3<&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# nginx's workers may run as another user: they need to read the files.
chmod 755 "$work"
mkdir -p "$work/data" "$work/www/doc" "$work/nginx-temp"

# The server, with a token for every request; the per-address request rate
# and connections are not capped, since all of wrk's connections come from
# one address.
printf '[server]\nrequests_per_second_per_address=0\nconns_per_address=0\n' >"$work/data/vxhost.ini"
. "$(dirname "$0")/lib.sh"
bench_token
bench_start_server
cat <&3 >/dev/null &

head -c 16384 /dev/urandom >"$work/doc16k.bin"
curl -sf "${auth[@]}" -o /dev/null -F "file=@$work/doc16k.bin;filename=doc16k.bin" "${server_url}upload"
curl -sf "${auth[@]}" -o "$work/www/index.html" "$server_url"
key="$(grep -o 'href="/doc/[^"/]*"' "$work/www/index.html" | head -n 1 | sed 's|href="/doc/||; s|"$||')"
[ -n "$key" ] || { echo "the uploaded document is not on the list page" >&2; exit 1; }
curl -sf "${auth[@]}" -o "$work/fetched.bin" "${server_url}doc/$key"
cmp -s "$work/fetched.bin" "$work/doc16k.bin" || { echo "the download differs from the upload" >&2; exit 1; }
cp "$work/doc16k.bin" "$work/www/doc/$key"
chmod -R a+rX "$work/www"

# nginx: same file under the same path, the list page as a static file.
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
cat >"$work/nginx.conf" <<EOF
daemon off;
worker_processes auto;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 4096; }
http {
  access_log off;
  # As Debian's own configuration has it.
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/nginx-temp/body;
  proxy_temp_path $work/nginx-temp/proxy;
  fastcgi_temp_path $work/nginx-temp/fastcgi;
  uwsgi_temp_path $work/nginx-temp/uwsgi;
  scgi_temp_path $work/nginx-temp/scgi;
  types { text/html html; }
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    index index.html;
  }
}
EOF
"$nginx" -p "$work" -e "$work/nginx-error.log" -c "$work/nginx.conf" &
nginx_pid=$!
nginx_url="http://127.0.0.1:$port/"
curl -sf -o "$work/nginx.bin" --retry 30 --retry-connrefused --retry-max-time 60 "${nginx_url}doc/$key" ||
  { echo "nginx did not answer:" >&2; cat "$work/nginx-error.log" >&2; exit 1; }
cmp -s "$work/nginx.bin" "$work/doc16k.bin"

echo "vxhost $server_url and nginx $nginx_url; list page $(stat -c %s "$work/www/index.html") bytes"
echo "wrk -t2 -d${seconds}s, connections: $connections; $rounds rounds, medians; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for conns in $connections; do
  # Rounds interleave the servers so that a change in the machine's load
  # falls on both.
  for ((round = 1; round <= rounds; round++)); do
    for target in list download; do
      path=""
      [ "$target" = download ] && path="doc/$key"
      measure "$server_url$path" "$conns" >>"$work/$target.$conns.vxhost"
      measure "$nginx_url$path" "$conns" >>"$work/$target.$conns.nginx"
    done
  done
  echo
  printf '%-6s %-10s %-7s %11s %10s %10s\n' conns target server "requests/s" "p50 ms" "p99 ms"
  declare -A rps p99
  for target in list download; do
    for server in vxhost nginx; do
      f="$work/$target.$conns.$server"
      rps[$target.$server]="$(cut -d' ' -f1 "$f" | median)"
      p50="$(cut -d' ' -f2 "$f" | median)"
      p99[$target.$server]="$(cut -d' ' -f3 "$f" | median)"
      printf '%-6s %-10s %-7s %11s %10s %10s\n' "$conns" "$target" "$server" "${rps[$target.$server]}" "$p50" \
        "${p99[$target.$server]}"
    done
  done
  for target in list download; do
    awk -v c="$conns" -v t="$target" -v r1="${rps[$target.vxhost]}" -v r2="${rps[$target.nginx]}" \
      -v q1="${p99[$target.vxhost]}" -v q2="${p99[$target.nginx]}" \
      'BEGIN { printf "%-6s %-10s requests/s %.2f x nginx, p99 %.2f x nginx\n", c, t, r1 / r2, q1 / q2 }'
  done
done
