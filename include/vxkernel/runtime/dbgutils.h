/// \file
/// The dbgutils_ function module: ready-made debug output routines.
///
/// Each setup installs a routine on the calling thread (see dbg.h), but only
/// when the debug stream prints through the debug output: every setup first
/// calls dbgstrm_set_compatiblity_mode() and installs nothing when the
/// system-log printer was chosen before. The file routine owns its file and
/// closes it on DBG_close.
#ifndef VXKERNEL_RUNTIME_DBGUTILS_H_
#define VXKERNEL_RUNTIME_DBGUTILS_H_

#include <cstdio>
#include <string>

#include "vxkernel/export.h"
#include "vxkernel/runtime/dbg.h"

/// Writes each text to standard error: the setup installs the routine.
///@{
VXKERNEL_EXPORT void dbgutils_batch_setup();
VXKERNEL_EXPORT void dbgutils_batch_output_routine(DBG_output kind, long detail, void* datum,
                                                   const char* text);
///@}
/// Writes each text to standard output and flushes: the setup installs the
/// routine.
///@{
VXKERNEL_EXPORT void dbgutils_cout_setup();
VXKERNEL_EXPORT void dbgutils_cout_output_routine(DBG_output kind, long detail, void* datum,
                                                  const char* text);
///@}

/// Rolls name over (keeping keep older files), opens it with mode (null:
/// "debug.out", "wt") and, if it opened, installs the file routine with the
/// file as its datum. The file or null is stored into *out when out is given;
/// the routine keeps owning the file.
///@{
VXKERNEL_EXPORT void dbgutils_file_setup(const char* name, const char* mode, unsigned keep);
VXKERNEL_EXPORT void dbgutils_file_setup_file(std::FILE** out, const char* name, const char* mode,
                                              unsigned keep);
///@}
/// Writes and flushes each text; closes the file (the datum) on DBG_close.
VXKERNEL_EXPORT void dbgutils_file_output_routine(DBG_output kind, long detail, void* datum,
                                                  const char* text);

/// Numbered roll-over: with keep 3 and "debug.out", debug_3.out is deleted,
/// debug_2.out becomes debug_3.out, debug_1.out debug_2.out and debug.out
/// debug_1.out. Files that are missing are skipped. Returns false when a
/// deletion or renaming failed for another reason (the others still happen).
VXKERNEL_EXPORT unsigned char dbgutils_file_roll_logs(std::string name, unsigned keep);

#endif  // VXKERNEL_RUNTIME_DBGUTILS_H_
