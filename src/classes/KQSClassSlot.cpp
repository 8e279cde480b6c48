// Feature slots: construction, the argument check against a slot's
// signature, and the per-reader copies of constants.
#include "vxkernel/classes/KQSClassSlot.h"

#include <cstdlib>
#include <cstring>

#include "base/debug_line.h"
#include "classes/classes_internal.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/values/type_numbers.h"

using vxk_internal::DebugText;
using vxk_internal::kFeatureAutoUndefined;
using vxk_internal::kFeatureWrongArgCount;
using vxk_internal::kFeatureWrongArgType;

KQSClass_Functor::~KQSClass_Functor() = default;

// A null signature text means "no signature"; any other text is parsed, so
// "" is Void with no arguments.
KQSClass_Slot::KQSClass_Slot(const char* name, const char* signature, long index, long /*access*/)
    : fSlotIndex(index),
      fSlotName(vxk_internal::CopyText(name)),
      fAccessLevel(1),
      fSignature(signature != nullptr ? new KSignature(signature) : nullptr) {}

KQSClass_Slot::~KQSClass_Slot() {
  std::free(fSlotName);
  delete fSignature;
}

long KQSClass_Slot::CheckArguments(long argc, KQSValue* argv) const {
  const KSignature* s = fSignature;
  if (s == nullptr) {
    DebugText("KQSClass_Slot::CheckArguments..sig == 0\n");
    return 0;
  }
  if (argc < s->MinArgs() || (argc > s->NArgs() && !s->VarArgs())) return kFeatureWrongArgCount;
  const long n = argc < s->NArgs() ? argc : s->NArgs();
  if (n > 0 && argv == nullptr) return kFeatureWrongArgCount;
  long noted = 0;
  for (long i = 1; i <= n; ++i) {
    KQSValue& arg = argv[i - 1];
    const short a = arg.Type();
    const short d = s->Datatype(i).TypeNumber();
    if (d == KSignature_type::kDynamic || a == d) continue;
    if (KQSValue::IsObjectType(a) && KQSValue::IsObjectType(d)) continue;
    if (a == vxk_types::kUndefined) {
      if (s->AutoUndefined()) return kFeatureAutoUndefined;
      if (!s->AcceptsUndefined()) noted = kFeatureWrongArgType;
    } else if (a == vxk_types::kError) {
      if (!s->AcceptsError()) noted = kFeatureWrongArgType;
    } else if (!arg.CoerceTo(d)) {
      noted = kFeatureWrongArgType;
    }
  }
  return noted;
}

KQSClass_Constant::KQSClass_Constant(const char* name, const KQSValue& value, long index,
                                     long access)
    : KQSClass_Slot(name, nullptr, index, access), fValue(value) {
  // A String gets a text of its own, so that the caller's copies and the
  // readers' copies never share a (non-atomic) reference count.
  if (fValue.IsString()) {
    const KString& text = fValue.String();
    fValue = KQSValue(KString(static_cast<const char*>(text), text.Length()));
  }
}

KQSValue KQSClass_Constant::Value() const {
  KLockGuard hold(fLock);
  switch (fValue.Type()) {
    case vxk_types::kString: {
      const KString& text = fValue.String();
      return KQSValue(KString(static_cast<const char*>(text), text.Length()));
    }
    case vxk_types::kUndefined:
    case vxk_types::kError:
    case vxk_types::kInteger:
    case vxk_types::kBoolean:
    case vxk_types::kObjRef:
      return fValue;  // immediate: the copy shares nothing
    default:
      DebugText("KQSClass_Constant::Value... Unknown datatype = ", fValue.Type(),
                " for builtin constant. Value = ", fValue, '\n');
      return KQSValue();
  }
}
