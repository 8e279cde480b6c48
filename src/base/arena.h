// Document scopes of the small-object heap. A reader opens one around the
// document it reads, so that the document's blocks lie together in the
// order they were made (an arena of 64 KiB chunks) instead of scattered over
// a slab per block size. Outside a scope nothing changes.
//
// Every block stays an ordinary small-heap block: freed alone at any time,
// on any thread, through SmallFree. A chunk goes back to the heap when its
// last block is freed (one freed on another thread counts once the chunk's
// thread next opens a scope or takes a chunk); until then the bytes of its
// freed blocks are not reused, so a value kept past its document keeps its
// chunk (docs/memory.md).
//
// Thread rule: a scope is opened and closed on one thread, inner scopes
// before outer ones; scopes on different threads are independent.
#ifndef VXKERNEL_BASE_ARENA_H_
#define VXKERNEL_BASE_ARENA_H_

namespace vxk_internal {

class ArenaScope {
 public:
  // Never fails: without a heap for the thread the blocks go to the slabs.
  ArenaScope() noexcept;
  ~ArenaScope();
  ArenaScope(const ArenaScope&) = delete;
  ArenaScope& operator=(const ArenaScope&) = delete;

 private:
  void* fHeap;  // the thread's heap, null when the scope places nothing
};

}  // namespace vxk_internal

#endif  // VXKERNEL_BASE_ARENA_H_
