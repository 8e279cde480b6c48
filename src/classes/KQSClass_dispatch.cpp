// The feature operations of KQSClass for a class without feature tables:
// every name is unknown. Classes that define methods and attributes
// override or extend these through their feature tables.
#include <ostream>
#include <sstream>

#include "classes/classes_internal.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/values/KQSValue.h"

using vxk_internal::DebugLine;

namespace {

constexpr long kNoSuchFeature = 0x26AD000F;
constexpr short kSlotIndexType = -131;

// Feature names are Strings or SlotIndex values; anything else is reported
// and finds nothing.
bool UsableName(const char* op, const KQSClass& c, void* data, const KQSValue& name) {
  if (name.IsString() || name.Type() == kSlotIndexType) return true;
  std::ostringstream s;
  s << "KQSClass::" << op << "( ";
  KQSClassFormatter f;
  c.FormattedOutput(data, s, &f);
  s << "." << name << " ) unknown feature type\n";
  dbgstrm_print(s);
  return false;
}

bool UsableClassName(const char* op, const KQSClass& c, const KQSValue& name) {
  if (name.IsString() || name.Type() == kSlotIndexType) return true;
  DebugLine("KQSClass::", op, "( ", c.ClassName(), ".", name, " ) unknown feature type\n");
  return false;
}

}  // namespace

KQSValue KQSClass::Features(void* /*data*/) { return KQSValue(); }

bool KQSClass::IsFeature(void* /*data*/, const KQSValue& /*name*/) const { return false; }

long KQSClass::ClassDot(KThread* /*thread*/, const KQSValue& name, KQSValue& /*out*/, KQSValue* /*env*/) const {
  UsableClassName("ClassDot", *this, name);
  return kNoSuchFeature;
}

long KQSClass::ClassDotInvoke(KThread* /*thread*/, const KQSValue& name, long /*argc*/, KQSValue* /*argv*/,
                              KQSValue& /*out*/, KQSValue* /*env*/) const {
  UsableClassName("ClassDotInvoke", *this, name);
  return kNoSuchFeature;
}

long KQSClass::ClassDotValuePut(KThread* /*thread*/, const KQSValue& name, const KQSValue& /*value*/) const {
  UsableClassName("ClassDotValuePut", *this, name);
  return kNoSuchFeature;
}

long KQSClass::Dot(void* data, const KQSValue& name, KQSValue& /*out*/, KQSValue* /*env*/) const {
  UsableName("Dot", *this, data, name);
  return kNoSuchFeature;
}

long KQSClass::DotInvoke(void* data, const KQSValue& name, long /*argc*/, KQSValue* /*argv*/, KQSValue& /*out*/,
                         KQSValue* /*env*/) const {
  UsableName("DotInvoke", *this, data, name);
  return kNoSuchFeature;
}

long KQSClass::DotValuePut(void* data, const KQSValue& name, const KQSValue& /*value*/) const {
  if (UsableName("DotValuePut", *this, data, name)) {
    DebugLine("KQSClass::DotValuePut...no such slot=", name, '\n');
  }
  return kNoSuchFeature;
}
