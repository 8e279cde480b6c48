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

class VXKERNEL_EXPORT KQSClass_Functor {
 public:
  virtual ~KQSClass_Functor();
};

class VXKERNEL_EXPORT KQSClass_ClassMethodFunctor : public KQSClass_Functor {
 public:
  virtual KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, long argc, KQSValue* argv) = 0;
};

class VXKERNEL_EXPORT KQSClass_MethodFunctor : public KQSClass_Functor {
 public:
  virtual KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, void* data, long argc, KQSValue* argv) = 0;
};

/// newValue null: read (the result is the attribute's value); otherwise
/// write (the result is ignored).
class VXKERNEL_EXPORT KQSClass_ClassAttributeFunctor : public KQSClass_Functor {
 public:
  virtual KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, const KQSValue* newValue) = 0;
};

class VXKERNEL_EXPORT KQSClass_AttributeFunctor : public KQSClass_Functor {
 public:
  virtual KQSValue operator()(const KQSClass* cls, KQSClass_env& ctx, void* data, const KQSValue* newValue) = 0;
};

class VXKERNEL_EXPORT KQSClass_Slot {
 public:
  /// signature may be null (constants); the text is parsed into a KSignature.
  KQSClass_Slot(const char* name, const char* signature, long index, long access);
  KQSClass_Slot(const KQSClass_Slot&) = delete;
  KQSClass_Slot& operator=(const KQSClass_Slot&) = delete;
  virtual ~KQSClass_Slot();

  long SlotIndex() const { return fSlotIndex; }
  const char* SlotName() const { return fSlotName != nullptr ? fSlotName : ""; }
  long AccessLevel() const { return fAccessLevel; }
  const KSignature* Signature() const { return fSignature; }

  /// Checks, and coerces in place, an argument list against the signature.
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
  KQSClass_FunctorSlot(const char* name, const char* signature, Functor* functor, long index, long access,
                       bool ownsFunctor)
      : KQSClass_Slot(name, signature, index, access), fFunctor(functor), fOwnsFunctor(ownsFunctor) {}
  ~KQSClass_FunctorSlot() override {
    if (fOwnsFunctor) delete fFunctor;
  }
  Functor* GetFunctor() const { return fFunctor; }
  /// Binds an implementation later (features made by reflection or import).
  void SetFunctor(Functor* functor, bool ownsFunctor) {
    if (fOwnsFunctor && fFunctor != functor) delete fFunctor;
    fFunctor = functor;
    fOwnsFunctor = ownsFunctor;
  }
  bool OwnsFunctor() const { return fOwnsFunctor; }

 private:
  Functor* fFunctor;
  bool fOwnsFunctor;
};

class VXKERNEL_EXPORT KQSClass_ClassMethod : public KQSClass_FunctorSlot<KQSClass_ClassMethodFunctor> {
 public:
  using KQSClass_FunctorSlot::KQSClass_FunctorSlot;
};
class VXKERNEL_EXPORT KQSClass_Method : public KQSClass_FunctorSlot<KQSClass_MethodFunctor> {
 public:
  using KQSClass_FunctorSlot::KQSClass_FunctorSlot;
};
class VXKERNEL_EXPORT KQSClass_ClassAttribute : public KQSClass_FunctorSlot<KQSClass_ClassAttributeFunctor> {
 public:
  using KQSClass_FunctorSlot::KQSClass_FunctorSlot;
};
class VXKERNEL_EXPORT KQSClass_Attribute : public KQSClass_FunctorSlot<KQSClass_AttributeFunctor> {
 public:
  using KQSClass_FunctorSlot::KQSClass_FunctorSlot;
};

/// A named constant: String, Undefined, Error, Integer, Boolean or ObjRef.
class VXKERNEL_EXPORT KQSClass_Constant : public KQSClass_Slot {
 public:
  KQSClass_Constant(const char* name, const KQSValue& value, long index, long access);
  /// A fresh value rebuilt from the stored one, so that threads never share
  /// its storage.
  KQSValue Value() const;

 private:
  KQSValue fValue;
  mutable KLock fLock{KLock::kCriticalSection};
};

#endif  // VXKERNEL_CLASSES_KQSCLASSSLOT_H_
