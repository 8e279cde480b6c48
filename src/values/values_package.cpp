// The built-in class objects, the well-known class slots and the value
// package that registers them at start-up.
//
// The class objects are made when the library is loaded (and never
// destroyed), so that a value built early, or destroyed late in static
// destruction, always finds a live class; start-up only registers them.
#include "values/values_package.h"

#include "base/run_reported.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/values/KQSValue.h"

namespace {

struct Builtins {
  KQSClass_Undefined undefined;
  KQSClass_Void voidClass;
  KQSClass_Dynamic dynamic;
  KQSClass_Object object;
  KQSClass_Integer integer;
  KQSClass_Error error;
  KQSClass_BlobId blobId;
  KQSClass_Boolean boolean;
  KQSClass_Point point;
  KQSClass_NotSet notSet;
  KQSClass_Date date;
  KQSClass_Bytes bytes;
  KQSClass_Extern externClass;
  KQSClass_Real real;
  KQSClass_Long longClass;
  KQSClass_List list;
  KQSClass_ListExpand listExpand;
  KQSClass_SlotIndex slotIndex;
  KQSClass_TypeCode typeCode;
  KQSClass_String string;
  // Types without a well-known slot, in registration order.
  KQSClass_OleDispatch oleDispatch;
  KQSClass_OleMethod oleMethod;
  KQSClass_XObject xObject;
  KQSClass_XMethodInvocation xMethodInvocation;
  KQSClass_RZTable recArray;
  KQSClass_RZRow record;
  KQSClass_Assoc assoc;
  KQSClass_VXSearch vxSearch;
  KQSClass_CacheTree cacheTree;
  KQSClass_Vis vis;
  KQSClass_VisTag visTag;
  KQSClass_File file;
  KQSClass_Socket socket;
  KQSClass_CAPIConnect capiConnect;
  KQSClass_CAPILogin capiLogin;
  KQSClass_CAPIErr capiErr;
  KQSClass_CAPILog capiLog;
  KQSClass_DAPISession dapiSession;
  KQSClass_DAPINode dapiNode;
  KQSClass_DAPIVersion dapiVersion;
  KQSClass_DAPIStream dapiStream;
  KQSClass_WAPIMap wapiMap;
  KQSClass_WAPIMapTask wapiMapTask;
  KQSClass_WAPISession wapiSession;
  KQSClass_WAPIWork wapiWork;
  KQSClass_WAPISubWork wapiSubWork;
  KQSClass_WAPISubWorkTask wapiSubWorkTask;
  KQSClass_UAPISession uapiSession;
  KQSClass_UAPIUser uapiUser;

  // The classes after the well-known twenty, in registration order.
  KQSClass* Later(int i) {
    KQSClass* later[] = {&oleDispatch, &oleMethod,   &xObject,     &xMethodInvocation, &recArray,   &record,
                         &assoc,       &vxSearch,    &cacheTree,   &vis,               &visTag,     &file,
                         &socket,      &capiConnect, &capiLogin,   &capiErr,           &capiLog,    &dapiSession,
                         &dapiNode,    &dapiVersion, &dapiStream,  &wapiMap,           &wapiMapTask, &wapiSession,
                         &wapiWork,    &wapiSubWork, &wapiSubWorkTask, &uapiSession,   &uapiUser};
    return i < static_cast<int>(sizeof later / sizeof later[0]) ? later[i] : nullptr;
  }
};

Builtins& TheBuiltins() {
  static Builtins* builtins = new Builtins();
  return *builtins;
}

}  // namespace

KOPPEnvironment* KQSValue::gProcessEnvironment = nullptr;
const KQSClass* KQSValue::gClassUndefined = &TheBuiltins().undefined;
const KQSClass* KQSValue::gClassVoid = &TheBuiltins().voidClass;
const KQSClass* KQSValue::gClassDynamic = &TheBuiltins().dynamic;
const KQSClass* KQSValue::gClassObject = &TheBuiltins().object;
const KQSClass* KQSValue::gClassInteger = &TheBuiltins().integer;
const KQSClass* KQSValue::gClassError = &TheBuiltins().error;
const KQSClass* KQSValue::gClassBlobId = &TheBuiltins().blobId;
const KQSClass* KQSValue::gClassBoolean = &TheBuiltins().boolean;
const KQSClass* KQSValue::gClassPoint = &TheBuiltins().point;
const KQSClass* KQSValue::gClassNotSet = &TheBuiltins().notSet;
const KQSClass* KQSValue::gClassDate = &TheBuiltins().date;
const KQSClass* KQSValue::gClassBytes = &TheBuiltins().bytes;
const KQSClass* KQSValue::gClassExtern = &TheBuiltins().externClass;
const KQSClass* KQSValue::gClassReal = &TheBuiltins().real;
const KQSClass* KQSValue::gClassLong = &TheBuiltins().longClass;
const KQSClass* KQSValue::gClassScript = nullptr;
const KQSClass* KQSValue::gClassList = &TheBuiltins().list;
const KQSClass* KQSValue::gClassListExpand = &TheBuiltins().listExpand;
const KQSClass* KQSValue::gClassSlotIndex = &TheBuiltins().slotIndex;
const KQSClass* KQSValue::gClassTypeCode = &TheBuiltins().typeCode;
const KQSClass* KQSValue::gClassString = &TheBuiltins().string;
const KQSClass* KQSValue::gClassObjRef = nullptr;
const KQSClass* KQSValue::gClassObjInst = nullptr;
const KQSClass* KQSValue::gClassClass = nullptr;
const KQSClass* KQSValue::gClassOPPClass = nullptr;
const KQSClass* KQSValue::gClassSignature = nullptr;
const KQSClass* KQSValue::gClassEnvironment = nullptr;
const KQSClass* KQSValue::gClassCore = nullptr;

const KQSClass* KQSBuiltinClass(short number) {
  Builtins& b = TheBuiltins();
  for (int i = 0; KQSClass* c = b.Later(i); ++i) {
    if (c->ClassNumber() == number) return c;
  }
  return nullptr;
}

void KQSValuePkg::Startup() {
  vxk_internal::RunReported("KQSValuePkg::Startup", [] {
    if (KQSValue::gProcessEnvironment != nullptr) return;  // a second start-up after shut-down
    KQSValue::gProcessEnvironment = new KOPPEnvironment();
    KOPPEnvironment* env = KQSValue::gProcessEnvironment;
    Builtins& b = TheBuiltins();
    struct WellKnown {
      KQSClass* fClass;
      void (*fSetter)(const KQSClass*);
    };
    const WellKnown wellKnown[] = {
        {&b.undefined, &KQSValue::Class_Undefined}, {&b.voidClass, &KQSValue::Class_Void},
        {&b.dynamic, &KQSValue::Class_Dynamic},     {&b.object, &KQSValue::Class_Object},
        {&b.integer, &KQSValue::Class_Integer},     {&b.error, &KQSValue::Class_Error},
        {&b.blobId, &KQSValue::Class_BlobId},       {&b.boolean, &KQSValue::Class_Boolean},
        {&b.point, &KQSValue::Class_Point},         {&b.notSet, &KQSValue::Class_NotSet},
        {&b.date, &KQSValue::Class_Date},           {&b.bytes, &KQSValue::Class_Bytes},
        {&b.externClass, &KQSValue::Class_Extern},  {&b.real, &KQSValue::Class_Real},
        {&b.longClass, &KQSValue::Class_Long},      {&b.list, &KQSValue::Class_List},
        {&b.listExpand, &KQSValue::Class_ListExpand}, {&b.slotIndex, &KQSValue::Class_SlotIndex},
        {&b.typeCode, &KQSValue::Class_TypeCode},   {&b.string, &KQSValue::Class_String},
    };
    for (const WellKnown& w : wellKnown) {
      w.fSetter(w.fClass);
      env->AddProcessClass(w.fClass);
    }
    using Setter = void (*)(const KQSClass*);
    const Setter hostSlots[] = {&KQSValue::Class_Class,  &KQSValue::Class_Signature, &KQSValue::Class_Environment,
                                &KQSValue::Class_ObjRef, &KQSValue::Class_ObjInst,   &KQSValue::Class_Core};
    for (Setter setter : hostSlots) setter(nullptr);
    for (int i = 0; KQSClass* c = b.Later(i); ++i) env->AddProcessClass(c);
  });
}

void KQSValuePkgHigh::Startup() {
  if (KQSValue::ProcessEnvironment() != nullptr) KQSValue::ProcessEnvironment()->ConcurrencyEnable();
}
