// The List class's order and equality, which walk list windows. Shared with
// the List class in src/classes/ (the same layer).
#ifndef VXKERNEL_VALUES_LIST_ORDER_H_
#define VXKERNEL_VALUES_LIST_ORDER_H_

namespace vxk_internal {

// Element by element; the first difference decides, then the length
// difference. A list without storage is empty.
int ListCompare(void* a, void* b, bool ignoreCase);
// Same length and every pair ==.
int ListEqual(void* a, void* b);

}  // namespace vxk_internal

#endif  // VXKERNEL_VALUES_LIST_ORDER_H_
