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
/// (opaque to this library) and a status word, 0 for success. The
/// dispatching operation makes a fresh one per call, on its stack, and
/// returns the status the functor left in it.
class VXKERNEL_EXPORT KQSClass_env {
 public:
  /// A context for thread (not owned; may be null) with status 0.
  explicit KQSClass_env(KThread* thread) : fThread(thread) {}
  /// The calling script thread, not owned; null for instance operations,
  /// which have no thread to pass.
  ///@{
  KThread* Thread() const { return fThread; }
  void Thread(KThread* t) { fThread = t; }
  ///@}
  /// The call's status: 0 for success, otherwise the error code the
  /// dispatching operation returns to its caller. A functor that fails
  /// sets it and writes its one debug line.
  ///@{
  long Status() const { return fStatus; }
  void Status(long s) { fStatus = s; }
  ///@}

 private:
  KThread* fThread;
  long fStatus = 0;
};

class KQSClassImplLoader;

/// The type descriptor of script values: one object per type, which every
/// value of the type points at. Its virtual operations take the value's
/// data word (`data`: the immediate payload, or the storage pointer of a
/// pointer class, null for a storage class value without storage); the base
/// versions are the behaviour of a type that defines nothing. Features
/// (methods, attributes, class methods, class attributes, constants) are
/// slots in five tables, each found by case-insensitive name or by position.
/// A class owns its name, its implementation image and its slots; it is
/// built by one thread, then only read.
class VXKERNEL_EXPORT KQSClass {
 public:
  /// The class number that stands for no number at all.
  static constexpr short kNoClassNumber = 28671;
  /// The implementation kinds an implementation loader can be registered for.
  static constexpr long kImplTypes = 7;

  /// An unnamed class with kNoClassNumber (prototypes name it later).
  KQSClass();
  /// A class called name (copied; null for none) with number, which may be
  /// kNoClassNumber.
  KQSClass(const char* name, short number);
  KQSClass(const KQSClass&) = delete;
  KQSClass& operator=(const KQSClass&) = delete;
  virtual ~KQSClass();

  // ----- the virtual interface, in table order -----
  /// A one-line description of how the class is implemented, for listings;
  /// "Builtin KQSClass implementation" unless overridden.
  virtual KString ImplDesc() const;
  /// Adds the class's features; run once, when the class is registered.
  /// The base adds none.
  virtual void CompleteClassDefinition();
  /// A copy of the value that shares no storage with it. Not implemented by
  /// the base: Undefined and one debug line.
  virtual KQSValue DeepSafeCopy(void* data);
  /// The value's truth in a condition; the base says true.
  virtual bool CoerceToBoolean(void* data) const;
  /// Writes the value converted to typeCode into out; false when it cannot.
  virtual bool CoerceTo(void* data, short typeCode, KQSValue& out) const;
  /// The value's length (characters, bytes, elements, as the type counts);
  /// -1 for a type without one (the base).
  virtual long Length(void* data) const;
  /// Orders two data words of this class: negative, 0 or positive.
  /// ignoreCase matters to text types only. The base has no order and
  /// answers -1 even for equal words.
  virtual int Compare(void* a, void* b, bool ignoreCase) const;
  /// 1 when the two data words hold equal values, else 0; the base asks
  /// Compare for 0.
  virtual int Equal(void* a, void* b) const;
  /// A new List of the names (Strings) of the methods, then the attributes,
  /// of this class's own tables.
  virtual KQSValue Features(void* data);
  /// Whether name (a String) is an attribute or method of this class or of
  /// its extends chain. Any other kind of name gives false; a SlotIndex
  /// also writes one debug line.
  virtual bool IsFeature(void* data, const KQSValue& name) const;
  /// Class operations: Class.name read, called with argv[0..argc-1], or
  /// assigned value. name is a String (case-insensitive, this class and its
  /// extends chain for names) or a SlotIndex (a position in this class's own
  /// table); the feature's functor runs with a context for thread (not
  /// owned). A call first checks its arguments against the slot's
  /// signature: an Undefined argument under AutoUndefined makes out
  /// Undefined and returns 0 without running the functor. Returns 0 on
  /// success, else the functor's status, 0x26AD000F when there is no such
  /// feature (other kinds of name too), 0x26AD0017 or 0x26AD0018 for a
  /// wrong argument count or type, 0x26AD0033 for a slot without functor.
  /// env is not used.
  ///@{
  virtual long ClassDot(KThread* thread, const KQSValue& name, KQSValue& out, KQSValue* env) const;
  virtual long ClassDotInvoke(KThread* thread, const KQSValue& name, long argc, KQSValue* argv,
                              KQSValue& out, KQSValue* env) const;
  virtual long ClassDotValuePut(KThread* thread, const KQSValue& name, const KQSValue& value) const;
  ///@}
  /// Instance operations: value.name read, called with argv[0..argc-1], or
  /// assigned value, through the attribute and method tables (names as for
  /// ClassDot). A read or call that finds no instance feature falls back to
  /// the class attribute or class method of that name (one debug line).
  /// The functor gets data and a context without thread. Returns 0 on
  /// success, else the status codes listed under ClassDot; classes with
  /// features of their own kind override these, and may answer other codes
  /// (see KQSValueBaseClass). env is not used by the base.
  ///@{
  virtual long Dot(void* data, const KQSValue& name, KQSValue& out, KQSValue* env) const;
  virtual long DotInvoke(void* data, const KQSValue& name, long argc, KQSValue* argv, KQSValue& out,
                         KQSValue* env) const;
  virtual long DotValuePut(void* data, const KQSValue& name, const KQSValue& value) const;
  ///@}
  /// value[i] (the script passes i twice) or value[i, j] into out, or
  /// assigned value; what the indexes mean is the type's. 0 on success,
  /// else a status code; -1 for a type without subscripts (the base).
  ///@{
  virtual long Subscript(void* data, long i, long j, KQSValue& out) const;
  virtual long SubscriptValuePut(void* data, long i, long j, const KQSValue& value) const;
  ///@}
  /// Calls the value with argv[0..argc-1], result in out. 0 on success,
  /// else a status code; -1 for a type that cannot be called (the base).
  virtual long Invoke(void* data, long argc, KQSValue* argv, KQSValue& out) const;
  /// Writes the value's text form (docs/value-format.md), which the value
  /// text reader reads back; f tracks the containers being written and may
  /// be null for a scalar. The base writes "|Name=0x...|", which does not
  /// read back. Returns out.
  virtual std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const;
  /// Writes the value for people (a String without quotes, an Error as its
  /// message); the base writes the text form. Returns out.
  virtual std::ostream& DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const;
  /// Writes the value's binary form: the 16-bit class number, then the
  /// payload (docs/value-format.md). The base writes nothing and one debug
  /// line. Returns out.
  virtual std::ostream& BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const;
  /// Reads a value of this class in text form into out; the base reads
  /// nothing and returns false (the value text reader does the work).
  virtual bool FormattedInput(std::istream& in, KQSValue& out, KQSClassCracker* c) const;
  /// Reads the payload of a binary value whose class number the caller has
  /// already read. A payload cut short gives Undefined and leaves in failed.
  /// The base reads nothing and returns Undefined with one debug line.
  virtual KQSValue BinaryInput(std::istream& in, KQSClassCracker* c) const;
  /// Reference keeping of pointer classes: one reference to the storage
  /// data taken or dropped; immediate classes do nothing.
  ///@{
  virtual void AddReference(void* data) const;
  virtual void ReleaseReference(void* data) const;
  ///@}

  // ----- identity and flags -----
  /// The number the class is registered under (see KOPPEnvironment for the
  /// ranges); kNoClassNumber for a class known by name only.
  short ClassNumber() const { return fClassNumber; }
  /// Always kNoClassNumber: this library assigns no dynamic numbers.
  short DynamicClassNumber() const { return fDynamicClassNumber; }
  /// The name, owned by the class; "" when it has none, never null.
  const char* ClassName() const { return fClassName != nullptr ? fClassName : ""; }
  /// Whether the data word of its values points at counted storage
  /// (KQSClassPointer and its descendants).
  bool IsPointer() const { return fIsPointer; }
  /// The class counts references itself, inline (KQSValueBaseClass and its
  /// descendants), rather than through AddReference/ReleaseReference.
  bool CountsStorage() const { return fCountsStorage; }
  /// 0 when values reach features only through the class's tables;
  /// otherwise the kind (1..3) of dot access the type's storage answers,
  /// which makes the type an object type for argument checks.
  short CanDot() const { return fCanDot; }
  /// Whether values take subscripts, and whether they can be called.
  ///@{
  bool CanSubscript() const { return fCanSubscript; }
  bool CanInvoke() const { return fCanInvoke; }
  ///@}
  /// Whether the class may serve as a prototype; false for every class of
  /// this library.
  bool CanPrototype() const { return fCanPrototype; }
  /// Whether a registry has accepted the class; an installed class must
  /// not be destroyed.
  bool IsInstalled() const { return fIsInstalled; }
  /// True for reflection prototypes (KQSClassReflection), the only classes
  /// BuildInstallableClass accepts.
  bool ImplReflectionOnly() const { return fImplReflectionOnly; }
  /// The implementation kind (0..kImplTypes-1, 2 unless set) and its image:
  /// opaque bytes for that kind's loader, owned by the class; ImplBytes is
  /// null when ImplLength is 0.
  ///@{
  long ImplType() const { return fImplType; }
  long ImplLength() const { return fImplLength; }
  const void* ImplBytes() const { return fImplBytes; }
  ///@}

  // ----- feature description -----
  /// The names of the classes this one extends, in declaration order, and
  /// those names resolved to classes of the same implementation kind by
  /// CompleteClassInstallation (names that did not resolve are left out;
  /// empty until that has run).
  ///@{
  const std::vector<KString>& Extends() const { return fExtends; }
  const std::vector<const KQSClass*>& ExtendsClasses() const { return fExtendsClasses; }
  ///@}
  /// The same two lists for the names of the classes it implements.
  ///@{
  const std::vector<KString>& Implements() const { return fImplements; }
  const std::vector<const KQSClass*>& ImplementsClasses() const { return fImplementsClasses; }
  ///@}
  /// The feature tables, indexed by slot position; a position never filled
  /// holds null. The slots are owned by the class.
  ///@{
  const std::vector<KQSClass_Slot*>& ClassMethods() const { return fClassMethods; }
  const std::vector<KQSClass_Slot*>& ClassAttributes() const { return fClassAttributes; }
  const std::vector<KQSClass_Slot*>& Methods() const { return fMethods; }
  const std::vector<KQSClass_Slot*>& Attributes() const { return fAttributes; }
  const std::vector<KQSClass_Slot*>& Constants() const { return fConstants; }
  ///@}
  /// Whether a slot was ever added to the table since the last reset.
  ///@{
  bool HasClassMethods() const { return fHasClassMethods; }
  bool HasMethods() const { return fHasMethods; }
  bool HasClassAttributes() const { return fHasClassAttributes; }
  bool HasAttributes() const { return fHasAttributes; }
  bool HasConstants() const { return fHasConstants; }
  ///@}

  // ----- features of this class only (null when absent) -----
  /// The slot of this class's own table called name (case-insensitive; null
  /// name finds nothing), owned by the class. When two slots share a name,
  /// the one added last answers.
  ///@{
  KQSClass_ClassMethod* NameToClassMethod(const char* name) const;
  KQSClass_Method* NameToMethod(const char* name) const;
  KQSClass_ClassAttribute* NameToClassAttribute(const char* name) const;
  KQSClass_Attribute* NameToAttribute(const char* name) const;
  KQSClass_Constant* NameToConstant(const char* name) const;
  ///@}
  /// The slot at 0-based position index of this class's own table, owned
  /// by the class; null outside the table or for an empty position.
  ///@{
  KQSClass_ClassMethod* IndexToClassMethod(long index) const;
  KQSClass_Method* IndexToMethod(long index) const;
  KQSClass_ClassAttribute* IndexToClassAttribute(long index) const;
  KQSClass_Attribute* IndexToAttribute(long index) const;
  KQSClass_Constant* IndexToConstant(long index) const;
  ///@}
  // ----- features of this class, then of its extends chain -----
  /// As NameToClassMethod and its kin, then through the extends chain
  /// (registered classes of the same implementation kind, depth first in
  /// declaration order, each class once). Null when none has it. Constants
  /// are not inherited: FindConstant looks at this class only.
  ///@{
  KQSClass_ClassMethod* FindClassMethod(const char* name) const;
  KQSClass_Method* FindMethod(const char* name) const;
  KQSClass_ClassAttribute* FindClassAttribute(const char* name) const;
  KQSClass_Attribute* FindAttribute(const char* name) const;
  KQSClass_Constant* FindConstant(const char* name) const { return NameToConstant(name); }
  ///@}

  // ----- reflection views (new values) -----
  /// A new List of the extends, or implements, names (Strings).
  ///@{
  KQSValue ExtendsValue() const;
  KQSValue ImplementsValue() const;
  ///@}
  /// A new List with one List per slot, in position order: (name, position,
  /// access level, signature text), the signature Undefined for a slot
  /// without one. Note the order differs from what the KQSClassReflection
  /// setters take.
  ///@{
  KQSValue ClassMethodsValue() const;
  KQSValue MethodsValue() const;
  KQSValue ClassAttributesValue() const;
  KQSValue AttributesValue() const;
  ///@}
  /// A new List with one List (name, position, access level, value) per
  /// constant, in position order.
  KQSValue ConstantsValue() const;

  // ----- class images -----
  /// A Bytes value holding this class's definition (functors excepted).
  KQSValue Export() const;
  /// Adds the definition held by image to this class; returns the class value.
  KQSValue Import(const KQSValue& image);

  /// Outside holders of this class object; kept by the users of the class.
  /// Any thread may count; the destructor writes a debug line when holders
  /// remain.
  ///@{
  long HolderCount() const { return fHolderCount.load(std::memory_order_relaxed); }
  void HolderAdd() const { fHolderCount.fetch_add(1, std::memory_order_relaxed); }
  void HolderRelease() const { fHolderCount.fetch_sub(1, std::memory_order_relaxed); }
  ///@}

  /// "<VX:" name [" " attributes] ">" and "</VX:" name ">": the tags around
  /// a host class's value in text form. attributes is left out when empty.
  ///@{
  KString FormatXMLV1OpenTag(const KString& attributes) const;
  KString FormatXMLV1CloseTag() const;
  ///@}

  /// Resolves the Extends and Implements names through the process
  /// environment (run when a registry accepts a process class).
  void CompleteClassInstallation();

  /// Implementation loaders, one per ImplType 0..6; never removed. The
  /// loader is not owned and must live until the process ends. A type out
  /// of range, or one that has a loader already, is refused with one debug
  /// line.
  static void RegisterImplLoader(long implType, KQSClassImplLoader* loader);
  /// Turns this prototype into an installable class through the loader of
  /// its ImplType; installed is the class of that name already installed
  /// (null for none). Returns what the loader returns; null, with one debug
  /// line, for a type without loader or a class that is not a reflection
  /// prototype.
  KQSClass* BuildInstallableClass(KOPPEnvironment* environment, const KQSClass* installed) const;

 protected:
  /// Replaces the name with a copy of name (null for none).
  void ClassName(const char* name);
  /// Sets the number; set it before the class is registered.
  void ClassNumber(short n) { fClassNumber = n; }
  /// Marks the class as a reflection prototype, or not.
  void ImplReflectionOnly(bool b) { fImplReflectionOnly = b; }
  /// Sets the implementation kind and a copy of its length bytes; a null
  /// or empty image (or no memory for the copy) leaves none.
  void ImplPut(long type, long length, const void* bytes);
  /// Appends a name (copied; null is taken as "") to the extends, or
  /// implements, list; it is resolved when the class is installed.
  ///@{
  void AddExtends(const char* name);
  void AddImplements(const char* name);
  ///@}
  /// Empties the extends/implements lists and the feature tables.
  void ResetClassDefinition();

  /// Each stores a new slot at index (appended when index < 0), replacing
  /// what was there, and returns it; the access argument is not kept (every
  /// slot has access level 1). signature is parsed (null for none); the
  /// slot owns f when ownsFunctor is set. A replaced slot stays alive until
  /// the table is reset, and its name still finds it unless the new slot
  /// has the same name. A null name, a name of 32767 bytes or more, or an
  /// index of 32767 or more adds nothing: null and one debug line.
  ///@{
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
  ///@}

  /// The flags read by IsPointer, CountsStorage, CanSubscript, CanInvoke,
  /// CanPrototype and CanDot; derived classes set them in their
  /// constructors.
  ///@{
  bool fIsPointer = false;
  bool fCountsStorage = false;
  bool fCanSubscript = false;
  bool fCanInvoke = false;
  bool fCanPrototype = false;
  short fCanDot = 0;
  ///@}

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
