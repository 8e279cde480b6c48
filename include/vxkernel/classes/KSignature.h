/// \file
/// Native signatures of callable features: the result type, the argument
/// types, how many arguments are required, and the flags that govern
/// Undefined and Error arguments. Written as a short text such as
/// "<AU>Integer(String,[Integer],...)" and parsed back.
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
  static constexpr short kDynamic = -127;
  static constexpr short kVoid = 8;
  static constexpr short kByName = 28671;

  KSignature_type() = default;
  KSignature_type(short number) : fTypeNumber(number) {}  // NOLINT: a number is a type
  explicit KSignature_type(const char* name);
  KSignature_type(short number, const char* name);
  KSignature_type(const KSignature_type& other);
  KSignature_type& operator=(const KSignature_type& other);
  ~KSignature_type();

  short TypeNumber() const { return fTypeNumber; }
  const char* TypeName() const { return fTypeName; }  // null when known by number

  bool IsAny() const { return fTypeNumber == kDynamic; }
  bool IsVoid() const { return fTypeNumber == kVoid; }
  bool IsUndefined() const { return fTypeNumber == 0; }
  bool IsAPIType() const { return fTypeNumber >= -126 && fTypeNumber <= -111; }

  bool operator==(const KSignature_type& other) const;
  bool operator!=(const KSignature_type& other) const { return !(*this == other); }
  bool operator==(short number) const { return fTypeNumber == number && fTypeName == nullptr; }
  bool operator!=(short number) const { return !(*this == number); }
  /// The number; a type known by name also writes a debug line.
  long I4() const;
  explicit operator long() const { return I4(); }

  /// The name, or the name of the class registered under the number.
  KString ToString() const;

 private:
  short fTypeNumber = kDynamic;
  char* fTypeName = nullptr;
};

class VXKERNEL_EXPORT KSignature {
 public:
  static constexpr long kMaxArgs = 32;
  static constexpr KSignature_passtype kPassByValue = 1;

  explicit KSignature(const char* text);
  KSignature(long nargs, long minArgs);
  explicit KSignature(const KSignature* other);
  KSignature(const KSignature& other) = default;
  KSignature& operator=(const KSignature& other) = default;

  long NArgs() const { return fNArgs; }
  long MinArgs() const { return fMinArgs; }
  void MinArgs(long n);
  bool VarArgs() const { return fVarArgs; }
  void VarArgs(bool b) { fVarArgs = b; }
  bool AutoUndefined() const { return fAutoUndefined; }
  void AutoUndefined(bool b) { fAutoUndefined = b; }
  bool AcceptsError() const { return fAcceptsError; }
  void AcceptsError(bool b) { fAcceptsError = b; }
  bool AcceptsUndefined() const { return fAcceptsUndefined; }
  void AcceptsUndefined(bool b) { fAcceptsUndefined = b; }

  /// Entry 0 is the result, entries 1..32 the arguments; indexes are
  /// clamped into 0..32.
  const KSignature_type& ResultDatatype() const { return fTypes[0]; }
  void ResultDatatype(const KSignature_type& t) { fTypes[0] = t; }
  const KSignature_type& Datatype(long i) const { return fTypes[Clamp(i)]; }
  void Datatype(long i, const KSignature_type& t) { fTypes[Clamp(i)] = t; }
  KSignature_passtype Passtype(long i) const { return fPass[Clamp(i)]; }
  void Passtype(long i, KSignature_passtype p) { fPass[Clamp(i)] = p; }
  void Arginfo(long i, const KSignature_type& t, KSignature_passtype p);
  void Arginfo(long i, KSignature_type* t, KSignature_passtype* p) const;

  bool IsFullyDynamic() const;
  /// 0 when MinArgs <= argc <= NArgs, else -2.
  long Check(long argc) const;
  /// 0 when other fits this signature; -1 result, -2 count, else the first
  /// disagreeing argument position.
  long Check(const KSignature* other) const;

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
