#!/usr/bin/env bash
# Builds the library and runs the host program vxhost. With no arguments it
# starts the document-drop server (vxhost serve) on 127.0.0.1:8080 with its
# data under var/; arguments go to vxhost as they are (--help lists the
# other commands).
set -euo pipefail
VXK_ROOT="$(cd "$(dirname "$0")" && pwd)"
. "$VXK_ROOT/scripts/setup.sh"
vxk_setup
vxk_configure_plain
cmake --build "$VXK_ROOT/build" --target vxhost
if [ "$#" -eq 0 ]; then
  exec "$VXK_ROOT/build/tools/vxhost/vxhost" serve --data "$VXK_ROOT/var"
fi
exec "$VXK_ROOT/build/tools/vxhost/vxhost" "$@"
