/// \file
/// KQSValueBaseClass: the base of every class whose values live in
/// KQSValueBase storage. It keeps the storage's reference count and the
/// class counters, and forwards length, order, features, subscripting and
/// invocation to the storage's virtual operations.
///
/// Thread rules: those of KQSClassPointer; the storage count itself is a
/// plain counter (values sharing storage stay on one thread at a time).
#ifndef VXKERNEL_CLASSES_KQSVALUEBASECLASS_H_
#define VXKERNEL_CLASSES_KQSVALUEBASECLASS_H_

#include <cstdint>

#include "vxkernel/classes/KQSClassPointer.h"
#include "vxkernel/export.h"
#include "vxkernel/values/KQSValueBase.h"

/// The base of the storage classes: data is a KQSValueBase (null for a
/// value without storage), owned jointly by the values pointing at it,
/// whose reference count this class keeps inline.
class VXKERNEL_EXPORT KQSValueBaseClass : public KQSClassPointer {
 public:
  /// A storage class called name (copied) with number; counts storage.
  KQSValueBaseClass(const char* name, short number);

  /// The storage's Length; 0 without storage.
  long Length(void* data) const override;
  /// The storage's order (by default identity: 0 for the same object, else
  /// by address); a value without storage comes first, two without are
  /// equal. ignoreCase is not passed on.
  int Compare(void* a, void* b, bool ignoreCase) const override;
  /// 1 when Compare says 0, else 0.
  int Equal(void* a, void* b) const override;
  /// The storage's feature list; Undefined without storage.
  KQSValue Features(void* data) override;
  /// The storage's answer; false without storage.
  bool IsFeature(void* data, const KQSValue& name) const override;
  /// Forwarded to the storage; when the class has attributes of its own, a
  /// String that FindAttribute resolves is passed as that attribute's
  /// SlotIndex. -1 without storage; otherwise the storage's status.
  long Dot(void* data, const KQSValue& name, KQSValue& out, KQSValue* env) const override;
  /// Reads the feature through the storage's Dot; the arguments are not
  /// used. When the feature is a value that can be called, returns -2 with
  /// that value in out and the receiver in *env (when env is not null): the
  /// caller then invokes out with the arguments. Otherwise the Dot status
  /// (0 with the feature's value in out); -1 without storage.
  long DotInvoke(void* data, const KQSValue& name, long argc, KQSValue* argv, KQSValue& out,
                 KQSValue* env) const override;
  /// As Dot, for an assignment of value.
  long DotValuePut(void* data, const KQSValue& name, const KQSValue& value) const override;
  /// Forwarded to the storage; -1 without storage.
  ///@{
  long Subscript(void* data, long i, long j, KQSValue& out) const override;
  long SubscriptValuePut(void* data, long i, long j, const KQSValue& value) const override;
  ///@}
  /// Forwarded to the storage, argc narrowed to short; -1 without storage.
  long Invoke(void* data, long argc, KQSValue* argv, KQSValue& out) const override;
  /// The storage's own text form; `U<Name(number)=0x...>` for storage
  /// without one, `|NULL baseval|` without storage (neither reads back).
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;

  /// Final, so that values can take and drop references of these classes
  /// inline without a virtual call. The same as Take and Drop.
  ///@{
  void AddReference(void* data) const final { Take(static_cast<KQSValueBase*>(data)); }
  void ReleaseReference(void* data) const final { Drop(static_cast<KQSValueBase*>(data)); }
  ///@}

  /// One reference to s taken, or dropped; the drop of the last reference
  /// destroys s (see Destroy). Both update the class statistics.
  ///
  /// Nothing for null: no storage. No storage lives in the first page either,
  /// and a word there (a number put into a pointer class's value) is treated
  /// as none; testing the page costs what testing null does, and keeps a
  /// compiler that sees such a constant word inlined from taking it for an
  /// address (GCC's -Warray-bounds).
  ///@{
  void Take(KQSValueBase* s) const {
    if (reinterpret_cast<uintptr_t>(s) < kFirstStorage) return;
    const long before = s->fReferences;
    s->fReferences = before + 1;
    CountAdd(before == 0);
  }
  void Drop(KQSValueBase* s) const {
    if (reinterpret_cast<uintptr_t>(s) < kFirstStorage) return;
    const long after = s->fReferences - 1;
    s->fReferences = after;
    if (after == 0) Destroy(s);
    CountRelease(after == 0);
  }
  ///@}

  /// Deletes storage whose last reference is gone. Storage freed while
  /// another is being deleted on this thread (a List's elements, an Assoc's
  /// pairs) waits in a queue that the outermost call works off, so freeing
  /// a value nested any number of levels deep takes no more stack than
  /// freeing one level.
  static void Destroy(KQSValueBase* s);

 protected:
  /// The data word as the storage it points at (null stays null).
  static KQSValueBase* Storage(void* data) { return static_cast<KQSValueBase*>(data); }

 private:
  static constexpr uintptr_t kFirstStorage = 4096;

  /// The name as the storage should see it: a String naming an attribute of
  /// this class becomes that attribute's SlotIndex.
  KQSValue TranslateName(const KQSValue& name) const;
};

#endif  // VXKERNEL_CLASSES_KQSVALUEBASECLASS_H_
