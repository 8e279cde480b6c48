// Private helpers of the client interface: handles to values, type guards.
#ifndef VXKERNEL_CLIENTAPI_VX_INTERNAL_H_
#define VXKERNEL_CLIENTAPI_VX_INTERNAL_H_

#include "vxkernel/clientapi/vx_value.h"
#include "vxkernel/values/KQSValue.h"

namespace vxk_internal {

inline KQSValue& V(VXVALUE h) { return *reinterpret_cast<KQSValue*>(h); }
inline VXVALUE H(KQSValue* v) { return reinterpret_cast<VXVALUE>(v); }
inline bool Is(VXVALUE h, short type) { return h != nullptr && V(h).Type() == type; }

// Stores a new value into the handle; a null handle is the caller's error.
inline long Set(VXVALUE h, const KQSValue& v) {
  if (h == nullptr) return VX_ERR_WRONG_TYPE;
  V(h) = v;
  return VX_OK;
}

}  // namespace vxk_internal

#endif  // VXKERNEL_CLIENTAPI_VX_INTERNAL_H_
