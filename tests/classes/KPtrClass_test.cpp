// The Ptr class: its registration and features as the type table gives
// them, the feature behaviour through the ordinary dispatch, the text form,
// box sharing and ownership, and the package's shut-down.
#include "vxkernel/classes/KPtrClass.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "classes/class_image_encoder.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/values/KQSValue.h"

namespace {

const KPtrClass* Ptr() { return dynamic_cast<const KPtrClass*>(KQSValue::NumberToClass(17)); }

std::string Text(const KQSValue& v) {
  return std::string(static_cast<const char*>(v.FormattedString()));
}

// New through the class-method dispatch, as a script calls it.
KQSValue New(long argc, KQSValue* argv) {
  KQSValue out;
  EXPECT_EQ(Ptr()->ClassDotInvoke(nullptr, KQSValue("New"), argc, argv, out, nullptr), 0);
  return out;
}

KQSValue Get(const KQSValue& p, const char* name) {
  KQSValue out;
  EXPECT_EQ(p.Dot(KQSValue(name), out, nullptr), 0) << name;
  return out;
}

TEST(KPtrClassTest, RegisteredAsProcessClass17WithItsFeatures) {
  const KPtrClass* ptr = Ptr();
  ASSERT_NE(ptr, nullptr);
  EXPECT_STREQ(ptr->ClassName(), "Ptr");
  EXPECT_EQ(KQSValue::NameToClass("ptr"), ptr);
  EXPECT_TRUE(KQSValue::IsObjectType(17));
  // Written out from the feature table: name, position, access, signature.
  EXPECT_EQ(Text(ptr->ClassMethodsValue()), "{{'New',0,1,'Ptr([Dynamic])'}}");
  EXPECT_EQ(Text(ptr->MethodsValue()), "{}");
  EXPECT_EQ(Text(ptr->ClassAttributesValue()), "{}");
  EXPECT_EQ(Text(ptr->AttributesValue()),
            "{{'Value',0,1,'Dynamic()'},{'Type',1,1,'Integer()'},{'Length',2,1,'Integer()'}}");
  EXPECT_EQ(Text(ptr->ConstantsValue()), "{{'PtrType',0,1,17}}");
  EXPECT_EQ(Text(const_cast<KPtrClass*>(ptr)->Features(nullptr)), "{'Value','Type','Length'}");
  // Running the definition again changes nothing.
  const_cast<KPtrClass*>(ptr)->CompleteClassDefinition();
  EXPECT_EQ(Text(ptr->AttributesValue()),
            "{{'Value',0,1,'Dynamic()'},{'Type',1,1,'Integer()'},{'Length',2,1,'Integer()'}}");
}

TEST(KPtrClassTest, ImageOfThePtrClassHasItsFeaturesWithoutFunctors) {
  classes_test::Image e;
  e.Header("Ptr", 17, 2, "").Zeros(2).I4(1).Feature(0, "New", "Ptr([Dynamic])").Zeros(2);
  e.I4(3).Feature(0, "Value", "Dynamic()").Feature(1, "Type", "Integer()");
  e.Feature(2, "Length", "Integer()");
  e.I4(1).Constant(0, "PtrType", "17");
  const KQSValue image = Ptr()->Export();
  ASSERT_EQ(image.Type(), -6);
  EXPECT_EQ(classes_test::BytesOf(image), e.b);

  KQSClassReflection copy;
  copy.Import(image);
  EXPECT_EQ(Text(copy.AttributesValue()), Text(Ptr()->AttributesValue()));
  ASSERT_NE(copy.NameToAttribute("Value"), nullptr);
  EXPECT_EQ(copy.NameToAttribute("Value")->GetFunctor(), nullptr);
  EXPECT_NE(Ptr()->NameToAttribute("Value")->GetFunctor(), nullptr);
}

TEST(KPtrClassTest, NewValueTypeAndLengthThroughDispatch) {
  DebugCapture capture;
  KQSValue arg("abc");
  const KQSValue p = New(1, &arg);
  ASSERT_EQ(p.Type(), 17);
  EXPECT_EQ(p.Class(), Ptr());
  EXPECT_EQ(Text(Get(p, "Value")), "'abc'");
  EXPECT_EQ(Text(Get(p, "Type")), "-1");
  EXPECT_EQ(Text(Get(p, "Length")), "3");
  EXPECT_EQ(Text(Get(p, "type")), "-1");  // names without regard to case

  EXPECT_EQ(p.DotValuePut(KQSValue("Value"), KQSValue::List(KQSValue(1), KQSValue(2))), 0);
  EXPECT_EQ(Text(Get(p, "Value")), "{1,2}");
  EXPECT_EQ(Text(Get(p, "Type")), "-2");
  EXPECT_EQ(Text(Get(p, "Length")), "2");

  const KQSValue empty = New(0, nullptr);
  EXPECT_EQ(Text(Get(empty, "Value")), "?");
  EXPECT_EQ(Text(Get(empty, "Type")), "0");
  EXPECT_EQ(Ptr()->NameToConstant("PtrType")->Value().Type(), 2);
  EXPECT_EQ(static_cast<long>(Ptr()->NameToConstant("PtrType")->Value()), 17);
  EXPECT_EQ(capture.All(), "");

  // Too many arguments for New's signature.
  KQSValue two[2] = {KQSValue(1), KQSValue(2)};
  KQSValue out;
  EXPECT_EQ(Ptr()->ClassDotInvoke(nullptr, KQSValue("New"), 2, two, out, nullptr), 0x26AD0017);
}

TEST(KPtrClassTest, TypeAndLengthAreReadOnly) {
  KQSValue arg(12345);
  const KQSValue p = New(1, &arg);
  DebugCapture capture;
  EXPECT_EQ(p.DotValuePut(KQSValue("Type"), KQSValue(-1)), 0);
  EXPECT_EQ(p.DotValuePut(KQSValue("Length"), KQSValue(99)), 0);
  EXPECT_EQ(capture.All(), "Ptr_Type is r/o\nPtr_Length is r/o\n");
  EXPECT_EQ(Text(Get(p, "Value")), "12345");
  EXPECT_EQ(Text(Get(p, "Type")), "2");
}

TEST(KPtrClassTest, TextFormNamesTheHeldClassAndCopiesShareTheBox) {
  KDateTime when;
  when.SetDate(2001, 2, 3, 4, 5, 6, 0);
  KQSValue arg(when);
  const KQSValue p = New(1, &arg);
  EXPECT_EQ(Text(p), "Ptr(Date)");
  std::ostringstream s;
  s << Ptr()->NewPtr(KQSValue()) << ' ' << Ptr()->NewPtr(KQSValue::Boolean(1));
  EXPECT_EQ(s.str(), "Ptr(Undefined) Ptr(Boolean)");

  const KQSValue copy = p;
  EXPECT_EQ(copy.DotValuePut(KQSValue("Value"), KQSValue("changed")), 0);
  EXPECT_EQ(Text(p), "Ptr(String)");
  EXPECT_EQ(Text(Get(p, "Value")), "'changed'");
  // Equal exactly when the box is the same.
  EXPECT_TRUE(copy == p);
  const KQSValue other = Ptr()->NewPtr(KQSValue("changed"));
  EXPECT_FALSE(other == p);
  EXPECT_NE(other.Compare(p, 0), 0);
  EXPECT_EQ(other.Compare(p, 0), -p.Compare(other, 0));
}

TEST(KPtrClassTest, AValueWithoutABoxReadsUndefinedAndRefusesWrites) {
  const KQSValue bare(Ptr(), nullptr);
  DebugCapture capture;
  EXPECT_EQ(Text(bare), "Ptr()");
  EXPECT_EQ(Text(Get(bare, "Value")), "?");
  EXPECT_EQ(bare.DotValuePut(KQSValue("Value"), KQSValue(1)), 0x26AD0018);
  EXPECT_EQ(capture.All(),
            "KPtrClass::Ptr_Value...Ptr value without a box\n"
            "KPtrClass::Ptr_Value...Ptr value without a box\n");
}

TEST(KPtrClassTest, TheClassOwnsItsBoxes) {
  // A class of its own, so the count is only this test's boxes.
  KPtrClass own;
  own.CompleteClassDefinition();
  std::vector<KQSValue> kept;
  for (int i = 0; i < 5; ++i)
    kept.push_back(own.NewPtr(KQSValue(KString(std::to_string(i).c_str()))));
  // A box holding its own Ptr value is freed once all the same.
  EXPECT_EQ(kept[0].DotValuePut(KQSValue("Value"), kept[0]), 0);
  kept.clear();  // values never free boxes
  EXPECT_EQ(own.ReleaseBoxes(), 5);
  EXPECT_EQ(own.ReleaseBoxes(), 0);
  own.NewPtr(KQSValue("left for the destructor"));
}

TEST(KPtrClassTest, BoxesMadeOnManyThreadsAreAllKept) {
  KPtrClass own;
  own.CompleteClassDefinition();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&own, t] {
      KAt::ThreadStartup();
      for (int i = 0; i < 500; ++i) {
        const KQSValue p = own.NewPtr(KQSValue(t * 1000 + i));
        if (static_cast<long>(p.DotValueGet(KQSValue("Value"), nullptr)) != t * 1000 + i)
          std::abort();
      }
      KAt::ThreadShutdown();
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(own.ReleaseBoxes(), 2000);
}

TEST(KPtrClassTest, ProcessShutdownFreesTheBoxes) {
  // Shutting the process down is once per process: a child.
  ChildResult r = RunInChild([](std::string& out) {
    const_cast<KPtrClass*>(Ptr())->ReleaseBoxes();  // the earlier tests' boxes
    const long before = KQSValue::ObjCount(-1);
    for (int i = 0; i < 3; ++i) Ptr()->NewPtr(KQSValue(KString("held text")));
    out += "held: " + std::to_string(KQSValue::ObjCount(-1) - before);
    KAt::ProcessShutdown(1);
    out += " after shut-down: " + std::to_string(KQSValue::ObjCount(-1) - before);
    out += std::string(" still registered: ") + (Ptr() != nullptr ? "yes" : "no");
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "held: 3 after shut-down: 0 still registered: yes");
}

}  // namespace
