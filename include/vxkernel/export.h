/// \file
/// Symbol visibility for the vxkernel shared library.
///
/// The library is built with hidden visibility; only declarations marked
/// VXKERNEL_EXPORT form its binary interface.
#ifndef VXKERNEL_EXPORT_H_
#define VXKERNEL_EXPORT_H_

#include "vxkernel/version.h"

/// The same attribute serves the library and its users: on ELF, default
/// visibility both exports a definition and lets a user bind to it.
#define VXKERNEL_EXPORT __attribute__((visibility("default")))

#endif  // VXKERNEL_EXPORT_H_
