// KQSValueList: a window on a list storage, and the List order and text.
#include <ostream>

#include "vxkernel/values/KQSValueList.h"
#include "values/list_internal.h"

KQSValueList::KQSValueList() : fStorage(new KQSValueListStorage()) { fStorage->AddRef(this); }

KQSValueList::KQSValueList(const KQSValueList& other)
    : KQSValueBase(), fStorage(other.fStorage), fStart(other.fStart), fEnd(other.fEnd) {
  fStorage->AddRef(this);
}

KQSValueList::~KQSValueList() {
  if (fStorage->RemoveRef(this)) delete fStorage;
}

ValNode* KQSValueList::FindNode(long i) const {
  if (i < 1 || i > Length()) return nullptr;
  return fStorage->FindNode(fStart - 1 + i);
}

KQSValue KQSValueList::GetValue(long i) const {
  ValNode* n = FindNode(i);
  return n != nullptr ? n->value : KQSValue();
}

void KQSValueList::Clone(long from, long to) {
  KQSValueListStorage* copy = fStorage->Clone(from, to);
  if (fStorage->RemoveRef(this)) delete fStorage;
  fStorage = copy;
  fStorage->AddRef(this);
  fStart = 1;
  fEnd = to - from + 2;
}

void KQSValueList::AppendValue(const KQSValue& v) {
  const long p = fEnd;
  if (fStorage->AccessCount(p) == 0) {
    if (ValNode* n = fStorage->FindNode(p)) n->value = v;
    else fStorage->Append(v);
  } else if (ValNode* n = fStorage->FindNode(p); n == nullptr || !(n->value == v)) {
    // Another window sees the node after this one: write into a copy.
    Clone(fStart, fEnd - 1);
    fStorage->Append(v);
  }
  ++fEnd;
}

void KQSValueList::PrependValue(const KQSValue& v) {
  const long p = fStart - 1;
  if (fStorage->AccessCount(p) == 0) {
    if (p < fStorage->FirstPosition()) fStorage->Prepend(v);
    else fStorage->Set(p, v);
    fStart = p;
    return;
  }
  if (ValNode* n = fStorage->FindNode(p); n != nullptr && n->value == v) {
    fStart = p;
    return;
  }
  const long length = Length();
  Clone(fStart, fEnd - 1);
  fStorage->Prepend(v);
  fStart = 0;
  fEnd = length + 1;
}

void KQSValueList::SetValue(long i, const KQSValue& v) {
  if (i < 1 || i > Length()) return;
  const long p = fStart - 1 + i;
  ValNode* n = fStorage->FindNode(p);
  if (n == nullptr) return;
  if (fStorage->AccessCount(p) > 1 && !(n->value == v)) {
    Clone(fStart, fEnd - 1);
    n = FindNode(i);
  }
  n->value = v;
}

long KQSValueList::FindEntry(const KQSValue& v, unsigned char remove) {
  long last = 0;
  long i = 1;
  ValNode* n = FindNode(1);
  while (n != nullptr && i <= Length()) {
    if (!(n->value == v)) {
      ++i;
      n = FindNode(i);
      continue;
    }
    if (!remove) return i;
    long p = fStart - 1 + i;
    if (fStorage->AccessCount(p) > 1) {
      Clone(fStart, fEnd - 1);
      p = fStart - 1 + i;
      n = fStorage->FindNode(p);
    }
    fStorage->RemoveNode(n, p);
    last = i;
    n = FindNode(i);  // the next element now has index i
  }
  return last;
}

namespace {

// Element-wise order; a list without storage is empty.
int CompareWindows(const KQSValueList* a, const KQSValueList* b, unsigned char ignoreCase) {
  const long la = a != nullptr ? a->Length() : 0;
  const long lb = b != nullptr ? b->Length() : 0;
  const long n = la < lb ? la : lb;
  for (long i = 1; i <= n; ++i) {
    const int c = a->FindNode(i)->value.Compare(b->FindNode(i)->value, ignoreCase);
    if (c != 0) return c;
  }
  return static_cast<int>(la - lb);
}

}  // namespace

int KQSValueList::Compare(KQSValueBase* other) const {
  return CompareWindows(this, static_cast<const KQSValueList*>(other), 0);
}

bool KQSValueList::Formatter(std::ostream& out, KQSClassFormatter* f) const {
  out << '{';
  for (long i = 1; i <= Length(); ++i) {
    if (i > 1) out << ',';
    FindNode(i)->value.FormattedOutput(out, f);
  }
  out << '}';
  return true;
}

// ----- the List class's order and equality -----

namespace vxk_internal {

int ListCompare(void* a, void* b, bool ignoreCase) {
  return CompareWindows(static_cast<const KQSValueList*>(a), static_cast<const KQSValueList*>(b), ignoreCase);
}

int ListEqual(void* a, void* b) {
  const auto* x = static_cast<const KQSValueList*>(a);
  const auto* y = static_cast<const KQSValueList*>(b);
  const long n = x != nullptr ? x->Length() : 0;
  if (n != (y != nullptr ? y->Length() : 0)) return 0;
  for (long i = 1; i <= n; ++i) {
    if (!(x->FindNode(i)->value == y->FindNode(i)->value)) return 0;
  }
  return 1;
}

}  // namespace vxk_internal
