// Private helpers shared by the class and value sources.
#ifndef VXKERNEL_CLASSES_CLASSES_INTERNAL_H_
#define VXKERNEL_CLASSES_CLASSES_INTERNAL_H_

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string_view>

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

// A malloc'd, NUL-terminated copy (names of classes, slots and types are
// freed with free()); null for null text or when memory runs out.
inline char* CopyText(std::string_view s) {
  char* p = static_cast<char*>(std::malloc(s.size() + 1));
  if (p == nullptr) return nullptr;
  std::memcpy(p, s.data(), s.size());
  p[s.size()] = '\0';
  return p;
}
inline char* CopyText(const char* s) { return s != nullptr ? CopyText(std::string_view(s)) : nullptr; }

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
