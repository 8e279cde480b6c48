#include "files/profile.h"

#include <cstdlib>
#include <vector>

#include "vxkernel/files/fileprefs.h"

namespace vxk_internal {

std::string UserConfigFile(const char* variable, const char* fileName) {
  const char* set = std::getenv(variable);
  if (set != nullptr && *set != '\0') return set;
  std::string dir;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    dir = xdg;
  } else if (home != nullptr && *home != '\0') {
    dir = std::string(home) + "/.config";
  } else {
    dir = ".config";
  }
  return dir + "/vxkernel/" + fileName;
}

std::string ProfilePath() { return UserConfigFile("VXKERNEL_PROFILE", "profile.ini"); }

std::string ProfileRelative(const std::string& profilePath, const std::string& file) {
  if (file.empty() || file[0] == '/') return file;
  const size_t slash = profilePath.rfind('/');
  return slash == std::string::npos ? file : profilePath.substr(0, slash + 1) + file;
}

bool ReadProfileString(const std::string& path, const char* section, const char* name,
                       std::string* value) {
  void* prefs = fileprefs_open(path.c_str());
  if (prefs == nullptr) return false;
  std::vector<char> buf(256);
  long rc;
  while ((rc = fileprefs_get_pref(prefs, section, name, buf.data(), buf.size())) == -6)
    buf.resize(buf.size() * 4);
  fileprefs_close(prefs);
  if (rc != 0) return false;
  value->assign(buf.data());
  return true;
}

}  // namespace vxk_internal
