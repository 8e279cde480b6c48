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
  /// Turn loading on or off; true when the loader did. The library never
  /// calls them; the base does nothing and answers false.
  ///@{
  virtual bool Enable();
  virtual bool Disable();
  ///@}
  /// The class called name (case-insensitive), loaded and registered by
  /// the loader, or null when there is none. The caller does not own it.
  /// Called by KOPPEnvironment::LookupByName on a miss, without the
  /// environment's lock.
  virtual const KQSClass* LoadClassByName(const char* name);
  /// Stores the translation module called name in out; false when there is
  /// none (out then unchanged).
  virtual bool LoadXLateModule(const char* name, KQSValue& out);
  /// Stores the source text called name in out; false when there is none
  /// (out then unchanged).
  virtual bool LoadSource(const char* name, KString& out);
};

/// Finds classes in another environment (which it does not own).
class VXKERNEL_EXPORT KOPPClassDelegatingLoader : public KOPPClassLoader {
 public:
  /// A loader asking target, which must outlive it; null finds nothing.
  explicit KOPPClassDelegatingLoader(KOPPEnvironment* target) : fTarget(target) {}
  /// target's LookupByName of name (so target's own loader is asked in
  /// turn); null when target is null or has no such class.
  const KQSClass* LoadClassByName(const char* name) override;
  /// The environment asked, not owned.
  KOPPEnvironment* Target() const { return fTarget; }

 private:
  KOPPEnvironment* fTarget;
};

/// A class registry: the process tables shared by every environment, plus
/// this environment's own name and number tables and its loader (see the
/// file comment for numbers, ownership and locking).
class VXKERNEL_EXPORT KOPPEnvironment {
 public:
  /// Process numbers -250..32, environment numbers 33..1000.
  ///@{
  static constexpr short kProcessLow = -250;
  static constexpr short kProcessHigh = 32;
  static constexpr short kEnvLow = 33;
  static constexpr short kEnvHigh = 1000;
  ///@}

  KOPPEnvironment();
  KOPPEnvironment(const KOPPEnvironment&) = delete;
  KOPPEnvironment& operator=(const KOPPEnvironment&) = delete;
  /// Destroys the name table and the loader, not the classes.
  ~KOPPEnvironment();

  /// The environment owns the loader it is given (and destroys the old one).
  /// The getter returns it, still owned; null when there is none.
  ///@{
  void Loader(KOPPClassLoader* loader);
  KOPPClassLoader* Loader() const { return fLoader; }
  ///@}
  /// From now on CopyClassesFrom holds the lock too (the values package
  /// does this for the process environment at the end of its start-up).
  /// Cannot be undone.
  void ConcurrencyEnable() { fConcurrent = true; }

  /// Registers c (not owned; it must live until the process ends) in this
  /// environment under its upper-cased name and its number, 33..1000 or
  /// kNoClassNumber, and marks it installed. Its extends and implements
  /// names are not resolved. False, with one debug line, for a number out
  /// of range or a name or number already taken here.
  bool AddClass(KQSClass* c);
  /// Registers c (not owned; never destroyed) in the process tables under
  /// its upper-cased name and its number, -250..32 or kNoClassNumber,
  /// resolves its extends and implements names and marks it installed.
  /// Start-up only. False, with one debug line, for a number out of range
  /// or a name or number already taken.
  bool AddProcessClass(KQSClass* c);
  /// Builds the installable class of prototype through its implementation
  /// loader (KQSClass::BuildInstallableClass, told the class of that name
  /// already here) and registers it with AddClass, removing (not
  /// destroying) the old class unless the loader updated it in place.
  /// Returns the class, not owned by the caller; while a class of that name
  /// is being loaded (ClassLoadingBegin), that class at once. Null, with one
  /// debug line, when the build fails. A name or number already in use
  /// writes a debug line but does not stop the install.
  const KQSClass* InstallClass(const KQSClass* prototype);
  /// The class called name (case-insensitive): the process tables first,
  /// then this environment's, then, on a miss, the loader. Null when none
  /// has it. The caller does not own the class.
  const KQSClass* LookupByName(const KString& name);
  /// As LookupByName, without asking the loader.
  const KQSClass* LookupByNameNoLoad(const KString& name);
  /// The class numbered n: the process table for -250..32, this
  /// environment's for 33..1000; null for an empty number or one above
  /// 1000, and also (with one debug line) for kNoClassNumber or below -250.
  const KQSClass* LookupByNumber(short n);
  /// The loader's LoadXLateModule, or LoadSource; false without loader.
  ///@{
  bool LoadXLateModule(const char* name, KQSValue& out);
  bool LoadSource(const char* name, KString& out);
  ///@}
  /// The numbered classes of this environment in ascending number order; the
  /// caller owns the array.
  TArray<const KQSClass*>* Classes();
  /// Adds the numbered classes of source to this environment's tables (a
  /// number already taken here is skipped with one debug line), then makes
  /// a delegating loader on source this environment's loader, replacing
  /// the old one. source must outlive this environment.
  void CopyClassesFrom(KOPPEnvironment* source);
  /// A new, empty reflection prototype; the caller owns it.
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
