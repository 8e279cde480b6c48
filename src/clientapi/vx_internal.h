// Private helpers of the client interface: handles to values, the guard
// every exported function runs in, the internal forms of the VX_Value
// functions, and the composites on one member of a container.
#ifndef VXKERNEL_CLIENTAPI_VX_INTERNAL_H_
#define VXKERNEL_CLIENTAPI_VX_INTERNAL_H_

#include <utility>

#include "vxkernel/clientapi/vx_value.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/type_numbers.h"

namespace vxk_internal {

// The container types the interface reaches into.
namespace types {
using vxk_types::kAssoc;
using vxk_types::kList;
using vxk_types::kRecArray;
using vxk_types::kRecord;
}  // namespace types

inline KQSValue& V(VXVALUE h) { return *reinterpret_cast<KQSValue*>(h); }
inline VXVALUE H(KQSValue* v) { return reinterpret_cast<VXVALUE>(v); }
inline bool Is(VXVALUE h, short type) { return h != nullptr && V(h).Type() == type; }

// Stores a new value into the handle; a null handle is the caller's error.
// The value is built before the call, so a failure to build it leaves the
// handle as it was.
inline long Set(VXVALUE h, const KQSValue& v) {
  if (h == nullptr) return VX_ERR_WRONG_TYPE;
  V(h) = v;
  return VX_OK;
}

// ===== The guard =====

// Call only from a catch handler: writes the one debug line for the
// exception being handled, "<function> - out of memory" for std::bad_alloc
// and std::length_error (a size beyond what the heap can serve), another
// line for anything else, and returns VX_ERR_NO_MEMORY or VX_ERR_INTERNAL.
long GuardFailed(const char* function) noexcept;

// Runs f(args...), the whole of one exported function, so that no exception
// reaches its caller. Inline and without work of its own on the success
// path: with table-based unwinding the try costs nothing until something
// throws. Exported functions call one another's internal forms, never the
// guarded ones, so a failure is reported once, under the name the client
// called.
//
// A body declared noexcept (the plain readers) runs without a handler: a
// handler would cost its frame on the success path, as it keeps the
// compiler from deferring the register saves to the paths that need them.
template <class F, class... Args>
inline long Guard(const char* function, F&& f, Args&&... args) noexcept {
  if constexpr (noexcept(std::forward<F>(f)(std::forward<Args>(args)...))) {
    return std::forward<F>(f)(std::forward<Args>(args)...);
  } else {
    try {
      return std::forward<F>(f)(std::forward<Args>(args)...);
    } catch (...) {
      return GuardFailed(function);
    }
  }
}

// The same for members whose result is not a status (KVal): a failure
// gives R's default, Undefined for a value and null for a pointer.
template <class R, class F>
inline R GuardResult(const char* function, F&& f) noexcept {
  try {
    return std::forward<F>(f)();
  } catch (...) {
    GuardFailed(function);
    return R();
  }
}

// ===== Internal forms =====
// VX_ValueX is vx::ValueX run in the guard. Only the forms other files
// compose are declared here. The readers that only look at a value's words
// are noexcept.
namespace vx {

long ValueGetType(VXVALUE value, long* type) noexcept;
long ValueIsUndefined(VXVALUE value) noexcept;
long ValueIsDefined(VXVALUE value) noexcept;
long ValueSetUndefined(VXVALUE value);
long ValueGetString(VXVALUE value, char* buffer, long size, long* length) noexcept;
long ValueGetStringPtr(VXVALUE value, const char** s) noexcept;
long ValueSetString(VXVALUE value, const char* s);
long ValueGetInteger(VXVALUE value, long* n) noexcept;
long ValueSetInteger(VXVALUE value, long n);
long ValueGetLongLong(VXVALUE value, long long* n) noexcept;
long ValueSetLongLong(VXVALUE value, long long n);
long ValueGetBoolean(VXVALUE value, long* b);
long ValueSetBoolean(VXVALUE value, unsigned char b);
long ValueGetDate(VXVALUE value, long long* systime);
long ValueSetDate(VXVALUE value, long long systime);
long ValueGetLength(VXVALUE value, long* length);

long ValueGetWidth(VXVALUE value, long* width);
long ValueSetLength(VXVALUE value, long n);
long ValueSetAssoc(VXVALUE value);
long ValueGetIndexValue(VXVALUE value, long i, VXVALUE out);
long ValueSetIndexValue(VXVALUE value, long i, const VXVALUE v);
long ValueGetFieldValue(VXVALUE value, const char* name, VXVALUE out);
long ValueSetFieldValue(VXVALUE value, const char* name, const VXVALUE v);

}  // namespace vx

// ===== Composites on one member =====

// The operations on one member of a container, shared by the VX_Value
// composites and the four container families. At (derived from
// Member<At>) addresses the member: Get(out) and Set(v) read and write it
// with its family's type guard, and Check() may refuse a write before the
// new member is built (VX_OK when not defined). Each operation is a member
// read into a temporary followed by the scalar function, the scalar setter
// into a temporary followed by the member write, or a read, a change and a
// write; the first failing step's status is returned, so the scalar rules
// live in the scalar functions alone.
template <class At>
class Member {
 public:
  long GetValue(VXVALUE out) const { return Self().Get(out); }
  long SetValue(VXVALUE v) const { return Self().Set(v); }
  long GetType(long* type) const {
    return Read([&](VXVALUE m) { return vx::ValueGetType(m, type); });
  }
  long GetLength(long* length) const {
    return Read([&](VXVALUE m) { return vx::ValueGetLength(m, length); });
  }
  long SetLength(long n) const {
    return Change([&](VXVALUE m) { return vx::ValueSetLength(m, n); });
  }
  long GetWidth(long* width) const {
    return Read([&](VXVALUE m) { return vx::ValueGetWidth(m, width); });
  }
  long IsUndefined() const {
    return Read([](VXVALUE m) { return vx::ValueIsUndefined(m); });
  }
  long IsDefined() const {
    return Read([](VXVALUE m) { return vx::ValueIsDefined(m); });
  }
  long SetUndefined() const {
    return Write([](VXVALUE m) { return vx::ValueSetUndefined(m); });
  }
  long GetInteger(long* n) const {
    return Read([&](VXVALUE m) { return vx::ValueGetInteger(m, n); });
  }
  long SetInteger(long n) const {
    return Write([&](VXVALUE m) { return vx::ValueSetInteger(m, n); });
  }
  long GetLongLong(long long* n) const {
    return Read([&](VXVALUE m) { return vx::ValueGetLongLong(m, n); });
  }
  long SetLongLong(long long n) const {
    return Write([&](VXVALUE m) { return vx::ValueSetLongLong(m, n); });
  }
  long GetString(char* buffer, long size, long* length) const {
    return Read([&](VXVALUE m) { return vx::ValueGetString(m, buffer, size, length); });
  }
  // The member shares its text with the container, so the pointer outlives
  // the temporary.
  long GetStringPtr(const char** s) const {
    return Read([&](VXVALUE m) { return vx::ValueGetStringPtr(m, s); });
  }
  long SetString(const char* s) const {
    return Write([&](VXVALUE m) { return vx::ValueSetString(m, s); });
  }
  long GetDate(long long* t) const {
    return Read([&](VXVALUE m) { return vx::ValueGetDate(m, t); });
  }
  long SetDate(long long t) const {
    return Write([&](VXVALUE m) { return vx::ValueSetDate(m, t); });
  }
  long GetBoolean(long* b) const {
    return Read([&](VXVALUE m) { return vx::ValueGetBoolean(m, b); });
  }
  long SetBoolean(unsigned char b) const {
    return Write([&](VXVALUE m) { return vx::ValueSetBoolean(m, b); });
  }
  long SetAssoc() const {
    return Write([](VXVALUE m) { return vx::ValueSetAssoc(m); });
  }

  long Check() const { return VX_OK; }

 private:
  const At& Self() const { return static_cast<const At&>(*this); }

  template <class F>
  long Read(F read) const {
    KQSValue member;
    const long status = Self().Get(H(&member));
    return status != VX_OK ? status : read(H(&member));
  }
  template <class F>
  long Write(F write) const {
    long status = Self().Check();
    if (status != VX_OK) return status;
    KQSValue member;
    status = write(H(&member));
    return status != VX_OK ? status : Self().Set(H(&member));
  }
  template <class F>
  long Change(F change) const {
    KQSValue member;
    long status = Self().Get(H(&member));
    if (status == VX_OK) status = change(H(&member));
    return status != VX_OK ? status : Self().Set(H(&member));
  }
};

}  // namespace vxk_internal

#endif  // VXKERNEL_CLIENTAPI_VX_INTERNAL_H_
