# Sourced by run.sh and test.sh: installs the Debian packages the build needs
# when any is missing. Needs root (or sudo) only when something is missing.
vxk_packages="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev pkg-config libssl-dev libabsl-dev nlohmann-json3-dev rapidjson-dev libpoco-dev openjdk-17-jdk-headless libmagic-dev curl libcrypt-dev libspdlog-dev libhttp-parser-dev libpoppler-cpp-dev libsqlite3-dev libvips-dev poppler-utils python3 wrk nginx-light openssl chromium nodejs glusterfs-server glusterfs-client iproute2 lintian dpkg-dev file"

vxk_setup() {
  local missing=""
  for p in $vxk_packages; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "== installing:$missing"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends $missing
}

# vxk_configure <build-dir> <cmake args...>
vxk_configure() {
  local dir="$1"; shift
  cmake -S "$VXK_ROOT" -B "$VXK_ROOT/$dir" -G Ninja "$@" >/dev/null
}

# The plain build in build/, configured the same way by run.sh and test.sh,
# so that whichever runs first, the other keeps its cache (naming another
# compiler or dropping an option would make CMake start the folder afresh).
vxk_configure_plain() {
  vxk_configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc \
    -DVXKERNEL_WERROR=ON -DVXKERNEL_BUILD_BENCHMARKS=ON
}
