#include "vxkernel/runtime/dbgstrm.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/debug_line.h"
#include "port/port.h"
#include "runtime/dbgstrm_internal.h"
#include "runtime/syslog_printer.h"
#include "vxkernel/runtime/dbg.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

namespace {

// ===== The installed printer (test seam) =====
// A printer installed through DbgstrmSetPrinter takes precedence over the
// process's chosen mode, so tests collect every line whatever mode is set.
// The printer and its datum change together; a small struct swapped as one
// pointer keeps readers from pairing a printer with another printer's datum.
struct Printer {
  vxk_internal::DbgstrmPrinter fn;
  void* datum;
};

std::atomic<Printer*> gPrinter{nullptr};

// Replaced printers stay alive (another thread may still be inside one) and
// reachable, so leak checkers do not count them.
KLock& RetiredLock() {
  static KLock* lock = new KLock(KLock::kCriticalSection);
  return *lock;
}
std::vector<Printer*>* gRetired VXK_GUARDED_BY(RetiredLock()) = nullptr;

// ===== The process's mode =====
// Chosen once; the mode is read without the lock on every print, so it is an
// atomic written last, after everything the mode needs is in place.
enum Mode : int { kNone = 0, kCompatibility = 1, kSysLog = 2 };

std::atomic<int> gMode{kNone};

KLock& ModeLock() {
  static KLock* lock = new KLock(KLock::kCriticalSection);
  return *lock;
}

// Sets the mode unless one is set already; true when this call chose it.
bool ChooseMode(Mode mode) {
  KLockGuard guard(ModeLock());
  bool chosen = gMode.load(std::memory_order_relaxed) == kNone;
  if (chosen) gMode.store(mode, std::memory_order_release);
  return chosen;
}

// SYSLOG: the one place where the system log is wired in, through the
// hooks of runtime/syslog_printer.h that the log layer installs. The
// printer formats the sender and copies the message as the log will own
// them: the log frees both (KSysLog::Append with owned = true). Without the
// log layer the two texts are freed again and nothing is written.
void SysLogOpen(const char* logfile) {
  const vxk_internal::SysLogHooks* hooks = vxk_internal::gSysLogHooks.load();
  if (hooks != nullptr) hooks->open(logfile);
}

void SysLogPrint(const char* text, size_t n) {
  char* sender = new char[32];
  std::snprintf(sender, 32, "%d", static_cast<int>(port::ThreadId()));
  char* message = new char[n + 1];
  std::memcpy(message, text, n);
  message[n] = '\0';
  const vxk_internal::SysLogHooks* hooks = vxk_internal::gSysLogHooks.load();
  if (hooks != nullptr) {
    hooks->append(sender, message);
    return;
  }
  delete[] sender;
  delete[] message;
}

// Every text of the debug stream ends here: the installed printer, else the
// process's mode. This is also the sink of the library's debug lines.
void PrintText(const char* text, size_t n) {
  Printer* p = gPrinter.load(std::memory_order_acquire);
  if (p != nullptr && p->fn != nullptr) {
    p->fn(text, n, p->datum);
    return;
  }
  switch (gMode.load(std::memory_order_acquire)) {
    case kCompatibility:
      dbg_write(std::string(text, n).c_str());
      break;
    case kSysLog:
      SysLogPrint(text, n);
      break;
    default:
      break;
  }
}

// The library's debug lines go to the debug stream from the moment the
// library is loaded.
[[maybe_unused]] const bool gSinkInstalled = (vxk_internal::SetDebugSink(&PrintText), true);

}  // namespace

void dbgstrm_print(std::ostream& s) {
  auto* buf = dynamic_cast<std::stringbuf*>(s.rdbuf());
  if (buf == nullptr) {
    // Only a string stream holds the text it was given.
    vxk_internal::DebugLine("dbgstrm_print", "not a string stream; nothing printed");
    return;
  }
  std::string_view text = buf->view();
  PrintText(text.data(), text.size());
}

bool dbgstrm_set_compatiblity_mode() {
  ChooseMode(kCompatibility);
  return false;
}

bool dbgstrm_set_syslog_mode(const char* logfile) {
  if (gMode.load(std::memory_order_acquire) == kNone) {
    KLockGuard guard(ModeLock());
    if (gMode.load(std::memory_order_relaxed) == kNone) {
      SysLogOpen(logfile);
      ChooseMode(kSysLog);  // re-entrant lock: the check above still holds
    }
  }
  return false;
}

bool dbgstrm_is_initialized() { return gMode.load(std::memory_order_acquire) != kNone; }

bool dbgstrm_is_compatiblity_mode() {
  return gMode.load(std::memory_order_acquire) == kCompatibility;
}

bool dbgstrm_is_syslog_mode() { return gMode.load(std::memory_order_acquire) == kSysLog; }

void VXDropinEcho(const char* text) { vxk_internal::DebugText(text != nullptr ? text : "", '\n'); }

namespace vxk_internal {

DbgstrmPrinter DbgstrmSetPrinter(DbgstrmPrinter printer, void* datum) {
  Printer* next = printer ? new Printer{printer, datum} : nullptr;
  Printer* old = gPrinter.exchange(next, std::memory_order_acq_rel);
  if (old == nullptr) return nullptr;
  KLockGuard guard(RetiredLock());
  if (gRetired == nullptr) gRetired = new std::vector<Printer*>();
  gRetired->push_back(old);
  return old->fn;
}

}  // namespace vxk_internal
