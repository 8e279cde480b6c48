// KQSValue: construction from plain types, typed accessors, forwards that
// need more than one call, class access and diagnostics.
#include "vxkernel/values/KQSValue.h"

#include <cstdio>
#include <cstring>
#include <locale>
#include <ostream>
#include <sstream>

#include "base/check.h"
#include "base/debug_line.h"
#include "values/value_text_writer_internal.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/classes/KQSClassPointer.h"
#include "vxkernel/classes/KQSValueBaseClass.h"
#include "vxkernel/runtime/dbg.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/KQSValueBytes.h"
#include "vxkernel/values/KQSValueDate.h"
#include "vxkernel/values/KQSValueLong.h"
#include "vxkernel/values/KQSValueReal.h"
#include "vxkernel/values/KQSValueString.h"
#include "vxkernel/values/type_numbers.h"

using vxk_internal::DebugText;

namespace {

// Handed out by String() for values that are not Strings; built at load.
const KString gErrorString("!KQSValue error string!");

// Whether v holds storage of the kind Storage (the REQUIRES of the typed
// accessors). Storage whose class does not count it need not be a
// KQSValueBase, so only its presence is checked.
template <class Storage>
bool HoldsStorage(const KQSValue& v) {
  const KQSClass* c = v.Class();
  if (c == nullptr || !c->IsPointer() || v.User() == nullptr) return false;
  return !c->CountsStorage() || dynamic_cast<const Storage*>(v.User()) != nullptr;
}

}  // namespace

// ----- construction with new storage -----

KQSValue& KQSValue::Adopt(const KQSClass* c, KQSValueBase* storage) {
  // The new reference is taken before the old one goes, so assigning a
  // value built from this value's own payload stays safe.
  c->AddReference(storage);
  Drop();
  fClass = c;
  fData = reinterpret_cast<uintptr_t>(storage);
  return *this;
}

KQSValue::KQSValue(const float& v) : KQSValue(static_cast<double>(v)) {}

// Each stored scalar gets new storage whose one reference the value holds.
KQSValue::KQSValue(const double& v) : KQSValue(gClassReal, static_cast<KQSValueBase*>(new KQSValueReal(v))) {}

KQSValue::KQSValue(const int64& v) : KQSValue(gClassLong, static_cast<KQSValueBase*>(new KQSValueLong(v))) {}

KQSValue::KQSValue(const char* s)
    : KQSValue(gClassString, static_cast<KQSValueBase*>(KQSValueString::Make(
                                 s, s != nullptr ? static_cast<unsigned>(std::strlen(s)) : 0))) {}

KQSValue::KQSValue(const KString& s) : KQSValue(gClassString, static_cast<KQSValueBase*>(new KQSValueString(s))) {}

KQSValue::KQSValue(const KDateTime& d) : KQSValue(gClassDate, static_cast<KQSValueBase*>(new KQSValueDate(d))) {}

KQSValue KQSValue::NewTypeCodeValue(const KString& s) {
  return KQSValue(gClassTypeCode, static_cast<KQSValueBase*>(new KQSValueString(s)));
}

namespace {

// The class for a type number given with storage; reports one that cannot
// hold storage (the value then keeps the address as a plain word).
const KQSClass* StorageClassFor(short type) {
  const KQSClass* c = KQSValue::LookupOrGenerateClass(KQSValue::ProcessEnvironment(), type);
  if (!c->IsPointer()) {
    DebugText("KQSValue::KQSValue() !c->fIsPointer...type=", type, "/", c->ClassName(), '\n');
  }
  return c;
}

}  // namespace

KQSValue::KQSValue(short type, void* storage) : fClass(StorageClassFor(type)), fData(reinterpret_cast<uintptr_t>(storage)) {
  Hold();
}

KQSValue::KQSValue(short type, long data)
    : fClass(LookupOrGenerateClass(ProcessEnvironment(), type)), fData(static_cast<uintptr_t>(data)) {}

KQSValue::KQSValue(short type, const void* bytes, long length) : fClass(StorageClassFor(type)), fData(0) {
  // A class that cannot hold storage would leave the copy owned by nobody.
  if (!fClass->IsPointer()) return;
  KQSValueBase* s = KQSValueBytes::Make(bytes, length);
  fData = reinterpret_cast<uintptr_t>(s);
  Hold();
}

// ----- assignment with new storage -----

KQSValue& KQSValue::operator=(const char* s) { return *this = KString(s); }
KQSValue& KQSValue::operator=(const KString& s) { return Adopt(gClassString, new KQSValueString(s)); }
KQSValue& KQSValue::operator=(float v) { return Adopt(gClassReal, new KQSValueReal(static_cast<double>(v))); }
KQSValue& KQSValue::operator=(double v) { return Adopt(gClassReal, new KQSValueReal(v)); }
KQSValue& KQSValue::operator=(const int64& v) { return Adopt(gClassLong, new KQSValueLong(v)); }

void KQSValue::InitializeValues(KQSValue* array, long n) {
  for (long i = 0; i < n; ++i) {
    array[i].fClass = gClassUndefined;
    array[i].fData = 0;
  }
}

void KQSValue::DestroyValues(KQSValue* array, long n) {
  for (long i = 0; i < n; ++i) array[i].Drop();
}

// ----- accessors -----

KQSValue::operator double() const {
  if (fClass == gClassReal && fData != 0) return static_cast<const KQSValueReal*>(User())->Value();
  return static_cast<double>(static_cast<int32_t>(fData));
}

KQSValue::operator int64() const {
  if (fClass == gClassLong && fData != 0) return static_cast<const KQSValueLong*>(User())->Value();
  return static_cast<int64>(static_cast<int32_t>(fData));
}

const KDateTime& KQSValue::Date() const {
  VXK_DCHECK(HoldsStorage<KQSValueDate>(*this));
  return static_cast<const KQSValueDate*>(User())->Date();
}

const unsigned char* KQSValue::Bytes() const {
  VXK_DCHECK(HoldsStorage<KQSValueBytes>(*this));
  return static_cast<const KQSValueBytes*>(User())->Bytes();
}

const KString& KQSValue::String() const {
  if (Type() == vxk_types::kString && fData != 0) {
    return static_cast<const KQSValueString*>(User())->String();
  }
  return gErrorString;
}

KQSValue::operator KString() const { return String(); }

KQSValue::operator const char*() const {
  if (Type() == vxk_types::kString && fData != 0) {
    return static_cast<const KQSValueString*>(User())->String();
  }
  return nullptr;
}

// ----- forwards -----

KQSValue KQSValue::Features() const { return const_cast<KQSClass*>(fClass)->Features(Instance()); }

KQSValue KQSValue::DotValueGet(const KQSValue& name, KQSValue* env) const {
  KQSValue out;
  fClass->Dot(Instance(), name, out, env);
  return out;
}

long KQSValue::DotInvoke(const KQSValue& name, short argc, KQSValue* argv, KQSValue& out, KQSValue* env) const {
  long r = fClass->DotInvoke(Instance(), name, argc, argv, out, env);
  if (r != 0 && r != -2) out = Error(r);
  return r;
}

long KQSValue::Invoke(long argc, KQSValue* argv, KQSValue& out) const {
  long r = fClass->Invoke(Instance(), argc, argv, out);
  if (r != 0) out = Error(r);
  return r;
}

bool KQSValue::CoerceTo(short type) {
  if (type == Type()) return true;
  if (type == vxk_types::kBoolean) {
    const bool b = fClass->CoerceToBoolean(Instance());
    Become(gClassBoolean, b ? 1 : 0);
    return true;
  }
  // The class writes into this value while it still reads the old payload
  // through a copy of the word, which keeps the storage alive meanwhile.
  const KQSValue keep(*this);
  return keep.fClass->CoerceTo(keep.Instance(), type, *this);
}

KString KQSValue::FormattedString() const { return vxk_internal::FormattedStringOf(*this); }

KString KQSValue::DisplayString() const {
  std::ostringstream s;
  s.imbue(std::locale::classic());
  KQSClassFormatter f;
  fClass->DisplayOutput(Instance(), s, &f);
  const std::string text = s.str();
  return KString(text.c_str(), static_cast<unsigned>(text.size()));
}

std::ostream& operator<<(std::ostream& out, const KQSValue& v) {
  // Imbuing re-reads every cached facet; a stream (and buffer) already in
  // the classic locale is left as it is, which is the same result.
  const std::locale& classic = std::locale::classic();
  if (!(out.getloc() == classic) || out.rdbuf() == nullptr || !(out.rdbuf()->getloc() == classic)) {
    out.imbue(classic);
  }
  KQSClassFormatter f;
  vxk_internal::TextSink sink(out);
  vxk_internal::WriteValueText(sink, v, &f);
  return out;
}

// ----- diagnostics -----

void KQSValue::AssertClass() {
  const intptr_t word = reinterpret_cast<intptr_t>(fClass);
  if (fClass != nullptr && (word < -255 || word > 255)) return;
  if (fClass == nullptr) {
    DebugText("KQSValue::AssertClass( fClass == 0 )\n");
    dbg_call_debugger(nullptr, "KQSValue::AssertClass()");
  } else {
    DebugText("KQSValue::AssertClass()\n");
    dbg_call_debugger(nullptr, "KQSValue::AssertClass( fClass != 0 )");
  }
  // Nothing is released: the class word cannot be trusted.
  fClass = gClassInteger;
  fData = Word(kBadClassMarker);
}

void KQSValue::AssertInstance() const {
  if (fData != 0) return;
  DebugText("KQSValue::AssertInstance()\n");
  dbg_call_debugger(nullptr, "KQSValue::AssertInstance()");
}

// ----- classes -----

bool KQSValue::AddProcessClass(KQSClass* c, unsigned char complete) {
  const bool added = gProcessEnvironment != nullptr && gProcessEnvironment->AddProcessClass(c);
  if (added && complete) c->CompleteClassDefinition();
  return added;
}

const KQSClass* KQSValue::NameToClass(const KString& name) {
  return gProcessEnvironment != nullptr ? gProcessEnvironment->LookupByName(name) : nullptr;
}

const KQSClass* KQSValue::NumberToClass(short n) {
  return gProcessEnvironment != nullptr ? gProcessEnvironment->LookupByNumber(n) : nullptr;
}

bool KQSValue::IsObjectType(short type) {
  if (type == kNoClassNumber || type == vxk_types::kTypeCode) return true;
  const KQSClass* c = NumberToClass(type);
  if (c == nullptr) return true;
  return c->CanDot() != 0 || c->HasMethods() || c->HasAttributes();
}

namespace {

const KQSClassPointer* CountedClass(short type) {
  const KQSClass* c = KQSValue::NumberToClass(type);
  return c != nullptr && c->IsPointer() ? static_cast<const KQSClassPointer*>(c) : nullptr;
}

}  // namespace

long KQSValue::ObjCount(short type) {
  const KQSClassPointer* c = CountedClass(type);
  return c != nullptr ? c->ObjCount() : 0;
}

long KQSValue::RefCount(short type) {
  const KQSClassPointer* c = CountedClass(type);
  return c != nullptr ? c->RefCount() : 0;
}

long KQSValue::RefTotal(short type) {
  const KQSClassPointer* c = CountedClass(type);
  return c != nullptr ? c->RefTotal() : 0;
}

const KQSClass* KQSValue::LookupOrGenerateClass(KOPPEnvironment* environment, short type) {
  if (environment == nullptr) environment = gProcessEnvironment;
  const KQSClass* found = environment != nullptr ? environment->LookupByNumber(type) : nullptr;
  if (found != nullptr) return found;
  DebugText("KQSValue::LookupOrGenerateClass() Deprecated KQSValueBaseClass constructor: ", type, '\n');
  char name[20];
  std::snprintf(name, sizeof name, "type_%ld", static_cast<long>(type));
  auto* generated = new KQSValueBaseClass(name, type);
  if (environment != nullptr && environment->AddClass(generated)) return generated;
  DebugText("KQSValue::LookupOrGenerateClass()...Cannot AddClass(). Probably already installed\n");
  found = environment != nullptr ? environment->LookupByNumber(type) : nullptr;
  if (found != nullptr) {
    delete generated;
    return found;
  }
  DebugText("KQSValue::LookupOrGenerateClass()...Strange. Can't add it or find it.\n");
  return generated;
}
