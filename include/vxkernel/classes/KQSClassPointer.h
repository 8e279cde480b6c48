/// \file
/// KQSClassPointer: the base of the classes whose values hold storage, and
/// the per-class statistics of that storage (objects and references alive,
/// references ever taken), counted without locks on any thread.
#ifndef VXKERNEL_CLASSES_KQSCLASSPOINTER_H_
#define VXKERNEL_CLASSES_KQSCLASSPOINTER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/export.h"

/// Base of the pointer classes: the data word of their values points at a
/// reference-counted storage object. Keeps three statistics: storage objects
/// alive (ObjCount), references alive (RefCount) and references ever taken
/// (RefTotal). They are kept as per-thread sums of references taken and
/// dropped and storage made and destroyed, so that copying values on many
/// threads never serialises on the class; each figure read back is exact
/// once the updating threads are done.
///
/// Each thread that counts claims an exclusive shard on its first count (one
/// of kCounterShards - 1, the same in every class, while one is free and the
/// thread finds a place in the owner table) and alone writes it with plain
/// relaxed stores, so copying a value costs no locked instruction; other
/// threads count in the last shard, atomically, through the library. A shard
/// released at thread exit keeps its sums and passes to the next thread.
/// Which thread owns which shard is kept in one process-wide table,
/// gShardOwners, found by the thread pointer: the inline count needs no
/// thread-local variable, so none is part of the interface.
class VXKERNEL_EXPORT KQSClassPointer : public KQSClass {
 public:
  /// Statistics shards per class; the last one is shared.
  static constexpr int kCounterShards = 32;

  KQSClassPointer();
  /// A pointer class called name (copied) with number.
  KQSClassPointer(const char* name, short number);

  /// Only write a debug line: the counting versions are KQSValueBaseClass's.
  ///@{
  void AddReference(void* data) const override;
  void ReleaseReference(void* data) const override;
  ///@}

  /// Storage objects of this class alive: made minus destroyed.
  long ObjCount() const;
  /// References to storage of this class alive: taken minus dropped.
  long RefCount() const;
  /// References ever taken to storage of this class.
  long RefTotal() const;

 protected:
  /// One reference taken; firstReference when the storage had none before.
  void CountAdd(bool firstReference) const {
    const int i = OwnShard();
    if (i < 0) return CountAddElsewhere(firstReference);
    Shard& s = fShards[i];
    Bump(s.fAdds);
    if (firstReference) Bump(s.fMade);
  }
  /// One reference dropped; destroyed when it was the storage's last.
  void CountRelease(bool destroyed) const {
    const int i = OwnShard();
    if (i < 0) return CountReleaseElsewhere(destroyed);
    Shard& s = fShards[i];
    Bump(s.fReleases);
    if (destroyed) Bump(s.fDestroyed);
  }

 private:
  struct alignas(64) Shard {
    std::atomic<long> fAdds{0};
    std::atomic<long> fReleases{0};
    std::atomic<long> fMade{0};
    std::atomic<long> fDestroyed{0};
  };
  using Counter = std::atomic<long> Shard::*;

  /// The owner table: an entry is a thread pointer with the number of its
  /// thread's shard in the low bits (a thread whose pointer has those bits
  /// set claims no shard), 0 when free; a thread's entry is at the hash of
  /// its thread pointer or, when another thread holds that place, the place
  /// after it. The inline count looks at the first place only, so that it
  /// stays small enough to be inlined wherever values are copied.
  static constexpr int kShardBits = 5;
  static_assert(kCounterShards - 1 <= 1 << kShardBits, "a shard number fits the low bits");
  static constexpr int kOwnerBits = 10;
  static constexpr int kOwnerEntries = (1 << kOwnerBits) + 1;

  static size_t OwnerSlot(uintptr_t self) {
    static_assert(sizeof(uintptr_t) == 8, "the hash keeps the top bits of a 64-bit product");
    return static_cast<size_t>((self * 0x9E3779B97F4A7C15u) >> (64 - kOwnerBits));
  }
  /// The exclusive shard of the calling thread when its entry is in the
  /// first place, else -1 (none claimed yet, the entry in the second place,
  /// none to be had, or no thread pointer to tell threads apart).
  static int OwnShard() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    // An entry differs from the thread pointer only in the shard bits
    // exactly when it is this thread's.
    const auto self = reinterpret_cast<uintptr_t>(__builtin_thread_pointer());
    const uintptr_t d = gShardOwners[OwnerSlot(self)].load(std::memory_order_relaxed) ^ self;
    if (d < (uintptr_t{1} << kShardBits)) return static_cast<int>(d);
#endif
    return -1;
  }
  /// The owner alone writes an exclusive shard: a plain load and store do.
  static void Bump(std::atomic<long>& c) {
    c.store(c.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
  /// The calling thread's exclusive shard, claimed on its first call: its
  /// number, or -1 when it has none.
  static int ClaimShard();
  /// The counts when OwnShard has no answer: in the shard ClaimShard gives,
  /// or in the shared shard, atomically.
  void CountAddElsewhere(bool firstReference) const;
  void CountReleaseElsewhere(bool destroyed) const;
  void Count(Counter counter, Counter also) const;
  long Sum(Counter field) const;

  static std::atomic<uintptr_t> gShardOwners[kOwnerEntries];
  mutable Shard fShards[kCounterShards];
};

#endif  // VXKERNEL_CLASSES_KQSCLASSPOINTER_H_
