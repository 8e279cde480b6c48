/// \file
/// KQSClass: the type descriptor behind every script value.
///
/// A value (KQSValue) is a class pointer and one data word; the class decides
/// everything that depends on the type: coercion, comparison, features,
/// subscripting, invocation, text and binary forms. A class object is made
/// once, registered with a KOPPEnvironment and lives until the process ends;
/// values only point at it. Class objects are not copied.
///
/// Thread rules: a class is built and registered by one thread; afterwards
/// its description is read-only and may be used from any thread.
#ifndef VXKERNEL_CLASSES_KQSCLASS_H_
#define VXKERNEL_CLASSES_KQSCLASS_H_

#include <atomic>
#include <iosfwd>
#include <vector>

#include "vxkernel/export.h"
#include "vxkernel/values/KQSValue_fwd.h"

class KString;
class KStringKey;
template <class K, class V>
class T23Tree;
class KQSClassFormatter;
class KQSClassCracker;
class KOPPEnvironment;
class KQSClass_Slot;
class KQSClass_ClassMethod;
class KQSClass_Method;
class KQSClass_ClassAttribute;
class KQSClass_Attribute;
class KQSClass_Constant;
class KQSClass_ClassMethodFunctor;
class KQSClass_MethodFunctor;
class KQSClass_ClassAttributeFunctor;
class KQSClass_AttributeFunctor;
class KThread;

/// The call context handed to feature functors: the calling script thread
/// (opaque to this library) and a status word, 0 for success.
class VXKERNEL_EXPORT KQSClass_env {
 public:
  explicit KQSClass_env(KThread* thread) : fThread(thread) {}
  KThread* Thread() const { return fThread; }
  void Thread(KThread* t) { fThread = t; }
  long Status() const { return fStatus; }
  void Status(long s) { fStatus = s; }

 private:
  KThread* fThread;
  long fStatus = 0;
};

class KQSClassImplLoader;

class VXKERNEL_EXPORT KQSClass {
 public:
  /// The class number that stands for no number at all.
  static constexpr short kNoClassNumber = 28671;
  /// The implementation kinds an implementation loader can be registered for.
  static constexpr long kImplTypes = 7;

  KQSClass();
  KQSClass(const char* name, short number);
  KQSClass(const KQSClass&) = delete;
  KQSClass& operator=(const KQSClass&) = delete;
  virtual ~KQSClass();

  // ----- the virtual interface, in table order -----
  virtual KString ImplDesc() const;
  virtual void CompleteClassDefinition();
  virtual KQSValue DeepSafeCopy(void* data);
  virtual bool CoerceToBoolean(void* data) const;
  /// Writes the value converted to typeCode into out; false when it cannot.
  virtual bool CoerceTo(void* data, short typeCode, KQSValue& out) const;
  virtual long Length(void* data) const;
  virtual int Compare(void* a, void* b, bool ignoreCase) const;
  virtual int Equal(void* a, void* b) const;
  virtual KQSValue Features(void* data);
  virtual bool IsFeature(void* data, const KQSValue& name) const;
  virtual long ClassDot(KThread* thread, const KQSValue& name, KQSValue& out, KQSValue* env) const;
  virtual long ClassDotInvoke(KThread* thread, const KQSValue& name, long argc, KQSValue* argv,
                              KQSValue& out, KQSValue* env) const;
  virtual long ClassDotValuePut(KThread* thread, const KQSValue& name, const KQSValue& value) const;
  virtual long Dot(void* data, const KQSValue& name, KQSValue& out, KQSValue* env) const;
  virtual long DotInvoke(void* data, const KQSValue& name, long argc, KQSValue* argv, KQSValue& out,
                         KQSValue* env) const;
  virtual long DotValuePut(void* data, const KQSValue& name, const KQSValue& value) const;
  virtual long Subscript(void* data, long i, long j, KQSValue& out) const;
  virtual long SubscriptValuePut(void* data, long i, long j, const KQSValue& value) const;
  virtual long Invoke(void* data, long argc, KQSValue* argv, KQSValue& out) const;
  virtual std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const;
  virtual std::ostream& DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const;
  virtual std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const;
  virtual bool FormattedInput(std::istream& in, KQSValue& out, KQSClassCracker* c) const;
  virtual KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const;
  /// Reference keeping of pointer classes; immediate classes do nothing.
  virtual void AddReference(void* data) const;
  virtual void ReleaseReference(void* data) const;

  // ----- identity and flags -----
  short ClassNumber() const { return fClassNumber; }
  short DynamicClassNumber() const { return fDynamicClassNumber; }
  const char* ClassName() const { return fClassName != nullptr ? fClassName : ""; }
  bool IsPointer() const { return fIsPointer; }
  /// The class counts references itself, inline (KQSValueBaseClass and its
  /// descendants), rather than through AddReference/ReleaseReference.
  bool CountsStorage() const { return fCountsStorage; }
  short CanDot() const { return fCanDot; }
  bool CanSubscript() const { return fCanSubscript; }
  bool CanInvoke() const { return fCanInvoke; }
  bool CanPrototype() const { return fCanPrototype; }
  bool IsInstalled() const { return fIsInstalled; }
  bool ImplReflectionOnly() const { return fImplReflectionOnly; }
  long ImplType() const { return fImplType; }
  long ImplLength() const { return fImplLength; }
  const void* ImplBytes() const { return fImplBytes; }

  // ----- feature description -----
  const std::vector<KString>& Extends() const { return fExtends; }
  const std::vector<const KQSClass*>& ExtendsClasses() const { return fExtendsClasses; }
  const std::vector<KString>& Implements() const { return fImplements; }
  const std::vector<const KQSClass*>& ImplementsClasses() const { return fImplementsClasses; }
  const std::vector<KQSClass_Slot*>& ClassMethods() const { return fClassMethods; }
  const std::vector<KQSClass_Slot*>& ClassAttributes() const { return fClassAttributes; }
  const std::vector<KQSClass_Slot*>& Methods() const { return fMethods; }
  const std::vector<KQSClass_Slot*>& Attributes() const { return fAttributes; }
  const std::vector<KQSClass_Slot*>& Constants() const { return fConstants; }
  bool HasClassMethods() const { return fHasClassMethods; }
  bool HasMethods() const { return fHasMethods; }
  bool HasClassAttributes() const { return fHasClassAttributes; }
  bool HasAttributes() const { return fHasAttributes; }
  bool HasConstants() const { return fHasConstants; }

  // ----- features of this class only (null when absent) -----
  KQSClass_ClassMethod* NameToClassMethod(const char* name) const;
  KQSClass_Method* NameToMethod(const char* name) const;
  KQSClass_ClassAttribute* NameToClassAttribute(const char* name) const;
  KQSClass_Attribute* NameToAttribute(const char* name) const;
  KQSClass_Constant* NameToConstant(const char* name) const;
  KQSClass_ClassMethod* IndexToClassMethod(long index) const;
  KQSClass_Method* IndexToMethod(long index) const;
  KQSClass_ClassAttribute* IndexToClassAttribute(long index) const;
  KQSClass_Attribute* IndexToAttribute(long index) const;
  KQSClass_Constant* IndexToConstant(long index) const;
  // ----- features of this class, then of its extends chain -----
  KQSClass_ClassMethod* FindClassMethod(const char* name) const;
  KQSClass_Method* FindMethod(const char* name) const;
  KQSClass_ClassAttribute* FindClassAttribute(const char* name) const;
  KQSClass_Attribute* FindAttribute(const char* name) const;
  KQSClass_Constant* FindConstant(const char* name) const { return NameToConstant(name); }

  // ----- reflection views (new values) -----
  KQSValue ExtendsValue() const;
  KQSValue ImplementsValue() const;
  KQSValue ClassMethodsValue() const;
  KQSValue MethodsValue() const;
  KQSValue ClassAttributesValue() const;
  KQSValue AttributesValue() const;
  KQSValue ConstantsValue() const;

  // ----- class images -----
  /// A Bytes value holding this class's definition (functors excepted).
  KQSValue Export() const;
  /// Adds the definition held by image to this class; returns the class value.
  KQSValue Import(const KQSValue& image);

  /// Outside holders of this class object; kept by the users of the class.
  long HolderCount() const { return fHolderCount.load(std::memory_order_relaxed); }
  void HolderAdd() const { fHolderCount.fetch_add(1, std::memory_order_relaxed); }
  void HolderRelease() const { fHolderCount.fetch_sub(1, std::memory_order_relaxed); }

  /// "<VX:" name [" " attributes] ">" and "</VX:" name ">".
  KString FormatXMLV1OpenTag(const KString& attributes) const;
  KString FormatXMLV1CloseTag() const;

  /// Resolves the Extends and Implements names through the process
  /// environment (run when a registry accepts a process class).
  void CompleteClassInstallation();

  /// Implementation loaders, one per ImplType 0..6; never removed.
  static void RegisterImplLoader(long implType, KQSClassImplLoader* loader);
  /// Turns this prototype into an installable class through its loader.
  KQSClass* BuildInstallableClass(KOPPEnvironment* environment, const KQSClass* installed) const;

 protected:
  void ClassName(const char* name);
  void ClassNumber(short n) { fClassNumber = n; }
  void ImplReflectionOnly(bool b) { fImplReflectionOnly = b; }
  void ImplPut(long type, long length, const void* bytes);
  void AddExtends(const char* name);
  void AddImplements(const char* name);
  /// Empties the extends/implements lists and the feature tables.
  void ResetClassDefinition();

  /// Each stores a new slot at index (appended when index < 0), replacing
  /// what was there, and returns it; the access argument is not kept (every
  /// slot has access level 1).
  KQSClass_ClassMethod* AddClassMethod(const char* name, const char* signature, KQSClass_ClassMethodFunctor* f,
                                       long index, long access, bool ownsFunctor);
  KQSClass_Method* AddMethod(const char* name, const char* signature, KQSClass_MethodFunctor* f, long index,
                             long access, bool ownsFunctor);
  KQSClass_ClassAttribute* AddClassAttribute(const char* name, const char* signature,
                                             KQSClass_ClassAttributeFunctor* f, long index, long access,
                                             bool ownsFunctor);
  KQSClass_Attribute* AddAttribute(const char* name, const char* signature, KQSClass_AttributeFunctor* f,
                                   long index, long access, bool ownsFunctor);
  KQSClass_Constant* AddConstant(const char* name, const KQSValue& value, long index, long access);

  bool fIsPointer = false;
  bool fCountsStorage = false;
  bool fCanSubscript = false;
  bool fCanInvoke = false;
  bool fCanPrototype = false;
  short fCanDot = 0;

 private:
  friend class KOPPEnvironment;

  char* fClassName = nullptr;
  short fClassNumber = kNoClassNumber;
  short fDynamicClassNumber = kNoClassNumber;
  std::vector<KString> fExtends;
  std::vector<const KQSClass*> fExtendsClasses;
  std::vector<KString> fImplements;
  std::vector<const KQSClass*> fImplementsClasses;
  std::vector<KQSClass_Slot*> fClassMethods;
  std::vector<KQSClass_Slot*> fClassAttributes;
  std::vector<KQSClass_Slot*> fMethods;
  std::vector<KQSClass_Slot*> fAttributes;
  std::vector<KQSClass_Slot*> fConstants;
  /// Feature name indexes by upper-cased name, null until first used.
  T23Tree<KStringKey, KQSClass_Slot*>* fClassMethodIndex = nullptr;
  T23Tree<KStringKey, KQSClass_Slot*>* fClassAttributeIndex = nullptr;
  T23Tree<KStringKey, KQSClass_Slot*>* fMethodIndex = nullptr;
  T23Tree<KStringKey, KQSClass_Slot*>* fAttributeIndex = nullptr;
  T23Tree<KStringKey, KQSClass_Slot*>* fConstantIndex = nullptr;
  bool fImplReflectionOnly = false;
  long fImplType = 2;
  long fImplLength = 0;
  unsigned char* fImplBytes = nullptr;
  bool fHasClassMethods = false;
  bool fHasMethods = false;
  bool fHasClassAttributes = false;
  bool fHasAttributes = false;
  bool fHasConstants = false;
  bool fIsInstalled = false;
  mutable std::atomic<long> fHolderCount{0};
};

#endif  // VXKERNEL_CLASSES_KQSCLASS_H_
