# Shared by the server benchmarks (sourced): expects $vxhost and $work, with
# the data folder $work/data made.

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
