// What the small-object heap's own tests look at.
#ifndef VXKERNEL_BASE_SMALL_HEAP_INTERNAL_H_
#define VXKERNEL_BASE_SMALL_HEAP_INTERNAL_H_

namespace vxk_internal {

// Arena chunks taken from the heap and not yet given back, over all threads.
long ArenaChunksHeld();

// The calling thread counts the blocks other threads freed into its heap
// and stops placing blocks in its current chunk, as it does when it ends;
// the chunk goes back once its blocks are freed. Ignored while a scope is
// open on the thread.
void ArenaLetGo();

}  // namespace vxk_internal

#endif  // VXKERNEL_BASE_SMALL_HEAP_INTERNAL_H_
