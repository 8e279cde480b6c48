// The VX_Value scalar functions and the VX_Lock family.
#include "vxkernel/clientapi/vx_value.h"

#include <cstring>

#include "clientapi/vx_internal.h"
#include "base/type_numbers.h"
#include "vxkernel/classes/KPtrClass.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"

namespace {

using vxk_types::kString;
using vxk_types::kError;
using vxk_types::kInteger;
using vxk_types::kBoolean;
using vxk_types::kReal;
using vxk_types::kBytes;
using vxk_types::kDate;
using vxk_types::kLong;

using vxk_internal::Is;
using vxk_internal::Set;
using vxk_internal::V;

// The box of a Ptr value; null for any other value and for a Ptr value
// made from a bare data word of 0.
KPtrInstance* PtrBox(const KQSValue& v) {
  if (v.Type() != KPtrClass::kNumber || dynamic_cast<const KPtrClass*>(v.Class()) == nullptr) return nullptr;
  return static_cast<KPtrInstance*>(v.Instance());
}

// An Integer, or a Long whose value fits in 32 signed bits.
long GetInt32(VXVALUE h, long* out) {
  if (h == nullptr || out == nullptr) return VX_ERR_WRONG_TYPE;
  const KQSValue& v = V(h);
  if (v.IsInteger()) {
    *out = static_cast<long>(v);
    return VX_OK;
  }
  if (v.IsLong() && v.User() != nullptr) {
    const int64 n = static_cast<int64>(v);
    if (n < -2147483648LL || n > 2147483647LL) return VX_ERR_WRONG_TYPE;
    *out = static_cast<long>(n);
    return VX_OK;
  }
  return VX_ERR_WRONG_TYPE;
}

template <class T>
long GetNarrow(VXVALUE h, T* out) {
  long n = 0;
  const long status = GetInt32(h, &n);
  if (status == VX_OK && out != nullptr) *out = static_cast<T>(n);
  return out == nullptr ? VX_ERR_WRONG_TYPE : status;
}

// Copies n bytes (plus a terminator for text) into a caller's buffer of
// size bytes, never past it; reports the full length.
long CopyOut(const void* from, long n, void* buffer, long size, long* length, bool text) {
  if (size < 0) return VX_ERR_NEGATIVE_SIZE;
  const long room = text ? size - 1 : size;
  const long copied = n <= room ? n : (room > 0 ? room : 0);
  if (buffer != nullptr && copied > 0) std::memcpy(buffer, from, static_cast<size_t>(copied));
  if (text && buffer != nullptr && size > 0) static_cast<char*>(buffer)[copied] = '\0';
  if (length != nullptr) *length = n;
  return n > room ? VX_ERR_BUFFER_TOO_SMALL : VX_OK;
}

}  // namespace

extern "C" {

long VX_ValueAlloc(VXVALUE* out) {
  if (out == nullptr) return VX_ERR_WRONG_TYPE;
  *out = reinterpret_cast<VXVALUE>(new KQSValue());
  return VX_OK;
}

long VX_ValueFree(VXVALUE value) {
  delete reinterpret_cast<KQSValue*>(value);
  return VX_OK;
}

long VX_ValueSetValue(VXVALUE value, const VXVALUE source) {
  if (source == nullptr) return VX_ERR_WRONG_TYPE;
  return Set(value, V(source));
}

long VX_ValueGetType(VXVALUE value, long* type) {
  if (value == nullptr || type == nullptr) return VX_ERR_WRONG_TYPE;
  *type = V(value).Type();
  return VX_OK;
}

long VX_ValueIsUndefined(VXVALUE value) { return Is(value, 0) ? VX_OK : VX_ERR_WRONG_TYPE; }

long VX_ValueIsDefined(VXVALUE value) {
  return value != nullptr && V(value).IsDefined() ? VX_OK : VX_ERR_WRONG_TYPE;
}

long VX_ValueSetUndefined(VXVALUE value) { return Set(value, KQSValue()); }

long VX_ValueSetError(VXVALUE value, long code) { return Set(value, KQSValue::Error(code)); }

long VX_ValueGetError(VXVALUE value, long* code) {
  if (!Is(value, kError) || code == nullptr) return VX_ERR_WRONG_TYPE;
  *code = V(value).Error();
  return VX_OK;
}

long VX_ValueSetString(VXVALUE value, const char* s) { return Set(value, KQSValue(s != nullptr ? s : "")); }

long VX_ValueGetString(VXVALUE value, char* buffer, long size, long* length) {
  if (!Is(value, kString)) return VX_ERR_WRONG_TYPE;
  const KString& s = V(value).String();
  return CopyOut(static_cast<const char*>(s), static_cast<long>(s.Length()), buffer, size, length, true);
}

long VX_ValueGetStringPtr(VXVALUE value, const char** s) {
  if (!Is(value, kString) || s == nullptr) return VX_ERR_WRONG_TYPE;
  *s = V(value).String();
  return VX_OK;
}

long VX_ValueSetInteger(VXVALUE value, long n) { return Set(value, KQSValue(n)); }
long VX_ValueSetLong(VXVALUE value, long n) { return Set(value, KQSValue(n)); }
long VX_ValueSetULong(VXVALUE value, unsigned long n) { return Set(value, KQSValue(n)); }
long VX_ValueSetShort(VXVALUE value, short n) { return Set(value, KQSValue(n)); }
long VX_ValueSetUShort(VXVALUE value, unsigned short n) { return Set(value, KQSValue(n)); }
long VX_ValueSetChar(VXVALUE value, char n) { return Set(value, KQSValue(n)); }
long VX_ValueSetUChar(VXVALUE value, unsigned char n) { return Set(value, KQSValue(n)); }

long VX_ValueGetInteger(VXVALUE value, long* n) { return GetInt32(value, n); }
long VX_ValueGetLong(VXVALUE value, long* n) { return GetInt32(value, n); }
long VX_ValueGetULong(VXVALUE value, unsigned long* n) { return GetNarrow(value, n); }
long VX_ValueGetShort(VXVALUE value, short* n) { return GetNarrow(value, n); }
long VX_ValueGetUShort(VXVALUE value, unsigned short* n) { return GetNarrow(value, n); }
long VX_ValueGetChar(VXVALUE value, char* n) { return GetNarrow(value, n); }
long VX_ValueGetUChar(VXVALUE value, unsigned char* n) { return GetNarrow(value, n); }

long VX_ValueSetLongLong(VXVALUE value, long long n) { return Set(value, KQSValue(static_cast<int64>(n))); }

long VX_ValueGetLongLong(VXVALUE value, long long* n) {
  if (n == nullptr || !(Is(value, kInteger) || (Is(value, kLong) && V(value).User() != nullptr))) {
    return VX_ERR_WRONG_TYPE;
  }
  *n = static_cast<int64>(V(value));
  return VX_OK;
}

long VX_ValueSetDouble(VXVALUE value, double d) { return Set(value, KQSValue(d)); }

long VX_ValueGetDouble(VXVALUE value, double* d) {
  if (!Is(value, kReal) || d == nullptr || V(value).User() == nullptr) return VX_ERR_WRONG_TYPE;
  *d = static_cast<double>(V(value));
  return VX_OK;
}

long VX_ValueSetBoolean(VXVALUE value, unsigned char b) { return Set(value, KQSValue::Boolean(b)); }

long VX_ValueGetBoolean(VXVALUE value, long* b) {
  if (!Is(value, kBoolean) || b == nullptr) return VX_ERR_WRONG_TYPE;
  *b = V(value).CoerceToBoolean() ? 1 : 0;
  return VX_OK;
}

long VX_ValueSetDate(VXVALUE value, long long systime) {
  KDateTime d;
  d.Systime(static_cast<int64>(systime), false);
  return Set(value, KQSValue(d));
}

long VX_ValueGetDate(VXVALUE value, long long* systime) {
  if (!Is(value, kDate) || systime == nullptr || V(value).User() == nullptr) return VX_ERR_WRONG_TYPE;
  *systime = V(value).Date().Systime();
  return VX_OK;
}

long VX_ValueSetBytes(VXVALUE value, const void* bytes, long length) {
  return Set(value, KQSValue(static_cast<short>(kBytes), bytes, length));
}

long VX_ValueGetBytes(VXVALUE value, void* buffer, long size, long* length) {
  if (!Is(value, kBytes) || V(value).User() == nullptr) return VX_ERR_WRONG_TYPE;
  const KQSValue& v = V(value);
  return CopyOut(v.Bytes(), v.Length(), buffer, size, length, false);
}

long VX_ValueGetBytesPtr(VXVALUE value, const void** bytes, long* length) {
  if (!Is(value, kBytes) || V(value).User() == nullptr || bytes == nullptr) return VX_ERR_WRONG_TYPE;
  *bytes = V(value).Bytes();
  if (length != nullptr) *length = V(value).Length();
  return VX_OK;
}

long VX_ValueGetLength(VXVALUE value, long* length) {
  if (value == nullptr || length == nullptr) return VX_ERR_WRONG_TYPE;
  *length = V(value).Length();
  return VX_OK;
}

long VX_ValueGetFormatted(VXVALUE value, VXVALUE out) {
  if (value == nullptr) return VX_ERR_WRONG_TYPE;
  return Set(out, KQSValue(V(value).DisplayString()));
}

long VX_ValueGetDisplayString(VXVALUE value, VXVALUE out) { return VX_ValueGetFormatted(value, out); }

long VX_ValueSetInstance(VXVALUE value, short classNumber, long data) {
  if (value == nullptr) return VX_ERR_WRONG_TYPE;
  // Number 28671 means no class; asking for it would only write a debug line.
  const KQSClass* c = classNumber != KQSClass::kNoClassNumber ? KQSValue::NumberToClass(classNumber) : nullptr;
  if (c == nullptr) return VX_ERR_NO_CLASS;
  // The word is adopted as given: a storage pointer hands its reference over.
  return Set(value, KQSValue(classNumber, data));
}

long VX_ValueGetInstance(VXVALUE value, long* data) {
  if (value == nullptr || data == nullptr) return VX_ERR_WRONG_TYPE;
  *data = reinterpret_cast<long>(V(value).Instance());
  return VX_OK;
}

// The box is shared by every copy of a Ptr value, so setting through one
// handle changes what all of them hold.
long VX_ValueSetPtr(VXVALUE value, const VXVALUE source) {
  if (value == nullptr || source == nullptr) return VX_ERR_WRONG_TYPE;
  const KQSValue held = V(source);  // a copy first: source may be value itself
  KQSValue& v = V(value);
  if (KPtrInstance* box = PtrBox(v)) {
    box->Value(held);
    return VX_OK;
  }
  const auto* ptr = dynamic_cast<const KPtrClass*>(KQSValue::NumberToClass(KPtrClass::kNumber));
  if (ptr == nullptr) return VX_ERR_NO_CLASS;
  v = ptr->NewPtr(held);
  return VX_OK;
}

long VX_ValueGetPtr(VXVALUE value, VXVALUE out) {
  if (value == nullptr || out == nullptr) return VX_ERR_WRONG_TYPE;
  const KPtrInstance* box = PtrBox(V(value));
  if (box == nullptr) return VX_ERR_WRONG_TYPE;
  return Set(out, box->Value());
}

long VX_LockAlloc(VXLOCK* out) {
  if (out != nullptr) *out = reinterpret_cast<VXLOCK>(new KLock(KLock::kCriticalSection));
  return VX_OK;
}

long VX_LockFree(VXLOCK lock) {
  delete reinterpret_cast<KLock*>(lock);
  return VX_OK;
}

long VX_LockLock(VXLOCK lock) {
  if (lock != nullptr) reinterpret_cast<KLock*>(lock)->Lock(KLock::kWrite, KLock::kInfinite);
  return VX_OK;
}

long VX_LockUnlock(VXLOCK lock) {
  if (lock != nullptr) reinterpret_cast<KLock*>(lock)->Unlock(KLock::kWrite);
  return VX_OK;
}

}  // extern "C"
