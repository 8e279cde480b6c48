/// \file
/// KPthread: a handle on a thread the library starts.
#ifndef VXKERNEL_THREADS_KPTHREAD_H_
#define VXKERNEL_THREADS_KPTHREAD_H_

#include <cstdint>

#include "vxkernel/export.h"

/// A thread handle and the thread's 32-bit id. The handle is held from Create
/// until Join or Detach; the destructor does nothing, so a thread that is
/// neither joined nor detached keeps its resources. Copies share the handle:
/// exactly one of them may Join or Detach.
///
/// Not synchronized: one thread at a time per KPthread object.
class VXKERNEL_EXPORT KPthread {
 public:
  /// No thread.
  KPthread() : fHandle(0), fId(0) {}

  /// Starts start(argument) on a new thread (default stack size); its return
  /// value is the thread's exit code. Returns 0 and stores handle and id, or
  /// 1 when the thread could not be started.
  long Create(unsigned (*start)(void*), void* argument);
  /// Releases the handle without waiting: 0, or 5 without a handle or when
  /// refused.
  long Detach();
  /// Waits without limit for the thread, stores its exit code in *exitCode
  /// when exitCode is given, and releases the handle. Returns 0, or 9 without
  /// a handle or when the wait fails (joining oneself fails).
  long Join(void** exitCode);

  /// The calling thread.
  static KPthread Self();

  /// Compare thread ids only.
  ///@{
  bool operator==(const KPthread& t) const { return fId == t.fId; }
  bool operator!=(const KPthread& t) const { return fId != t.fId; }
  ///@}

  /// The system's thread handle, as an integer; 0 without a thread.
  uintptr_t _Handle() const { return fHandle; }
  /// The thread's 32-bit id; 0 without a thread.
  uint32_t _Id() const { return fId; }

 private:
  uintptr_t fHandle;  ///< 0: no thread
  uint32_t fId;
};

#endif  // VXKERNEL_THREADS_KPTHREAD_H_
