// The debug stream: where every failure of the library writes its one line.
//
// Callers build a message in a string stream and hand the stream over; the
// text goes to the printer the process has chosen, and nowhere while none is
// chosen. Safe to call from any thread.
#ifndef VXKERNEL_RUNTIME_DBGSTRM_H_
#define VXKERNEL_RUNTIME_DBGSTRM_H_

#include <ostream>

#include "vxkernel/export.h"

// Hands the text accumulated in the string stream s to the chosen printer.
// A stream that is not backed by a string buffer prints nothing.
VXKERNEL_EXPORT void dbgstrm_print(std::ostream& s);

#endif  // VXKERNEL_RUNTIME_DBGSTRM_H_
