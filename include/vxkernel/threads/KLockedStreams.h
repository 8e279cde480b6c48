/// \file
/// Locks around the standard console streams.
#ifndef VXKERNEL_THREADS_KLOCKEDSTREAMS_H_
#define VXKERNEL_THREADS_KLOCKEDSTREAMS_H_

#include <ostream>

#include "vxkernel/export.h"
#include "vxkernel/threads/KLock.h"

// Each class serialises whole messages written to one console stream by
// different threads: a writer takes the guard (or Lock), writes, and lets
// go. The lock is the class's static fMonitor, a re-entrant KLock of the
// critical-section kind, so a thread may nest guards. The streams themselves
// are the standard ones and not owned.

class VXKERNEL_EXPORT KLockedCout {
 public:
  static std::ostream& Out();
  static void Lock() VXK_ACQUIRE(fMonitor) { fMonitor.Lock(KLock::kWrite, KLock::kInfinite); }
  static void Unlock() VXK_RELEASE(fMonitor) { fMonitor.Unlock(KLock::kWrite); }
  static KLock fMonitor;
};

class VXKERNEL_EXPORT KLockedCerr {
 public:
  static std::ostream& Out();
  static void Lock() VXK_ACQUIRE(fMonitor) { fMonitor.Lock(KLock::kWrite, KLock::kInfinite); }
  static void Unlock() VXK_RELEASE(fMonitor) { fMonitor.Unlock(KLock::kWrite); }
  static KLock fMonitor;
};

class VXKERNEL_EXPORT KLockedWCout {
 public:
  static std::wostream& Out();
  static void Lock() VXK_ACQUIRE(fMonitor) { fMonitor.Lock(KLock::kWrite, KLock::kInfinite); }
  static void Unlock() VXK_RELEASE(fMonitor) { fMonitor.Unlock(KLock::kWrite); }
  static KLock fMonitor;
};

class VXKERNEL_EXPORT KLockedWCerr {
 public:
  static std::wostream& Out();
  static void Lock() VXK_ACQUIRE(fMonitor) { fMonitor.Lock(KLock::kWrite, KLock::kInfinite); }
  static void Unlock() VXK_RELEASE(fMonitor) { fMonitor.Unlock(KLock::kWrite); }
  static KLock fMonitor;
};

/// Scope guards: hold the stream's lock for their lifetime.
template <class Locked>
class VXK_SCOPED_CAPABILITY KLockedStreamGuard {
 public:
  KLockedStreamGuard() VXK_ACQUIRE(Locked::fMonitor) { Locked::Lock(); }
  ~KLockedStreamGuard() VXK_RELEASE() { Locked::Unlock(); }
  KLockedStreamGuard(const KLockedStreamGuard&) = delete;
  KLockedStreamGuard& operator=(const KLockedStreamGuard&) = delete;
};

class KLockedCoutGuard : public KLockedStreamGuard<KLockedCout> {};
class KLockedCerrGuard : public KLockedStreamGuard<KLockedCerr> {};
class KLockedWCoutGuard : public KLockedStreamGuard<KLockedWCout> {};
class KLockedWCerrGuard : public KLockedStreamGuard<KLockedWCerr> {};

#endif  // VXKERNEL_THREADS_KLOCKEDSTREAMS_H_
