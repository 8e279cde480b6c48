// The Ptr class: its features and image, its behaviour through the dispatch,
// the text form, box sharing and ownership, and the package's shut-down.
#include "vxkernel/classes/KPtrClass.h"

#include <cstdlib>

#include "classes/class_test_support.h"
#include "support/child_process.h"
#include "vxkernel/values/KAssocVal.h"

namespace {

using namespace classes_test;

const KPtrClass* Ptr() { return dynamic_cast<const KPtrClass*>(KQSValue::NumberToClass(17)); }

// New through the class-method dispatch, as a script calls it.
KQSValue New(long argc, KQSValue* argv, long status = 0) {
  KQSValue out;
  EXPECT_EQ(Ptr()->ClassDotInvoke(nullptr, KQSValue("New"), argc, argv, out, nullptr), status);
  return out;
}
std::string Get(const KQSValue& p, const char* name) { return Streamed(p.DotValueGet(KQSValue(name), nullptr)); }

// Type and Length are read-only; the text form names the held class; copies
// share the box, and values are equal exactly when the box is the same.
TEST(KPtrClassTest, ImageFeaturesTextFormAndSharedBoxes) {
  Image e;
  e.Header("Ptr", 17, 2, "").Zeros(2).I4(1).Feature(0, "New", "Ptr([Dynamic])").Zeros(2);
  e.I4(3).Feature(0, "Value", "Dynamic()").Feature(1, "Type", "Integer()").Feature(2, "Length", "Integer()");
  EXPECT_EQ(BytesOf(Ptr()->Export()), e.I4(1).Constant(0, "PtrType", "17").b);
  KQSValue arg("abc"), two[2] = {KQSValue(1), KQSValue(2)};
  const KQSValue p = New(1, &arg), copy = p, bare(Ptr(), nullptr);
  const std::string kNoBox = "KPtrClass::Ptr_Value...Ptr value without a box\n";
  ExpectDebug({"Ptr_Type is r/o\n", "Ptr_Length is r/o\n", kNoBox, kNoBox}, [&] {
    EXPECT_EQ(Get(p, "Value"), "'abc'");
    EXPECT_EQ(Get(p, "type"), "-1");
    EXPECT_EQ(Get(p, "Length"), "3");
    EXPECT_EQ(Streamed(p), "Ptr(String)");
    EXPECT_EQ(copy.DotValuePut(KQSValue("Value"), KQSValue::List(two[0], two[1])), 0);
    EXPECT_EQ(p.DotValuePut(KQSValue("Type"), KQSValue(-1)), 0);
    EXPECT_EQ(p.DotValuePut(KQSValue("Length"), KQSValue(99)), 0);
    EXPECT_EQ(Get(p, "Value"), "{1,2}");
    EXPECT_EQ(Get(p, "Type"), "-2");
    EXPECT_EQ(Get(p, "Length"), "2");
    EXPECT_EQ(Streamed(p), "Ptr(List)");
    EXPECT_EQ(Get(New(0, nullptr), "Value"), "?");
    EXPECT_EQ(Get(New(0, nullptr), "Type"), "0");
    EXPECT_EQ(Streamed(New(0, nullptr)), "Ptr(Undefined)");
    EXPECT_EQ(Streamed(bare), "Ptr()");
    EXPECT_EQ(Get(bare, "Value"), "?");
    EXPECT_EQ(bare.DotValuePut(KQSValue("Value"), KQSValue(1)), 0x26AD0018);
  });
  New(2, two, 0x26AD0017);  // too many arguments for the signature
  const KQSValue other = Ptr()->NewPtr(KQSValue::List(two[0], two[1]));
  EXPECT_TRUE(copy == p);
  EXPECT_FALSE(other == p);
  // Ptr values have no order of their own: -1 both ways, yet they key an Assoc.
  EXPECT_EQ(other.Compare(p, 0), -1);
  EXPECT_EQ(p.Compare(other, 0), -1);
  KAssocVal keyed;
  keyed.Add(p, KQSValue(1));
  keyed.Add(other, KQSValue(2));
  KQSValue found;
  EXPECT_TRUE(keyed.Get(copy, found));
  EXPECT_EQ(static_cast<long>(found), 1);
  EXPECT_TRUE(keyed.Get(other, found));
  EXPECT_EQ(static_cast<long>(found), 2);
  KPtrClass twice;  // each definition appends its features
  twice.CompleteClassDefinition();
  twice.CompleteClassDefinition();
  EXPECT_EQ(twice.ClassMethods().size(), 2u);
  EXPECT_EQ(twice.Attributes().size(), 6u);
}

TEST(KPtrClassTest, TheClassOwnsTheBoxesMadeOnAnyThread) {
  KPtrClass own;  // a class of its own, so the count is only this test's boxes
  own.CompleteClassDefinition();
  KQSValue self = own.NewPtr(KQSValue(1));
  EXPECT_EQ(self.DotValuePut(KQSValue("Value"), self), 0);  // a box holding its own value is freed all the same
  OnThreads(4, [&own](int t) {
    for (int i = 0; i < 300; ++i)
      if (static_cast<long>(own.NewPtr(KQSValue(t * 1000 + i)).DotValueGet(KQSValue("Value"), nullptr)) != t * 1000 + i)
        std::abort();
  });
  self = KQSValue();  // values never free boxes
  EXPECT_EQ(own.ReleaseBoxes(), 1201);
  EXPECT_EQ(own.ReleaseBoxes(), 0);
  own.NewPtr(KQSValue("left for the destructor"));
}

TEST(KPtrClassTest, ProcessShutdownFreesTheBoxes) {
  ChildResult r = RunInChild([](std::string& out) {  // shutting down is once per process
    const_cast<KPtrClass*>(Ptr())->ReleaseBoxes();  // the earlier tests' boxes
    const long before = KQSValue::ObjCount(-1);
    for (int i = 0; i < 3; ++i) Ptr()->NewPtr(KQSValue(KString("held text")));
    Transcript t(out);
    t.Line("held ", KQSValue::ObjCount(-1) - before);
    KAt::ProcessShutdown(1);
    t.Line("after ", KQSValue::ObjCount(-1) - before, " registered ", Ptr() != nullptr);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "held 3\nafter 0 registered 1\n");
}

}  // namespace
