#include "vxkernel/log/KSysLog.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "base/debug_line.h"
#include "log/syslog_reader_internal.h"
#include "port/port.h"
#include "runtime/syslog_printer.h"
#include "vxkernel/threads/KTimestamp.h"

const char* const KSysLog::kHeader = "^{ ";
const long KSysLog::kHeaderLen = static_cast<long>(std::strlen(KSysLog::kHeader));
const char* const KSysLog::kNewline = "\n";
const long KSysLog::kNewlineLen = static_cast<long>(std::strlen(KSysLog::kNewline));

namespace {

// Timeouts this long or longer wait without limit: they do not fit the
// condition's timed wait.
constexpr unsigned long kNoTimeLimit = 4294967295UL;

// Formats the current local time as "%m/%d/%Y %H:%M:%S" into out (24
// bytes). Each thread keeps its last second, so the conversion runs once a
// second per thread, not once an entry.
void FormatNow(char* out) {
  struct Cache {
    int64_t second = INT64_MIN;
    char text[24] = "";
  };
  static thread_local Cache cache;
  const int64_t second = port::WallMillis() / 1000;
  if (second != cache.second) {
    port::CivilTime c{};
    if (!port::CivilFromSeconds(second, true, &c)) c = port::CivilTime{1970, 1, 1, 0, 0, 0};
    std::snprintf(cache.text, sizeof cache.text, "%02d/%02d/%d %02d:%02d:%02d", c.month, c.day,
                  c.year, c.hour, c.minute, c.second);
    cache.second = second;
  }
  std::memcpy(out, cache.text, sizeof cache.text);
}

// Appends sender with its tabs and line ends as blanks: either would move
// the header's fields. (No multi-byte encoding of the library has them as
// trailing bytes.)
void AppendSender(std::string& out, const char* sender) {
  for (; *sender != '\0'; ++sender) {
    out += *sender == '\t' || *sender == '\n' || *sender == '\r' ? ' ' : *sender;
  }
}

// Appends the n bytes of message as they are, except that a line of it
// that begins like a header (blanks, then the marker) gets one blank more
// in front, which readers take off again: only headers begin with the
// marker, so no message can fake or hide an entry.
void AppendMessage(std::string& out, const char* message, size_t n) {
  const char* const end = message + n;
  const char* copied = message;
  for (const char* line = message;;) {
    const void* nl = std::memchr(line, '\n', static_cast<size_t>(end - line));
    if (nl == nullptr) break;
    line = static_cast<const char*>(nl) + 1;
    if (KSysLogReader::StartsLikeHeader(line)) {
      out.append(copied, line);
      out += ' ';
      copied = line;
    }
  }
  out.append(copied, end);
}

}  // namespace

KSysLog KSysLog::gTheSysLog;

KSysLog::KSysLog() = default;

KSysLog::~KSysLog() {
  Shutdown();
  delete fRoutine;
}

KSysLog& KSysLog::TheSysLog() { return gTheSysLog; }

bool KSysLog::IsCreated() { return fCreated.load(std::memory_order_acquire); }

bool KSysLog::IsShutdown() { return fShutdown.load(std::memory_order_acquire); }

unsigned char KSysLog::Create(const char* path, KSysLog_AsychBufferRoutine* routine) {
  bool refused = false;
  {
    KLockGuard guard(fMutex);
    if (IsCreated()) return false;
    if (fRoutine != routine) delete fRoutine;
    fRoutine = routine;
    fPath = path != nullptr ? path : "";
    // Others may read the file but not write it; the rule is checked before
    // the file is truncated, so a log held elsewhere stays as it is.
    fFile = path != nullptr ? port::OpenShared(path, "we", 1, &refused) : nullptr;
    if (fFile != nullptr) {
      fDescriptor = port::StreamDescriptor(fFile);
      fCreated.store(true, std::memory_order_release);
      return true;
    }
  }
  vxk_internal::DebugLine("KSysLog::Create",
                          refused ? "the log file is held by another process: "
                                  : "could not open the log file: ",
                          path != nullptr ? path : "");
  return false;
}

unsigned char KSysLog::Shutdown() {
  bool wake = false;
  {
    KLockGuard guard(fMutex);
    if (!IsCreated() || IsShutdown()) return false;
    std::fclose(fFile);
    fFile = nullptr;
    fDescriptor = -1;
    fShutdown.store(true, std::memory_order_release);
    wake = fWaiters > 0;
  }
  if (wake) fCondition.Broadcast();
  return true;
}

unsigned char KSysLog::Append(const char* sender, const char* message, unsigned char owned) {
  if (!IsCreated() || IsShutdown()) {
    // No line about the refusal: in the debug stream's log mode every
    // debug line arrives here.
    if (owned) {
      delete[] sender;
      delete[] message;
    }
    return false;
  }
  if (fRoutine != nullptr) return fRoutine->Enqueue(sender, message, owned);
  const unsigned char written = _Append_atomic(sender, message, true);
  if (owned) {
    delete[] sender;
    delete[] message;
  }
  return written;
}

unsigned char KSysLog::_Append_atomic(const char* sender, const char* message,
                                      unsigned char notify) {
  if (sender == nullptr) sender = "";
  if (message == nullptr) message = "";
  char timeStamp[24];
  FormatNow(timeStamp);
  const size_t messageLen = std::strlen(message);
  const bool needsSeparator = messageLen == 0 || message[messageLen - 1] != '\n';

  bool written = false;
  bool wake = false;
  {
    KLockGuard guard(fMutex);
    if (fFile == nullptr) return false;
    const long sequence = fNextSequence++;
    char number[24];
    const auto digits = std::to_chars(number, number + sizeof number, sequence);
    std::string& e = fEntryText;
    e.clear();
    if (fNeedsSeparator) e += '\n';
    e.append(kHeader, static_cast<size_t>(kHeaderLen));
    e.append(number, digits.ptr);
    e += '\t';
    e += timeStamp;
    e += '\t';
    AppendSender(e, sender);
    e += " }\t";
    AppendMessage(e, message, messageLen);
    size_t done = 0;
    written = port::WriteAll(fDescriptor, e.data(), e.size(), &done);
    fEnd += static_cast<long>(done);
    // Decided under the mutex, so the flag belongs to the entry just
    // written even when writers race. A torn write (a full disk) leaves the
    // file ending with the piece written: its last byte decides.
    if (written) {
      fNeedsSeparator = needsSeparator;
    } else if (done > 0) {
      fNeedsSeparator = e[done - 1] != '\n';
    }
    wake = notify && fWaiters > 0;
  }
  if (wake) fCondition.Broadcast();
  if (!written) vxk_internal::DebugLine("KSysLog::_Append_atomic", "could not write the log file: ", fPath);
  return written;
}

KSysLog_Iterator KSysLog::End() {
  KLockGuard guard(fMutex);
  return KSysLog_Iterator(fEnd, fNextSequence);
}

KSysLog_Iterator KSysLog::Read(KSysLog_EntryListBase& list, KSysLog_Iterator from, long max) {
  return ReadUntil(list, from, max, nullptr, true);
}

KSysLog_Iterator KSysLog::ReadWithTimeout(KSysLog_EntryListBase& list, KSysLog_Iterator from,
                                          long max, unsigned long timeoutMs) {
  if (timeoutMs >= kNoTimeLimit) return ReadUntil(list, from, max, nullptr, true);
  KTimestamp deadline = KTimestamp::Now();
  deadline += KTimestamp(timeoutMs);
  return ReadUntil(list, from, max, &deadline, timeoutMs != 0);
}

KSysLog_Iterator KSysLog::Head(KSysLog_EntryListBase& list, long max) {
  return ReadWithTimeout(list, Begin(), max, 0);
}

KSysLog_Iterator KSysLog::Tail(KSysLog_EntryListBase& list, long max) {
  const long first = std::max(0L, End().Entry() - max);
  return ReadWithTimeout(list, KSysLog_Iterator(0, first), max, 0);
}

KSysLog_Iterator KSysLog::ReadUntil(KSysLog_EntryListBase& list, KSysLog_Iterator from, long max,
                                    const KTimestamp* deadline, bool wait) {
  return ReadFromEnd(list, from, max, End(), deadline, wait);
}

KSysLog_Iterator KSysLog::ReadFromEnd(KSysLog_EntryListBase& list, KSysLog_Iterator from, long max,
                                      KSysLog_Iterator end, const KTimestamp* deadline, bool wait) {
  if (!IsCreated() || IsShutdown() || max <= 0 || from.Entry() < 0) return from;
  long n = std::min(end.Entry() - from.Entry(), max);
  if (n == 0 && wait) {
    WaitForUpdate(end.Entry(), deadline);
    end = End();
    n = std::min(end.Entry() - from.Entry(), max);
  }
  if (n <= 0) return from;

  // From here on a read moves past what it cannot use (a file it cannot
  // open, numbers lost to failed writes, damaged headers) up to the end it
  // noted, so that a follower never asks again for what cannot come.
  // A stream of its own for every read: readers never share the writer's.
  bool refused = false;
  std::FILE* file = port::OpenShared(fPath.c_str(), "re", 3, &refused);
  if (file == nullptr) {
    vxk_internal::DebugLine("KSysLog::Read", "could not open the log file: ", fPath);
    return end;
  }
  KSysLog_Iterator result = end;
  KSysLogReader reader(file, end.Seek(), end.Entry());
  KSysLog_Iterator at = from;
  KSysLog_Iterator next = from;
  if (reader.SeekToIterator(at) && reader.ReadEntries(list, n, &next) > 0) result = next;
  std::fclose(file);
  return result;
}

bool KSysLog::WaitForUpdate(long seen, const KTimestamp* deadline) {
  // seen is the count the reader noted before it took the mutex here, not
  // the count now: an append in between has broadcast already, to nobody.
  KLockGuard guard(fMutex);
  while (!IsShutdown() && fNextSequence == seen) {
    ++fWaiters;
    const long r = deadline != nullptr ? fCondition.Wait(fMutex, *deadline) : fCondition.Wait(fMutex);
    --fWaiters;
    if (r != KMutex::kOk) break;  // the time ran out, or the wait failed
  }
  return fNextSequence != seen;
}

// ===== The debug stream's log mode =====
// Installed after gTheSysLog is constructed (same file, later definition)
// and removed before it is destroyed.

namespace {

bool SysLogOpen(const char* logfile) { return KSysLog::TheSysLog().Create(logfile, nullptr); }

void SysLogAppend(char* sender, char* message) {
  // A failing append writes a debug line, which comes back here on the same
  // thread: drop it rather than recurse.
  static thread_local bool inside = false;
  if (inside) {
    delete[] sender;
    delete[] message;
    return;
  }
  inside = true;
  KSysLog::TheSysLog().Append(sender, message, true);
  inside = false;
}

const vxk_internal::SysLogHooks gHooks{&SysLogOpen, &SysLogAppend};

struct HooksInstaller {
  HooksInstaller() { vxk_internal::gSysLogHooks.store(&gHooks); }
  ~HooksInstaller() { vxk_internal::gSysLogHooks.store(nullptr); }
} gHooksInstaller;

}  // namespace
