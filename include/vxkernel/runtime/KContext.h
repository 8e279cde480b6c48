/// \file
/// Per-thread context: one operating-system thread-local slot holding an
/// array of 128 pointer-sized slots, handed out by index to modules that need a
/// per-thread global.
///
/// The context array is created and freed by the thread ring (KContextPkg); a
/// thread without a context reads null from every slot and its stores are
/// dropped. Alloc is unguarded: the library allocates every slot from static
/// constructors, before a second thread runs.
#ifndef VXKERNEL_RUNTIME_KCONTEXT_H_
#define VXKERNEL_RUNTIME_KCONTEXT_H_

#include <cstdint>

#include "vxkernel/export.h"
#include "vxkernel/runtime/KAt.h"

/// Hands out per-thread slots and reads and writes the calling thread's
/// context (see the file comment). Only static members; the arrays belong to
/// KContextPkg.
class VXKERNEL_EXPORT KContext {
 public:
  static constexpr int kSlots = 128;  ///< slots in each thread's context

  /// Returns the next free slot index. Release builds do not check the
  /// bound. REQUIRES: fewer than kSlots slots handed out so far.
  static long Alloc();
  /// Slot index of the calling thread's context, or null without a context.
  /// REQUIRES: index < kSlots.
  static void* Get(unsigned long index);
  /// Stores into slot index of the calling thread's context; nothing happens
  /// without a context. REQUIRES: index < kSlots.
  static void Set(unsigned long index, void* value);

  static int32_t gNextIndex;  ///< next free slot index

 private:
  friend class KAt;
  friend class KContextPkg;

  /// The calling thread's slot array, or null.
  static void** SysGet();
  /// Installs array as the calling thread's slot array (null removes it).
  static void SysSet(void** array);
};

/// Thread-ring participant at priority 1: creates each thread's zero-filled
/// context on start-up and frees it, last of all, on shut-down.
class VXKERNEL_EXPORT KContextPkg : public KAtThread {
 public:
  KContextPkg() : KAtThread(1) {}

 protected:
  /// Gives the calling thread a fresh zero-filled context, replacing any it
  /// had. When there is no memory, writes one debug line and the thread stays
  /// without a context.
  void Startup() override;
  /// Frees the calling thread's context; the thread then has none.
  void Shutdown() override;
};

#endif  // VXKERNEL_RUNTIME_KCONTEXT_H_
