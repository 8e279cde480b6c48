// Umbrella header: includes every public header of vxkernel.
#ifndef VXKERNEL_VXKERNEL_H_
#define VXKERNEL_VXKERNEL_H_

#include "vxkernel/export.h"
#include "vxkernel/version.h"
#include "vxkernel/vxtypes.h"

// ----- runtime -----
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/KContext.h"
#include "vxkernel/runtime/KLibraryInfo.h"
#include "vxkernel/runtime/KThreadGlobals.h"
#include "vxkernel/runtime/dbgstrm.h"
// ----- text -----
// ----- threads -----

#endif  // VXKERNEL_VXKERNEL_H_
