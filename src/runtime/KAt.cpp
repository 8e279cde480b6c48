// The start-up and shut-down rings.
#include "vxkernel/runtime/KAt.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>

#include "base/run_reported.h"
#include "vxkernel/runtime/KContext.h"
#include "vxkernel/text/KArray.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

using vxk_internal::DescribeCurrentException;

KArray* KAt::gProcessRings = nullptr;
KArray* KAt::gThreadRings = nullptr;
KLock* KAt::gMonitor = nullptr;
uint32_t KAt::gProcessCount = 0;
KArray* KAt::gDestructedPkgs = nullptr;
KLock* KAt::gDestructedPkgsMonitor = nullptr;
uint8_t KAt::gTooLateForThreadShutdown = 0;
// gContextAlloc is defined with the package table, where its slot is
// allocated in table order.

namespace {

// Participants are constructed by static initialisers in any order, so both
// monitors are made on first use under a guard of their own (double check).
std::atomic<bool> gMonitorMade{false};
std::atomic<bool> gDestructedMade{false};

// Both monitors throw std::bad_alloc when they cannot be made; nothing is
// set then, and the next call tries again.
KLock* Monitor() {
  if (!gMonitorMade.load(std::memory_order_acquire)) {
    static KLock guard(KLock::kCriticalSection);
    KLockGuard made(guard);
    if (!gMonitorMade.load(std::memory_order_relaxed)) {
      KAt::gMonitor = new KLock(KLock::kCriticalSection);
      gMonitorMade.store(true, std::memory_order_release);
    }
  }
  return KAt::gMonitor;
}

KAt::TraceRoutine gTraceRoutine VXK_GUARDED_BY(Monitor()) = nullptr;
void* gTraceDatum VXK_GUARDED_BY(Monitor()) = nullptr;

// Reports entry to the trace routine, if any. Called by StartupRings and
// ShutdownRings, whose callers hold the monitor: their declarations in KAt.h
// cannot name it, so the analysis cannot see that hold.
void Trace(KAt* entry, bool startup) VXK_NO_THREAD_SAFETY_ANALYSIS {
  if (gTraceRoutine) gTraceRoutine(entry, startup, gTraceDatum);
}

KLock* DestructedMonitor() {
  if (!gDestructedMade.load(std::memory_order_acquire)) {
    static KLock guard(KLock::kCriticalSection);
    KLockGuard made(guard);
    if (!gDestructedMade.load(std::memory_order_relaxed)) {
      auto monitor = std::make_unique<KLock>(KLock::kCriticalSection);
      auto destructed = std::make_unique<KArray>();
      KAt::gDestructedPkgsMonitor = monitor.release();
      KAt::gDestructedPkgs = destructed.release();
      gDestructedMade.store(true, std::memory_order_release);
    }
  }
  return KAt::gDestructedPkgsMonitor;
}

const char* RingName(bool process) { return process ? "process" : "thread"; }

// The thread-start count lives in the calling thread's context: 0 without
// one, and a store without one is dropped.
uintptr_t ThreadCount() { return reinterpret_cast<uintptr_t>(KContext::Get(KAt::gContextAlloc)); }
void SetThreadCount(uintptr_t count) {
  KContext::Set(KAt::gContextAlloc, reinterpret_cast<void*>(count));
}

KArray* Level(KArray* ring, unsigned long priority) {
  return static_cast<KArray*>(ring->GetSelementAt(priority));
}

// A participant's exception on its way out of a lifecycle call. The calls
// report their own failures (no memory for a monitor), but what a
// participant's Startup or Shutdown throws is the host's: it passes through
// unchanged.
struct ParticipantThrew {
  std::exception_ptr fThrown;
};

template <class Participant>
void CallParticipant(Participant call) {
  try {
    call();
  } catch (...) {
    throw ParticipantThrew{std::current_exception()};
  }
}

// Runs a lifecycle call's body: its own failures are reported as one line
// under operation; a participant's exception leaves the call after the
// guards of the body (the monitors) have been released.
template <class Body>
void LifecycleCall(const char* operation, Body body) {
  try {
    body();
  } catch (const ParticipantThrew& t) {
    std::rethrow_exception(t.fThrown);
  } catch (...) {
    vxk_internal::DebugLine(operation, DescribeCurrentException());
  }
}

// Puts the caller's context back however the call ends.
class ContextRestorer {
 public:
  explicit ContextRestorer(void* saved) : fSaved(saved) {}
  ContextRestorer(const ContextRestorer&) = delete;
  ContextRestorer& operator=(const ContextRestorer&) = delete;
  ~ContextRestorer() { KAt::UseThreadStartup(fSaved); }

 private:
  void* fSaved;
};

}  // namespace

// A lifecycle call lets no exception of its own out: a call that cannot get
// the ring monitor (no memory to make it) is reported and changes no count,
// so the host's later calls still pair up. What a participant's Startup or
// Shutdown throws is not caught: it ends the ring run and the call, with
// every monitor released on the way out, and the counts as the call had
// left them by then. The library's own participants throw nothing.

KAt::KAt(unsigned long priority, unsigned char process)
    : fProcess(process), fPriority(static_cast<uint32_t>(priority)) {
  Add(process, priority, this);
}

KAt::~KAt() {
  try {
    KLockGuard destroyed(DestructedMonitor());
    gDestructedPkgs->AddSelement(this);
  } catch (...) {
    vxk_internal::DebugLine("KAt::~KAt", "could not record the participant at priority ", fPriority,
                            " of the ", RingName(fProcess),
                            " ring as destroyed: ", DescribeCurrentException());
  }
  Remove(fProcess, this);
}

// Hand-over forms of the two monitors, for code that must hold one across
// calls it cannot scope; the library's own lock sites use KLockGuard. The
// monitors are not named outside this file, so the declarations cannot say
// which lock they take, and the thread-safety analysis is off for the four.
void KAt::ThreadRingLock() VXK_NO_THREAD_SAFETY_ANALYSIS { Monitor()->Lock(KLock::kWrite, KLock::kInfinite); }
void KAt::ThreadRingUnlock() VXK_NO_THREAD_SAFETY_ANALYSIS { Monitor()->Unlock(KLock::kWrite); }
void KAt::DestructedPkgsLock() VXK_NO_THREAD_SAFETY_ANALYSIS { DestructedMonitor()->Lock(KLock::kWrite, KLock::kInfinite); }
void KAt::DestructedPkgsUnlock() VXK_NO_THREAD_SAFETY_ANALYSIS { DestructedMonitor()->Unlock(KLock::kWrite); }

// A participant that cannot be registered stays out of its ring: it is
// never started nor shut down.
unsigned char KAt::Add(unsigned char process, unsigned long priority, KAt* entry) {
  try {
    KLockGuard ring(Monitor());
    if (gProcessRings == nullptr) gProcessRings = new KArray();
    if (gThreadRings == nullptr) gThreadRings = new KArray();
    KArray* rings = process ? gProcessRings : gThreadRings;
    if (priority != 0) {
      // Putting past the end grows the ring; the levels in between stay null.
      KArray* level = priority <= rings->NumElements() ? Level(rings, priority) : nullptr;
      if (level == nullptr) {
        auto made = std::make_unique<KArray>();
        rings->PutSelementAt(made.get(), priority);
        level = made.release();
      }
      level->AddSelement(entry);
    }
  } catch (...) {
    vxk_internal::DebugLine("KAt::Add", "could not register the participant at priority ", priority,
                            " of the ", RingName(process), " ring: ", DescribeCurrentException());
  }
  return 1;
}

void KAt::Remove(unsigned char process, KAt* entry) {
  try {
    KLockGuard ring(Monitor());
    KArray* rings = process ? gProcessRings : gThreadRings;
    if (rings != nullptr) {
      for (unsigned long i = 1; i <= rings->NumElements(); ++i) {
        if (KArray* level = Level(rings, i)) level->RemoveSelement(entry);
      }
    }
  } catch (...) {
    vxk_internal::DebugLine("KAt::Remove", DescribeCurrentException());
  }
}

void KAt::SetTraceRoutine(TraceRoutine routine, void* datum) {
  try {
    KLockGuard ring(Monitor());
    gTraceRoutine = routine;
    gTraceDatum = datum;
  } catch (...) {
    vxk_internal::DebugLine("KAt::SetTraceRoutine", DescribeCurrentException());
  }
}

// Callers hold gMonitor. Lengths are read afresh on every step: a Startup may
// register further participants, which then start in the same run.
void KAt::StartupRings(KArray* ring) {
  if (ring == nullptr) return;
  for (unsigned long i = 1; i <= ring->NumElements(); ++i) {
    KArray* level = Level(ring, i);
    if (level == nullptr) continue;
    for (unsigned long j = 1; j <= level->NumElements(); ++j) {
      KAt* entry = static_cast<KAt*>(level->GetSelementAt(j));
      CallParticipant([entry] {
        Trace(entry, true);
        entry->Startup();
      });
    }
  }
}

// Callers hold gMonitor. A participant whose destructor already ran is never
// called, even if it has not yet been taken out of its level.
void KAt::ShutdownRings(KArray* ring) {
  if (ring == nullptr) return;
  for (unsigned long i = ring->NumElements(); i >= 1 && !gTooLateForThreadShutdown; --i) {
    KArray* level = Level(ring, i);
    if (level == nullptr) continue;
    for (unsigned long j = level->NumElements(); j >= 1 && !gTooLateForThreadShutdown; --j) {
      // A Shutdown may have removed participants of this level.
      if (j > level->NumElements()) continue;
      KAt* entry = static_cast<KAt*>(level->GetSelementAt(j));
      KLockGuard destroyed(DestructedMonitor());
      if (!gTooLateForThreadShutdown && gDestructedPkgs->FindSelement(entry) == 0) {
        CallParticipant([entry] {
          Trace(entry, false);
          entry->Shutdown();
        });
      }
    }
  }
}

void KAt::ProcessStartup(unsigned char alsoThread) {
  LifecycleCall("KAt::ProcessStartup", [alsoThread] {
    KLockGuard ring(Monitor());
    if (gProcessCount++ == 0) StartupRings(gProcessRings);
    if (alsoThread) {
      uintptr_t c = ThreadCount();
      // On a thread's first start the ring creates the context, so the store
      // below lands in the context the ring has just made.
      if (c == 0) StartupRings(gThreadRings);
      SetThreadCount(c + 1);
    }
  });
}

void KAt::ProcessShutdown(unsigned char alsoThread) {
  LifecycleCall("KAt::ProcessShutdown", [alsoThread] {
    KLockGuard ring(Monitor());
    if (alsoThread) {
      uintptr_t c = ThreadCount();
      if (c != 0) {
        if (c == 1 && !gTooLateForThreadShutdown) ShutdownRings(gThreadRings);
        SetThreadCount(c - 1);  // dropped when the ring has freed the context
      }
    }
    if (gProcessCount != 0 && --gProcessCount == 0) ShutdownRings(gProcessRings);
    gTooLateForThreadShutdown = 1;
  });
}

void KAt::ThreadStartup() {
  LifecycleCall("KAt::ThreadStartup", [] {
    uintptr_t c = ThreadCount();
    if (c == 0) {
      KLockGuard ring(Monitor());
      StartupRings(gThreadRings);
    }
    SetThreadCount(c + 1);
  });
}

void KAt::ThreadShutdown() {
  LifecycleCall("KAt::ThreadShutdown", [] {
    uintptr_t c = ThreadCount();
    if (c == 0) return;
    if (c == 1) {
      KLockGuard ring(Monitor());
      if (!gTooLateForThreadShutdown) ShutdownRings(gThreadRings);
    }
    SetThreadCount(c - 1);
  });
}

void* KAt::UseThreadStartup(void* context) {
  void** previous = KContext::SysGet();
  KContext::SysSet(static_cast<void**>(context));
  return previous;
}

// Null when the context package could not make the context. When a
// participant throws, the context being made is lost with the exception;
// the caller's own is put back either way.
void* KAt::CreateThreadStartup() {
  ContextRestorer restore(UseThreadStartup(nullptr));
  LifecycleCall("KAt::CreateThreadStartup", [] {
    {
      KLockGuard ring(Monitor());
      StartupRings(gThreadRings);
    }
    SetThreadCount(1);
  });
  return KContext::SysGet();
}

void KAt::DestroyThreadStartup(void* context) {
  ContextRestorer restore(UseThreadStartup(context));
  ThreadShutdown();
}
