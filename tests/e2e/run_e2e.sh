#!/usr/bin/env bash
# Runs the browser test of `vxhost serve`:
#   run_e2e.sh <vxhost binary> <work folder>
# playwright-core is installed from the lock file into <work folder> when it
# is missing or the lock file changed; the screenshot of the list page is
# left there too. Exits 77 (skipped) when node or chromium is missing, or
# when this vxhost has no serve command yet.
set -euo pipefail
vxhost="$1"
work="$2"
here="$(cd "$(dirname "$0")" && pwd)"
chromium="${VXK_E2E_CHROMIUM:-/usr/bin/chromium}"

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: node and npm are needed for the browser test (Debian packages nodejs, npm)"
  exit 77
fi
if ! node -e 'process.exit(+process.versions.node.split(".")[0] >= 20 ? 0 : 1)'; then
  echo "SKIPPED: node $(node --version) is older than 20, which playwright-core needs"
  exit 77
fi
if [ ! -x "$chromium" ]; then
  echo "SKIPPED: $chromium is missing (Debian package chromium)"
  exit 77
fi

if ! "$vxhost" --help 2>&1 | grep -q '^ *serve'; then
  echo "SKIPPED: $vxhost has no serve command"
  exit 77
fi

mkdir -p "$work"
if ! cmp -s "$here/package-lock.json" "$work/installed-lock.json" || [ ! -d "$work/node_modules/playwright-core" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$work/"
  (cd "$work" && npm ci --no-audit --no-fund --loglevel=error)
  cp "$here/package-lock.json" "$work/installed-lock.json"
fi

export VXK_E2E_SERVER="$vxhost" VXK_E2E_ARTIFACTS="$work" VXK_E2E_CHROMIUM="$chromium"
export NODE_PATH="$work/node_modules"
exec node --test "$here/server.test.js"
