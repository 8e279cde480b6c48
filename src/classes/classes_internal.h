// Private helpers shared by the class sources.
#ifndef VXKERNEL_CLASSES_CLASSES_INTERNAL_H_
#define VXKERNEL_CLASSES_CLASSES_INTERNAL_H_

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace vxk_internal {

// Feature names are shorter than this; a feature table has at most this
// many positions, so that an index read from a damaged class image cannot
// make a table of gigabytes.
constexpr size_t kMaxFeatureName = 32767;
constexpr long kMaxSlots = 32767;

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

}  // namespace vxk_internal

#endif  // VXKERNEL_CLASSES_CLASSES_INTERNAL_H_
