// The str_ function module: comparison, search and conversion of texts held
// as bytes in the process encoding (single-byte, double-byte or UTF-8).
#ifndef VXKERNEL_TEXT_STR_H_
#define VXKERNEL_TEXT_STR_H_

#include "vxkernel/export.h"

// ===== Comparison =====

// Compares two NUL-terminated texts in the process encoding. Either text
// null compares equal (0). Single-byte and UTF-8 modes: case-sensitive gives
// -1, 0 or 1 by unsigned bytes (UTF-8 byte order is code point order);
// ignoring case gives the difference of the toupper values of the first
// bytes that differ after folding. Double-byte mode: a lead byte and its trail
// byte count as one character valued lead * 256 + trail, and the first
// difference of character values is returned.
VXKERNEL_EXPORT int str_DBCS_cmp(const char* a, const char* b, bool ignoreCase);

#endif  // VXKERNEL_TEXT_STR_H_
