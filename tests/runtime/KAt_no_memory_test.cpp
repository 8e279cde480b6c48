// The lifecycle calls with each of their allocations failed in turn, in a child each: a call
// must return, report, keep its counts so the matching shut-down pairs up, leave no monitor
// held, and leave a process whose values still answer.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/failing_new.h"
#include "vxkernel/clientapi/vx_containers.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/KContext.h"
#include "vxkernel/threads/KLock.h"

namespace {

uintptr_t ThreadCount() { return reinterpret_cast<uintptr_t>(KContext::Get(KAt::gContextAlloc)); }

// A few calls through the client interface, after a failure too (they must
// not crash); unless one fired, each must succeed.
void UseValues(bool fired, std::string& out) {
  VXVALUE a = nullptr;
  char buf[16];
  long n = 0, worst = VX_ValueAlloc(&a);
  for (long s : {VX_ValueSetAssoc(a), VX_AssocSetString(a, "name", "minutes"),
                 VX_AssocGetString(a, "name", buf, sizeof buf, &n), VX_ValueFree(a)})
    worst = worst == VX_OK ? s : worst;
  if (!fired && worst != VX_OK) out += "values " + std::to_string(worst) + " ";
}

// "" when every failure was reported: by the library's participants themselves, which throw
// nothing into the rings, so the rings have nothing to report.
std::string Lines(bool fired, const DebugCapture& capture) {
  const std::string all = capture.All();
  if (fired == all.empty()) return "lines [" + all + "] ";
  for (const std::string& line : capture.Texts())
    if (line.rfind("KAt::", 0) == 0) return "line " + line;
  return "";
}

// Runs scenario(n, out), which fails the n-th allocation, in a child for n = 1, 2, ... until
// that allocation never comes; out says what went wrong.
void EveryFailure(const std::function<bool(long n, std::string& out)>& scenario) {
  bool fired = true;
  for (long n = 1; fired && n < 5000; ++n) {
    ChildResult r = RunInChild([&](std::string& out) {
      std::string problems;
      const bool fired = scenario(n, problems);
      out = (fired ? "F" : "-") + problems;
    });
    SCOPED_TRACE(n);
    ASSERT_EQ(r.status, 0);
    ASSERT_FALSE(r.output.empty());
    fired = r.output[0] == 'F';
    EXPECT_EQ(r.output.substr(1), "");
  }
  EXPECT_FALSE(fired);
}

// Started last: a participant that could not start keeps no other from it.
struct Last : KAtProcess {
  Last() : KAtProcess(1000) {}
  void Startup() override { started = true; }
  void Shutdown() override {}
  bool started = false;
};

// The process's start-up (with its thread's, or that one alone after it), then
// a client's context; a pool thread then serves the client and starts its
// own ring, which it could not with the monitor left held.
TEST(KAtNoMemory, ProcessThreadAndClientStartups) {
  for (bool threadAlone : {false, true}) {
    SCOPED_TRACE(threadAlone);
    EveryFailure([threadAlone](long n, std::string& out) {
      Last last;
      DebugCapture capture;
      failing_new::FailNth(n);
      KAt::ProcessStartup(!threadAlone);
      if (threadAlone) KAt::ThreadStartup();
      void* mine = KAt::UseThreadStartup(nullptr);
      KAt::UseThreadStartup(mine);
      void* client = KAt::CreateThreadStartup();
      const bool fired = failing_new::Fired();
      failing_new::FailNth(0);
      out += Lines(fired, capture);
      if (!last.started) out += "ring stopped ";
      // Without a context (the context package failed) the thread count reads 0.
      if (KAt::gProcessCount != 1 || ThreadCount() > 1) out += "counts ";
      if (KAt::UseThreadStartup(mine) != mine || (client == nullptr && !fired)) out += "contexts ";
      UseValues(fired, out);
      std::thread([&] {
        if (client != nullptr) {
          void* previous = KAt::UseThreadStartup(client);
          if (ThreadCount() > 1) out += "client count ";
          UseValues(fired, out);
          KAt::UseThreadStartup(previous);
          KAt::DestroyThreadStartup(client);
        }
        KAt::ThreadStartup(), KAt::ThreadShutdown();
      }).join();
      if (threadAlone) KAt::ThreadShutdown();
      KAt::ProcessShutdown(!threadAlone);
      if (KAt::gProcessCount != 0 || ThreadCount() != 0) out += "after ";
      return fired;
    });
  }
}

// A participant that cannot be registered is left out of its ring.
TEST(KAtNoMemory, RegistrationLeavesTheParticipantOutAndALockSaysItDoesNotLock) {
  EveryFailure([](long n, std::string& out) {
    DebugCapture capture;
    alignas(Last) unsigned char room[sizeof(Last)];  // only the registration allocates
    failing_new::FailNth(n);
    Last* last = new (room) Last;
    const bool fired = failing_new::Fired();
    failing_new::FailNth(0);
    if (capture.All() != (fired ? "KAt::Add - could not register the participant at priority 1000 of "
                                  "the process ring: out of memory\n"
                                : ""))
      out += "lines [" + capture.All() + "] ";
    KAt::ProcessStartup(0);
    if (last->started == fired) out += "started " + std::to_string(last->started);
    KAt::ProcessShutdown(0);
    last->~Last();
    return fired;
  });
  DebugCapture capture;  // and a lock without its implementation says so
  failing_new::FailNth(1);
  { KLock lock(KLock::kCriticalSection); }
  failing_new::FailNth(0);
  EXPECT_EQ(capture.All(),
            "KLock::SysInit - could not create the lock of kind 0; it does not lock\n");
}

}  // namespace
