// Counts the program's heap allocations, for benchmarks that report how much
// memory a data structure takes. malloc, calloc, realloc and free are
// replaced in the benchmark program (never in the library) by counting
// wrappers around glibc's own entry points; operator new reaches malloc, so
// C++ allocations are counted too. Bytes in use come from mallinfo2, which
// includes glibc's chunk headers and rounding: what the structure costs.
#ifndef VXKERNEL_BENCH_HEAP_COUNT_H_
#define VXKERNEL_BENCH_HEAP_COUNT_H_

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace heap_count {

// Benchmarks run on one thread; a load and a store (no locked instruction)
// keep the count from slowing the allocations it counts.
inline std::atomic<uint64_t> gAllocations{0};
inline void Count() { gAllocations.store(gAllocations.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }

struct Snapshot {
  uint64_t allocations;  // calls that made a new block
  uint64_t bytes;        // bytes in use, headers included
};

inline Snapshot Now() {
  const struct mallinfo2 info = mallinfo2();
  return Snapshot{gAllocations.load(std::memory_order_relaxed), static_cast<uint64_t>(info.uordblks)};
}

}  // namespace heap_count

extern "C" {
void* malloc(size_t n) {
  heap_count::Count();
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t each) {
  heap_count::Count();
  return __libc_calloc(n, each);
}
void* realloc(void* p, size_t n) {
  if (p == nullptr) heap_count::Count();
  return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
}

#endif  // VXKERNEL_BENCH_HEAP_COUNT_H_
