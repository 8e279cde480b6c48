// The small-object heap against a model of its live blocks: every block keeps
// the bytes written into it until freed, whatever the order of frees and the
// thread that frees.
#include "vxkernel/smallheap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <random>
#include <thread>
#include <vector>

#include "base/arena.h"
#include "vxkernel/threads/KMutex.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VXK_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VXK_TEST_ASAN 1
#endif

namespace {

struct Live {
  unsigned char* p;
  size_t size;
  unsigned char tag;
};

Live Make(size_t size, unsigned char tag) {
  auto* p = static_cast<unsigned char*>(vxk::SmallAlloc(size));
  std::memset(p, tag, size);
  return Live{p, size, tag};
}

// True when the block still holds its pattern; frees it.
bool CheckAndFree(const Live& b) {
  bool intact = reinterpret_cast<uintptr_t>(b.p) % 16 == 0;
  for (size_t i = 0; i < b.size; ++i) intact = intact && b.p[i] == b.tag;
  vxk::SmallFree(b.p, b.size);
  return intact;
}

size_t RandomSize(std::mt19937& rng) {
  // Mostly small, some around the largest class and past it.
  return rng() % 8 != 0 ? rng() % 300 : 900 + rng() % 300;
}

TEST(SmallHeap, RandomOperationsKeepEveryBlockAndTheStatistics) {
  std::mt19937 rng(21);
  // The second round runs on the slabs the first one gave back.
  for (int round = 0; round < 2; ++round) {
    const vxk::SmallHeapStats before = vxk::SmallHeapStatistics();
    std::vector<Live> live;
    long smallBlocks = 0, smallBytes = 0;
    for (int op = 0; op < 200000; ++op) {
      if (live.size() < 50000 && rng() % 5 < 3) {
        live.push_back(Make(RandomSize(rng), static_cast<unsigned char>(op * 131 + 7)));
        if (live.back().size <= 1088) ++smallBlocks, smallBytes += static_cast<long>(live.back().size);
      } else if (!live.empty()) {
        const size_t k = rng() % live.size();
        if (live[k].size <= 1088) --smallBlocks, smallBytes -= static_cast<long>(live[k].size);
        ASSERT_TRUE(CheckAndFree(live[k])) << "op " << op;
        live[k] = live.back();
        live.pop_back();
      }
    }
    const vxk::SmallHeapStats during = vxk::SmallHeapStatistics();
    EXPECT_EQ(during.blocksLive - before.blocksLive, smallBlocks);
    EXPECT_EQ(during.bytesRequestedLive - before.bytesRequestedLive, smallBytes);
    // Blocks freed into full slabs are reused: the slabs stay within twice
    // what is live.
    EXPECT_GE(during.bytesReserved, smallBytes);
    EXPECT_LE(during.bytesReserved, 2 * smallBytes + 32L * 64 * 1024);
    for (const Live& b : live) ASSERT_TRUE(CheckAndFree(b));
    // A freed burst gives its slabs back: what stays is a serving slab per
    // class and a few spares, not the burst's tens of megabytes.
    const vxk::SmallHeapStats after = vxk::SmallHeapStatistics();
    EXPECT_EQ(after.blocksLive, before.blocksLive);
    EXPECT_LE(after.bytesReserved, 32L * 64 * 1024);
  }
}

// Blocks outlive the threads that made them, are freed on other threads
// while those threads allocate (adopting the heaps left behind), and pass
// from thread to thread while both run.
TEST(SmallHeap, BlocksMoveBetweenThreadsAndOutliveThem) {
  constexpr int kThreads = 4;
  constexpr int kBlocks = 3000;
  constexpr int kSent = kBlocks - (kBlocks + 2) / 3;  // the rest are kept
  const long liveBefore = vxk::SmallHeapStatistics().blocksLive;
  std::vector<std::vector<Live>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &made] {
      std::mt19937 rng(static_cast<unsigned>(t));
      for (int i = 0; i < kBlocks; ++i) made[t].push_back(Make(RandomSize(rng), static_cast<unsigned char>(t * 50 + i)));
    });
  }
  for (std::thread& th : threads) th.join();
  threads.clear();

  KMutex lock;
  std::deque<Live> inbox[kThreads];
  std::vector<Live> kept;
  bool intact = true;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(static_cast<unsigned>(100 + t));
      bool ok = true;
      for (const Live& b : made[(t + 1) % kThreads]) ok = CheckAndFree(b) && ok;
      int received = 0;
      for (int i = 0; i < kBlocks || received < kSent;) {
        if (i < kBlocks) {
          Live b = Make(RandomSize(rng), static_cast<unsigned char>(i));
          KLockGuard guard(lock);
          (i % 3 == 0 ? kept.push_back(b) : inbox[(t + 1) % kThreads].push_back(b));
          ++i;
        }
        std::deque<Live> mine;
        {
          KLockGuard guard(lock);
          mine.swap(inbox[t]);
        }
        for (const Live& b : mine) ok = CheckAndFree(b) && ok, ++received;
        if (i == kBlocks && mine.empty()) std::this_thread::yield();
      }
      KLockGuard guard(lock);
      intact = intact && ok;
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_TRUE(intact);
  for (const Live& b : kept) EXPECT_TRUE(CheckAndFree(b));
  EXPECT_EQ(vxk::SmallHeapStatistics().blocksLive, liveBefore);
}

#ifdef VXK_TEST_ASAN
// A block freed alone inside a chunk that other blocks keep is unreadable:
// a use after free of one value read with its document is still found.
TEST(SmallHeapDeathTest, ArenaBlockFreedAloneIsPoisoned) {
  char* freed;
  char* kept;
  {
    vxk_internal::ArenaScope arena;
    freed = static_cast<char*>(vxk::SmallAlloc(40));
    kept = static_cast<char*>(vxk::SmallAlloc(40));
  }
  vxk::SmallFree(freed, 40);
  EXPECT_DEATH(static_cast<void>(static_cast<volatile char*>(freed)[20]), "use-after-poison");
  vxk::SmallFree(kept, 40);
}
#endif

}  // namespace
