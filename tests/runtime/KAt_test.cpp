// The start-up rings. Every scenario runs in a child process of its own: the
// rings are process-global and the first ProcessShutdown is final.
#include "vxkernel/runtime/KAt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "vxkernel/runtime/KContext.h"
#include "vxkernel/runtime/KThreadGlobals.h"
#include "vxkernel/text/KArray.h"

namespace {

std::string* gTrace = nullptr;  // the child's trace, written by the probes

// A process participant that records its start-up and shut-down.
class ProcProbe : public KAtProcess {
 public:
  ProcProbe(const char* name, unsigned long priority) : KAtProcess(priority), fName(name) {}

 protected:
  void Startup() override { *gTrace += "+" + fName + " "; }
  void Shutdown() override { *gTrace += "-" + fName + " "; }

 private:
  std::string fName;
};

// A per-thread participant in the usual pattern: Init makes the thread's
// object, Cleanup deletes it.
class ThreadProbe : public KThreadGlobals {
 public:
  explicit ThreadProbe(const char* name, Ring ring = 16, short count = 1)
      : KThreadGlobals(ring, count), fName(name) {}
  std::string* State() const { return static_cast<std::string*>(User1()); }
  void SetState(std::string* s) const { User1(s); }
  // The index of user slot n, found by a marker it holds for a moment.
  unsigned long Index(int n) const {
    auto put = [&](void* v) { n == 1 ? User1(v) : n == 2 ? User2(v) : User3(v); };
    void* saved = n == 1 ? User1() : n == 2 ? User2() : User3();
    void* marker = reinterpret_cast<void*>(0x5a5a);
    put(marker);
    unsigned long index = KContext::kSlots;
    for (unsigned long i = 0; i < KContext::kSlots; ++i)
      if (KContext::Get(i) == marker) index = i;
    put(saved);
    return index;
  }

 protected:
  void Init() override {
    *gTrace += "+" + fName + " ";
    User1(new std::string(fName));
  }
  void Cleanup() override {
    *gTrace += "-" + fName + " ";
    delete static_cast<std::string*>(User1());
  }

 private:
  std::string fName;
};

uintptr_t ThreadCount() { return reinterpret_cast<uintptr_t>(KContext::Get(KAt::gContextAlloc)); }

// Runs body in a child with a fresh trace and returns the trace.
std::string Trace(const std::function<void()>& body) {
  ChildResult r = RunInChild([&](std::string& out) {
    gTrace = &out;
    body();
  });
  EXPECT_EQ(r.status, 0);
  return r.output;
}

TEST(KAtRings, SamePriorityStartsInRegistrationOrderAndStopsInReverse) {
  std::string trace = Trace([] {
    new ProcProbe("a5", 5);
    new ProcProbe("b5", 5);
    new ProcProbe("c3", 3);
    new ProcProbe("d40", 40);
    new ProcProbe("never", 0);  // priority 0 takes part in nothing
    KAt::ProcessStartup(0);
    *gTrace += "| ";
    KAt::ProcessShutdown(0);
  });
  EXPECT_EQ(trace, "+c3 +a5 +b5 +d40 | -d40 -b5 -a5 -c3 ");
}

TEST(KAtRings, EmptyLevelsBetweenPrioritiesAreSkipped) {
  std::string trace = Trace([] {
    new ProcProbe("p8", 8);
    new ProcProbe("p32", 32);
    // The ring grows to the highest level; the ones between stay empty.
    if (KAt::gProcessRings->NumElements() < 32) *gTrace += "short ";
    if (KAt::gProcessRings->GetSelementAt(20) != nullptr) *gTrace += "level20 ";
    KAt::ProcessStartup(0);
    KAt::ProcessShutdown(0);
  });
  EXPECT_EQ(trace, "+p8 +p32 -p32 -p8 ");
}

TEST(KAtRings, NestedStartupCountsAndTheFirstShutdownIsFinal) {
  std::string trace = Trace([] {
    new ProcProbe("p", 10);
    new ThreadProbe("t");
    auto counts = [] {
      *gTrace += "counts " + std::to_string(KAt::gProcessCount) + "/" +
                 std::to_string(ThreadCount()) + " ";
    };
    KAt::ProcessStartup(1);
    KAt::ProcessStartup(1);
    counts();
    KAt::ProcessShutdown(1);
    counts();
    *gTrace += "late " + std::to_string(KAt::gTooLateForThreadShutdown) + " ";
    KAt::ProcessShutdown(1);  // both counts reach 0, yet nothing shuts down
    counts();
    KAt::ProcessShutdown(1);  // unmatched: only counts, and they stay at 0
    *gTrace += "end " + std::to_string(KAt::gProcessCount);
  });
  EXPECT_EQ(trace, "+p +t counts 2/2 counts 1/1 late 1 counts 0/0 end 0");
}

TEST(KAtRings, ThreadRingRunsOncePerThreadAndContextIsFreedLast) {
  std::string trace = Trace([] {
    static ThreadProbe a("a"), b("b");
    KAt::ProcessStartup(1);
    *gTrace += "| ";
    std::thread worker([] {
      KAt::ThreadShutdown();  // never started: nothing happens
      bool noContext = KContext::Get(3) == nullptr && ThreadCount() == 0;
      KAt::ThreadStartup();
      KAt::ThreadStartup();  // nested: only counts
      bool own = a.State() != nullptr && *a.State() == "a" && ThreadCount() == 2;
      KAt::ThreadShutdown();
      bool still = a.State() != nullptr;
      KAt::ThreadShutdown();
      bool gone = KContext::Get(KAt::gContextAlloc) == nullptr && a.State() == nullptr;
      *gTrace += std::string(noContext ? "fresh " : "ctx? ") + (own ? "own " : "own? ") +
                 (still ? "kept " : "kept? ") + (gone ? "freed " : "freed? ");
    });
    worker.join();
    *gTrace += "| ";
    KAt::ProcessShutdown(1);
  });
  EXPECT_EQ(trace, "+a +b | +a +b -b -a fresh own kept freed | -b -a ");
}

TEST(KAtRings, DeletedParticipantIsNotShutDown) {
  std::string trace = Trace([] {
    new ProcProbe("keep", 7);
    ProcProbe* gone = new ProcProbe("gone", 7);
    KAt::ProcessStartup(0);
    // Only the address is looked up; volatile keeps the compiler from
    // treating that as a use of the freed object.
    volatile uintptr_t address = reinterpret_cast<uintptr_t>(gone);
    delete gone;
    bool recorded = KAt::gDestructedPkgs->FindSelement(reinterpret_cast<void*>(address)) != 0;
    *gTrace += recorded ? "recorded " : "lost ";
    KAt::ProcessShutdown(0);
  });
  EXPECT_EQ(trace, "+keep +gone recorded -keep ");
}

TEST(KAtRings, ParticipantRegisteredDuringStartupStartsInTheSameRun) {
  struct Spawner : KAtProcess {
    Spawner() : KAtProcess(4) {}
    void Startup() override {
      *gTrace += "+spawner ";
      new ProcProbe("late9", 9);
      new ProcProbe("late2", 2);  // below the running level: not started now
    }
    void Shutdown() override { *gTrace += "-spawner "; }
  };
  std::string trace = Trace([] {
    new Spawner();
    KAt::ProcessStartup(0);
    KAt::ProcessShutdown(0);
  });
  EXPECT_EQ(trace, "+spawner +late9 -late9 -spawner -late2 ");
}

TEST(KAtRings, ThreadShutdownAfterTheFirstProcessShutdownOnlyCounts) {
  std::string trace = Trace([] {
    static ThreadProbe t("t");
    KAt::ProcessStartup(0);
    KAt::ThreadStartup();
    KAt::ProcessShutdown(0);
    KAt::ThreadShutdown();
    *gTrace += "count " + std::to_string(ThreadCount());
  });
  // The context stays (nothing shut it down), its count dropped to 0.
  EXPECT_EQ(trace, "+t count 0");
}

TEST(KAtRings, ConcurrentRegistrationAndThreadStartsAreSerialised) {
  // Participants come and go while other threads start and stop; each count is its own.
  struct Quiet : KAtProcess {
    explicit Quiet(unsigned long p) : KAtProcess(p) {}
    void Startup() override {}
    void Shutdown() override {}
  };
  ChildResult r = RunInChild([](std::string& out) {
    std::string sink;
    gTrace = &sink;  // the probe's own trace is not looked at here
    static ThreadProbe t("t");
    KAt::ProcessStartup(0);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int n = 0; n < 4; ++n) {
      threads.emplace_back([&wrong, n] {
        for (int i = 0; i < 200; ++i) {
          if (n % 2 == 0) {
            delete new Quiet(1 + static_cast<unsigned long>(i % 50));
          } else {
            KAt::ThreadStartup();
            if (ThreadCount() != 1 || t.State() == nullptr) ++wrong;
            KAt::ThreadShutdown();
          }
        }
      });
    }
    for (std::thread& th : threads) th.join();
    KAt::ProcessShutdown(0);
    out = wrong == 0 ? "consistent" : "wrong";
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "consistent");
}

TEST(KAtContexts, CreatedContextCarriesStateAcrossThreads) {
  std::string trace = Trace([] {
    static ThreadProbe t("t");
    KAt::ProcessStartup(1);
    std::string* mine = t.State();
    void** myContext = static_cast<void**>(KAt::UseThreadStartup(nullptr));
    KAt::UseThreadStartup(myContext);

    void* client = KAt::CreateThreadStartup();
    bool untouched = t.State() == mine && ThreadCount() == 1 &&
                     KAt::UseThreadStartup(myContext) == myContext;
    *gTrace += std::string(untouched ? "caller-kept " : "caller-changed ") +
               (client != myContext ? "new " : "same ");

    // A pool thread serves the client, restoring its own (empty) context.
    std::thread first([&] {
      void* previous = KAt::UseThreadStartup(client);
      t.State()->append("+first");
      if (ThreadCount() != 1) *gTrace += "count? ";
      KAt::UseThreadStartup(previous);
    });
    first.join();
    std::thread second([&] {
      void* previous = KAt::UseThreadStartup(client);
      *gTrace += *t.State() + " ";
      KAt::UseThreadStartup(previous);
      KAt::DestroyThreadStartup(client);  // works from any thread
      *gTrace += KContext::Get(0) == nullptr ? "no-ctx " : "ctx? ";
    });
    second.join();
    *gTrace += (t.State() == mine ? "mine " : "lost ");
    KAt::ProcessShutdown(1);
  });
  EXPECT_EQ(trace, "+t +t caller-kept new t+first -t no-ctx mine -t ");
}

TEST(KAtContexts, ThreadGlobalsAllocateSlotsFromTheHighestDown) {
  std::string trace = Trace([] {
    static ThreadProbe three("three", 16, 3);
    KAt::ThreadStartup();
    unsigned long u1 = three.Index(1), u2 = three.Index(2), u3 = three.Index(3);
    *gTrace += (u3 < u2 && u2 < u1 && u1 == u3 + 2) ? "ordered" : "unordered";
    KAt::ThreadShutdown();
  });
  EXPECT_EQ(trace, "+three ordered-three ");
}

TEST(KAtContexts, NoContextReadsNullAndDropsStores) {
  std::string trace = Trace([] {
    KContext::Set(3, reinterpret_cast<void*>(1));
    *gTrace += KContext::Get(3) == nullptr ? "null" : "value";
  });
  EXPECT_EQ(trace, "null");
}

TEST(KAtTrace, RoutineSeesEveryCallInOrder) {
  std::string trace = Trace([] {
    static ProcProbe p("p", 3);
    KAt::SetTraceRoutine(
        [](const KAt* who, bool startup, void* datum) {
          // Other modules' participants come and go; watch the probe and the
          // context package only.
          if (who != datum && dynamic_cast<const KContextPkg*>(who) == nullptr) return;
          *gTrace += std::string(startup ? "S" : "D") + std::to_string(who->Priority()) + " ";
        },
        &p);
    KAt::ProcessStartup(1);
    KAt::ProcessShutdown(1);
  });
  // The library's own context package sits at priority 1 of the thread ring.
  EXPECT_EQ(trace, "S3 +p S1 D1 D3 -p ");
}

}  // namespace
