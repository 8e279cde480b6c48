/// \file
/// Locks around the standard console streams.
///
/// Each class serialises whole messages written to one console stream by
/// different threads: a writer takes the guard (or Lock), writes, and lets
/// go. The lock is the class's static fMonitor, a re-entrant KLock of the
/// critical-section kind, so a thread may nest guards. The streams themselves
/// are the standard ones and not owned.
#ifndef VXKERNEL_THREADS_KLOCKEDSTREAMS_H_
#define VXKERNEL_THREADS_KLOCKEDSTREAMS_H_

#include <ostream>

#include "vxkernel/export.h"
#include "vxkernel/threads/KLock.h"

/// The lock around std::cout (see the file comment). Static members only.
class VXKERNEL_EXPORT KLockedCout {
 public:
  /// The standard stream itself; write to it while holding the lock.
  static std::ostream& Out();
  /// Takes the lock without limit (re-entrant); prefer KLockedCoutGuard.
  static void Lock() VXK_ACQUIRE(fMonitor) { fMonitor.Lock(KLock::kWrite, KLock::kInfinite); }
  /// Releases one Lock.
  static void Unlock() VXK_RELEASE(fMonitor) { fMonitor.Unlock(KLock::kWrite); }
  static KLock fMonitor;  ///< the stream's lock, of the critical-section kind
};

/// The lock around std::cerr, as KLockedCout.
class VXKERNEL_EXPORT KLockedCerr {
 public:
  /// The standard stream itself; write to it while holding the lock.
  static std::ostream& Out();
  /// Takes the lock without limit (re-entrant); prefer KLockedCerrGuard.
  static void Lock() VXK_ACQUIRE(fMonitor) { fMonitor.Lock(KLock::kWrite, KLock::kInfinite); }
  /// Releases one Lock.
  static void Unlock() VXK_RELEASE(fMonitor) { fMonitor.Unlock(KLock::kWrite); }
  static KLock fMonitor;  ///< the stream's lock, of the critical-section kind
};

/// The lock around std::wcout, as KLockedCout.
class VXKERNEL_EXPORT KLockedWCout {
 public:
  /// The standard stream itself; write to it while holding the lock.
  static std::wostream& Out();
  /// Takes the lock without limit (re-entrant); prefer KLockedWCoutGuard.
  static void Lock() VXK_ACQUIRE(fMonitor) { fMonitor.Lock(KLock::kWrite, KLock::kInfinite); }
  /// Releases one Lock.
  static void Unlock() VXK_RELEASE(fMonitor) { fMonitor.Unlock(KLock::kWrite); }
  static KLock fMonitor;  ///< the stream's lock, of the critical-section kind
};

/// The lock around std::wcerr, as KLockedCout.
class VXKERNEL_EXPORT KLockedWCerr {
 public:
  /// The standard stream itself; write to it while holding the lock.
  static std::wostream& Out();
  /// Takes the lock without limit (re-entrant); prefer KLockedWCerrGuard.
  static void Lock() VXK_ACQUIRE(fMonitor) { fMonitor.Lock(KLock::kWrite, KLock::kInfinite); }
  /// Releases one Lock.
  static void Unlock() VXK_RELEASE(fMonitor) { fMonitor.Unlock(KLock::kWrite); }
  static KLock fMonitor;  ///< the stream's lock, of the critical-section kind
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

/// Holds KLockedCout's lock for its lifetime.
class KLockedCoutGuard : public KLockedStreamGuard<KLockedCout> {};
/// Holds KLockedCerr's lock for its lifetime.
class KLockedCerrGuard : public KLockedStreamGuard<KLockedCerr> {};
/// Holds KLockedWCout's lock for its lifetime.
class KLockedWCoutGuard : public KLockedStreamGuard<KLockedWCout> {};
/// Holds KLockedWCerr's lock for its lifetime.
class KLockedWCerrGuard : public KLockedStreamGuard<KLockedWCerr> {};

#endif  // VXKERNEL_THREADS_KLOCKEDSTREAMS_H_
