# Shared by the tests behind nginx (sourced). Expects $work (a private
# folder) and the array pids (processes stopped on exit).

# require_tools <test> <tool>...: exits 77 (skipped) unless every tool is
# there; then /usr/sbin (nginx) is on the path.
require_tools() {
  local what="$1" tool
  shift
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null && [ ! -x "/usr/sbin/$tool" ]; then
      echo "SKIPPED: $tool is needed for $what (Debian packages $*)"
      exit 77
    fi
  done
  PATH="$PATH:/usr/sbin"
}

# Ends the processes in pids and waits for them.
stop_pids() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}

failures=0
# check <fact> <expected> <actual>
check() {
  if [ "$2" == "$3" ]; then
    echo "ok: $1"
  else
    echo "FAIL: $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  fi
}

# Ends the test: its status is that of the checks.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures checks failed"
    exit 1
  fi
  echo "all checks passed"
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start <name> <command...>: runs the command in the background, its errors
# in $work/<name>.err; its first output line arrives through a pipe, so
# waiting for it needs no polling. Sets $first_line and $started_pid.
start() {
  local name="$1"
  shift
  mkfifo "$work/$name.fifo"
  "$@" >"$work/$name.fifo" 2>"$work/$name.err" &
  started_pid=$!
  pids+=("$started_pid")
  # The read end stays open on a descriptor of its own until the end, so a
  # later line does not kill the process with SIGPIPE.
  exec {fd}<"$work/$name.fifo"
  if ! IFS= read -r -t 60 -u "$fd" first_line; then
    echo "FAIL: $name printed no first line"
    cat "$work/$name.err"
    exit 1
  fi
}

# start_server <name> <vxhost serve arguments...>: `vxhost serve` on a free
# loopback port; sets $server_addr (HOST:PORT) and $started_pid.
start_server() {
  local name="$1"
  shift
  start "$name" "$vxhost" serve --listen 127.0.0.1:0 "$@"
  server_addr="${first_line#listening on http://}"
  server_addr="${server_addr%/}"
}

# wait_port <port> <pid>: polls until the port takes connections (bounded;
# stops early when the process is gone).
wait_port() {
  local i
  for ((i = 0; i < 600; i++)); do
    if (: <>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    if ! kill -0 "$2" 2>/dev/null; then break; fi
    sleep 0.05
  done
  echo "FAIL: nothing listens on port $1"
  cat "$work"/nginx-*/out "$work"/nginx-*/error.log 2>/dev/null || true
  exit 1
}

# A self-signed certificate for localhost, which the proxy shows and curl
# checks against (--cacert, never -k): $work/cert.pem, $work/key.pem.
make_cert() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -addext subjectAltName=DNS:localhost \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.err"
}

# run_nginx <name> <upstream host:port>...: renders the deploy file $conf for
# this machine (a `server` entry for each upstream, all on one line) and
# starts nginx on two free ports, with $nginx_workers worker processes (1
# unless set); sets $https_port, $http_port and $nginx_pid.
run_nginx() {
  local name="$1" prefix="$work/nginx-$1" servers="" upstream
  shift
  for upstream in "$@"; do servers="$servers${servers:+ }server $upstream;"; done
  https_port="$(free_port)"
  http_port="$(free_port)"
  mkdir -p "$prefix"
  sed -e "s|@UPSTREAM_SERVERS@|$servers|" -e "s|@SERVER_NAME@|localhost|" \
      -e "s|@CERT@|$work/cert.pem|" -e "s|@KEY@|$work/key.pem|" \
      -e "s|^\( *listen\) 443 |\1 127.0.0.1:$https_port |" \
      -e "s|^\( *listen\) 80;|\1 127.0.0.1:$http_port;|" "$conf" >"$prefix/vxhost.conf"
  if grep -n '@[A-Z_]*@' "$prefix/vxhost.conf"; then
    echo "FAIL: the deploy file has a placeholder the documentation does not name"
    exit 1
  fi
  check "the deploy file names every upstream server" "$#" "$(grep -v '^ *#' "$prefix/vxhost.conf" | grep -o 'server [0-9.:]*;' | wc -l)"
  check "the deploy file listens on 443" 1 "$(grep -c "listen 127.0.0.1:$https_port ssl" "$prefix/vxhost.conf")"
  check "the deploy file listens on 80" 1 "$(grep -c "listen 127.0.0.1:$http_port;" "$prefix/vxhost.conf")"
  local user=""
  # As root, workers would switch to nobody and could not reach the temp
  # folders under the private work folder.
  [ "$(id -u)" = 0 ] && user="user root;"
  cat >"$prefix/nginx.conf" <<EOF
$user
worker_processes ${nginx_workers:-1};
error_log $prefix/error.log;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $prefix/body;
  proxy_temp_path $prefix/proxy;
  fastcgi_temp_path $prefix/fastcgi;
  uwsgi_temp_path $prefix/uwsgi;
  scgi_temp_path $prefix/scgi;
  include $prefix/vxhost.conf;
}
EOF
  nginx -e stderr -p "$prefix" -c "$prefix/nginx.conf" -g "daemon off; pid $prefix/nginx.pid;" \
    >"$prefix/out" 2>&1 &
  nginx_pid=$!
  pids+=("$nginx_pid")
  wait_port "$https_port" "$nginx_pid"
  wait_port "$http_port" "$nginx_pid"
}

https() {
  curl -sS --cacert "$work/cert.pem" --resolve "localhost:$https_port:127.0.0.1" "$@"
}
