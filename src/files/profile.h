// The stand-ins of the per-user profile: the configuration files the
// library reads from the user's configuration directory, and single values
// read from such files. Shared inside the files layer; not installed.
#ifndef VXKERNEL_FILES_PROFILE_H_
#define VXKERNEL_FILES_PROFILE_H_

#include <string>

namespace vxk_internal {

// The path in the environment variable `variable` when it is set and not
// empty; otherwise fileName in the folder "vxkernel" of the user's
// configuration directory ($XDG_CONFIG_HOME when it is an absolute path,
// else $HOME/.config, else the current directory's ".config"). Used for the
// profile and the KConfigData store.
std::string UserConfigFile(const char* variable, const char* fileName);

// The profile: VXKERNEL_PROFILE, default <configuration directory>/
// vxkernel/profile.ini.
std::string ProfilePath();

// file as a profile names it: an absolute path as it is, a relative one
// taken from the folder of the profile at profilePath.
std::string ProfileRelative(const std::string& profilePath, const std::string& file);

// Reads one value (whole, whatever its length) from a preference file,
// fresh from the disk. False when the file, the section or the value is
// missing.
bool ReadProfileString(const std::string& path, const char* section, const char* name,
                       std::string* value);

}  // namespace vxk_internal

#endif  // VXKERNEL_FILES_PROFILE_H_
