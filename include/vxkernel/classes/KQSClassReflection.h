/// \file
/// KQSClassReflection: a class prototype assembled from script data.
#ifndef VXKERNEL_CLASSES_KQSCLASSREFLECTION_H_
#define VXKERNEL_CLASSES_KQSCLASSREFLECTION_H_

#include "vxkernel/classes/KQSClassPointer.h"
#include "vxkernel/export.h"

class KQSValue;

/// A class prototype assembled from script data; only such prototypes can be
/// handed to an implementation loader. Owned by whoever made it (see
/// KOPPEnvironment::NewClass). Built by one thread, then only read.
class VXKERNEL_EXPORT KQSClassReflection : public KQSClassPointer {
 public:
  KQSClassReflection();

  void AddReference(void* data) const override;
  void ReleaseReference(void* data) const override;

  void ClassNumber(short n) { KQSClass::ClassNumber(n); }
  void ClassName(const char* name) { KQSClass::ClassName(name); }
  void ImplPut(long type, long length, const void* bytes) {
    KQSClass::ImplPut(type, length, bytes);
  }
  using KQSClass::ClassName;
  using KQSClass::ClassNumber;

  /// Each takes a List and adds one entry per element, in order. Extends and
  /// Implements: name Strings. Feature lists: Lists of (name, signature
  /// text, index, access), slots without functor. Constants: Lists of
  /// (name, value, index, access).
  void Extends(const KQSValue& list);
  void Implements(const KQSValue& list);
  void ClassMethods(const KQSValue& list);
  void Methods(const KQSValue& list);
  void ClassAttributes(const KQSValue& list);
  void Attributes(const KQSValue& list);
  void Constants(const KQSValue& list);
  using KQSClass::Attributes;
  using KQSClass::ClassAttributes;
  using KQSClass::ClassMethods;
  using KQSClass::Constants;
  using KQSClass::Extends;
  using KQSClass::Implements;
  using KQSClass::Methods;
  using KQSClass::ResetClassDefinition;
};

#endif  // VXKERNEL_CLASSES_KQSCLASSREFLECTION_H_
