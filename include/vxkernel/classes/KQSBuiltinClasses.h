/// \file
/// The built-in value types: one class object each, made when the library
/// is loaded, registered with the process environment by the value package
/// at start-up and alive until the process ends.
///
/// Immediate classes keep the value in the data word; the others derive from
/// KQSValueBaseClass and keep it in storage. Types whose storage comes from
/// other components of the server (sockets, files, search, the API session
/// types...) are defined here by number, name and flags only: all their
/// behaviour lives in their storage objects.
///
/// Thread rules: class objects are read-only after start-up.
#ifndef VXKERNEL_CLASSES_KQSBUILTINCLASSES_H_
#define VXKERNEL_CLASSES_KQSBUILTINCLASSES_H_

#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSValueBaseClass.h"
#include "vxkernel/export.h"

// ----- immediate classes -----

class VXKERNEL_EXPORT KQSClass_Undefined : public KQSClass {
 public:
  KQSClass_Undefined();
  bool CoerceToBoolean(void* data) const override;
  long DotInvoke(void* data, const KQSValue& name, long argc, KQSValue* argv, KQSValue& out,
                 KQSValue* env) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const override;
};

class VXKERNEL_EXPORT KQSClass_Error : public KQSClass {
 public:
  KQSClass_Error();
  bool CoerceToBoolean(void* data) const override;
  bool CoerceTo(void* data, short typeCode, KQSValue& out) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

class VXKERNEL_EXPORT KQSClass_Integer : public KQSClass {
 public:
  KQSClass_Integer();
  bool CoerceToBoolean(void* data) const override;
  bool CoerceTo(void* data, short typeCode, KQSValue& out) const override;
  int Compare(void* a, void* b, bool ignoreCase) const override;
  int Equal(void* a, void* b) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const override;
};

class VXKERNEL_EXPORT KQSClass_BlobId : public KQSClass {
 public:
  KQSClass_BlobId();
  bool CoerceToBoolean(void* data) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

class VXKERNEL_EXPORT KQSClass_Boolean : public KQSClass {
 public:
  KQSClass_Boolean();
  bool CoerceToBoolean(void* data) const override;
  bool CoerceTo(void* data, short typeCode, KQSValue& out) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const override;
};

class VXKERNEL_EXPORT KQSClass_Point : public KQSClass {
 public:
  KQSClass_Point();
  bool CoerceToBoolean(void* data) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

class VXKERNEL_EXPORT KQSClass_NotSet : public KQSClass {
 public:
  KQSClass_NotSet();
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

/// Void, Dynamic, Object and SlotIndex: base behaviour, their own flags.
class VXKERNEL_EXPORT KQSClass_Void : public KQSClass {
 public:
  KQSClass_Void();
};
class VXKERNEL_EXPORT KQSClass_Dynamic : public KQSClass {
 public:
  KQSClass_Dynamic();
};
class VXKERNEL_EXPORT KQSClass_Object : public KQSClass {
 public:
  KQSClass_Object();
};
class VXKERNEL_EXPORT KQSClass_SlotIndex : public KQSClass {
 public:
  KQSClass_SlotIndex();
};

// ----- storage classes -----

class VXKERNEL_EXPORT KQSClass_String : public KQSValueBaseClass {
 public:
  KQSClass_String();
  bool CoerceToBoolean(void* data) const override;
  int Compare(void* a, void* b, bool ignoreCase) const override;
  int Equal(void* a, void* b) const override;
  std::ostream& DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const override;

 protected:
  KQSClass_String(const char* name, short number);
};

class VXKERNEL_EXPORT KQSClass_TypeCode : public KQSClass_String {
 public:
  KQSClass_TypeCode();
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const override;
};

class VXKERNEL_EXPORT KQSClass_List : public KQSValueBaseClass {
 public:
  KQSClass_List();
  bool CoerceToBoolean(void* data) const override;
  int Compare(void* a, void* b, bool ignoreCase) const override;
  int Equal(void* a, void* b) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const override;
};

class VXKERNEL_EXPORT KQSClass_Real : public KQSValueBaseClass {
 public:
  KQSClass_Real();
  bool CoerceToBoolean(void* data) const override;
  bool CoerceTo(void* data, short typeCode, KQSValue& out) const override;
  int Compare(void* a, void* b, bool ignoreCase) const override;
  int Equal(void* a, void* b) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

class VXKERNEL_EXPORT KQSClass_Long : public KQSValueBaseClass {
 public:
  KQSClass_Long();
  bool CoerceToBoolean(void* data) const override;
  bool CoerceTo(void* data, short typeCode, KQSValue& out) const override;
  int Compare(void* a, void* b, bool ignoreCase) const override;
  int Equal(void* a, void* b) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

/// Bytes; also the base of Extern, which orders and compares the same way.
class VXKERNEL_EXPORT KQSClass_Bytes : public KQSValueBaseClass {
 public:
  KQSClass_Bytes();
  int Compare(void* a, void* b, bool ignoreCase) const override;
  int Equal(void* a, void* b) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;

 protected:
  KQSClass_Bytes(const char* name, short number);
};

class VXKERNEL_EXPORT KQSClass_Extern : public KQSClass_Bytes {
 public:
  KQSClass_Extern();
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

class VXKERNEL_EXPORT KQSClass_Date : public KQSValueBaseClass {
 public:
  KQSClass_Date();
  int Compare(void* a, void* b, bool ignoreCase) const override;
  int Equal(void* a, void* b) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

/// A type whose behaviour lives entirely in its storage objects.
class VXKERNEL_EXPORT KQSClass_Forwarding : public KQSValueBaseClass {
 public:
  KQSClass_Forwarding(const char* name, short number, bool canSubscript, bool canInvoke, short canDot);
};

#define VXK_FORWARDING_CLASS(Name)                                             \
  class VXKERNEL_EXPORT KQSClass_##Name : public KQSClass_Forwarding {         \
   public:                                                                     \
    KQSClass_##Name();                                                         \
  };
VXK_FORWARDING_CLASS(XMethodInvocation)
VXK_FORWARDING_CLASS(XObject)
VXK_FORWARDING_CLASS(CacheTree)
VXK_FORWARDING_CLASS(VXSearch)
VXK_FORWARDING_CLASS(Assoc)
VXK_FORWARDING_CLASS(OleMethod)
VXK_FORWARDING_CLASS(OleDispatch)
VXK_FORWARDING_CLASS(CAPILogin)
VXK_FORWARDING_CLASS(WAPISubWorkTask)
VXK_FORWARDING_CLASS(WAPISubWork)
VXK_FORWARDING_CLASS(UAPIUser)
VXK_FORWARDING_CLASS(CAPILog)
VXK_FORWARDING_CLASS(CAPIErr)
VXK_FORWARDING_CLASS(DAPIStream)
VXK_FORWARDING_CLASS(DAPIVersion)
VXK_FORWARDING_CLASS(DAPINode)
VXK_FORWARDING_CLASS(DAPISession)
VXK_FORWARDING_CLASS(WAPIWork)
VXK_FORWARDING_CLASS(WAPIMapTask)
VXK_FORWARDING_CLASS(WAPIMap)
VXK_FORWARDING_CLASS(WAPISession)
VXK_FORWARDING_CLASS(UAPISession)
VXK_FORWARDING_CLASS(CAPIConnect)
VXK_FORWARDING_CLASS(VisTag)
VXK_FORWARDING_CLASS(Vis)
VXK_FORWARDING_CLASS(Socket)
VXK_FORWARDING_CLASS(File)
VXK_FORWARDING_CLASS(ListExpand)
VXK_FORWARDING_CLASS(RZRow)
VXK_FORWARDING_CLASS(RZTable)
#undef VXK_FORWARDING_CLASS

/// The process-wide class objects of the types that have no well-known slot
/// (Assoc, Record, RecArray, the API and host-component types), by number;
/// null for other numbers.
VXKERNEL_EXPORT const KQSClass* KQSBuiltinClass(short number);

#endif  // VXKERNEL_CLASSES_KQSBUILTINCLASSES_H_
