/// \file
/// KQSClassReflection: a class prototype assembled from script data.
///
/// A script describes a class (name, number, implementation image, extends
/// and implements names, feature tables as Lists); the prototype collects
/// the description and KOPPEnvironment::InstallClass turns it into a class
/// through the loader of its implementation kind. No value has a prototype
/// as its class.
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
  /// An empty prototype, marked ImplReflectionOnly.
  KQSClassReflection();

  /// Never called for a prototype: only write a debug line.
  ///@{
  void AddReference(void* data) const override;
  void ReleaseReference(void* data) const override;
  ///@}

  /// KQSClass's protected setters, public for the prototype's builder.
  ///@{
  void ClassNumber(short n) { KQSClass::ClassNumber(n); }
  void ClassName(const char* name) { KQSClass::ClassName(name); }
  void ImplPut(long type, long length, const void* bytes) {
    KQSClass::ImplPut(type, length, bytes);
  }
  ///@}
  using KQSClass::ClassName;
  using KQSClass::ClassNumber;

  /// Each takes a List and adds one entry per element, in order. Extends and
  /// Implements: name Strings. Feature lists: Lists of (name, signature
  /// text, index, access), slots without functor. Constants: Lists of
  /// (name, value, index, access).
  ///
  /// The signature is a String or Undefined (none); index must be an
  /// Integer, and access defaults to 1 when it is not. A malformed element
  /// is skipped and a non-List adds nothing, each with one debug line.
  ///@{
  void Extends(const KQSValue& list);
  void Implements(const KQSValue& list);
  void ClassMethods(const KQSValue& list);
  void Methods(const KQSValue& list);
  void ClassAttributes(const KQSValue& list);
  void Attributes(const KQSValue& list);
  void Constants(const KQSValue& list);
  ///@}
  /// KQSClass's getters of the same names, which the setters would hide.
  ///@{
  using KQSClass::Attributes;
  using KQSClass::ClassAttributes;
  using KQSClass::ClassMethods;
  using KQSClass::Constants;
  using KQSClass::Extends;
  using KQSClass::Implements;
  using KQSClass::Methods;
  ///@}
  /// Empties the prototype's lists and feature tables, as in KQSClass.
  using KQSClass::ResetClassDefinition;
};

#endif  // VXKERNEL_CLASSES_KQSCLASSREFLECTION_H_
