// The small-object heap: size-class slabs carved from one reserved range of
// address space, one heap of slabs per thread.
//
// Ownership: a slab belongs to one heap from the moment it is formatted
// until it is empty again; a heap outlives its thread (it is handed to the
// next thread that needs one) and is never destroyed, so a block's owner can
// always be found from its slab. Memory is left to the system at process
// exit.
//
// Arena chunks: while a thread has a document scope open (base/arena.h),
// its blocks are placed one after the other in a chunk, a slab of its own
// kind, in the order they are asked for. A chunk counts its live blocks and
// goes back when the count reaches zero; freed bytes inside a chunk are not
// reused before that (docs/memory.md: what a survivor costs).
//
// Thread rule: a heap's slabs, chunks and lists are touched only by the
// thread that holds the heap. Other threads free into it through its atomic
// remote list, which the holder empties when it runs out of blocks of a
// class, takes a new chunk or opens a scope. Slab carving, the spare-slab
// cache and the list of heaps without a thread are shared, under gLock. So
// the common case, a thread freeing the documents it read, takes no locked
// instruction; a block freed elsewhere is counted free when its owner next
// empties the list (a heap left by its thread: when the next thread takes it).
#include "vxkernel/smallheap.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

#include "base/arena.h"
#include "base/small_heap_internal.h"
#include "port/port.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VXK_SMALL_HEAP_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define VXK_SMALL_HEAP_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VXK_SMALL_HEAP_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define VXK_SMALL_HEAP_TSAN 1
#endif

#ifdef VXK_SMALL_HEAP_ASAN
#include <sanitizer/asan_interface.h>
#define VXK_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define VXK_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define VXK_POISON(p, n) ((void)(p), (void)(n))
#define VXK_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

// LeakSanitizer's, when the process has it (weak: null otherwise).
extern "C" __attribute__((weak, visibility("default"))) void __lsan_register_root_region(
    const void* p, size_t size);

namespace {

// ===== Geometry =====

constexpr size_t kSlabBytes = size_t{64} << 10;
constexpr size_t kSlabHeader = 128;  // blocks start here, 16-aligned
constexpr size_t kMaxSmall = 1088;
#if defined(VXK_SMALL_HEAP_ASAN) || defined(VXK_SMALL_HEAP_TSAN)
// The sanitizers shadow what is mapped; a smaller range keeps that cheap.
constexpr size_t kRegionBytes = size_t{1} << 30;
#else
constexpr size_t kRegionBytes = size_t{64} << 30;
#endif
constexpr size_t kCommitStep = size_t{1} << 20;
constexpr int kHeapSpareSlabs = 4;   // empty slabs a heap keeps for reuse
// Committed slabs the shared cache keeps (16 MiB): a document freed and
// read again reuses its pages instead of faulting them in afresh.
constexpr int kGlobalSpareSlabs = 256;
// Freed blocks of a heap's current chunk wait for a block of their size,
// one list per multiple of 8 bytes and, for multiples of 16, per alignment.
constexpr size_t kReuseLists = (kMaxSmall / 8 + 1) * 2;

// Classes 1..16 step by 16 bytes up to 256, then 4 steps of 64 and 4 of
// 128; the last, 1088, holds a full 64-value List block with its piece
// prefix (1056 bytes). Class 0 is unused.
constexpr int kClasses = 26;
constexpr uint16_t kClassSize[kClasses] = {0,   16,  32,  48,  64,  80,  96,  112, 128, 144, 160, 176, 192,
                                           208, 224, 240, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1088};

struct ClassTable {
  uint8_t of[kMaxSmall / 16 + 1];  // indexed by (bytes + 15) / 16
  constexpr ClassTable() : of() {
    int c = 1;
    for (size_t units = 0; units <= kMaxSmall / 16; ++units) {
      while (kClassSize[c] < units * 16) ++c;
      of[units] = static_cast<uint8_t>(c);
    }
  }
};
constexpr ClassTable kClassOf;

// ===== Slabs and heaps =====

struct FreeBlock {
  FreeBlock* next;
};

struct Heap;

// The class of an arena chunk: blocks of any size, never on a class list.
constexpr int kChunkClass = 0;

struct Slab {
  FreeBlock* free;  // blocks given back, owner only
  char* bump;       // the next block never handed out
  char* end;        // past the last whole block
  Heap* owner;
  // Blocks out; blocks waiting in the owner's remote list count. A chunk
  // goes back when it reaches zero and its heap no longer serves from it.
  uint32_t used;
  uint32_t blockSize;
  int cls;
  bool full;  // off its class list: no free block, nothing left to carve
  Slab* prev;
  Slab* next;
};
static_assert(sizeof(Slab) <= kSlabHeader, "the slab header fits before the blocks");

// A counter written by one thread at a time and read by any.
struct Counter {
  std::atomic<long> v{0};
  void Add(long n) { v.store(v.load(std::memory_order_relaxed) + n, std::memory_order_relaxed); }
  long Get() const { return v.load(std::memory_order_relaxed); }
};

struct Heap {
  // While a scope is open: the chunk that serves (gNoSlab before the first
  // block); null otherwise. First, beside the lists the fast path reads.
  Slab* arena = nullptr;
  Slab* list[kClasses];  // slabs with room, head first; the head serves
  Slab* spare = nullptr;  // empty slabs kept for any class (linked by next)
  int spareCount = 0;
  std::atomic<FreeBlock*> remote{nullptr};  // freed by other threads
  // What this heap's threads did, whoever owned the blocks.
  Counter allocs;
  Counter allocBytes;
  Counter frees;
  Counter freeBytes;
  Heap* nextAll = nullptr;
  Heap* nextAbandoned = nullptr;
  Slab* chunk = nullptr;  // the chunk it places blocks in, kept between scopes
  int scopes = 0;         // scopes open on its thread
  FreeBlock* reuse[kReuseLists];  // blocks of chunk freed on this thread
  constexpr Heap();
};

// Never serves: a full slab with nothing to carve. Heads of empty lists
// point at it so the fast path needs no null test.
constinit Slab gNoSlab{nullptr, nullptr, nullptr, nullptr, 0, 0, -1, true, nullptr, nullptr};

constexpr Heap::Heap() : list(), reuse() {
  for (Slab*& s : list) s = &gNoSlab;
}

// A thread's heap before its first allocation, and after its exit handed the
// real one on. Neither owns a slab.
constinit Heap gNoHeap;
constinit Heap gGoneHeap;

// Initial-exec: one load from the thread pointer instead of a call to
// __tls_get_addr on every allocation (the library's static TLS is a word).
constinit thread_local Heap* tHeap __attribute__((tls_model("initial-exec"))) = &gNoHeap;

// ===== Shared state =====

std::mutex gLock;
// The reserved range. Until it exists the start lies so high that no user
// address falls in [start, start + kRegionBytes).
constexpr uintptr_t kNoRegion = ~uintptr_t{0} - kRegionBytes + 1;
std::atomic<uintptr_t> gRegion{kNoRegion};
bool gRegionTried = false;  // under gLock
char* gCarve = nullptr;      // under gLock: the next slab never used
char* gCommitted = nullptr;  // under gLock: end of the committed part
// Under gLock: empty slabs, linked by next; a few keep their pages, the
// rest were given back to the system.
Slab* gSpareKept = nullptr;
int gSpareKeptCount = 0;
Slab* gSpareDiscarded = nullptr;
Heap* gAllHeaps = nullptr;   // under gLock
Heap* gAbandoned = nullptr;  // under gLock
std::atomic<long> gSlabsHeld{0};
std::atomic<long> gChunksHeld{0};
Counter gHeaplessFrees;  // frees on threads whose heap is gone, under gLock
Counter gHeaplessFreeBytes;

inline bool InRegion(const void* p) {
  return reinterpret_cast<uintptr_t>(p) - gRegion.load(std::memory_order_relaxed) < kRegionBytes;
}

inline Slab* SlabOf(const void* p) {
  return reinterpret_cast<Slab*>(reinterpret_cast<uintptr_t>(p) & ~(uintptr_t{kSlabBytes} - 1));
}

// ===== Slab lists =====

void Unlink(Heap* h, Slab* s) {
  if (s->prev != nullptr) s->prev->next = s->next;
  else h->list[s->cls] = s->next != nullptr ? s->next : &gNoSlab;
  if (s->next != nullptr) s->next->prev = s->prev;
  s->prev = s->next = nullptr;
}

void LinkFirst(Heap* h, Slab* s) {
  Slab* head = h->list[s->cls];
  s->prev = nullptr;
  s->next = head != &gNoSlab ? head : nullptr;
  if (s->next != nullptr) s->next->prev = s;
  h->list[s->cls] = s;
}

// Behind the serving slab, which keeps serving: a slab that had been full
// and gets blocks back one by one is left alone until it is needed, and is
// released if they all come back first.
void LinkSecond(Heap* h, Slab* s) {
  Slab* head = h->list[s->cls];
  if (head == &gNoSlab) {
    LinkFirst(h, s);
    return;
  }
  s->prev = head;
  s->next = head->next;
  if (s->next != nullptr) s->next->prev = s;
  head->next = s;
}

void SetHeader(Slab* s, Heap* h, int cls, uint32_t size, char* first, char* end) {
  s->free = nullptr;
  s->bump = first;
  s->end = end;
  s->owner = h;
  s->used = 0;
  s->blockSize = size;
  s->cls = cls;
  s->full = cls == kChunkClass;
  s->prev = s->next = nullptr;
  VXK_POISON(first, kSlabBytes - kSlabHeader);
}

void Format(Slab* s, Heap* h, int cls) {
  VXK_UNPOISON(s, kSlabHeader);
  const uint32_t size = kClassSize[cls];
  char* first = reinterpret_cast<char*>(s) + kSlabHeader;
  const size_t blocks = (kSlabBytes - kSlabHeader) / size;
  SetHeader(s, h, cls, size, first, first + blocks * size);
}

// Caller holds gLock. Null when the range is used up or refused.
Slab* CarveLocked() {
  Slab** spare = gSpareKept != nullptr ? &gSpareKept : &gSpareDiscarded;
  if (*spare != nullptr) {
    Slab* s = *spare;
    *spare = s->next;
    if (spare == &gSpareKept) --gSpareKeptCount;
    return s;
  }
  if (gCarve == nullptr) return nullptr;
  if (gCarve == gCommitted) {
    const uintptr_t start = gRegion.load(std::memory_order_relaxed);
    if (reinterpret_cast<uintptr_t>(gCommitted) - start + kCommitStep > kRegionBytes) return nullptr;
    if (!port::CommitMemory(gCommitted, kCommitStep)) return nullptr;
    gCommitted += kCommitStep;
  }
  auto* s = reinterpret_cast<Slab*>(gCarve);
  gCarve += kSlabBytes;
  return s;
}

// An empty slab for h: one of its spares, else from the shared cache or
// the range. Null when the range is used up or refused.
Slab* TakeSlab(Heap* h) {
  Slab* s = h->spare;
  if (s != nullptr) {
    h->spare = s->next;
    --h->spareCount;
  } else {
    std::lock_guard<std::mutex> guard(gLock);
    s = CarveLocked();
    if (s == nullptr) return nullptr;
  }
  gSlabsHeld.fetch_add(1, std::memory_order_relaxed);
  return s;
}

Slab* NewSlab(Heap* h, int cls) {
  Slab* s = TakeSlab(h);
  if (s == nullptr) return nullptr;
  Format(s, h, cls);
  LinkFirst(h, s);
  return s;
}

// Gives an empty slab back: to the heap's spares, else to the shared cache,
// which keeps a few with their pages and returns the rest to the system.
// A thread without a heap gives its slabs to the shared cache only.
void ReleaseSlab(Heap* h, Slab* s) {
  if (!s->full) Unlink(h, s);
  gSlabsHeld.fetch_sub(1, std::memory_order_relaxed);
  if (h != &gNoHeap && h != &gGoneHeap && h->spareCount < kHeapSpareSlabs) {
    s->next = h->spare;
    h->spare = s;
    ++h->spareCount;
    return;
  }
  std::lock_guard<std::mutex> guard(gLock);
  if (gSpareKeptCount < kGlobalSpareSlabs) {
    s->next = gSpareKept;
    gSpareKept = s;
    ++gSpareKeptCount;
  } else {
    VXK_UNPOISON(s, kSlabBytes);
    port::DiscardMemory(s, kSlabBytes);
    s->next = gSpareDiscarded;
    gSpareDiscarded = s;
  }
}

// ===== Freeing on the owner's thread =====

// The rare cases of a local free: the slab was full, or is now empty.
void AfterLocalFree(Heap* h, Slab* s) {
  if (s->full) {
    s->full = false;
    LinkSecond(h, s);
  }
  // The serving slab stays even when empty, so one block allocated and
  // freed in a loop does not take and give back a slab each time.
  if (s->used == 0 && h->list[s->cls] != s) ReleaseSlab(h, s);
}

inline void LocalFree(Heap* h, Slab* s, void* p) {
  auto* f = static_cast<FreeBlock*>(p);
  f->next = s->free;
  s->free = f;
  VXK_POISON(p, s->blockSize);
  if (--s->used == 0 || s->full) AfterLocalFree(h, s);
}

// ===== Arena chunks =====

// A chunk's blocks lie 8 bytes apart at least; one whose size is a multiple
// of 16 (and so may hold an object that needs 16) starts on 16.
inline size_t ChunkBlockBytes(size_t bytes) { return bytes == 0 ? 8 : (bytes + 7) & ~size_t{7}; }

// The reuse list of a block of size bytes (a ChunkBlockBytes result) at p.
inline size_t ReuseList(size_t size, const void* p) {
  return size / 4 + (size % 16 == 0 && reinterpret_cast<uintptr_t>(p) % 16 == 0 ? 1 : 0);
}

// The blocks of a chunk the heap no longer serves from, or starts afresh,
// are no longer the heap's to hand out.
void ForgetReuse(Heap* h) {
  for (FreeBlock*& f : h->reuse) f = nullptr;
}

// On the owner's thread, once the chunk's last block is gone and the heap no
// longer serves from it.
void ReleaseChunk(Heap* h, Slab* c) {
  gChunksHeld.fetch_sub(1, std::memory_order_relaxed);
  ReleaseSlab(h, c);
}

// The heap stops placing blocks in its chunk, which goes back now if none of
// its blocks is live, else with the last of them.
void LetGo(Heap* h) {
  Slab* c = h->chunk;
  if (c == nullptr) return;
  h->chunk = nullptr;
  ForgetReuse(h);
  if (h->arena == c) h->arena = &gNoSlab;
  if (c->used == 0) ReleaseChunk(h, c);
}

// When every block made in the heap's chunk has been freed, the chunk starts
// again from its first byte. REQUIRES: c is h's chunk, on h's thread.
bool RewindIfEmpty(Heap* h, Slab* c) {
  if (c->used != 0) return false;
  ForgetReuse(h);
  c->bump = reinterpret_cast<char*>(c) + kSlabHeader;
  return true;
}

void CollectRemote(Heap* h);

// Room for a block of up to kMaxSmall bytes in the heap's chunk: the same
// chunk started again, or a new one. False when there is no slab to take.
bool NextChunk(Heap* h) {
  if (h->remote.load(std::memory_order_relaxed) != nullptr) CollectRemote(h);
  if (h->chunk == nullptr || !RewindIfEmpty(h, h->chunk)) {
    LetGo(h);
    Slab* c = TakeSlab(h);
    if (c == nullptr) return false;
    gChunksHeld.fetch_add(1, std::memory_order_relaxed);
    VXK_UNPOISON(c, kSlabHeader);
    SetHeader(c, h, kChunkClass, 0, reinterpret_cast<char*>(c) + kSlabHeader, reinterpret_cast<char*>(c) + kSlabBytes);
    h->chunk = c;
  }
  if (h->scopes > 0) h->arena = h->chunk;
  return true;
}

// A block of one of h's chunks, freed on h's thread.
void ChunkFree(Heap* h, Slab* c, void* p, size_t bytes) {
  const size_t size = ChunkBlockBytes(bytes);
  VXK_POISON(p, size);
  if (c == h->chunk) {
    // The serving thread: no atomic. The last block made gives its room
    // back; another waits for a block of its size (a map's leaf outgrown
    // while its document is read, say), so short-lived blocks cost nothing.
    if (static_cast<char*>(p) + size == c->bump) {
      c->bump = static_cast<char*>(p);
    } else {
      auto* f = static_cast<FreeBlock*>(p);
      FreeBlock*& list = h->reuse[ReuseList(size, p)];
      VXK_UNPOISON(f, sizeof(FreeBlock));
      f->next = list;
      VXK_POISON(f, sizeof(FreeBlock));
      list = f;
    }
    --c->used;
    return;
  }
  if (--c->used == 0) ReleaseChunk(h, c);
}

// Blocks other threads freed into h. A chunk's block, whose size is not
// known here, waits for its chunk to empty.
void CollectRemote(Heap* h) {
  FreeBlock* f = h->remote.exchange(nullptr, std::memory_order_acquire);
  while (f != nullptr) {
    FreeBlock* next = f->next;
    Slab* s = SlabOf(f);
    if (s->cls != kChunkClass) {
      LocalFree(h, s, f);
    } else {
      VXK_POISON(f, sizeof(FreeBlock));
      if (--s->used == 0 && s != h->chunk) ReleaseChunk(h, s);
    }
    f = next;
  }
}

// ===== Heaps and threads =====

void AbandonHeap();

// Its destructor hands the thread's heap on when the thread ends.
struct ThreadExit {
  bool armed = false;
  ~ThreadExit() {
    if (armed) AbandonHeap();
  }
};
thread_local ThreadExit tExit;

void AbandonHeap() {
  Heap* h = tHeap;
  tHeap = &gGoneHeap;
  if (h == &gNoHeap || h == &gGoneHeap) return;
  CollectRemote(h);
  LetGo(h);
  std::lock_guard<std::mutex> guard(gLock);
  h->nextAbandoned = gAbandoned;
  gAbandoned = h;
}

// The calling thread's heap: one a thread left behind, or a new one. Null
// when there is no address space for the heap.
Heap* AttachHeap() {
  Heap* h;
  {
    std::lock_guard<std::mutex> guard(gLock);
    if (!gRegionTried) {
      gRegionTried = true;
      // A fork from another thread must not copy the lock held: the child
      // (one thread) would wait for it forever at its next slab.
      port::AtFork([] { gLock.lock(); }, [] { gLock.unlock(); }, [] { gLock.unlock(); });
      void* base = port::ReserveAddressSpace(kRegionBytes + kSlabBytes);
      if (base != nullptr) {
        // Slabs are aligned to their size so a block finds its slab by masking.
        const uintptr_t aligned = (reinterpret_cast<uintptr_t>(base) + kSlabBytes - 1) & ~(uintptr_t{kSlabBytes} - 1);
        gCarve = gCommitted = reinterpret_cast<char*>(aligned);
        gRegion.store(aligned, std::memory_order_relaxed);
        // The leak checker does not look into mappings of its own accord;
        // blocks here hold the only pointers to malloc'ed buffers (the names
        // of the process class table, say). A library built without
        // sanitizers may still run under one, in a sanitized host: the call
        // is made whenever the process has a leak checker.
        if (&__lsan_register_root_region != nullptr)
          __lsan_register_root_region(base, kRegionBytes + kSlabBytes);
      }
    }
    if (gCarve == nullptr) return nullptr;
    if (gAbandoned != nullptr) {
      h = gAbandoned;
      gAbandoned = h->nextAbandoned;
    } else {
      // From malloc, not operator new: the heap's own bookkeeping is not
      // one of the allocations its users make (and heaps live for good).
      void* room = std::malloc(sizeof(Heap));
      if (room == nullptr) return nullptr;
      h = new (room) Heap();
      h->nextAll = gAllHeaps;
      gAllHeaps = h;
    }
  }
  tHeap = h;
  tExit.armed = true;
  return h;
}

// ===== Allocation =====

inline void* Take(Slab* s) {
  void* p;
  if (s->free != nullptr) {
    VXK_UNPOISON(s->free, s->blockSize);
    p = s->free;
    s->free = s->free->next;
  } else {
    p = s->bump;
    s->bump += s->blockSize;
    VXK_UNPOISON(p, s->blockSize);
  }
  ++s->used;
  return p;
}

void* AllocSlow(Heap* h, int cls, size_t bytes) {
  if (h == &gNoHeap) {
    h = AttachHeap();
    // Without a heap (no address space, or no room for its bookkeeping)
    // this request goes to operator new; the next one tries again.
    if (h == nullptr) return ::operator new(bytes);
  }
  if (h == &gGoneHeap) return ::operator new(bytes);
  if (h->remote.load(std::memory_order_relaxed) != nullptr) CollectRemote(h);
  Slab* s = h->list[cls];
  while (s != &gNoSlab && s->free == nullptr && s->bump == s->end) {
    // Exhausted: off the list until one of its blocks comes back.
    Unlink(h, s);
    s->full = true;
    s = h->list[cls];
  }
  if (s == &gNoSlab) {
    s = NewSlab(h, cls);
    if (s == nullptr) return ::operator new(bytes);
  }
  h->allocs.Add(1);
  h->allocBytes.Add(static_cast<long>(bytes));
  return Take(s);
}

inline void* SlabAlloc(Heap* h, size_t bytes) {
  if (bytes > kMaxSmall) return ::operator new(bytes);
  const int cls = kClassOf.of[(bytes + 15) >> 4];
  Slab* s = h->list[cls];
  if (s->free == nullptr && s->bump == s->end) return AllocSlow(h, cls, bytes);
  h->allocs.Add(1);
  h->allocBytes.Add(static_cast<long>(bytes));
  return Take(s);
}

void* ArenaAllocSlow(Heap* h, size_t bytes);

inline void* ArenaAlloc(Heap* h, size_t bytes) {
  Slab* c = h->arena;
  const size_t size = ChunkBlockBytes(bytes);
  if (bytes <= kMaxSmall) {
    FreeBlock*& list = h->reuse[size / 4 + (bytes % 16 == 0 ? 1 : 0)];
    if (list != nullptr) {
      FreeBlock* f = list;
      VXK_UNPOISON(f, size);
      list = f->next;
      ++c->used;
      h->allocs.Add(1);
      h->allocBytes.Add(static_cast<long>(bytes));
      return f;
    }
  }
  uintptr_t at = reinterpret_cast<uintptr_t>(c->bump);
  if (bytes % 16 == 0) at = (at + 15) & ~uintptr_t{15};
  if (bytes > kMaxSmall || at + size > reinterpret_cast<uintptr_t>(c->end)) return ArenaAllocSlow(h, bytes);
  c->bump = reinterpret_cast<char*>(at + size);
  ++c->used;
  h->allocs.Add(1);
  h->allocBytes.Add(static_cast<long>(bytes));
  VXK_UNPOISON(reinterpret_cast<void*>(at), bytes);
  return reinterpret_cast<void*>(at);
}

void* ArenaAllocSlow(Heap* h, size_t bytes) {
  if (bytes > kMaxSmall) return ::operator new(bytes);
  // Without a slab for a chunk the block goes where it would outside a scope.
  if (!NextChunk(h)) return SlabAlloc(h, bytes);
  return ArenaAlloc(h, bytes);
}

}  // namespace

namespace vxk {

void* SmallAlloc(size_t bytes) {
  Heap* h = tHeap;
  if (h->arena != nullptr) return ArenaAlloc(h, bytes);
  return SlabAlloc(h, bytes);
}

void SmallFree(void* p, size_t bytes) noexcept {
  if (!InRegion(p)) {
    ::operator delete(p);  // null too
    return;
  }
  Slab* s = SlabOf(p);
  Heap* h = tHeap;
  if (h == &gNoHeap) {
    // A thread that only frees gets a heap too: its counters need no lock.
    h = AttachHeap();
    if (h == nullptr) h = &gGoneHeap;  // this free goes to the owner; the next call tries again
  }
  const bool counted = h != &gNoHeap && h != &gGoneHeap;
  if (counted) {
    h->frees.Add(1);
    h->freeBytes.Add(static_cast<long>(bytes));
  }
  if (s->owner == h) {
    if (s->cls == kChunkClass) ChunkFree(h, s, p, bytes);
    else LocalFree(h, s, p);
    return;
  }
  if (!counted) {
    std::lock_guard<std::mutex> guard(gLock);
    gHeaplessFrees.Add(1);
    gHeaplessFreeBytes.Add(static_cast<long>(bytes));
  }
  // The link word stays readable for the owner; the rest is dead now.
  const size_t size = s->cls == kChunkClass ? ChunkBlockBytes(bytes) : s->blockSize;
  if (size > sizeof(FreeBlock)) {
    VXK_POISON(static_cast<char*>(p) + sizeof(FreeBlock), size - sizeof(FreeBlock));
  }
  auto* f = static_cast<FreeBlock*>(p);
  std::atomic<FreeBlock*>& remote = s->owner->remote;
  FreeBlock* head = remote.load(std::memory_order_relaxed);
  do {
    f->next = head;
  } while (!remote.compare_exchange_weak(head, f, std::memory_order_release, std::memory_order_relaxed));
}

SmallHeapStats SmallHeapStatistics() {
  SmallHeapStats st{0, 0, 0, 0};
  std::lock_guard<std::mutex> guard(gLock);
  long frees = gHeaplessFrees.Get();
  long freeBytes = gHeaplessFreeBytes.Get();
  for (Heap* h = gAllHeaps; h != nullptr; h = h->nextAll) {
    st.allocations += h->allocs.Get();
    st.bytesRequestedLive += h->allocBytes.Get();
    frees += h->frees.Get();
    freeBytes += h->freeBytes.Get();
  }
  st.blocksLive = st.allocations - frees;
  st.bytesRequestedLive -= freeBytes;
  st.bytesReserved = gSlabsHeld.load(std::memory_order_relaxed) * static_cast<long>(kSlabBytes);
  return st;
}

}  // namespace vxk

namespace vxk_internal {

ArenaScope::ArenaScope() noexcept : fHeap(tHeap) {
  Heap* h = static_cast<Heap*>(fHeap);
  if (h == &gNoHeap) h = AttachHeap();
  if (h == nullptr || h == &gGoneHeap) {
    fHeap = nullptr;
    return;
  }
  fHeap = h;
  if (h->scopes++ > 0) return;
  if (h->remote.load(std::memory_order_relaxed) != nullptr) CollectRemote(h);
  // A document read after the previous one was freed lands where it was.
  if (h->chunk != nullptr) RewindIfEmpty(h, h->chunk);
  h->arena = h->chunk != nullptr ? h->chunk : &gNoSlab;
}

ArenaScope::~ArenaScope() {
  auto* h = static_cast<Heap*>(fHeap);
  if (h != nullptr && --h->scopes == 0) h->arena = nullptr;
}

long ArenaChunksHeld() { return gChunksHeld.load(std::memory_order_relaxed); }

void ArenaLetGo() {
  Heap* h = tHeap;
  if (h->scopes != 0) return;
  if (h->remote.load(std::memory_order_relaxed) != nullptr) CollectRemote(h);
  LetGo(h);
}

}  // namespace vxk_internal
