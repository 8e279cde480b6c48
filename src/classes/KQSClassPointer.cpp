// KQSClassPointer: the reference stubs and the sharded class statistics.
#include <cstdint>

#include "base/debug_line.h"
#include "vxkernel/classes/KQSClass.h"

using vxk_internal::DebugText;

namespace vxk_detail {

thread_local constinit int gCounterShard = -1;

namespace {

// Bit i set: exclusive shard i belongs to a live thread.
std::atomic<uint32_t> gClaimedShards{0};
static_assert(kCounterShards - 1 <= 32, "one bit per exclusive shard");

// Returns the thread's exclusive shard when the thread ends.
struct ShardReleaser {
  int fShard = -1;
  ~ShardReleaser() {
    if (fShard >= 0 && fShard != kSharedShard) {
      gCounterShard = kSharedShard;  // anything counted later in this thread's exit
      gClaimedShards.fetch_and(~(1u << fShard), std::memory_order_release);
    }
  }
};
thread_local ShardReleaser gShardReleaser;

}  // namespace

int ClaimCounterShard() {
  uint32_t claimed = gClaimedShards.load(std::memory_order_relaxed);
  int shard = kSharedShard;
  for (;;) {
    const uint32_t free = ~claimed & ((1u << (kCounterShards - 1)) - 1);
    if (free == 0) break;
    const int i = __builtin_ctz(free);
    // Acquire: the sums the shard's last owner left are visible here.
    if (gClaimedShards.compare_exchange_weak(claimed, claimed | (1u << i), std::memory_order_acquire,
                                             std::memory_order_relaxed)) {
      shard = i;
      break;
    }
  }
  gCounterShard = shard;
  gShardReleaser.fShard = shard;
  return shard;
}

}  // namespace vxk_detail

KQSClassPointer::KQSClassPointer() { fIsPointer = true; }

KQSClassPointer::KQSClassPointer(const char* name, short number) : KQSClass(name, number) { fIsPointer = true; }

void KQSClassPointer::AddReference(void* /*data*/) const {
  DebugText("KQSClassPointer::AddReference() should never be called...abstract...class=", ClassName(), '\n');
}

void KQSClassPointer::ReleaseReference(void* /*data*/) const {
  DebugText("KQSClassPointer::ReleaseReference() should never be called...abstract...class=", ClassName(), '\n');
}

long KQSClassPointer::Sum(std::atomic<long> Shard::*field) const {
  long sum = 0;
  for (const Shard& s : fShards) sum += (s.*field).load(std::memory_order_relaxed);
  return sum;
}

long KQSClassPointer::ObjCount() const { return Sum(&Shard::fMade) - Sum(&Shard::fDestroyed); }

long KQSClassPointer::RefCount() const { return Sum(&Shard::fAdds) - Sum(&Shard::fReleases); }

long KQSClassPointer::RefTotal() const { return Sum(&Shard::fAdds); }
