/// \file
/// Start-up and shut-down rings of the library and its host.
///
/// Every participant is a small object derived from KAt; its constructor
/// registers it in the process ring or the thread ring at a priority. The host
/// drives the rings: start-up runs a ring from the lowest priority upward (each
/// priority in registration order), shut-down runs it in exact reverse.
///
/// Ownership: participants are owned by whoever made them (almost always
/// static objects); the rings only point at them. Thread rule: registration,
/// removal and every run of a ring are serialised by the ring monitor gMonitor
/// (a re-entrant lock), taken before gDestructedPkgsMonitor.
#ifndef VXKERNEL_RUNTIME_KAT_H_
#define VXKERNEL_RUNTIME_KAT_H_

#include <cstdint>

#include "vxkernel/export.h"

class KArray;
class KLock;

/// Base of every start-up/shut-down participant (see the file comment): the
/// constructor registers the object in its ring, the destructor removes it.
/// Not copyable. The host uses the static members; subclasses implement
/// Startup and Shutdown.
class VXKERNEL_EXPORT KAt {
 public:
  // ===== What the host calls =====
  // None lets an exception of its own out (no memory for the ring monitor:
  // one line, no count changed). A participant's exception is not caught:
  // it ends the ring run and leaves the call, the monitors released and the
  // counts as the call had changed them before that participant ran.

  /// Counts a process start-up; the first one runs the process ring. With
  /// alsoThread, also starts the calling thread (see ThreadStartup).
  static void ProcessStartup(unsigned char alsoThread);
  /// Matches a ProcessStartup; the last one runs the process ring's shut-down.
  /// The first call of all, matched or not, ends every later shut-down work in
  /// this process (gTooLateForThreadShutdown).
  static void ProcessShutdown(unsigned char alsoThread);
  /// Counts a start-up of the calling thread; the first one runs the thread
  /// ring, which creates the thread's context.
  static void ThreadStartup();
  /// Matches a ThreadStartup; the last one runs the thread ring's shut-down,
  /// which frees the thread's context. Does nothing on a thread never started.
  static void ThreadShutdown();

  /// Runs the thread ring into a fresh context (thread-start count 1) without
  /// disturbing the caller's own context, and returns the new one.
  static void* CreateThreadStartup();
  /// Installs context on the calling thread and returns the one it replaces.
  static void* UseThreadStartup(void* context);
  /// Shuts a context made by CreateThreadStartup down and frees it; the
  /// caller's own context is untouched.
  static void DestroyThreadStartup(void* context);

  // ===== Observation =====

  /// Called for every Startup and Shutdown a ring run makes, under the ring
  /// monitor, just before the call. For diagnostics and tests; null switches
  /// the observation off.
  typedef void (*TraceRoutine)(const KAt* participant, bool startup, void* datum);
  /// Installs routine with its datum for every later ring run, replacing the
  /// previous pair; null routine stops the tracing. When the ring monitor
  /// cannot be made (no memory) writes one debug line and changes nothing.
  static void SetTraceRoutine(TraceRoutine routine, void* datum);

  /// 1 for a participant of the process ring, 0 for one of the thread ring.
  unsigned char IsProcess() const { return fProcess; }
  /// The level given at construction (truncated to 32 bits); 0 takes part in
  /// nothing.
  unsigned long Priority() const { return fPriority; }

  // ===== Class-wide state =====
  static KArray* gProcessRings;        ///< levels of the process ring, by priority
  static KArray* gThreadRings;         ///< levels of the thread ring
  static KLock* gMonitor;              ///< guards both rings and gProcessCount
  static uint32_t gProcessCount;       ///< ProcessStartup calls not yet matched
  static KArray* gDestructedPkgs;      ///< participants whose destructor has run
  static KLock* gDestructedPkgsMonitor;  ///< guards gDestructedPkgs
  static uint8_t gTooLateForThreadShutdown;  ///< once set, nothing shuts down
  static uint32_t gContextAlloc;       ///< context slot of the thread-start count

  virtual ~KAt();

 protected:
  /// Registers the participant. One that cannot be registered (no memory) is
  /// reported with one debug line and stays out of its ring.
  KAt(unsigned long priority, unsigned char process);

  /// The participant's start-up work; called by a ring run under the ring
  /// monitor. Report failures through the debug stream: an exception that
  /// leaves ends the run.
  virtual void Startup() = 0;
  /// Undoes Startup; called in reverse order by the ring's shut-down run,
  /// under the ring monitor.
  virtual void Shutdown() = 0;

 private:
  KAt(const KAt&) = delete;
  KAt& operator=(const KAt&) = delete;

  static unsigned char Add(unsigned char process, unsigned long priority, KAt* entry);
  static void Remove(unsigned char process, KAt* entry);
  static void StartupRings(KArray* ring);
  static void ShutdownRings(KArray* ring);
  static void ThreadRingLock();
  static void ThreadRingUnlock();
  static void DestructedPkgsLock();
  static void DestructedPkgsUnlock();

  uint8_t fProcess;    ///< 1: process ring, 0: thread ring
  uint32_t fPriority;  ///< level in the ring; 0 takes part in nothing
};

/// A participant of the process ring.
class VXKERNEL_EXPORT KAtProcess : public KAt {
 protected:
  /// Registers the participant in the process ring at priority.
  explicit KAtProcess(unsigned long priority) : KAt(priority, 1) {}
  void Startup() override = 0;
  void Shutdown() override = 0;
};

/// A participant of the thread ring.
class VXKERNEL_EXPORT KAtThread : public KAt {
 protected:
  /// Registers the participant in the thread ring at priority.
  explicit KAtThread(unsigned long priority) : KAt(priority, 0) {}
  void Startup() override = 0;
  void Shutdown() override = 0;
};

/// A package: a process-ring participant that sets up one module.
class VXKERNEL_EXPORT KPkg : public KAtProcess {
 protected:
  /// Registers the package in the process ring at priority.
  explicit KPkg(long priority) : KAtProcess(static_cast<unsigned long>(priority)) {}
  void Startup() override = 0;
  void Shutdown() override = 0;
};

#endif  // VXKERNEL_RUNTIME_KAT_H_
