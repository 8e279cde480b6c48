// KVal's text conversions: StringToValue and Convert, which read cells
// back from their text form. A source file of the KVal_test program of its
// own (KVal_test.cpp starts the process).
#include <gtest/gtest.h>

#include <string>

#include "vxkernel/clientapi/KVal.h"
#include "vxkernel/values/KRZTable.h"

namespace {

std::string TextOf(const KQSValue& v) {
  const KString k = v.FormattedString();
  return std::string(static_cast<const char*>(k), k.Length());
}

TEST(KValStringToValue, ParsesStringsAndPassesOtherValues) {
  EXPECT_EQ(TextOf(KVal::StringToValue(KQSValue("{1,'a'}"))), "{1,'a'}");
  EXPECT_TRUE(KVal::StringToValue(KQSValue()).IsUndefined());
  EXPECT_TRUE(KVal::StringToValue(KQSValue("")).IsUndefined());
  EXPECT_TRUE(KVal::StringToValue(KQSValue("E5")).IsUndefined());
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
