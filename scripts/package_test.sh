#!/usr/bin/env bash
# scripts/package_test.sh <build-dir>
#
# Checks the Debian packages of a configured and built plain build folder:
#  1. cpack -G DEB makes vxkernel, vxkernel-dev and vxhost, with the
#     dependencies between them;
#  2. unpacked into a scratch root (dpkg -x), the consumer example builds
#     against them through find_package and through pkg-config, and runs;
#  3. the unpacked vxhost answers --version and --help, and `vxhost serve`
#     finds its bundles (a page in English) and the conversion client (the
#     title of an uploaded HTML document) from where the packages put them;
#  4. the unit names the installed program and systemd-analyze verify
#     (when there is one) has nothing to say about it;
#  5. lintian finds nothing beyond the overrides the packages carry
#     (cmake/debian/*.lintian-overrides; docs/packaging.md says why each);
#  6. with VXK_PACKAGE_INSTALL=1, as root (CI sets it: its machine is
#     thrown away), dpkg -i installs the packages for real, so that the
#     maintainer scripts run: the user vxhost and the enabled unit exist,
#     the installed program runs; dpkg --purge then removes them again.
# The root is not /, so the programs get LD_LIBRARY_PATH to its library
# folder. Everything goes to <build-dir>/package-test/.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 <build-dir>" >&2; exit 2; }
src="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
work="$build/package-test"
root="$work/root"
rm -rf "$work"
mkdir -p "$work"

fail() {
  echo "package_test: FAILED: $*" >&2
  exit 1
}
# expect_eq <what> <expected> <actual>
expect_eq() {
  [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}
# expect_in <what> <needle> <haystack>
expect_in() {
  case "$3" in *"$2"*) ;; *) fail "$1: '$2' not in: $3" ;; esac
}

version="$(sed -n 's/^#define VXKERNEL_VERSION_STRING "\(.*\)"$/\1/p' "$build/include/vxkernel/version.h")"
[ -n "$version" ] || fail "no version in $build/include/vxkernel/version.h"
arch="$(dpkg --print-architecture)"

# cpack installs what the folder holds; make sure that is current.
cmake --build "$build" --target vxkernel dcsclient vxhost vxhost_man vxkernel_debian_changelog >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building the packages' targets"; }

echo "-- cpack -G DEB ($version, $arch)"
(cd "$build" && cpack -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
for p in vxkernel vxkernel-dev vxhost; do
  deb="$work/debs/${p}_${version}_${arch}.deb"
  [ -f "$deb" ] || fail "no package $deb"
  expect_eq "$p: Version" "$version" "$(dpkg-deb -f "$deb" Version)"
done
deb() { echo "$work/debs/${1}_${version}_${arch}.deb"; }
expect_in "vxkernel-dev: Depends" "vxkernel (= $version)" "$(dpkg-deb -f "$(deb vxkernel-dev)" Depends)"
expect_in "vxhost: Depends" "vxkernel (= $version)" "$(dpkg-deb -f "$(deb vxhost)" Depends)"
expect_in "vxhost: Depends" "adduser" "$(dpkg-deb -f "$(deb vxhost)" Depends)"
# dpkg-shlibdeps found the C++ library the programs link.
expect_in "vxkernel: Depends" "libstdc++6" "$(dpkg-deb -f "$(deb vxkernel)" Depends)"
expect_in "vxkernel: shlibs" "libvxkernel" "$(dpkg-deb -I "$(deb vxkernel)" shlibs)"

echo "-- unpacked into $root"
for p in vxkernel vxkernel-dev vxhost; do dpkg -x "$(deb "$p")" "$root"; done
libso="$(find "$root/usr/lib" -name 'libvxkernel.so.*.*.*' -type f)"
[ -n "$libso" ] || fail "no libvxkernel.so.* in the vxkernel package"
libdir="$(dirname "$libso")"
# The link for building is in the -dev package only.
[ -L "$libdir/libvxkernel.so" ] || fail "no libvxkernel.so link from vxkernel-dev"
[ -z "$(dpkg-deb -c "$(deb vxkernel)" | grep -F 'libvxkernel.so ' || true)" ] ||
  fail "vxkernel carries the libvxkernel.so link"

echo "-- the consumer example against the unpacked packages"
consumer_ok='worker counted 3
main counted 0 with vxkernel '"$version"'
client read 12 pages'
cmake -S "$src/examples/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$root/usr" >"$work/consumer.log" 2>&1 ||
  { cat "$work/consumer.log"; fail "find_package(vxkernel) against the packages"; }
cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "consumer build"; }
expect_in "consumer (CMake)" "$consumer_ok" "$(LD_LIBRARY_PATH="$libdir" "$work/consumer/consumer")"
flags="$(PKG_CONFIG_PATH="$libdir/pkgconfig" PKG_CONFIG_SYSROOT_DIR= pkg-config --cflags --libs vxkernel)" ||
  fail "pkg-config vxkernel"
# shellcheck disable=SC2086
c++ -x c -std=c99 -pedantic-errors -c "$src/examples/consumer/client.c" $flags -o "$work/client-pc.o" \
  2>>"$work/consumer.log" || { cat "$work/consumer.log"; fail "client.c with pkg-config's flags"; }
# shellcheck disable=SC2086
c++ "$src/examples/consumer/main.cpp" "$work/client-pc.o" $flags -o "$work/consumer-pc" 2>>"$work/consumer.log" ||
  { cat "$work/consumer.log"; fail "consumer with pkg-config's flags"; }
expect_in "consumer (pkg-config)" "$consumer_ok" "$(LD_LIBRARY_PATH="$libdir" "$work/consumer-pc")"

echo "-- the unpacked vxhost"
vxhost() { LD_LIBRARY_PATH="$libdir" "$root/usr/bin/vxhost" "$@"; }
expect_eq "vxhost --version" "vxhost $version" "$(vxhost --version)"
expect_in "vxhost --help" "--version" "$(vxhost --help)"
data="$work/data"
printf 'package-test-password\n' | vxhost user add tester --data "$data" >/dev/null
token="$(vxhost token add tester --data "$data")"
mkfifo "$work/serve.out"
# Started directly (not through the function) so that $! is the server.
LD_LIBRARY_PATH="$libdir" "$root/usr/bin/vxhost" serve --listen 127.0.0.1:0 --data "$data" \
  >"$work/serve.out" 2>"$work/serve.err" &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
exec 3<"$work/serve.out"
IFS= read -r first <&3 || true
[[ "$first" =~ ^listening\ on\ (http://127\.0\.0\.1:[0-9]+)/$ ]] ||
  fail "serve's first line: '$first'; stderr: $(cat "$work/serve.err")"
url="${BASH_REMATCH[1]}"
# The page texts come from share/vxhost/res/ (without them a page shows
# its keys, login.heading).
expect_in "login page" "Log in</h1>" "$(curl -sS "$url/login")"
# The title comes from the conversion client in the library's vxkernel/.
printf '<html><head><title>Packaged title</title></head><body>x</body></html>\n' >"$work/page.html"
answer="$(curl -sS -H "Authorization: Bearer $token" -F "file=@$work/page.html;type=text/html" "$url/api/docs")"
expect_in "uploaded document's title" '"title":"Packaged title"' "$answer"
kill -TERM "$server"
rest="$(cat <&3)"
exec 3<&-
status=0
wait "$server" || status=$?
trap - EXIT
expect_eq "serve's exit status after SIGTERM" 0 "$status"
expect_in "serve's last line" "stopped" "$rest"

echo "-- the unit"
unit="$root/usr/lib/systemd/system/vxhost.service"
[ -f "$unit" ] || fail "no vxhost.service in the vxhost package"
expect_eq "the unit's ExecStart" "ExecStart=/usr/bin/vxhost serve --data /var/lib/vxhost" "$(grep '^ExecStart=' "$unit")"
if command -v systemd-analyze >/dev/null; then
  # verify wants the program where the unit says; it warns (and still
  # exits 0) on keys it does not know, so any output is a failure.
  sed "s|^ExecStart=/usr/bin/vxhost|ExecStart=$root/usr/bin/vxhost|" "$unit" >"$work/vxhost.service"
  said="$(systemd-analyze verify --man=no "$work/vxhost.service" 2>&1)" || fail "systemd-analyze verify: $said"
  expect_eq "systemd-analyze verify's complaints" "" "$said"
fi

echo "-- lintian"
lintian --fail-on none --tag-display-limit 0 "$(deb vxkernel)" "$(deb vxkernel-dev)" "$(deb vxhost)" \
  >"$work/lintian.txt" 2>&1 || { cat "$work/lintian.txt"; fail "lintian did not run"; }
if grep -E '^[EWIPX]: ' "$work/lintian.txt"; then
  fail "lintian tags beyond the packages' overrides (above; fix them, or override with a reason)"
fi
if [ "${VXK_PACKAGE_INSTALL:-0}" = 1 ] && [ "$(id -u)" = 0 ]; then
  echo "-- dpkg -i and dpkg --purge"
  dpkg -i "$(deb vxkernel)" "$(deb vxhost)" >"$work/dpkg-install.log" 2>&1 ||
    { cat "$work/dpkg-install.log"; fail "dpkg -i"; }
  installed_ok=1
  id vxhost >/dev/null 2>&1 || installed_ok=0
  expect_eq "the user vxhost after dpkg -i" 1 "$installed_ok"
  [ -L /etc/systemd/system/multi-user.target.wants/vxhost.service ] ||
    fail "dpkg -i did not enable vxhost.service"
  expect_eq "/usr/bin/vxhost --version" "vxhost $version" "$(/usr/bin/vxhost --version)"
  dpkg --purge vxhost vxkernel >"$work/dpkg-purge.log" 2>&1 || { cat "$work/dpkg-purge.log"; fail "dpkg --purge"; }
  [ ! -e /usr/bin/vxhost ] || fail "dpkg --purge left /usr/bin/vxhost"
  [ ! -e /etc/systemd/system/multi-user.target.wants/vxhost.service ] ||
    fail "dpkg --purge left the unit enabled"
fi

echo "package_test: the three packages install, build the consumer, serve, and pass lintian"
