// The List operations of KQSValue: index rules, copy before change, sort.
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/type_numbers.h"

namespace {

KQSValueList* Window(const KQSValue& v) { return static_cast<KQSValueList*>(v.User()); }

}  // namespace

KQSValue KQSValue::List() { return Raw(gClassList, 0); }

namespace {

// A short list made in one go: one exactly sized block, no appends.
template <size_t N>
void* ListOf(KQSValue (&values)[N]) {
  return KQSValueList::FromValues(values, static_cast<long>(N));
}

}  // namespace

KQSValue KQSValue::List(const KQSValue& a) {
  KQSValue values[] = {a};
  return KQSValue(gClassList, ListOf(values));
}

KQSValue KQSValue::List(const KQSValue& a, const KQSValue& b) {
  KQSValue values[] = {a, b};
  return KQSValue(gClassList, ListOf(values));
}

KQSValue KQSValue::List(const KQSValue& a, const KQSValue& b, const KQSValue& c) {
  KQSValue values[] = {a, b, c};
  return KQSValue(gClassList, ListOf(values));
}

KQSValue KQSValue::List(const KQSValue& a, const KQSValue& b, const KQSValue& c, const KQSValue& d) {
  KQSValue values[] = {a, b, c, d};
  return KQSValue(gClassList, ListOf(values));
}

long KQSValue::ListIndexFix(long& i) const {
  if (!IsList() || fData == 0) {
    i = -1;
  } else if (i < 0) {
    i += Window(*this)->Length() + 1;
  }
  return i;
}

bool KQSValue::ListIsIndexValid(long& i) const {
  if (!IsList() || fData == 0) return false;
  ListIndexFix(i);
  return i >= 1 && i <= Window(*this)->Length();
}

void KQSValue::ListAssertAlloc() {
  if (fData == 0) {
    Adopt(gClassList, KQSValueList::ForAppends());
  } else if (User()->References() > 1) {
    // Another value holds this window: take a window of our own on the
    // same nodes; the nodes themselves are protected by the access counts.
    Adopt(gClassList, new KQSValueList(*Window(*this)));
  }
}

namespace {

// Whether v may hold values itself, and so possibly a value of a List's
// storage: any storage but the built-in scalars.
bool MayHoldValues(const KQSValue& v) {
  const KQSClass* c = v.Class();
  if (c == nullptr || !c->IsPointer() || v.Instance() == nullptr) return false;
  return c != KQSValue::Class_String() && c != KQSValue::Class_Real() && c != KQSValue::Class_Long() &&
         c != KQSValue::Class_Date() && c != KQSValue::Class_Bytes() && c != KQSValue::Class_TypeCode();
}

}  // namespace

// A storage that several windows share must not take in a value that may
// refer back to it (the List itself, a List sharing its nodes, an Assoc
// holding either): the storage would then hold itself, a cycle of counts
// that is never freed. Such a value goes into a storage of this List's own,
// which shares the blocks (a pointer per 1024 elements is copied).
void KQSValue::ListAssertAllocFor(const KQSValue& v) {
  ListAssertAlloc();
  if (!MayHoldValues(v)) return;
  KQSValueList* w = Window(*this);
  if (w->Storage()->WindowCount() <= 1) return;
  if (w->Length() == 0) Adopt(gClassList, KQSValueList::ForAppends());
  else w->Clone(w->Start(), w->End() - 1);
}

long KQSValue::ListEntries() const { return IsList() && fData != 0 ? Window(*this)->Length() : 0; }

void KQSValue::ListSetValue(long i, const KQSValue& v) {
  if (!ListIsIndexValid(i)) return;
  const KQSValue keep(v);  // v may live inside this list
  ListAssertAllocFor(keep);
  Window(*this)->SetValue(i, keep);
}

KQSValue KQSValue::ListAppendOther(const KQSValue& v) {
  if (!IsList()) return *this;
  const KQSValue keep(v);
  // A list value alone on its window, the window alone on its storage and
  // ending at its end: the copy rules below would change nothing.
  if (fData != 0 && User()->References() == 1) {
    KQSValueList* w = Window(*this);
    KQSValueListStorage* s = w->fStorage;
    if (s->WindowCount() == 1 && w->fEnd == s->EndPosition()) {
      s->Append(keep);
      ++w->fEnd;
      return *this;
    }
  }
  ListAssertAllocFor(keep);
  Window(*this)->AppendValue(keep);
  return *this;
}

KQSValue KQSValue::ListPrependValue(const KQSValue& v) {
  if (!IsList()) return *this;
  const KQSValue keep(v);
  ListAssertAllocFor(keep);
  Window(*this)->PrependValue(keep);
  return *this;
}

void KQSValue::ListAllocate(long n) {
  if (!IsList()) return;
  if (n < 0) n = 0;
  ListAssertAlloc();
  KQSValueList* w = Window(*this);
  const KQSValue undefined;
  while (w->Length() < n) w->AppendValue(undefined);
  w->Range(w->Start(), w->Start() + n);
}

long KQSValue::ListIn(const KQSValue& v) const {
  if (!IsList() || fData == 0) return 0;
  return Window(*this)->FindEntry(v, 0);
}

long KQSValue::ListRemove(const KQSValue& v) {
  if (!IsList() || fData == 0) return 0;
  const KQSValue keep(v);
  ListAssertAlloc();
  return Window(*this)->FindEntry(keep, 1);
}

namespace {

constexpr double kRealEpsilon = 2.220446049250313e-16;

bool IsNumber(short type) {
  return type == vxk_types::kInteger || type == vxk_types::kReal || type == vxk_types::kLong;
}

double NumberOf(const KQSValue& v) {
  if (v.IsLong()) return static_cast<double>(static_cast<int64>(v));
  return static_cast<double>(v);
}

// The sort order: same types by their own order, numbers of different types
// by value, everything else by type number; results cut to 16 bits.
int SortOrder(const KQSValue& a, const KQSValue& b) {
  if (a.Type() != b.Type() && IsNumber(a.Type()) && IsNumber(b.Type())) {
    const double d = NumberOf(a) - NumberOf(b);
    if (std::fabs(d) <= kRealEpsilon) return 0;
    return d < 0 ? -1 : 1;
  }
  return static_cast<short>(a.Compare(b, 0));
}

int Ascending(const void* x, const void* y) {
  return SortOrder(**static_cast<const KQSValue* const*>(x), **static_cast<const KQSValue* const*>(y));
}

int Descending(const void* x, const void* y) { return Ascending(y, x); }

}  // namespace

long KQSValue::ListSort(unsigned char ascending) {
  const long n = ListEntries();
  if (n < 2) return n;
  std::vector<KQSValue> values;
  values.reserve(static_cast<size_t>(n));
  KQSValueList* old = Window(*this);
  for (long i = 1; i <= n; ++i) values.push_back(old->FindNode(i)->value);
  // qsort on pointers: it copes with an order that is not strictly
  // consistent (16-bit cuts), where std::sort may not.
  std::vector<KQSValue*> order(values.size());
  for (size_t i = 0; i < values.size(); ++i) order[i] = &values[i];
  std::qsort(order.data(), order.size(), sizeof(order[0]), ascending ? &Ascending : &Descending);
  // The sorted values move into a new storage built in one go.
  std::vector<KQSValue> sorted;
  sorted.reserve(order.size());
  for (KQSValue* v : order) sorted.push_back(std::move(*v));
  Adopt(gClassList, KQSValueList::FromValues(sorted.data(), n));
  return n;
}

KQSValue KQSValue::ListSubrange(long i, long j) const {
  if (!IsList() || fData == 0) return List();
  const long length = Window(*this)->Length();
  ListIndexFix(i);
  ListIndexFix(j);
  if (i < 1 || i > length || j < i || j > length) return List();
  auto* w = new KQSValueList(*Window(*this));
  const long start = w->Start() + i - 1;
  w->Range(start, start + j - i + 1);
  return KQSValue(gClassList, static_cast<void*>(w));
}
