// The build tree's and the install's layouts, relative to the program; the
// build passes both in (tools/vxhost/CMakeLists.txt), so no absolute path
// of the build machine ends up in an installed program.
#include "host_paths.h"

#include <unistd.h>

#include <filesystem>
#include <initializer_list>

#ifndef VXHOST_BUILD_DCS_HOME
#define VXHOST_BUILD_DCS_HOME "../../dcshome/"
#endif
#ifndef VXHOST_INSTALL_RES_HOME
#define VXHOST_INSTALL_RES_HOME "../share/vxhost/"
#endif
#ifndef VXHOST_INSTALL_DCS_HOME
#define VXHOST_INSTALL_DCS_HOME "../lib/vxkernel/"
#endif

namespace host {

namespace {

// The first of dir + each candidate that holds `file`, normalised with a
// trailing '/'; an absolute candidate stands on its own.
std::string FirstHolding(const std::string& dir, std::initializer_list<const char*> candidates, const char* file) {
  namespace fs = std::filesystem;
  for (const char* candidate : candidates) {
    fs::path home = fs::path(candidate).is_absolute() ? fs::path(candidate) : fs::path(dir) / candidate;
    home = home.lexically_normal();
    std::error_code ec;
    if (!fs::exists(home / file, ec)) continue;
    std::string text = home.string();
    if (text.empty() || text.back() != '/') text += '/';
    return text;
  }
  return std::string();
}

}  // namespace

std::string ProgramDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return std::string();
  std::string path(buf, static_cast<size_t>(n));
  path.erase(path.rfind('/') + 1);
  return path;
}

HostPaths FindHostPaths(const std::string& programDir) {
  HostPaths paths;
  if (programDir.empty()) return paths;
  paths.resHome = FirstHolding(programDir, {"", VXHOST_INSTALL_RES_HOME}, "res");
  paths.dcsHome = FirstHolding(programDir, {VXHOST_BUILD_DCS_HOME, VXHOST_INSTALL_DCS_HOME}, "bin/dcsclient.so");
  return paths;
}

}  // namespace host
