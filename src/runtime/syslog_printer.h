// The debug stream's way into the system log.
//
// The system log sits above the runtime, so the log layer installs these
// hooks when the library is loaded and removes them when it is unloaded;
// without them the log mode of the debug stream prints nothing.
#ifndef VXKERNEL_RUNTIME_SYSLOG_PRINTER_H_
#define VXKERNEL_RUNTIME_SYSLOG_PRINTER_H_

#include <atomic>

namespace vxk_internal {

struct SysLogHooks {
  // Creates the process's log on logfile; false when it could not.
  bool (*open)(const char* logfile);
  // Appends one entry; takes over both texts (from array new) in every case.
  void (*append)(char* sender, char* message);
};

// Constant-initialised, so it may be read and written at any time, also
// during static construction and destruction.
inline std::atomic<const SysLogHooks*> gSysLogHooks{nullptr};

}  // namespace vxk_internal

#endif  // VXKERNEL_RUNTIME_SYSLOG_PRINTER_H_
