// KPthread, KPthreadSpecific and the console-stream locks.
#include "vxkernel/threads/KPthread.h"

#include <gtest/gtest.h>

#include "threads/threads_test_util.h"
#include "vxkernel/threads/KLockedStreams.h"
#include "vxkernel/threads/KPthreadSpecific.h"

namespace {

KPthreadSpecific gSlot;
uint32_t gSeenId = 0;
void* gSeenValue = &gSeenId;

// Notes the thread's id and its value of gSlot, then sets that value.
unsigned Report(void* value) {
  gSeenId = KPthread::Self()._Id();
  gSeenValue = gSlot.Get();
  gSlot.Set(value);
  return 0xDEADBEEFu;
}

// Join and Detach work once on a thread that was created; "9": no handle,
// "5": nothing to detach, "1": no function.
TEST(KPthread, JoinCarriesIdAndExitCodeAndEveryThreadHasItsOwnSlotValue) {
  int mine = 0;
  EXPECT_EQ(gSlot.Set(&mine), 0);
  KPthread thread, detached, none;
  ASSERT_EQ(thread.Create(Report, &gSeenId), 0);
  const uint32_t id = thread._Id();
  void* code = nullptr;
  ASSERT_EQ(thread.Join(&code), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(code), 0xDEADBEEFu);
  EXPECT_EQ(gSeenId, id);
  EXPECT_NE(id, KPthread::Self()._Id());
  EXPECT_EQ(gSeenValue, nullptr);  // a fresh thread's value is null
  EXPECT_EQ(gSlot.Get(), &mine);   // and its Set did not touch ours
  KPthreadSpecific other;
  EXPECT_NE(other._Index(), gSlot._Index());
  EXPECT_EQ(other.Get(), nullptr);
  EXPECT_EQ(detached.Create([](void*) { return 0u; }, nullptr), 0);
  EXPECT_EQ(detached.Detach(), 0);
  const KPthread self = KPthread::Self();
  EXPECT_TRUE(self == KPthread::Self());
  EXPECT_TRUE(self != none);
  for (KPthread t : {thread, detached, none, self}) {  // self: a thread cannot join itself
    EXPECT_EQ(t.Join(nullptr), 9);
  }
  EXPECT_EQ(thread.Detach(), 5);
  EXPECT_EQ(none.Detach(), 5);
  EXPECT_EQ(none.Create(nullptr, nullptr), 1);
}

// Messages written in pieces from several threads under the guard arrive whole.
TEST(KLockedStreams, GuardsKeepMessagesWhole) {
  std::ostringstream sink;
  std::streambuf* saved = KLockedCout::Out().rdbuf(sink.rdbuf());
  OnThreads(4, [](int t) {
    for (int i = 0; i < 200; ++i) {
      KLockedCoutGuard guard, nested;  // re-entrant
      KLockedCout::Out() << '<' << t;
      std::this_thread::yield();
      KLockedCout::Out() << t << '>';
    }
  });
  KLockedCout::Out().rdbuf(saved);
  const std::string text = sink.str();
  ASSERT_EQ(text.size(), 4u * 200u * 4u);
  for (size_t i = 0; i < text.size(); i += 4) {
    ASSERT_EQ(text[i], '<') << i;
    ASSERT_EQ(text[i + 1], text[i + 2]) << i;
    ASSERT_EQ(text[i + 3], '>') << i;
  }
}

}  // namespace
