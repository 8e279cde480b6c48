// KQSClassPointer: the reference stubs and the sharded class statistics.
#include "vxkernel/classes/KQSClassPointer.h"

#include <atomic>
#include <cstdint>

#include "base/debug_line.h"

using vxk_internal::DebugText;

std::atomic<uintptr_t> KQSClassPointer::gShardOwners[KQSClassPointer::kOwnerEntries];

namespace {

constexpr int kSharedShard = KQSClassPointer::kCounterShards - 1;

// Bit i set: exclusive shard i belongs to a live thread.
std::atomic<uint32_t> gClaimedShards{0};
static_assert(kSharedShard <= 32, "one bit of gClaimedShards per exclusive shard");

// The calling thread's claim. Compiler thread-local storage, private to the
// library and read only when a thread claims and when it ends: the claim
// must be given back on every thread that ever copied a value, including
// threads that never ran the thread ring (the host's own, other
// libraries'), which have no KContext.
//
// gReleased is set once the thread's exit has given its shard back; it is
// trivial, so it can still be read by anything counted later in that exit.
thread_local constinit bool gReleased = false;

struct ShardClaim {
  bool fTried = false;
  int fShard = -1;
  std::atomic<uintptr_t>* fEntry = nullptr;  // in the owner table
  ~ShardClaim() {
    gReleased = true;
    if (fEntry != nullptr) fEntry->store(0, std::memory_order_relaxed);
    // Release: the sums this thread left in its shard are visible to the
    // next owner, whose claim acquires.
    if (fShard >= 0) gClaimedShards.fetch_and(~(1u << fShard), std::memory_order_release);
  }
};
thread_local ShardClaim gClaim;

}  // namespace

KQSClassPointer::KQSClassPointer() { fIsPointer = true; }

KQSClassPointer::KQSClassPointer(const char* name, short number) : KQSClass(name, number) {
  fIsPointer = true;
}

void KQSClassPointer::AddReference(void* /*data*/) const {
  DebugText("KQSClassPointer::AddReference() should never be called...abstract...class=",
            ClassName(), '\n');
}

void KQSClassPointer::ReleaseReference(void* /*data*/) const {
  DebugText("KQSClassPointer::ReleaseReference() should never be called...abstract...class=",
            ClassName(), '\n');
}

int KQSClassPointer::ClaimShard() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  if (gReleased) return -1;
  if (gClaim.fTried) return gClaim.fShard;
  gClaim.fTried = true;
  uint32_t claimed = gClaimedShards.load(std::memory_order_relaxed);
  int shard = -1;
  for (;;) {
    const uint32_t free = ~claimed & ((1u << kSharedShard) - 1);
    if (free == 0) return -1;
    const int i = __builtin_ctz(free);
    // Acquire: the sums the shard's last owner left are visible here.
    if (gClaimedShards.compare_exchange_weak(
            claimed, claimed | (1u << i), std::memory_order_acquire, std::memory_order_relaxed)) {
      shard = i;
      break;
    }
  }
  const auto self = reinterpret_cast<uintptr_t>(__builtin_thread_pointer());
  if ((self & ((uintptr_t{1} << kShardBits) - 1)) == 0) {
    std::atomic<uintptr_t>* o = &gShardOwners[OwnerSlot(self)];
    for (std::atomic<uintptr_t>* e : {o, o + 1}) {
      uintptr_t none = 0;
      if (e->load(std::memory_order_relaxed) == 0 &&
          e->compare_exchange_strong(none, self | static_cast<uintptr_t>(shard),
                                     std::memory_order_relaxed)) {
        gClaim.fShard = shard;
        gClaim.fEntry = e;
        return shard;
      }
    }
  }
  // No place in the owner table (both taken by other threads), or a thread
  // pointer the table cannot hold: the shard goes back unused.
  gClaimedShards.fetch_and(~(1u << shard), std::memory_order_release);
#endif
  return -1;
}

void KQSClassPointer::CountAddElsewhere(bool firstReference) const {
  Count(&Shard::fAdds, firstReference ? &Shard::fMade : nullptr);
}

void KQSClassPointer::CountReleaseElsewhere(bool destroyed) const {
  Count(&Shard::fReleases, destroyed ? &Shard::fDestroyed : nullptr);
}

void KQSClassPointer::Count(Counter counter, Counter also) const {
  const int i = ClaimShard();
  if (i >= 0) {
    Shard& s = fShards[i];
    Bump(s.*counter);
    if (also != nullptr) Bump(s.*also);
    return;
  }
  Shard& s = fShards[kSharedShard];
  (s.*counter).fetch_add(1, std::memory_order_relaxed);
  if (also != nullptr) (s.*also).fetch_add(1, std::memory_order_relaxed);
}

long KQSClassPointer::Sum(Counter field) const {
  long sum = 0;
  for (const Shard& s : fShards) sum += (s.*field).load(std::memory_order_relaxed);
  return sum;
}

long KQSClassPointer::ObjCount() const { return Sum(&Shard::fMade) - Sum(&Shard::fDestroyed); }

long KQSClassPointer::RefCount() const { return Sum(&Shard::fAdds) - Sum(&Shard::fReleases); }

long KQSClassPointer::RefTotal() const { return Sum(&Shard::fAdds); }
