#!/usr/bin/env bash
# Builds the library and runs the host program vxhost (its default run shows
# the library's start-up and shut-down). Extra arguments go to vxhost.
set -euo pipefail
VXK_ROOT="$(cd "$(dirname "$0")" && pwd)"
. "$VXK_ROOT/scripts/setup.sh"
vxk_setup
vxk_configure_plain
cmake --build "$VXK_ROOT/build" --target vxhost
exec "$VXK_ROOT/build/tools/vxhost/vxhost" "$@"
