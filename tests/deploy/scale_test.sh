#!/usr/bin/env bash
# Three `vxhost serve` instances (a, b, c) on one shared data folder behind
# nginx running deploy/nginx/vxhost.conf itself:
#   scale_test.sh <vxhost binary> <deploy/nginx/vxhost.conf>
# Clients upload through nginx while b is killed; every confirmed upload must
# then be listed by every surviving server, and a session, a share link, a
# search, the live log and b's restart must work across the servers.
# The folder is a GlusterFS volume when it can be made (see shared_folder.sh),
# else a local folder.
# Environment:
#   VXHOST_SCALE_UPLOADS  how many uploads (default 60)
#   VXHOST_SCALE_CLIENTS  how many clients upload at once (default 16)
#   VXHOST_SCALE_SYNC_S   how long after a change's answer the other servers
#                         may take to show it (default 1). The product
#                         promises 1 s; CTest's default run allows more on a
#                         busy machine, the slow run holds it to 1 s.
# Exits 77 (skipped) when nginx, openssl, curl or python3 is missing.
set -euo pipefail
vxhost="$1"
conf="$2"
uploads="${VXHOST_SCALE_UPLOADS:-60}"
clients="${VXHOST_SCALE_CLIENTS:-16}"
sync_s="${VXHOST_SCALE_SYNC_S:-1}"

here="$(dirname "$0")"

work="$(mktemp -d)"
pids=()
stop_all() {
  stop_pids
  shared_folder_down
  rm -rf "$work"
}
trap stop_all EXIT
trap 'exit 1' INT TERM
. "$here/lib.sh"
. "$here/shared_folder.sh"
require_tools "the scale test" nginx openssl curl python3

# within <seconds> <start> <command...>: true when the command succeeds in
# an attempt begun at most <seconds> after <start> (an $EPOCHREALTIME); sets
# $took_ms, from <start> to that attempt's beginning. The one place a time
# bound is checked: it is what the servers promise. The command may read
# $deadline (microseconds since 1970) to start nothing later.
within() {
  local since="$2"
  deadline="$(awk -v limit="$1" -v since="$since" 'BEGIN { printf "%.0f", (since + limit) * 1000000 }')"
  shift 2
  local begun="$EPOCHREALTIME"
  while ((${begun/./} <= deadline)); do
    if "$@"; then
      took_ms="$(awk -v begun="$begun" -v since="$since" 'BEGIN { printf "%.0f", (begun - since) * 1000 }')"
      return 0
    fi
    sleep 0.05
    begun="$EPOCHREALTIME"
  done
  return 1
}

make_cert
shared_folder_up a b c
echo "the data folder: $shared_kind"
setup="${data_of[a]}"
printf '[server]\ntrusted_proxies=127.0.0.1\nserver_names=localhost,127.0.0.1\nrequests_per_second_per_address=0\n' \
  >"$setup/vxhost.ini"
printf 'scale-test-pw\n' | "$vxhost" user add tester --data "$setup" >/dev/null
token="$("$vxhost" token add tester --data "$setup")"
bearer=(-H "Authorization: Bearer $token")

declare -A addr pid_of
# serve <name> [--listen HOST:PORT]: a server named by the name's first
# letter (b2 is b again).
serve() {
  start_server "$1" --data "${data_of[${1:0:1}]}" --instance "${1:0:1}" "${@:2}"
  addr[${1:0:1}]="$server_addr"
  pid_of[${1:0:1}]="$started_pid"
}
serve a
serve b
serve c
run_nginx scale "${addr[a]}" "${addr[b]}" "${addr[c]}"

# ===== Uploads through nginx, b killed halfway =====
mkdir -p "$work/files" "$work/answers"
for ((n = 0; n < uploads; n++)); do printf 'upload %d of the scale test\n' "$n" >"$work/files/u$n.txt"; done
# Each client says once through this pipe when it has done its uploads of
# the first half; the test holds it open for reading and writing, so no
# client waits on it.
mkfifo "$work/half"
exec {half}<>"$work/half"
# client <i>: uploads files i, i + clients, ...; a 303 is a confirmed upload:
# "KEY FILE ANSWER-TIME" in answers/ok.i, anything else "FILE STATUS" in
# answers/failed.i.
client() {
  local n code key said=0
  for ((n = $1; n < uploads; n += clients)); do
    if ((said == 0 && n >= uploads / 2)); then printf x >&"$half"; said=1; fi
    code="$(https -o /dev/null -D "$work/answers/head$n" -w '%{http_code}' "${bearer[@]}" \
      -F "file=@$work/files/u$n.txt" "https://localhost:$https_port/upload" 2>/dev/null || true)"
    if [ "$code" = 303 ]; then
      key="$(tr -d '\r' <"$work/answers/head$n" | sed -n 's/^[Xx]-[Dd]oc-[Kk]eys: *//p')"
      echo "$key u$n.txt $EPOCHREALTIME" >>"$work/answers/ok.$1"
    else
      echo "u$n.txt $code" >>"$work/answers/failed.$1"
    fi
  done
  ((said == 1)) || printf x >&"$half"
}
uploaders=()
for ((i = 0; i < clients; i++)); do
  client "$i" &
  uploaders+=("$!")
done
read -r -N "$clients" -u "$half" ready
kill -KILL "${pid_of[b]}"
wait "${pid_of[b]}" 2>/dev/null || true
for p in "${uploaders[@]}"; do wait "$p"; done
cat "$work"/answers/ok.* 2>/dev/null | sort -k3,3n >"$work/confirmed"
cat "$work"/answers/failed.* >"$work/failed" 2>/dev/null || true
last_answer="$(tail -n 1 "$work/confirmed" | cut -d' ' -f3)"
echo "$(wc -l <"$work/confirmed") uploads confirmed, $(wc -l <"$work/failed") failed"
# Only the uploads on their way to b when it died may fail: nginx passes a
# POST it could not deliver to another server.
check "no more uploads fail than were under way" 1 "$(($(wc -l <"$work/failed") <= clients))"

# lists_all <server>...: each server's list holds every confirmed upload,
# asked directly; the keys one lacks go to $work/missing.<server>. A page
# costs a server a read of each row's extras from the volume, so the pages
# are asked only the first time (all at once) and later attempts ask for
# the missing documents one by one; every request starts before $deadline.
lists_all() {
  local pages=$(((uploads + 50) / 50)) s servers=()
  for s in "$@"; do servers+=("$s=http://${addr[$s]}"); done
  python3 - "$token" "$work/confirmed" "$deadline" "$pages" "$work/missing" "${servers[@]}" <<'EOF'
import concurrent.futures, json, sys, time, urllib.error, urllib.request
token, confirmed, deadline, pages, missing = sys.argv[1:6]
servers = dict(arg.split("=", 1) for arg in sys.argv[6:])
want = {line.split()[0] for line in open(confirmed)}

def ask(path):
    if time.time() * 1e6 > int(deadline):
        return None
    request = urllib.request.Request(path, headers={"Authorization": f"Bearer {token}"})
    try:
        return json.load(urllib.request.urlopen(request))
    except urllib.error.HTTPError as e:
        return {"status": e.code}
    except Exception as e:
        return {"error": str(e)}

asks = []  # (server, path, keys the answer may show)
for name, base in servers.items():
    try:
        lacking = open(f"{missing}.{name}").read().split()
    except FileNotFoundError:
        lacking = None
    if lacking is None:
        asks += [(name, f"{base}/api/docs?page={n}") for n in range(1, int(pages) + 1)]
    else:
        asks += [(name, f"{base}/api/docs/{key}") for key in lacking]
with concurrent.futures.ThreadPoolExecutor(max(len(asks), 1)) as pool:
    answers = list(pool.map(lambda a: (a[0], ask(a[1])), asks))
if any(answer is None for _, answer in answers):
    sys.exit(2)  # too late: the last whole attempt's answer stands
complete = True
for name in servers:
    seen = set()
    for n, answer in answers:
        if n == name:
            seen.update(d["key"] for d in answer.get("docs", [answer]) if "key" in d)
    try:
        lacking = set(open(f"{missing}.{name}").read().split())
    except FileNotFoundError:
        lacking = want
    lacking -= seen
    with open(f"{missing}.{name}", "w") as out:
        out.write(" ".join(sorted(lacking)))
    complete = complete and not lacking
sys.exit(0 if complete else 1)
EOF
}
in_time=0
within "$sync_s" "$last_answer" lists_all a c && in_time=1
for s in a c; do
  check "$s lists every confirmed upload within $sync_s s of the last answer" "" "$(cat "$work/missing.$s" 2>/dev/null || echo "not asked")"
done
# How long it took, for the record (a generous bound, only so that a fault
# ends the test).
((in_time == 1)) || within 10 "$last_answer" lists_all a c || true
echo "a and c listed every confirmed upload when asked ${took_ms:-never} ms after the last answer"

# fetch <server> <path> <file>: GET with the token into the file.
fetch() { curl -sS "${bearer[@]}" -o "$3" -w '%{http_code}' "http://${addr[$1]}$2"; }
read -r key name _ <"$work/confirmed"
for s in a c; do
  fetch "$s" "/doc/$key" "$work/download.$s" >/dev/null
  check "a download from $s has the uploaded bytes" 0 "$(cmp -s "$work/files/$name" "$work/download.$s"; echo $?)"
done

# ===== A search on another server than the one that stored the text =====
printf 'a note on the quokkaplume\n' >"$work/notes.txt"
curl -sS "${bearer[@]}" -o /dev/null -F "file=@$work/notes.txt" "http://${addr[a]}/upload"
# The text is taken in the background after the upload: a generous bound,
# only so that a fault ends the test.
finds() { fetch c "/api/docs?q=quokkaplume" "$work/search.json" >/dev/null && grep -q '"total": *1' "$work/search.json"; }
within 30 "$EPOCHREALTIME" finds || true
check "c finds a word of a text uploaded to a" 1 "$(grep -c '"name": *"notes.txt"' "$work/search.json")"

# ===== A share link made on a, used on c =====
curl -sS "${bearer[@]}" -o "$work/share.json" -d hours=1 "http://${addr[a]}/api/docs/$key/shares"
made="$EPOCHREALTIME"
link="$(python3 -c 'import json, sys, urllib.parse; print(urllib.parse.urlsplit(json.load(open(sys.argv[1]))["url"]).path)' "$work/share.json" || true)"
shared() { [ "$(curl -sS -o "$work/shared" -w '%{http_code}' "http://${addr[c]}$link")" = 200 ]; }
within "$sync_s" "$made" shared || true
check "a share link made on a gives the document on c" 0 "$(cmp -s "$work/files/$name" "$work/shared"; echo $?)"

# ===== A session: login on a, used on c, logout on a =====
cookie="$(curl -sS -D - -o /dev/null -d user=tester -d password=scale-test-pw "http://${addr[a]}/login" |
  tr -d '\r' | sed -n 's/^[Ss]et-[Cc]ookie: \(vxsession=[^;]*\).*/\1/p')"
logged_in="$EPOCHREALTIME"
# page <server>: the list page's status with the session cookie.
page() { curl -sS -H "Cookie: $cookie" -o "$work/page.$1" -w '%{http_code}' "http://${addr[$1]}/"; }
opens() { [ "$(page c)" = 200 ]; }
within "$sync_s" "$logged_in" opens || true
check "a session made on a opens the list on c" 200 "$(page c)"
page a >/dev/null
csrf="$(sed -n 's/.*name="csrf" value="\([^"]*\)".*/\1/p' "$work/page.a" | head -n 1)"
check "the logout on a is accepted" 303 \
  "$(curl -sS -H "Cookie: $cookie" -o /dev/null -w '%{http_code}' -d "csrf=$csrf" "http://${addr[a]}/logout")"
logged_out="$EPOCHREALTIME"
refused() { [ "$(page c)" = 303 ]; }
within "$sync_s" "$logged_out" refused || true
check "c refuses the session within $sync_s s of its logout on a" 303 "$(page c)"

# ===== b again, under the same name =====
# A temporary of each: b's is left from its death, a's belongs to a live
# upload. Only b's own start may sweep.
mkdir -p "$setup/tmp/a" "$setup/tmp/b"
echo planted >"$setup/tmp/a/planted"
echo planted >"$setup/tmp/b/planted"
# At its old address, as on a machine of its own, so nginx finds it again.
serve b2 --listen "${addr[b]}"
restarted="$EPOCHREALTIME"
check "b's restart empties its temporaries" 0 "$(find "$setup/tmp/b" -mindepth 1 | wc -l)"
check "b's restart leaves a's temporaries" planted "$(cat "$setup/tmp/a/planted")"
within "$sync_s" "$restarted" lists_all b || true
check "b lists every confirmed upload again" "" "$(cat "$work/missing.b" 2>/dev/null || echo "not asked")"
fetch b "/doc/$key" "$work/download.b" >/dev/null
check "a download from b has the uploaded bytes" 0 "$(cmp -s "$work/files/$name" "$work/download.b"; echo $?)"

# ===== The live log on a names the other instances =====
# log_names: the instance names of the entries a shows, one per line.
log_names() {
  fetch a "/log?after=0" "$work/log" >/dev/null
  awk -F'  ' 'NF >= 3 { print $2 }' "$work/log" | sort -u >"$work/log.names"
  grep -qx b "$work/log.names" && grep -qx c "$work/log.names"
}
within "$sync_s" "$EPOCHREALTIME" log_names || true
check "a's live log shows entries of b" 1 "$(grep -cx b "$work/log.names")"
check "a's live log shows entries of c" 1 "$(grep -cx c "$work/log.names")"

# ===== nginx passes a request a dead server did not take to a live one =====
kill -KILL "${pid_of[c]}"
wait "${pid_of[c]}" 2>/dev/null || true
answers=""
for _ in a b c; do
  answers="$answers $(https "${bearer[@]}" -o /dev/null -w '%{http_code}' "https://localhost:$https_port/api/status")"
done
check "with c killed, every GET through nginx is answered by a live server" " 200 200 200" "$answers"

# The survivors stop as they should, followers and all (in the sanitizer
# build this is where a leak or fault shows).
for s in a b2; do
  kill -TERM "${pid_of[${s:0:1}]}"
  status=0
  wait "${pid_of[${s:0:1}]}" || status=$?
  check "${s:0:1} stops cleanly on SIGTERM" 0 "$status"
  [ "$status" = 0 ] || cat "$work/$s.err"
done

finish
