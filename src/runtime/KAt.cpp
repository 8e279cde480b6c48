// The start-up and shut-down rings.
#include "vxkernel/runtime/KAt.h"

#include <atomic>
#include <cstdint>

#include "vxkernel/runtime/KContext.h"
#include "vxkernel/text/KArray.h"
#include "vxkernel/threads/KLock.h"

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

KAt::TraceRoutine gTraceRoutine = nullptr;  // guarded by gMonitor
void* gTraceDatum = nullptr;                // guarded by gMonitor

KLock* Monitor() {
  if (!gMonitorMade.load(std::memory_order_acquire)) {
    static KLock guard(KLock::kCriticalSection);
    guard.Lock(KLock::kWrite, KLock::kInfinite);
    if (!gMonitorMade.load(std::memory_order_relaxed)) {
      KAt::gMonitor = new KLock(KLock::kCriticalSection);
      gMonitorMade.store(true, std::memory_order_release);
    }
    guard.Unlock(KLock::kWrite);
  }
  return KAt::gMonitor;
}

KLock* DestructedMonitor() {
  if (!gDestructedMade.load(std::memory_order_acquire)) {
    static KLock guard(KLock::kCriticalSection);
    guard.Lock(KLock::kWrite, KLock::kInfinite);
    if (!gDestructedMade.load(std::memory_order_relaxed)) {
      KAt::gDestructedPkgsMonitor = new KLock(KLock::kCriticalSection);
      KAt::gDestructedPkgs = new KArray();
      gDestructedMade.store(true, std::memory_order_release);
    }
    guard.Unlock(KLock::kWrite);
  }
  return KAt::gDestructedPkgsMonitor;
}

// The thread-start count lives in the calling thread's context: 0 without
// one, and a store without one is dropped.
uintptr_t ThreadCount() {
  return reinterpret_cast<uintptr_t>(KContext::Get(KAt::gContextAlloc));
}
void SetThreadCount(uintptr_t count) {
  KContext::Set(KAt::gContextAlloc, reinterpret_cast<void*>(count));
}

KArray* Level(KArray* ring, unsigned long priority) {
  return static_cast<KArray*>(ring->GetSelementAt(priority));
}

}  // namespace

KAt::KAt(unsigned long priority, unsigned char process)
    : fProcess(process), fPriority(static_cast<uint32_t>(priority)) {
  Add(process, priority, this);
}

KAt::~KAt() {
  DestructedPkgsLock();
  gDestructedPkgs->AddSelement(this);
  DestructedPkgsUnlock();
  Remove(fProcess, this);
}

void KAt::ThreadRingLock() { Monitor()->Lock(KLock::kWrite, KLock::kInfinite); }
void KAt::ThreadRingUnlock() { Monitor()->Unlock(KLock::kWrite); }
void KAt::DestructedPkgsLock() { DestructedMonitor()->Lock(KLock::kWrite, KLock::kInfinite); }
void KAt::DestructedPkgsUnlock() { DestructedMonitor()->Unlock(KLock::kWrite); }

unsigned char KAt::Add(unsigned char process, unsigned long priority, KAt* entry) {
  ThreadRingLock();
  if (gProcessRings == nullptr) gProcessRings = new KArray();
  if (gThreadRings == nullptr) gThreadRings = new KArray();
  KArray* ring = process ? gProcessRings : gThreadRings;
  if (priority != 0) {
    // Putting past the end grows the ring; the levels in between stay null.
    KArray* level = priority <= ring->NumElements() ? Level(ring, priority) : nullptr;
    if (level == nullptr) {
      level = new KArray();
      ring->PutSelementAt(level, priority);
    }
    level->AddSelement(entry);
  }
  ThreadRingUnlock();
  return 1;
}

void KAt::Remove(unsigned char process, KAt* entry) {
  ThreadRingLock();
  KArray* ring = process ? gProcessRings : gThreadRings;
  if (ring != nullptr) {
    for (unsigned long i = 1; i <= ring->NumElements(); ++i) {
      if (KArray* level = Level(ring, i)) level->RemoveSelement(entry);
    }
  }
  ThreadRingUnlock();
}

void KAt::SetTraceRoutine(TraceRoutine routine, void* datum) {
  ThreadRingLock();
  gTraceRoutine = routine;
  gTraceDatum = datum;
  ThreadRingUnlock();
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
      if (gTraceRoutine) gTraceRoutine(entry, true, gTraceDatum);
      entry->Startup();
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
      DestructedPkgsLock();
      if (!gTooLateForThreadShutdown && gDestructedPkgs->FindSelement(entry) == 0) {
        if (gTraceRoutine) gTraceRoutine(entry, false, gTraceDatum);
        entry->Shutdown();
      }
      DestructedPkgsUnlock();
    }
  }
}

void KAt::ProcessStartup(unsigned char alsoThread) {
  ThreadRingLock();
  if (gProcessCount++ == 0) StartupRings(gProcessRings);
  if (alsoThread) {
    uintptr_t c = ThreadCount();
    // On a thread's first start the ring creates the context, so the store
    // below lands in the context the ring has just made.
    if (c == 0) StartupRings(gThreadRings);
    SetThreadCount(c + 1);
  }
  ThreadRingUnlock();
}

void KAt::ProcessShutdown(unsigned char alsoThread) {
  ThreadRingLock();
  if (alsoThread) {
    uintptr_t c = ThreadCount();
    if (c != 0) {
      if (c == 1 && !gTooLateForThreadShutdown) ShutdownRings(gThreadRings);
      SetThreadCount(c - 1);  // dropped when the ring has freed the context
    }
  }
  if (gProcessCount != 0 && --gProcessCount == 0) ShutdownRings(gProcessRings);
  gTooLateForThreadShutdown = 1;
  ThreadRingUnlock();
}

void KAt::ThreadStartup() {
  uintptr_t c = ThreadCount();
  if (c == 0) {
    ThreadRingLock();
    StartupRings(gThreadRings);
    ThreadRingUnlock();
  }
  SetThreadCount(c + 1);
}

void KAt::ThreadShutdown() {
  uintptr_t c = ThreadCount();
  if (c == 0) return;
  if (c == 1) {
    ThreadRingLock();
    if (!gTooLateForThreadShutdown) ShutdownRings(gThreadRings);
    ThreadRingUnlock();
  }
  SetThreadCount(c - 1);
}

void* KAt::UseThreadStartup(void* context) {
  void** previous = KContext::SysGet();
  KContext::SysSet(static_cast<void**>(context));
  return previous;
}

void* KAt::CreateThreadStartup() {
  void* saved = UseThreadStartup(nullptr);
  ThreadRingLock();
  StartupRings(gThreadRings);
  ThreadRingUnlock();
  SetThreadCount(1);
  return UseThreadStartup(saved);
}

void KAt::DestroyThreadStartup(void* context) {
  void* previous = UseThreadStartup(context);
  ThreadShutdown();
  UseThreadStartup(previous);
}
