// The class registry: process tables, environment tables, installation of
// prototypes, copying between environments, and the class loaders.
#include "vxkernel/classes/KOPPEnvironment.h"

#include "base/check.h"
#include "base/debug_line.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/values/KQSValue.h"

using vxk_internal::DebugText;

namespace {

constexpr short kNoNumber = KQSClass::kNoClassNumber;

// The process tables: numbers -250..32 and names. Written during start-up,
// read without a lock afterwards; never destroyed, because values may be
// used until the very end of the process.
KQSClass* gProcessClassNumberToClass[KOPPEnvironment::kProcessHigh - KOPPEnvironment::kProcessLow + 1];

T23Tree<KString, KQSClass*>& ProcessNames() {
  static auto* names = new T23Tree<KString, KQSClass*>();
  return *names;
}

// The slot of number n in the process table.
// REQUIRES: kProcessLow <= n <= kProcessHigh.
KQSClass*& ProcessSlot(short n) {
  VXK_DCHECK(n >= KOPPEnvironment::kProcessLow && n <= KOPPEnvironment::kProcessHigh);
  return gProcessClassNumberToClass[n - KOPPEnvironment::kProcessLow];
}

bool InEnvRange(short n) { return n >= KOPPEnvironment::kEnvLow && n <= KOPPEnvironment::kEnvHigh; }

// The slot of number n in an environment's number table.
// REQUIRES: InEnvRange(n).
KQSClass*& EnvSlot(KQSClass** table, short n) {
  VXK_DCHECK(InEnvRange(n));
  return table[n - KOPPEnvironment::kEnvLow];
}

}  // namespace

// ----- loaders -----

KOPPClassLoader::~KOPPClassLoader() = default;
bool KOPPClassLoader::Enable() { return false; }
bool KOPPClassLoader::Disable() { return false; }
const KQSClass* KOPPClassLoader::LoadClassByName(const char* /*name*/) { return nullptr; }
bool KOPPClassLoader::LoadXLateModule(const char* /*name*/, KQSValue& /*out*/) { return false; }
bool KOPPClassLoader::LoadSource(const char* /*name*/, KString& /*out*/) { return false; }

const KQSClass* KOPPClassDelegatingLoader::LoadClassByName(const char* name) {
  return fTarget != nullptr ? fTarget->LookupByName(KString(name)) : nullptr;
}

// ----- environment -----

KOPPEnvironment::KOPPEnvironment()
    : fLock(KLock::kCriticalSection), fNameToClass(new T23Tree<KString, KQSClass*>()) {}

KOPPEnvironment::~KOPPEnvironment() {
  delete fNameToClass;
  delete fLoader;
}

void KOPPEnvironment::Loader(KOPPClassLoader* loader) {
  if (loader == fLoader) return;
  delete fLoader;
  fLoader = loader;
}

bool KOPPEnvironment::AddClass(KQSClass* c) {
  const short n = c->ClassNumber();
  if (n != kNoNumber && !InEnvRange(n)) {
    DebugText("KOPPEnvironment::AddClass()...ClassNumber out of range=", n, "...Use AddProcessClass instead.\n");
    return false;
  }
  KLockGuard hold(fLock);
  const KString upper = KString(c->ClassName()).Upper();
  KQSClass* existing = nullptr;
  if (fNameToClass->Get(upper, existing)) {
    DebugText("KOPPEnvironment::AddClass...Class name already exists = ", existing->ClassNumber(), "/",
              existing->ClassName(), "/", c->ClassName(), '\n');
    return false;
  }
  KQSClass** slot = n != kNoNumber ? &EnvSlot(fNumberToClass, n) : nullptr;
  if (slot != nullptr && *slot != nullptr) {
    DebugText("KOPPEnvironment::AddClass...Class number already exists = ", (*slot)->ClassNumber(), "/",
              c->ClassName(), '\n');
    return false;
  }
  if (c->fIsInstalled) DebugText("KOPPEnvironment::AddClass( ", c->ClassName(), " ) already installed?\n");
  else c->fIsInstalled = true;
  if (slot != nullptr) *slot = c;
  fNameToClass->Add(upper, c);
  return true;
}

bool KOPPEnvironment::AddProcessClass(KQSClass* c) {
  const short n = c->ClassNumber();
  if (n != kNoNumber && (n < kProcessLow || n > kProcessHigh)) {
    DebugText("KOPPEnvironment::AddProcessClass()...ClassNumber out of range=", n, '\n');
    return false;
  }
  const KString upper = KString(c->ClassName()).Upper();
  KQSClass* existing = nullptr;
  if (ProcessNames().Get(upper, existing)) {
    DebugText("KOPPEnvironment::AddProcessClass...Class name already exists = ", existing->ClassNumber(), "/",
              existing->ClassName(), "/", c->ClassName(), '\n');
    return false;
  }
  if (n != kNoNumber && ProcessSlot(n) != nullptr) {
    DebugText("KOPPEnvironment::AddProcessClass...Class number already exists = ", ProcessSlot(n)->ClassNumber(),
              "/", c->ClassName(), '\n');
    return false;
  }
  if (n != kNoNumber) ProcessSlot(n) = c;
  ProcessNames().Add(upper, c);
  if (c->fIsInstalled) {
    DebugText("KOPPEnvironment::AddProcessClass( ", c->ClassName(), " ) already installed?\n");
  } else {
    c->CompleteClassInstallation();
    c->fIsInstalled = true;
  }
  return true;
}

void KOPPEnvironment::RemoveClass(const KQSClass* c) {
  const short n = c->ClassNumber();
  if (n != kNoNumber && !InEnvRange(n)) {
    DebugText("KOPPEnvironment::RemoveClass()...ClassNumber out of range=", n, "...Use AddProcessClass instead.\n");
    return;
  }
  KLockGuard hold(fLock);
  const KString upper = KString(c->ClassName()).Upper();
  KQSClass* byName = nullptr;
  if (fNameToClass->Get(upper, byName)) {
    if (byName != c) {
      DebugText("KOPPEnvironment::RemoveClass...Class doesn't match = ", byName->ClassNumber(), "/",
                byName->ClassName());
    } else {
      fNameToClass->Delete(upper);
    }
  }
  if (n != kNoNumber) {
    KQSClass*& slot = EnvSlot(fNumberToClass, n);
    if (slot == nullptr) {
      DebugText("KOPPEnvironment::RemoveClass...Class doesn't exist = ", n, "/", c->ClassName());
    } else if (slot != c) {
      DebugText("KOPPEnvironment::RemoveClass...Class doesn't match = ", slot->ClassNumber(), "/", c->ClassName());
    } else {
      slot = nullptr;
    }
  }
}

const KQSClass* KOPPEnvironment::LookupOwnName(const KString& upper) {
  KQSClass* c = nullptr;
  if (ProcessNames().Get(upper, c)) return c;
  KLockGuard hold(fLock);
  return fNameToClass->Get(upper, c) ? c : nullptr;
}

const KQSClass* KOPPEnvironment::LookupByName(const KString& name) {
  const KQSClass* c = LookupOwnName(name.Upper());
  if (c == nullptr && fLoader != nullptr) c = fLoader->LoadClassByName(name);
  return c;
}

const KQSClass* KOPPEnvironment::LookupByNameNoLoad(const KString& name) { return LookupOwnName(name.Upper()); }

const KQSClass* KOPPEnvironment::LookupByNumber(short n) {
  if (n == kNoNumber) {
    DebugText("KOPPEnvironment::LookupByNumber( KQSValue::kNoClassNumber )\n");
    return nullptr;
  }
  if (n < kProcessLow) {
    DebugText("KOPPEnvironment::LookupByNumber...ClassNumber too low=", n, '\n');
    return nullptr;
  }
  if (n <= kProcessHigh) return ProcessSlot(n);
  if (n <= kEnvHigh) {
    KLockGuard hold(fLock);
    return EnvSlot(fNumberToClass, n);
  }
  return nullptr;
}

bool KOPPEnvironment::LoadXLateModule(const char* name, KQSValue& out) {
  return fLoader != nullptr && fLoader->LoadXLateModule(name, out);
}

bool KOPPEnvironment::LoadSource(const char* name, KString& out) {
  return fLoader != nullptr && fLoader->LoadSource(name, out);
}

TArray<const KQSClass*>* KOPPEnvironment::Classes() {
  auto* list = new TArray<const KQSClass*>();
  KLockGuard hold(fLock);
  for (KQSClass* c : fNumberToClass) {
    if (c != nullptr) list->Add(c);
  }
  return list;
}

TArray<const KQSClass*>* KOPPEnvironment::ProcessClasses() {
  auto* list = new TArray<const KQSClass*>();
  for (KQSClass* c : gProcessClassNumberToClass) {
    if (c != nullptr) list->Add(c);
  }
  return list;
}

void KOPPEnvironment::CopyClassesFrom(KOPPEnvironment* source) {
  TArray<const KQSClass*>* list = source->Classes();
  {
    KLockGuard hold(fConcurrent ? &fLock : nullptr);
    for (unsigned long i = 1; i <= list->Count(); ++i) {
      KQSClass* c = const_cast<KQSClass*>(list->GetAt(i));
      const short n = c->ClassNumber();
      if (n < kEnvLow) {
        DebugText("KOPPEnvironment::CopyClassesFrom...ClassNumber too low=", n, '\n');
      } else if (n > kEnvHigh) {
        DebugText("KOPPEnvironment::CopyClassesFrom...ClassNumber too high=", n, '\n');
      } else if (EnvSlot(fNumberToClass, n) != nullptr) {
        DebugText("KOPPEnvironment::CopyClassesFrom...destination already has a classnumber = ", n, "\n ");
      } else {
        EnvSlot(fNumberToClass, n) = c;
        fNameToClass->Add(KString(c->ClassName()).Upper(), c);
      }
    }
  }
  delete list;
  Loader(new KOPPClassDelegatingLoader(source));
}

void KOPPEnvironment::ClassLoadingBegin(KQSClass* c) { fLoading.Add(KString(c->ClassName()), c); }

const KQSClass* KOPPEnvironment::InstallClass(const KQSClass* prototype) {
  const KString name(prototype->ClassName());
  const KQSClass* old = LookupByNameNoLoad(name);
  if (old != nullptr) DebugText("KOPPEnvironment::InstallClass( ", name, " ) replacing old...\n");
  if (prototype->ClassNumber() != kNoNumber) {
    const KQSClass* byNumber = LookupByNumber(prototype->ClassNumber());
    if (byNumber != nullptr && byNumber == old) {
      DebugText("KOPPEnvironment::InstallClass( ", name, " ) replacing old...\n");
    } else if (byNumber != nullptr) {
      DebugText("KOPPEnvironment::InstallClass( ", name, " ) name/number conflict.\n");
    }
  }
  KQSClass* loading = nullptr;
  if (fLoading.Get(name, loading)) return loading;
  KQSClass* built = prototype->BuildInstallableClass(this, old);
  if (built == nullptr) {
    DebugText("KOPPEnvironment::InstallClass...Unable to install class=", name, '\n');
    return nullptr;
  }
  if (built == old) {
    DebugText("KOPPEnvironment::InstallClass...In-place replacement of class=", name, '\n');
  } else {
    if (old != nullptr) {
      DebugText("KOPPEnvironment::InstallClass...Removing old class=", old->ClassName(), " (LEAKING)\n");
      RemoveClass(old);
    }
    AddClass(built);
  }
  fLoading.Delete(KString(built->ClassName()));
  return built;
}
