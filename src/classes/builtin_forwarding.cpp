// The built-in types whose behaviour lives entirely in storage objects
// supplied by other components: only their numbers, names and flags are
// fixed here.
#include "vxkernel/classes/KQSBuiltinClasses.h"

#include "vxkernel/values/type_numbers.h"

KQSClass_Forwarding::KQSClass_Forwarding(const char* name, short number, bool canSubscript, bool canInvoke,
                                         short canDot)
    : KQSValueBaseClass(name, number) {
  fCanSubscript = canSubscript;
  fCanInvoke = canInvoke;
  fCanDot = canDot;
}

#define VXK_FORWARDING(Class, Name, Number, Subscript, Invoke, Dot) \
  KQSClass_##Class::KQSClass_##Class() : KQSClass_Forwarding(Name, Number, Subscript, Invoke, Dot) {}
VXK_FORWARDING(XMethodInvocation, "XMethodInvocation", -13, false, true, 0)
VXK_FORWARDING(XObject, "XObject", -14, false, false, 1)
VXK_FORWARDING(CacheTree, "CacheTree", -15, false, false, 0)
VXK_FORWARDING(VXSearch, "VXSearch", -16, true, false, 0)
VXK_FORWARDING(Assoc, "Assoc", vxk_types::kAssoc, true, false, 2)
VXK_FORWARDING(OleMethod, "OleMethod", -19, false, true, 0)
VXK_FORWARDING(OleDispatch, "OleDispatch", -20, false, false, 1)
VXK_FORWARDING(CAPILogin, "CAPILogin", -21, false, false, 3)
VXK_FORWARDING(WAPISubWorkTask, "WAPISubWorkTask", -23, false, false, 3)
VXK_FORWARDING(WAPISubWork, "WAPISubWork", -24, false, false, 3)
VXK_FORWARDING(UAPIUser, "UAPIUser", -65, false, false, 3)
VXK_FORWARDING(CAPILog, "CAPILog", -66, false, false, 3)
VXK_FORWARDING(CAPIErr, "CAPIErr", -67, false, false, 3)
VXK_FORWARDING(DAPIStream, "DAPIStream", -68, false, false, 3)
VXK_FORWARDING(DAPIVersion, "DAPIVersion", -69, false, false, 3)
VXK_FORWARDING(DAPINode, "DAPINode", -72, false, false, 3)
VXK_FORWARDING(DAPISession, "DAPISession", -74, false, false, 3)
VXK_FORWARDING(WAPIWork, "WAPIWork", -75, false, false, 3)
VXK_FORWARDING(WAPIMapTask, "WAPIMapTask", -76, false, false, 3)
VXK_FORWARDING(WAPIMap, "WAPIMap", -77, false, false, 3)
VXK_FORWARDING(WAPISession, "WAPISession", -78, false, false, 3)
VXK_FORWARDING(UAPISession, "UAPISession", -79, false, false, 3)
VXK_FORWARDING(CAPIConnect, "CAPIConnect", -80, false, false, 3)
VXK_FORWARDING(VisTag, "VisTag", -85, true, false, 0)
VXK_FORWARDING(Vis, "Vis", -86, true, false, 3)
VXK_FORWARDING(Socket, "Socket", -102, false, false, 3)
VXK_FORWARDING(File, "File", -107, false, false, 3)
VXK_FORWARDING(ListExpand, "ListExpand", -108, false, false, 0)
VXK_FORWARDING(RZRow, "Record", vxk_types::kRecord, true, false, 1)
VXK_FORWARDING(RZTable, "RecArray", vxk_types::kRecArray, true, false, 0)
#undef VXK_FORWARDING
