// List storage: windows over shared chains of value nodes.
//
// A List value holds a KQSValueList, a window [start, end) onto a
// KQSValueListStorage, a chain of ValNodes numbered by consecutive
// positions. Copying a list value, taking a sub-range or appending where the
// neighbouring node already holds the value copies no nodes; a window clones
// its nodes into a private storage only when a change would otherwise show
// through another window that sees them. The storage knows all its windows
// and is destroyed with the last one.
//
// Thread rules: no locks. All values derived from one list share its chain
// and must be used by one thread at a time.
#ifndef VXKERNEL_VALUES_KQSVALUELIST_H_
#define VXKERNEL_VALUES_KQSVALUELIST_H_

#include <vector>

#include "vxkernel/export.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"

class KQSValueList;

// One list element, in a ring anchored at the storage's sentinel.
struct ValNode {
  ValNode() : prev(this), next(this) {}
  explicit ValNode(const KQSValue& v) : prev(this), next(this), value(v) {}
  ValNode* prev;
  ValNode* next;
  KQSValue value;
};

class VXKERNEL_EXPORT KQSValueListStorage {
 public:
  KQSValueListStorage() = default;
  KQSValueListStorage(const KQSValueListStorage&) = delete;
  KQSValueListStorage& operator=(const KQSValueListStorage&) = delete;
  ~KQSValueListStorage();

  long Count() const { return fCount; }
  long FirstPosition() const { return fFirst; }
  long EndPosition() const { return fFirst + fCount; }  // one past the last node

  void Append(const KQSValue& v);
  void Prepend(const KQSValue& v);
  void Set(long pos, const KQSValue& v);
  KQSValue Get(long pos);
  // The node at pos (null outside the chain), found from the nearer end or
  // the cached node.
  ValNode* FindNode(long pos);
  // The same, answering the cached node's successor inline: reading by
  // increasing index costs one step and no call.
  ValNode* FindNodeNear(long pos) {
    if (fCachedNode != nullptr && pos == fCachedPos + 1 && pos < fFirst + fCount) {
      fCachedNode = fCachedNode->next;
      fCachedPos = pos;
      return fCachedNode;
    }
    return FindNode(pos);
  }
  // Unlinks and destroys node (at pos); every window after it shifts down.
  // Returns the node that followed it.
  ValNode* RemoveNode(ValNode* node, long pos);
  // A new storage holding copies of the values at positions from..to.
  KQSValueListStorage* Clone(long from, long to);
  // The windows containing pos (or all of from..to), counted up to 2.
  int AccessCount(long pos) const;
  int AccessCount(long from, long to) const;
  void AddRef(KQSValueList* window) { fWindows.push_back(window); }
  // True when no window is left.
  bool RemoveRef(KQSValueList* window);

 private:
  // Nodes come from chunks owned by the storage (8, 16, 32, then 64
  // nodes), so appending and cloning do not pay one allocation per element.
  ValNode* NewNode(const KQSValue& v);
  void FreeNode(ValNode* n);

  long fCount = 0;
  long fFirst = 1;
  ValNode fSentinel;
  std::vector<void*> fChunks;
  ValNode* fFree = nullptr;  // freed nodes, chained through next
  unsigned char* fChunkNext = nullptr;
  unsigned char* fChunkEnd = nullptr;
  std::vector<KQSValueList*> fWindows;
  ValNode* fCachedNode = nullptr;
  long fCachedPos = 0;
};

// The storage object of a List value: a window [start, end) on a storage.
class VXKERNEL_EXPORT KQSValueList final : public KQSValueBase {
 public:
  // A new, empty storage and window (start = end = 1).
  KQSValueList();
  // A second window on the same storage with the same range.
  KQSValueList(const KQSValueList& other);
  ~KQSValueList() override;

  long Length() const override { return fEnd - fStart; }
  int Compare(KQSValueBase* other) const override;
  bool Formatter(std::ostream& out, KQSClassFormatter* f) const override;

  void AppendValue(const KQSValue& v);
  void PrependValue(const KQSValue& v);
  void SetValue(long i, const KQSValue& v);
  KQSValue GetValue(long i) const;
  ValNode* FindNode(long i) const;
  // The first index holding a value == v; with remove, removes every such
  // element and answers the index of the last removal. 0 when none.
  long FindEntry(const KQSValue& v, unsigned char remove);

  long Start() const { return fStart; }
  long End() const { return fEnd; }
  KQSValueListStorage* Storage() const { return fStorage; }

 private:
  friend class KQSValue;
  friend class KQSValueListStorage;  // shifts windows on removal
  void Clone(long from, long to);
  // Sets the window's range (sub-ranges, allocation, sorting).
  void Range(long start, long end) {
    fStart = start;
    fEnd = end;
  }

  KQSValueListStorage* fStorage;
  long fStart = 1;
  long fEnd = 1;
};

inline KQSValue KQSValue::ListGetValue(long i) const {
  if (!IsList() || fData == 0) return KQSValue();
  const KQSValueList* w = static_cast<const KQSValueList*>(User());
  const long n = w->fEnd - w->fStart;
  if (i < 0) i += n + 1;
  if (i < 1 || i > n) return KQSValue();
  return w->fStorage->FindNodeNear(w->fStart - 1 + i)->value;
}

#endif  // VXKERNEL_VALUES_KQSVALUELIST_H_
