// Values a caller can build but no reader or writer may recurse into without
// end: containers that hold themselves, and nesting far past the 512 levels
// the readers accept. Every such value is written, read back and freed
// without overflowing the stack; the class counters show nothing leaks.
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

using valtest::Binary;
using valtest::kAssoc;
using valtest::kList;
using valtest::NewAssoc;
using valtest::NoNewStorage;
using valtest::Text;

constexpr long kDeep = 100000;  // enough to overflow any recursive walk

KAssocVal* AssocOf(const KQSValue& v) { return &valtest::A(v); }

KQSValue FromBinary(const std::string& bytes) {
  std::istringstream in(bytes);
  return KQSValue::ReadBinary(in, nullptr);
}

// The text form of a List nested depth levels around 7.
std::string NestedText(long depth, const char* inner) {
  return std::string(static_cast<size_t>(depth), '{') + inner + std::string(static_cast<size_t>(depth), '}');
}

TEST(ValueNesting, ContainersHoldingThemselvesAreWrittenAsBackReferences) {
  // Through the undefined value and the column names, which are written with
  // a fresh formatter each.
  KQSValue a = NewAssoc();
  AssocOf(a)->UndefinedValue(a);
  AssocOf(a)->Add(KQSValue("k"), a);
  EXPECT_EQ(Text(a), "A<1,[Assoc:1],'k'=[Assoc:1]>");
  KQSValue t = KRZTable::MakeValue(new KRZTable(KQSValue::List(KQSValue("x"))));
  KRZTable::FromValue(t)->InsertColumnAt(t, 1);
  EXPECT_EQ(Text(t), "V{<[RecArray:1],'x'>}");
  // The cycles are the caller's to break, as for any shared container.
  AssocOf(a)->UndefinedValue(KQSValue());
  AssocOf(a)->Delete(KQSValue("k"));
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
      const std::string text = valtest::Str(v.FormattedString());
      // The 513th level is written as Undefined, once reported.
      const std::string expected = assocs ? [] {
            std::string s;
            for (int i = 0; i < 512; ++i) s += "A<1,";
            return s + "?" + std::string(512, '>');
          }()
                 : NestedText(512, "?");
      EXPECT_EQ(text, expected);
      EXPECT_EQ(capture.Texts().size(), 1u);
      EXPECT_EQ(Text(valtest::Parse(text)), text);  // what is written reads back
      KQSValue copy = v;
      EXPECT_TRUE(copy == v);  // compared without recursing past the cap
      if (!assocs) {
        const std::string bytes = Binary(v);
        EXPECT_EQ(Binary(FromBinary(bytes)), bytes);
        EXPECT_EQ(bytes.size(), 512u * 6 + 2);  // 512 List headers, then Undefined
      }
    }
  }
}

}  // namespace
