/// \file
/// The library's own heap for its small objects (value storage, string
/// representations, list blocks, tree nodes). It never replaces the host's
/// malloc or operator new: only code that calls these functions uses it.
///
/// Blocks of up to 1088 bytes come from per-thread slabs without a per-block
/// header; larger requests (and every request once the heap's address space
/// is used up) go to ::operator new. SmallFree tells the two apart by the
/// address, so a block may be freed on any thread, also after the thread
/// that allocated it has ended.
///
/// Thread rules: every function may be called from any thread at any time.
#ifndef VXKERNEL_SMALLHEAP_H_
#define VXKERNEL_SMALLHEAP_H_

#include <cstddef>

#include "vxkernel/export.h"

namespace vxk {

/// At least bytes bytes aligned to 16; while the library reads a document,
/// a block whose size is not a multiple of 16 may be aligned to 8 only,
/// which still suits any object of that size. Throws std::bad_alloc like
/// ::operator new when no memory is left.
VXKERNEL_EXPORT void* SmallAlloc(size_t bytes);

/// Frees a block from SmallAlloc; bytes must be the size asked for (a block
/// of a document the library read is reused for that size). Null is ignored.
VXKERNEL_EXPORT void SmallFree(void* p, size_t bytes) noexcept;

/// Sums over all threads; approximate while other threads allocate. Blocks
/// larger than the heap serves are not counted.
struct SmallHeapStats {
  long blocksLive;          ///< allocated and not yet freed
  long bytesRequestedLive;  ///< the sizes asked for by those blocks
  long bytesReserved;       ///< slabs holding blocks, their free blocks included
                            ///< (empty slabs kept for reuse are not counted)
  long allocations;         ///< blocks ever allocated
};
/// A snapshot of the heap's figures, summed over all threads (see
/// SmallHeapStats); all 0 before the first SmallAlloc.
VXKERNEL_EXPORT SmallHeapStats SmallHeapStatistics();

}  // namespace vxk

#endif  // VXKERNEL_SMALLHEAP_H_
