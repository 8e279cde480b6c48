// Small verbs shared by the value tests: text forms, builders, readers and
// snapshots of a class's three counters.
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
#include "vxkernel/values/KQSValueList.h"

namespace valtest {

// Type numbers of the built-in types, written out to check the classes.
constexpr short kUndefined = 0, kError = 1, kInteger = 2, kBlobId = 4, kBoolean = 5, kPoint = 6,
                kNotSet = 7, kVoid = 8;
constexpr short kString = -1, kList = -2, kReal = -4, kExtern = -5, kBytes = -6, kDate = -7,
                kLong = -8, kAssoc = -18, kListExpand = -108, kRecord = -109, kRecArray = -110,
                kTypeCode = -132;

inline std::string Str(const KString& k) { return std::string(static_cast<const char*>(k), k.Length()); }

// The text form (FormattedString), expecting operator<< and the classes'
// own writers (a unitbuf stream, where the direct writers step aside) to agree.
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

inline std::string Display(const KQSValue& v) { return Str(v.DisplayString()); }
inline uintptr_t Word(const KQSValue& v) { return reinterpret_cast<uintptr_t>(v.Instance()); }

inline KQSValue Parse(const std::string& text, KQSClassCracker* cracker = nullptr) {
  std::istringstream in(text);
  KQSValue v;
  KQSValue::FormattedInput(in, v, cracker);
  return v;
}

inline KQSClassCracker CodePage(unsigned cp) {
  KQSClassCracker c;
  c.UseCodePage(true);
  c.CodePage(cp);
  return c;
}

inline std::string Binary(const KQSValue& v) {
  KQSClassFormatter f;
  std::ostringstream out;
  v.WriteBinary(out, &f);
  return out.str();
}

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

inline KQSValue NewAssoc(const KQSValue& undefinedValue = KQSValue()) {
  return KQSValue(kAssoc, static_cast<void*>(new KAssocVal(undefinedValue)));
}
inline KAssocVal& A(const KQSValue& assoc) { return *static_cast<KAssocVal*>(assoc.User()); }

inline std::vector<std::string> Pairs(const KQSValue& assoc) {
  std::vector<std::string> out;
  KQSValue k, v;
  for (long n = 1; A(assoc).GetNth(n, k, v); ++n) out.push_back(Text(k) + "=" + Text(v));
  return out;
}

inline KDateTime MakeDate(int year, int month, int day, int hour = 0, int minute = 0,
                          int second = 0, int ms = 0) {
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

struct Counters {
  long obj, ref, total;
  static Counters Of(short type) {
    return Counters{KQSValue::ObjCount(type), KQSValue::RefCount(type), KQSValue::RefTotal(type)};
  }
  Counters operator-(const Counters& e) const { return Counters{obj - e.obj, ref - e.ref, total - e.total}; }
  bool operator==(const Counters& o) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Counters& c) {
  return out << "{obj " << c.obj << ", ref " << c.ref << ", total " << c.total << "}";
}

// A leak detector for one scope: no new storage of the class is left alive.
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
