/// \file
/// Umbrella header: includes every public header of vxkernel.
#ifndef VXKERNEL_VXKERNEL_H_
#define VXKERNEL_VXKERNEL_H_

#include "vxkernel/export.h"
#include "vxkernel/version.h"
#include "vxkernel/vxtypes.h"

// ----- base -----
#include "vxkernel/base/mem.h"
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
// ----- files -----
#include "vxkernel/files/KConfigData.h"
#include "vxkernel/files/KConfigFile.h"
#include "vxkernel/files/KDir.h"
#include "vxkernel/files/KFile.h"
#include "vxkernel/files/KFileCopyOperation.h"
#include "vxkernel/files/KFilePrefs.h"
#include "vxkernel/files/KLoadLib.h"
#include "vxkernel/files/KPath.h"
#include "vxkernel/files/env.h"
#include "vxkernel/files/fileprefs.h"
#include "vxkernel/files/pcfile.h"
// ----- docconv -----
#include "vxkernel/docconv/KDor.h"
// ----- locale -----
#include "vxkernel/locale/KAttr.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/locale/KLocale.h"
// ----- log -----
#include "vxkernel/log/KSysLog.h"
#include "vxkernel/log/KSysLog_AsychBufferRoutine.h"
#include "vxkernel/log/KSysLog_Entry.h"
#include "vxkernel/log/KSysLog_EntryList.h"
#include "vxkernel/log/KSysLog_Iterator.h"
// ----- bundles -----
#include "vxkernel/bundles/KProperties.h"
#include "vxkernel/bundles/KPropertyResourceBundle.h"
// ----- classes -----
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KPtrClass.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/classes/KQSClassImplLoader.h"
#include "vxkernel/classes/KQSClassPointer.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/classes/KQSValueBaseClass.h"
#include "vxkernel/classes/KSignature.h"
// ----- client interface -----
#include "vxkernel/clientapi/KVal.h"
#include "vxkernel/clientapi/vx_containers.h"
#include "vxkernel/clientapi/vx_value.h"
// ----- values -----
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValue_fwd.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/KQSValueBytes.h"
#include "vxkernel/values/KQSValueDate.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KQSValueLong.h"
#include "vxkernel/values/KQSValueReal.h"
#include "vxkernel/values/KQSValueString.h"
#include "vxkernel/values/KRZRow.h"
#include "vxkernel/values/KRZTable.h"
#include "vxkernel/values/type_numbers.h"
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
// ----- streams -----
#include "vxkernel/streams/KSharedFileStream.h"
#include "vxkernel/streams/KStreamData.h"
#include "vxkernel/streams/gstreambuf.h"
#include "vxkernel/streams/igstream.h"
#include "vxkernel/streams/ogstream.h"
// ----- net -----
#include "vxkernel/net/KISocket.h"
#include "vxkernel/net/KOSocket.h"
#include "vxkernel/net/KSocket.h"
#include "vxkernel/net/KSocketStream.h"
#include "vxkernel/net/KWSASocket.h"
// ----- web -----
#include "vxkernel/web/KHTTPArgs.h"
#include "vxkernel/web/KSGMLValues.h"
#include "vxkernel/web/KWebEscape.h"
#include "vxkernel/web/KWebFormat.h"

// ----- cache -----
#include "vxkernel/cache/KCache.h"
#include "vxkernel/cache/KFileCache.h"
#include "vxkernel/cache/KFileCacheDesc.h"
#include "vxkernel/cache/KVXClientCacheItem.h"

// ----- javavm (left out of builds configured with VXKERNEL_WITH_JAVAVM=OFF) -----
#if VXKERNEL_WITH_JAVAVM
#include "vxkernel/javavm/KJavaVM.h"
#include "vxkernel/javavm/KJavaVMAppGlobals.h"
#include "vxkernel/javavm/KJavaVMGlobals.h"
#endif

// ----- crypt -----
#include "vxkernel/crypt/CryptCore.h"
#include "vxkernel/crypt/KCrypt.h"

#endif  // VXKERNEL_VXKERNEL_H_
