# Sourced by run.sh and test.sh: installs the Debian packages the build needs
# when any is missing. Needs root (or sudo) only when something is missing.

# What ./run.sh needs to build and run the server: the tool chain, the
# library (jni.h), the conversion client dcsclient and the host vxhost.
vxk_run_packages="cmake ninja-build g++ pkg-config openjdk-17-jdk-headless libmagic-dev libpoppler-cpp-dev libssl-dev nlohmann-json3-dev libcrypt-dev libhttp-parser-dev libvips-dev"
# What ./test.sh adds: clang and its runtime for the sanitizer and fuzz
# builds, the test and benchmark libraries, the benchmarks' peers, and the
# programs the tests drive or compare against.
vxk_test_packages="clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libabsl-dev rapidjson-dev libpoco-dev libspdlog-dev libsqlite3-dev poppler-utils python3 curl openssl wrk nginx-light chromium nodejs glusterfs-server glusterfs-client iproute2 doxygen lintian fakeroot dpkg-dev file"

# vxk_setup <package list...>: installs whatever of them is missing.
vxk_setup() {
  local missing=""
  for p in "$@"; do
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

# vxk_configure_plain [cmake args...]: the plain build in build/, configured
# the same way by run.sh and test.sh, so that whichever runs first, the other
# keeps its cache and its objects (naming another compiler or dropping an
# option would make CMake start the folder afresh). The arguments switch
# parts on or off; the library's own settings stay the same.
vxk_configure_plain() {
  vxk_configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc \
    -DVXKERNEL_WERROR=ON "$@"
}
