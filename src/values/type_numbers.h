// The type numbers of the built-in value classes, as KQSValue::Type()
// reports them and the binary form and class images store them: one list
// for every module that switches on a value's type.
#ifndef VXKERNEL_VALUES_TYPE_NUMBERS_H_
#define VXKERNEL_VALUES_TYPE_NUMBERS_H_

namespace vxk_types {

constexpr short kUndefined = 0;
constexpr short kError = 1;
constexpr short kInteger = 2;
constexpr short kObjRef = 3;
constexpr short kBoolean = 5;
constexpr short kString = -1;
constexpr short kList = -2;
constexpr short kReal = -4;
constexpr short kBytes = -6;
constexpr short kDate = -7;
constexpr short kLong = -8;
constexpr short kAssoc = -18;
constexpr short kRecord = -109;
constexpr short kRecArray = -110;
constexpr short kObject = -128;
constexpr short kSlotIndex = -131;

}  // namespace vxk_types

#endif  // VXKERNEL_VALUES_TYPE_NUMBERS_H_
