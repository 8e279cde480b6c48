/// \file
/// Native signatures of callable features: the result type, the argument
/// types, how many arguments are required, and the flags that govern
/// Undefined and Error arguments. Written as a short text such as
/// "<AU>Integer(String,[Integer],...)" and parsed back:
///
///     signature := [ "<" option* ">" ] type [ "(" [ arg ( "," arg )* ] [ "," ] [ "..." ] ")" ]
///     arg       := type | "[" type "]"
///     option    := "A" (AutoUndefined) | "E" (AcceptsError) | "U" (AcceptsUndefined)
///
/// An empty type is Void; a bracketed argument and every one after it are
/// optional; "..." admits further arguments. Type names resolve through the
/// process environment without loading classes.
///
/// A signature is a plain value object owned by its slot; it is built before
/// the class is shared and only read afterwards (no locks).
#ifndef VXKERNEL_CLASSES_KSIGNATURE_H_
#define VXKERNEL_CLASSES_KSIGNATURE_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// How an argument is passed; this library passes every argument by value
/// (KSignature::kPassByValue).
using KSignature_passtype = long;

/// A type reference: a class number, Dynamic (-127) for any type, or a name
/// (number 28671) for a type that has no registered number. Owns its name.
class VXKERNEL_EXPORT KSignature_type {
 public:
  /// The type numbers with a meaning of their own in signatures.
  ///@{
  static constexpr short kDynamic = -127;  ///< Any type (Dynamic); the default.
  static constexpr short kVoid = 8;        ///< No result (Void).
  static constexpr short kByName = 28671;  ///< Known by name only (kNoClassNumber).
  ///@}

  /// Dynamic, any type.
  KSignature_type() = default;
  /// The type registered under number (no name).
  KSignature_type(short number) : fTypeNumber(number) {}  // NOLINT: a number is a type
  /// A type known by name only (kByName); the name is copied, null for none.
  explicit KSignature_type(const char* name);
  /// A type with both a number and a name (copied; may be null).
  KSignature_type(short number, const char* name);
  /// Copies number and name; the copy owns its own name.
  ///@{
  KSignature_type(const KSignature_type& other);
  KSignature_type& operator=(const KSignature_type& other);
  ///@}
  ~KSignature_type();

  /// The type number; kByName for a type known by name only.
  short TypeNumber() const { return fTypeNumber; }
  const char* TypeName() const { return fTypeName; }  ///< Owned; null when known by number.

  /// Tests of the number: Dynamic (any), Void, Undefined (0), and the
  /// range -126..-111 kept for API types (no built-in class uses it).
  ///@{
  bool IsAny() const { return fTypeNumber == kDynamic; }
  bool IsVoid() const { return fTypeNumber == kVoid; }
  bool IsUndefined() const { return fTypeNumber == 0; }
  bool IsAPIType() const { return fTypeNumber >= -126 && fTypeNumber <= -111; }
  ///@}

  /// Same number and same name (names compared ignoring case; a type
  /// without name equals only another without).
  ///@{
  bool operator==(const KSignature_type& other) const;
  bool operator!=(const KSignature_type& other) const { return !(*this == other); }
  ///@}
  /// Whether the type is number, known by number alone (no name).
  ///@{
  bool operator==(short number) const { return fTypeNumber == number && fTypeName == nullptr; }
  bool operator!=(short number) const { return !(*this == number); }
  ///@}
  /// The number; a type known by name also writes a debug line.
  ///@{
  long I4() const;
  explicit operator long() const { return I4(); }
  ///@}

  /// The name, or the name of the class registered under the number.
  KString ToString() const;

 private:
  short fTypeNumber = kDynamic;
  char* fTypeName = nullptr;
};

/// The signature of one callable feature: result type, up to kMaxArgs
/// argument types with their pass types, how many arguments are required
/// and the flags for Undefined and Error arguments. A value type; copies
/// are independent.
class VXKERNEL_EXPORT KSignature {
 public:
  static constexpr long kMaxArgs = 32;  ///< Most declared arguments.
  /// The one pass type: every argument is passed by value.
  static constexpr KSignature_passtype kPassByValue = 1;

  /// Parses text (grammar in the file comment). Null text gives a Dynamic
  /// result with no arguments. A malformed text (no closing ")", a piece
  /// over 255 bytes, more than kMaxArgs arguments) keeps the result type
  /// read but no arguments and no flags, and writes one debug line; an
  /// unknown option letter is skipped with one debug line.
  explicit KSignature(const char* text);
  /// nargs arguments of which minArgs are required (both clamped into
  /// 0..kMaxArgs), every type, the result's included, Undefined.
  KSignature(long nargs, long minArgs);
  /// A copy of *other; null gives a Dynamic result with no arguments.
  explicit KSignature(const KSignature* other);
  /// Member-wise copies.
  ///@{
  KSignature(const KSignature& other) = default;
  KSignature& operator=(const KSignature& other) = default;
  ///@}

  /// Declared arguments, 0..kMaxArgs.
  long NArgs() const { return fNArgs; }
  /// Required arguments: those before the first optional one. The setter
  /// clamps into 0..kMaxArgs.
  ///@{
  long MinArgs() const { return fMinArgs; }
  void MinArgs(long n);
  ///@}
  /// Whether arguments beyond NArgs are admitted (and not checked).
  ///@{
  bool VarArgs() const { return fVarArgs; }
  void VarArgs(bool b) { fVarArgs = b; }
  ///@}
  /// Option A: an Undefined argument where another type is declared makes
  /// the call return Undefined at once, without running the feature.
  ///@{
  bool AutoUndefined() const { return fAutoUndefined; }
  void AutoUndefined(bool b) { fAutoUndefined = b; }
  ///@}
  /// Option E: Error arguments pass the check whatever type is declared.
  ///@{
  bool AcceptsError() const { return fAcceptsError; }
  void AcceptsError(bool b) { fAcceptsError = b; }
  ///@}
  /// Option U: Undefined arguments pass the check whatever type is declared.
  ///@{
  bool AcceptsUndefined() const { return fAcceptsUndefined; }
  void AcceptsUndefined(bool b) { fAcceptsUndefined = b; }
  ///@}

  /// Entry 0 is the result, entries 1..32 the arguments; indexes are
  /// clamped into 0..32.
  ///@{
  const KSignature_type& ResultDatatype() const { return fTypes[0]; }
  void ResultDatatype(const KSignature_type& t) { fTypes[0] = t; }
  const KSignature_type& Datatype(long i) const { return fTypes[Clamp(i)]; }
  void Datatype(long i, const KSignature_type& t) { fTypes[Clamp(i)] = t; }
  KSignature_passtype Passtype(long i) const { return fPass[Clamp(i)]; }
  void Passtype(long i, KSignature_passtype p) { fPass[Clamp(i)] = p; }
  ///@}
  /// Sets type and pass type of declared argument i (1..NArgs); other
  /// indexes change nothing, and an index beyond NArgs of a VarArgs
  /// signature also writes a debug line.
  void Arginfo(long i, const KSignature_type& t, KSignature_passtype p);
  /// Stores type and pass type of entry i (clamped into 0..32) into *t and
  /// *p; either may be null.
  void Arginfo(long i, KSignature_type* t, KSignature_passtype* p) const;

  /// Whether every declared argument is Dynamic (true with none); the
  /// result type does not count.
  bool IsFullyDynamic() const;
  /// 0 when MinArgs <= argc <= NArgs, else -2.
  long Check(long argc) const;
  /// 0 when other fits this signature; -1 result, -2 count (or null
  /// other), else the highest disagreeing argument position.
  long Check(const KSignature* other) const;

  /// The signature as text in the grammar above, always with its
  /// parenthesised list ("Integer()"), which the text constructor reads
  /// back. A numbered type that is not registered is written as "" with
  /// one debug line.
  KString ToString() const;

 private:
  static long Clamp(long i) { return i < 0 ? 0 : (i > kMaxArgs ? kMaxArgs : i); }

  bool fVarArgs = false;
  bool fAutoUndefined = false;
  bool fAcceptsError = false;
  bool fAcceptsUndefined = false;
  long fNArgs = 0;
  long fMinArgs = 0;
  KSignature_type fTypes[kMaxArgs + 1];
  KSignature_passtype fPass[kMaxArgs + 1] = {};
};

#endif  // VXKERNEL_CLASSES_KSIGNATURE_H_
