// Small verbs shared by the value tests: text forms as std::string, builders
// of Lists and Assocs, reading text and binary forms back, dates, byte
// strings from hex, and snapshots of a class's three counters.
#ifndef VXKERNEL_TESTS_VALUES_VALUE_TEST_UTIL_H_
#define VXKERNEL_TESTS_VALUES_VALUE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"

namespace valtest {

// Type numbers of the built-in types, written out here rather than read from
// the classes so that the tests check the classes against them.
constexpr short kUndefined = 0;
constexpr short kError = 1;
constexpr short kInteger = 2;
constexpr short kBlobId = 4;
constexpr short kBoolean = 5;
constexpr short kPoint = 6;
constexpr short kNotSet = 7;
constexpr short kVoid = 8;
constexpr short kString = -1;
constexpr short kList = -2;
constexpr short kReal = -4;
constexpr short kExtern = -5;
constexpr short kBytes = -6;
constexpr short kDate = -7;
constexpr short kLong = -8;
constexpr short kAssoc = -18;
constexpr short kListExpand = -108;
constexpr short kRecord = -109;
constexpr short kRecArray = -110;
constexpr short kTypeCode = -132;

inline std::string Str(const KString& k) { return std::string(static_cast<const char*>(k), k.Length()); }

// The text form (FormattedString). Every way of writing a value must give
// the same bytes, so this also writes it with operator<< and through a
// stream on which the direct writers step aside (unitbuf) and every class
// writes itself, and expects both to agree.
inline std::string Text(const KQSValue& v) {
  const std::string text = Str(v.FormattedString());
  std::ostringstream streamed, slow;
  streamed << v;
  slow.imbue(std::locale::classic());
  slow << std::unitbuf;
  KQSClassFormatter f;
  v.FormattedOutput(slow, &f);
  EXPECT_EQ(streamed.str(), text) << "operator<<";
  EXPECT_EQ(slow.str(), text) << "the classes' own writers";
  return text;
}

// DisplayString as a std::string.
inline std::string Display(const KQSValue& v) { return Str(v.DisplayString()); }

// The data word as an integer.
inline uintptr_t Word(const KQSValue& v) { return reinterpret_cast<uintptr_t>(v.Instance()); }

// How a C++ stream writes a pointer: the form the text writers use.
inline std::string PointerText(const void* p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

// One value read from its text form (FormattedInput with cracker).
inline KQSValue Parse(const std::string& text, KQSClassCracker* cracker = nullptr) {
  std::istringstream in(text);
  KQSValue v;
  KQSValue::FormattedInput(in, v, cracker);
  return v;
}

// A cracker that reads by code page cp.
inline KQSClassCracker CodePage(unsigned cp) {
  KQSClassCracker c;
  c.UseCodePage(true);
  c.CodePage(cp);
  return c;
}

// The binary form.
inline std::string Binary(const KQSValue& v) {
  KQSClassFormatter f;
  std::ostringstream out;
  v.WriteBinary(out, &f);
  return out.str();
}

// ----- builders -----

// Lists of Integers and of Strings.
inline KQSValue Ints(const std::vector<long>& xs) {
  KQSValue l = KQSValue::List();
  for (long x : xs) l.ListAppendValue(KQSValue(x));
  return l;
}
inline KQSValue Strings(const std::vector<std::string>& xs) {
  KQSValue l = KQSValue::List();
  for (const std::string& x : xs) l.ListAppendValue(KQSValue(x.c_str()));
  return l;
}

// The text forms of a List's elements.
inline std::vector<std::string> Texts(const KQSValue& list) {
  std::vector<std::string> out;
  for (long i = 1; i <= list.ListEntries(); ++i) out.push_back(Text(list.ListGetValue(i)));
  return out;
}

inline KQSValue NewAssoc(const KQSValue& undefinedValue = KQSValue()) {
  return KQSValue(kAssoc, static_cast<void*>(new KAssocVal(undefinedValue)));
}
inline KAssocVal& A(const KQSValue& assoc) { return *static_cast<KAssocVal*>(assoc.User()); }

// An Assoc's pairs in key order, as "key=value" text forms.
inline std::vector<std::string> Pairs(const KQSValue& assoc) {
  std::vector<std::string> out;
  KQSValue k, v;
  for (long n = 1; A(assoc).GetNth(n, k, v); ++n) out.push_back(Text(k) + "=" + Text(v));
  return out;
}

inline KDateTime MakeDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                          int ms = 0) {
  KDateTime d;
  d.SetDate(year, month, day, hour, minute, second, ms);
  return d;
}

// "00ab10" -> {0x00, 0xAB, 0x10}.
inline std::vector<unsigned char> Hex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

inline KQSValue BytesValue(const std::string& hex) {
  std::vector<unsigned char> b = Hex(hex);
  return KQSValue(kBytes, static_cast<const void*>(b.data()), static_cast<long>(b.size()));
}

// ----- storage counters -----

// The three counters of one class number at one moment.
struct Counters {
  long obj, ref, total;
  static Counters Of(short type) {
    return Counters{KQSValue::ObjCount(type), KQSValue::RefCount(type), KQSValue::RefTotal(type)};
  }
  // This snapshot minus an earlier one.
  Counters operator-(const Counters& e) const { return Counters{obj - e.obj, ref - e.ref, total - e.total}; }
  bool operator==(const Counters& o) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Counters& c) {
  return out << "{obj " << c.obj << ", ref " << c.ref << ", total " << c.total << "}";
}

// Expects, when it goes out of scope, that no storage of the class is alive
// that was not alive when it was made: a leak detector for one scope.
class NoNewStorage {
 public:
  explicit NoNewStorage(short type) : fType(type), fBefore(Counters::Of(type)) {}
  NoNewStorage(const NoNewStorage&) = delete;
  NoNewStorage& operator=(const NoNewStorage&) = delete;
  ~NoNewStorage() { EXPECT_EQ((Counters::Of(fType) - fBefore).obj, 0) << "type " << fType; }

 private:
  short fType;
  Counters fBefore;
};

// A storage object with no behaviour of its own: the base operations only.
class PlainStorage : public KQSValueBase {};

}  // namespace valtest

#endif  // VXKERNEL_TESTS_VALUES_VALUE_TEST_UTIL_H_
