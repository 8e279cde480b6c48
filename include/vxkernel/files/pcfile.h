/// \file
/// c_pc_fopen: the one place where the library opens stdio streams.
#ifndef VXKERNEL_FILES_PCFILE_H_
#define VXKERNEL_FILES_PCFILE_H_

#include <cstdio>

#include "vxkernel/export.h"

extern "C" {

/// Opens name with an fopen-style mode ("r", "w" or "a", optionally with
/// "+", "b" or "t") and a sharing rule that holds against every other open
/// made through the library's sharing opens, in any process, until the
/// stream is closed:
///   text modes ('t', or neither 't' nor 'b')  others may read, not write;
///   "rb"                                      others may read, not write;
///   other binary modes (writing)              others may neither read nor
///                                             write.
/// A process that opens the file with plain open(2) is not held back.
/// 't' is taken out before the mode reaches the C library. Returns the
/// stream, or null (one debug line) when the file cannot be opened or the
/// sharing rule refuses.
VXKERNEL_EXPORT std::FILE* c_pc_fopen(const char* name, const char* mode);

}  // extern "C"

#endif  // VXKERNEL_FILES_PCFILE_H_
