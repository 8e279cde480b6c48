// The memory-block module. It sits in the base layer, below the text
// functions that keep their tables in handles, although its header is one
// of the runtime's.
#include "vxkernel/base/mem.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/debug_line.h"

namespace {

// ===== Layouts =====

// A pointer or fixed block is a header and the caller's bytes. The size word
// is the header's last 4 bytes, right before the caller's bytes; the header
// is 16 bytes so that the caller's bytes keep malloc's 16-byte alignment.
constexpr size_t kBlockHeader = 16;
constexpr size_t kSizeWordOffset = kBlockHeader - sizeof(uint32_t);
constexpr unsigned long kMaxBlockSize = 0xFFFFFFFFUL;  // what the size word holds

// The record a handle points to. fData comes first: `*h` is the data.
struct HandleRecord {
  void* fData;  // malloc'ed, at least one byte so a 0-byte handle has an address
  long fSize;
};
static_assert(sizeof(HandleRecord) == 2 * sizeof(void*), "a handle record is two words");

HandleRecord* Record(mem_handle h) { return reinterpret_cast<HandleRecord*>(h); }

// ===== Module state =====

std::atomic<bool> gInitialised{false};

// The callback and its context change together: each installation makes a
// new immutable pair and publishes it with one store. A failing allocation
// on another thread may still be reading the pair it loaded, so replaced
// pairs are never freed; each keeps the one before it reachable.
struct Callback {
  mem_fail_callback fFunction;
  void* fContext;
  const Callback* fReplaced;
};
std::atomic<const Callback*> gCallback{nullptr};

void InstallCallback(mem_fail_callback callback, void* context) {
  const Callback* current = gCallback.load(std::memory_order_acquire);
  if (current == nullptr && callback == nullptr) return;
  auto* next = new (std::nothrow) Callback{callback, context, current};
  if (next == nullptr) {
    vxk_internal::DebugLine("mem_fail_callback_set", "no memory for the callback");
    return;
  }
  // A concurrent installation may win; the later store is the one in force,
  // and every pair stays reachable through the chain of the one it lost to
  // or its own.
  while (!gCallback.compare_exchange_weak(current, next, std::memory_order_acq_rel)) {
    next->fReplaced = current;
  }
}

// Every failure goes through here: one debug line, then the callback.
void Fail(const char* operation, long size) {
  vxk_internal::DebugText("mem: ", operation, " could not get ", size, " bytes");
  const Callback* c = gCallback.load(std::memory_order_acquire);
  if (c != nullptr && c->fFunction != nullptr) c->fFunction(c->fContext, size);
}

// count * size, or -1 when either is negative or the product overflows long.
long Product(long count, long size) {
  long n;
  if (count < 0 || size < 0 || __builtin_mul_overflow(count, size, &n)) return -1;
  return n;
}

// malloc that never asks for 0 bytes, so every block has its own address.
void* Allocate(long size) { return std::malloc(size > 0 ? static_cast<size_t>(size) : 1); }

// ===== Blocks =====

void* NewBlock(const char* operation, long size) {
  mem_initialize();
  if (size < 0 || static_cast<unsigned long>(size) > kMaxBlockSize) {
    Fail(operation, size);
    return nullptr;
  }
  auto* raw = static_cast<unsigned char*>(std::malloc(kBlockHeader + static_cast<size_t>(size)));
  if (raw == nullptr) {
    Fail(operation, size);
    return nullptr;
  }
  uint32_t word = static_cast<uint32_t>(size);
  std::memcpy(raw + kSizeWordOffset, &word, sizeof word);
  return raw + kBlockHeader;
}

long BlockSize(const void* p) {
  if (p == nullptr) return 0;
  uint32_t word;
  std::memcpy(&word, static_cast<const unsigned char*>(p) - sizeof word, sizeof word);
  return static_cast<long>(word);
}

void DisposeBlock(void* p) {
  if (p != nullptr) std::free(static_cast<unsigned char*>(p) - kBlockHeader);
}

// ===== Handles =====

mem_handle NewHandle(const char* operation, long size) {
  mem_initialize();
  if (size < 0) {
    Fail(operation, size);
    return nullptr;
  }
  auto* record = static_cast<HandleRecord*>(std::malloc(sizeof(HandleRecord)));
  void* data = Allocate(size);
  if (record == nullptr || data == nullptr) {
    std::free(record);
    std::free(data);
    Fail(operation, size);
    return nullptr;
  }
  record->fData = data;
  record->fSize = size;
  return reinterpret_cast<mem_handle>(record);
}

bool ResizeHandle(const char* operation, mem_handle h, long size) {
  if (h == nullptr) return false;
  mem_initialize();
  if (size < 0) {
    Fail(operation, size);
    return false;
  }
  HandleRecord* r = Record(h);
  void* data = std::realloc(r->fData, size > 0 ? static_cast<size_t>(size) : 1);
  if (data == nullptr) {
    Fail(operation, size);
    return false;
  }
  r->fData = data;
  r->fSize = size;
  return true;
}

bool ReallocateHandle(mem_handle h, long size) {
  if (h == nullptr) return false;
  mem_initialize();
  void* data = size < 0 ? nullptr : Allocate(size);
  if (data == nullptr) {
    Fail("mem_reallocateh", size);
    return false;
  }
  HandleRecord* r = Record(h);
  std::free(r->fData);
  r->fData = data;
  r->fSize = size;
  return true;
}

void DisposeHandle(mem_handle h) {
  if (h == nullptr) return;
  std::free(Record(h)->fData);
  std::free(Record(h));
}

long HandleSize(mem_handle h) { return h != nullptr ? Record(h)->fSize : 0; }

}  // namespace

// ===== Module =====

void mem_initialize() { gInitialised.store(true, std::memory_order_release); }

void mem_done() {
  gInitialised.store(false, std::memory_order_release);
  InstallCallback(nullptr, nullptr);
  // This layer leaves the counters at 0; the line keeps its shape for the
  // tools that read it.
  const long inUse = 0;
  const long maxUsed = 0;
  vxk_internal::DebugText("Memory in use/max used: ", inUse, '/', maxUsed, '\n');
}

void mem_fail_callback_set(mem_fail_callback callback, void* context) {
  if (!gInitialised.load(std::memory_order_acquire)) return;
  InstallCallback(callback, context);
}

void mem_get_statistics() {}

// ===== Pointer blocks =====

void* mem_newp(long size) { return NewBlock("mem_newp", size); }
void* mem_newp_n(long count, long size) { return NewBlock("mem_newp_n", Product(count, size)); }
long mem_getpsize(const void* p) { return BlockSize(p); }
bool mem_resizep(void*, long) { return false; }
bool mem_expandp(void*, long) { return false; }

void* mem_reallocatep(void* p, long size) {
  void* q = NewBlock("mem_reallocatep", size);
  if (q == nullptr) return nullptr;
  if (p != nullptr) {
    std::memcpy(q, p, static_cast<size_t>(std::min(BlockSize(p), size)));
    DisposeBlock(p);
  }
  return q;
}

void mem_disposep(void* p) { DisposeBlock(p); }

char* mem_str_newp(const char* text) {
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text) + 1;
  auto* p = static_cast<char*>(NewBlock("mem_str_newp", static_cast<long>(n)));
  if (p != nullptr) std::memcpy(p, text, n);
  return p;
}

// ===== Handles =====

mem_handle mem_newh(long size) { return NewHandle("mem_newh", size); }
mem_handle mem_newh_n(long count, long size) {
  return NewHandle("mem_newh_n", Product(count, size));
}
mem_handle mem_new(long size) { return NewHandle("mem_new", size); }
mem_handle mem_new_n(long count, long size) { return NewHandle("mem_new_n", Product(count, size)); }

void mem_lockh(mem_handle) {}
void mem_unlockh(mem_handle) {}
void* mem_lock(mem_handle h) { return h != nullptr ? Record(h)->fData : nullptr; }
void mem_unlock(mem_handle) {}

bool mem_resizeh(mem_handle h, long size) { return ResizeHandle("mem_resizeh", h, size); }
bool mem_resize(mem_handle h, long size) { return ResizeHandle("mem_resize", h, size); }

bool mem_expandh(mem_handle h, long delta) {
  long size;
  if (h == nullptr || __builtin_add_overflow(HandleSize(h), delta, &size)) size = -1;
  return ResizeHandle("mem_expandh", h, size);
}
bool mem_expand(mem_handle h, long delta) { return mem_expandh(h, delta); }

bool mem_reallocateh(mem_handle h, long size) { return ReallocateHandle(h, size); }
bool mem_reallocate(mem_handle h, long size) { return ReallocateHandle(h, size); }

long mem_gethsize(mem_handle h) { return HandleSize(h); }
long mem_getsize(mem_handle h) { return HandleSize(h); }

void mem_sethpurge(mem_handle) {}
void mem_sethnopurge(mem_handle) {}
void mem_setpurge(mem_handle) {}
void mem_setnopurge(mem_handle) {}

void mem_disposeh(mem_handle h) { DisposeHandle(h); }
void mem_dispose(mem_handle h) { DisposeHandle(h); }

mem_handle mem_new_copy(mem_handle h) {
  if (h == nullptr) return nullptr;
  mem_handle copy = NewHandle("mem_new_copy", HandleSize(h));
  if (copy != nullptr)
    std::memcpy(Record(copy)->fData, Record(h)->fData, static_cast<size_t>(HandleSize(h)));
  return copy;
}

bool mem_copy(mem_handle dst, mem_handle src) {
  if (dst == nullptr || src == nullptr) return false;
  if (dst == src) return true;
  if (!ResizeHandle("mem_copy", dst, HandleSize(src))) return false;
  std::memcpy(Record(dst)->fData, Record(src)->fData, static_cast<size_t>(HandleSize(src)));
  return true;
}

bool mem_append(mem_handle h, const void* bytes, long n) {
  if (h == nullptr || bytes == nullptr || n < 0) return false;
  HandleRecord* r = Record(h);
  long old = r->fSize;
  long size;
  if (__builtin_add_overflow(old, n, &size)) size = -1;
  // The bytes may lie inside the data that the resize moves: keep them by
  // offset.
  auto base = reinterpret_cast<uintptr_t>(r->fData);
  auto at = reinterpret_cast<uintptr_t>(bytes);
  bool inside = at >= base && at < base + static_cast<uintptr_t>(old);
  uintptr_t offset = at - base;
  if (!ResizeHandle("mem_append", h, size)) return false;
  const void* from = inside ? static_cast<unsigned char*>(r->fData) + offset : bytes;
  std::memmove(static_cast<unsigned char*>(r->fData) + old, from, static_cast<size_t>(n));
  return true;
}

// ===== Fixed blocks =====

void* mem_new_fixed(long size) { return NewBlock("mem_new_fixed", size); }
void* mem_new_fixed_n(long count, long size) {
  return NewBlock("mem_new_fixed_n", Product(count, size));
}
void* mem_lock_fixed(void* p) { return p; }
void mem_unlock_fixed(void*) {}
void mem_dispose_fixed(void* p) { DisposeBlock(p); }
long mem_getsize_fixed(const void* p) { return BlockSize(p); }
