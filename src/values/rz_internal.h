// Helpers shared by the Record and RecArray storage files.
#ifndef VXKERNEL_VALUES_RZ_INTERNAL_H_
#define VXKERNEL_VALUES_RZ_INTERNAL_H_

#include <iosfwd>

class KRZRow;

namespace vxk_internal {

// The names of a names row joined with ", " (Strings as plain text).
void RZJoinNames(std::ostream& out, const KRZRow* names);

// The highest column of the names row whose String name equals name without
// regard to case; 0 when none (or no names row).
long RZColIndex(const KRZRow* names, const char* name);

}  // namespace vxk_internal

#endif  // VXKERNEL_VALUES_RZ_INTERNAL_H_
