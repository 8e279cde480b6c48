// Comparison functions of the str_ module.
#include "vxkernel/text/str.h"

#include <cctype>
#include <cstring>

#include "text/str_internal.h"

namespace {

// Case-folding walk: stops at the first pair of bytes whose toupper values
// differ, or at the shared terminator.
int CompareIgnoringCase(const unsigned char* a, const unsigned char* b) {
  for (;; ++a, ++b) {
    const int ca = std::toupper(*a);
    const int cb = std::toupper(*b);
    if (ca != cb) return ca - cb;
    if (*a == 0) return 0;
  }
}

}  // namespace

int str_DBCS_cmp(const char* a, const char* b, bool ignoreCase) {
  if (a == nullptr || b == nullptr) return 0;
  switch (vxk_internal::CurrentTextMode()) {
    case vxk_internal::TextMode::kDoubleByte:
      // The double-byte walk (lead * 256 + trail, stopping after a NUL on
      // either side) arrives with the code-page lead-byte tables; no process
      // can select this mode before then.
    case vxk_internal::TextMode::kSingleByte:
    case vxk_internal::TextMode::kUtf8:
      break;
  }
  if (!ignoreCase) {
    // The C library's strcmp already orders by unsigned bytes and compares a
    // machine word or vector at a time; only its magnitude is reduced.
    const int r = std::strcmp(a, b);
    return (r > 0) - (r < 0);
  }
  return CompareIgnoringCase(reinterpret_cast<const unsigned char*>(a),
                             reinterpret_cast<const unsigned char*>(b));
}
