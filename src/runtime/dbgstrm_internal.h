// Printer seam of the debug stream, used by the printers of the library and
// by tests that collect the debug lines.
#ifndef VXKERNEL_RUNTIME_DBGSTRM_INTERNAL_H_
#define VXKERNEL_RUNTIME_DBGSTRM_INTERNAL_H_

#include <cstddef>

namespace vxk_internal {

// Receives one printed text (not NUL-terminated by contract; n bytes).
typedef void (*DbgstrmPrinter)(const char* text, size_t n, void* datum);

// Installs printer (null removes it) and returns the previous one. The
// printer may be called from several threads at once.
DbgstrmPrinter DbgstrmSetPrinter(DbgstrmPrinter printer, void* datum);

}  // namespace vxk_internal

#endif  // VXKERNEL_RUNTIME_DBGSTRM_INTERNAL_H_
