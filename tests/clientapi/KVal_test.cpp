// KVal: native conversions by type code, table-driven, row/column access to
// record tables, and conversions from and to text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/started_process.h"
#include "vxkernel/clientapi/KVal.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/values/KRZTable.h"

namespace {

TEST(KValNative, RoundTripsEveryCode) {
  const char c = -3;
  const short s = -30000;
  const int32_t l = -2000000000;
  const float f = 1.5f;
  const double d = -2.25;
  const long long t = 1000000000LL;
  const long long big = -5000000000LL;
  struct Case {
    long code;
    const void* src;
    long width;
    short type;
  } cases[] = {
      {KVal::kNativeChar, &c, 1, 2},     {KVal::kNativeShort, &s, 2, 2}, {KVal::kNativeLong, &l, 4, 2},
      {KVal::kNativeFloat, &f, 4, -4},   {KVal::kNativeDouble, &d, 8, -4}, {KVal::kNativeDate, &t, 8, -7},
      {KVal::kNativeLongLong, &big, 8, -8},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.code);
    KQSValue v;
    ASSERT_EQ(KVal::CToValue(v, k.code, k.src, 0), 0);
    EXPECT_EQ(v.Type(), k.type);
    unsigned char out[16];
    std::memset(out, 0xEE, sizeof out);
    long produced = -1;
    ASSERT_EQ(KVal::ValueToC(v, k.code, out, sizeof out, &produced), 0);
    EXPECT_EQ(produced, k.width);
    EXPECT_EQ(std::memcmp(out, k.src, static_cast<size_t>(k.width)), 0);
    EXPECT_EQ(out[k.width], 0xEE);  // nothing past the field
  }
}

TEST(KValNative, StringsAndBytesReportTheirFullLength) {
  KQSValue v;
  ASSERT_EQ(KVal::CToValue(v, KVal::kNativeString, "document", 0), 0);
  char buf[5];
  long n = 0;
  ASSERT_EQ(KVal::ValueToC(v, KVal::kNativeString, buf, sizeof buf, &n), 0);
  EXPECT_STREQ(buf, "docu");
  EXPECT_EQ(n, 8);
  const unsigned char bytes[] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(KVal::CToValue(v, KVal::kNativeBytes, bytes, 6), 0);
  unsigned char out[4] = {0, 0, 0, 0};
  ASSERT_EQ(KVal::ValueToC(v, KVal::kNativeBytes, out, sizeof out, &n), 0);
  EXPECT_EQ(n, 6);
  EXPECT_EQ(out[3], 4);
}

TEST(KValNative, FailuresAndUndefined) {
  KQSValue v(7);
  long n = 0;
  int32_t word = 99;
  EXPECT_EQ(KVal::ValueToC(v, KVal::kNativeLong, nullptr, 4, &n), KVal::kNullDestination);
  EXPECT_EQ(KVal::ValueToC(v, 11, &word, 4, &n), KVal::kUnknownType);
  EXPECT_EQ(KVal::CToValue(v, 0, &word, 4), KVal::kUnknownType);
  EXPECT_EQ(KVal::CToValue(v, KVal::kNativeLong, nullptr, 4), 0);
  EXPECT_EQ(static_cast<long>(v), 7);  // a null source leaves the value
  KQSValue undefined;
  EXPECT_EQ(KVal::ValueToC(undefined, KVal::kNativeLong, &word, 4, &n), KVal::kUndefinedValue);
  EXPECT_EQ(word, 0);
  char text[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(KVal::ValueToC(undefined, KVal::kNativeString, text, 4, &n), KVal::kUndefinedValue);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(text[1], 'x');
  double asDouble = 0;
  EXPECT_EQ(KVal::ValueToC(KQSValue(-9), KVal::kNativeDouble, &asDouble, 8, &n), 0);
  EXPECT_EQ(asDouble, -9.0);
  VAPIVALUE null = nullptr;
  KQSValue* out = nullptr;
  EXPECT_EQ(KVal::Check(&null, &out), KVal::kNullHandle);
  KQSValue* held = KVal::Alloc();
  VAPIVALUE handle = reinterpret_cast<VAPIVALUE>(held);
  EXPECT_EQ(KVal::Check(&handle, &out), 0);
  EXPECT_EQ(out, held);
  KVal::Free(held);
}

TEST(KValTables, AddGetPutRenameDelete) {
  KQSValue table(5);
  ASSERT_EQ(KVal::Add(table, KQSValue("a.pdf"), KQSValue(12)), 0);  // becomes a 2-column RecArray
  ASSERT_EQ(table.Type(), -110);
  KRZTable* t = KRZTable::FromValue(table);
  t->RenameColumn(1, "name");
  t->RenameColumn(2, "pages");
  KVal::Add(table, KQSValue("b.doc"), KQSValue(3));
  EXPECT_EQ(std::string(KVal::Get(table, "NAME", 2).String()), "b.doc");
  EXPECT_EQ(static_cast<long>(KVal::Get(table, 2L, 1)), 12);
  EXPECT_TRUE(KVal::Get(table, "name", 3).IsUndefined());
  EXPECT_TRUE(KVal::Get(table, "missing", 1).IsUndefined());
  EXPECT_EQ(KVal::Put(KQSValue(40), table, "pages", 2), 0);
  EXPECT_EQ(static_cast<long>(KVal::Get(table, "pages", 2)), 40);
  KVal::Put(KQSValue(1), table, "new", 1);  // by name only existing columns
  EXPECT_EQ(t->Width(), 2);
  KQSValue record = t->GetRow(1);
  EXPECT_EQ(std::string(KVal::Get(record, "name", 0).String()), "a.pdf");
  EXPECT_EQ(static_cast<long>(KVal::Get(KQSValue::List(KQSValue(7), KQSValue(8)), 2L, 0)), 8);
  KVal::Rename(table, "pages", "count");
  EXPECT_EQ(static_cast<long>(KVal::Get(table, "count", 2)), 40);
  KVal::Delete(table, "name");
  EXPECT_EQ(t->Width(), 1);
  EXPECT_EQ(std::string(KVal::ValueToString(KQSValue("it's")).String()), "'it\\'s'");
  EXPECT_TRUE(KVal::ValueToString(KQSValue()).IsUndefined());
}

std::string TextOf(const KQSValue& v) {
  const KString k = v.FormattedString();
  return std::string(static_cast<const char*>(k), k.Length());
}

TEST(KValStringToValue, ParsesStringsAndPassesOtherValues) {
  EXPECT_EQ(TextOf(KVal::StringToValue(KQSValue("{1,'a'}"))), "{1,'a'}");
  for (const KQSValue& undefined : {KQSValue(), KQSValue(""), KQSValue("E5")})
    EXPECT_TRUE(KVal::StringToValue(undefined).IsUndefined()) << TextOf(undefined);
  EXPECT_EQ(TextOf(KVal::StringToValue(KQSValue(5))), "5");
  const KQSValue assoc = KVal::StringToValue(KQSValue("A<1,?,'b'=[00ff],'a'=G0.5>"));
  EXPECT_EQ(TextOf(KVal::StringToValue(KVal::ValueToString(assoc))), "A<1,?,'a'=G0.5,'b'=[00ff]>");
  // The text is read in place, embedded NULs included.
  const KQSValue nul = KVal::StringToValue(KQSValue(KString("'a\0b'", 5)));
  EXPECT_EQ(nul.String().Length(), 3u);
}

TEST(KValConvert, ConvertsOneColumnOfEveryRowBothWays) {
  KQSValue names = KQSValue::List(KQSValue("n"), KQSValue("s"));
  KQSValue named = KRZTable::MakeValue(new KRZTable(names));
  const KQSValue rows[2][2] = {{KQSValue(1), KQSValue("'x'")}, {KQSValue(-2), KQSValue("{2,'z'}")}};
  for (const auto& row : rows) KVal::Add(named, 2, row);
  // A Record held by two rows is converted once.
  KRZTable::FromValue(named)->AddRecord(KRZTable::FromValue(named)->GetRow(1));
  EXPECT_EQ(KVal::Convert(named, "N", true), 0);
  EXPECT_EQ(TextOf(named), "V{<'n','s'><'1','\\'x\\''><'-2','{2,\\'z\\'}'><'1','\\'x\\''>}");
  EXPECT_EQ(KVal::Convert(named, 1L, false), 0);
  EXPECT_EQ(KVal::Convert(named, "s", false), 0);
  EXPECT_EQ(TextOf(named), "V{<'n','s'><1,'x'><-2,{2,'z'}><1,'x'>}");
  // A Record alone; unknown columns and other values are left alone.
  KQSValue record = KRZTable::FromValue(named)->GetRow(2);
  EXPECT_EQ(KVal::Convert(record, "s", true), 0);
  EXPECT_EQ(TextOf(record), "R<'n'=-2,'s'='{2,\\'z\\'}'>");
  EXPECT_EQ(KVal::Convert(record, "nope", true), 0);
  EXPECT_EQ(KVal::Convert(record, 9L, true), 0);
  KQSValue list = KQSValue::List(KQSValue(1));
  EXPECT_EQ(KVal::Convert(list, 1L, true), 0);
  EXPECT_EQ(TextOf(list), "{1}");
}

}  // namespace
