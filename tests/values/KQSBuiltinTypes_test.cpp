// The built-in types' own behaviour seen through KQSValue: truth values,
// coercions, text forms and display forms.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/debug_capture.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"

namespace {

using namespace valtest;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// ===== Truth values =====

TEST(KQSBuiltinTruth, TruthOfEveryScalarType) {
  struct Case {
    const char* what;
    KQSValue value;
    bool truth;
  };
  const Case cases[] = {
      {"Undefined", KQSValue(), false},
      {"Error 5", KQSValue::Error(5), false},
      {"Integer 0", KQSValue(0), false},
      {"Integer 1", KQSValue(1), true},
      {"Integer 65536", KQSValue(65536), true},  // not cut to 16 bits
      {"Integer INT_MIN", KQSValue(INT_MIN), true},
      {"Integer from 2^32", KQSValue(4294967296L), false},  // wraps to 0
      {"BlobId 0", KQSValue::BlobId(0), false},
      {"BlobId 7", KQSValue::BlobId(7), true},
      {"Boolean 0", KQSValue::Boolean(0), false},
      {"Boolean 1", KQSValue::Boolean(1), true},
      {"Boolean 0x80", KQSValue::Boolean(0x80), true},
      {"Point 0,0", KQSValue(GEOM_point{0, 0}), false},
      {"Point 0,1", KQSValue(GEOM_point{0, 1}), true},
      {"Point 65536,0", KQSValue(GEOM_point{65536, 0}), false},  // only 16 bits kept
      {"NotSet", KQSValue::NotSet(), true},
      {"String empty", KQSValue(""), false},
      {"String 0", KQSValue("0"), true},  // length, not content
      {"List null", KQSValue(kList, 0L), false},
      {"Real 0", KQSValue(0.0), false},
      {"Real 1e-16", KQSValue(0.0000000000000001), false},
      {"Real eps", KQSValue(2.220446049250313e-16), false},  // not greater than
      {"Real -eps", KQSValue(-2.220446049250313e-16), false},
      {"Real above eps", KQSValue(std::nextafter(2.220446049250313e-16, 1.0)), true},
      {"Real inf", KQSValue(kInf), true},
      {"Real -inf", KQSValue(-kInf), true},
      {"Long 0", KQSValue(static_cast<int64>(0)), false},
      {"Long 2^32", KQSValue(static_cast<int64>(1) << 32), true},  // not cut to 32 bits
      {"Long min", KQSValue(static_cast<int64>(LLONG_MIN)), true},
      {"Bytes empty", KQSValue::NewBytesValue("", 0), true},
      {"Bytes 00", BytesValue("00"), true},
      {"Date", KQSValue(MakeDate(2004, 3, 5)), true},
      {"Date zero", KQSValue(KDateTime()), true},
      {"TypeCode empty", KQSValue::NewTypeCodeValue(""), false},
      {"TypeCode x", KQSValue::NewTypeCodeValue("x"), true},
  };
  DebugCapture capture;
  for (const Case& c : cases) {
    EXPECT_EQ(c.value.CoerceToBoolean(), c.truth) << c.what;
  }
  EXPECT_EQ(capture.All(), "");
}

// ===== Coercion =====

// What a coercion must leave: its result, the type and the text form.
struct CoerceCase {
  const char* what;
  KQSValue value;
  short target;
  bool ok;
  short type;        // type afterwards
  std::string text;  // text form afterwards
};

void RunCoerceCases(const std::vector<CoerceCase>& cases) {
  for (const CoerceCase& c : cases) {
    SCOPED_TRACE(c.what);
    DebugCapture capture;
    KQSValue v = c.value;  // a copy: the coercion must not reach the original
    std::string before = Text(v);
    EXPECT_EQ(v.CoerceTo(c.target), c.ok);
    EXPECT_EQ(v.Type(), c.type);
    EXPECT_EQ(Text(v), c.text);
    if (!c.ok) { EXPECT_EQ(Text(v), before) << "a failed coercion leaves the value"; }
    EXPECT_EQ(Text(c.value), before) << "the original is untouched";
  }
}

TEST(KQSBuiltinCoerce, IntegerToRealAndLong) {
  RunCoerceCases({
      {"5 to Real", KQSValue(5), kReal, true, kReal, "G5"},
      {"INT_MIN to Real", KQSValue(INT_MIN), kReal, true, kReal, "G-2147483648"},
      {"INT_MAX to Real", KQSValue(INT_MAX), kReal, true, kReal, "G2147483647"},
      {"-1 to Long", KQSValue(-1), kLong, true, kLong, "L-1"},
      {"INT_MIN to Long", KQSValue(INT_MIN), kLong, true, kLong, "L-2147483648"},
      {"wrapped to Long", KQSValue(3000000000L), kLong, true, kLong, "L-1294967296"},
      {"to String fails", KQSValue(5), kString, false, kInteger, "5"},
      {"to Date fails", KQSValue(5), kDate, false, kInteger, "5"},
      {"to Point fails", KQSValue(5), kPoint, false, kInteger, "5"},
      {"to Boolean", KQSValue(7), kBoolean, true, kBoolean, "true"},
      {"0 to Boolean", KQSValue(0), kBoolean, true, kBoolean, "false"},
  });
}

TEST(KQSBuiltinCoerce, BooleanToNumbers) {
  RunCoerceCases({
      {"true to Integer", KQSValue::Boolean(1), kInteger, true, kInteger, "1"},
      {"byte 9 to Integer", KQSValue::Boolean(9), kInteger, true, kInteger, "1"},
      {"false to Integer", KQSValue::Boolean(0), kInteger, true, kInteger, "0"},
      {"true to Long", KQSValue::Boolean(1), kLong, true, kLong, "L1"},
      {"false to Long", KQSValue::Boolean(0), kLong, true, kLong, "L0"},
      {"true to Real", KQSValue::Boolean(1), kReal, true, kReal, "G1"},
      {"false to Real", KQSValue::Boolean(0), kReal, true, kReal, "G0"},
      {"to String fails", KQSValue::Boolean(1), kString, false, kBoolean, "true"},
      {"to Bytes fails", KQSValue::Boolean(0), kBytes, false, kBoolean, "false"},
  });
}

TEST(KQSBuiltinCoerce, RealToIntegerBoundaries) {
  RunCoerceCases({
      {"-2147483648.0", KQSValue(-2147483648.0), kInteger, true, kInteger,
       "-2147483648"},
      {"2147483647.0", KQSValue(2147483647.0), kInteger, true, kInteger,
       "2147483647"},
      {"2147483647.5", KQSValue(2147483647.5), kInteger, false, kReal,
       "G2147483647.5"},
      {"2147483648.0", KQSValue(2147483648.0), kInteger, false, kReal,
       "G2147483648"},
      {"-2147483648.5", KQSValue(-2147483648.5), kInteger, false, kReal,
       "G-2147483648.5"},
      {"-2147483649.0", KQSValue(-2147483649.0), kInteger, false, kReal,
       "G-2147483649"},
      {"-2.7", KQSValue(-2.7), kInteger, true, kInteger, "-2"},
      {"2.7", KQSValue(2.7), kInteger, true, kInteger, "2"},
      {"-0.5", KQSValue(-0.5), kInteger, true, kInteger, "0"},
      {"2147483646.9", KQSValue(2147483646.9), kInteger, true, kInteger,
       "2147483646"},
      {"NaN", KQSValue(kNaN), kInteger, false, kReal, Text(KQSValue(kNaN))},
      {"inf", KQSValue(kInf), kInteger, false, kReal, Text(KQSValue(kInf))},
      {"-inf", KQSValue(-kInf), kInteger, false, kReal, Text(KQSValue(-kInf))},
      {"1e300", KQSValue(1e300), kInteger, false, kReal, "G1e+300"},
  });
}

TEST(KQSBuiltinCoerce, RealToLongBoundaries) {
  RunCoerceCases({
      {"-2^63", KQSValue(-9223372036854775808.0), kLong, true, kLong,
       "L-9223372036854775808"},
      {"2^63", KQSValue(9223372036854775808.0), kLong, false, kReal,
       "G9.22337203685478e+18"},
      {"largest below 2^63", KQSValue(9223372036854774784.0), kLong, true, kLong,
       "L9223372036854774784"},
      {"next below -2^63", KQSValue(-9223372036854777856.0), kLong, false, kReal,
       "G-9.22337203685478e+18"},
      {"-2.7", KQSValue(-2.7), kLong, true, kLong, "L-2"},
      {"2^40 + 0.75", KQSValue(1099511627776.75), kLong, true, kLong,
       "L1099511627776"},
      {"NaN", KQSValue(kNaN), kLong, false, kReal, Text(KQSValue(kNaN))},
      {"inf", KQSValue(kInf), kLong, false, kReal, Text(KQSValue(kInf))},
      {"-inf", KQSValue(-kInf), kLong, false, kReal, Text(KQSValue(-kInf))},
      {"to String fails", KQSValue(1.5), kString, false, kReal, "G1.5"},
      {"to Boolean", KQSValue(1e-17), kBoolean, true, kBoolean, "false"},
  });
}

TEST(KQSBuiltinCoerce, LongToIntegerBoundariesAndReal) {
  auto L = [](int64 v) { return KQSValue(v); };
  RunCoerceCases({
      {"INT32 min", L(INT_MIN), kInteger, true, kInteger, "-2147483648"},
      {"INT32 min - 1", L(static_cast<int64>(INT_MIN) - 1), kInteger, false, kLong, "L-2147483649"},
      {"INT32 max", L(INT_MAX), kInteger, true, kInteger, "2147483647"},
      {"INT32 max + 1", L(static_cast<int64>(INT_MAX) + 1), kInteger, false, kLong, "L2147483648"},
      {"2^32", L(4294967296LL), kInteger, false, kLong, "L4294967296"},
      {"-1", L(-1), kInteger, true, kInteger, "-1"},
      {"2^32 + 5", L(4294967301LL), kInteger, false, kLong, "L4294967301"},
      {"to Date fails", L(5), kDate, false, kLong, "L5"},
      {"2^32 to Boolean", L(4294967296LL), kBoolean, true, kBoolean, "true"},
  });
  // To Real: the nearest double, as the C++ conversion gives it.
  const int64 longs[] = {0,         -1,        1LL << 53,           (1LL << 53) + 1,
                         LLONG_MAX, LLONG_MIN, 123456789012345678LL};
  for (int64 x : longs) {
    SCOPED_TRACE(x);
    KQSValue v(x);
    ASSERT_TRUE(v.CoerceTo(kReal));
    EXPECT_TRUE(v.IsReal());
    EXPECT_EQ(static_cast<double>(v), static_cast<double>(x));
  }
}

TEST(KQSBuiltinCoerce, ErrorSucceedsAndStaysAnError) {
  for (short target : {kInteger, kString, kReal, kLong, kDate, kBytes, kUndefined, short{-18}}) {
    SCOPED_TRACE(target);
    KQSValue e = KQSValue::Error(0x26AD000F);
    EXPECT_TRUE(e.CoerceTo(target));
    EXPECT_TRUE(e.IsError());
    EXPECT_EQ(e.Error(), 0x26AD000F);
  }
  // Boolean is not asked of the class: an Error is false.
  KQSValue e = KQSValue::Error(3);
  EXPECT_TRUE(e.CoerceTo(kBoolean));
  EXPECT_EQ(Text(e), "false");
}

TEST(KQSBuiltinCoerce, ToBooleanInPlaceReleasesTheStorage) {
  Counters before = Counters::Of(kString);
  KQSValue s("abc");
  EXPECT_TRUE(s.CoerceTo(kBoolean));
  EXPECT_EQ(s.Type(), kBoolean);
  EXPECT_EQ(static_cast<unsigned char>(s), 1);
  EXPECT_EQ(Counters::Of(kString) - before, (Counters{0, 0, 1}));

  KQSValue e("");
  EXPECT_TRUE(e.CoerceTo(kBoolean));
  EXPECT_EQ(static_cast<unsigned char>(e), 0);

  // A shared String: only this value changes.
  KQSValue a("shared"), b(a);
  EXPECT_TRUE(b.CoerceTo(kBoolean));
  EXPECT_TRUE(a.IsString());
  EXPECT_EQ(a.User()->References(), 1);
}

TEST(KQSBuiltinCoerce, OwnTypeIsTrueAndUnchanged) {
  const KQSValue values[] = {
      KQSValue(),
      KQSValue(5),
      KQSValue("five"),
      KQSValue(5.5),
      KQSValue(static_cast<int64>(5)),
      KQSValue::NewBytesValue("5", 1),
      KQSValue(MakeDate(2005, 5, 5)),
      KQSValue::Error(5),
      KQSValue::Boolean(5),  // the byte stays 5, not 1
      KQSValue(GEOM_point{5, 5}),
      KQSValue::NotSet(),
      KQSValue::BlobId(5),
      KQSValue(kList, 0L),
      KQSValue::NewTypeCodeValue("5"),
  };
  for (const KQSValue& original : values) {
    SCOPED_TRACE(Text(original));
    KQSValue v(original);
    Counters before = Counters::Of(v.Type());
    EXPECT_TRUE(v.CoerceTo(v.Type()));
    EXPECT_EQ(v.Class(), original.Class());
    EXPECT_EQ(v.Instance(), original.Instance());
    EXPECT_EQ(Counters::Of(v.Type()) - before, (Counters{0, 0, 0}));
  }
}

TEST(KQSBuiltinCoerce, UnconvertibleTypesFailAndKeepTheirValue) {
  RunCoerceCases({
      {"Undefined to Integer", KQSValue(), kInteger, false, kUndefined, "?"},
      {"String to Integer", KQSValue("12"), kInteger, false, kString, "'12'"},
      {"String to Real", KQSValue("1.5"), kReal, false, kString, "'1.5'"},
      {"Bytes to Integer", BytesValue("01"), kInteger, false, kBytes, "[01]"},
      {"Date to Long", KQSValue(MakeDate(2004, 3, 5)), kLong, false, kDate,
       "D/2004/3/5:0:0:0"},
      {"Point to Integer",
       KQSValue(GEOM_point{1, 1}), kInteger, false, kPoint, "(1,1)"},
      {"NotSet to Integer", KQSValue::NotSet(), kInteger, false, kNotSet, "N"},
      {"BlobId to Integer", KQSValue::BlobId(4), kInteger, false, kBlobId, "B/4"},
      {"List to Integer", KQSValue(kList, 0L), kInteger, false, kList, "{}"},
      {"Undefined to Boolean", KQSValue(), kBoolean, true, kBoolean, "false"},
  });
}

// ===== Text forms =====

struct TextCase {
  const char* what;
  KQSValue value;
  std::string text;
};

void ExpectTexts(const std::vector<TextCase>& cases) {
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Text(c.value), c.text);
    EXPECT_EQ(Streamed(c.value), c.text);
    KQSClassFormatter f;
    std::ostringstream out;
    c.value.FormattedOutput(out, &f);
    EXPECT_EQ(out.str(), c.text);
  }
}

TEST(KQSBuiltinText, ImmediateTypes) {
  DebugCapture capture;
  ExpectTexts({
      {"Undefined", KQSValue(), "?"},
      {"NotSet", KQSValue::NotSet(), "N"},
      {"Error", KQSValue::Error(0x26AD000F), "E648871951"},
      {"Error negative", KQSValue::Error(-5), "E-5"},
      {"Error 32-bit", KQSValue::Error(0xFFFFFFFFL), "E-1"},
      {"Integer", KQSValue(42), "42"},
      {"Integer min", KQSValue(INT_MIN), "-2147483648"},
      {"Integer wrapped", KQSValue(3000000000L), "-1294967296"},
      {"BlobId", KQSValue::BlobId(42), "B/42"},
      {"BlobId negative", KQSValue::BlobId(-3), "B/-3"},
      {"true", KQSValue::Boolean(1), "true"},
      {"true byte 2", KQSValue::Boolean(2), "true"},
      {"false", KQSValue::Boolean(0), "false"},
      {"Point 1,-1", KQSValue(GEOM_point{1, -1}), "(1,-1)"},
      {"Point -32768,32767", KQSValue(GEOM_point{-32768, 32767}), "(-32768,32767)"},
      {"Point word 0xFFFF0001",
       KQSValue(KQSValue::Class_Point(),
                reinterpret_cast<void*>(static_cast<uintptr_t>(0xFFFF0001u))),
       "(1,-1)"},
  });
  EXPECT_EQ(capture.All(), "");
}

TEST(KQSBuiltinText, ScalarStorageTypes) {
  ExpectTexts({
      {"Long", KQSValue(static_cast<int64>(4294967296LL)), "L4294967296"},
      {"Long min", KQSValue(static_cast<int64>(LLONG_MIN)), "L-9223372036854775808"},
      {"Long max", KQSValue(static_cast<int64>(LLONG_MAX)), "L9223372036854775807"},
      {"Bytes", BytesValue("00ab10"), "[00ab10]"},
      {"Bytes all", BytesValue("0001090a0f10f0fffe7f80"), "[0001090a0f10f0fffe7f80]"},
      {"Bytes empty", KQSValue::NewBytesValue("", 0), "[]"},
      {"Date", KQSValue(MakeDate(2004, 3, 5, 14, 7, 9)), "D/2004/3/5:14:7:9"},
      {"Date ms not written", KQSValue(MakeDate(1999, 12, 31, 23, 59, 58, 999)),
       "D/1999/12/31:23:59:58"},
      {"Date midnight", KQSValue(MakeDate(2000, 1, 1)), "D/2000/1/1:0:0:0"},
      {"Real", KQSValue(0.1), "G0.1"},
      {"Real third", KQSValue(1.0 / 3), "G0.333333333333333"},
      {"Real big", KQSValue(1e20), "G1e+20"},
      {"Real negative zero", KQSValue(-0.0), "G-0"},
      {"Real 15 digits", KQSValue(123456789012345.0), "G123456789012345"},
      {"Real 16 digits", KQSValue(1234567890123456.0), "G1.23456789012346e+15"},
      {"Real float", KQSValue(0.5f), "G0.5"},
  });
}

TEST(KQSBuiltinText, StringsAreQuotedWithEscapes) {
  ExpectTexts({
      {"plain", KQSValue("abc"), "'abc'"},
      {"empty", KQSValue(""), "''"},
      {"quote and line feed", KQSValue("it's\n"), "'it\\'s\\n'"},
      {"carriage return", KQSValue("a\rb"), "'a\\rb'"},
      {"backslash", KQSValue("c:\\dir"), "'c:\\\\dir'"},
      {"tab unescaped", KQSValue("a\tb"), "'a\tb'"},
      {"double quote unescaped", KQSValue("say \"hi\""), "'say \"hi\"'"},
      {"all escapes", KQSValue("\\'\r\n"), "'\\\\\\'\\r\\n'"},
      {"high bytes", KQSValue("\xc3\xa9\xff"), "'\xc3\xa9\xff'"},
  });
}

TEST(KQSBuiltinText, TypeCodeIsWrittenAsItIs) {
  ExpectTexts({
      {"plain", KQSValue::NewTypeCodeValue("KQSClass_Assoc"), "%'KQSClass_Assoc'"},
      {"no escapes", KQSValue::NewTypeCodeValue("a'b\n"), "%'a'b\n'"},
      {"empty", KQSValue::NewTypeCodeValue(""), "%''"},
  });
}

TEST(KQSBuiltinText, StorageTypesWithoutTextOfTheirOwn) {
  ExpectTexts({{"List without storage", KQSValue(kList, 0L), "{}"}});
  auto* storage = new PlainStorage;
  KQSValue u(kListExpand, static_cast<void*>(storage));
  ExpectTexts(
      {{"storage without a formatter", u, "U<ListExpand(-108)=" + PointerText(storage) + ">"}});

  // Extern writes through its storage, and bytes storage has no text form.
  KQSValue e(kExtern, static_cast<const void*>("ab"), 2L);
  ExpectTexts({{"Extern", e, "U<Extern(-5)=" + PointerText(e.Instance()) + ">"}});
}

TEST(KQSBuiltinText, EveryStorageTypeWithoutStorageWritesNullBaseval) {
  // Values built from a type number and a 0 word: no storage behind them.
  DebugCapture capture;
  for (short t : {kString, kReal, kExtern, kBytes, kDate, kLong, kTypeCode, kListExpand,
                  short{-18}, short{-109}, short{-110}}) {
    SCOPED_TRACE(t);
    KQSValue v(t, 0L);
    EXPECT_EQ(Text(v), "|NULL baseval|");
    EXPECT_EQ(v.Length(), 0);
    KQSValue w(v);
    EXPECT_EQ(v.Compare(w, 0), 0);
    EXPECT_TRUE(v == w);
  }
  EXPECT_EQ(capture.All(), "");
}

TEST(KQSBuiltinText, NegativeBytesLengthMakesAnEmptyValue) {
  KQSValue b(kBytes, static_cast<const void*>("abc"), -5L);
  EXPECT_EQ(b.Type(), kBytes);
  EXPECT_EQ(b.Length(), 0);
  EXPECT_EQ(Text(b), "[]");
  EXPECT_TRUE(b == KQSValue::NewBytesValue("", 0));
}

TEST(KQSBuiltinText, ClassesWithoutTextOfTheirOwnWriteClassAndWord) {
  void* word = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
  ExpectTexts({
      {"Void", KQSValue(KQSValue::Class_Void(), word), "|Void=" + PointerText(word) + "|"},
      {"SlotIndex", KQSValue(KQSValue::Class_SlotIndex(), word),
       "|SlotIndex=" + PointerText(word) + "|"},
      {"Object", KQSValue(KQSValue::Class_Object(), word), "|Object=" + PointerText(word) + "|"},
  });
  EXPECT_EQ(PointerText(word), "0x1234");
}

// A number format with thousands separators, as a host's locale may have.
class GroupingPunct : public std::numpunct<char> {
 protected:
  char do_thousands_sep() const override { return '.'; }
  char do_decimal_point() const override { return ','; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(KQSBuiltinText, FormattedStringIgnoresTheGlobalLocale) {
  std::locale saved = std::locale::global(std::locale(std::locale::classic(), new GroupingPunct));
  std::string integer = Text(KQSValue(1234567));
  std::string real = Text(KQSValue(1234.5));
  std::locale::global(saved);
  EXPECT_EQ(integer, "1234567");
  EXPECT_EQ(real, "G1234.5");
}

// ===== Display forms =====

TEST(KQSBuiltinDisplay, ErrorShowsTheCatalogueText) {
  long code = err_add_local_msg("Volume is full");
  ASSERT_NE(code, 0);
  EXPECT_EQ(Display(KQSValue::Error(code)), Str(err_get_msg(code)));
  EXPECT_EQ(Display(KQSValue::Error(code)), "Volume is full");
  // Codes without text display as their (empty) catalogue text.
  EXPECT_EQ(Display(KQSValue::Error(0x26AD000F)), Str(err_get_msg(0x26AD000F)));
  err_delete_local_msg(code);
}

TEST(KQSBuiltinDisplay, StringShowsItsCharacters) {
  EXPECT_EQ(Display(KQSValue("it's\n\t\\")), "it's\n\t\\");
  EXPECT_EQ(Display(KQSValue("")), "");
  EXPECT_EQ(Display(KQSValue::NewTypeCodeValue("a'b")), "%'a'b'");
}

TEST(KQSBuiltinDisplay, OtherTypesShowTheirTextForm) {
  const KQSValue values[] = {KQSValue(42),         KQSValue(),
                             KQSValue(1.5),        KQSValue(static_cast<int64>(-3)),
                             KQSValue::Boolean(1), KQSValue(GEOM_point{1, -1}),
                             BytesValue("00ab10"), KQSValue(kList, 0L)};
  for (const KQSValue& v : values) EXPECT_EQ(Display(v), Text(v));
}

TEST(KQSBuiltinDisplay, DateUsesTheFallbackFormatLikeStrftime) {
  const char* fallback = "%a %b %d %H:%M:%S %Y";
  KString catalogue = err_get_msg(0x21410001);
  if (catalogue.Length() != 0)
    GTEST_SKIP() << "the catalogue has a date format: " << Str(catalogue);

  std::mt19937 random(1582);
  std::vector<KDateTime> dates = {MakeDate(2004, 3, 5, 14, 7, 9), MakeDate(2000, 2, 29, 0, 0, 0),
                                  MakeDate(1970, 1, 1, 23, 59, 59),
                                  MakeDate(1600, 12, 31, 12, 0, 0), MakeDate(2399, 1, 1, 1, 1, 1)};
  for (int i = 0; i < 300; ++i) {
    int year = std::uniform_int_distribution<int>(1601, 2400)(random);
    int month = std::uniform_int_distribution<int>(1, 12)(random);
    int day = std::uniform_int_distribution<int>(1, 28)(random);
    dates.push_back(MakeDate(year, month, day, std::uniform_int_distribution<int>(0, 23)(random),
                             std::uniform_int_distribution<int>(0, 59)(random),
                             std::uniform_int_distribution<int>(0, 59)(random)));
  }
  for (const KDateTime& d : dates) {
    std::tm tm{};
    tm.tm_year = d.Year() - 1900;
    tm.tm_mon = d.Month() - 1;
    tm.tm_mday = d.Day();
    tm.tm_hour = d.Hour();
    tm.tm_min = d.Minute();
    tm.tm_sec = d.Second();
    std::time_t t = timegm(&tm);  // fills in the day of the week
    ASSERT_NE(gmtime_r(&t, &tm), nullptr);
    char expected[255];
    ASSERT_GT(std::strftime(expected, sizeof expected, fallback, &tm), 0u);
    EXPECT_EQ(Display(KQSValue(d)), expected) << Text(KQSValue(d));
  }
}

}  // namespace
