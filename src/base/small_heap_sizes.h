// The block sizes of the small-object heap, for code that fits what it
// stores to the block it gets. Blocks of a document being read lie 8
// bytes apart at least, and only one whose size is a multiple of 16 (which
// may hold an object that needs 16) has to start on 16.
#ifndef VXKERNEL_BASE_SMALL_HEAP_SIZES_H_
#define VXKERNEL_BASE_SMALL_HEAP_SIZES_H_

#include <cstddef>

namespace vxk_internal {

inline constexpr size_t kSmallHeapUnit = 16;      // the alignment a block may need
inline constexpr size_t kSmallHeapOddOffset = 8;  // where a block that needs less may start in a unit

// The size to ask for when a block of at least bytes bytes may as well be
// larger: the next size that ends kSmallHeapOddOffset bytes into a unit (24,
// 40, 56...). Such a block never needs a unit's alignment, so no gap goes
// before it, and the bytes past the request fill what it occupies anyway.
constexpr size_t SmallBlockSizeFor(size_t bytes) {
  return (bytes + kSmallHeapOddOffset + kSmallHeapUnit - 1) / kSmallHeapUnit * kSmallHeapUnit - kSmallHeapOddOffset;
}

}  // namespace vxk_internal

#endif  // VXKERNEL_BASE_SMALL_HEAP_SIZES_H_
