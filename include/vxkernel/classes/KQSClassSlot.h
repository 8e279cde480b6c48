/// \file
/// Features of a class: slots (one per method, attribute, class method,
/// class attribute or constant) and the functors that implement them.
///
/// A slot belongs to its class's table and dies with it (or when the class
/// definition is reset); a slot whose owns-functor flag is set destroys its
/// functor with itself. Tables are built before the class is shared and are
/// read without locks afterwards; only a constant's value has a lock, so
/// that readers on several threads each get their own copy.
#ifndef VXKERNEL_CLASSES_KQSCLASSSLOT_H_
#define VXKERNEL_CLASSES_KQSCLASSSLOT_H_

#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KSignature.h"
#include "vxkernel/export.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/values/KQSValue.h"

/// The base of the feature implementations, so that a slot can destroy the
/// functor it owns. A functor runs on the thread that uses the feature.
class VXKERNEL_EXPORT KQSClass_Functor {
 public:
  virtual ~KQSClass_Functor();
};

/// Implements a class method: Class.name(args).
class VXKERNEL_EXPORT KQSClass_ClassMethodFunctor : public KQSClass_Functor {
 public:
  /// Called with the class the call went to (cls, possibly a class that
  /// extends the one defining the feature) and the arguments
  /// argv[0..argc-1], checked against the slot's signature (except when a
  /// method call fell back to this class method).
  /// Returns the result; on failure sets ctx's status and writes one debug
  /// line.
  virtual KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, long argc, KQSValue* argv) = 0;
};

/// Implements a method: value.name(args).
class VXKERNEL_EXPORT KQSClass_MethodFunctor : public KQSClass_Functor {
 public:
  /// As KQSClass_ClassMethodFunctor's, with the receiving value's data word
  /// in data.
  virtual KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, void* data, long argc, KQSValue* argv) = 0;
};

/// Implements a class attribute: Class.name.
/// newValue null: read (the result is the attribute's value); otherwise
/// write (the result is ignored).
class VXKERNEL_EXPORT KQSClass_ClassAttributeFunctor : public KQSClass_Functor {
 public:
  /// Reads or writes the attribute of cls, as the class comment says; on
  /// failure sets ctx's status and writes one debug line.
  virtual KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, const KQSValue* newValue) = 0;
};

/// Implements an attribute: value.name; newValue null to read, else to
/// write (the result is then ignored).
class VXKERNEL_EXPORT KQSClass_AttributeFunctor : public KQSClass_Functor {
 public:
  /// Reads or writes the attribute of the value whose data word is data;
  /// on failure sets ctx's status and writes one debug line.
  virtual KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, void* data, const KQSValue* newValue) = 0;
};

/// One feature of a class: its name, its position in its table, its access
/// level and its signature. Owned by the class's table; owns its name and
/// signature.
class VXKERNEL_EXPORT KQSClass_Slot {
 public:
  /// signature may be null (constants); the text is parsed into a KSignature.
  KQSClass_Slot(const char* name, const char* signature, long index, long access);
  KQSClass_Slot(const KQSClass_Slot&) = delete;
  KQSClass_Slot& operator=(const KQSClass_Slot&) = delete;
  virtual ~KQSClass_Slot();

  /// The 0-based position in the class's table.
  long SlotIndex() const { return fSlotIndex; }
  /// The name as given (case kept), owned by the slot; "" when none.
  const char* SlotName() const { return fSlotName != nullptr ? fSlotName : ""; }
  /// Always 1: the access argument of the constructor is not kept.
  long AccessLevel() const { return fAccessLevel; }
  /// Owned by the slot; null for a slot made without signature text.
  const KSignature* Signature() const { return fSignature; }

  /// Checks, and coerces in place, an argument list against the signature.
  /// Returns 0 when the call may go on (also for a slot without signature,
  /// with one debug line), 0x26AD0017 for a wrong count (or null argv),
  /// 0x26AD0018 when an argument has the wrong type and cannot be
  /// converted (an Undefined or Error argument passes only under options U
  /// or E), 0x26AD003A for an Undefined argument under AutoUndefined.
  long CheckArguments(long argc, KQSValue* argv) const;

 private:
  long fSlotIndex;
  char* fSlotName;
  long fAccessLevel;
  KSignature* fSignature;
};

/// One slot kind per functor kind; the slot owns the functor when told so.
template <typename Functor>
class KQSClass_FunctorSlot : public KQSClass_Slot {
 public:
  /// A slot for functor (may be null: bound later with SetFunctor), which
  /// the slot destroys with itself when ownsFunctor is set.
  KQSClass_FunctorSlot(const char* name, const char* signature, Functor* functor, long index, long access,
                       bool ownsFunctor)
      : KQSClass_Slot(name, signature, index, access), fFunctor(functor), fOwnsFunctor(ownsFunctor) {}
  ~KQSClass_FunctorSlot() override {
    if (fOwnsFunctor) delete fFunctor;
  }
  /// The implementation; null when none is bound (such a feature answers
  /// 0x26AD0033 when used).
  Functor* GetFunctor() const { return fFunctor; }
  /// Binds an implementation later (features made by reflection or import).
  void SetFunctor(Functor* functor, bool ownsFunctor) {
    if (fOwnsFunctor && fFunctor != functor) delete fFunctor;
    fFunctor = functor;
    fOwnsFunctor = ownsFunctor;
  }
  /// Whether the slot destroys its functor.
  bool OwnsFunctor() const { return fOwnsFunctor; }

 private:
  Functor* fFunctor;
  bool fOwnsFunctor;
};

/// A class method slot.
class VXKERNEL_EXPORT KQSClass_ClassMethod : public KQSClass_FunctorSlot<KQSClass_ClassMethodFunctor> {
 public:
  using KQSClass_FunctorSlot::KQSClass_FunctorSlot;  ///< As KQSClass_FunctorSlot's.
};
/// A method slot.
class VXKERNEL_EXPORT KQSClass_Method : public KQSClass_FunctorSlot<KQSClass_MethodFunctor> {
 public:
  using KQSClass_FunctorSlot::KQSClass_FunctorSlot;  ///< As KQSClass_FunctorSlot's.
};
/// A class attribute slot.
class VXKERNEL_EXPORT KQSClass_ClassAttribute : public KQSClass_FunctorSlot<KQSClass_ClassAttributeFunctor> {
 public:
  using KQSClass_FunctorSlot::KQSClass_FunctorSlot;  ///< As KQSClass_FunctorSlot's.
};
/// An attribute slot.
class VXKERNEL_EXPORT KQSClass_Attribute : public KQSClass_FunctorSlot<KQSClass_AttributeFunctor> {
 public:
  using KQSClass_FunctorSlot::KQSClass_FunctorSlot;  ///< As KQSClass_FunctorSlot's.
};

/// A named constant: String, Undefined, Error, Integer, Boolean or ObjRef.
class VXKERNEL_EXPORT KQSClass_Constant : public KQSClass_Slot {
 public:
  /// A constant called name (copied) holding value; a String gets a text
  /// of its own. No signature; access is not kept.
  KQSClass_Constant(const char* name, const KQSValue& value, long index, long access);
  /// A fresh value rebuilt from the stored one, so that threads never share
  /// its storage. A value of another type gives Undefined and one debug
  /// line.
  KQSValue Value() const;

 private:
  KQSValue fValue;
  mutable KLock fLock{KLock::kCriticalSection};
};

#endif  // VXKERNEL_CLASSES_KQSCLASSSLOT_H_
