/// \file
/// The debug stream: where every failure of the library writes its one line.
///
/// Callers build a message in a string stream and hand the stream over; the
/// text goes to the printer the process has chosen, and nowhere while none is
/// chosen. The printer is chosen once per process (the first call wins):
/// the compatibility printer writes through the calling thread's debug output
/// routine (dbg_write), the system-log printer appends to the process's
/// system log. Safe to call from any thread.
#ifndef VXKERNEL_RUNTIME_DBGSTRM_H_
#define VXKERNEL_RUNTIME_DBGSTRM_H_

#include <ostream>

#include "vxkernel/export.h"

/// Hands the text accumulated in the string stream s to the chosen printer.
/// A stream that is not backed by a string buffer holds no text to hand
/// over: it prints the line "dbgstrm_print - not a string stream; nothing
/// printed" instead.
VXKERNEL_EXPORT void dbgstrm_print(std::ostream& s);

/// Choose the printer, once per process: the first call of either wins and
/// later calls change nothing. Both return false. The system-log printer
/// creates the process's system log on the file logfile.
///@{
VXKERNEL_EXPORT bool dbgstrm_set_compatiblity_mode();
VXKERNEL_EXPORT bool dbgstrm_set_syslog_mode(const char* logfile);
///@}

/// Whether a printer has been chosen, and which.
///@{
VXKERNEL_EXPORT bool dbgstrm_is_initialized();
VXKERNEL_EXPORT bool dbgstrm_is_compatiblity_mode();
VXKERNEL_EXPORT bool dbgstrm_is_syslog_mode();
///@}

/// For extension modules: prints text followed by a line end.
VXKERNEL_EXPORT void VXDropinEcho(const char* text);

#endif  // VXKERNEL_RUNTIME_DBGSTRM_H_
