#!/usr/bin/env bash
# Runs nginx with deploy/nginx/vxhost.conf in front of `vxhost serve` and
# checks what a browser and the server see through it:
#   nginx_tls_test.sh <vxhost binary> <deploy/nginx/vxhost.conf>
# The deploy file itself is rendered (placeholders filled, listen lines moved
# to free loopback ports), so a fault in it fails here. A second nginx in
# front of a header-echoing upstream shows the headers the server is sent.
# Exits 77 (skipped) when nginx, openssl, curl or python3 is missing.
set -euo pipefail
vxhost="$1"
conf="$2"

work="$(mktemp -d)"
pids=()
stop_all() {
  stop_pids
  rm -rf "$work"
}
trap stop_all EXIT
trap 'exit 1' INT TERM

. "$(dirname "$0")/lib.sh"
require_tools "the TLS proxy test" nginx openssl curl python3
make_cert

# ===== Through nginx to vxhost =====
mkdir -p "$work/data"
printf '[server]\ntrusted_proxies=127.0.0.1\nserver_names=localhost\n' >"$work/data/vxhost.ini"
printf 'proxy-test-pw\n' | "$vxhost" user add tester --data "$work/data" >/dev/null
token="$("$vxhost" token add tester --data "$work/data")"
start_server vxhost --data "$work/data"
vxhost_pid=$started_pid
run_nginx vxhost "$server_addr"

# Nothing without a login; the login sets a session cookie marked Secure,
# since the request came over TLS through a trusted proxy; the cookie opens
# the list page. The Origin is the one a browser on this page sends.
check "GET / over TLS without a login goes to /login" "303 https://localhost:$https_port/login" \
  "$(https -o /dev/null -w '%{http_code} %{redirect_url}' "https://localhost:$https_port/")"
login="$(https -D - -o /dev/null -c "$work/cookies" -H "Origin: https://localhost:$https_port" \
  -d user=tester -d password=proxy-test-pw "https://localhost:$https_port/login")"
check "the login over TLS is accepted" 1 "$(grep -c '^HTTP/[0-9.]* 303' <<<"$login")"
check "the session cookie is Secure" 1 "$(grep -ci '^set-cookie: vxsession=.*; Secure' <<<"$login")"
check "the session opens GET / over TLS" 200 \
  "$(https -b "$work/cookies" -o "$work/list.html" -w '%{http_code}' "https://localhost:$https_port/")"
check "GET / over TLS shows the document list" 1 "$(grep -c '<table id="docs"' "$work/list.html")"

# /log has a location of its own, where the header must still be inherited.
headers="$(https -D - -o /dev/null "https://localhost:$https_port/log")"
check "HSTS on the log page" 1 "$(grep -ci '^strict-transport-security: max-age=' <<<"$headers")"
headers="$(https -H "Authorization: Bearer $token" -D - -o /dev/null "https://localhost:$https_port/doc/nosuchkey")"
check "an error page is a 404" 1 "$(grep -c '^HTTP/[0-9.]* 404' <<<"$headers")"
check "HSTS on an error page" 1 "$(grep -ci '^strict-transport-security: max-age=' <<<"$headers")"

# Larger than nginx's default body limit (1 MiB), so it passes only with the
# deploy file's own limit.
head -c 2097152 /dev/urandom >"$work/upload.bin"
check "a 2 MiB upload is stored through the proxy" 303 \
  "$(https -H "Authorization: Bearer $token" -o /dev/null -w '%{http_code}' -F "file=@$work/upload.bin" \
       "https://localhost:$https_port/upload")"
# The server refuses chunked bodies (411); nginx must collect one and pass it
# on with a Content-Length.
check "a chunked upload is stored through the proxy" 303 \
  "$(https --http1.1 -H "Authorization: Bearer $token" -H 'Transfer-Encoding: chunked' -o /dev/null -w '%{http_code}' -F "file=@$work/upload.bin" \
       "https://localhost:$https_port/upload")"

check "plain HTTP is redirected to https with path and query" "301 https://localhost/doc/x?a=1" \
  "$(curl -sS -o /dev/null -w '%{http_code} %{redirect_url}' -H 'Host: other.example' \
       "http://127.0.0.1:$http_port/doc/x?a=1")"

# The client's own OpenSSL refuses TLS 1.1 at its default security level,
# which would make the refusal prove nothing; level 0 lets it offer 1.1, so
# only the proxy can say no. TLS 1.2 with the same options shows they work.
legacy=(--ciphers 'DEFAULT:@SECLEVEL=0' -o /dev/null -w '%{http_code}')
check "TLS 1.2 is accepted" 200 "$(https "${legacy[@]}" --tlsv1.2 --tls-max 1.2 "https://localhost:$https_port/login" || true)"
check "TLS 1.1 is refused" 000 "$(https "${legacy[@]}" --tlsv1.1 --tls-max 1.1 "https://localhost:$https_port/login" 2>/dev/null || true)"

# With every request served through the proxy, the server still stops as it
# should (in the sanitizer build this is where a leak or fault shows).
kill -TERM "$vxhost_pid"
status=0
wait "$vxhost_pid" || status=$?
check "vxhost stops cleanly on SIGTERM" 0 "$status"
[ "$status" = 0 ] || cat "$work/vxhost.err"

# ===== The headers the server is sent =====
cat >"$work/echo.py" <<'EOF'
import http.server
class Echo(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = "".join(f"{k}: {v}\n" for k, v in self.headers.items()).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Echo)
print(server.server_address[1], flush=True)
server.serve_forever()
EOF
start echo python3 "$work/echo.py"
run_nginx echo "127.0.0.1:$first_line"
seen="$(https -H 'X-Forwarded-For: 203.0.113.9' -H 'X-Forwarded-Proto: http' "https://localhost:$https_port/")"
check "X-Forwarded-For is the peer alone, not what the client sent" "X-Forwarded-For: 127.0.0.1" \
  "$(grep -i '^x-forwarded-for:' <<<"$seen")"
check "X-Forwarded-Proto says https" "X-Forwarded-Proto: https" "$(grep -i '^x-forwarded-proto:' <<<"$seen")"
check "Host is the name and port asked for" "Host: localhost:$https_port" "$(grep -i '^host:' <<<"$seen")"

finish
