/// \file
/// The type numbers of the built-in value classes, as KQSValue::Type()
/// reports them and the binary form and class images store them: one list
/// for the library and its hosts, for every switch on a value's type.
#ifndef VXKERNEL_VALUES_TYPE_NUMBERS_H_
#define VXKERNEL_VALUES_TYPE_NUMBERS_H_

/// The built-in type numbers: the immediate types, then the storage types.
namespace vxk_types {

// ===== Immediate types: the value lives in the data word =====
constexpr short kUndefined = 0;     ///< no value; what a new KQSValue holds
constexpr short kError = 1;         ///< an error code (32 bits)
constexpr short kInteger = 2;       ///< a signed 32-bit integer
constexpr short kObjRef = 3;        ///< no built-in class; the host may install one
constexpr short kBlobId = 4;        ///< a blob identifier (32 bits)
constexpr short kBoolean = 5;       ///< 0 or 1
constexpr short kPoint = 6;         ///< two 16-bit coordinates (GEOM_point)
constexpr short kNotSet = 7;        ///< "no value given", unlike Undefined
constexpr short kVoid = 8;          ///< the Void type; no payload
constexpr short kPtr = 17;          ///< a box holding another value (KPtrClass)
constexpr short kDynamic = -127;    ///< the Dynamic type: member access, subscripts, calls
constexpr short kObject = -128;     ///< the Object type: member access
constexpr short kSlotIndex = -131;  ///< a member named by its slot number

// ===== Storage types: the data word points to reference-counted storage =====
constexpr short kString = -1;      ///< text (KQSValueString)
constexpr short kList = -2;        ///< a List (KQSValueList)
constexpr short kScript = -3;      ///< no built-in class; the host may install one
constexpr short kReal = -4;        ///< a double (KQSValueReal)
constexpr short kExtern = -5;      ///< bytes of another component, ordered as Bytes
constexpr short kBytes = -6;       ///< a byte string (KQSValueBytes)
constexpr short kDate = -7;        ///< a date and time (KQSValueDate)
constexpr short kLong = -8;        ///< a signed 64-bit integer (KQSValueLong)
constexpr short kAssoc = -18;      ///< an associative array (KAssocVal)
constexpr short kRecord = -109;    ///< a row of named columns (KRZRow)
constexpr short kRecArray = -110;  ///< a table of Records (KRZTable)
constexpr short kTypeCode = -132;  ///< a type code held as text (KQSValueString)

}  // namespace vxk_types

#endif  // VXKERNEL_VALUES_TYPE_NUMBERS_H_
