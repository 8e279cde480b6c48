// The server's events go to the library's system log, one file per server
// on the data folder (<data>/logs/<instance>.log, one entry per event,
// sender "vxhost"; every message ends with a line end, so an entry is
// whole in the file once its line end is). The live tail is a window in
// memory of the last lines, this server's and those the follower
// (serve_follow.cpp) reads from the other servers' logs, numbered in the
// order they arrived here: one numbering over several files, which no one
// file's entry numbers could give.
#include "serve_log.h"

#include <time.h>

#include <ctime>
#include <deque>
#include <filesystem>

#include "serve.h"
#include "vxkernel/log/KSysLog.h"
#include "vxkernel/threads/KMutex.h"

namespace serve {

const char* const kSyncSender = "vxhost-sync";

namespace {

constexpr size_t kKeptLines = 10000;
constexpr size_t kMaxAnswer = 64 * 1024;

struct Tail {
  KMutex mutex;
  std::deque<std::string> lines VXK_GUARDED_BY(mutex);
  int64_t first VXK_GUARDED_BY(mutex) = 1;  // the number of lines.front()
  std::string instance VXK_GUARDED_BY(mutex);  // this server's name
  KMutex newsMutex;  // held while onNews runs, so CloseLog waits for it
  std::function<void()> onNews VXK_GUARDED_BY(newsMutex);
};

Tail& TheTail() {
  static Tail* tail = new Tail;  // outlives every thread that may log
  return *tail;
}

// The time stamp as the system log writes it, local time.
std::string Stamp() {
  time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  char text[32];
  if (std::strftime(text, sizeof text, "%m/%d/%Y %H:%M:%S", &t) == 0) text[0] = '\0';
  return text;
}

void Show(const std::string& stamp, const std::string& instance, const std::string& message) {
  std::string line = stamp + "  " + instance + "  ";
  for (char c : message) line += c == '\n' ? std::string("\n    ") : std::string(1, c);
  Tail& tail = TheTail();
  {
    KLockGuard g(tail.mutex);
    tail.lines.push_back(std::move(line));
    if (tail.lines.size() > kKeptLines) {
      tail.lines.pop_front();
      ++tail.first;
    }
  }
  KLockGuard g(tail.newsMutex);
  if (tail.onNews) tail.onNews();
}

}  // namespace

bool OpenLog(const std::string& dataDir, const std::string& instance, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dataDir + "/logs", ec);
  std::string path = dataDir + "/logs/" + instance + ".log";
  // Only the server holding the instance's lock gets here, so no one
  // writes the file being moved.
  std::filesystem::rename(path, path + ".old", ec);
  if (!KSysLog::TheSysLog().Create(path.c_str(), nullptr)) {
    *error = "cannot create the system log " + path;
    return false;
  }
  Tail& tail = TheTail();
  KLockGuard g(tail.mutex);
  tail.instance = instance;
  return true;
}

void WatchLog(std::function<void()> onNews) {
  Tail& tail = TheTail();
  KLockGuard g(tail.newsMutex);
  tail.onNews = std::move(onNews);
}

void CloseLog() {
  Tail& tail = TheTail();
  {
    KLockGuard g(tail.newsMutex);
    tail.onNews = nullptr;
  }
  KSysLog::TheSysLog().Shutdown();
}

void LogEvent(const std::string& line) {
  KSysLog::TheSysLog().Append("vxhost", (line + "\n").c_str(), 0);
  std::string instance;
  {
    KLockGuard g(TheTail().mutex);
    instance = TheTail().instance;
  }
  Show(Stamp(), instance, line);
}

void Announce(const std::string& event) { KSysLog::TheSysLog().Append(kSyncSender, (event + "\n").c_str(), 0); }

void ShowForeignLine(const std::string& stamp, const std::string& instance, const std::string& message) {
  Show(stamp, instance, message);
}

int64_t LogLast() {
  Tail& tail = TheTail();
  KLockGuard g(tail.mutex);
  return tail.first + static_cast<int64_t>(tail.lines.size()) - 1;
}

std::string ReadLog(int64_t after, int64_t* next) {
  Tail& tail = TheTail();
  KLockGuard g(tail.mutex);
  int64_t end = tail.first + static_cast<int64_t>(tail.lines.size()) - 1;  // the last number
  if (after < 0 || after > end) after = end;
  if (after < tail.first - 1) after = tail.first - 1;  // lines gone from the window are passed over
  std::string text;
  int64_t at = after;
  while (at < end && text.size() < kMaxAnswer) {
    text += tail.lines[static_cast<size_t>(at + 1 - tail.first)];
    text += '\n';
    ++at;
  }
  *next = at;
  return text;
}

}  // namespace serve
