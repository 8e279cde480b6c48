// KQSValueListStorage: the shared node chain under list windows.
#include <cstdlib>
#include <new>

#include "vxkernel/values/KQSValueList.h"

KQSValueListStorage::~KQSValueListStorage() {
  ValNode* n = fSentinel.next;
  while (n != &fSentinel) {
    ValNode* next = n->next;
    n->~ValNode();
    n = next;
  }
  for (void* chunk : fChunks) ::operator delete(chunk);
}

ValNode* KQSValueListStorage::NewNode(const KQSValue& v) {
  void* slot;
  if (fFree != nullptr) {
    slot = fFree;
    fFree = fFree->next;
  } else {
    if (fChunkNext == fChunkEnd) {
      const size_t nodes = fChunks.size() < 3 ? size_t{8} << fChunks.size() : 64;
      auto* chunk = static_cast<unsigned char*>(::operator new(nodes * sizeof(ValNode)));
      fChunks.push_back(chunk);
      fChunkNext = chunk;
      fChunkEnd = chunk + nodes * sizeof(ValNode);
    }
    slot = fChunkNext;
    fChunkNext += sizeof(ValNode);
  }
  return new (slot) ValNode(v);
}

void KQSValueListStorage::FreeNode(ValNode* n) {
  n->~ValNode();
  n->next = fFree;  // the slot's memory now only links free slots
  fFree = n;
}

namespace {

void LinkAfter(ValNode* where, ValNode* n) {
  n->prev = where;
  n->next = where->next;
  where->next->prev = n;
  where->next = n;
}

}  // namespace

void KQSValueListStorage::Append(const KQSValue& v) {
  LinkAfter(fSentinel.prev, NewNode(v));
  ++fCount;
}

void KQSValueListStorage::Prepend(const KQSValue& v) {
  LinkAfter(&fSentinel, NewNode(v));
  ++fCount;
  --fFirst;
}

void KQSValueListStorage::Set(long pos, const KQSValue& v) {
  if (ValNode* n = FindNode(pos)) n->value = v;
}

KQSValue KQSValueListStorage::Get(long pos) {
  ValNode* n = FindNode(pos);
  return n != nullptr ? n->value : KQSValue();
}

ValNode* KQSValueListStorage::FindNode(long pos) {
  if (pos < fFirst || pos >= fFirst + fCount) return nullptr;
  // Walking by increasing index asks for the cached node's neighbour.
  if (fCachedNode != nullptr) {
    if (pos == fCachedPos + 1) {
      fCachedNode = fCachedNode->next;
      fCachedPos = pos;
      return fCachedNode;
    }
    if (pos == fCachedPos) return fCachedNode;
  }
  const long last = fFirst + fCount - 1;
  ValNode* n;
  long at;
  if (pos - fFirst <= last - pos) {
    n = fSentinel.next;
    at = fFirst;
  } else {
    n = fSentinel.prev;
    at = last;
  }
  if (fCachedNode != nullptr && std::labs(pos - fCachedPos) < std::labs(pos - at)) {
    n = fCachedNode;
    at = fCachedPos;
  }
  for (; at < pos; ++at) n = n->next;
  for (; at > pos; --at) n = n->prev;
  fCachedNode = n;
  fCachedPos = pos;
  return n;
}

ValNode* KQSValueListStorage::RemoveNode(ValNode* node, long pos) {
  ValNode* next = node->next;
  node->prev->next = next;
  next->prev = node->prev;
  FreeNode(node);
  --fCount;
  // The node after takes the removed one's position: keep it cached, so a
  // walk that removes as it goes stays linear.
  if (next != &fSentinel) {
    fCachedNode = next;
    fCachedPos = pos;
  } else {
    fCachedNode = nullptr;
  }
  for (KQSValueList* w : fWindows) {
    long start = w->Start();
    long end = w->End();
    if (pos < start) --start;
    if (pos < end) --end;
    w->fStart = start;
    w->fEnd = end;
  }
  return next;
}

KQSValueListStorage* KQSValueListStorage::Clone(long from, long to) {
  auto* copy = new KQSValueListStorage();
  ValNode* n = from <= to ? FindNode(from) : nullptr;
  for (long p = from; n != nullptr && n != &fSentinel && p <= to; ++p, n = n->next) copy->Append(n->value);
  return copy;
}

int KQSValueListStorage::AccessCount(long pos) const { return AccessCount(pos, pos); }

int KQSValueListStorage::AccessCount(long from, long to) const {
  int count = 0;
  for (const KQSValueList* w : fWindows) {
    if (w->Start() <= from && to < w->End() && ++count == 2) break;
  }
  return count;
}

bool KQSValueListStorage::RemoveRef(KQSValueList* window) {
  for (size_t i = 0; i < fWindows.size(); ++i) {
    if (fWindows[i] == window) {
      fWindows[i] = fWindows.back();
      fWindows.pop_back();
      break;
    }
  }
  return fWindows.empty();
}
