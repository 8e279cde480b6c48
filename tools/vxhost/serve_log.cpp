// The server's events go to the library's system log (<data>/vxhost.log,
// one entry per event, sender "vxhost"); the live tail reads it back from
// an entry number with KSysLog::ReadWithTimeout, which sleeps until a
// writer appends.
#include "serve_log.h"

#include <atomic>
#include <thread>

#include "serve.h"
#include "vxkernel/log/KSysLog.h"
#include "vxkernel/log/KSysLog_Entry.h"
#include "vxkernel/log/KSysLog_EntryList.h"
#include "vxkernel/log/KSysLog_Iterator.h"
#include "vxkernel/threads/KMutex.h"

namespace serve {

namespace {

constexpr long kMaxEntries = 200;  // entries one read returns at most

// The position the last read ended at: the tails of all browsers ask for
// it next, and its file offset spares them a search from the start.
KMutex gHintMutex;
KSysLog_Iterator gHint;  // guarded by gHintMutex

// The watcher: one thread blocked in the log's own wait for new entries.
std::atomic<bool> gWatching{false};
std::thread gWatcher;
constexpr unsigned long kWatchSliceMs = 500;  // how soon CloseLog is noticed at worst

}  // namespace

bool OpenLog(const std::string& dataDir, std::string* error) {
  std::string path = dataDir + "/vxhost.log";
  if (!KSysLog::TheSysLog().Create(path.c_str(), nullptr)) {
    *error = "cannot create the system log " + path;
    return false;
  }
  return true;
}

void WatchLog(std::function<void()> onNews) {
  gWatching = true;
  gWatcher = std::thread([onNews = std::move(onNews)] {
    KSysLog& log = KSysLog::TheSysLog();
    KSysLog_Iterator at = log.End();
    while (gWatching) {
      KSysLog_EntryList list;
      KSysLog_Iterator to = log.ReadWithTimeout(list, at, kMaxEntries, kWatchSliceMs);
      if (list.Size() > 0) onNews();
      at = to;
    }
  });
}

void CloseLog() {
  gWatching = false;
  if (gWatcher.joinable()) gWatcher.join();
  KSysLog::TheSysLog().Shutdown();
}

void LogEvent(const std::string& line) { KSysLog::TheSysLog().Append("vxhost", line.c_str(), 0); }

void Announce(const std::string& event) { KSysLog::TheSysLog().Append("vxhost-sync", (event + "\n").c_str(), 0); }

std::string ReadLog(int64_t after, int ms, int64_t* next) {
  KSysLog& log = KSysLog::TheSysLog();
  KSysLog_Iterator end = log.End();
  KSysLog_Iterator from(0, static_cast<long>(after));
  if (after < 0 || after > end.Entry()) from = end;  // a stale number restarts at the end
  {
    KMutexGuard g(gHintMutex);
    if (gHint.Entry() == from.Entry()) from = gHint;
  }
  KSysLog_EntryList list;
  KSysLog_Iterator to = log.ReadWithTimeout(list, from, kMaxEntries, static_cast<unsigned long>(ms));
  std::string text;
  for (long i = 0; i < list.Size(); ++i) {
    const KSysLog_EntryBase& e = list[i];
    KString stamp = e.TimeStamp();
    text += std::string(stamp, stamp.Length()) + "  ";
    for (long j = 0; j < e.Size(); ++j) {
      KString piece = e[j];
      std::string data(piece, piece.Length());
      while (!data.empty() && (data.back() == '\n' || data.back() == '\r')) data.pop_back();
      text += (j > 0 ? "\n    " : "") + data;
    }
    text += "\n";
  }
  if (list.Size() > 0) {
    KMutexGuard g(gHintMutex);
    gHint = to;
  }
  *next = to.Entry();
  return text;
}

}  // namespace serve
