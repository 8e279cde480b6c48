// The VX_Value scalar functions, the VX_Lock family and the guard that
// turns an exception into a status.
#include "vxkernel/clientapi/vx_value.h"

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#include "base/debug_line.h"
#include "clientapi/vx_internal.h"
#include "vxkernel/classes/KPtrClass.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/type_numbers.h"

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
long GetInt32(VXVALUE h, long* out) noexcept {
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
long GetNarrow(VXVALUE h, T* out) noexcept {
  long n = 0;
  const long status = GetInt32(h, &n);
  if (status == VX_OK && out != nullptr) *out = static_cast<T>(n);
  return out == nullptr ? VX_ERR_WRONG_TYPE : status;
}

// Copies n bytes (plus a terminator for text) into a caller's buffer of
// size bytes, never past it; reports the full length.
long CopyOut(const void* from, long n, void* buffer, long size, long* length, bool text) noexcept {
  if (size < 0) return VX_ERR_NEGATIVE_SIZE;
  const long room = text ? size - 1 : size;
  const long copied = n <= room ? n : (room > 0 ? room : 0);
  if (buffer != nullptr && copied > 0) std::memcpy(buffer, from, static_cast<size_t>(copied));
  if (text && buffer != nullptr && size > 0) static_cast<char*>(buffer)[copied] = '\0';
  if (length != nullptr) *length = n;
  return n > room ? VX_ERR_BUFFER_TOO_SMALL : VX_OK;
}

}  // namespace

namespace vxk_internal {

long GuardFailed(const char* function) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    DebugLine(function, "out of memory");
  } catch (const std::length_error&) {
    DebugLine(function, "out of memory");
  } catch (const std::exception& e) {
    DebugLine(function, "failed: ", e.what());
    return VX_ERR_INTERNAL;
  } catch (...) {
    DebugLine(function, "failed: an exception of unknown type");
    return VX_ERR_INTERNAL;
  }
  return VX_ERR_NO_MEMORY;
}

}  // namespace vxk_internal

namespace vxk_internal::vx {

long ValueAlloc(VXVALUE* out) {
  if (out == nullptr) return VX_ERR_WRONG_TYPE;
  *out = reinterpret_cast<VXVALUE>(new KQSValue());
  return VX_OK;
}

long ValueFree(VXVALUE value) {
  delete reinterpret_cast<KQSValue*>(value);
  return VX_OK;
}

long ValueSetValue(VXVALUE value, const VXVALUE source) {
  if (source == nullptr) return VX_ERR_WRONG_TYPE;
  return Set(value, V(source));
}

long ValueGetType(VXVALUE value, long* type) noexcept {
  if (value == nullptr || type == nullptr) return VX_ERR_WRONG_TYPE;
  *type = V(value).Type();
  return VX_OK;
}

long ValueIsUndefined(VXVALUE value) noexcept { return Is(value, 0) ? VX_OK : VX_ERR_WRONG_TYPE; }

long ValueIsDefined(VXVALUE value) noexcept {
  return value != nullptr && V(value).IsDefined() ? VX_OK : VX_ERR_WRONG_TYPE;
}

long ValueSetUndefined(VXVALUE value) { return Set(value, KQSValue()); }

long ValueSetError(VXVALUE value, long code) { return Set(value, KQSValue::Error(code)); }

long ValueGetError(VXVALUE value, long* code) noexcept {
  if (!Is(value, kError) || code == nullptr) return VX_ERR_WRONG_TYPE;
  *code = V(value).Error();
  return VX_OK;
}

long ValueSetString(VXVALUE value, const char* s) {
  return Set(value, KQSValue(s != nullptr ? s : ""));
}

long ValueGetString(VXVALUE value, char* buffer, long size, long* length) noexcept {
  if (!Is(value, kString)) return VX_ERR_WRONG_TYPE;
  const KString& s = V(value).String();
  return CopyOut(static_cast<const char*>(s), static_cast<long>(s.Length()), buffer, size, length, true);
}

long ValueGetStringPtr(VXVALUE value, const char** s) noexcept {
  if (!Is(value, kString) || s == nullptr) return VX_ERR_WRONG_TYPE;
  *s = V(value).String();
  return VX_OK;
}

long ValueSetInteger(VXVALUE value, long n) { return Set(value, KQSValue(n)); }
long ValueSetLong(VXVALUE value, long n) { return Set(value, KQSValue(n)); }
long ValueSetULong(VXVALUE value, unsigned long n) { return Set(value, KQSValue(n)); }
long ValueSetShort(VXVALUE value, short n) { return Set(value, KQSValue(n)); }
long ValueSetUShort(VXVALUE value, unsigned short n) { return Set(value, KQSValue(n)); }
long ValueSetChar(VXVALUE value, char n) { return Set(value, KQSValue(n)); }
long ValueSetUChar(VXVALUE value, unsigned char n) { return Set(value, KQSValue(n)); }

long ValueGetInteger(VXVALUE value, long* n) noexcept { return GetInt32(value, n); }
long ValueGetLong(VXVALUE value, long* n) noexcept { return GetInt32(value, n); }
long ValueGetULong(VXVALUE value, unsigned long* n) noexcept { return GetNarrow(value, n); }
long ValueGetShort(VXVALUE value, short* n) noexcept { return GetNarrow(value, n); }
long ValueGetUShort(VXVALUE value, unsigned short* n) noexcept { return GetNarrow(value, n); }
long ValueGetChar(VXVALUE value, char* n) noexcept { return GetNarrow(value, n); }
long ValueGetUChar(VXVALUE value, unsigned char* n) noexcept { return GetNarrow(value, n); }

long ValueSetLongLong(VXVALUE value, long long n) {
  return Set(value, KQSValue(static_cast<int64>(n)));
}

long ValueGetLongLong(VXVALUE value, long long* n) noexcept {
  if (n == nullptr || !(Is(value, kInteger) || (Is(value, kLong) && V(value).User() != nullptr))) {
    return VX_ERR_WRONG_TYPE;
  }
  *n = static_cast<int64>(V(value));
  return VX_OK;
}

long ValueSetDouble(VXVALUE value, double d) { return Set(value, KQSValue(d)); }

long ValueGetDouble(VXVALUE value, double* d) noexcept {
  if (!Is(value, kReal) || d == nullptr || V(value).User() == nullptr) return VX_ERR_WRONG_TYPE;
  *d = static_cast<double>(V(value));
  return VX_OK;
}

long ValueSetBoolean(VXVALUE value, unsigned char b) { return Set(value, KQSValue::Boolean(b)); }

long ValueGetBoolean(VXVALUE value, long* b) {
  if (!Is(value, kBoolean) || b == nullptr) return VX_ERR_WRONG_TYPE;
  *b = V(value).CoerceToBoolean() ? 1 : 0;
  return VX_OK;
}

long ValueSetDate(VXVALUE value, long long systime) {
  KDateTime d;
  d.Systime(static_cast<int64>(systime), false);
  return Set(value, KQSValue(d));
}

long ValueGetDate(VXVALUE value, long long* systime) {
  if (!Is(value, kDate) || systime == nullptr || V(value).User() == nullptr) return VX_ERR_WRONG_TYPE;
  *systime = V(value).Date().Systime();
  return VX_OK;
}

long ValueSetBytes(VXVALUE value, const void* bytes, long length) {
  return Set(value, KQSValue(static_cast<short>(kBytes), bytes, length));
}

long ValueGetBytes(VXVALUE value, void* buffer, long size, long* length) {
  if (!Is(value, kBytes) || V(value).User() == nullptr) return VX_ERR_WRONG_TYPE;
  const KQSValue& v = V(value);
  return CopyOut(v.Bytes(), v.Length(), buffer, size, length, false);
}

long ValueGetBytesPtr(VXVALUE value, const void** bytes, long* length) {
  if (!Is(value, kBytes) || V(value).User() == nullptr || bytes == nullptr) return VX_ERR_WRONG_TYPE;
  *bytes = V(value).Bytes();
  if (length != nullptr) *length = V(value).Length();
  return VX_OK;
}

long ValueGetLength(VXVALUE value, long* length) {
  if (value == nullptr || length == nullptr) return VX_ERR_WRONG_TYPE;
  *length = V(value).Length();
  return VX_OK;
}

long ValueGetFormatted(VXVALUE value, VXVALUE out) {
  if (value == nullptr) return VX_ERR_WRONG_TYPE;
  return Set(out, KQSValue(V(value).DisplayString()));
}

long ValueGetDisplayString(VXVALUE value, VXVALUE out) { return ValueGetFormatted(value, out); }

long ValueSetInstance(VXVALUE value, short classNumber, long data) {
  if (value == nullptr) return VX_ERR_WRONG_TYPE;
  // Number 28671 means no class; asking for it would only write a debug line.
  const KQSClass* c = classNumber != KQSClass::kNoClassNumber ? KQSValue::NumberToClass(classNumber) : nullptr;
  if (c == nullptr) return VX_ERR_NO_CLASS;
  // A C caller holds no references: a storage word (from VX_ValueGetInstance
  // of a live value) is borrowed, and the handle takes a reference of its own.
  return Set(value, KQSValue(c, reinterpret_cast<void*>(data)));
}

long ValueGetInstance(VXVALUE value, long* data) noexcept {
  if (value == nullptr || data == nullptr) return VX_ERR_WRONG_TYPE;
  *data = reinterpret_cast<long>(V(value).Instance());
  return VX_OK;
}

// The box is shared by every copy of a Ptr value, so setting through one
// handle changes what all of them hold.
long ValueSetPtr(VXVALUE value, const VXVALUE source) {
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

long ValueGetPtr(VXVALUE value, VXVALUE out) {
  if (value == nullptr || out == nullptr) return VX_ERR_WRONG_TYPE;
  const KPtrInstance* box = PtrBox(V(value));
  if (box == nullptr) return VX_ERR_WRONG_TYPE;
  return Set(out, box->Value());
}

long LockAlloc(VXLOCK* out) {
  if (out != nullptr) *out = reinterpret_cast<VXLOCK>(new KLock(KLock::kCriticalSection));
  return VX_OK;
}

long LockFree(VXLOCK lock) {
  delete reinterpret_cast<KLock*>(lock);
  return VX_OK;
}

// The C interface hands a lock's hold from one call to the next, which the
// thread-safety analysis cannot follow.
long LockLock(VXLOCK lock) VXK_NO_THREAD_SAFETY_ANALYSIS {
  if (lock != nullptr) reinterpret_cast<KLock*>(lock)->Lock(KLock::kWrite, KLock::kInfinite);
  return VX_OK;
}

long LockUnlock(VXLOCK lock) VXK_NO_THREAD_SAFETY_ANALYSIS {
  if (lock != nullptr) reinterpret_cast<KLock*>(lock)->Unlock(KLock::kWrite);
  return VX_OK;
}

}  // namespace vxk_internal::vx

using vxk_internal::Guard;
namespace vx = vxk_internal::vx;

// ===== The exported functions =====
// Each is its internal form run in the guard, one per line so that a
// search for the name finds its definition.

// clang-format off
extern "C" {

long VX_ValueAlloc(VXVALUE* out) { return Guard(__func__, vx::ValueAlloc, out); }
long VX_ValueFree(VXVALUE v) { return Guard(__func__, vx::ValueFree, v); }
long VX_ValueSetValue(VXVALUE v, const VXVALUE src) { return Guard(__func__, vx::ValueSetValue, v, src); }
long VX_ValueGetType(VXVALUE v, long* type) { return Guard(__func__, vx::ValueGetType, v, type); }
long VX_ValueIsUndefined(VXVALUE v) { return Guard(__func__, vx::ValueIsUndefined, v); }
long VX_ValueIsDefined(VXVALUE v) { return Guard(__func__, vx::ValueIsDefined, v); }
long VX_ValueSetUndefined(VXVALUE v) { return Guard(__func__, vx::ValueSetUndefined, v); }
long VX_ValueSetError(VXVALUE v, long code) { return Guard(__func__, vx::ValueSetError, v, code); }
long VX_ValueGetError(VXVALUE v, long* code) { return Guard(__func__, vx::ValueGetError, v, code); }
long VX_ValueSetString(VXVALUE v, const char* s) { return Guard(__func__, vx::ValueSetString, v, s); }
long VX_ValueGetString(VXVALUE v, char* buf, long size, long* len) { return Guard(__func__, vx::ValueGetString, v, buf, size, len); }
long VX_ValueGetStringPtr(VXVALUE v, const char** s) { return Guard(__func__, vx::ValueGetStringPtr, v, s); }
long VX_ValueSetInteger(VXVALUE v, long n) { return Guard(__func__, vx::ValueSetInteger, v, n); }
long VX_ValueSetLong(VXVALUE v, long n) { return Guard(__func__, vx::ValueSetLong, v, n); }
long VX_ValueSetULong(VXVALUE v, unsigned long n) { return Guard(__func__, vx::ValueSetULong, v, n); }
long VX_ValueSetShort(VXVALUE v, short n) { return Guard(__func__, vx::ValueSetShort, v, n); }
long VX_ValueSetUShort(VXVALUE v, unsigned short n) { return Guard(__func__, vx::ValueSetUShort, v, n); }
long VX_ValueSetChar(VXVALUE v, char n) { return Guard(__func__, vx::ValueSetChar, v, n); }
long VX_ValueSetUChar(VXVALUE v, unsigned char n) { return Guard(__func__, vx::ValueSetUChar, v, n); }
long VX_ValueGetInteger(VXVALUE v, long* n) { return Guard(__func__, vx::ValueGetInteger, v, n); }
long VX_ValueGetLong(VXVALUE v, long* n) { return Guard(__func__, vx::ValueGetLong, v, n); }
long VX_ValueGetULong(VXVALUE v, unsigned long* n) { return Guard(__func__, vx::ValueGetULong, v, n); }
long VX_ValueGetShort(VXVALUE v, short* n) { return Guard(__func__, vx::ValueGetShort, v, n); }
long VX_ValueGetUShort(VXVALUE v, unsigned short* n) { return Guard(__func__, vx::ValueGetUShort, v, n); }
long VX_ValueGetChar(VXVALUE v, char* n) { return Guard(__func__, vx::ValueGetChar, v, n); }
long VX_ValueGetUChar(VXVALUE v, unsigned char* n) { return Guard(__func__, vx::ValueGetUChar, v, n); }
long VX_ValueSetLongLong(VXVALUE v, long long n) { return Guard(__func__, vx::ValueSetLongLong, v, n); }
long VX_ValueGetLongLong(VXVALUE v, long long* n) { return Guard(__func__, vx::ValueGetLongLong, v, n); }
long VX_ValueSetDouble(VXVALUE v, double d) { return Guard(__func__, vx::ValueSetDouble, v, d); }
long VX_ValueGetDouble(VXVALUE v, double* d) { return Guard(__func__, vx::ValueGetDouble, v, d); }
long VX_ValueSetBoolean(VXVALUE v, unsigned char b) { return Guard(__func__, vx::ValueSetBoolean, v, b); }
long VX_ValueGetBoolean(VXVALUE v, long* b) { return Guard(__func__, vx::ValueGetBoolean, v, b); }
long VX_ValueSetDate(VXVALUE v, long long t) { return Guard(__func__, vx::ValueSetDate, v, t); }
long VX_ValueGetDate(VXVALUE v, long long* t) { return Guard(__func__, vx::ValueGetDate, v, t); }
long VX_ValueSetBytes(VXVALUE v, const void* p, long len) { return Guard(__func__, vx::ValueSetBytes, v, p, len); }
long VX_ValueGetBytes(VXVALUE v, void* buf, long size, long* len) { return Guard(__func__, vx::ValueGetBytes, v, buf, size, len); }
long VX_ValueGetBytesPtr(VXVALUE v, const void** p, long* len) { return Guard(__func__, vx::ValueGetBytesPtr, v, p, len); }
long VX_ValueGetLength(VXVALUE v, long* len) { return Guard(__func__, vx::ValueGetLength, v, len); }
long VX_ValueGetFormatted(VXVALUE v, VXVALUE out) { return Guard(__func__, vx::ValueGetFormatted, v, out); }
long VX_ValueGetDisplayString(VXVALUE v, VXVALUE out) { return Guard(__func__, vx::ValueGetDisplayString, v, out); }
long VX_ValueSetInstance(VXVALUE v, short cls, long data) { return Guard(__func__, vx::ValueSetInstance, v, cls, data); }
long VX_ValueGetInstance(VXVALUE v, long* data) { return Guard(__func__, vx::ValueGetInstance, v, data); }
long VX_ValueSetPtr(VXVALUE v, const VXVALUE src) { return Guard(__func__, vx::ValueSetPtr, v, src); }
long VX_ValueGetPtr(VXVALUE v, VXVALUE out) { return Guard(__func__, vx::ValueGetPtr, v, out); }
long VX_LockAlloc(VXLOCK* out) { return Guard(__func__, vx::LockAlloc, out); }
long VX_LockFree(VXLOCK lock) { return Guard(__func__, vx::LockFree, lock); }
long VX_LockLock(VXLOCK lock) { return Guard(__func__, vx::LockLock, lock); }
long VX_LockUnlock(VXLOCK lock) { return Guard(__func__, vx::LockUnlock, lock); }

}  // extern "C"
// clang-format on
