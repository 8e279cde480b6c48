// The start-up directory as the runtime sees it.
//
// The directory package that records it sits in the files layer, above the
// runtime; it installs a reader here when it starts (process ring priority
// 16), so the error globals (priority 24) find the directory without the
// runtime knowing about files.
#ifndef VXKERNEL_RUNTIME_STARTUP_DIR_H_
#define VXKERNEL_RUNTIME_STARTUP_DIR_H_

#include <atomic>
#include <string>

namespace vxk_internal {

// Stores the start-up directory's full name ("/" at the end) and returns
// true; false when none is recorded.
typedef bool (*StartupDirReader)(std::string* out);

// The installed reader, or null. Constant-initialised, so it may be read
// and written at any time, also during static construction.
inline std::atomic<StartupDirReader> gStartupDirReader{nullptr};

// Reads the start-up directory through the installed reader; false when
// there is no reader or no directory.
inline bool ReadStartupDir(std::string* out) {
  StartupDirReader reader = gStartupDirReader.load();
  return reader != nullptr && reader(out);
}

}  // namespace vxk_internal

#endif  // VXKERNEL_RUNTIME_STARTUP_DIR_H_
