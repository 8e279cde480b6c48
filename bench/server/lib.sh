# Shared by the server benchmarks (sourced): expects $vxhost and $work, with
# the data folder $work/data made, and $seconds for measure.

# A user and an API token in the data folder: sets token and auth (curl's
# header arguments).
bench_token() {
  printf 'bench-password\n' | "$vxhost" user add bench --data "$work/data" >/dev/null
  token="$("$vxhost" token add bench --data "$work/data")"
  [ -n "$token" ] || { echo "vxhost token add printed no token" >&2; exit 1; }
  auth=(-H "Authorization: Bearer $token")
}

# Starts vxhost serve on a free port: sets server_pid and server_url from its
# first line of output; the rest of the output stays open on descriptor 3.
bench_start_server() {
  mkfifo "$work/server.out"
  (cd "$work" && exec "$vxhost" serve --listen 127.0.0.1:0 --data "$work/data" >"$work/server.out" 2>"$work/server.err") &
  server_pid=$!
  exec 3<"$work/server.out"
  read -r first <&3 || { echo "vxhost exited before listening:" >&2; cat "$work/server.err" >&2; exit 1; }
  server_url="$(grep -o 'http://[^ ]*/' <<<"$first")" || { echo "unexpected first line: $first" >&2; exit 1; }
}

# Runs wrk on one address with $2 connections (default 64); prints
# "requests/s p50-ms p99-ms".
measure() {
  local out
  out="$(wrk -t2 -c"${2:-64}" -d"${seconds}s" --latency "${auth[@]}" "$1")"
  if grep -q 'Non-2xx' <<<"$out"; then echo "error answers from $1:" >&2; echo "$out" >&2; exit 1; fi
  awk '
    function ms(v) {
      if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v
    }
    /Requests\/sec:/ { rps = $2 }
    $1 == "50%" { p50 = ms($2) }
    $1 == "99%" { p99 = ms($2) }
    END { printf "%.0f %.3f %.3f\n", rps, p50, p99 }' <<<"$out"
}

# The median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
