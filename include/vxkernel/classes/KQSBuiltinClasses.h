/// \file
/// The built-in value types: one class object each, made when the library
/// is loaded, registered with the process environment by the value package
/// at start-up and alive until the process ends.
///
/// Immediate classes keep the value in the data word; the others derive from
/// KQSValueBaseClass and keep it in storage. Each class comment below says
/// what a value holds, its truth, its conversions and its text form (the
/// full grammar is in docs/value-format.md); members not described there
/// behave as KQSClass documents. Only Undefined, Integer, Boolean, String,
/// TypeCode and List have a binary form. Types whose storage comes from
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

/// Undefined (class 0): no value. False; text `?`; binary form the class
/// number alone.
class VXKERNEL_EXPORT KQSClass_Undefined : public KQSClass {
 public:
  KQSClass_Undefined();
  bool CoerceToBoolean(void* data) const override;
  /// Calls name itself with the arguments when name can be invoked (a
  /// function value standing in for the feature) and returns its status;
  /// otherwise -1 and one debug line.
  long DotInvoke(void* data, const KQSValue& name, long argc, KQSValue* argv, KQSValue& out,
                 KQSValue* env) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const override;
};

/// Error: a 32-bit error code in the data word. False; text `E` and the
/// code; displayed as the code's catalogue message.
class VXKERNEL_EXPORT KQSClass_Error : public KQSClass {
 public:
  KQSClass_Error();
  bool CoerceToBoolean(void* data) const override;
  /// True with out unchanged, whatever typeCode: an error travels through
  /// conversions as itself.
  bool CoerceTo(void* data, short typeCode, KQSValue& out) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

/// Integer: a signed 32-bit number in the data word. True when not 0;
/// converts to Real and Long; numeric order; text in decimal; binary
/// payload int32.
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

/// BlobId: a 32-bit blob number in the data word. True when not 0; text
/// `B/` and the number.
class VXKERNEL_EXPORT KQSClass_BlobId : public KQSClass {
 public:
  KQSClass_BlobId();
  bool CoerceToBoolean(void* data) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

/// Boolean: the low byte of the data word, true when not 0. Converts to
/// Integer, Long and Real as 0 or 1; text `true` or `false`; binary payload
/// one byte.
class VXKERNEL_EXPORT KQSClass_Boolean : public KQSClass {
 public:
  KQSClass_Boolean();
  bool CoerceToBoolean(void* data) const override;
  bool CoerceTo(void* data, short typeCode, KQSValue& out) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const override;
};

/// Point: x and y as the signed low and high 16-bit halves of the data
/// word. True unless both are 0; text `(x,y)`.
class VXKERNEL_EXPORT KQSClass_Point : public KQSClass {
 public:
  KQSClass_Point();
  bool CoerceToBoolean(void* data) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

/// NotSet: no payload. Text `N`; otherwise base behaviour (true in a
/// condition).
class VXKERNEL_EXPORT KQSClass_NotSet : public KQSClass {
 public:
  KQSClass_NotSet();
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

/// Void, Dynamic, Object and SlotIndex: base behaviour, their own flags.
/// Void is the result type of a feature that returns nothing.
class VXKERNEL_EXPORT KQSClass_Void : public KQSClass {
 public:
  KQSClass_Void();
};
/// Dynamic: the "any type" of signatures; subscripts, calls and dot access
/// (kind 2) are allowed.
class VXKERNEL_EXPORT KQSClass_Dynamic : public KQSClass {
 public:
  KQSClass_Dynamic();
};
/// Object: the "any object type" of signatures; dot access kind 2.
class VXKERNEL_EXPORT KQSClass_Object : public KQSClass {
 public:
  KQSClass_Object();
};
/// SlotIndex: a feature position in the data word, used as a feature name
/// that designates a slot of a class's own table.
class VXKERNEL_EXPORT KQSClass_SlotIndex : public KQSClass {
 public:
  KQSClass_SlotIndex();
};

// ----- storage classes -----

/// String: text in KQSValueString storage; subscripts allowed. True when
/// not empty. Ordered by str_cmp_intl (str_cmpu_intl when ignoring case),
/// equal only when byte for byte equal; text quoted with escapes,
/// displayed as the bare text; binary payload a counted string.
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
  /// For String-like types (TypeCode): their own name and number.
  KQSClass_String(const char* name, short number);
};

/// TypeCode: a type name held as a String. Text and display \%'name'
/// (no escapes); binary payload a counted string.
class VXKERNEL_EXPORT KQSClass_TypeCode : public KQSClass_String {
 public:
  KQSClass_TypeCode();
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
  KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const override;
};

/// List: elements in KQSValueList storage; subscripts allowed. True when
/// it has elements; ordered and compared element by element; text
/// `{a,b}` (`{}` without storage); binary payload a count and the
/// elements. Reading binary Lists nests at most 512 levels.
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

/// Real: a double in KQSValueReal storage. True when farther than 2.2e-16
/// from 0, and two Reals that close are equal (Compare still orders them
/// exactly). Converts to Integer and Long when in their range (truncated);
/// text `G` and 15 significant digits.
class VXKERNEL_EXPORT KQSClass_Real : public KQSValueBaseClass {
 public:
  KQSClass_Real();
  bool CoerceToBoolean(void* data) const override;
  bool CoerceTo(void* data, short typeCode, KQSValue& out) const override;
  int Compare(void* a, void* b, bool ignoreCase) const override;
  int Equal(void* a, void* b) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

/// Long: a signed 64-bit number in KQSValueLong storage. True when not 0;
/// converts to Integer when in range, and to Real; text `L` and the number.
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
/// The bytes live in KQSValueBytes storage; ordered as unsigned bytes, a
/// prefix before the longer run; text `[` two lowercase hex digits per
/// byte `]`.
class VXKERNEL_EXPORT KQSClass_Bytes : public KQSValueBaseClass {
 public:
  KQSClass_Bytes();
  int Compare(void* a, void* b, bool ignoreCase) const override;
  int Equal(void* a, void* b) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;

 protected:
  /// For Bytes-like types (Extern): their own name and number.
  KQSClass_Bytes(const char* name, short number);
};

/// Extern: bytes owned by another component. Its text form is its
/// storage's own, else the generic `U<Extern(n)=0x...>`.
class VXKERNEL_EXPORT KQSClass_Extern : public KQSClass_Bytes {
 public:
  KQSClass_Extern();
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;
};

/// Date: a date and time in KQSValueDate storage; chronological order.
/// Text `D/year/month/day:hour:minute:second`; displayed through strftime
/// with the format of catalogue message 0x21410001, or
/// \%a \%b \%d \%H:\%M:\%S \%Y when the catalogue has none. Making the class
/// makes it the class of KQSValue's dates (KQSValue::Class_Date).
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
  /// A type called name (copied) with number and the given subscript, call
  /// and dot-access flags (see KQSClass::CanDot).
  KQSClass_Forwarding(const char* name, short number, bool canSubscript, bool canInvoke, short canDot);
};

/// Declares `KQSClass_##Name`, a KQSClass_Forwarding whose default constructor
/// fixes its name, number and flags. Used for the classes listed below
/// (Assoc, the Record type RZRow and the RecArray type RZTable among them),
/// then undefined.
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
