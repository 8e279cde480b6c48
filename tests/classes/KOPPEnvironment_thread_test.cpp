// The registry and the class counters under several threads: AddClass,
// lookups and Classes() of one environment at the same time, and the
// reference statistics of a storage class copied on many threads. Run under
// ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "classes/class_test_support.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSValueBaseClass.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"

namespace {

using classes_test::Keep;
using classes_test::Named;
using classes_test::TestClass;

constexpr int kThreads = 4;
constexpr int kPerThread = 60;

std::string NameOf(int thread, int i) {
  return "T" + std::to_string(thread) + "_" + std::to_string(i);
}
short NumberOf(int thread, int i) { return static_cast<short>(33 + thread * kPerThread + i); }

TEST(KOPPEnvironmentThreadTest, ConcurrentAddsAndLookupsKeepTheTablesWhole) {
  KOPPEnvironment* environment = Keep(new KOPPEnvironment());
  // Classes are made up front: construction is not what is tested here.
  std::vector<std::vector<TestClass*>> mine(kThreads);
  std::vector<TestClass*> contested;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i)
      mine[t].push_back(Named(NameOf(t, i).c_str(), NumberOf(t, i)));
    contested.push_back(Named("Contested", 999));
  }
  DebugCapture capture;
  std::atomic<int> contestedWins{0};
  std::atomic<int> badLookups{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      KAt::ThreadStartup();
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kPerThread; ++i) {
        if (!environment->AddClass(mine[t][i])) badLookups.fetch_add(1);
        if (i == kPerThread / 2 && environment->AddClass(contested[t])) contestedWins.fetch_add(1);
        // What this thread added is visible at once; what the others add
        // is either absent or exactly their class.
        if (environment->LookupByNumber(NumberOf(t, i)) != mine[t][i]) badLookups.fetch_add(1);
        int other = (t + 1) % kThreads;
        const KQSClass* seen = environment->LookupByName(NameOf(other, i).c_str());
        if (seen != nullptr && seen != mine[other][i]) badLookups.fetch_add(1);
        if (i % 10 == 0) {
          std::unique_ptr<TArray<const KQSClass*>> list(environment->Classes());
          for (unsigned long k = 2; k <= list->Count(); ++k)
            if (list->GetAt(k - 1)->ClassNumber() >= list->GetAt(k)->ClassNumber())
              badLookups.fetch_add(1);
        }
      }
      KAt::ThreadShutdown();
    });
  }
  go.store(true);
  for (std::thread& th : threads) th.join();

  EXPECT_EQ(badLookups.load(), 0);
  EXPECT_EQ(contestedWins.load(), 1);
  std::vector<std::string> lines = capture.Texts();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads - 1));
  for (const std::string& line : lines)
    EXPECT_EQ(line,
              "KOPPEnvironment::AddClass...Class name already exists = 999/Contested/Contested\n");

  std::unique_ptr<TArray<const KQSClass*>> list(environment->Classes());
  ASSERT_EQ(list->Count(), static_cast<unsigned long>(kThreads * kPerThread + 1));
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kPerThread; ++i) {
      EXPECT_EQ(list->GetAt(static_cast<unsigned long>(NumberOf(t, i) - 32)), mine[t][i]);
      EXPECT_EQ(environment->LookupByName(NameOf(t, i).c_str()), mine[t][i]);
    }
}

// With concurrency enabled, copying classes in takes the destination's lock,
// so it may run while another thread adds classes to the destination.
TEST(KOPPEnvironmentThreadTest, CopyClassesFromWhileAddingWhenConcurrencyIsEnabled) {
  KOPPEnvironment* source = Keep(new KOPPEnvironment());
  KOPPEnvironment* destination = Keep(new KOPPEnvironment());
  destination->ConcurrencyEnable();
  std::vector<TestClass*> copied;
  std::vector<TestClass*> added;
  for (int i = 0; i < 100; ++i) {
    copied.push_back(Named(("Copied" + std::to_string(i)).c_str(), static_cast<short>(33 + i)));
    ASSERT_TRUE(source->AddClass(copied.back()));
    added.push_back(Named(("Added" + std::to_string(i)).c_str(), static_cast<short>(500 + i)));
  }
  DebugCapture capture;
  std::atomic<int> refused{0};
  std::thread adder([&] {
    KAt::ThreadStartup();
    for (TestClass* c : added)
      if (!destination->AddClass(c)) refused.fetch_add(1);
    KAt::ThreadShutdown();
  });
  destination->CopyClassesFrom(source);
  adder.join();
  EXPECT_EQ(refused.load(), 0);
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{});
  std::unique_ptr<TArray<const KQSClass*>> list(destination->Classes());
  ASSERT_EQ(list->Count(), 200u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(list->GetAt(static_cast<unsigned long>(i + 1)), copied[static_cast<size_t>(i)]);
    EXPECT_EQ(list->GetAt(static_cast<unsigned long>(i + 101)), added[static_cast<size_t>(i)]);
  }
}

// Each thread copies values of its own storage; the class's figures must
// add up exactly once the threads are done, also with more threads alive at
// once than the class keeps separate tallies for, and across threads that
// end and are followed by new ones.
void CountOnThreads(const KQSValueBaseClass* counted, int threads, int copies, bool together) {
  std::atomic<int> ready{0};
  auto body = [&] {
    KAt::ThreadStartup();
    ready.fetch_add(1);
    if (together)
      while (ready.load() < threads) std::this_thread::yield();
    KQSValue value(counted, new KQSValueBase());
    for (int i = 0; i < copies; ++i) {
      KQSValue copy(value);
      KQSValue another;
      another = copy;
    }
    KAt::ThreadShutdown();
  };
  if (together) {
    std::vector<std::thread> all;
    for (int t = 0; t < threads; ++t) all.emplace_back(body);
    for (std::thread& th : all) th.join();
  } else {
    for (int t = 0; t < threads; ++t) std::thread(body).join();
  }
}

TEST(KQSClassPointerThreadTest, CountersAreExactAfterManyThreads) {
  auto* counted = Keep(new KQSValueBaseClass("CountedOnThreads", KQSClass::kNoClassNumber));
  constexpr int kCopies = 500;
  // 40 threads alive together: more than the separate tallies.
  CountOnThreads(counted, 40, kCopies, true);
  EXPECT_EQ(counted->ObjCount(), 0);
  EXPECT_EQ(counted->RefCount(), 0);
  EXPECT_EQ(counted->RefTotal(), 40L * (1 + 2 * kCopies));
  // 40 more, one after the other: each takes over a finished thread's tally.
  CountOnThreads(counted, 40, kCopies, false);
  EXPECT_EQ(counted->ObjCount(), 0);
  EXPECT_EQ(counted->RefCount(), 0);
  EXPECT_EQ(counted->RefTotal(), 80L * (1 + 2 * kCopies));

  // Storage still alive on this thread is seen from here.
  KQSValue kept(counted, new KQSValueBase());
  std::thread([&] {
    KQSValue copy(kept);  // the main thread waits meanwhile: one thread at a time
    (void)copy;
  }).join();
  EXPECT_EQ(counted->ObjCount(), 1);
  EXPECT_EQ(counted->RefCount(), 1);
}

}  // namespace
