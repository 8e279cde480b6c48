// The class counters under concurrent copying: several threads copy values of
// the same classes at once, each thread its own storage objects (a storage's
// own count is not thread-safe by design; the class counters are). Run under
// ThreadSanitizer through the thread label.
#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/values/KQSValue.h"

namespace {

using namespace valtest;

// threadCount workers copy rounds rounds each; the counters are checked while
// every worker holds its copies and again after all have ended.
void CopyConcurrently(int threadCount, int rounds) {
  constexpr int kCopiesPerRound = 6;
  constexpr int kHeld = 10;
  const short types[] = {kString, kReal, kBytes, kLong};

  std::vector<Counters> before;
  for (short t : types) before.push_back(Counters::Of(t));

  // The main thread looks at the counters while every worker holds its copies.
  std::latch arrived(threadCount), released(1);
  std::vector<std::thread> threads;
  for (int n = 0; n < threadCount; ++n) {
    threads.emplace_back([n, rounds, &arrived, &released] {
      KAt::ThreadStartup();
      {
        // This thread's own storage objects, one per class.
        KQSValue originals[] = {KQSValue(("thread " + std::to_string(n)).c_str()),
                                KQSValue(n + 0.5), KQSValue::NewBytesValue("abc", 3),
                                KQSValue(static_cast<int64>(n) << 40)};
        for (int round = 0; round < rounds; ++round) {
          std::vector<KQSValue> copies;
          copies.reserve(kCopiesPerRound * 4);
          for (int c = 0; c < kCopiesPerRound; ++c) {
            for (const KQSValue& v : originals) copies.emplace_back(v);
          }
          // Copy assignment over a copy of the same class: one release, one add.
          for (size_t k = 0; k < std::size(originals); ++k)
            copies[k] = copies[std::size(originals) + k];
        }
        std::vector<KQSValue> held;
        for (int c = 0; c < kHeld; ++c) {
          for (const KQSValue& v : originals) held.push_back(v);
        }
        arrived.count_down();
        released.wait();
      }
      KAt::ThreadShutdown();
    });
  }

  arrived.wait();
  for (size_t i = 0; i < std::size(types); ++i) {
    SCOPED_TRACE(types[i]);
    Counters now = Counters::Of(types[i]) - before[i];
    EXPECT_EQ(now.obj, threadCount);
    EXPECT_EQ(now.ref, threadCount * (1 + kHeld));
  }
  released.count_down();
  for (std::thread& t : threads) t.join();

  // Per thread and class: the original, the copies of every round, the
  // assignment of every round, the held copies.
  const long total = threadCount * (1L + rounds * (kCopiesPerRound + 1L) + kHeld);
  for (size_t i = 0; i < std::size(types); ++i) {
    SCOPED_TRACE(types[i]);
    EXPECT_EQ(Counters::Of(types[i]) - before[i], (Counters{0, 0, total}));
  }
}

TEST(KQSValueThreads, ConcurrentCopiesKeepTheClassCountersExact) { CopyConcurrently(4, 5000); }

// More threads than a class is likely to keep separate tallies for, twice,
// so that whatever one generation of threads leaves behind is reused.
TEST(KQSValueThreads, ManyThreadsInGenerations) {
  for (int generation = 0; generation < 2; ++generation) {
    SCOPED_TRACE(generation);
    CopyConcurrently(40, 300);
  }
}

}  // namespace
