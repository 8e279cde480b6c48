// KSignature_type and KSignature: native signatures, their text grammar
//
//   signature := [ "<" option* ">" ] type [ "(" [ arg ( "," arg )* ] [ "," ] [ "..." ] ")" ]
//   arg       := type | "[" type "]"
//   option    := "A" (AutoUndefined) | "E" (AcceptsError) | "U" (AcceptsUndefined)
//
// and the comparison of two signatures. Type names resolve through the
// process environment without loading classes, so that parsing a signature
// never runs a host class loader.
#include "vxkernel/classes/KSignature.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/debug_line.h"
#include "classes/classes_internal.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/type_numbers.h"

using vxk_internal::CopyText;
using vxk_internal::DebugText;

namespace {

// Longest head (text before "(") and longest argument piece.
constexpr size_t kMaxPiece = 255;



bool SameName(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::toupper(static_cast<unsigned char>(*a)) !=
        std::toupper(static_cast<unsigned char>(*b)))
      return false;
  }
  return *a == *b;
}

// The class registered under a number in the process environment, asked
// only for numbers the environment admits (anything else would write a
// lookup line of its own).
const KQSClass* RegisteredClass(short number) {
  KOPPEnvironment* env = KQSValue::ProcessEnvironment();
  if (env == nullptr || number < -250 || number > 1000) return nullptr;
  return env->LookupByNumber(number);
}

// A type piece as written: empty is Void; a registered numbered class gives
// its number; anything else is kept by name.
KSignature_type ResolveType(std::string_view piece) {
  if (piece.empty()) return KSignature_type(KSignature_type::kVoid);
  KOPPEnvironment* env = KQSValue::ProcessEnvironment();
  const KString name(piece.data(), static_cast<unsigned>(piece.size()));
  const KQSClass* c = env != nullptr ? env->LookupByNameNoLoad(name) : nullptr;
  if (c != nullptr && c->ClassNumber() != KQSClass::kNoClassNumber)
    return KSignature_type(c->ClassNumber());
  return KSignature_type(KSignature_type::kByName, name);
}

bool IsNumeric(short t) { return t == vxk_types::kInteger || t == vxk_types::kLong || t == vxk_types::kReal; }

// Whether a declared type (first) admits an offered one (second).
bool Compatible(const KSignature_type& declared, const KSignature_type& offered) {
  if (declared == offered || declared.IsAny() || offered.IsAny()) return true;
  const short d = declared.TypeNumber();
  const short o = offered.TypeNumber();
  if (IsNumeric(d) && IsNumeric(o)) return true;
  if (offered == vxk_types::kUndefined || offered == vxk_types::kError) return true;
  if (d == vxk_types::kObject && KQSValue::IsObjectType(o)) return true;
  if (o == vxk_types::kObject && KQSValue::IsObjectType(d)) return true;
  return false;
}

}  // namespace

// ===== KSignature_type =====

KSignature_type::KSignature_type(const char* name)
    : fTypeNumber(kByName), fTypeName(CopyText(name)) {}

KSignature_type::KSignature_type(short number, const char* name)
    : fTypeNumber(number), fTypeName(CopyText(name)) {}

KSignature_type::KSignature_type(const KSignature_type& other)
    : fTypeNumber(other.fTypeNumber), fTypeName(CopyText(other.fTypeName)) {}

KSignature_type& KSignature_type::operator=(const KSignature_type& other) {
  if (this != &other) {
    char* copy = CopyText(other.fTypeName);
    std::free(fTypeName);
    fTypeName = copy;
    fTypeNumber = other.fTypeNumber;
  }
  return *this;
}

KSignature_type::~KSignature_type() { std::free(fTypeName); }

// Class names are case-insensitive, so the names of two by-name types are too.
bool KSignature_type::operator==(const KSignature_type& other) const {
  return fTypeNumber == other.fTypeNumber && SameName(fTypeName, other.fTypeName);
}

long KSignature_type::I4() const {
  if (fTypeName != nullptr) DebugText("KSignature_type::I4()...Non-null type name\n");
  return fTypeNumber;
}

KString KSignature_type::ToString() const {
  if (fTypeName != nullptr) return KString(fTypeName);
  if (const KQSClass* c = RegisteredClass(fTypeNumber)) return KString(c->ClassName());
  // The line names the type by its name, which a numbered type lacks.
  DebugText("KSignature_type::ToString() Unregistered return type: \n");
  return KString();
}

// ===== KSignature =====

KSignature::KSignature(const char* text) {
  for (KSignature_passtype& p : fPass) p = kPassByValue;
  if (text == nullptr) return;
  const std::string_view all(text);
  const size_t open = all.find('(');

  // Reads the fields in; false on a malformed text.
  const bool wellFormed = [&]() -> bool {
    std::string_view head = all.substr(0, open);
    if (head.size() > kMaxPiece) return false;
    if (!head.empty() && head.front() == '<') {
      // Without a ">" the options run to the end of the head, and the
      // result type after them is empty (Void).
      const size_t close = std::min(head.find('>'), head.size());
      for (char option : head.substr(1, close - 1)) {
        if (option == 'A')
          fAutoUndefined = true;
        else if (option == 'E')
          fAcceptsError = true;
        else if (option == 'U')
          fAcceptsUndefined = true;
        else
          DebugText("KSignature::KSignature( Undefined signature option: ", head, " )\n");
      }
      head.remove_prefix(std::min(close + 1, head.size()));
    }
    fTypes[0] = ResolveType(head);
    if (open == std::string_view::npos) return true;

    std::string_view rest = all.substr(open + 1);
    long firstOptional = -1;
    for (;;) {
      const size_t comma = rest.find(',');
      const bool last = comma == std::string_view::npos;
      std::string_view piece = rest.substr(0, comma);
      if (last) {
        if (piece.empty() || piece.back() != ')') return false;
        piece.remove_suffix(1);
        if (piece == "...") fVarArgs = true;
        if (piece.empty() || fVarArgs) break;
      }
      if (piece.size() > kMaxPiece || fNArgs == kMaxArgs) return false;
      if (piece.size() >= 2 && piece.front() == '[' && piece.back() == ']') {
        piece = piece.substr(1, piece.size() - 2);
        if (firstOptional < 0) firstOptional = fNArgs;
      }
      fTypes[++fNArgs] = ResolveType(piece);
      if (last) break;
      rest.remove_prefix(comma + 1);
    }
    fMinArgs = firstOptional >= 0 ? firstOptional : fNArgs;
    return true;
  }();

  if (!wellFormed) {
    DebugText("KSignature::KSignature...Bad signature:/", text, "/\n");
    fVarArgs = fAutoUndefined = fAcceptsError = fAcceptsUndefined = false;
    fNArgs = fMinArgs = 0;
    for (long i = 1; i <= kMaxArgs; ++i) fTypes[i] = KSignature_type();
  }
}

KSignature::KSignature(long nargs, long minArgs) : fNArgs(Clamp(nargs)), fMinArgs(Clamp(minArgs)) {
  for (KSignature_type& t : fTypes) t = KSignature_type(vxk_types::kUndefined);
  for (KSignature_passtype& p : fPass) p = kPassByValue;
}

KSignature::KSignature(const KSignature* other) {
  if (other != nullptr) *this = *other;
}

void KSignature::MinArgs(long n) { fMinArgs = Clamp(n); }

void KSignature::Arginfo(long i, const KSignature_type& t, KSignature_passtype p) {
  if (i >= 1 && i <= fNArgs) {
    fTypes[i] = t;
    fPass[i] = p;
  } else if (i > fNArgs && fVarArgs) {
    DebugText("KSignature::Arginfo() Setting vararg argument is illegal\n");
  }
}

void KSignature::Arginfo(long i, KSignature_type* t, KSignature_passtype* p) const {
  if (t != nullptr) *t = fTypes[Clamp(i)];
  if (p != nullptr) *p = fPass[Clamp(i)];
}

bool KSignature::IsFullyDynamic() const {
  for (long i = 1; i <= fNArgs; ++i) {
    if (!(fTypes[i] == KSignature_type::kDynamic)) return false;
  }
  return true;
}

long KSignature::Check(long argc) const { return argc >= fMinArgs && argc <= fNArgs ? 0 : -2; }

long KSignature::Check(const KSignature* other) const {
  if (other == nullptr) return -2;
  const KSignature_type& mine = fTypes[0];
  const KSignature_type& theirs = other->fTypes[0];
  if (mine != theirs && !mine.IsAny() && !theirs.IsAny()) return -1;
  if (other->fNArgs < fMinArgs || (other->fNArgs > fNArgs && !fVarArgs)) return -2;
  for (long i = Clamp(other->fNArgs); i >= 1; --i) {
    if (!Compatible(fTypes[i], other->fTypes[i]) || fPass[i] != other->fPass[i]) return i;
  }
  return 0;
}

KString KSignature::ToString() const {
  KString s;
  if (fAutoUndefined || fAcceptsError || fAcceptsUndefined) {
    s += '<';
    if (fAutoUndefined) s += 'A';
    if (fAcceptsError) s += 'E';
    if (fAcceptsUndefined) s += 'U';
    s += '>';
  }
  s += fTypes[0].ToString();
  s += '(';
  for (long i = 1; i <= fNArgs; ++i) {
    if (i > 1) s += ',';
    const bool optional = i > fMinArgs;
    if (optional) s += '[';
    s += fTypes[i].ToString();
    if (optional) s += ']';
  }
  if (fVarArgs) s += fNArgs > 0 ? ",..." : "...";
  s += ')';
  return s;
}
