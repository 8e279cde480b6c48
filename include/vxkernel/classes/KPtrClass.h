/// \file
/// The Ptr type: a box holding one other value. A Ptr value's data word is
/// the KPtrInstance it points at; values do not count references to boxes.
/// The class is made and registered as process class 17 by the Ptr package
/// at start-up and destroyed at shut-down; it defines its behaviour through
/// features: the class method New, the attributes Value, Type and Length
/// and the constant PtrType.
///
/// Thread rules: the class is read-only once registered, except for its
/// list of boxes, which has a lock of its own; a box belongs to the thread
/// using the value that holds it.
#ifndef VXKERNEL_CLASSES_KPTRCLASS_H_
#define VXKERNEL_CLASSES_KPTRCLASS_H_

#include <vector>

#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/export.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/values/KQSValue.h"

/// A Ptr box: holds one value (a counted copy). Made and owned by
/// KPtrClass; used by one thread at a time.
class VXKERNEL_EXPORT KPtrInstance {
 public:
  /// A box holding Undefined.
  KPtrInstance() = default;
  /// A box holding a copy of v.
  explicit KPtrInstance(const KQSValue& v) : fValue(v) {}

  /// The held value (a copy), or replaces it with a copy of v.
  ///@{
  KQSValue Value() const { return fValue; }
  void Value(const KQSValue& v) { fValue = v; }
  ///@}
  /// The held value's type number, class (never null) and length.
  ///@{
  short Type() const { return fValue.Type(); }
  const KQSClass* Class() const { return fValue.Class(); }
  long Length() const { return fValue.Length(); }
  ///@}

 private:
  KQSValue fValue;
};

/// The class of Ptr values; owns every box it makes.
///
/// Ptr values have no order of their own (the base Compare, -1): a value
/// equals only its copies, which share its box and so its data word.
class VXKERNEL_EXPORT KPtrClass : public KQSClass {
 public:
  static constexpr short kNumber = 17;  ///< The process class number of Ptr.

  KPtrClass();
  /// Frees the boxes still held (ReleaseBoxes).
  ~KPtrClass() override;

  /// Adds the class method New (a new Ptr holding the optional argument),
  /// the attributes Value (read and write), Type and Length (read only),
  /// and the constant PtrType (17).
  void CompleteClassDefinition() override;
  /// Writes "Ptr(" the held value's class name ")", "Ptr()" for a value
  /// without box; the form does not read back.
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const override;

  /// A new Ptr value on a new box holding v. The class keeps the box.
  KQSValue NewPtr(const KQSValue& v) const;
  /// Frees every box this class has made (the Ptr package does so at
  /// process shut-down; the destructor too). Ptr values made before are
  /// unusable afterwards. Returns how many boxes were freed.
  long ReleaseBoxes();

 private:
  struct NewFunctor : KQSClass_ClassMethodFunctor {
    KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, long argc, KQSValue* argv) override;
  };
  struct ValueFunctor : KQSClass_AttributeFunctor {
    KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, void* data, const KQSValue* newValue) override;
  };
  struct TypeFunctor : KQSClass_AttributeFunctor {
    KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, void* data, const KQSValue* newValue) override;
  };
  struct LengthFunctor : KQSClass_AttributeFunctor {
    KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, void* data, const KQSValue* newValue) override;
  };

  NewFunctor Ptr_New;
  ValueFunctor Ptr_Value;
  TypeFunctor Ptr_Type;
  LengthFunctor Ptr_Length;

  /// Every box made by NewPtr, owned by the class: values do not count
  /// references to boxes, so the class frees them all at once.
  mutable KLock fBoxesLock{KLock::kCriticalSection};
  mutable std::vector<KPtrInstance*> fBoxes VXK_GUARDED_BY(fBoxesLock);
};

#endif  // VXKERNEL_CLASSES_KPTRCLASS_H_
