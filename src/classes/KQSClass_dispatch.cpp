// The feature operations of KQSClass: dot access, invocation and
// assignment through the class's feature tables. A feature is named by a
// String (found case-insensitively, through the extends chain for the
// instance operations) or by a SlotIndex value (a position in this class's
// own table). Each functor gets a fresh call context and reports failure
// through its status. Classes with features of their own kind (Assoc,
// Record, Undefined) override these.
#include <ostream>

#include "base/debug_line.h"
#include "classes/classes_internal.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/type_numbers.h"

using vxk_internal::DebugText;
using vxk_internal::kFeatureAutoUndefined;
using vxk_internal::kFeatureNoFunctor;
using vxk_internal::kFeatureNotFound;

namespace {

enum class NameKind { kString, kSlotIndex, kOther };

NameKind KindOf(const KQSValue& name) {
  if (name.IsString()) return NameKind::kString;
  if (name.Type() == vxk_types::kSlotIndex) return NameKind::kSlotIndex;
  return NameKind::kOther;
}

// The receiver as the instance operations show it: the value's text form.
struct Receiver {
  const KQSClass& c;
  void* data;
};

std::ostream& operator<<(std::ostream& out, const Receiver& r) {
  KQSClassFormatter f;
  return r.c.FormattedOutput(r.data, out, &f);
}

// Feature names are Strings or SlotIndex values; anything else is reported
// and finds nothing. The instance operations show the receiver as a value,
// the class operations by its class name.
template <class Shown>
bool UsableName(const char* op, const Shown& receiver, const KQSValue& name) {
  if (KindOf(name) != NameKind::kOther) return true;
  DebugText("KQSClass::", op, "( ", receiver, ".", name, " ) unknown feature type\n");
  return false;
}

const char* NameText(const KQSValue& name) { return name.String(); }
long NamePosition(const KQSValue& name) { return static_cast<long>(name); }

// The slot a name designates: found by name (with inheritance for the Find
// operations) or by position in this class's own table.
template <class Slot>
Slot* Designated(const KQSClass& c, const KQSValue& name,
                 Slot* (KQSClass::*byName)(const char*) const,
                 Slot* (KQSClass::*byIndex)(long) const) {
  return KindOf(name) == NameKind::kString ? (c.*byName)(NameText(name))
                                           : (c.*byIndex)(NamePosition(name));
}

long NoFunctor(const char* op, const KQSClass_Slot& slot) {
  DebugText("KQSClass::", op, "...No Functor for ", slot.SlotName(), '\n');
  return kFeatureNoFunctor;
}

// Runs a checked invocation's argument check; true when the call goes on,
// otherwise *result holds what the operation returns (AutoUndefined: out
// becomes Undefined and the call succeeds without running).
bool ArgumentsPass(const KQSClass_Slot& slot, long argc, KQSValue* argv, KQSValue& out,
                   long* result) {
  const long r = slot.CheckArguments(argc, argv);
  if (r == 0) return true;
  if (r == kFeatureAutoUndefined) {
    out = KQSValue();
    *result = 0;
  } else {
    *result = r;
  }
  return false;
}

}  // namespace

KQSValue KQSClass::Features(void* /*data*/) {
  KQSValue list = KQSValue::List();
  for (const auto* table :
       {fHasMethods ? &fMethods : nullptr, fHasAttributes ? &fAttributes : nullptr}) {
    if (table == nullptr) continue;
    for (const KQSClass_Slot* slot : *table) {
      if (slot != nullptr) list.ListAppendValue(KQSValue(slot->SlotName()));
    }
  }
  return list;
}

bool KQSClass::IsFeature(void* /*data*/, const KQSValue& name) const {
  switch (KindOf(name)) {
    case NameKind::kString:
      return FindAttribute(NameText(name)) != nullptr || FindMethod(NameText(name)) != nullptr;
    case NameKind::kSlotIndex:
      DebugText("FIXME...KQSClass::IsFeature( ", name, " ) is not supported for kSlotIndex\n");
      return false;
    case NameKind::kOther:
      break;
  }
  return false;
}

// ===== instance operations =====

long KQSClass::Dot(void* data, const KQSValue& name, KQSValue& out, KQSValue* /*env*/) const {
  if (!UsableName("Dot", Receiver{*this, data}, name)) return kFeatureNotFound;
  if (KQSClass_Attribute* a =
          Designated(*this, name, &KQSClass::FindAttribute, &KQSClass::IndexToAttribute)) {
    KQSClass_AttributeFunctor* f = a->GetFunctor();
    if (f == nullptr) return NoFunctor("Dot", *a);
    KQSClass_env ctx(nullptr);
    out = (*f)(this, ctx, data, nullptr);
    return ctx.Status();
  }
  KQSClass_ClassAttribute* ca =
      Designated(*this, name, &KQSClass::FindClassAttribute, &KQSClass::IndexToClassAttribute);
  if (ca == nullptr) return kFeatureNotFound;
  DebugText("KQSClass::Dot( ", Receiver{*this, data}, ".", name,
            " ) delegated to class attribute\n");
  KQSClass_ClassAttributeFunctor* f = ca->GetFunctor();
  if (f == nullptr) return NoFunctor("Dot", *ca);
  KQSClass_env ctx(nullptr);
  out = (*f)(this, ctx, nullptr);
  return ctx.Status();
}

long KQSClass::DotInvoke(void* data, const KQSValue& name, long argc, KQSValue* argv, KQSValue& out,
                         KQSValue* /*env*/) const {
  if (!UsableName("DotInvoke", Receiver{*this, data}, name)) return kFeatureNotFound;
  if (KQSClass_Method* m =
          Designated(*this, name, &KQSClass::FindMethod, &KQSClass::IndexToMethod)) {
    long result = 0;
    if (!ArgumentsPass(*m, argc, argv, out, &result)) return result;
    KQSClass_MethodFunctor* f = m->GetFunctor();
    if (f == nullptr) return NoFunctor("DotInvoke", *m);
    KQSClass_env ctx(nullptr);
    out = (*f)(this, ctx, data, argc, argv);
    return ctx.Status();
  }
  KQSClass_ClassMethod* cm =
      Designated(*this, name, &KQSClass::FindClassMethod, &KQSClass::IndexToClassMethod);
  if (cm == nullptr) return kFeatureNotFound;
  DebugText("KQSClass::DotInvoke( ", Receiver{*this, data}, ".", name,
            " ) delegated to class method\n");
  KQSClass_ClassMethodFunctor* f = cm->GetFunctor();
  if (f == nullptr) return NoFunctor("DotInvoke", *cm);
  KQSClass_env ctx(nullptr);
  out = (*f)(this, ctx, argc, argv);
  return ctx.Status();
}

long KQSClass::DotValuePut(void* data, const KQSValue& name, const KQSValue& value) const {
  if (!UsableName("DotValuePut", Receiver{*this, data}, name)) return kFeatureNotFound;
  KQSClass_Attribute* a =
      Designated(*this, name, &KQSClass::FindAttribute, &KQSClass::IndexToAttribute);
  if (a == nullptr) {
    DebugText("KQSClass::DotValuePut...no such slot=", name, '\n');
    return kFeatureNotFound;
  }
  KQSClass_AttributeFunctor* f = a->GetFunctor();
  if (f == nullptr) return NoFunctor("DotValuePut", *a);
  KQSClass_env ctx(nullptr);
  (*f)(this, ctx, data, &value);
  return ctx.Status();
}

// ===== class operations =====

long KQSClass::ClassDot(KThread* thread, const KQSValue& name, KQSValue& out,
                        KQSValue* /*env*/) const {
  if (!UsableName("ClassDot", ClassName(), name)) return kFeatureNotFound;
  KQSClass_ClassAttribute* ca =
      Designated(*this, name, &KQSClass::FindClassAttribute, &KQSClass::IndexToClassAttribute);
  if (ca == nullptr) {
    DebugText("KQSClass::ClassDot...no such slot=", name, '\n');
    return kFeatureNotFound;
  }
  KQSClass_ClassAttributeFunctor* f = ca->GetFunctor();
  if (f == nullptr) return NoFunctor("ClassDot", *ca);
  KQSClass_env ctx(thread);
  out = (*f)(this, ctx, nullptr);
  return ctx.Status();
}

long KQSClass::ClassDotInvoke(KThread* thread, const KQSValue& name, long argc, KQSValue* argv,
                              KQSValue& out, KQSValue* /*env*/) const {
  if (!UsableName("ClassDotInvoke", ClassName(), name)) return kFeatureNotFound;
  KQSClass_ClassMethod* cm =
      Designated(*this, name, &KQSClass::FindClassMethod, &KQSClass::IndexToClassMethod);
  if (cm == nullptr) return kFeatureNotFound;
  long result = 0;
  if (!ArgumentsPass(*cm, argc, argv, out, &result)) return result;
  KQSClass_ClassMethodFunctor* f = cm->GetFunctor();
  if (f == nullptr) return NoFunctor("ClassDotInvoke", *cm);
  KQSClass_env ctx(thread);
  out = (*f)(this, ctx, argc, argv);
  return ctx.Status();
}

long KQSClass::ClassDotValuePut(KThread* thread, const KQSValue& name,
                                const KQSValue& value) const {
  if (!UsableName("ClassDotValuePut", ClassName(), name)) return kFeatureNotFound;
  KQSClass_ClassAttribute* ca =
      Designated(*this, name, &KQSClass::FindClassAttribute, &KQSClass::IndexToClassAttribute);
  if (ca == nullptr) {
    DebugText("KQSClass::ClassDotValuePut...no such slot=", name, '\n');
    return kFeatureNotFound;
  }
  KQSClass_ClassAttributeFunctor* f = ca->GetFunctor();
  if (f == nullptr) return NoFunctor("ClassDotValuePut", *ca);
  KQSClass_env ctx(thread);
  (*f)(this, ctx, &value);
  return ctx.Status();
}
