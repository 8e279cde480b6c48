/// \file
/// List storage: windows over shared, block-structured sequences of values.
///
/// A List value holds a KQSValueList, a window [start, end) onto a
/// KQSValueListStorage, a sequence of elements numbered by consecutive
/// positions. Copying a list value, taking a sub-range or appending where the
/// neighbouring element already holds the value copies nothing; a window
/// moves to a private storage only when a change would otherwise show
/// through another window of the same storage. The storage knows all its
/// windows and is destroyed with the last one.
///
/// The blocks, segments and slots inside a storage are in
/// vxkernel/values/internal/list_storage.h, which is not for direct use.
///
/// Thread rules: no locks, and the block and segment counts are plain
/// counters. All values derived from one list share its storage or its
/// blocks and must be used by one thread at a time.
#ifndef VXKERNEL_VALUES_KQSVALUELIST_H_
#define VXKERNEL_VALUES_KQSVALUELIST_H_

#include <cstddef>

#include "vxkernel/export.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/internal/list_storage.h"

class KQSValueList;

/// One list element by its interface name; what it holds is the storage's
/// business (internal/list_storage.h).
using ValNode = vxk_internal::ValNode;

/// The elements under one or more windows. Its windows own it jointly (the
/// last one to leave deletes it); its blocks and segments it shares with the
/// storages cloned from it or from which it was cloned. One thread at a time.
class VXKERNEL_EXPORT KQSValueListStorage {
 public:
  KQSValueListStorage() = default;
  KQSValueListStorage(const KQSValueListStorage&) = delete;
  KQSValueListStorage& operator=(const KQSValueListStorage&) = delete;
  ~KQSValueListStorage();
  ///@{
  /// Storages, like windows, segments and blocks, are pieces of the List
  /// allocations (list_storage.cpp).
  static void* operator new(size_t bytes);
  static void operator delete(void* piece);
  ///@}

  /// Elements stored, whatever the windows show; 0 when empty.
  long Count() const { return fCount; }
  /// The position of the first element: 1 at first, lower after prepends.
  long FirstPosition() const { return fFirst; }
  /// One past the last element's position.
  long EndPosition() const { return fFirst + fCount; }

  /// Appends v; while the last block has free slots past the end and the
  /// storage alone holds it and its segment, that is one store.
  void Append(const KQSValue& v) {
    if (fAppendRoom != 0) {
      fAppendNext->value = v;
      ++fAppendNext;
      --fAppendRoom;
      ++fCount;
      return;
    }
    AppendSlow(v);
  }
  /// Append into the append run only: false (nothing done) when it has no
  /// room.
  bool AppendInRun(const KQSValue& v) {
    if (fAppendRoom == 0) return false;
    fAppendNext->value = v;
    ++fAppendNext;
    --fAppendRoom;
    ++fCount;
    return true;
  }
  /// Appends values[0 .. n-1], moving them in. An empty storage gets one
  /// block of exactly n slots up to 64 and full blocks beyond, so nothing is
  /// regrown; a non-empty one appends them one by one.
  void AppendMoved(KQSValue* values, long n);
  /// Inserts v before the first element; FirstPosition() drops by one.
  void Prepend(const KQSValue& v);
  /// Replaces the value at pos (ignored outside the storage).
  void Set(long pos, const KQSValue& v);
  /// A copy of the value at pos; Undefined outside the storage.
  KQSValue Get(long pos);
  /// The element at pos, null outside the storage. Valid until the next
  /// change of this storage.
  const vxk_internal::ValNode* FindNode(long pos) {
    if (pos < fFirst || pos >= fFirst + fCount) return nullptr;
    return NodeAt(pos);
  }
  /// The element at pos, which must lie in the storage: answered from the
  /// cached block run without a call while the reads stay inside it.
  const vxk_internal::ValNode* NodeAt(long pos) {
    const unsigned long d = static_cast<unsigned long>(pos - fCacheLo);
    if (d < fCacheLength) return fCacheNodes + d;
    return FillCache(pos);
  }
  /// A new storage holding the values at positions from..to (its first
  /// position 1); it shares this storage's segments, so nothing is copied.
  KQSValueListStorage* Clone(long from, long to);
  ///@{
  /// The windows containing pos (or all of from..to), counted up to 2.
  int AccessCount(long pos) const;
  int AccessCount(long from, long to) const;
  ///@}
  /// Records window (not owned) as one of the storage's owners.
  void AddRef(KQSValueList* window) { fWindows.push_back(window); }
  /// Forgets window; true when no window is left (the caller then deletes
  /// the storage).
  bool RemoveRef(KQSValueList* window);
  /// The windows on this storage.
  long WindowCount() const { return static_cast<long>(fWindows.size()); }

 private:
  friend class KQSValueList;  ///< a window caches a part of the storage's run
  /// Append past the append run: makes or copies the block, then opens a
  /// new run on it when the storage alone holds it.
  void AppendSlow(const KQSValue& v);
  /// The slot for offset off, made writable: a shared segment or block is
  /// copied first, a missing or too small block made or grown. upward tells
  /// which way a new block of a short list leaves room to grow.
  vxk_internal::ValNode* Writable(long off, bool upward);
  /// Caches the run of pos's block that lies inside the storage.
  const vxk_internal::ValNode* FillCache(long pos);
  /// A block of this storage was replaced: forget every cached run.
  void DropCaches();

  long fCount = 0;
  long fFirst = 1;
  /// The offset of the first position in the segments' slot space (below
  /// one segment's span): offset = position - fFirst + fHead.
  long fHead = 0;
  vxk_internal::ListPtrTable<vxk_internal::ListSegment*, 1> fSegments;
  vxk_internal::ListPtrTable<KQSValueList*, 2> fWindows;
  /// The cached run: positions fCacheLo .. fCacheLo + fCacheLength - 1 are
  /// fCacheNodes[0 ..]. Dropped, with the windows' runs, whenever a block of
  /// this storage is replaced.
  const vxk_internal::ValNode* fCacheNodes = nullptr;
  long fCacheLo = 0;
  unsigned long fCacheLength = 0;
  /// The append run: the slots for the next fAppendRoom offsets from
  /// fHead + fCount, in a block and segment no other storage holds. Closed
  /// (room 0) whenever a block is replaced or the segments become shared.
  vxk_internal::ValNode* fAppendNext = nullptr;
  long fAppendRoom = 0;
};

/// The storage object of a List value: a window [start, end) on a storage.
class VXKERNEL_EXPORT KQSValueList final : public KQSValueBase {
 public:
  /// A new, empty storage and window (start = end = 1).
  KQSValueList();
  /// A second window on the same storage with the same range.
  KQSValueList(const KQSValueList& other);
  ~KQSValueList() override;
  ///@{
  /// Windows are pieces of the List allocations (list_storage.cpp).
  static void* operator new(size_t bytes);
  static void operator delete(void* piece);
  ///@}
  /// A new window on a new storage holding values[0 .. n-1], moved in (the
  /// array keeps Undefined values); see KQSValueListStorage::AppendMoved.
  /// Up to 64 values take one allocation for the window, its storage and
  /// the values.
  static KQSValueList* FromValues(KQSValue* values, long n);
  /// A new, empty window and storage in one allocation with room for the
  /// first appends (kFirstSlots), which then need no allocation.
  static KQSValueList* ForAppends();
  /// Slots ForAppends leaves open for the first appends.
  static constexpr int kFirstSlots = 4;

  /// Elements in the window.
  long Length() const override { return fEnd - fStart; }
  int Compare(KQSValueBase* other) const override;
  bool Formatter(std::ostream& out, KQSClassFormatter* f) const override;

  ///@{
  /// Adds v after the last (or before the first) element of the window; a
  /// change another window would see goes into a private copy first.
  void AppendValue(const KQSValue& v);
  void PrependValue(const KQSValue& v);
  ///@}
  /// Replaces element i (1-based, at most Length()); ignored outside the
  /// window. Copies the storage first when another window sees it.
  void SetValue(long i, const KQSValue& v);
  /// A copy of element i (1-based, no negative indexes); Undefined outside
  /// the window.
  KQSValue GetValue(long i) const;
  /// Element i (1-based) for reading; null outside the window.
  const vxk_internal::ValNode* FindNode(long i) const;
  /// The first index holding a value == v; with remove, removes every such
  /// element and answers the index of the last removal. 0 when none.
  long FindEntry(const KQSValue& v, unsigned char remove);

  ///@{
  /// The window's range [Start(), End()) in storage positions.
  long Start() const { return fStart; }
  long End() const { return fEnd; }
  ///@}
  /// The storage under the window; never null, owned jointly by its windows.
  KQSValueListStorage* Storage() const { return fStorage; }

 private:
  friend class KQSValue;
  friend class KQSValueListStorage;  ///< drops the cached run
  /// A window on storage (a storage made with it in one allocation).
  explicit KQSValueList(KQSValueListStorage* storage);
  /// A window and storage in one allocation; with n > 0 the storage has one
  /// segment and a block of n slots, holding values[0 .. n-1] moved in, or
  /// with values null, Undefined slots open for appending.
  static KQSValueList* MadeInOne(long n, KQSValue* values);
  void Clone(long from, long to);
  /// Sets the window's range (sub-ranges, allocation, sorting).
  void Range(long start, long end) {
    fStart = start;
    fEnd = end;
    fCacheLength = 0;
  }
  /// ListGetValue past the cached run: index rules (null outside the
  /// window), then a new run.
  const vxk_internal::ValNode* FindNodeSlow(long i) const;

  KQSValueListStorage* fStorage;
  long fStart = 1;
  long fEnd = 1;
  /// The cached run by element index: elements fCacheLo .. fCacheLo +
  /// fCacheLength - 1 are fCacheNodes[0 ..], all inside the window, so a hit
  /// needs no range check.
  mutable const vxk_internal::ValNode* fCacheNodes = nullptr;
  mutable long fCacheLo = 0;
  mutable unsigned long fCacheLength = 0;
};

inline KQSValue KQSValue::ListGetValue(long i) const {
  if (!IsList() || fData == 0) return KQSValue();
  const KQSValueList* w = static_cast<const KQSValueList*>(User());
  // Subtracted unsigned: any index, LONG_MIN included, is one compare.
  const unsigned long d = static_cast<unsigned long>(i) - static_cast<unsigned long>(w->fCacheLo);
  const vxk_internal::ValNode* n;
  if (d < w->fCacheLength) {
    n = w->fCacheNodes + d;
  } else if ((n = w->FindNodeSlow(i)) == nullptr) {
    return KQSValue();
  }
  return n->value;
}

// The commonest append, inline: a list value alone on its window, the
// window alone on its storage and ending at its end, and a free slot in the
// storage's append run. The copy rules would change nothing there, and
// no block changes, so v cannot be moved from under the store.
inline KQSValue KQSValue::ListAppendValue(const KQSValue& v) {
  if (IsList() && fData != 0 && User()->References() == 1) {
    KQSValueList* w = static_cast<KQSValueList*>(User());
    KQSValueListStorage* s = w->fStorage;
    if (w->fEnd == s->EndPosition() && s->WindowCount() == 1 && s->AppendInRun(v)) {
      ++w->fEnd;
      return *this;
    }
  }
  return ListAppendOther(v);
}

#endif  // VXKERNEL_VALUES_KQSVALUELIST_H_
