// Private helpers of the client interface: handles to values, type guards.
#ifndef VXKERNEL_CLIENTAPI_VX_INTERNAL_H_
#define VXKERNEL_CLIENTAPI_VX_INTERNAL_H_

#include "base/type_numbers.h"
#include "vxkernel/clientapi/vx_value.h"
#include "vxkernel/values/KQSValue.h"

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
inline long Set(VXVALUE h, const KQSValue& v) {
  if (h == nullptr) return VX_ERR_WRONG_TYPE;
  V(h) = v;
  return VX_OK;
}

// Member access composed from a reader and a writer of one member: Acc
// supplies Get(container, address..., out) and Set(container, address...,
// value). Every composite is one of these three shapes, so the scalar rules
// and status codes live in the scalar functions alone; the first failing
// step's status is returned.

// Reads the member into a temporary, then runs read on it.
template <class Acc, class Read, class... Address>
long MemberRead(Read read, VXVALUE container, Address... address) {
  KQSValue member;
  const long status = Acc::Get(container, address..., H(&member));
  return status != VX_OK ? status : read(H(&member));
}

// Builds a temporary with write, then stores it as the member.
template <class Acc, class Write, class... Address>
long MemberWrite(Write write, VXVALUE container, Address... address) {
  KQSValue member;
  const long status = write(H(&member));
  return status != VX_OK ? status : Acc::Set(container, address..., H(&member));
}

// Reads the member, changes it, stores it back.
template <class Acc, class Change, class... Address>
long MemberChange(Change change, VXVALUE container, Address... address) {
  KQSValue member;
  long status = Acc::Get(container, address..., H(&member));
  if (status == VX_OK) status = change(H(&member));
  return status != VX_OK ? status : Acc::Set(container, address..., H(&member));
}

}  // namespace vxk_internal

#endif  // VXKERNEL_CLIENTAPI_VX_INTERNAL_H_
