// Stand-in event log (a file plus the recent lines in memory) until the
// library's system log is merged; the rest of the server sees serve_log.h.
#include "serve_log.h"

#include <deque>
#include <fstream>

#include "serve.h"
#include "vxkernel/threads/KCondition.h"
#include "vxkernel/threads/KMutex.h"
#include "vxkernel/threads/KTimestamp.h"

namespace serve {

namespace {

constexpr size_t kKeep = 2000;         // lines kept for the tail
constexpr size_t kMaxRead = 64 * 1024;  // bytes one read returns at most

// Guarded by gMutex.
struct LogState {
  KMutex mutex;
  KCondition changed;
  std::ofstream file;
  std::deque<std::string> lines;  // the last kKeep lines
  int64_t last = 0;               // number of the newest line
  bool open = false;
};

LogState& State() {
  static LogState* s = new LogState;  // outlives every thread that logs
  return *s;
}

}  // namespace

bool OpenLog(const std::string& dataDir, std::string* error) {
  LogState& s = State();
  KMutexGuard g(s.mutex);
  s.file.open(dataDir + "/vxhost.log", std::ios::app);
  if (!s.file) {
    *error = "cannot open " + dataDir + "/vxhost.log";
    return false;
  }
  s.open = true;
  return true;
}

void CloseLog() {
  LogState& s = State();
  KMutexGuard g(s.mutex);
  s.open = false;
  s.file.close();
  s.changed.Broadcast();
}

void LogEvent(const std::string& line) {
  LogState& s = State();
  std::string text = FormatDate(NowSeconds()) + "  " + line;
  KMutexGuard g(s.mutex);
  if (s.open) s.file << text << '\n' << std::flush;
  s.lines.push_back(text);
  if (s.lines.size() > kKeep) s.lines.pop_front();
  ++s.last;
  s.changed.Broadcast();
}

std::string ReadLog(int64_t after, int ms, int64_t* next) {
  LogState& s = State();
  KTimestamp deadline = KTimestamp::Now() + KTimestamp(static_cast<unsigned long>(ms));
  KMutexGuard g(s.mutex);
  if (after < 0 || after > s.last) after = s.last;  // a stale number restarts at the end
  while (s.open && s.last <= after) {
    if (s.changed.Wait(s.mutex, deadline) != 0) break;
  }
  int64_t first = s.last - static_cast<int64_t>(s.lines.size()) + 1;
  std::string text;
  int64_t n = std::max(after + 1, first);
  for (; n <= s.last && text.size() < kMaxRead; ++n) text += s.lines[static_cast<size_t>(n - first)] + "\n";
  *next = n - 1;
  return text;
}

}  // namespace serve
