/// \file
/// KLock: the lock object used throughout the library.
#ifndef VXKERNEL_THREADS_KLOCK_H_
#define VXKERNEL_THREADS_KLOCK_H_

#include "vxkernel/export.h"
#include "vxkernel/threads/thread_annotations.h"

class KLockBase;

/// A lock whose implementation is chosen once, at construction, by its kind:
/// a re-entrant exclusive lock (kCriticalSection, the one used almost
/// everywhere), a single-writer-multiple-reader lock in which readers may
/// starve writers (kSWMR), or one in which neither side starves
/// (kSWMRNoStarvation). Any other kind value gives a lock that does no
/// locking at all: Lock returns true and Unlock does nothing.
///
/// The KLock owns its implementation. Copying a KLock copies the pointer to
/// the same implementation, so only one of the copies may be destroyed; the
/// library never copies locks.
///
/// Thread rule: Lock and Unlock may be called from any thread. Unlock must
/// name the type that was locked; mixing types leaves the implementation
/// inconsistent.
class VXK_CAPABILITY("lock") VXKERNEL_EXPORT KLock {
 public:
  /// The implementation a lock gets (see the class comment). A fixed
  /// underlying type: any int is a valid Kind (kind 7, say, is a lock without
  /// implementation), not only the named values.
  enum Kind : int { kCriticalSection = 0, kSWMR = 1, kSWMRNoStarvation = 2 };
  /// How Lock takes the lock: shared (kRead) or exclusive (kWrite). Any int is
  /// a valid Type; the SWMR kinds refuse the unnamed ones.
  enum Type : int { kRead = 0, kWrite = 1 };

  /// A timeout with all bits set waits without limit.
  static constexpr unsigned long kInfinite = 0xFFFFFFFFUL;

  /// A lock of kind; an unknown kind gives one that does no locking. When the
  /// system refuses the implementation, writes one debug line and the lock
  /// does no locking either.
  explicit KLock(Kind kind);
  virtual ~KLock();

  /// Returns true when the lock is held. The critical-section kind ignores
  /// type and timeout (it is always exclusive and waits without limit);
  /// kSWMR honours the timeout (false on time-out); kSWMRNoStarvation
  /// ignores it. A type other than kRead/kWrite gives false on the SWMR kinds.
  /// The thread-safety analysis counts a Lock as exclusive and trusts it to
  /// succeed; code that tests the result uses a KLockGuard and Held().
  virtual unsigned char Lock(Type type, unsigned long timeout) VXK_ACQUIRE();
  /// Releases one Lock of the same type.
  virtual void Unlock(Type type) VXK_RELEASE_GENERIC();

  /// The kind given at construction.
  Kind _Kind() const { return fKind; }

 private:
  /// Creates the implementation for fKind (none for unknown kinds).
  virtual void SysInit();

  // Constant after construction.
  Kind fKind;
  KLockBase* fImpl;  ///< owned; null for kinds without an implementation
};

#endif  // VXKERNEL_THREADS_KLOCK_H_
