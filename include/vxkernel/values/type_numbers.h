/// \file
/// The type numbers of the built-in value classes, as KQSValue::Type()
/// reports them and the binary form and class images store them: one list
/// for the library and its hosts, for every switch on a value's type.
#ifndef VXKERNEL_VALUES_TYPE_NUMBERS_H_
#define VXKERNEL_VALUES_TYPE_NUMBERS_H_

namespace vxk_types {

// ===== Immediate types: the value lives in the data word =====
constexpr short kUndefined = 0;
constexpr short kError = 1;
constexpr short kInteger = 2;
constexpr short kObjRef = 3;  ///< no built-in class; the host may install one
constexpr short kBlobId = 4;
constexpr short kBoolean = 5;
constexpr short kPoint = 6;
constexpr short kNotSet = 7;
constexpr short kVoid = 8;
constexpr short kPtr = 17;
constexpr short kDynamic = -127;
constexpr short kObject = -128;
constexpr short kSlotIndex = -131;

// ===== Storage types: the data word points to reference-counted storage =====
constexpr short kString = -1;
constexpr short kList = -2;
constexpr short kScript = -3;  ///< no built-in class; the host may install one
constexpr short kReal = -4;
constexpr short kExtern = -5;
constexpr short kBytes = -6;
constexpr short kDate = -7;
constexpr short kLong = -8;
constexpr short kAssoc = -18;
constexpr short kRecord = -109;
constexpr short kRecArray = -110;
constexpr short kTypeCode = -132;

}  // namespace vxk_types

#endif  // VXKERNEL_VALUES_TYPE_NUMBERS_H_
