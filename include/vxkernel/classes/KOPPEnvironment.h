/// \file
/// KOPPEnvironment: a class registry, and the class loaders it consults.
///
/// Classes are registered under their case-insensitive name and, optionally,
/// a number. Numbers -250..32 belong to the process tables, shared by every
/// environment and filled at start-up (AddProcessClass); numbers 33..1000 to
/// each environment's own table (AddClass); kNoClassNumber registers by name
/// only. The environment does not own its classes: installed classes live
/// until the process ends. It owns its loader.
///
/// Thread rules: the process tables are written during start-up only and
/// read without a lock. AddClass, RemoveClass, Classes and the lookups of the
/// environment's own tables hold its lock; CopyClassesFrom holds it once
/// ConcurrencyEnable has run. Loaders are called without the lock.
#ifndef VXKERNEL_CLASSES_KOPPENVIRONMENT_H_
#define VXKERNEL_CLASSES_KOPPENVIRONMENT_H_

#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/text/T23Tree.h"
#include "vxkernel/text/TArray.h"
#include "vxkernel/threads/KLock.h"

class KQSValue;

/// Loads classes, translation modules and sources on demand; hosts derive.
/// The base versions find nothing.
class VXKERNEL_EXPORT KOPPClassLoader {
 public:
  virtual ~KOPPClassLoader();
  virtual bool Enable();
  virtual bool Disable();
  virtual const KQSClass* LoadClassByName(const char* name);
  virtual bool LoadXLateModule(const char* name, KQSValue& out);
  virtual bool LoadSource(const char* name, KString& out);
};

/// Finds classes in another environment (which it does not own).
class VXKERNEL_EXPORT KOPPClassDelegatingLoader : public KOPPClassLoader {
 public:
  explicit KOPPClassDelegatingLoader(KOPPEnvironment* target) : fTarget(target) {}
  const KQSClass* LoadClassByName(const char* name) override;
  KOPPEnvironment* Target() const { return fTarget; }

 private:
  KOPPEnvironment* fTarget;
};

class VXKERNEL_EXPORT KOPPEnvironment {
 public:
  /// Process numbers -250..32, environment numbers 33..1000.
  static constexpr short kProcessLow = -250;
  static constexpr short kProcessHigh = 32;
  static constexpr short kEnvLow = 33;
  static constexpr short kEnvHigh = 1000;

  KOPPEnvironment();
  KOPPEnvironment(const KOPPEnvironment&) = delete;
  KOPPEnvironment& operator=(const KOPPEnvironment&) = delete;
  /// Destroys the name table and the loader, not the classes.
  ~KOPPEnvironment();

  /// The environment owns the loader it is given (and destroys the old one).
  void Loader(KOPPClassLoader* loader);
  KOPPClassLoader* Loader() const { return fLoader; }
  void ConcurrencyEnable() { fConcurrent = true; }

  bool AddClass(KQSClass* c);
  bool AddProcessClass(KQSClass* c);
  const KQSClass* InstallClass(const KQSClass* prototype);
  const KQSClass* LookupByName(const KString& name);
  const KQSClass* LookupByNameNoLoad(const KString& name);
  const KQSClass* LookupByNumber(short n);
  bool LoadXLateModule(const char* name, KQSValue& out);
  bool LoadSource(const char* name, KString& out);
  /// The numbered classes of this environment in ascending number order; the
  /// caller owns the array.
  TArray<const KQSClass*>* Classes();
  void CopyClassesFrom(KOPPEnvironment* source);
  KQSClassReflection* NewClass() { return new KQSClassReflection(); }
  /// Marks c as being loaded: InstallClass of its name yields c meanwhile.
  void ClassLoadingBegin(KQSClass* c);

  /// The process classes in number order (numbered ones only); the caller
  /// owns the array. Used by hosts to list what start-up registered.
  static TArray<const KQSClass*>* ProcessClasses();

 private:
  void RemoveClass(const KQSClass* c);
  const KQSClass* LookupOwnName(const KString& upper);

  bool fConcurrent = false;
  KOPPClassLoader* fLoader = nullptr;
  T23Tree<KString, KQSClass*> fLoading;
  KLock fLock;
  T23Tree<KString, KQSClass*>* fNameToClass;
  KQSClass* fNumberToClass[kEnvHigh - kEnvLow + 1] = {};
};

#endif  // VXKERNEL_CLASSES_KOPPENVIRONMENT_H_
