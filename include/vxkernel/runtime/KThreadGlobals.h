/// \file
/// Base of every module's per-thread state.
///
/// A KThreadGlobals is a thread-ring participant that owns up to four context
/// slots (User1 to User4). The usual pattern: Init creates the module's
/// per-thread object and stores it with User1(object); Cleanup deletes what
/// User1() holds. Everything else reaches the object through User1(). Slots
/// are per thread, so their accessors need no lock; Init and Cleanup run under
/// the ring monitor, never concurrently with each other.
#ifndef VXKERNEL_RUNTIME_KTHREADGLOBALS_H_
#define VXKERNEL_RUNTIME_KTHREADGLOBALS_H_

#include <cstdint>

#include "vxkernel/export.h"
#include "vxkernel/runtime/KAt.h"

/// Thread-ring participant that owns up to four context slots for a module's
/// per-thread state (see the file comment). Subclasses override Init and
/// Cleanup; one static instance per module.
class VXKERNEL_EXPORT KThreadGlobals : public KAtThread {
 public:
  /// The ring value is the participant's priority in the thread ring.
  typedef unsigned long Ring;

  /// Allocates count slots (1 to 4), from the highest-numbered down to User1.
  explicit KThreadGlobals(Ring ring = 16, short count = 1);
  ~KThreadGlobals() override;

 protected:
  void Startup() override;   ///< calls Init
  void Shutdown() override;  ///< calls Cleanup
  virtual void Init();       ///< does nothing
  virtual void Cleanup();    ///< does nothing

  /// The calling thread's value of a slot: null without a context. Use only
  /// the slots the constructor allocated.
  ///@{
  void* User1() const;
  void* User2() const;
  void* User3() const;
  void* User4() const;
  ///@}
  /// Stores into the calling thread's slot: nothing happens without a context.
  /// The value is not owned: Cleanup frees what it points at.
  ///@{
  void User1(void* value) const;
  void User2(void* value) const;
  void User3(void* value) const;
  void User4(void* value) const;
  ///@}

 private:
  uint32_t fUser1;
  uint32_t fUser2;
  uint32_t fUser3;
  uint32_t fUser4;
};

#endif  // VXKERNEL_RUNTIME_KTHREADGLOBALS_H_
