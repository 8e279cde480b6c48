// The immediate built-in types: the value lives in the data word, with its
// 32-bit meaning.
#include <cstdint>
#include <ostream>

#include "base/debug_line.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/text/Swap.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/type_numbers.h"

namespace {

int32_t Int32(void* data) { return static_cast<int32_t>(reinterpret_cast<uintptr_t>(data)); }
uint32_t Word32(void* data) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data)); }

}  // namespace

// ----- Undefined -----

KQSClass_Undefined::KQSClass_Undefined() : KQSClass("Undefined", vxk_types::kUndefined) {}

bool KQSClass_Undefined::CoerceToBoolean(void* /*data*/) const { return false; }

long KQSClass_Undefined::DotInvoke(void* data, const KQSValue& name, long argc, KQSValue* argv, KQSValue& out,
                                   KQSValue* /*env*/) const {
  // The name value is itself the function to call.
  if (name.CanInvoke()) return name.Invoke(argc, argv, out);
  vxk_internal::DebugText("KQSClass_Undefined::DotInvoke( ", data, ", ", name, " )  !CanInvoke\n");
  return -1;
}

std::ostream& KQSClass_Undefined::FormattedOutput(void* /*data*/, std::ostream& out, KQSClassFormatter* /*f*/) const {
  return out << '?';
}

std::ostream& KQSClass_Undefined::BinaryOutput(void* /*data*/, std::ostream& out, KQSClassFormatter* /*f*/) const {
  SwapWriteI2(out, ClassNumber());
  return out;
}

// ----- Error -----

KQSClass_Error::KQSClass_Error() : KQSClass("Error", vxk_types::kError) {}

bool KQSClass_Error::CoerceToBoolean(void* /*data*/) const { return false; }

// An error stays what it is whatever it is asked to become, so it travels
// through conversions unchanged.
bool KQSClass_Error::CoerceTo(void* /*data*/, short /*typeCode*/, KQSValue& /*out*/) const { return true; }

std::ostream& KQSClass_Error::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  return out << 'E' << static_cast<long>(Int32(data));
}

std::ostream& KQSClass_Error::DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  return out << static_cast<const char*>(err_get_msg(static_cast<long>(Int32(data))));
}

// ----- Integer -----

KQSClass_Integer::KQSClass_Integer() : KQSClass("Integer", vxk_types::kInteger) {}

bool KQSClass_Integer::CoerceToBoolean(void* data) const { return Int32(data) != 0; }

bool KQSClass_Integer::CoerceTo(void* data, short typeCode, KQSValue& out) const {
  const int32_t v = Int32(data);
  switch (typeCode) {
    case vxk_types::kReal:
      out = static_cast<double>(v);
      return true;
    case vxk_types::kLong:
      out = static_cast<int64>(v);
      return true;
    default:
      return false;
  }
}

int KQSClass_Integer::Compare(void* a, void* b, bool /*ignoreCase*/) const {
  const int32_t x = Int32(a);
  const int32_t y = Int32(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int KQSClass_Integer::Equal(void* a, void* b) const { return Int32(a) == Int32(b) ? 1 : 0; }

std::ostream& KQSClass_Integer::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  return out << static_cast<long>(Int32(data));
}

std::ostream& KQSClass_Integer::BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  SwapWriteI2(out, ClassNumber());
  SwapWriteI4(out, Int32(data));
  return out;
}

// ----- BlobId -----

KQSClass_BlobId::KQSClass_BlobId() : KQSClass("BlobId", vxk_types::kBlobId) {}

bool KQSClass_BlobId::CoerceToBoolean(void* data) const { return Int32(data) != 0; }

std::ostream& KQSClass_BlobId::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  return out << "B/" << static_cast<long>(Int32(data));
}

// ----- Boolean -----

KQSClass_Boolean::KQSClass_Boolean() : KQSClass("Boolean", vxk_types::kBoolean) {}

bool KQSClass_Boolean::CoerceToBoolean(void* data) const { return static_cast<unsigned char>(Word32(data)) != 0; }

bool KQSClass_Boolean::CoerceTo(void* data, short typeCode, KQSValue& out) const {
  const int v = CoerceToBoolean(data) ? 1 : 0;
  switch (typeCode) {
    case vxk_types::kInteger:
      out = v;
      return true;
    case vxk_types::kLong:
      out = static_cast<int64>(v);
      return true;
    case vxk_types::kReal:
      out = static_cast<double>(v);
      return true;
    default:
      return false;
  }
}

std::ostream& KQSClass_Boolean::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  return out << (CoerceToBoolean(data) ? "true" : "false");
}

std::ostream& KQSClass_Boolean::BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  SwapWriteI2(out, ClassNumber());
  SwapWriteI1(out, static_cast<int8_t>(Word32(data) & 0xFF));
  return out;
}

// ----- Point -----

KQSClass_Point::KQSClass_Point() : KQSClass("Point", vxk_types::kPoint) {}

bool KQSClass_Point::CoerceToBoolean(void* data) const { return Word32(data) != 0; }

std::ostream& KQSClass_Point::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  const uint32_t w = Word32(data);
  return out << '(' << static_cast<int16_t>(w & 0xFFFF) << ',' << static_cast<int16_t>(w >> 16) << ')';
}

// ----- NotSet, Void, Dynamic, Object, SlotIndex -----

KQSClass_NotSet::KQSClass_NotSet() : KQSClass("NotSet", vxk_types::kNotSet) {}

std::ostream& KQSClass_NotSet::FormattedOutput(void* /*data*/, std::ostream& out, KQSClassFormatter* /*f*/) const {
  return out << 'N';
}

KQSClass_Void::KQSClass_Void() : KQSClass("Void", vxk_types::kVoid) {}

KQSClass_Dynamic::KQSClass_Dynamic() : KQSClass("Dynamic", vxk_types::kDynamic) {
  fCanSubscript = true;
  fCanInvoke = true;
  fCanDot = 2;
}

KQSClass_Object::KQSClass_Object() : KQSClass("Object", vxk_types::kObject) { fCanDot = 2; }

KQSClass_SlotIndex::KQSClass_SlotIndex() : KQSClass("SlotIndex", vxk_types::kSlotIndex) {}
