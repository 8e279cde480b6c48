// The Ptr class: boxes holding one value, reached through the features
// New, Value, Type, Length and PtrType; and the Ptr package that registers
// the class at start-up.
#include "vxkernel/classes/KPtrClass.h"

#include <memory>
#include <ostream>

#include "base/debug_line.h"
#include "base/run_reported.h"
#include "classes/classes_internal.h"
#include "classes/classes_package.h"
#include "vxkernel/threads/KLockGuard.h"

using vxk_internal::DebugText;
using vxk_internal::kFeatureNotFound;
using vxk_internal::kFeatureWrongArgType;

namespace {

// The process's Ptr class: made at the first start-up, never destroyed.
KPtrClass* gPtrClass = nullptr;

KPtrInstance* Box(void* data) { return static_cast<KPtrInstance*>(data); }

// The Ptr class that makes a box for a call on cls: cls itself, or the
// process's Ptr class when New was reached through a class extending it.
const KPtrClass* Maker(const KQSClass* cls) {
  if (const auto* p = dynamic_cast<const KPtrClass*>(cls)) return p;
  return dynamic_cast<const KPtrClass*>(KQSValue::NumberToClass(KPtrClass::kNumber));
}

// A value without a box (made from a bare data word) has nothing to read.
bool HasBox(void* data, const char* functor) {
  if (data != nullptr) return true;
  DebugText("KPtrClass::", functor, "...Ptr value without a box\n");
  return false;
}

}  // namespace

KPtrClass::KPtrClass() : KQSClass("Ptr", kNumber) {}

KPtrClass::~KPtrClass() { ReleaseBoxes(); }

void KPtrClass::CompleteClassDefinition() {
  AddClassMethod("New", "Ptr([Dynamic])", &Ptr_New, -1, 1, false);
  AddAttribute("Value", "Dynamic", &Ptr_Value, -1, 1, false);
  AddAttribute("Type", "Integer", &Ptr_Type, -1, 1, false);
  AddAttribute("Length", "Integer", &Ptr_Length, -1, 1, false);
  AddConstant("PtrType", KQSValue(static_cast<int>(kNumber)), -1, 1);
}

std::ostream& KPtrClass::FormattedOutput(void* data, std::ostream& out,
                                         KQSClassFormatter* /*f*/) const {
  out << "Ptr(";
  if (data != nullptr) out << Box(data)->Class()->ClassName();
  return out << ')';
}

KQSValue KPtrClass::NewPtr(const KQSValue& v) const {
  auto made = std::make_unique<KPtrInstance>(v);  // owned here until the class holds it
  KPtrInstance* box = made.get();
  {
    KLockGuard hold(fBoxesLock);
    fBoxes.push_back(box);
  }
  made.release();
  return KQSValue(this, box);
}

long KPtrClass::ReleaseBoxes() {
  std::vector<KPtrInstance*> boxes;
  {
    KLockGuard hold(fBoxesLock);
    boxes.swap(fBoxes);
  }
  // Freed outside the lock: destroying a held value runs other classes'
  // code, which must not wait on this list.
  for (KPtrInstance* box : boxes) delete box;
  return static_cast<long>(boxes.size());
}

// ===== Functors =====

KQSValue KPtrClass::NewFunctor::operator()(const KQSClass* cls, KQSClass_env& ctx, long argc,
                                           KQSValue* argv) {
  const KPtrClass* maker = Maker(cls);
  if (maker == nullptr) {
    DebugText("KPtrClass::Ptr_New...no Ptr class\n");
    ctx.Status(kFeatureNotFound);
    return KQSValue();
  }
  return maker->NewPtr(argc > 0 && argv != nullptr ? argv[0] : KQSValue());
}

KQSValue KPtrClass::ValueFunctor::operator()(const KQSClass* /*cls*/, KQSClass_env& ctx, void* data,
                                             const KQSValue* newValue) {
  if (!HasBox(data, "Ptr_Value")) {
    if (newValue != nullptr) ctx.Status(kFeatureWrongArgType);
    return KQSValue();
  }
  if (newValue == nullptr) return Box(data)->Value();
  Box(data)->Value(*newValue);
  return *newValue;
}

KQSValue KPtrClass::TypeFunctor::operator()(const KQSClass* /*cls*/, KQSClass_env& /*ctx*/,
                                            void* data, const KQSValue* newValue) {
  if (newValue != nullptr) {
    DebugText("Ptr_Type is r/o\n");
    return KQSValue();
  }
  if (!HasBox(data, "Ptr_Type")) return KQSValue();
  return KQSValue(static_cast<int>(Box(data)->Type()));
}

KQSValue KPtrClass::LengthFunctor::operator()(const KQSClass* /*cls*/, KQSClass_env& /*ctx*/,
                                              void* data, const KQSValue* newValue) {
  if (newValue != nullptr) {
    DebugText("Ptr_Length is r/o\n");
    return KQSValue();
  }
  if (!HasBox(data, "Ptr_Length")) return KQSValue();
  return KQSValue(Box(data)->Length());
}

// ===== Package =====

void KPtrPkg::Startup() {
  vxk_internal::RunReported("KPtrPkg::Startup", [] {
    if (gPtrClass != nullptr) return;  // a second start-up: still registered
    auto* ptr = new KPtrClass();
    if (!KQSValue::AddProcessClass(ptr, 1)) {
      DebugText("KPtrPkg::Startup...cannot register the Ptr class\n");
      delete ptr;
      return;
    }
    gPtrClass = ptr;
  });
}

void KPtrPkg::Shutdown() {
  if (gPtrClass != nullptr) gPtrClass->ReleaseBoxes();
}
