// The registry and the class counters under several threads (and TSan).

#include <memory>

#include "classes/class_test_support.h"
#include "vxkernel/classes/KQSValueBaseClass.h"
#include "vxkernel/values/KQSValueBase.h"

namespace {

using namespace classes_test;

TEST(KOPPEnvironmentThreadTest, ConcurrentAddsAndLookupsKeepTheTablesWhole) {
  constexpr int kThreads = 4, kPer = 60;
  KOPPEnvironment* environment = Keep(new KOPPEnvironment());
  auto name = [](int t, int i) { return "T" + std::to_string(t) + "_" + std::to_string(i); };
  std::vector<std::vector<TestClass*>> mine(kThreads);
  std::vector<const KQSClass*> expected;  // then "Contested"
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kPer; ++i)
      expected.push_back(mine[t].emplace_back(Named(name(t, i).c_str(), static_cast<short>(33 + t * kPer + i))));
  DebugCapture capture;
  std::atomic<int> wins{0}, bad{0};
  OnThreads(kThreads, [&](int t) {
    for (int i = 0; i < kPer; ++i) {
      bad += !environment->AddClass(mine[t][i]);
      if (i == kPer / 2) wins += environment->AddClass(Named("Contested", 999));
      // Its own adds are visible at once; the others' absent or exact.
      bad += environment->LookupByNumber(mine[t][i]->ClassNumber()) != mine[t][i];
      const KQSClass* seen = environment->LookupByName(name((t + 1) % kThreads, i).c_str());
      bad += seen != nullptr && seen != mine[(t + 1) % kThreads][i];
      const std::vector<const KQSClass*> list = Listed(environment->Classes());
      for (size_t k = 1; k < list.size(); ++k) bad += list[k - 1]->ClassNumber() >= list[k]->ClassNumber();
    }
  });
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(wins.load(), 1);
  EXPECT_EQ(capture.Texts(), Lines(kThreads - 1, "KOPPEnvironment::AddClass...Class name already exists = 999/Contested/Contested\n"));
  expected.push_back(environment->LookupByNumber(999));
  EXPECT_EQ(Listed(environment->Classes()), expected);
}

// With concurrency enabled, copying in may run beside another adder.
TEST(KOPPEnvironmentThreadTest, CopyClassesFromWhileAddingWhenConcurrencyIsEnabled) {
  KOPPEnvironment *source = Keep(new KOPPEnvironment()), *destination = Keep(new KOPPEnvironment());
  destination->ConcurrencyEnable();
  std::vector<TestClass*> added;
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(source->AddClass(Named(("Copied" + std::to_string(i)).c_str(), static_cast<short>(33 + i))));
    added.push_back(Named(("Added" + std::to_string(i)).c_str(), static_cast<short>(500 + i)));
  }
  std::vector<const KQSClass*> expected = Listed(source->Classes());  // the copied, then the added
  expected.insert(expected.end(), added.begin(), added.end());
  DebugCapture capture;
  std::atomic<int> refused{0};
  OnThreads(2, [&](int t) {
    if (t == 0) return destination->CopyClassesFrom(source);
    for (TestClass* c : added) refused += !destination->AddClass(c);
  });
  EXPECT_EQ(refused.load(), 0);
  EXPECT_EQ(capture.All(), "");
  EXPECT_EQ(Listed(destination->Classes()), expected);
}

// Exact figures after more threads at once than there are tallies, and after threads in turn.
TEST(KQSClassPointerThreadTest, CountersAreExactAfterManyThreads) {
  auto* counted = Keep(new KQSValueBaseClass("CountedOnThreads", KQSClass::kNoClassNumber));
  constexpr int kCopies = 300;
  auto copies = [counted](int) {
    KQSValue value(counted, new KQSValueBase());
    for (int i = 0; i < kCopies; ++i) {
      KQSValue copy(value), another;
      another = copy;
    }
  };
  for (bool together : {true, false}) {
    OnThreads(40, copies, together);
    EXPECT_EQ(counted->ObjCount(), 0);
    EXPECT_EQ(counted->RefCount(), 0);
    EXPECT_EQ(counted->RefTotal(), (together ? 40L : 80L) * (1 + 2 * kCopies));
  }
  KQSValue kept(counted, new KQSValueBase()), second(kept), third;  // alive on this thread, seen from here
  third = second;
  std::thread([&] { KQSValue copy(kept); }).join();
  EXPECT_EQ(counted->ObjCount(), 1);
  EXPECT_EQ(counted->RefCount(), 3);
}

}  // namespace
