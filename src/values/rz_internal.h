// Helpers shared by the Record and RecArray storage files.
#ifndef VXKERNEL_VALUES_RZ_INTERNAL_H_
#define VXKERNEL_VALUES_RZ_INTERNAL_H_

#include <iosfwd>

class KQSValue;
class KRZRow;

namespace vxk_internal {

// Writes the one debug line of a failure: operation " - " what, then the
// detail's text form (when given) or the two numbers.
void RZDebugLine(const char* operation, const char* what, const KQSValue* detail);
void RZDebugLine(const char* operation, const char* what, long a, long b);

// The names of a names row joined with ", " (Strings as plain text).
void RZJoinNames(std::ostream& out, const KRZRow* names);

// The highest column of the names row whose String name equals name without
// regard to case; 0 when none (or no names row).
long RZColIndex(const KRZRow* names, const char* name);

}  // namespace vxk_internal

#endif  // VXKERNEL_VALUES_RZ_INTERNAL_H_
