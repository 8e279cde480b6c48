#include "vxkernel/runtime/dbg.h"

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>
#include <type_traits>
#include <utility>

#include "base/check.h"
#include "base/debug_line.h"
#include "base/run_reported.h"
#include "port/port.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

// The record's fields in their documented order: two 8-bit flags, the
// routine, the datum, two more 8-bit flags.
static_assert(std::is_standard_layout_v<KDbgGlobals>);
static_assert(sizeof(KDbgGlobals::fInitialised) == 1 && sizeof(KDbgGlobals::fHandlerEnabled) == 1 &&
              sizeof(KDbgGlobals::fOutputSet) == 1 && sizeof(KDbgGlobals::fBusy) == 1);
static_assert(offsetof(KDbgGlobals, fInitialised) == 0 &&
              offsetof(KDbgGlobals, fHandlerEnabled) == 1 &&
              offsetof(KDbgGlobals, fRoutine) == alignof(DBG_output_routine) &&
              offsetof(KDbgGlobals, fDatum) == offsetof(KDbgGlobals, fRoutine) + sizeof(void*) &&
              offsetof(KDbgGlobals, fOutputSet) == offsetof(KDbgGlobals, fDatum) + sizeof(void*) &&
              offsetof(KDbgGlobals, fBusy) == offsetof(KDbgGlobals, fOutputSet) + 1);

namespace {

// The one KDbgInit of the package table; constant-initialised to null, so
// writes from static constructors that run before it see "no thread state".
KDbgInit* gDbgInit = nullptr;
// Init calls made in this process, never decreased. An atomic rather than a
// locked count: it is read on every dbg_write, and a load is all that needs.
std::atomic<uint32_t> gDbgInitCount{0};

// ===== The early buffer =====
// Text written while no thread has debug state. The lock and the buffer are
// made on first use and never destroyed, so writes from static destructors
// at unload still find them.

KLock& EarlyLock() {
  static KLock* lock = new KLock(KLock::kCriticalSection);
  return *lock;
}

std::string* gEarly VXK_GUARDED_BY(EarlyLock()) = nullptr;

void EarlyAppend(const char* text) {
  KLockGuard guard(EarlyLock());
  if (gEarly == nullptr) gEarly = new std::string();
  *gEarly += text;
}

// Hands the early buffer, if any, to routine as one write.
void EarlyFlush(DBG_output_routine routine, void* datum) {
  std::string* early;
  {
    KLockGuard guard(EarlyLock());
    early = gEarly;
    gEarly = nullptr;
  }
  if (early == nullptr) return;
  std::string text = std::move(*early);
  delete early;
  text += '\n';
  if (routine != nullptr) routine(DBG_write, 0, datum, text.c_str());
}

void WriteDetailed(const char* text, long detail) {
  if (text == nullptr) return;
  KDbgGlobals* g = KDbgInit::Current();
  if (g == nullptr) {
    EarlyAppend(text);
    return;
  }
  dbg_init();
  if (!g->fOutputSet || g->fBusy) return;
  g->fBusy = 1;
  if (g->fRoutine != nullptr) g->fRoutine(DBG_write, detail, g->fDatum, text);
  g->fBusy = 0;
}

}  // namespace

// ===== KDbgInit =====

KDbgInit::KDbgInit() : KThreadGlobals(16, 1) { gDbgInit = this; }

KDbgInit::~KDbgInit() {
  if (gDbgInit == this) gDbgInit = nullptr;
}

void KDbgInit::Init() {
  vxk_internal::RunReported("KDbgInit::Init", [this] {
    User1(new KDbgGlobals{});
    gDbgInitCount.fetch_add(1, std::memory_order_acq_rel);
  });
}

void KDbgInit::Cleanup() {
  delete static_cast<KDbgGlobals*>(User1());
  User1(nullptr);
}

KDbgGlobals* KDbgInit::Current() {
  if (gDbgInitCount.load(std::memory_order_acquire) == 0 || gDbgInit == nullptr) return nullptr;
  return static_cast<KDbgGlobals*>(gDbgInit->User1());
}

// ===== dbg_ =====

void dbg_init() {
  KDbgGlobals* g = KDbgInit::Current();
  if (g == nullptr || g->fInitialised) return;
  g->fInitialised = 1;
  g->fHandlerEnabled = 0;
  g->fRoutine = nullptr;
  g->fDatum = nullptr;
  g->fOutputSet = 0;
  g->fBusy = 0;
}

void dbg_enable_handler() {
  dbg_init();
  if (KDbgGlobals* g = KDbgInit::Current()) g->fHandlerEnabled = 1;
}

void dbg_done() {
  KDbgGlobals* g = KDbgInit::Current();
  if (g == nullptr) return;
  if (g->fOutputSet) dbg_clear_output();
  g->fHandlerEnabled = 0;
  g->fInitialised = 0;
}

void dbg_set_output(DBG_output_routine routine, void* datum) {
  dbg_init();
  KDbgGlobals* g = KDbgInit::Current();
  VXK_DCHECK(g != nullptr);
  if (g == nullptr) {
    // Outside the documented use (the thread ring has not run here); the
    // routine would have nowhere to live, so it is not installed.
    vxk_internal::DebugLine("dbg_set_output", "the calling thread has no debug state");
    return;
  }
  g->fRoutine = routine;
  g->fDatum = datum;
  g->fBusy = 1;  // the routine's own output during open and flush is dropped
  if (routine != nullptr) routine(DBG_open, 0, datum, nullptr);
  g->fOutputSet = 1;
  EarlyFlush(routine, datum);
  g->fBusy = 0;
}

void dbg_get_output(DBG_output_routine* routine, void** datum) {
  KDbgGlobals* g = KDbgInit::Current();
  if (routine != nullptr) *routine = g != nullptr ? g->fRoutine : nullptr;
  if (datum != nullptr) *datum = g != nullptr ? g->fDatum : nullptr;
}

void dbg_clear_output() {
  dbg_init();
  KDbgGlobals* g = KDbgInit::Current();
  if (g == nullptr || !g->fOutputSet) return;
  DBG_output_routine routine = g->fRoutine;
  void* datum = g->fDatum;
  g->fRoutine = nullptr;
  g->fDatum = nullptr;
  g->fOutputSet = 0;
  if (routine != nullptr) routine(DBG_close, 0, datum, nullptr);
}

void dbg_write(const char* text) { WriteDetailed(text, 0); }

void dbg_write_detailed(const char* text, long detail) { WriteDetailed(text, detail); }

void dbg_msg(const char* format, ...) {
  if (format == nullptr) return;
  char buf[510];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  dbg_write(buf);
}

void dbg_call_debugger(const char* /*a*/, const char* /*text*/) {
  dbg_init();
  KDbgGlobals* g = KDbgInit::Current();
  if (g == nullptr || !g->fHandlerEnabled) return;
  // Without a debugger SIGTRAP would end the process; the report has been
  // written already, so the program simply goes on.
  if (port::DebuggerAttached()) port::DebuggerBreak();
}

void c_assert(const char* file, int line, const char* expression) {
  const char* f = file != nullptr ? file : "";
  const char* e = expression != nullptr ? expression : "";
  vxk_internal::DebugText("# failed assert ", e, "; File ", f, "; line ", line, '\n');
  std::string text = std::string("#failed assert ") + e + " File " + f + "  line " + std::to_string(line);
  dbg_call_debugger(nullptr, text.c_str());
}
