// The package table: every participant of the library, as static objects in
// this one file, so that their construction order (and so the order inside
// each ring level) is the order of this table. Destruction at unload runs in
// reverse; a destroyed participant is skipped by any later shut-down.
//
// Each module adds its participant at its place in the table:
//
//   participant           ring     priority
//   KWSASocketPkg         process   8   sockets
//   KPcRscInit            thread   16   per-thread resource-string state
//   KDbgInit              thread   16   per-thread debug-output state
//   ErrProcessGlobals     process  24   process-wide error catalogue
//   KErrInit              thread   16   per-thread error state
//   (thread-start count slot)
//   KContextPkg           thread    1   the per-thread context itself
//   KDirPkg               process  16   start-up directory
//   KJavaVMAppGlobals     thread   16   per-thread Java VM state (when built in)
//   KLocaleInit           thread   16   per-thread locale
//   KQSValuePkg           process   8   class environment and built-in types
//   KQSValuePkgHigh       process  32   class environment locking
//   KPtrPkg               process  15   the Ptr class
#include "vxkernel/version.h"
#if VXKERNEL_WITH_JAVAVM
#include "vxkernel/javavm/KJavaVMAppGlobals.h"
#endif
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/KContext.h"
#include "vxkernel/runtime/PcRsc.h"
#include "vxkernel/runtime/dbg.h"
#include "vxkernel/runtime/err.h"

#include "classes/classes_package.h"
#include "files/files_package.h"
#include "locale/locale_package.h"
#include "net/net_package.h"
#include "values/values_package.h"

namespace {

KWSASocketPkg gWSASocketPkg;
KPcRscInit gPcRscInit;
KDbgInit gDbgInit;
ErrProcessGlobals gErrProcessGlobals;
KErrInit gErrInit;

}  // namespace

// The slot that carries each thread's start count.
uint32_t KAt::gContextAlloc = static_cast<uint32_t>(KContext::Alloc());

namespace {

KContextPkg gContextPkg;
KDirPkg gDirPkg;
#if VXKERNEL_WITH_JAVAVM
KJavaVMAppGlobals gJavaVMAppGlobals;
#endif
KLocaleInit gLocaleInit;
KQSValuePkg gQSValuePkg;
KQSValuePkgHigh gQSValuePkgHigh;
KPtrPkg gPtrPkg;

}  // namespace
