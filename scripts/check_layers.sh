#!/usr/bin/env bash
# Checks the include rules of the library's layers (docs/architecture.md):
#
#  1. The folders of src/ (and the matching include/vxkernel/ folders) form
#     a stack, listed below from the bottom up; a file's layer is its
#     folder's, and the few headers at the root of include/vxkernel/ are
#     base's. A file may include headers of its own layer and of layers
#     below it, never of a layer above. The umbrella vxkernel/vxkernel.h is
#     for hosts, never for the library.
#  2. A private header named *_internal.h is included only from its own
#     folder.
#  3. Public headers include only public headers; the host program and the
#     examples include only public headers.
#  4. Every folder of src/ and of include/vxkernel/ has a place in the
#     stack.
#  5. Only src/port/ includes the operating system's headers.
#  6. A forwarding header (a public header that moved leaves one at its old
#     path; its first line starts with "// Forwarding header:") holds one
#     include, of a header that is not a forwarder, and nothing else; it is
#     outside the layer rule. Nothing in this tree includes a forwarder:
#     they are for hosts built against the older paths.
#  7. A file of src/ is named in snake_case, or after the public class or
#     function family it implements (KString.cpp, KString_format.cpp).
#
# Prints each violation as "file: #include ... (why)" and exits 1 if there
# is any. Runs from any directory; needs only bash, grep and sed.
set -uo pipefail
cd "$(dirname "$0")/.."

# The stack, bottom first. Folders on one line share a layer: values and
# classes are one layer (a value holds its class; classes work on values).
LAYERS=(
  "port"
  "base"
  "threads"
  "text"
  "runtime"
  "files"
  "locale"
  "values classes"
  "bundles"
  "docconv"
  "web"
  "clientapi"
  "log"
  "cache"
  "streams"
  "net"
  "javavm"
  "crypt"
  "packages"
)

# The root of include/vxkernel/ holds base's public headers (export.h,
# vxtypes.h, smallheap.h, the generated version.h) and the umbrella.
ROOT_LAYER="base"
UMBRELLA="vxkernel/vxkernel.h"
FORWARDER_MARK="// Forwarding header:"

declare -A RANK
for i in "${!LAYERS[@]}"; do
  for folder in ${LAYERS[$i]}; do RANK[$folder]=$i; done
done

failures=0
fail() {
  echo "$1"
  failures=$((failures + 1))
}

# The layer (a folder name) of an included path, or "" when it names none.
layer_of_include() {
  local inc="$1"
  if [[ "$inc" == vxkernel/*/* ]]; then
    echo "$inc" | cut -d/ -f2
  elif [[ "$inc" == vxkernel/* ]]; then
    echo "$ROOT_LAYER"
  elif [[ "$inc" == */* ]]; then
    echo "$inc" | cut -d/ -f1
  else
    echo ""
  fi
}

# Rule 5.
while IFS= read -r hit; do
  fail "$hit (an operating-system header outside src/port/)"
done < <(grep -rnE '#include <(unistd|pthread|dlfcn|fcntl|iconv|semaphore|dirent|poll|netdb)\.h>|#include <(sys|netinet|arpa)/' src include \
           | grep -v '^src/port/')

# Rule 4.
for d in src/*/ include/vxkernel/*/; do
  folder=$(basename "$d")
  [ -n "${RANK[$folder]:-}" ] || fail "$d: folder has no place in the layer stack (scripts/check_layers.sh)"
done

# Rule 6. FORWARDS maps each forwarder's include path to its target.
declare -A FORWARDS
is_forwarder() { [ -f "include/$1" ] && head -n 1 "include/$1" | grep -qF "$FORWARDER_MARK"; }
while IFS= read -r file; do
  head -n 1 "$file" | grep -qF "$FORWARDER_MARK" || continue
  includes=$(grep -cE '^#include' "$file")
  code=$(grep -vE '^[[:space:]]*(//.*)?$' "$file" | grep -cvE '^#include "')
  inc=$(grep -E '^#include "' "$file" | head -n 1 | sed -E 's/^#include "([^"]+)".*/\1/')
  if [ "$includes" != 1 ] || [ "$code" != 0 ] || [ -z "$inc" ]; then
    fail "$file: a forwarding header holds one include and nothing else"
  elif [ ! -f "include/$inc" ] || is_forwarder "$inc"; then
    fail "$file: forwards to $inc, which is not a public header that stays"
  fi
  FORWARDS[${file#include/}]="$inc"
done < <(find include/vxkernel -type f -name '*.h' | sort)
while IFS= read -r hit; do
  file=${hit%%:*}
  inc=$(echo "${hit#*:}" | sed -E 's/^[0-9]+:#include [<"]([^">]+)[">].*/\1/')
  if [ -n "${FORWARDS[$inc]:-}" ] && [ -z "${FORWARDS[${file#include/}]:-}" ]; then
    fail "$hit (a forwarding header: include ${FORWARDS[$inc]})"
  fi
done < <(grep -rnE '^#include [<"]vxkernel/' src include tools examples tests bench fuzz 2>/dev/null)

# Rules 1 to 3 for the library.
while IFS= read -r file; do
  case "$file" in
    src/*) folder=$(echo "$file" | cut -d/ -f2); public=0 ;;
    include/vxkernel/*/*) folder=$(echo "$file" | cut -d/ -f3); public=1 ;;
    "include/$UMBRELLA") continue ;;  # the hosts' include of everything
    include/vxkernel/*) folder=$ROOT_LAYER; public=1 ;;
    *) continue ;;
  esac
  [ -z "${FORWARDS[${file#include/}]:-}" ] || continue  # rule 6
  own=${RANK[$folder]:-}
  [ -n "$own" ] || continue  # reported by rule 4
  while IFS= read -r line; do
    inc=$(echo "$line" | sed -E 's/^#include "([^"]+)".*/\1/')
    if [ "$public" = 1 ] && [[ "$inc" != vxkernel/* ]]; then
      fail "$file: $line (a public header includes a private one)"
      continue
    fi
    if [[ "$inc" == ../* || "$inc" == */../* ]]; then
      fail "$file: $line (include by full path, not through ..)"
      continue
    fi
    if [ "$inc" = "$UMBRELLA" ]; then
      fail "$file: $line (the umbrella is for hosts, not for the library)"
      continue
    fi
    target=$(layer_of_include "$inc")
    if [ -z "$target" ]; then
      fail "$file: $line (include by full path: <subsystem>/<file>)"
      continue
    fi
    rank=${RANK[$target]:-}
    if [ -z "$rank" ]; then
      fail "$file: $line (no layer named $target)"
    elif [ "$rank" -gt "$own" ]; then
      fail "$file: $line ($folder may not include $target, a layer above it)"
    fi
    if [[ "$inc" == *_internal.h ]] && [ "$target" != "$folder" ]; then
      fail "$file: $line (private to src/$target/)"
    fi
  done < <(grep -E '^#include "' "$file")
done < <(find src include -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) | sort)

# Rule 3 for the host program and the examples.
while IFS= read -r file; do
  while IFS= read -r line; do
    inc=$(echo "$line" | sed -E 's/^#include "([^"]+)".*/\1/')
    [[ "$inc" == vxkernel/* || "$inc" != */* ]] || fail "$file: $line (hosts use public headers only)"
  done < <(grep -E '^#include "' "$file")
done < <(find tools examples -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) 2>/dev/null | sort)

# Rule 7, file names in src/: snake_case, or named after the public class
# or function family the file implements (its stem up to an optional
# lower-case part suffix is a word of some public header).
public_words=$(cat $(find include -name '*.h') | grep -oE '\b[A-Z][A-Za-z0-9_]*\b' | sort -u)
while IFS= read -r file; do
  name=$(basename "$file")
  [[ "$name" =~ ^[a-z0-9_]+\.(h|cpp|c)$ ]] && continue
  stem=$(echo "$name" | sed -E 's/\.(h|cpp|c)$//; s/_[a-z][a-z0-9_]*$//')
  grep -qxF "$stem" <<<"$public_words" || fail "$file: (a file name is snake_case or names a public class)"
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) | sort)

if [ "$failures" -gt 0 ]; then
  echo "check_layers: $failures file(s) or include(s) break the layer rules (docs/architecture.md)"
  exit 1
fi
echo "check_layers: every include follows the layer rules"
