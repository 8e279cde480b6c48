// Private helpers shared by the class and value sources.
#ifndef VXKERNEL_CLASSES_CLASSES_INTERNAL_H_
#define VXKERNEL_CLASSES_CLASSES_INTERNAL_H_

#include <sstream>

#include "vxkernel/runtime/dbgstrm.h"
#include "vxkernel/threads/KLock.h"

namespace vxk_internal {

// Writes the parts, streamed one after the other, as one debug-output text.
template <class... Parts>
void DebugLine(const Parts&... parts) {
  std::ostringstream s;
  (s << ... << parts);
  dbgstrm_print(s);
}

// Holds a KLock exclusively for one scope.
class ScopedKLock {
 public:
  explicit ScopedKLock(KLock& lock, bool take = true) : fLock(take ? &lock : nullptr) {
    if (fLock != nullptr) fLock->Lock(KLock::kWrite, KLock::kInfinite);
  }
  ~ScopedKLock() {
    if (fLock != nullptr) fLock->Unlock(KLock::kWrite);
  }
  ScopedKLock(const ScopedKLock&) = delete;
  ScopedKLock& operator=(const ScopedKLock&) = delete;

 private:
  KLock* fLock;
};

}  // namespace vxk_internal

#endif  // VXKERNEL_CLASSES_CLASSES_INTERNAL_H_
