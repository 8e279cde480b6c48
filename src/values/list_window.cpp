// KQSValueList: a window on a list storage, and the List order and text.
#include <algorithm>
#include <ostream>

#include "vxkernel/values/KQSValueList.h"
#include "values/list_order.h"
#include "values/nesting_internal.h"
#include "values/value_text_writer_internal.h"

using vxk_internal::ValNode;

KQSValueList::KQSValueList() : fStorage(new KQSValueListStorage()) { fStorage->AddRef(this); }

KQSValueList::KQSValueList(const KQSValueList& other)
    : KQSValueBase(), fStorage(other.fStorage), fStart(other.fStart), fEnd(other.fEnd) {
  fStorage->AddRef(this);
}

KQSValueList::KQSValueList(KQSValueListStorage* storage) : fStorage(storage) { fStorage->AddRef(this); }

KQSValueList* KQSValueList::FromValues(KQSValue* values, long n) {
  constexpr long kInOne = 64;  // a block's slots
  if (n >= 0 && n <= kInOne) return MadeInOne(n, values);
  auto* window = new KQSValueList();
  try {
    window->fStorage->AppendMoved(values, n);
  } catch (...) {
    delete window;
    throw;
  }
  window->Range(1, window->fStorage->Count() + 1);
  return window;
}

KQSValueList::~KQSValueList() {
  if (fStorage->RemoveRef(this)) delete fStorage;
}

const ValNode* KQSValueList::FindNode(long i) const {
  if (i < 1 || i > Length()) return nullptr;
  return fStorage->FindNode(fStart - 1 + i);
}

KQSValue KQSValueList::GetValue(long i) const {
  const ValNode* n = FindNode(i);
  return n != nullptr ? n->value : KQSValue();
}

const ValNode* KQSValueList::FindNodeSlow(long i) const {
  const long n = Length();
  if (i < 0) i += n + 1;
  if (i < 1 || i > n) return nullptr;
  const ValNode* node = fStorage->NodeAt(fStart - 1 + i);
  // The storage now caches the run holding the element; keep the part of
  // it inside this window.
  const long lo = std::max(fStorage->fCacheLo, fStart);
  const long hi = std::min(fStorage->fCacheLo + static_cast<long>(fStorage->fCacheLength), fEnd);
  fCacheNodes = fStorage->fCacheNodes + (lo - fStorage->fCacheLo);
  fCacheLo = lo - fStart + 1;
  fCacheLength = static_cast<unsigned long>(hi - lo);
  return node;
}

// The copy shares the old storage's blocks, so this costs a few counts per
// 1024 elements, not a copy of the values.
void KQSValueList::Clone(long from, long to) {
  KQSValueListStorage* copy = fStorage->Clone(from, to);
  if (fStorage->RemoveRef(this)) delete fStorage;
  fStorage = copy;
  fStorage->AddRef(this);
  fStart = 1;
  fEnd = to - from + 2;
  fCacheLength = 0;
}

void KQSValueList::AppendValue(const KQSValue& v) {
  const long p = fEnd;
  // No window sees past the storage's end: appending there needs no look
  // at the other windows.
  if (p == fStorage->EndPosition()) {
    fStorage->Append(v);
  } else if (fStorage->AccessCount(p) == 0) {
    if (p < fStorage->EndPosition()) fStorage->Set(p, v);
    else fStorage->Append(v);
  } else if (const ValNode* n = fStorage->FindNode(p); n == nullptr || !(n->value == v)) {
    // Another window sees the element after this one: write into a copy.
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
    Range(p, fEnd);
    return;
  }
  if (const ValNode* n = fStorage->FindNode(p); n != nullptr && n->value == v) {
    Range(p, fEnd);
    return;
  }
  const long length = Length();
  Clone(fStart, fEnd - 1);
  fStorage->Prepend(v);
  Range(0, length + 1);
}

void KQSValueList::SetValue(long i, const KQSValue& v) {
  if (i < 1 || i > Length()) return;
  const long p = fStart - 1 + i;
  const ValNode* n = fStorage->FindNode(p);
  if (n == nullptr) return;
  if (fStorage->AccessCount(p) > 1 && !(n->value == v)) Clone(fStart, fEnd - 1);
  fStorage->Set(fStart - 1 + i, v);
}

// Removal compacts the window in one pass instead of unlinking element by
// element. Another window of the storage keeps what it sees because this
// window first moves to a private storage (sharing the blocks, so that move
// is cheap); the blocks the pass writes are copied when shared.
long KQSValueList::FindEntry(const KQSValue& v, unsigned char remove) {
  const long n = Length();
  long i = 1;
  while (i <= n && !(fStorage->NodeAt(fStart - 1 + i)->value == v)) ++i;
  if (i > n) return 0;
  if (!remove) return i;
  if (fStorage->WindowCount() > 1) Clone(fStart, fEnd - 1);
  long kept = i - 1;
  long last = 0;
  for (long r = i; r <= n; ++r) {
    // A copy: writing may replace the block the element was read from.
    const KQSValue x = fStorage->NodeAt(fStart - 1 + r)->value;
    if (x == v) {
      last = kept + 1;
      continue;
    }
    ++kept;
    if (kept != r) fStorage->Set(fStart - 1 + kept, x);
  }
  // Release the values left behind the new end.
  const KQSValue undefined;
  for (long r = kept + 1; r <= n; ++r) fStorage->Set(fStart - 1 + r, undefined);
  Range(fStart, fStart + kept);
  return last;
}

namespace {

// Element-wise order; a list without storage is empty. Past the nesting
// cap Lists compare by identity.
int CompareWindows(const KQSValueList* a, const KQSValueList* b, unsigned char ignoreCase) {
  const vxk_internal::CompareLevel level;
  if (level.Deep()) return a == b ? 0 : (a < b ? -1 : 1);
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
  vxk_internal::TextSinkScope sink(out);
  const vxk_internal::WriteLevel level(nullptr);
  if (level.TooDeep()) {
    sink->Put('?');
    return true;
  }
  sink->Put('{');
  const long n = Length();
  for (long i = 1; i <= n; ++i) {
    if (i > 1) sink->Put(',');
    vxk_internal::WriteValueText(*sink, FindNode(i)->value, f);
  }
  sink->Put('}');
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
  const CompareLevel level;
  if (level.Deep()) return x == y ? 1 : 0;
  const long n = x != nullptr ? x->Length() : 0;
  if (n != (y != nullptr ? y->Length() : 0)) return 0;
  for (long i = 1; i <= n; ++i) {
    if (!(x->FindNode(i)->value == y->FindNode(i)->value)) return 0;
  }
  return 1;
}

}  // namespace vxk_internal
