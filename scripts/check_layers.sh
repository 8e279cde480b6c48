#!/usr/bin/env bash
# Checks the include rules of the library's layers (docs/architecture.md):
#
#  1. The folders of src/ (and the matching include/vxkernel/ folders) form
#     a stack, listed below from the bottom up. A file may include headers
#     of its own layer and of layers below it, never of a layer above.
#  2. A private header named *_internal.h is included only from its own
#     folder.
#  3. Public headers include only public headers; the host program and the
#     examples include only public headers.
#  4. Every folder of src/ has a place in the stack.
#  5. Only src/port/ includes the operating system's headers.
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

# Headers whose layer is not their folder's: the memory-block module is
# part of base (the text functions keep their tables in its handles), but
# its header sits with the runtime's.
declare -A HEADER_LAYER=(
  ["vxkernel/runtime/mem.h"]="base"
  ["vxkernel/export.h"]="base"
  ["vxkernel/vxtypes.h"]="base"
  ["vxkernel/version.h"]="base"
  ["vxkernel/smallheap.h"]="base"
  ["vxkernel/files/KAttr.h"]="locale"
)

# Source files whose layer is not their folder's: KAttr carries its dates
# as KDateTime, so it stands with locale, above the rest of files (whose
# preference files the locale start-up reads).
declare -A FILE_LAYER=(
  ["src/files/KAttr.cpp"]="locale"
  ["include/vxkernel/files/KAttr.h"]="locale"
)

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
  if [ -n "${HEADER_LAYER[$inc]:-}" ]; then
    echo "${HEADER_LAYER[$inc]}"
  elif [[ "$inc" == vxkernel/*/* ]]; then
    echo "$inc" | cut -d/ -f2
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
for d in src/*/; do
  folder=$(basename "$d")
  [ -n "${RANK[$folder]:-}" ] || fail "src/$folder/: folder has no place in the layer stack (scripts/check_layers.sh)"
done

# Rules 1 to 3 for the library.
while IFS= read -r file; do
  case "$file" in
    src/*) folder=$(echo "$file" | cut -d/ -f2); public=0 ;;
    include/vxkernel/*/*) folder=$(echo "$file" | cut -d/ -f3); public=1 ;;
    *) continue ;;  # the umbrella and the base-level headers
  esac
  own=${RANK[${FILE_LAYER[$file]:-$folder}]:-}
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
    if [ "$inc" = "vxkernel/vxkernel.h" ]; then
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

if [ "$failures" -gt 0 ]; then
  echo "check_layers: $failures include(s) break the layer rules (docs/architecture.md)"
  exit 1
fi
echo "check_layers: every include follows the layer rules"
