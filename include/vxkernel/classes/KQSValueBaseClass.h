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

class VXKERNEL_EXPORT KQSValueBaseClass : public KQSClassPointer {
 public:
  KQSValueBaseClass(const char* name, short number);

  long Length(void* data) const override;
  int Compare(void* a, void* b, bool ignoreCase) const override;
  int Equal(void* a, void* b) const override;
  KQSValue Features(void* data) override;
  bool IsFeature(void* data, const KQSValue& name) const override;
  long Dot(void* data, const KQSValue& name, KQSValue& out, KQSValue* env) const override;
  long DotInvoke(void* data, const KQSValue& name, long argc, KQSValue* argv, KQSValue& out,
                 KQSValue* env) const override;
  long DotValuePut(void* data, const KQSValue& name, const KQSValue& value) const override;
  long Subscript(void* data, long i, long j, KQSValue& out) const override;
  long SubscriptValuePut(void* data, long i, long j, const KQSValue& value) const override;
  long Invoke(void* data, long argc, KQSValue* argv, KQSValue& out) const override;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;

  /// Final, so that values can take and drop references of these classes
  /// inline without a virtual call.
  void AddReference(void* data) const final { Take(static_cast<KQSValueBase*>(data)); }
  void ReleaseReference(void* data) const final { Drop(static_cast<KQSValueBase*>(data)); }

  /// Nothing for null: no storage. No storage lives in the first page either,
  /// and a word there (a number put into a pointer class's value) is treated
  /// as none; testing the page costs what testing null does, and keeps a
  /// compiler that sees such a constant word inlined from taking it for an
  /// address (GCC's -Warray-bounds).
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

  /// Deletes storage whose last reference is gone. Storage freed while
  /// another is being deleted on this thread (a List's elements, an Assoc's
  /// pairs) waits in a queue that the outermost call works off, so freeing
  /// a value nested any number of levels deep takes no more stack than
  /// freeing one level.
  static void Destroy(KQSValueBase* s);

 protected:
  static KQSValueBase* Storage(void* data) { return static_cast<KQSValueBase*>(data); }

 private:
  static constexpr uintptr_t kFirstStorage = 4096;

  /// The name as the storage should see it: a String naming an attribute of
  /// this class becomes that attribute's SlotIndex.
  KQSValue TranslateName(const KQSValue& name) const;
};

#endif  // VXKERNEL_CLASSES_KQSVALUEBASECLASS_H_
