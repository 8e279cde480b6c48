/// \file
/// The dbg_ function module: per-thread debug output routines.
///
/// Each thread may install one output routine; it receives DBG_open when it is
/// installed, DBG_write for every text the thread writes, and DBG_close when it
/// is removed. Text written before any thread ring has started (or on a thread
/// without a context) is kept in a process-wide early buffer and handed to the
/// next routine installed on any thread, as one DBG_write.
///
/// Thread rule: a thread's routine and flags belong to that thread and are
/// never locked; the early buffer has its own lock. Routines run on the
/// writing thread, one call at a time per thread.
#ifndef VXKERNEL_RUNTIME_DBG_H_
#define VXKERNEL_RUNTIME_DBG_H_

#include <cstdint>

#include "vxkernel/export.h"
#include "vxkernel/runtime/KThreadGlobals.h"

/// Events passed to an output routine.
enum DBG_output : int {
  DBG_open = 1,   ///< the routine is installed; text is null
  DBG_close = 2,  ///< the routine is removed; text is null
  DBG_write = 3,  ///< text is written
};

/// An output routine: the event, a detail number (dbg_write_detailed), the
/// datum given to dbg_set_output, and the text (null for open and close).
typedef void (*DBG_output_routine)(DBG_output kind, long detail, void* datum, const char* text);

// ===== Per-thread state =====

/// The debug state of one thread, made by KDbgInit when the thread starts.
struct KDbgGlobals {
  uint8_t fInitialised;        ///< dbg_init has run on this thread
  uint8_t fHandlerEnabled;     ///< dbg_call_debugger may break (dbg_enable_handler)
  DBG_output_routine fRoutine; ///< the installed routine; null when none
  void* fDatum;                ///< passed to fRoutine on every call; not owned
  uint8_t fOutputSet;          ///< a routine is installed
  uint8_t fBusy;  ///< set while the routine runs, so its own output cannot loop
};

/// Thread-ring participant (priority 16, one slot) that owns every thread's
/// KDbgGlobals. It also counts its Init calls: until the first one has run no
/// thread has debug state and every write goes to the early buffer. The one
/// instance lives in the package table; Current() finds the calling thread's
/// state through it.
class VXKERNEL_EXPORT KDbgInit : public KThreadGlobals {
 public:
  KDbgInit();
  ~KDbgInit() override;

  /// The calling thread's state: null before any thread ring has run, and on
  /// a thread without a context.
  static KDbgGlobals* Current();

 protected:
  void Init() override;
  void Cleanup() override;
};

// ===== Functions =====

/// Initialises the thread's state on its first call (flags and routine cleared).
VXKERNEL_EXPORT void dbg_init();
/// dbg_init, then allows dbg_call_debugger to break.
VXKERNEL_EXPORT void dbg_enable_handler();
/// Removes the routine (DBG_close) if one is set and clears the flags.
VXKERNEL_EXPORT void dbg_done();
/// Installs routine with datum, sends it DBG_open, then hands it the early
/// buffer if there is one. The previous routine is not closed.
/// REQUIRES: the calling thread has started its thread ring.
VXKERNEL_EXPORT void dbg_set_output(DBG_output_routine routine, void* datum);
/// The installed routine and datum (null when none).
VXKERNEL_EXPORT void dbg_get_output(DBG_output_routine* routine, void** datum);
/// Sends DBG_close to the routine and removes it.
VXKERNEL_EXPORT void dbg_clear_output();
/// Hands text to the thread's routine; dropped while none is set or while the
/// routine itself is running. Without thread state it goes to the early buffer.
VXKERNEL_EXPORT void dbg_write(const char* text);
/// As dbg_write, passing detail to the routine.
VXKERNEL_EXPORT void dbg_write_detailed(const char* text, long detail);
/// printf-style formatting into 510 bytes (longer results are cut), then
/// dbg_write.
VXKERNEL_EXPORT void dbg_msg(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// Breaks into an attached debugger when the handler is enabled
/// (dbg_enable_handler); does nothing otherwise. The texts are not used.
VXKERNEL_EXPORT void dbg_call_debugger(const char* a, const char* text);

// ===== Assertion =====

/// Reports a failed assertion: one debug-stream line, then dbg_call_debugger.
/// The program continues.
VXKERNEL_EXPORT void c_assert(const char* file, int line, const char* expression);

#endif  // VXKERNEL_RUNTIME_DBG_H_
