#!/usr/bin/env bash
# Builds the library and runs the host program vxhost. With no arguments, or
# with options only (./run.sh --listen 127.0.0.1:9000), it starts the
# document-drop server (vxhost serve) with its data under var/ (127.0.0.1:8080
# unless --listen says otherwise); a command goes to vxhost as it is
# (./run.sh user add alice; ./run.sh --help lists the commands).
set -euo pipefail
VXK_ROOT="$(cd "$(dirname "$0")" && pwd)"
. "$VXK_ROOT/scripts/setup.sh"
vxk_setup $vxk_run_packages
# Without the tests and benchmarks, whose packages ./test.sh installs; a
# folder ./test.sh configured keeps them (only vxhost is built here).
if [ -f "$VXK_ROOT/build/CMakeCache.txt" ]; then
  vxk_configure_plain
else
  vxk_configure_plain -DVXKERNEL_BUILD_TESTS=OFF -DVXKERNEL_BUILD_BENCHMARKS=OFF
fi
cmake --build "$VXK_ROOT/build" --target vxhost
vxhost="$VXK_ROOT/build/tools/vxhost/vxhost"
case "${1:-}" in
  "" | --listen | --data)
    exec "$vxhost" serve --data "$VXK_ROOT/var" "$@" ;;
  user | token)
    # The accounts of the server ./run.sh starts, unless --data says otherwise.
    case " $* " in
      *" --data "*) exec "$vxhost" "$@" ;;
      *) exec "$vxhost" "$@" --data "$VXK_ROOT/var" ;;
    esac ;;
esac
exec "$vxhost" "$@"
