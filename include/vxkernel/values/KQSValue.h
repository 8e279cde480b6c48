/// \file
/// KQSValue: the one value type of the scripting language, with GEOM_point
/// and the text-form stream operators.
#ifndef VXKERNEL_VALUES_KQSVALUE_H_
#define VXKERNEL_VALUES_KQSVALUE_H_

#include <cstdint>
#include <iosfwd>

#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSValueBaseClass.h"
#include "vxkernel/export.h"
#include "vxkernel/values/KQSValue_fwd.h"
#include "vxkernel/values/type_numbers.h"
#include "vxkernel/vxtypes.h"

class KDateTime;
class KOPPEnvironment;
class KString;

/// A point of the host's geometry: two signed 32-bit coordinates.
struct GEOM_point {
  int32_t x;  ///< horizontal coordinate
  int32_t y;  ///< vertical coordinate
};

/// A script value: its class (KQSClass) and one pointer-wide data word.
///
/// Immediate classes keep their payload in the word with its 32-bit meaning
/// (an Integer wraps at 32 bits, a Point packs two 16-bit halves); pointer
/// classes keep the address of a reference-counted KQSValueBase there, and
/// the class keeps the count. Everything type-specific is forwarded to the
/// class. A value owns one reference to its storage.
///
/// The List operations count from 1, a negative index from the end.
/// Reading ones answer 0, Undefined or an empty List for a value that is
/// not a List; changing ones must be given a List value (one without
/// storage, such as List(), is fine). Every value reads as if it held its
/// own copy, whatever it shares.
///
/// Thread rules: a value, and every value sharing its storage, is used by one
/// thread at a time. The well-known class slots and the process environment
/// are written during start-up and only read afterwards.
class VXKERNEL_EXPORT KQSValue {
 public:
  /// The class number that stands for no number (KQSClass::kNoClassNumber).
  static constexpr short kNoClassNumber = KQSClass::kNoClassNumber;
  /// What AssertClass leaves in a value whose class word is unusable.
  static constexpr int32_t kBadClassMarker = 23571113;

  // ----- construction -----
  /// Undefined.
  KQSValue() noexcept : fClass(gClassUndefined), fData(0) {}
  ///@{
  /// An Integer: the argument's low 32 bits as a signed number (so unsigned
  /// values from 2^31 up read back negative, and a 64-bit long wraps).
  KQSValue(char v) : KQSValue(static_cast<int32_t>(v)) {}
  KQSValue(short v) : KQSValue(static_cast<int32_t>(v)) {}
  KQSValue(int v) noexcept : fClass(gClassInteger), fData(Word(v)) {}
  KQSValue(long v) : KQSValue(static_cast<int32_t>(v)) {}
  KQSValue(unsigned char v) : KQSValue(static_cast<int32_t>(v)) {}
  KQSValue(unsigned short v) : KQSValue(static_cast<int32_t>(v)) {}
  KQSValue(unsigned int v) : KQSValue(static_cast<int32_t>(v)) {}
  KQSValue(unsigned long v) : KQSValue(static_cast<int32_t>(v)) {}
  ///@}
  ///@{
  /// A Real in new storage (a float is widened to double).
  KQSValue(const float& v);
  KQSValue(const double& v);
  ///@}
  /// A Long (64-bit integer) in new storage.
  KQSValue(const int64& v);
  /// A String holding a copy of the text; null gives the empty String.
  KQSValue(const char* s);
  /// A String sharing s's text.
  KQSValue(const KString& s);
  /// A Date holding a copy of d.
  KQSValue(const KDateTime& d);
  /// A Point: the low 16 bits of each coordinate are kept, so coordinates
  /// outside -32768..32767 do not read back.
  KQSValue(const GEOM_point& p) : fClass(gClassPoint), fData(PointWord(p)) {}
  /// A value of class c (not owned; must not be null) with data as its word;
  /// for a pointer class a reference is taken, the caller keeping its own.
  KQSValue(const KQSClass* c, void* data) : fClass(c), fData(reinterpret_cast<uintptr_t>(data)) { Hold(); }
  /// Shares other's storage (one more reference).
  KQSValue(const KQSValue& other) noexcept : fClass(other.fClass), fData(other.fData) { Hold(); }
  /// A copy of *other. REQUIRES: other is not null.
  explicit KQSValue(const KQSValue* other) : KQSValue(*other) {}
  /// Takes other's reference; other becomes Undefined.
  KQSValue(KQSValue&& other) noexcept : fClass(other.fClass), fData(other.fData) {
    other.fClass = gClassUndefined;
    other.fData = 0;
  }
  /// The class found or generated for type; the storage is adopted with one
  /// reference.
  KQSValue(short type, void* storage);
  /// The class found or generated for type; data is stored without taking a
  /// reference (the caller hands its reference over).
  KQSValue(short type, long data);
  /// The class found or generated for type, holding a copy of the bytes.
  KQSValue(short type, const void* bytes, long length);
  ~KQSValue() {
    if (fClass != nullptr) {
      Drop();
      fClass = nullptr;
      fData = 0;
    }
  }

  /// An Undefined value (as the default constructor makes).
  static KQSValue Undefined() { return KQSValue(); }
  /// A NotSet value: "no value given", unlike Undefined.
  static KQSValue NotSet() { return Raw(gClassNotSet, 0); }
  /// An Error value holding code's low 32 bits.
  static KQSValue Error(long code) { return Raw(gClassError, Word(static_cast<int32_t>(code))); }
  /// A BlobId value holding id's low 32 bits.
  static KQSValue BlobId(long id) { return Raw(gClassBlobId, Word(static_cast<int32_t>(id))); }
  /// A Boolean holding b as given; pass 0 or 1, since equal Booleans must
  /// have equal words.
  static KQSValue Boolean(unsigned char b) { return Raw(gClassBoolean, b); }
  /// An ObjRef value holding ref's low 32 bits.
  static KQSValue ObjRef(unsigned long ref) { return Raw(gClassObjRef, Word(static_cast<int32_t>(ref))); }
  /// A Class value designating c (not owned: classes live until the process
  /// ends).
  static KQSValue NewClassValue(const KQSClass* c) { return Raw(gClassClass, reinterpret_cast<uintptr_t>(c)); }
  /// A Bytes value holding a copy of length bytes (zeros for null bytes).
  static KQSValue NewBytesValue(const char* bytes, long length) {
    return KQSValue(vxk_types::kBytes, bytes, length);
  }
  /// A TypeCode value sharing s's text.
  static KQSValue NewTypeCodeValue(const KString& s);

  // ----- assignment -----
  /// Shares other's storage; the old reference is released after the new
  /// one is taken, so assigning a value to itself or to a part of itself is
  /// safe.
  KQSValue& operator=(const KQSValue& other) noexcept {
    if (this != &other) {
      other.Hold();
      Drop();
      fClass = other.fClass;
      fData = other.fData;
    }
    return *this;
  }
  /// Releases the old reference and takes other's; other becomes Undefined.
  KQSValue& operator=(KQSValue&& other) noexcept {
    if (this != &other) {
      Drop();
      fClass = other.fClass;
      fData = other.fData;
      other.fClass = gClassUndefined;
      other.fData = 0;
    }
    return *this;
  }
  ///@{
  /// Becomes what the constructor of the same argument makes, releasing the
  /// old reference.
  KQSValue& operator=(long v) { return SetInteger(static_cast<int32_t>(v)); }
  KQSValue& operator=(unsigned long v) { return SetInteger(static_cast<int32_t>(v)); }
  KQSValue& operator=(int v) { return SetInteger(v); }
  KQSValue& operator=(short v) { return SetInteger(v); }
  KQSValue& operator=(char v) { return SetInteger(v); }
  KQSValue& operator=(unsigned char v) { return SetInteger(v); }
  KQSValue& operator=(unsigned int v) { return SetInteger(static_cast<int32_t>(v)); }
  KQSValue& operator=(unsigned short v) { return SetInteger(v); }
  KQSValue& operator=(const GEOM_point& p) { return Become(gClassPoint, PointWord(p)); }
  KQSValue& operator=(const char* s);
  KQSValue& operator=(const KString& s);
  KQSValue& operator=(float v);
  KQSValue& operator=(double v);
  KQSValue& operator=(const int64& v);
  ///@}
  /// Releases the reference and becomes Undefined.
  void Undefine() { Become(gClassUndefined, 0); }

  /// Undefined into n slots, releasing nothing.
  static void InitializeValues(KQSValue* array, long n);
  /// Releases each slot's reference; the words are left as they are.
  static void DestroyValues(KQSValue* array, long n);

  // ----- type queries -----
  /// The class number: a vxk_types number for the built-in classes, else
  /// the host class's own.
  short Type() const { return fClass->ClassNumber(); }
  ///@{
  /// Whether Type() is t, or the vxk_types number the name says (IsDefined:
  /// anything but Undefined).
  bool IsType(short t) const { return Type() == t; }
  bool IsString() const { return Type() == vxk_types::kString; }
  bool IsList() const { return Type() == vxk_types::kList; }
  bool IsInteger() const { return Type() == vxk_types::kInteger; }
  bool IsLong() const { return Type() == vxk_types::kLong; }
  bool IsReal() const { return Type() == vxk_types::kReal; }
  bool IsDefined() const { return Type() != vxk_types::kUndefined; }
  bool IsUndefined() const { return Type() == vxk_types::kUndefined; }
  bool IsError() const { return Type() == vxk_types::kError; }
  bool IsScript() const { return Type() == vxk_types::kScript; }
  ///@}
  /// 0 when the class takes no member access (Dot); otherwise the access
  /// kind the class declares (1 to 3).
  short CanDot() const { return fClass->CanDot(); }
  ///@{
  /// Whether the class takes Invoke, or Subscript.
  bool CanInvoke() const { return fClass->CanInvoke(); }
  bool CanSubscript() const { return fClass->CanSubscript(); }
  ///@}
  /// The value's class; never null for a valid value, not owned.
  const KQSClass* Class() const { return fClass; }
  /// The data word as a pointer: the storage of a pointer class (null when
  /// it has none), the payload bits of an immediate one.
  void* Instance() const { return reinterpret_cast<void*>(fData); }
  /// The data word as storage. Meaningful only for classes that count
  /// KQSValueBase storage; not owned (the value holds one reference).
  KQSValueBase* User() const { return reinterpret_cast<KQSValueBase*>(fData); }

  // ----- accessors (no type checks; callers test the type first) -----
  ///@{
  /// The integer accessors read the word with its 32-bit meaning, narrowed
  /// to the target type.
  operator char() const { return static_cast<char>(fData); }
  operator unsigned char() const { return static_cast<unsigned char>(fData); }
  operator short() const { return static_cast<short>(fData); }
  operator unsigned short() const { return static_cast<unsigned short>(fData); }
  operator int() const { return static_cast<int32_t>(fData); }
  operator unsigned int() const { return static_cast<uint32_t>(fData); }
  operator long() const { return static_cast<int32_t>(fData); }
  operator unsigned long() const { return static_cast<uint32_t>(fData); }
  ///@}
  ///@{
  /// The code, reference or id of an Error, ObjRef or BlobId value: the
  /// word's low 32 bits.
  long Error() const { return static_cast<int32_t>(fData); }
  unsigned long ObjRef() const { return static_cast<uint32_t>(fData); }
  long BlobId() const { return static_cast<int32_t>(fData); }
  ///@}
  ///@{
  /// A Real's number; any other value reads its word as a 32-bit integer
  /// (float: narrowed).
  operator double() const;
  operator float() const { return static_cast<float>(operator double()); }
  ///@}
  /// A Long's integer; any other value reads its word as a 32-bit integer.
  operator int64() const;
  /// A Point's coordinates, each a sign-extended 16-bit half of the word.
  operator GEOM_point() const {
    return GEOM_point{static_cast<int16_t>(fData & 0xFFFF), static_cast<int16_t>((fData >> 16) & 0xFFFF)};
  }
  /// The date in a Date value's storage.
  /// REQUIRES: the value holds Date storage (KQSValueDate).
  const KDateTime& Date() const;
  /// The first payload byte of a Bytes value's storage.
  /// REQUIRES: the value holds Bytes storage (KQSValueBytes).
  const unsigned char* Bytes() const;
  /// A String's text; any other value (a TypeCode too) gives the fixed
  /// marker text "!KQSValue error string!". Valid while the value holds it.
  const KString& String() const;
  /// A String's text, null for any other value; valid while the value holds
  /// it.
  operator const char*() const;
  /// String() as a KString sharing the text.
  operator KString() const;
  /// What the class counts: elements of a List, bytes of a String or Bytes
  /// value, rows of a RecArray, columns of a Record, pairs of an Assoc; 0
  /// for a pointer value without storage and -1 for a class without a
  /// length.
  long Length() const { return fClass->Length(Instance()); }

  // ----- behaviour, forwarded to the class -----
  // Status results: 0 on success, -1 when the class does not support the
  // operation, else the class's error code.
  /// The member names the class reports; Undefined when it reports none.
  KQSValue Features() const;
  /// True when the class knows the member name.
  bool IsFeature(const KQSValue& name) const { return fClass->IsFeature(Instance(), name); }
  /// The member name into out (env: the caller's context, may be null); 0,
  /// -1 or an error code.
  long Dot(const KQSValue& name, KQSValue& out, KQSValue* env) const {
    return fClass->Dot(Instance(), name, out, env);
  }
  /// Dot's result as a value; whatever Dot left (Undefined when it wrote
  /// nothing) when it failed.
  KQSValue DotValueGet(const KQSValue& name, KQSValue* env) const;
  /// Sets the member name; 0, -1 or an error code.
  long DotValuePut(const KQSValue& name, const KQSValue& value) const {
    return fClass->DotValuePut(Instance(), name, value);
  }
  /// Calls the member name with argc arguments at argv, the result into
  /// out. 0 on success; -2 when the member is itself a callable value, left
  /// in out (and its receiver in *env) for the caller to invoke; any other
  /// result also becomes an Error value in out.
  long DotInvoke(const KQSValue& name, short argc, KQSValue* argv, KQSValue& out, KQSValue* env) const;
  /// Calls the value with argc arguments at argv, the result into out; a
  /// non-zero result also becomes an Error value in out.
  long Invoke(long argc, KQSValue* argv, KQSValue& out) const;
  /// The element at [i, j] into out; i and j are read as Integers (their
  /// words), and one-index kinds want i == j. 0, -1 or an error code.
  long Subscript(const KQSValue& i, const KQSValue& j, KQSValue& out) const {
    return fClass->Subscript(Instance(), static_cast<long>(i.fData), static_cast<long>(j.fData), out);
  }
  /// Sets the element at [i, j], indexes read as Subscript reads them; 0,
  /// -1 or an error code.
  long SubscriptValuePut(const KQSValue& i, const KQSValue& j, const KQSValue& value) const {
    return fClass->SubscriptValuePut(Instance(), static_cast<long>(i.fData), static_cast<long>(j.fData), value);
  }
  /// The value as a condition: a Boolean's own truth, else what the class
  /// says (true unless the class decides otherwise).
  bool CoerceToBoolean() const {
    if (fClass == gClassBoolean) return static_cast<unsigned char>(fData) != 0;
    return fClass->CoerceToBoolean(Instance());
  }
  /// Converts this value in place; true when it could (or already was).
  bool CoerceTo(short type);
  /// Writes the text form through the class; f (may be null) tracks the
  /// containers being written so a value that holds itself ends.
  std::ostream& FormattedOutput(std::ostream& out, KQSClassFormatter* f) const {
    return fClass->FormattedOutput(Instance(), out, f);
  }
  /// The text form (as operator<< writes it) as a string.
  KString FormattedString() const;
  /// The form shown to a user, in the classic "C" locale: a String's text
  /// without quotes or escapes; kinds without a display form of their own
  /// give what FormattedOutput writes.
  KString DisplayString() const;

  // ----- text and binary forms read back -----
  /// A reader for a tag character that another module owns.
  using CrackerFunction = void (*)(std::istream& in, char tag, KQSValue& out, KQSClassCracker* cracker);
  /// Reads one value in text form; out becomes Undefined first and is
  /// replaced only when a value is recognised. Never throws.
  static std::istream& FormattedInput(std::istream& in, KQSValue& out, KQSClassCracker* cracker);
  /// Appends a reader for tag (the first one registered for a tag wins).
  /// Not locked: register while the library loads or before threads start.
  static unsigned char RegisterCracker(char tag, CrackerFunction reader);
  /// The 16-bit class number, then the class's payload.
  std::ostream& WriteBinary(std::ostream& out, KQSClassFormatter* f) const {
    return fClass->BinaryOutput(Instance(), out, f);
  }
  /// Reads one value in binary form (class number, then payload); safe on
  /// untrusted bytes. Undefined, with one debug line, for an unknown class
  /// or a stream cut short (the stream then also fails); a List cut short
  /// keeps its complete elements.
  static KQSValue ReadBinary(std::istream& in, KQSClassCracker* cracker);
  /// The same when the class number code was read already.
  static KQSValue ReadBinary(std::istream& in, short code, KQSClassCracker* cracker);

  // ----- lists (1-based; a negative index counts from the end) -----
  /// An empty List, without storage until the first change.
  static KQSValue List();
  ///@{
  /// A List of the given elements, in one exactly sized block.
  static KQSValue List(const KQSValue& a);
  static KQSValue List(const KQSValue& a, const KQSValue& b);
  static KQSValue List(const KQSValue& a, const KQSValue& b, const KQSValue& c);
  static KQSValue List(const KQSValue& a, const KQSValue& b, const KQSValue& c, const KQSValue& d);
  ///@}
  /// Elements of a List; 0 for an empty List or any other value.
  long ListEntries() const;
  /// A copy of element i; Undefined outside the list. Inline, defined in
  /// vxkernel/values/KQSValueList.h: include it to call ListGetValue or
  /// ListAppendValue.
  inline KQSValue ListGetValue(long i) const;
  /// Replaces element i; an index outside the list is ignored.
  void ListSetValue(long i, const KQSValue& v);
  /// Adds v after the last element and returns the List (this value); any
  /// other value is returned unchanged. Inline (KQSValueList.h).
  inline KQSValue ListAppendValue(const KQSValue& v);
  /// Inserts v before the first element and returns the List (this value);
  /// any other value is returned unchanged.
  KQSValue ListPrependValue(const KQSValue& v);
  /// Makes the length exactly n (Undefined elements added, or the list cut).
  void ListAllocate(long n);
  /// 1-based index of the first element == v, 0 when none.
  long ListIn(const KQSValue& v) const;
  /// Removes every element == v; the index of the last removal, 0 when none.
  long ListRemove(const KQSValue& v);
  /// Sorts in place (numbers of different types by value; not stable).
  long ListSort(unsigned char ascending);
  /// Elements i..j as a new List sharing the nodes; an empty List when the
  /// range is not inside the list.
  KQSValue ListSubrange(long i, long j) const;

  // ----- comparison -----
  /// Different types order by type number (the difference is returned as
  /// it is); identical words are 0; otherwise the class decides.
  int Compare(const KQSValue& other, unsigned char ignoreCase) const {
    int d = static_cast<int>(Type()) - static_cast<int>(other.Type());
    if (d != 0) return d;
    if (fData == other.fData) return 0;
    return fClass->Compare(Instance(), other.Instance(), ignoreCase != 0);
  }
  /// Same type, and the same word or equal by the class (strings compare
  /// their bytes, case included).
  bool operator==(const KQSValue& other) const {
    if (Type() != other.Type()) return false;
    if (fData == other.fData) return true;
    return fClass->Equal(Instance(), other.Instance()) != 0;
  }
  /// The negation of operator==.
  bool operator!=(const KQSValue& other) const { return !(*this == other); }
  ///@{
  /// Compare with ignoreCase 0 (case counts), tested against 0.
  bool operator<(const KQSValue& other) const { return Compare(other, 0) < 0; }
  bool operator<=(const KQSValue& other) const { return Compare(other, 0) <= 0; }
  bool operator>(const KQSValue& other) const { return Compare(other, 0) > 0; }
  bool operator>=(const KQSValue& other) const { return Compare(other, 0) >= 0; }
  ///@}

  // ----- diagnostics -----
  /// Repairs a value whose class word is null or a small number: it becomes
  /// the Integer kBadClassMarker.
  void AssertClass();
  /// Reports a value whose data word is 0.
  void AssertInstance() const;

  // ----- classes (static) -----
  /// The process's class registry; null until the library has started.
  /// Not owned.
  static KOPPEnvironment* ProcessEnvironment() { return gProcessEnvironment; }
  /// Registers c in the process tables (c must live until the process
  /// ends), then completes its definition when complete is non-zero. False
  /// without an environment, or (one debug line) when the number is out of
  /// range or the name or number is taken.
  static bool AddProcessClass(KQSClass* c, unsigned char complete);
  /// The class named name (case-insensitive), asking the class loader when
  /// no class has that name; null when none is found or before start-up.
  static const KQSClass* NameToClass(const KString& name);
  /// The class numbered n; null when none is, or before start-up.
  static const KQSClass* NumberToClass(short n);
  /// True when values of type have members (the class takes Dot, or has
  /// methods or attributes), and for kNoClassNumber, TypeCode and unknown
  /// numbers.
  static bool IsObjectType(short type);
  ///@{
  /// A pointer class's statistics: storage objects alive, references alive,
  /// references ever taken (see KQSClassPointer); 0 for an unknown or
  /// immediate type.
  static long ObjCount(short type);
  static long RefCount(short type);
  static long RefTotal(short type);
  ///@}
  /// The class with number type, or a new pointer class "type_<n>" for it.
  static const KQSClass* LookupOrGenerateClass(KOPPEnvironment* environment, short type);

/// Declares the getter Class_Name() and the setter Class_Name(c) of the
/// well-known class slot gClassName, for each Name below. The library sets
/// the slots at start-up; hosts only read them.
#define VXK_WELL_KNOWN_CLASS(Name)                                  \
  static const KQSClass* Class_##Name() { return gClass##Name; }    \
  static void Class_##Name(const KQSClass* c) { gClass##Name = c; }
  VXK_WELL_KNOWN_CLASS(Undefined)
  VXK_WELL_KNOWN_CLASS(Void)
  VXK_WELL_KNOWN_CLASS(Dynamic)
  VXK_WELL_KNOWN_CLASS(Object)
  VXK_WELL_KNOWN_CLASS(Integer)
  VXK_WELL_KNOWN_CLASS(Error)
  VXK_WELL_KNOWN_CLASS(BlobId)
  VXK_WELL_KNOWN_CLASS(Boolean)
  VXK_WELL_KNOWN_CLASS(Point)
  VXK_WELL_KNOWN_CLASS(NotSet)
  VXK_WELL_KNOWN_CLASS(Date)
  VXK_WELL_KNOWN_CLASS(Bytes)
  VXK_WELL_KNOWN_CLASS(Extern)
  VXK_WELL_KNOWN_CLASS(Real)
  VXK_WELL_KNOWN_CLASS(Long)
  VXK_WELL_KNOWN_CLASS(Script)
  VXK_WELL_KNOWN_CLASS(List)
  VXK_WELL_KNOWN_CLASS(ListExpand)
  VXK_WELL_KNOWN_CLASS(SlotIndex)
  VXK_WELL_KNOWN_CLASS(TypeCode)
  VXK_WELL_KNOWN_CLASS(String)
  VXK_WELL_KNOWN_CLASS(ObjRef)
  VXK_WELL_KNOWN_CLASS(ObjInst)
  VXK_WELL_KNOWN_CLASS(Class)
  VXK_WELL_KNOWN_CLASS(OPPClass)
  VXK_WELL_KNOWN_CLASS(Signature)
  VXK_WELL_KNOWN_CLASS(Environment)
  VXK_WELL_KNOWN_CLASS(Core)
#undef VXK_WELL_KNOWN_CLASS

 private:
  friend class KQSValuePkg;

  /// The canonical word of a 32-bit payload: sign-extended to the word.
  static uintptr_t Word(int32_t v) { return static_cast<uintptr_t>(static_cast<intptr_t>(v)); }
  static uintptr_t PointWord(const GEOM_point& p) {
    uint32_t w = (static_cast<uint32_t>(p.x) & 0xFFFFu) | (static_cast<uint32_t>(p.y) << 16);
    return Word(static_cast<int32_t>(w));
  }
  static KQSValue Raw(const KQSClass* c, uintptr_t data) {
    KQSValue v;
    v.fClass = c;
    v.fData = data;
    return v;
  }
  /// The one pair that takes and drops references. An immediate value is
  /// told apart first, with one test: it is the commonest copy.
  void Hold() const {
    if (fClass == nullptr || !fClass->IsPointer()) return;
    if (fClass->CountsStorage()) {
      static_cast<const KQSValueBaseClass*>(fClass)->Take(User());
    } else {
      fClass->AddReference(Instance());
    }
  }
  void Drop() const {
    if (fClass == nullptr || !fClass->IsPointer()) return;
    if (fClass->CountsStorage()) {
      static_cast<const KQSValueBaseClass*>(fClass)->Drop(User());
    } else {
      fClass->ReleaseReference(Instance());
    }
  }
  KQSValue& Become(const KQSClass* c, uintptr_t data) {
    Drop();
    fClass = c;
    fData = data;
    return *this;
  }
  KQSValue& SetInteger(int32_t v) { return Become(gClassInteger, Word(v)); }
  bool ListIsIndexValid(long& i) const;
  long ListIndexFix(long& i) const;
  /// Makes this value's list window its own before a change.
  void ListAssertAlloc();
  /// ListAssertAlloc, and a storage of this List's own when v may hold values.
  void ListAssertAllocFor(const KQSValue& v);
  /// ListAppendValue past the inline append into a storage's free slots.
  KQSValue ListAppendOther(const KQSValue& v);
  /// Becomes the given pointer class holding new storage (one reference).
  KQSValue& Adopt(const KQSClass* c, KQSValueBase* storage);

  static KOPPEnvironment* gProcessEnvironment;
  static const KQSClass* gClassUndefined;
  static const KQSClass* gClassVoid;
  static const KQSClass* gClassDynamic;
  static const KQSClass* gClassObject;
  static const KQSClass* gClassInteger;
  static const KQSClass* gClassError;
  static const KQSClass* gClassBlobId;
  static const KQSClass* gClassBoolean;
  static const KQSClass* gClassPoint;
  static const KQSClass* gClassNotSet;
  static const KQSClass* gClassDate;
  static const KQSClass* gClassBytes;
  static const KQSClass* gClassExtern;
  static const KQSClass* gClassReal;
  static const KQSClass* gClassLong;
  static const KQSClass* gClassScript;
  static const KQSClass* gClassList;
  static const KQSClass* gClassListExpand;
  static const KQSClass* gClassSlotIndex;
  static const KQSClass* gClassTypeCode;
  static const KQSClass* gClassString;
  static const KQSClass* gClassObjRef;
  static const KQSClass* gClassObjInst;
  static const KQSClass* gClassClass;
  static const KQSClass* gClassOPPClass;
  static const KQSClass* gClassSignature;
  static const KQSClass* gClassEnvironment;
  static const KQSClass* gClassCore;

  const KQSClass* fClass;
  uintptr_t fData;
};

// Values are passed and stored by value, and arrays of them are laid out
// contiguously: a class pointer and one data word, nothing more.
static_assert(sizeof(KQSValue) == 2 * sizeof(void*), "a value is two words");
static_assert(sizeof(GEOM_point) == 2 * sizeof(int32_t), "a point is two 32-bit coordinates");

/// The text form, written in the classic "C" locale with a fresh formatter.
VXKERNEL_EXPORT std::ostream& operator<<(std::ostream& out, const KQSValue& v);
/// Reads one value in text form with the classic "C" locale and no cracker.
VXKERNEL_EXPORT std::istream& operator>>(std::istream& in, KQSValue& v);

#endif  // VXKERNEL_VALUES_KQSVALUE_H_
