// List memory: every allocation made for lists is freed by the time the
// last value using it goes, whatever order windows, storages and shared
// blocks die in, and a short list made in one go is one allocation. The
// program counts live allocations by replacing the global operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "support/started_process.h"
#include "vxkernel/values/KQSValue.h"

namespace {
std::atomic<long> gLive{0};
}  // namespace

void* operator new(size_t bytes) {
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) throw std::bad_alloc();
  gLive.fetch_add(1, std::memory_order_relaxed);
  return p;
}
void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (p != nullptr) gLive.fetch_add(1, std::memory_order_relaxed);
  return p;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  gLive.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

long Live() { return gLive.load(std::memory_order_relaxed); }

TEST(ListMemory, ShortListsMadeInOneGoAreOneAllocation) {
  const long before = Live();
  {
    const KQSValue l = KQSValue::List(KQSValue(1), KQSValue(2), KQSValue(3));
    EXPECT_EQ(Live() - before, 1);
    KQSValue m = KQSValue::List();
    for (int k = 0; k < 4; ++k) m.ListAppendValue(KQSValue(k));
    EXPECT_EQ(Live() - before, 2);
    EXPECT_EQ(static_cast<long>(m.ListGetValue(4)) + static_cast<long>(l.ListGetValue(3)), 6);
  }
  EXPECT_EQ(Live(), before);
}

// Random changes, copies, sub-ranges and drops on values sharing lists,
// with String elements (allocations of their own), then everything dropped:
// nothing may stay allocated. Every element is read after each step, so a
// piece freed too early is read after its end (sanitizer builds stop there).
TEST(ListMemory, RandomSharingFreesEverything) {
  constexpr int kValues = 5;
  const long before = Live();
  {
    std::mt19937 random(20261207);
    const auto pick = [&random](long n) { return static_cast<long>(random() % static_cast<unsigned long>(n)); };
    std::vector<KQSValue> v(kValues, KQSValue::List());
    const KQSValue strings[] = {KQSValue("a"), KQSValue("b")};
    long reads = 0;
    for (int step = 0; step < 6000; ++step) {
      KQSValue& a = v[static_cast<size_t>(pick(kValues))];
      const KQSValue& b = v[static_cast<size_t>(pick(kValues))];
      const KQSValue x = pick(2) != 0 ? strings[pick(2)] : KQSValue(static_cast<int>(pick(3)));
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
      for (const KQSValue& e : v) {
        for (long i = 1; i <= e.ListEntries(); ++i) reads += e.ListGetValue(i).IsString();
      }
    }
    EXPECT_GT(reads, 0);
  }
  EXPECT_EQ(Live(), before);
}

}  // namespace
