// KPthread, KPthreadSpecific and the console-stream locks.
#include "vxkernel/threads/KPthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "threads/threads_test_util.h"
#include "vxkernel/threads/KLockedStreams.h"
#include "vxkernel/threads/KPthreadSpecific.h"

namespace {

struct Probe {
  KPthreadSpecific* fSlot = nullptr;
  uint32_t fSeenId = 0;
  void* fSeenValue = reinterpret_cast<void*>(1);
  std::atomic<bool> fGo{false};
};

unsigned ReportAndExit(void* raw) {
  Probe* p = static_cast<Probe*>(raw);
  p->fSeenId = KPthread::Self()._Id();
  if (p->fSlot != nullptr) {
    p->fSeenValue = p->fSlot->Get();
    p->fSlot->Set(raw);
  }
  while (!p->fGo) std::this_thread::yield();
  return 0xDEADBEEFu;
}

TEST(KPthread, CreateJoinCarriesIdAndExitCode) {
  Probe probe;
  probe.fGo = true;
  KPthread thread;
  ASSERT_EQ(thread.Create(ReportAndExit, &probe), 0);
  EXPECT_NE(thread._Handle(), 0u);
  const uint32_t id = thread._Id();
  void* code = nullptr;
  EXPECT_EQ(thread.Join(&code), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(code), 0xDEADBEEFu);
  EXPECT_EQ(probe.fSeenId, id);
  EXPECT_NE(id, KPthread::Self()._Id());
  EXPECT_EQ(thread._Handle(), 0u);
  EXPECT_EQ(thread.Join(nullptr), 9);  // the handle is gone
  EXPECT_EQ(thread.Detach(), 5);
}

TEST(KPthread, NoThreadAndSelf) {
  KPthread none;
  EXPECT_EQ(none.Join(nullptr), 9);
  EXPECT_EQ(none.Detach(), 5);
  EXPECT_EQ(none.Create(nullptr, nullptr), 1);
  KPthread self = KPthread::Self();
  EXPECT_EQ(self, KPthread::Self());
  EXPECT_NE(self, none);
  EXPECT_EQ(self.Join(nullptr), 9);  // a thread cannot join itself
}

TEST(KPthread, DetachReleasesTheHandle) {
  static Probe probe;  // outlives the detached thread
  KPthread thread;
  ASSERT_EQ(thread.Create(ReportAndExit, &probe), 0);
  EXPECT_EQ(thread.Detach(), 0);
  EXPECT_EQ(thread._Handle(), 0u);
  EXPECT_EQ(thread.Join(nullptr), 9);
  probe.fGo = true;
}

TEST(KPthreadSpecific, EveryThreadSeesItsOwnValue) {
  KPthreadSpecific slot;
  EXPECT_EQ(slot.Get(), nullptr);
  int mine = 0;
  EXPECT_EQ(slot.Set(&mine), 0);
  Probe probe;
  probe.fSlot = &slot;
  probe.fGo = true;
  KPthread thread;
  ASSERT_EQ(thread.Create(ReportAndExit, &probe), 0);
  ASSERT_EQ(thread.Join(nullptr), 0);
  EXPECT_EQ(probe.fSeenValue, nullptr);  // fresh thread: null
  EXPECT_EQ(slot.Get(), &mine);          // its Set did not touch ours
  KPthreadSpecific other;
  EXPECT_NE(other._Index(), slot._Index());
  EXPECT_EQ(other.Get(), nullptr);
}

TEST(KLockedStreams, GuardsKeepMessagesWhole) {
  // Redirect the narrow stream into a string and write messages in pieces
  // from several threads; each message must arrive unbroken.
  std::ostringstream sink;
  std::streambuf* saved = KLockedCout::Out().rdbuf(sink.rdbuf());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) {
        KLockedCoutGuard guard;
        KLockedCoutGuard nested;  // the monitor is re-entrant
        KLockedCout::Out() << '<' << t;
        std::this_thread::yield();
        KLockedCout::Out() << t << '>';
      }
    });
  }
  for (auto& th : threads) th.join();
  KLockedCout::Out().rdbuf(saved);
  const std::string text = sink.str();
  ASSERT_EQ(text.size(), 4u * 200u * 4u);
  for (size_t i = 0; i < text.size(); i += 4) {
    ASSERT_EQ(text[i], '<');
    ASSERT_EQ(text[i + 1], text[i + 2]) << "interleaved at " << i;
    ASSERT_EQ(text[i + 3], '>');
  }
  EXPECT_EQ(&KLockedCerr::Out(), &std::cerr);
  EXPECT_EQ(&KLockedWCout::Out(), &std::wcout);
  EXPECT_EQ(&KLockedWCerr::Out(), &std::wcerr);
  { KLockedCerrGuard g1; KLockedWCoutGuard g2; KLockedWCerrGuard g3; }
}

}  // namespace
