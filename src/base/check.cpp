#include "base/check.h"

#include <cstdio>
#include <cstdlib>

#include "base/debug_line.h"

namespace vxk_internal {

void DcheckFailed(const char* file, int line, const char* condition) noexcept {
  std::fprintf(stderr, "VXK_DCHECK failed: %s:%d: %s\n", file, line, condition);
  DebugText("VXK_DCHECK failed: ", file, ':', line, ": ", condition, '\n');
  std::abort();
}

}  // namespace vxk_internal
