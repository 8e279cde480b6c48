// Address-space reservation for the small-object heap.
#include <pthread.h>
#include <sys/mman.h>

#include "port/port.h"

namespace port {

void* ReserveAddressSpace(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

bool CommitMemory(void* p, size_t bytes) { return mprotect(p, bytes, PROT_READ | PROT_WRITE) == 0; }

void DiscardMemory(void* p, size_t bytes) { madvise(p, bytes, MADV_DONTNEED); }

bool AtFork(void (*prepare)(), void (*parent)(), void (*child)()) {
  return pthread_atfork(prepare, parent, child) == 0;
}

}  // namespace port
