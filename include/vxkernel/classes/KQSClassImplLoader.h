/// \file
/// KQSClassImplLoader: turns class prototypes into installable classes.
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
  virtual KQSClass* LoadClassFromImpl(KOPPEnvironment* environment, const KQSClass* installed,
                                      const KQSClass* prototype);
};

#endif  // VXKERNEL_CLASSES_KQSCLASSIMPLLOADER_H_
