// The List class's order and equality, which walk list windows.
#ifndef VXKERNEL_VALUES_LIST_INTERNAL_H_
#define VXKERNEL_VALUES_LIST_INTERNAL_H_

namespace vxk_internal {

// Element by element; the first difference decides, then the length
// difference. A list without storage is empty.
int ListCompare(void* a, void* b, bool ignoreCase);
// Same length and every pair ==.
int ListEqual(void* a, void* b);

}  // namespace vxk_internal

#endif  // VXKERNEL_VALUES_LIST_INTERNAL_H_
