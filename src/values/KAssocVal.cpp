// KAssocVal: the Assoc storage, and the order of its keys.
#include "vxkernel/values/KAssocVal.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>

#include "base/debug_line.h"
#include "text/text_settings.h"
#include "values/nesting_internal.h"
#include "values/value_text_writer_internal.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/type_numbers.h"

namespace {

// A value holding this storage, for the formatter's back-reference stack.
// Null class before start-up has registered the Assoc class.
KQSValue SelfValue(const KAssocVal* self) {
  // The built-in class objects live as long as the library; the search for
  // it is kept to the first write.
  static std::atomic<const KQSClass*> gAssocClass{nullptr};
  const KQSClass* c = gAssocClass.load(std::memory_order_relaxed);
  if (c == nullptr) {
    c = KQSBuiltinClass(vxk_types::kAssoc);
    if (c == nullptr) return KQSValue();
    gAssocClass.store(c, std::memory_order_relaxed);
  }
  return KQSValue(c, static_cast<void*>(const_cast<KAssocVal*>(self)));
}

// Clears a flag when a scope ends, however it ends.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : fFlag(flag) { fFlag = true; }
  ~FlagScope() { fFlag = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& fFlag;
};

}  // namespace

// ===== KIQSValue =====

uint64_t KIQSValue::FoldPrefix(const char* text) {
  // Byte-wise folding orders like str_cmpu only where str_cmpu works byte
  // by byte: single-byte and UTF-8 text.
  if (vxk_internal::CurrentTextMode() == vxk_internal::TextMode::kDoubleByte) return kNoFold;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  uint64_t w = 0;
  int i = 0;
  for (; i < kFoldBytes && p[i] != 0; ++i) {
    w |= static_cast<uint64_t>(static_cast<unsigned char>(std::toupper(p[i]))) << (56 - 8 * i);
  }
  return i < kFoldBytes ? (w | kEnded) : w;
}

int KIQSValue::Order(const KIQSValue& other) const {
  const short t = fValue.Type();
  if (t == vxk_types::kInteger && other.fValue.Type() == vxk_types::kInteger) {
    const long a = fValue;
    const long b = other.fValue;
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  const int r = fValue.Compare(other.fValue, 0);
  if (r >= 0 || t != other.fValue.Type()) return r;
  // Errors, Booleans, Points and the other types without an order answer
  // "less" in both directions; a tree needs a strict order, so such keys
  // order by their data words instead.
  if (other.fValue.Compare(fValue, 0) >= 0) return r;
  const auto a = reinterpret_cast<uintptr_t>(fValue.Instance());
  const auto b = reinterpret_cast<uintptr_t>(other.fValue.Instance());
  return a < b ? -1 : 1;
}

// ===== KAssocVal: the map =====

KAssocVal::~KAssocVal() = default;

KQSValue KAssocVal::operator[](const KQSValue& key) const {
  KQSValue value;
  if (!fTree.Get(KIQSValue(key), value)) return fUndefinedValue;
  return value;
}

bool KAssocVal::Get(const KQSValue& key, KQSValue& value) const {
  if (fTree.Get(KIQSValue(key), value)) return true;
  value = fUndefinedValue;
  return false;
}

bool KAssocVal::GetNth(long n, KQSValue& key, KQSValue& value) const {
  KIQSValue k;
  if (!fTree.GetIndexed(n, k, value)) {
    value = fUndefinedValue;
    return false;
  }
  key = k.Value();
  return true;
}

KQSValue KAssocVal::Delete(const KQSValue& key) {
  const KIQSValue k(key);
  KQSValue value;
  if (!fTree.Get(k, value)) return fUndefinedValue;
  fTree.Delete(k);
  return value;
}

KQSValue KAssocVal::Keys() const {
  KQSValue list = KQSValue::List();
  T23Iter<KIQSValue, KQSValue> it(fTree);
  const KIQSValue* k;
  const KQSValue* v;
  while (it.Next(k, v)) list.ListAppendValue(k->Value());
  return list;
}

KQSValue KAssocVal::Items() const {
  KQSValue list = KQSValue::List();
  T23Iter<KIQSValue, KQSValue> it(fTree);
  const KIQSValue* k;
  const KQSValue* v;
  while (it.Next(k, v)) list.ListAppendValue(*v);
  return list;
}

void KAssocVal::Copy(const KAssocVal& other) {
  if (&other == this) return;
  // The copy is built before the old pairs go, so copying an Assoc that
  // this one holds (and whose last holder may be one of our values) is safe.
  T23Tree<KIQSValue, KQSValue> pairs(other.fTree);
  KQSValue undefinedValue = other.fUndefinedValue;
  fTree = std::move(pairs);
  fUndefinedValue = std::move(undefinedValue);
}

// ===== KAssocVal: storage operations =====

int KAssocVal::Compare(KQSValueBase* other) const {
  const auto* o = dynamic_cast<const KAssocVal*>(other);
  const vxk_internal::CompareLevel level;
  if (o == nullptr || o == this || fComparing || o->fComparing || level.Deep())
    return KQSValueBase::Compare(other);
  const long d = Length() - o->Length();
  if (d != 0) return d < -0x7FFFFFFF ? -0x7FFFFFFF : (d > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(d));
  FlagScope mine(fComparing);
  FlagScope theirs(o->fComparing);
  T23Iter<KIQSValue, KQSValue> a(fTree);
  T23Iter<KIQSValue, KQSValue> b(o->fTree);
  const KIQSValue* ka;
  const KIQSValue* kb;
  const KQSValue* va;
  const KQSValue* vb;
  while (a.Next(ka, va) && b.Next(kb, vb)) {
    int r = ka->Compare(*kb);
    if (r == 0) r = va->Compare(*vb, 0);
    if (r != 0) return r;
  }
  return 0;
}

bool KAssocVal::IsFeature(const KQSValue& name) { return fTree.IsKey(KIQSValue(name)); }

long KAssocVal::Dot(const KQSValue& name, KQSValue& out, KQSValue* /*env*/) {
  out = (*this)[name];
  return 0;
}

long KAssocVal::DotValuePut(const KQSValue& name, const KQSValue& value) {
  Add(name, value);
  return 0;
}

long KAssocVal::Subscript(long i, long j, KQSValue& out) {
  if (i != j) {
    vxk_internal::DebugLine("KAssocVal::Subscript", "two different indices: ", i, ", ", j);
    return kErrSubscriptTwoIndices;
  }
  KQSValue key;
  GetNth(i, key, out);  // the undefined value when there is no such pair
  return 0;
}

long KAssocVal::SubscriptValuePut(long i, long /*j*/, const KQSValue& value) {
  fTree.Add(KIQSValue(i), value);
  return 0;
}

bool KAssocVal::Formatter(std::ostream& out, KQSClassFormatter* f) const {
  // Without a formatter a private one still catches an Assoc that holds
  // itself, which would otherwise recurse without end.
  std::optional<KQSClassFormatter> local;
  if (f == nullptr) f = &local.emplace();
  // Storage that no value holds cannot contain itself, and pushing a value
  // of it would free it when that value is popped.
  KQSValue self;
  if (References() > 0) self = SelfValue(this);
  const vxk_internal::ContainerWrite frame(out, "Assoc", this, self, f);
  if (frame.Done()) return true;
  vxk_internal::TextSinkScope sink(out);
  sink->Text("A<1,");
  vxk_internal::WriteValueTextFresh(*sink, fUndefinedValue);
  // The pairs come a batch at a time with their tree nodes already fetched;
  // their values and texts are fetched ahead too, so that the cache misses
  // of a large document overlap instead of coming one after the other.
  fTree.VisitInBatches([&](const KIQSValue* const* keys, const KQSValue* const* values, int n) {
    for (int i = 0; i < n; ++i) {
      vxk_internal::PrefetchValue(keys[i]->Value());
      vxk_internal::PrefetchValue(*values[i]);
    }
    for (int i = 0; i < n; ++i) {
      vxk_internal::PrefetchText(keys[i]->Value());
      vxk_internal::PrefetchText(*values[i]);
    }
    for (int i = 0; i < n; ++i) {
      sink->Put(',');
      vxk_internal::WriteValueText(*sink, keys[i]->Value(), f);
      sink->Put('=');
      vxk_internal::WriteValueText(*sink, *values[i], f);
    }
  });
  sink->Put('>');
  return true;
}

KQSValue KAssocVal::ReferenceDebugStr(short mode) {
  char address[32];
  std::snprintf(address, sizeof address, "%lx\t", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)));
  std::string text = address;
  if (mode == 1) {
    T23Iter<KIQSValue, KQSValue> it(fTree);
    const KIQSValue* k;
    const KQSValue* v;
    bool first = true;
    while (it.Next(k, v)) {
      if (!k->Value().IsType(vxk_types::kString)) continue;
      if (!first) text += ", ";
      first = false;
      const KString& s = k->Value().String();
      text.append(static_cast<const char*>(s), s.Length());
    }
  }
  return KQSValue(KString(text.data(), static_cast<unsigned>(text.size())));
}
