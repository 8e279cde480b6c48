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
#include "vxkernel/runtime/PcRsc.h"
#include "vxkernel/runtime/dbg.h"
#include "vxkernel/runtime/dbgstrm.h"
#include "vxkernel/runtime/dbgutils.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/runtime/mem.h"
// ----- text -----
#include "vxkernel/text/KArray.h"
#include "vxkernel/text/KBSF.h"
#include "vxkernel/text/KHash.h"
#include "vxkernel/text/KStack.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/text/KStringKey.h"
#include "vxkernel/text/Swap.h"
#include "vxkernel/text/T23Tree.h"
#include "vxkernel/text/TArray.h"
#include "vxkernel/text/codepage.h"
#include "vxkernel/text/str.h"
// ----- locale -----
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/locale/KLocale.h"
// ----- classes -----
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KPtrClass.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/classes/KSignature.h"
#include "vxkernel/classes/KQSValueBaseClass.h"
// ----- client interface -----
#include "vxkernel/clientapi/KVal.h"
#include "vxkernel/clientapi/vx_containers.h"
#include "vxkernel/clientapi/vx_value.h"
// ----- values -----
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KRZTable.h"
// ----- threads -----
#include "vxkernel/threads/KCondition.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/threads/KLockedStreams.h"
#include "vxkernel/threads/KMutex.h"
#include "vxkernel/threads/KPthread.h"
#include "vxkernel/threads/KPthreadSpecific.h"
#include "vxkernel/threads/KRWLock.h"
#include "vxkernel/threads/KSharedFile.h"
#include "vxkernel/threads/KSleep.h"
#include "vxkernel/threads/KTimestamp.h"

#endif  // VXKERNEL_VXKERNEL_H_
