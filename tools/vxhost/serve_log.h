// The server's events: written to the system log, read back by the live
// tail (GET /log?after=N) with long polling.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_LOG_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_LOG_H_

#include <cstdint>
#include <functional>
#include <string>

namespace serve {

// Opens the log under dataDir; false with *error when it cannot.
bool OpenLog(const std::string& dataDir, std::string* error);
// Calls onNews (from a thread of its own) whenever the log gets a new
// entry, from whichever writer. One watcher per process; CloseLog ends it.
void WatchLog(std::function<void()> onNews);
// Ends the watcher, wakes every waiting reader and closes the log.
void CloseLog();
// Lines numbered after `after` (numbers count from 1), at most 64 KiB of
// them; waits up to ms for one when there are none. *next is the number
// to ask for next time.
std::string ReadLog(int64_t after, int ms, int64_t* next);
// Tells the other servers on the folder of a change (a sync entry in this
// server's log).
void Announce(const std::string& event);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_LOG_H_
