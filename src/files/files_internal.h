// Helpers shared by the files of src/files/.
#ifndef VXKERNEL_FILES_FILES_INTERNAL_H_
#define VXKERNEL_FILES_FILES_INTERNAL_H_

#include <cstdio>
#include <string>

#include "vxkernel/text/KString.h"

namespace vxk_internal {

// Stores the absolute form of name (port::AbsolutePath: from the text, links
// not resolved) and returns true when it is shorter than KFile::kMaxName;
// otherwise returns false and leaves *out alone.
bool AbsoluteName(const std::string& name, std::string* out);

// c_pc_fopen for a file that must be a regular one: anything else (a FIFO,
// a device, a directory) would block or mean nothing to the caller, and is
// refused like a file that cannot be opened, with the same debug line.
std::FILE* OpenRegularFile(const char* name, const char* mode);

// The start-up directory's full name ("/" at the end), or empty when none
// was recorded. Takes the start-up directory's lock.
std::string StartupDirName();

}  // namespace vxk_internal

#endif  // VXKERNEL_FILES_FILES_INTERNAL_H_
