// The server's events: written to this server's system log, read back by
// the live tail (GET /log?after=N) with long polling, together with the
// events of the other servers on the data folder.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_LOG_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_LOG_H_

#include <cstdint>
#include <functional>
#include <string>

namespace serve {

// The sender of the entries that tell the other servers of a change; the
// live tail leaves them out.
extern const char* const kSyncSender;

// Opens this server's log, <dataDir>/logs/<instance>.log. The log of its
// last run is kept as <instance>.log.old, so the new one is a new file
// (the other servers see it as one). False with *error when it cannot.
bool OpenLog(const std::string& dataDir, const std::string& instance, std::string* error);
// Calls onNews whenever the live tail gets a new line, from the thread
// that added it (it must not log). CloseLog ends it.
void WatchLog(std::function<void()> onNews);
// Ends the watch, then closes the log.
void CloseLog();
// Lines numbered after `after` (numbers count from 1, in the order they
// reached this server; the last 10,000 are kept), at most 64 KiB of them.
// *next is the number to ask for next time. A number past the end, or
// negative, restarts at the end.
std::string ReadLog(int64_t after, int64_t* next);
// The number of the newest line: a poll that saw it has nothing new.
int64_t LogLast();
// Tells the other servers on the folder of a change: a sync entry in this
// server's log. Written before the change's own line, so a server showing
// that line has applied the change.
void Announce(const std::string& event);
// Adds a line of another server's log to the live tail: its time stamp as
// the log wrote it, the server's name and the message.
void ShowForeignLine(const std::string& stamp, const std::string& instance, const std::string& message);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_LOG_H_
