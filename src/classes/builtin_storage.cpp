// The built-in types whose values live in scalar storage: String, TypeCode,
// List, Real, Long, Bytes, Extern and Date.
#include <cmath>
#include <cstring>
#include <ostream>

#include "values/list_order.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/text/Swap.h"
#include "vxkernel/text/str.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBytes.h"
#include "vxkernel/values/KQSValueDate.h"
#include "vxkernel/values/KQSValueLong.h"
#include "vxkernel/values/KQSValueReal.h"
#include "vxkernel/values/KQSValueString.h"
#include "vxkernel/values/type_numbers.h"

namespace {

// Two Reals closer than this are equal, and a Real this close to 0 is false.
constexpr double kRealEpsilon = 2.220446049250313e-16;

// The catalogue message that holds the display format of dates.
constexpr long kDateDisplayFormat = 0x21410001;

const KString& Text(void* data) {
  static const KString empty;
  return data != nullptr ? static_cast<KQSValueString*>(data)->String() : empty;
}
double RealOf(void* data) { return static_cast<KQSValueReal*>(data)->Value(); }
int64 LongOf(void* data) { return static_cast<KQSValueLong*>(data)->Value(); }
const KDateTime& DateOf(void* data) { return static_cast<KQSValueDate*>(data)->Date(); }
const KQSValueBytes* BytesOf(void* data) { return static_cast<const KQSValueBytes*>(data); }

template <class T>
int Order(T x, T y) {
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace

// ----- String -----

KQSClass_String::KQSClass_String() : KQSClass_String("String", vxk_types::kString) {}

KQSClass_String::KQSClass_String(const char* name, short number) : KQSValueBaseClass(name, number) {
  fCanSubscript = true;
}

bool KQSClass_String::CoerceToBoolean(void* data) const { return Text(data).Length() != 0; }

int KQSClass_String::Compare(void* a, void* b, bool ignoreCase) const {
  return ignoreCase ? str_cmpu_intl(Text(a), Text(b)) : str_cmp_intl(Text(a), Text(b));
}

int KQSClass_String::Equal(void* a, void* b) const { return Text(a) == Text(b) ? 1 : 0; }

std::ostream& KQSClass_String::DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  const KString& s = Text(data);
  return out.write(s, s.Length());
}

std::ostream& KQSClass_String::BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  if (data == nullptr) {
    SwapWriteI2(out, ClassNumber());
    SwapWriteStr(out, "");
  } else {
    auto* s = static_cast<KQSValueString*>(data);
    s->StringBinaryOutput(out, s->Type());
  }
  return out;
}

// ----- TypeCode -----

KQSClass_TypeCode::KQSClass_TypeCode() : KQSClass_String("TypeCode", vxk_types::kTypeCode) {}

std::ostream& KQSClass_TypeCode::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  if (data == nullptr) return KQSValueBaseClass::FormattedOutput(data, out, f);
  const KString& s = Text(data);
  out << "%'";
  out.write(s, s.Length());
  return out << '\'';
}

std::ostream& KQSClass_TypeCode::DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  return FormattedOutput(data, out, f);
}

std::ostream& KQSClass_TypeCode::BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const {
  SwapWriteI2(out, ClassNumber());
  SwapWriteStr(out, Text(data));
  return out;
}

// ----- List (the element storage brings the order and the text) -----

KQSClass_List::KQSClass_List() : KQSValueBaseClass("List", vxk_types::kList) {
  fCanSubscript = true;
}

bool KQSClass_List::CoerceToBoolean(void* data) const { return data != nullptr && Length(data) != 0; }

int KQSClass_List::Compare(void* a, void* b, bool ignoreCase) const {
  return vxk_internal::ListCompare(a, b, ignoreCase);
}

int KQSClass_List::Equal(void* a, void* b) const { return vxk_internal::ListEqual(a, b); }

std::ostream& KQSClass_List::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  if (data == nullptr) return out << "{}";
  return KQSValueBaseClass::FormattedOutput(data, out, f);
}

// ----- Real -----

KQSClass_Real::KQSClass_Real() : KQSValueBaseClass("Real", vxk_types::kReal) {}

bool KQSClass_Real::CoerceToBoolean(void* data) const { return data != nullptr && std::fabs(RealOf(data)) > kRealEpsilon; }

bool KQSClass_Real::CoerceTo(void* data, short typeCode, KQSValue& out) const {
  if (data == nullptr) return false;
  const double v = RealOf(data);  // read before out, which may hold data, changes
  switch (typeCode) {
    case vxk_types::kInteger:
      if (!(v >= -2147483648.0 && v <= 2147483647.0)) return false;
      out = static_cast<int>(v);
      return true;
    case vxk_types::kLong:
      if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) return false;
      out = static_cast<int64>(v);
      return true;
    default:
      return false;
  }
}

int KQSClass_Real::Compare(void* a, void* b, bool /*ignoreCase*/) const {
  if (a == nullptr || b == nullptr) return KQSValueBaseClass::Compare(a, b, false);
  const double d = RealOf(a) - RealOf(b);
  if (d == 0) return 0;
  return d < 0 ? -1 : 1;
}

int KQSClass_Real::Equal(void* a, void* b) const {
  if (a == nullptr || b == nullptr) return a == b ? 1 : 0;
  return std::fabs(RealOf(a) - RealOf(b)) <= kRealEpsilon ? 1 : 0;
}

std::ostream& KQSClass_Real::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  if (data == nullptr) return KQSValueBaseClass::FormattedOutput(data, out, f);
  const std::streamsize precision = out.precision(15);
  const std::ios_base::fmtflags flags = out.flags();
  out.unsetf(std::ios_base::floatfield);
  out << 'G' << RealOf(data);
  out.flags(flags);
  out.precision(precision);
  return out;
}

// ----- Long -----

KQSClass_Long::KQSClass_Long() : KQSValueBaseClass("Long", vxk_types::kLong) {}

bool KQSClass_Long::CoerceToBoolean(void* data) const { return data != nullptr && LongOf(data) != 0; }

bool KQSClass_Long::CoerceTo(void* data, short typeCode, KQSValue& out) const {
  if (data == nullptr) return false;
  const int64 v = LongOf(data);
  switch (typeCode) {
    case vxk_types::kInteger:
      if (v < -2147483648LL || v > 2147483647LL) return false;
      out = static_cast<int>(v);
      return true;
    case vxk_types::kReal:
      out = static_cast<double>(v);
      return true;
    default:
      return false;
  }
}

int KQSClass_Long::Compare(void* a, void* b, bool /*ignoreCase*/) const {
  if (a == nullptr || b == nullptr) return KQSValueBaseClass::Compare(a, b, false);
  return Order(LongOf(a), LongOf(b));
}

int KQSClass_Long::Equal(void* a, void* b) const {
  if (a == nullptr || b == nullptr) return a == b ? 1 : 0;
  return LongOf(a) == LongOf(b) ? 1 : 0;
}

std::ostream& KQSClass_Long::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  if (data == nullptr) return KQSValueBaseClass::FormattedOutput(data, out, f);
  return out << 'L' << LongOf(data);
}

// ----- Bytes and Extern -----

KQSClass_Bytes::KQSClass_Bytes() : KQSClass_Bytes("Bytes", vxk_types::kBytes) {}

KQSClass_Bytes::KQSClass_Bytes(const char* name, short number) : KQSValueBaseClass(name, number) {}

int KQSClass_Bytes::Compare(void* a, void* b, bool /*ignoreCase*/) const {
  if (a == nullptr || b == nullptr) return KQSValueBaseClass::Compare(a, b, false);
  const KQSValueBytes* x = BytesOf(a);
  const KQSValueBytes* y = BytesOf(b);
  const long n = x->Length() < y->Length() ? x->Length() : y->Length();
  const int c = std::memcmp(x->Bytes(), y->Bytes(), static_cast<size_t>(n));
  if (c != 0) return c < 0 ? -1 : 1;
  return static_cast<int>(x->Length() - y->Length());
}

int KQSClass_Bytes::Equal(void* a, void* b) const {
  if (a == nullptr || b == nullptr) return a == b ? 1 : 0;
  const KQSValueBytes* x = BytesOf(a);
  const KQSValueBytes* y = BytesOf(b);
  return x->Length() == y->Length() && std::memcmp(x->Bytes(), y->Bytes(), static_cast<size_t>(x->Length())) == 0
             ? 1
             : 0;
}

std::ostream& KQSClass_Bytes::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  if (data == nullptr) return KQSValueBaseClass::FormattedOutput(data, out, f);
  static const char kHex[] = "0123456789abcdef";
  const KQSValueBytes* b = BytesOf(data);
  std::string text;
  text.reserve(static_cast<size_t>(b->Length()) * 2 + 2);
  text += '[';
  for (long i = 0; i < b->Length(); ++i) {
    text += kHex[b->Bytes()[i] >> 4];
    text += kHex[b->Bytes()[i] & 0xF];
  }
  text += ']';
  return out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

KQSClass_Extern::KQSClass_Extern() : KQSClass_Bytes("Extern", vxk_types::kExtern) {}

// An Extern has no text of its own: its storage writes it, or the generic
// storage form is used.
std::ostream& KQSClass_Extern::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  return KQSValueBaseClass::FormattedOutput(data, out, f);
}

// ----- Date -----

KQSClass_Date::KQSClass_Date() : KQSValueBaseClass("Date", vxk_types::kDate) {
  KQSValue::Class_Date(this);
}

int KQSClass_Date::Compare(void* a, void* b, bool /*ignoreCase*/) const {
  if (a == nullptr || b == nullptr) return KQSValueBaseClass::Compare(a, b, false);
  return DateOf(a).Compare(DateOf(b));
}

int KQSClass_Date::Equal(void* a, void* b) const {
  if (a == nullptr || b == nullptr) return a == b ? 1 : 0;
  return DateOf(a) == DateOf(b) ? 1 : 0;
}

std::ostream& KQSClass_Date::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  if (data == nullptr) return KQSValueBaseClass::FormattedOutput(data, out, f);
  const KDateTime& d = DateOf(data);
  return out << "D/" << d.Year() << '/' << d.Month() << '/' << d.Day() << ':' << d.Hour() << ':' << d.Minute()
             << ':' << d.Second();
}

std::ostream& KQSClass_Date::DisplayOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  if (data == nullptr) return KQSValueBaseClass::FormattedOutput(data, out, f);
  const KString format = err_get_msg(kDateDisplayFormat);
  char buf[255];
  const unsigned long n =
      DateOf(data).strftime(buf, sizeof buf - 1, format.Length() != 0 ? static_cast<const char*>(format)
                                                                   : "%a %b %d %H:%M:%S %Y");
  return out.write(buf, static_cast<std::streamsize>(n < sizeof buf ? n : sizeof buf - 1));
}
