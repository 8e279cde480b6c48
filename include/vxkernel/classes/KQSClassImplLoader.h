/// \file
/// KQSClassImplLoader: turns class prototypes into installable classes.
///
/// KOPPEnvironment::InstallClass hands a reflection prototype to the loader
/// registered for its implementation kind (KQSClass::RegisterImplLoader),
/// which builds the class the environment then registers.
#ifndef VXKERNEL_CLASSES_KQSCLASSIMPLLOADER_H_
#define VXKERNEL_CLASSES_KQSCLASSIMPLLOADER_H_

#include "vxkernel/export.h"

class KOPPEnvironment;
class KQSClass;

/// Turns a reflection prototype into an installable class for one ImplType.
/// The host makes one per kind and registers it with
/// KQSClass::RegisterImplLoader, which keeps it for the life of the process;
/// it is called on the thread that installs a class.
class VXKERNEL_EXPORT KQSClassImplLoader {
 public:
  virtual ~KQSClassImplLoader();
  /// May return installed itself (in-place update), a new class, or null.
  /// installed is the class of the prototype's name already registered
  /// (null for none). The base returns null with one debug line.
  virtual KQSClass* LoadClassFromImpl(KOPPEnvironment* environment, const KQSClass* installed,
                                      const KQSClass* prototype);
};

#endif  // VXKERNEL_CLASSES_KQSCLASSIMPLLOADER_H_
