// List memory, counted as the small-object heap's live blocks plus the
// live blocks of the global operator new (replaced here), which serves what
// the heap does not: a short list made in one go is one allocation of at
// most 320 bytes, and whatever order windows, storages and shared blocks
// die in, nothing stays allocated.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "support/started_process.h"
#include "vxkernel/smallheap.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"

static std::atomic<long> gLive{0};

void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (p != nullptr) ++gLive;
  return p;
}
void* operator new(size_t bytes) {
  if (void* p = operator new(bytes, std::nothrow)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  if (p != nullptr) --gLive;
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

long Live() { return gLive + vxk::SmallHeapStatistics().blocksLive; }

TEST(ListMemory, ShortListsAreOneAllocationAndRandomSharingFreesEverything) {
  const long before = Live();
  const long bytesBefore = vxk::SmallHeapStatistics().bytesRequestedLive;
  {
    const KQSValue three = KQSValue::List(KQSValue(1), KQSValue(2), KQSValue(3));
    EXPECT_EQ(Live() - before, 1);
    // Window, storage, a one-pointer segment and three slots.
    EXPECT_LE(vxk::SmallHeapStatistics().bytesRequestedLive - bytesBefore, 320);
    std::mt19937 random(20261207);
    const auto pick = [&random](long n) { return static_cast<long>(random() % static_cast<unsigned long>(n)); };
    std::vector<KQSValue> v(5, three);
    const KQSValue items[] = {KQSValue("a"), KQSValue("b"), KQSValue(1)};  // Strings: allocations of their own
    long reads = 0;
    for (int step = 0; step < 6000; ++step) {
      KQSValue& a = v[static_cast<size_t>(pick(5))];
      const KQSValue b = v[static_cast<size_t>(pick(5))], x = items[pick(3)];
      const long n = a.ListEntries();
      switch (pick(9)) {
        case 0: a = b; break;
        case 1: a = b.ListSubrange(1 + pick(b.ListEntries() + 1), b.ListEntries() - pick(3)); break;
        case 2: for (long k = pick(150); k >= 0; --k) a.ListAppendValue(x); break;
        case 3: a.ListPrependValue(x); break;
        case 4: a.ListSetValue(1 + pick(n + 1), x); break;
        case 5: a.ListRemove(x); break;
        case 6: a.ListSort(static_cast<unsigned char>(pick(2))); break;
        case 7: a.ListAllocate(pick(n + 3)); break;
        default: a = pick(2) != 0 ? KQSValue::List() : KQSValue::List(x, x, b); break;
      }
      if (a.ListEntries() > 2000) a = KQSValue::List();
      // A piece freed too early is read here after its end (sanitizer builds stop).
      for (const KQSValue& e : v) {
        for (long i = 1; i <= e.ListEntries(); ++i) reads += e.ListGetValue(i).IsString();
      }
    }
    EXPECT_GT(reads, 0);
  }
  EXPECT_EQ(Live(), before);
}

}  // namespace
