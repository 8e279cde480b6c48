// The class counters under concurrent copying (each thread its own storage,
// whose own count is not thread-safe by design). Run under TSan.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/runtime/KAt.h"

namespace {

using namespace valtest;

void CopyConcurrently(int threadCount, int rounds) {
  constexpr int kCopiesPerRound = 6, kHeld = 10;
  const short types[] = {kString, kReal, kBytes, kLong};
  std::vector<Counters> before;
  for (short t : types) before.push_back(Counters::Of(t));
  std::latch arrived(threadCount), released(1);
  std::vector<std::thread> threads;
  for (int n = 0; n < threadCount; ++n) {
    threads.emplace_back([n, rounds, &arrived, &released] {
      KAt::ThreadStartup();
      {
        KQSValue originals[] = {KQSValue(("thread " + std::to_string(n)).c_str()), KQSValue(n + 0.5),
                                KQSValue::NewBytesValue("abc", 3), KQSValue(static_cast<int64>(n) << 40)};
        for (int round = 0; round < rounds; ++round) {
          std::vector<KQSValue> copies;
          for (int c = 0; c < kCopiesPerRound; ++c) copies.insert(copies.end(), std::begin(originals), std::end(originals));
          // Copy assignment over a copy of the same class: one release, one add.
          for (size_t k = 0; k < std::size(originals); ++k) copies[k] = copies[std::size(originals) + k];
        }
        std::vector<KQSValue> held;
        for (int c = 0; c < kHeld; ++c) held.insert(held.end(), std::begin(originals), std::end(originals));
        arrived.count_down();
        released.wait();
      }
      KAt::ThreadShutdown();
    });
  }
  arrived.wait();
  for (size_t i = 0; i < std::size(types); ++i) {
    const Counters now = Counters::Of(types[i]) - before[i];
    EXPECT_EQ(std::make_pair(now.obj, now.ref), std::make_pair(1L * threadCount, threadCount * (1L + kHeld))) << types[i];
  }
  released.count_down();
  for (std::thread& t : threads) t.join();
  // Per thread and class: the original, each round's copies and assignment, the held copies.
  const long total = threadCount * (1L + rounds * (kCopiesPerRound + 1L) + kHeld);
  for (size_t i = 0; i < std::size(types); ++i) {
    EXPECT_EQ(Counters::Of(types[i]) - before[i], (Counters{0, 0, total})) << types[i];
  }
}

TEST(KQSValueThreads, ConcurrentCopiesKeepTheClassCountersExact) { CopyConcurrently(4, 5000); }

// More threads than a class is likely to keep separate tallies for, twice,
// so that whatever one generation of threads leaves behind is reused.
TEST(KQSValueThreads, ManyThreadsInGenerations) {
  for (int generation = 0; generation < 2; ++generation) CopyConcurrently(40, 300);
}

// A thread running the thread ring (making its context) while another reads
// and writes documents: the reader keeps every value.
TEST(KQSValueThreads, DocumentsReadWhileAnotherThreadStartsKeepEveryValue) {
  KQSValue doc = KQSValue::List();
  for (int i = 0; i < 200; ++i) {
    KQSValue assoc = NewAssoc();
    A(assoc).Add(KQSValue("x"), KQSValue(i + 0.25));
    A(assoc).Add(KQSValue("name"), KQSValue(("n" + std::to_string(i)).c_str()));
    doc.ListAppendValue(assoc);
    doc.ListAppendValue(KQSValue(i * 1.5));
  }
  const std::string text = Str(doc.FormattedString());
  std::atomic<bool> stop{false};
  std::thread starter([&stop] {
    while (!stop.load()) {
      std::thread t([] {
        KAt::ThreadStartup();
        KAt::ThreadShutdown();
      });
      t.join();
    }
  });
  for (int round = 0; round < 1000; ++round) {
    const KQSValue read = Parse(text);
    ASSERT_EQ(Str(read.FormattedString()), text) << "round " << round;
  }
  stop.store(true);
  starter.join();
}

}  // namespace
