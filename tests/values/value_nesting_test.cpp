// Containers that hold themselves, and nesting far past the 512 levels the
// readers accept: written, read back and freed without deep recursion or leaks.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/debug_capture.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KRZTable.h"

namespace {

using namespace valtest;

constexpr long kDeep = 100000;  // enough to overflow any recursive walk

TEST(ValueNesting, ContainersHoldingThemselvesAreWrittenAsBackReferences) {
  // Through the undefined value and the column names, which are written with
  // a fresh formatter each.
  KQSValue a = NewAssoc();
  A(a).UndefinedValue(a);
  A(a).Add(KQSValue("k"), a);
  EXPECT_EQ(Text(a), "A<1,[Assoc:1],'k'=[Assoc:1]>");
  KQSValue t = KRZTable::MakeValue(new KRZTable(KQSValue::List(KQSValue("x"))));
  KRZTable::FromValue(t)->InsertColumnAt(t, 1);
  EXPECT_EQ(Text(t), "V{<[RecArray:1],'x'>}");
  A(a).UndefinedValue(KQSValue()), A(a).Delete(KQSValue("k"));
  KRZTable::FromValue(t)->DeleteColumns(1, 2);
}

TEST(ValueNesting, AListAppendedToItselfHoldsItsOldElementsAndLeaksNothing) {
  NoNewStorage lists(kList);
  KQSValue l = KQSValue::List(KQSValue(1));
  l.ListAppendValue(l);
  KQSValue sub = l.ListSubrange(1, 2);
  l.ListPrependValue(sub);  // a List sharing the nodes
  EXPECT_EQ(Text(l), "{{1,{1}},1,{1}}");
}

TEST(ValueNesting, DeepValuesAreCappedWhereTheReadersStopAndFreedWithoutRecursion) {
  for (const bool assocs : {false, true}) {
    SCOPED_TRACE(assocs ? "Assocs" : "Lists");
    NoNewStorage storage(assocs ? kAssoc : kList);
    {
      KQSValue v(7);
      for (long i = 0; i < kDeep; ++i) v = assocs ? NewAssoc(v) : KQSValue::List(v);
      DebugCapture capture;
      const std::string text = Str(v.FormattedString());
      // The 513th level is written as Undefined, once reported.
      std::string open;
      for (int i = 0; i < 512; ++i) open += assocs ? "A<1," : "{";
      EXPECT_EQ(text, open + "?" + std::string(512, assocs ? '>' : '}'));
      EXPECT_EQ(capture.Texts().size(), 1u);
      EXPECT_EQ(Text(Parse(text)), text);  // what is written reads back
      KQSValue copy = v;
      EXPECT_TRUE(copy == v);  // compared without recursing past the cap
      if (!assocs) {
        const std::string bytes = Binary(v);
        std::istringstream in(bytes);
        EXPECT_EQ(Binary(KQSValue::ReadBinary(in, nullptr)), bytes);
        EXPECT_EQ(bytes.size(), 512u * 6 + 2);  // 512 List headers, then Undefined
      }
    }
  }
}

}  // namespace
