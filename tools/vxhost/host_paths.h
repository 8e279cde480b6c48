// Where vxhost finds what it ships with: its message and page bundles
// (res/) and the conversion client's home (bin/dcsclient.so). Both are
// found from the program's own location, so the same program works in the
// build tree and installed under any prefix.
#ifndef VXKERNEL_TOOLS_VXHOST_HOST_PATHS_H_
#define VXKERNEL_TOOLS_VXHOST_HOST_PATHS_H_

#include <string>

namespace host {

// The folders found for one program location. Plain values; no state.
struct HostPaths {
  std::string resHome;  // the folder holding res/ (ends in '/'); empty: none found
  std::string dcsHome;  // the conversion client's home (ends in '/'); empty: none found
};

// The folder of the running program, ending in '/', with symbolic links
// resolved (/proc/self/exe). Empty when it cannot be read.
std::string ProgramDir();

// Looks in programDir's build-tree layout first (res/ beside the program,
// the build's dcshome/), then in the installed layout (the relative paths
// from the install's bin folder to share/vxhost/ and to the library's
// vxkernel/ folder, as configured). Each folder is the first candidate that
// holds its file; the paths are normalised.
HostPaths FindHostPaths(const std::string& programDir);

}  // namespace host

#endif  // VXKERNEL_TOOLS_VXHOST_HOST_PATHS_H_
