// The value text writer: numbers against printf, strings against a plain
// escaper across block boundaries, and the state of the stream it writes to.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <limits>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/values/KAssocVal.h"

namespace {

using namespace valtest;

template <class... Args>
std::string Printf(const char* format, Args... args) {
  char text[64];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

std::string ReferenceQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\'' || c == '\\') out += std::string("\\") + c;
    else out += c;
  }
  return out + "'";
}

KQSValue Text(const std::string& s) { return KQSValue(KString(s.data(), static_cast<unsigned>(s.size()))); }

std::string WrittenInto(std::ostringstream& out, const KQSValue& v) {
  KQSClassFormatter f;
  v.FormattedOutput(out, &f);
  return out.str();
}

TEST(ValueTextWriterNumbers, NumbersAreWrittenAsPrintfWritesThem) {
  using Limits = std::numeric_limits<double>;
  std::vector<double> cases = {0.0, -0.0, 1.0, -1.5, 0.1, 0.1 + 0.2, 1.0 / 3, 5.0, 1e15, 1e16,
                               123456789012345.0, 1234567890123456.0, 9.999999999999995e14, 1e-5, 1e-4,
                               Limits::infinity(), -Limits::infinity(), Limits::quiet_NaN(),
                               -Limits::quiet_NaN(), Limits::denorm_min(), Limits::min(), Limits::max(),
                               -Limits::max(), 99999999999999.95, 0.000099999999999999995};
  std::mt19937_64 rng(17);
  for (int i = 0; i < 5000; ++i) {
    const uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    cases.push_back(d);
    cases.push_back(std::ldexp(static_cast<double>(rng() % 2000000) - 1e6, static_cast<int>(rng() % 80) - 40));
    // Decimal fractions, where rounding to 15 digits matters most; Integers and Longs of every length.
    cases.push_back(static_cast<double>(static_cast<int64_t>(rng() % 2000000001) - 1000000000) / 1000);
    const auto n = static_cast<int64_t>(rng()) >> (rng() % 64);
    ASSERT_EQ(valtest::Text(KQSValue(static_cast<int>(n))), Printf("%d", static_cast<int>(n)));
    ASSERT_EQ(valtest::Text(KQSValue(static_cast<int64>(n))), "L" + Printf("%lld", static_cast<long long>(n)));
  }
  for (double d : cases) ASSERT_EQ(valtest::Text(KQSValue(d)), "G" + Printf("%.15g", d)) << Printf("%a", d);
}

TEST(ValueTextWriterStrings, EscapesMatchTheReferenceAcrossBufferBoundaries) {
  // Lengths around FormattedString's 16 KiB blocks, each String followed by
  // an Assoc of every type: block ends fall on escapes and between values.
  const char kBytes[] = {'a', 'Z', ' ', '\t', '\n', '\r', '\'', '\\', '"', '\0', '\x7f', '\xe9', '\xff'};
  std::mt19937 rng(5);
  KQSValue list = KQSValue::List();
  std::string want = "{";
  for (size_t length : {0u, 1u, 2u, 100u, 16383u, 16384u, 16385u, 40000u}) {
    std::string s(length, 'x');
    for (char& c : s) c = kBytes[rng() % sizeof kBytes];
    KQSValue a = NewAssoc();
    A(a).Add(KQSValue("n"), KQSValue(static_cast<long>(length)));
    KQSValue d = KQSValue::List(KQSValue(MakeDate(2026, 12, 6, 5, 4, 3)), BytesValue("00ab"), KQSValue(1.5));
    for (const KQSValue& x : {KQSValue(int64{-7}), KQSValue::Boolean(1), KQSValue()}) d.ListAppendValue(x);
    A(a).Add(KQSValue("d"), d);
    list.ListAppendValue(Text(s));
    list.ListAppendValue(a);
    want += ReferenceQuoted(s) + ",A<1,?,'d'={D/2026/12/6:5:4:3,[00ab],G1.5,L-7,true,?},'n'=" +
            std::to_string(length) + ">,";
  }
  want.back() = '}';
  EXPECT_EQ(valtest::Text(list), want);
  // Escapes exactly at the block end of the output (the quote is byte 0).
  for (size_t at : {16381u, 16382u, 16383u, 16384u}) {
    std::string s(20000, 'q');
    s[at] = '\n';
    s[at + 1] = '\\';
    EXPECT_EQ(valtest::Text(Text(s)), ReferenceQuoted(s)) << at;
  }
}

TEST(ValueTextWriterStreams, FlagsAndWidthAreHonouredAsFormattedInsertionsHonourThem) {
  const KQSValue list = KQSValue::List(KQSValue(1), KQSValue(-2), KQSValue(1.5));
  std::ostringstream plus, hex, wide, quoted, point;
  plus << std::showpos;
  hex << std::hex;
  wide << std::setw(4);  // the first insertion takes the width
  quoted << std::setw(3);  // a String is written unformatted: the width stays for what follows
  point << std::showpoint;
  EXPECT_EQ(WrittenInto(plus, list), "{+1,-2,G+1.5}");
  EXPECT_EQ(WrittenInto(hex, KQSValue::List(KQSValue(255))), "{ff}");
  EXPECT_EQ(WrittenInto(wide, KQSValue::List(KQSValue(7))), "   {7}");
  EXPECT_EQ(WrittenInto(quoted, KQSValue("ab")), "'ab'");
  quoted << 'x';
  EXPECT_EQ(quoted.str(), "'ab'  x");
  EXPECT_EQ(WrittenInto(point, KQSValue(2.0)), "G2.00000000000000");
}

struct Thousands : std::numpunct<char> {
  char do_thousands_sep() const override { return ','; }
  char do_decimal_point() const override { return '#'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(ValueTextWriterStreams, AStreamLocaleGroupsUntilOperatorOutputSetsTheClassicOne) {
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new Thousands));
  const std::string text = Str(KQSValue::List(KQSValue(1234567), KQSValue(1234.5)).FormattedString());
  std::locale::global(saved);
  EXPECT_EQ(text, "{1234567,G1234.5}");  // FormattedString ignores the global locale
  const KQSValue list = KQSValue::List(KQSValue(1234567));
  std::ostringstream out;
  out.imbue(std::locale(std::locale::classic(), new Thousands));
  EXPECT_EQ(WrittenInto(out, list), "{1,234,567}");
  out << list;
  EXPECT_EQ(out.str(), "{1,234,567}{1234567}");
  EXPECT_TRUE(out.getloc() == std::locale::classic());
}

TEST(ValueTextWriterStreams, AFailedStreamGetsNothingAndAFullBufferFailsTheStream) {
  std::ostringstream bad;
  bad.setstate(std::ios_base::failbit);
  bad << KQSValue::List(KQSValue("x"), KQSValue(2));
  EXPECT_EQ(bad.str(), "");
  struct Tiny : std::streambuf {  // room for 5 bytes, refuses the rest
    char room[5];
    Tiny() { setp(room, room + sizeof room); }
    std::string Text() const { return std::string(pbase(), pptr()); }
  } tiny;
  std::ostream out(&tiny);
  out << KQSValue::List(KQSValue("abc"), KQSValue(12345));
  EXPECT_TRUE(out.bad());
  EXPECT_EQ(tiny.Text(), "{'abc");
}

// A host class that writes a bar and leaves the stream in hexadecimal.
class HexLeavingClass : public KQSClass {
 public:
  HexLeavingClass() : KQSClass("HexLeaving", 28000) {}
  std::ostream& FormattedOutput(void* /*data*/, std::ostream& out, KQSClassFormatter* /*f*/) const override {
    return out << std::hex << '|';
  }
};

TEST(ValueTextWriterStreams, AClassThatChangesTheFlagsChangesTheRestOfTheWrite) {
  static const HexLeavingClass* const hexClass = new HexLeavingClass;  // classes live for the process
  std::ostringstream out;
  out << KQSValue::List(KQSValue(255), KQSValue(hexClass, nullptr), KQSValue(255));
  EXPECT_EQ(out.str(), "{255,|,ff}");
}

}  // namespace
