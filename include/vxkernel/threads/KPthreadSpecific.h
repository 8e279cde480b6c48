/// \file
/// KPthreadSpecific: one thread-local slot.
#ifndef VXKERNEL_THREADS_KPTHREADSPECIFIC_H_
#define VXKERNEL_THREADS_KPTHREADSPECIFIC_H_

#include <cstdint>

#include "vxkernel/export.h"

/// One thread-local slot: every thread sees its own pointer, null until it
/// sets one. The object owns the slot (allocated by the constructor, freed by
/// the destructor); the pointers stored are not owned. Set and Get may be
/// called from any thread; destroy only when no thread uses the slot.
class VXKERNEL_EXPORT KPthreadSpecific {
 public:
  KPthreadSpecific();
  ~KPthreadSpecific();
  KPthreadSpecific(const KPthreadSpecific&) = delete;
  KPthreadSpecific& operator=(const KPthreadSpecific&) = delete;

  /// Stores the calling thread's value: 0, or 5 when the system refuses
  /// (also when no slot could be allocated).
  long Set(void* value);
  /// The calling thread's value (null when never set or without a slot).
  void* Get() const;
  /// The system's key of the slot; all bits set when none could be allocated.
  uintptr_t _Index() const { return fIndex; }

 private:
  uintptr_t fIndex;  ///< constant after construction; all bits set: none
};

#endif  // VXKERNEL_THREADS_KPTHREADSPECIFIC_H_
