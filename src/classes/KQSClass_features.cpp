// The feature tables of KQSClass: adding slots, finding them by name or
// position (own tables, then the extends chain through the registry),
// resolving and resetting a class definition, the reflection views, and
// the KQSClassReflection setters that take those views back.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "base/check.h"
#include "base/debug_line.h"
#include "classes/classes_internal.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/text/KStringKey.h"
#include "vxkernel/text/T23Tree.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/type_numbers.h"

using vxk_internal::DebugText;

namespace {

using NameIndex = T23Tree<KStringKey, KQSClass_Slot*>;

using vxk_internal::kMaxFeatureName;
using vxk_internal::kMaxSlots;

KStringKey UpperKey(const char* name) {
  KStringKey key(name);
  key.Upper();
  return key;
}

using vxk_internal::SameFolded;

// A table's name index: the T23Tree by upper-cased name, with the same
// pairs again in a FeatureHash that answers ASCII names in one probe. The
// class keeps it through its T23Tree pointer (the tree's destructor is
// virtual); AddSlot makes every index of this kind.
struct FeatureNames : NameIndex {
  vxk_internal::FeatureHash hash;
  // Slots that a later slot replaced at their position. Their names may
  // still lead to them, so they live until the table is reset.
  std::vector<KQSClass_Slot*> replaced;
};

const FeatureNames* Names(const NameIndex* index) { return static_cast<const FeatureNames*>(index); }
FeatureNames* Names(NameIndex* index) { return static_cast<FeatureNames*>(index); }

// The index changes through this one, which keeps the tree and the hash
// holding the same pairs. When the hash cannot take a pair (no memory),
// the tree still can, and a non-ASCII key is put in its place so that the
// hash stops answering rather than answer wrongly.
void IndexAdd(NameIndex* index, const KStringKey& key, KQSClass_Slot* slot) {
  index->Add(key, slot);
  if (!Names(index)->hash.Put(static_cast<const char*>(key), slot)) Names(index)->hash.Poison();
}

// Tables up to this size are searched by scanning their names rather than
// through the index: the index lookup must build a KStringKey (a heap
// copy of the name), and a scan that mostly stops at a name's first byte
// is cheaper than that for a class of ordinary size.
constexpr size_t kScanLimit = 32;

// The slot of a name. Both ways give the same answer: until a slot is
// replaced, a table with exactly one slot of a name has it in the index
// under that name, and a table with several answers from the index; once
// one is replaced, the index alone knows where its name leads.
KQSClass_Slot* Lookup(const std::vector<KQSClass_Slot*>& table, const NameIndex* index,
                      const char* name) {
  if (index == nullptr || name == nullptr) return nullptr;
  KQSClass_Slot* hit = nullptr;
  if (Names(index)->hash.Find(name, &hit)) return hit;
  if (table.size() <= kScanLimit && Names(index)->replaced.empty()) {
    KQSClass_Slot* found = nullptr;
    bool several = false;
    for (KQSClass_Slot* slot : table) {
      if (slot == nullptr || !SameFolded(slot->SlotName(), name)) continue;
      several = found != nullptr;
      if (several) break;
      found = slot;
    }
    if (!several) return found;
  }
  KQSClass_Slot* slot = nullptr;
  index->Get(UpperKey(name), slot);
  return slot;
}

// A slot sits at the position its SlotIndex names (AddSlot keeps this).
KQSClass_Slot* At(const std::vector<KQSClass_Slot*>& table, bool used, long index) {
  if (!used || index < 0 || index >= static_cast<long>(table.size())) return nullptr;
  KQSClass_Slot* slot = table[static_cast<size_t>(index)];
  VXK_DCHECK(slot == nullptr || slot->SlotIndex() == index);
  return slot;
}

// One feature table with its name index and Has flag, as the Add, Reset
// and view operations see it.
struct Table {
  std::vector<KQSClass_Slot*>& slots;
  NameIndex*& index;
  bool& has;
};

// Steps 1-5 of adding a feature; make builds the slot for its position.
// A slot already at that position leaves the table but stays alive (on the
// index's replaced list) and its name entry stays: the name still leads to
// it unless the new slot's name is the same.
template <class Slot, class Make>
Slot* AddSlot(const KQSClass& c, const char* op, Table t, const char* name, long index, Make make) {
  if (name == nullptr || std::strlen(name) >= kMaxFeatureName) {
    DebugText("KQSClass::", op, "( ", c.ClassName(), " ) bad feature name\n");
    return nullptr;
  }
  if (index < 0) index = static_cast<long>(t.slots.size());
  if (index >= kMaxSlots) {
    DebugText("KQSClass::", op, "( ", c.ClassName(), ".", name, " ) index out of range=", index,
              '\n');
    return nullptr;
  }
  // A table is in use exactly when it has its name index.
  VXK_DCHECK(t.has == (t.index != nullptr));
  if (!t.has) {
    t.index = new FeatureNames;
    t.has = true;
  }
  if (t.slots.size() < static_cast<size_t>(index) + 1)
    t.slots.resize(static_cast<size_t>(index) + 1, nullptr);
  KQSClass_Slot*& place = t.slots[static_cast<size_t>(index)];
  std::vector<KQSClass_Slot*>& replaced = Names(t.index)->replaced;
  if (place != nullptr) replaced.reserve(replaced.size() + 1);  // before anything changes
  Slot* slot = make(index);
  VXK_DCHECK(slot->SlotIndex() == index);
  if (place != nullptr) replaced.push_back(place);
  place = slot;
  IndexAdd(t.index, UpperKey(name), slot);
  return slot;
}

void ResetTable(Table t) {
  for (KQSClass_Slot* slot : t.slots) delete slot;
  t.slots.clear();
  if (t.index != nullptr)
    for (KQSClass_Slot* slot : Names(t.index)->replaced) delete slot;
  delete t.index;
  t.index = nullptr;
  t.has = false;
}

// The extends chain of c, searched depth first in declaration order for a
// name c itself lacks. A class reached a second time is not searched
// again: its answer would be the same, and a cycle of extends names must
// not recurse for ever.
template <class Slot>
Slot* FindInherited(const KQSClass& c, const char* op, const char* name,
                    Slot* (KQSClass::*own)(const char*) const, std::vector<const KQSClass*>& seen) {
  seen.push_back(&c);
  for (const KString& superName : c.Extends()) {
    const KQSClass* super = KQSValue::NameToClass(superName);
    if (super == nullptr) continue;
    if (super->ImplType() != c.ImplType()) {
      DebugText("KQSClass::", op, "( ", c.ClassName(), ".", name,
                " ) dissimilar impltypes for extends: ", superName, '\n');
      continue;
    }
    if (std::find(seen.begin(), seen.end(), super) != seen.end()) continue;
    if (Slot* slot = (super->*own)(name)) return slot;
    if (Slot* slot = FindInherited(*super, op, name, own, seen)) return slot;
  }
  return nullptr;
}

template <class Slot>
Slot* Find(const KQSClass& c, const char* op, const char* name,
           Slot* (KQSClass::*own)(const char*) const) {
  if (Slot* slot = (c.*own)(name)) return slot;
  if (c.Extends().empty() || name == nullptr) return nullptr;
  std::vector<const KQSClass*> seen;
  return FindInherited(c, op, name, own, seen);
}

// Resolves names into classes of the same implementation kind, reporting
// the names that cannot be used.
void ResolveNames(const KQSClass& c, const std::vector<KString>& names,
                  std::vector<const KQSClass*>& into, const char* notFound,
                  const char* dissimilar) {
  for (const KString& name : names) {
    const KQSClass* found = KQSValue::NameToClass(name);
    if (found == nullptr) {
      DebugText("KQSClass::CompleteClassInstallation( ", c.ClassName(), notFound, name, '\n');
    } else if (found->ImplType() != c.ImplType()) {
      DebugText("KQSClass::CompleteClassInstallation( ", c.ClassName(), dissimilar, name, '\n');
    } else {
      into.push_back(found);
    }
  }
}

KQSValue NamesValue(const std::vector<KString>& names) {
  KQSValue list = KQSValue::List();
  for (const KString& name : names) list.ListAppendValue(KQSValue(name));
  return list;
}

// Entries (name, SlotIndex, AccessLevel, signature text); Undefined for a
// slot without signature, which the setters read back as none (a "" would
// come back as Void()).
KQSValue SlotsValue(const std::vector<KQSClass_Slot*>& table, bool used) {
  KQSValue list = KQSValue::List();
  if (!used) return list;
  for (const KQSClass_Slot* slot : table) {
    if (slot == nullptr) continue;
    const KSignature* sig = slot->Signature();
    list.ListAppendValue(KQSValue::List(KQSValue(slot->SlotName()), KQSValue(slot->SlotIndex()),
                                        KQSValue(slot->AccessLevel()),
                                        sig != nullptr ? KQSValue(sig->ToString()) : KQSValue()));
  }
  return list;
}

// A setter entry: a List of four whose name is a String and whose index is
// an Integer; the rest is checked by the caller.
bool Entry(const char* op, const KQSClass& c, const KQSValue& list, long i, KQSValue* parts) {
  const KQSValue e = list.ListGetValue(i);
  if (e.IsList() && e.ListEntries() == 4) {
    for (long k = 0; k < 4; ++k) parts[k] = e.ListGetValue(k + 1);
    if (parts[0].IsString() && parts[2].Type() == vxk_types::kInteger) return true;
  }
  DebugText("KQSClassReflection::", op, "( ", c.ClassName(), " ) bad entry ", i, ": ", e, '\n');
  return false;
}

bool IsList(const char* op, const KQSClass& c, const KQSValue& list) {
  if (list.IsList()) return true;
  DebugText("KQSClassReflection::", op, "( ", c.ClassName(), " ) not a List: ", list, '\n');
  return false;
}

// The signature element of a setter entry: a String, or Undefined for none.
bool SignatureText(const char* op, const KQSClass& c, long i, const KQSValue& sig) {
  if (sig.IsString() || sig.Type() == vxk_types::kUndefined) return true;
  DebugText("KQSClassReflection::", op, "( ", c.ClassName(), " ) bad signature in entry ", i, ": ",
            sig, '\n');
  return false;
}

const char* SignatureOf(const KQSValue& sig) {
  return sig.IsString() ? static_cast<const char*>(sig.String()) : nullptr;
}

}  // namespace

// ===== building =====

KQSClass_ClassMethod* KQSClass::AddClassMethod(const char* name, const char* signature,
                                               KQSClass_ClassMethodFunctor* f, long index,
                                               long access, bool ownsFunctor) {
  return AddSlot<KQSClass_ClassMethod>(
      *this, "AddClassMethod", {fClassMethods, fClassMethodIndex, fHasClassMethods}, name, index,
      [&](long at) {
        return new KQSClass_ClassMethod(name, signature, f, at, access, ownsFunctor);
      });
}

KQSClass_Method* KQSClass::AddMethod(const char* name, const char* signature,
                                     KQSClass_MethodFunctor* f, long index, long access,
                                     bool ownsFunctor) {
  return AddSlot<KQSClass_Method>(
      *this, "AddMethod", {fMethods, fMethodIndex, fHasMethods}, name, index,
      [&](long at) { return new KQSClass_Method(name, signature, f, at, access, ownsFunctor); });
}

KQSClass_ClassAttribute* KQSClass::AddClassAttribute(const char* name, const char* signature,
                                                     KQSClass_ClassAttributeFunctor* f, long index,
                                                     long access, bool ownsFunctor) {
  return AddSlot<KQSClass_ClassAttribute>(
      *this, "AddClassAttribute", {fClassAttributes, fClassAttributeIndex, fHasClassAttributes},
      name, index, [&](long at) {
        return new KQSClass_ClassAttribute(name, signature, f, at, access, ownsFunctor);
      });
}

KQSClass_Attribute* KQSClass::AddAttribute(const char* name, const char* signature,
                                           KQSClass_AttributeFunctor* f, long index, long access,
                                           bool ownsFunctor) {
  return AddSlot<KQSClass_Attribute>(
      *this, "AddAttribute", {fAttributes, fAttributeIndex, fHasAttributes}, name, index,
      [&](long at) { return new KQSClass_Attribute(name, signature, f, at, access, ownsFunctor); });
}

KQSClass_Constant* KQSClass::AddConstant(const char* name, const KQSValue& value, long index,
                                         long access) {
  return AddSlot<KQSClass_Constant>(
      *this, "AddConstant", {fConstants, fConstantIndex, fHasConstants}, name, index,
      [&](long at) { return new KQSClass_Constant(name, value, at, access); });
}

void KQSClass::ResetClassDefinition() {
  fExtends.clear();
  fImplements.clear();
  fExtendsClasses.clear();
  fImplementsClasses.clear();
  ResetTable({fClassMethods, fClassMethodIndex, fHasClassMethods});
  ResetTable({fMethods, fMethodIndex, fHasMethods});
  ResetTable({fClassAttributes, fClassAttributeIndex, fHasClassAttributes});
  ResetTable({fAttributes, fAttributeIndex, fHasAttributes});
  ResetTable({fConstants, fConstantIndex, fHasConstants});
}

void KQSClass::CompleteClassInstallation() {
  ResolveNames(*this, fExtends, fExtendsClasses,
               " ) extends not found: ", " ) dissimilar impltypes for extends: ");
  ResolveNames(*this, fImplements, fImplementsClasses,
               " ) Implements not found: ", " ) dissimilar impltypes for Implements: ");
}

// ===== lookup =====

KQSClass_ClassMethod* KQSClass::NameToClassMethod(const char* name) const {
  return static_cast<KQSClass_ClassMethod*>(Lookup(fClassMethods, fClassMethodIndex, name));
}
KQSClass_Method* KQSClass::NameToMethod(const char* name) const {
  return static_cast<KQSClass_Method*>(Lookup(fMethods, fMethodIndex, name));
}
KQSClass_ClassAttribute* KQSClass::NameToClassAttribute(const char* name) const {
  return static_cast<KQSClass_ClassAttribute*>(
      Lookup(fClassAttributes, fClassAttributeIndex, name));
}
KQSClass_Attribute* KQSClass::NameToAttribute(const char* name) const {
  return static_cast<KQSClass_Attribute*>(Lookup(fAttributes, fAttributeIndex, name));
}
KQSClass_Constant* KQSClass::NameToConstant(const char* name) const {
  return static_cast<KQSClass_Constant*>(Lookup(fConstants, fConstantIndex, name));
}

KQSClass_ClassMethod* KQSClass::IndexToClassMethod(long index) const {
  return static_cast<KQSClass_ClassMethod*>(At(fClassMethods, fHasClassMethods, index));
}
KQSClass_Method* KQSClass::IndexToMethod(long index) const {
  return static_cast<KQSClass_Method*>(At(fMethods, fHasMethods, index));
}
KQSClass_ClassAttribute* KQSClass::IndexToClassAttribute(long index) const {
  return static_cast<KQSClass_ClassAttribute*>(At(fClassAttributes, fHasClassAttributes, index));
}
KQSClass_Attribute* KQSClass::IndexToAttribute(long index) const {
  return static_cast<KQSClass_Attribute*>(At(fAttributes, fHasAttributes, index));
}
KQSClass_Constant* KQSClass::IndexToConstant(long index) const {
  return static_cast<KQSClass_Constant*>(At(fConstants, fHasConstants, index));
}

KQSClass_ClassMethod* KQSClass::FindClassMethod(const char* name) const {
  return Find(*this, "FindClassMethod", name, &KQSClass::NameToClassMethod);
}
KQSClass_Method* KQSClass::FindMethod(const char* name) const {
  return Find(*this, "FindMethod", name, &KQSClass::NameToMethod);
}
KQSClass_ClassAttribute* KQSClass::FindClassAttribute(const char* name) const {
  return Find(*this, "FindClassAttribute", name, &KQSClass::NameToClassAttribute);
}
KQSClass_Attribute* KQSClass::FindAttribute(const char* name) const {
  return Find(*this, "FindAttribute", name, &KQSClass::NameToAttribute);
}

// ===== reflection views =====

KQSValue KQSClass::ExtendsValue() const { return NamesValue(fExtends); }
KQSValue KQSClass::ImplementsValue() const { return NamesValue(fImplements); }
KQSValue KQSClass::ClassMethodsValue() const { return SlotsValue(fClassMethods, fHasClassMethods); }
KQSValue KQSClass::MethodsValue() const { return SlotsValue(fMethods, fHasMethods); }
KQSValue KQSClass::ClassAttributesValue() const {
  return SlotsValue(fClassAttributes, fHasClassAttributes);
}
KQSValue KQSClass::AttributesValue() const { return SlotsValue(fAttributes, fHasAttributes); }

KQSValue KQSClass::ConstantsValue() const {
  KQSValue list = KQSValue::List();
  if (!fHasConstants) return list;
  for (const KQSClass_Slot* slot : fConstants) {
    if (slot == nullptr) continue;
    const auto* constant = static_cast<const KQSClass_Constant*>(slot);
    list.ListAppendValue(KQSValue::List(KQSValue(slot->SlotName()), KQSValue(slot->SlotIndex()),
                                        KQSValue(slot->AccessLevel()), constant->Value()));
  }
  return list;
}

// ===== KQSClassReflection setters =====

void KQSClassReflection::Extends(const KQSValue& list) {
  if (!IsList("Extends", *this, list)) return;
  for (long i = 1; i <= list.ListEntries(); ++i) {
    const KQSValue name = list.ListGetValue(i);
    if (name.IsString())
      AddExtends(name.String());
    else
      DebugText("KQSClassReflection::Extends( ", ClassName(), " ) bad entry ", i, ": ", name, '\n');
  }
}

void KQSClassReflection::Implements(const KQSValue& list) {
  if (!IsList("Implements", *this, list)) return;
  for (long i = 1; i <= list.ListEntries(); ++i) {
    const KQSValue name = list.ListGetValue(i);
    if (name.IsString())
      AddImplements(name.String());
    else
      DebugText("KQSClassReflection::Implements( ", ClassName(), " ) bad entry ", i, ": ", name,
                '\n');
  }
}

// The four feature setters differ only in the Add operation they call.
#define VXK_FEATURE_SETTER(Setter, Add)                                                            \
  void KQSClassReflection::Setter(const KQSValue& list) {                                          \
    if (!IsList(#Setter, *this, list)) return;                                                     \
    for (long i = 1; i <= list.ListEntries(); ++i) {                                               \
      KQSValue e[4];                                                                               \
      if (!Entry(#Setter, *this, list, i, e) || !SignatureText(#Setter, *this, i, e[1])) continue; \
      Add(e[0].String(), SignatureOf(e[1]), nullptr, static_cast<long>(e[2]),                      \
          e[3].Type() == vxk_types::kInteger ? static_cast<long>(e[3]) : 1, false);                       \
    }                                                                                              \
  }
VXK_FEATURE_SETTER(ClassMethods, AddClassMethod)
VXK_FEATURE_SETTER(Methods, AddMethod)
VXK_FEATURE_SETTER(ClassAttributes, AddClassAttribute)
VXK_FEATURE_SETTER(Attributes, AddAttribute)
#undef VXK_FEATURE_SETTER

void KQSClassReflection::Constants(const KQSValue& list) {
  if (!IsList("Constants", *this, list)) return;
  for (long i = 1; i <= list.ListEntries(); ++i) {
    KQSValue e[4];
    if (!Entry("Constants", *this, list, i, e)) continue;
    AddConstant(e[0].String(), e[1], static_cast<long>(e[2]),
                e[3].Type() == vxk_types::kInteger ? static_cast<long>(e[3]) : 1);
  }
}
