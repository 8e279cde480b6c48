// KQSClass identity, base behaviour, implementation loaders, and the
// KQSClassReflection reference stubs.
#include "vxkernel/classes/KQSClass.h"

#include <cstdlib>
#include <cstring>
#include <ostream>

#include "base/debug_line.h"
#include "classes/classes_internal.h"
#include "vxkernel/classes/KQSClassImplLoader.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/text/T23Tree.h"
#include "vxkernel/values/KQSValue.h"

using vxk_internal::DebugText;

namespace {

// One loader per ImplType; set once, never removed.
KQSClassImplLoader* gImplLoaders[KQSClass::kImplTypes] = {};

}  // namespace

KQSClass::KQSClass() = default;

KQSClass::KQSClass(const char* name, short number) : fClassName(vxk_internal::CopyText(name)), fClassNumber(number) {}

KQSClass::~KQSClass() {
  if (HolderCount() != 0) DebugText("KQSClass::~KQSClass( ", ClassName(), " ) non-zero reference count\n");
  if (fIsInstalled) {
    DebugText("KQSClass::~KQSClass( ", ClassName(), " ) deleting installed class!!! Shouldn't happen.\n");
  }
  ResetClassDefinition();
  std::free(fClassName);
  std::free(fImplBytes);
}

void KQSClass::ClassName(const char* name) {
  char* copy = vxk_internal::CopyText(name);
  std::free(fClassName);
  fClassName = copy;
}

void KQSClass::ImplPut(long type, long length, const void* bytes) {
  fImplType = type;
  unsigned char* copy = nullptr;
  if (length > 0 && bytes != nullptr) {
    copy = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length)));
    if (copy == nullptr) length = 0;
    else std::memcpy(copy, bytes, static_cast<size_t>(length));
  } else {
    length = 0;
  }
  std::free(fImplBytes);
  fImplBytes = copy;
  fImplLength = length;
}

void KQSClass::AddExtends(const char* name) { fExtends.emplace_back(name != nullptr ? name : ""); }

void KQSClass::AddImplements(const char* name) { fImplements.emplace_back(name != nullptr ? name : ""); }

KString KQSClass::FormatXMLV1OpenTag(const KString& attributes) const {
  KString s("<VX:");
  s += ClassName();
  if (attributes.Length() != 0) {
    s += ' ';
    s += attributes;
  }
  s += '>';
  return s;
}

KString KQSClass::FormatXMLV1CloseTag() const {
  KString s("</VX:");
  s += ClassName();
  s += '>';
  return s;
}

// ----- base behaviour -----

KString KQSClass::ImplDesc() const { return KString("Builtin KQSClass implementation"); }

void KQSClass::CompleteClassDefinition() {}

KQSValue KQSClass::DeepSafeCopy(void* /*data*/) {
  DebugText("KQSClass::DeepSafeCopy() NYI\n");
  return KQSValue();
}

bool KQSClass::CoerceToBoolean(void* /*data*/) const { return true; }

bool KQSClass::CoerceTo(void* /*data*/, short /*typeCode*/, KQSValue& /*out*/) const { return false; }

long KQSClass::Length(void* /*data*/) const { return -1; }

int KQSClass::Compare(void* /*a*/, void* /*b*/, bool /*ignoreCase*/) const { return -1; }

int KQSClass::Equal(void* a, void* b) const { return Compare(a, b, false) == 0 ? 1 : 0; }

long KQSClass::Subscript(void* /*data*/, long /*i*/, long /*j*/, KQSValue& /*out*/) const { return -1; }

long KQSClass::SubscriptValuePut(void* /*data*/, long /*i*/, long /*j*/, const KQSValue& /*value*/) const {
  return -1;
}

long KQSClass::Invoke(void* /*data*/, long /*argc*/, KQSValue* /*argv*/, KQSValue& /*out*/) const { return -1; }

std::ostream& KQSClass::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  return out << '|' << ClassName() << '=' << data << '|';
}

std::ostream& KQSClass::DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  return FormattedOutput(data, out, f);
}

std::ostream& KQSClass::BinaryOutput(void* /*data*/, std::ostream& out, KQSClassFormatter* /*f*/) const {
  DebugText("KQSClass::BinaryOutput() Must be implemented...class=", ClassName(), '\n');
  return out;
}

bool KQSClass::FormattedInput(std::istream& /*in*/, KQSValue& /*out*/, KQSClassCracker* /*c*/) const {
  return false;
}

KQSValue KQSClass::BinaryInput(std::istream& /*in*/, KQSClassCracker* /*c*/) const {
  DebugText("KQSClass::BinaryInput() Must be implemented...class=", ClassName(), '\n');
  return KQSValue();
}

// Immediate classes hold no storage; the value never calls these for them.
void KQSClass::AddReference(void* /*data*/) const {}
void KQSClass::ReleaseReference(void* /*data*/) const {}

// ----- implementation loaders -----

void KQSClass::RegisterImplLoader(long implType, KQSClassImplLoader* loader) {
  if (implType < 0 || implType >= kImplTypes) {
    DebugText("KQSClass::RegisterImplLoader...bad implType=", implType, '\n');
  } else if (gImplLoaders[implType] != nullptr) {
    DebugText("KQSClass::RegisterImplLoader...cannot override implType=", implType, '\n');
  } else {
    gImplLoaders[implType] = loader;
  }
}

KQSClass* KQSClass::BuildInstallableClass(KOPPEnvironment* environment, const KQSClass* installed) const {
  if (fImplType < 0 || fImplType >= kImplTypes) {
    DebugText("KQSClass::BuildInstallableClass...bad fImplType=", fImplType, '\n');
    return nullptr;
  }
  KQSClassImplLoader* loader = gImplLoaders[fImplType];
  if (loader == nullptr) {
    DebugText("KQSClass::BuildInstallableClass...no such fImplType=", fImplType, '\n');
    return nullptr;
  }
  if (!fImplReflectionOnly) {
    DebugText("KQSClass::BuildInstallableClass...!ImplReflectionOnly()\n");
    return nullptr;
  }
  return loader->LoadClassFromImpl(environment, installed, this);
}

KQSClassImplLoader::~KQSClassImplLoader() = default;

KQSClass* KQSClassImplLoader::LoadClassFromImpl(KOPPEnvironment* /*environment*/, const KQSClass* /*installed*/,
                                                const KQSClass* /*prototype*/) {
  DebugText("KQSClassImplLoader::LoadClassFromImpl...should not be called\n");
  return nullptr;
}

// ----- prototypes -----

KQSClassReflection::KQSClassReflection() { KQSClass::ImplReflectionOnly(true); }

void KQSClassReflection::AddReference(void* /*data*/) const {
  DebugText("KQSClassReflection::AddReference() should never be called\n");
}

void KQSClassReflection::ReleaseReference(void* /*data*/) const {
  DebugText("KQSClassReflection::ReleaseReference() should never be called\n");
}
