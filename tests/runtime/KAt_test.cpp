// The start-up rings, each scenario in a child: the rings are process-global, the first
// ProcessShutdown is final.
#include "vxkernel/runtime/KAt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "support/child_process.h"
#include "vxkernel/runtime/KContext.h"
#include "vxkernel/runtime/KThreadGlobals.h"

namespace {

std::string* gTrace = nullptr;  // the child's trace, written by the probes

void Note(const std::string& text) { *gTrace += text + " "; }

// A process participant that records its start-up and shut-down; a spawner
// registers two more as it starts, one above the running level (started in
// the same run) and one below it (not started now, yet shut down).
struct ProcProbe : KAtProcess {
  ProcProbe(const char* name, unsigned long priority, bool spawner = false)
      : KAtProcess(priority), fName(name), fSpawner(spawner) {}
  void Startup() override {
    Note("+" + fName);
    if (fSpawner) new ProcProbe("late9", 9), new ProcProbe("late2", 2);
  }
  void Shutdown() override { Note("-" + fName); }
  std::string fName;
  bool fSpawner;
};

// A per-thread participant: Init makes the thread's object, Cleanup deletes it.
class ThreadProbe : public KThreadGlobals {
 public:
  explicit ThreadProbe(const char* name, short slots = 1) : KThreadGlobals(16, slots), fName(name) {}
  std::string* State() const { return static_cast<std::string*>(User1()); }
  std::string Slots() const {  // where markers in User1 to User3 land, by context index
    void* state = User1();
    int marks[3];
    User1(&marks[0]), User2(&marks[1]), User3(&marks[2]);
    std::string order;
    for (unsigned long i = 0; i < KContext::kSlots; ++i)
      for (int k = 0; k < 3; ++k) order += KContext::Get(i) == &marks[k] ? std::to_string(k + 1) : "";
    User1(state);
    return order;
  }

 protected:
  void Init() override { Note("+" + fName); User1(new std::string(fName)); }
  void Cleanup() override { Note("-" + fName); delete State(); }

 private:
  std::string fName;
};

uintptr_t ThreadCount() { return reinterpret_cast<uintptr_t>(KContext::Get(KAt::gContextAlloc)); }

std::string Trace(const std::function<void()>& body) {  // run in a child
  ChildResult r = RunInChild([&](std::string& out) { gTrace = &out, body(); });
  return r.status == 0 ? r.output : r.output + "[exit " + std::to_string(r.status) + "]";
}

TEST(KAtRings, PrioritiesStartUpwardInRegistrationOrderAndStopInReverse) {
  EXPECT_EQ(Trace([] {
              new ProcProbe("a5", 5), new ProcProbe("b5", 5), new ProcProbe("c3", 3);
              new ProcProbe("d40", 40);  // the levels between stay empty
              new ProcProbe("never", 0);  // priority 0 takes part in nothing
              ProcProbe* gone = new ProcProbe("gone", 7);
              new ProcProbe("spawner", 4, true);
              KAt::ProcessStartup(0);
              delete gone;  // a deleted participant is not shut down
              KAt::ProcessShutdown(0);
            }),
            "+c3 +spawner +a5 +b5 +gone +late9 +d40 -d40 -late9 -b5 -a5 -spawner -c3 -late2 ");
}

// The thread ring runs once per thread, the context is freed last, User1 to User3 take the
// highest free slots downwards. The first ProcessShutdown is final: later ones only count.
TEST(KAtRings, NestedCountsThreadRingsAndTheFirstShutdownIsFinal) {
  EXPECT_EQ(Trace([] {
              new ProcProbe("p", 10);
              static ThreadProbe a("a"), b("b", 3);
              auto counts = [] {
                Note(std::to_string(KAt::gProcessCount) + "/" + std::to_string(ThreadCount()));
              };
              KAt::ProcessStartup(1);
              KAt::ProcessStartup(1);
              counts();
              std::thread([] {
                KAt::ThreadShutdown();  // never started: nothing happens
                KContext::Set(3, reinterpret_cast<void*>(1));  // no context: dropped
                Note(KContext::Get(3) == nullptr && ThreadCount() == 0 ? "fresh" : "context?");
                KAt::ThreadStartup();
                KAt::ThreadStartup();  // nested: only counts
                Note(*a.State() + std::to_string(ThreadCount()) + " " + b.Slots());
                KAt::ThreadShutdown();
                Note(a.State() != nullptr ? "kept" : "lost");
                KAt::ThreadShutdown();
                Note(KContext::Get(KAt::gContextAlloc) || a.State() ? "kept?" : "freed");
              }).join();
              KAt::ProcessShutdown(1);
              counts();
              KAt::ProcessShutdown(1);  // both counts reach 0, yet nothing shuts down
              counts();
              KAt::ProcessShutdown(1);  // unmatched: only counts, and they stay at 0
              Note("late " + std::to_string(KAt::gTooLateForThreadShutdown));
              KAt::ThreadStartup();  // too late: a thread's shut-down only counts
              KAt::ThreadShutdown();
              counts();
            }),
            "+p +a +b 2/2 fresh +a +b a2 321 kept -b -a freed 1/1 0/0 late 1 +a +b 0/0 ");
}

// A participant's exception leaves the lifecycle call unchanged: the ring run stops there, the
// ring monitor is free for another thread, and a client context's caller gets its own back.
TEST(KAtRings, ParticipantExceptionsLeaveTheCallAndReleaseTheMonitor) {
  struct Thrower : ProcProbe {
    using ProcProbe::ProcProbe;
    void Startup() override { ProcProbe::Startup(), throw std::runtime_error("up"); }
    void Shutdown() override { ProcProbe::Shutdown(), throw std::runtime_error("down"); }
  };
  struct ThreadThrower : ThreadProbe {
    using ThreadProbe::ThreadProbe;
    void Init() override { throw std::runtime_error("init"); }
  };
  auto call = [](const std::function<void()>& lifecycle) {
    try {
      lifecycle();
      Note("returned");
    } catch (const std::runtime_error& e) {
      Note(std::string("threw ") + e.what());
    }
  };
  EXPECT_EQ(Trace([&] {
              new ProcProbe("a", 5), new Thrower("t", 6), new ProcProbe("b", 7);
              call([] { KAt::ProcessStartup(0); });
              static ThreadProbe th("th");
              std::thread([] { KAt::ThreadStartup(), KAt::ThreadShutdown(); }).join();
              call([] { KAt::ProcessShutdown(0); });
              KAt::ThreadStartup();
              static ThreadThrower bad("bad");
              void* mine = KAt::UseThreadStartup(nullptr);
              KAt::UseThreadStartup(mine);
              call([] { KAt::CreateThreadStartup(); });
              Note(KAt::UseThreadStartup(mine) == mine ? "own context" : "context lost");
            }),
            "+a +t threw up +th -th -b -t threw down +th +th threw init own context ");
}

// A client's context (the caller's stays its own) serves pool threads in
// turn and is destroyed from any of them.
TEST(KAtContexts, CreatedContextCarriesStateAcrossThreadsAndStartsAreSerialised) {
  EXPECT_EQ(Trace([] {
              static ThreadProbe t("t");
              KAt::ProcessStartup(1);
              std::string* mine = t.State();
              void* client = KAt::CreateThreadStartup();
              Note(t.State() == mine && ThreadCount() == 1 ? "caller-kept" : "caller-changed");
              std::thread([&] {
                void* previous = KAt::UseThreadStartup(client);
                t.State()->append("+first" + std::to_string(ThreadCount()));
                KAt::UseThreadStartup(previous);
              }).join();
              std::thread([&] {
                void* previous = KAt::UseThreadStartup(client);
                Note(*t.State());
                KAt::UseThreadStartup(previous);
                KAt::DestroyThreadStartup(client);
                Note(KContext::Get(0) == nullptr ? "no-context" : "context?");
              }).join();
              Note(t.State() == mine ? "mine" : "lost");
              // Registering and thread start-ups are serialised; each thread counts its own.
              std::string sink;  // the probes' own notes are not looked at here
              std::string* trace = std::exchange(gTrace, &sink);
              std::atomic<int> wrong{0};
              auto registering = [] {
                for (unsigned long i = 0; i < 200; ++i) delete new ProcProbe("q", 1 + i % 50);
              };
              auto starting = [&wrong] {
                for (int i = 0; i < 200; ++i) {
                  KAt::ThreadStartup();
                  wrong += ThreadCount() != 1 || t.State() == nullptr;
                  KAt::ThreadShutdown();
                }
              };
              std::thread a(registering), b(starting), c(registering), d(starting);
              a.join(), b.join(), c.join(), d.join();
              gTrace = trace;
              Note("wrong " + std::to_string(wrong));
              KAt::ProcessShutdown(1);
            }),
            "+t +t caller-kept t+first1 -t no-context mine wrong 0 -t ");
}

}  // namespace
