// The class object on its own: construction, identity setters, the base
// behaviour of the virtual interface, the text tags and the debug lines of
// the operations that a real class must override.
#include "vxkernel/classes/KQSClass.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "classes/class_test_support.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/classes/KQSClassPointer.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/classes/KQSValueBaseClass.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"

namespace {

using classes_test::Keep;
using classes_test::Lines;
using classes_test::TestClass;

void* Word(uintptr_t w) { return reinterpret_cast<void*>(w); }

TEST(KQSClassTest, ConstructionDefaultsAndFlags) {
  TestClass c;
  EXPECT_EQ(c.ClassNumber(), 28671);
  EXPECT_STREQ(c.ClassName(), "");
  EXPECT_FALSE(c.IsPointer() || c.CanSubscript() || c.CanInvoke() || c.CanPrototype() ||
               c.IsInstalled() || c.ImplReflectionOnly());
  EXPECT_EQ(c.CanDot(), 0);
  EXPECT_EQ(c.ImplType(), 2);
  EXPECT_EQ(c.ImplLength(), 0);
  EXPECT_EQ(c.ImplBytes(), nullptr);
  EXPECT_FALSE(c.HasClassMethods() || c.HasMethods() || c.HasClassAttributes() ||
               c.HasAttributes() || c.HasConstants());

  KQSClassPointer p("Pointerish", 60);
  EXPECT_TRUE(p.IsPointer());
  EXPECT_FALSE(p.ImplReflectionOnly());
  EXPECT_EQ(p.ObjCount() + p.RefCount() + p.RefTotal(), 0);
  EXPECT_TRUE(KQSClassPointer().IsPointer());
  KQSClassReflection r;
  EXPECT_TRUE(r.ImplReflectionOnly());
  EXPECT_TRUE(r.IsPointer());
  EXPECT_EQ(r.ClassNumber(), 28671);
}

TEST(KQSClassTest, NameAndImageAreTheClasssOwnCopies) {
  char name[] = "Widget";
  TestClass c(name, 40);
  name[0] = 'X';
  EXPECT_STREQ(c.ClassName(), "Widget");
  char second[] = "Second";
  c.ClassName(second);
  second[0] = 'X';
  EXPECT_STREQ(c.ClassName(), "Second");
  c.ClassName("A much longer third name than the ones before");
  EXPECT_STREQ(c.ClassName(), "A much longer third name than the ones before");

  unsigned char bytes[] = {0x00, 'a', 0x00, 0xFF, 'b'};
  c.ImplPut(5, sizeof bytes, bytes);
  bytes[1] = 'z';
  const unsigned char expected[] = {0x00, 'a', 0x00, 0xFF, 'b'};
  ASSERT_NE(c.ImplBytes(), nullptr);
  EXPECT_EQ(c.ImplType(), 5);
  EXPECT_EQ(c.ImplLength(), 5);
  EXPECT_EQ(std::memcmp(c.ImplBytes(), expected, sizeof expected), 0);
  c.ImplPut(0, 2, "xy");
  EXPECT_EQ(c.ImplLength(), 2);
  EXPECT_EQ(std::memcmp(c.ImplBytes(), "xy", 2), 0);
  c.ImplPut(3, 0, nullptr);  // an empty image needs no bytes
  EXPECT_EQ(c.ImplType(), 3);
  EXPECT_EQ(c.ImplLength(), 0);
}

TEST(KQSClassTest, BaseVirtualResults) {
  DebugCapture capture;
  TestClass c("Plain", 28671);
  KQSValue out(5);
  KQSClassCracker cracker;
  std::istringstream in("anything");
  EXPECT_STREQ(static_cast<const char*>(c.ImplDesc()), "Builtin KQSClass implementation");
  EXPECT_TRUE(c.CoerceToBoolean(Word(0)));
  EXPECT_TRUE(c.CoerceToBoolean(Word(1)));
  EXPECT_FALSE(c.CoerceTo(Word(1), 2, out));
  EXPECT_EQ(c.Length(Word(1)), -1);
  EXPECT_EQ(c.Compare(Word(1), Word(1), false), -1);
  EXPECT_EQ(c.Equal(Word(1), Word(1)), 0);
  EXPECT_EQ(c.Subscript(Word(1), 1, 1, out), -1);
  EXPECT_EQ(c.SubscriptValuePut(Word(1), 1, 1, KQSValue(3)), -1);
  EXPECT_EQ(c.Invoke(Word(1), 0, nullptr, out), -1);
  EXPECT_FALSE(c.FormattedInput(in, out, &cracker));
  c.CompleteClassDefinition();
  c.AddReference(Word(1));  // immediate classes keep no references
  c.ReleaseReference(Word(1));
  EXPECT_EQ(capture.Texts(), Lines{});
}

// Compare answers as told and records what it was handed, to see Equal go
// through the virtual Compare with the flag off.
class SameClass : public TestClass {
 public:
  SameClass() : TestClass("Same", 28671) {}
  int Compare(void* a, void* b, bool ignoreCase) const override {
    fA = a;
    fB = b;
    fFlag = ignoreCase;
    return fAnswer;
  }
  std::ostream& FormattedOutput(void*, std::ostream& out, KQSClassFormatter*) const override {
    return out << "own text";
  }
  mutable void* fA = nullptr;
  mutable void* fB = nullptr;
  mutable bool fFlag = true;
  int fAnswer = 0;
};

TEST(KQSClassTest, EqualAsksCompareWithoutTheFlag) {
  SameClass c;
  EXPECT_EQ(c.Equal(Word(0x10), Word(0x20)), 1);
  EXPECT_EQ(c.fA, Word(0x10));
  EXPECT_EQ(c.fB, Word(0x20));
  EXPECT_FALSE(c.fFlag);
  c.fAnswer = 1;
  EXPECT_EQ(c.Equal(Word(0x10), Word(0x20)), 0);
  c.fAnswer = -3;
  EXPECT_EQ(c.Equal(Word(0x10), Word(0x20)), 0);
}

TEST(KQSClassTest, TextFormsAndXMLTags) {
  TestClass c("Thing", 28671);
  KQSClassFormatter formatter;
  std::ostringstream out, display, ownDisplay;
  c.FormattedOutput(Word(0x1a2b), out, &formatter);
  EXPECT_EQ(out.str(), "|Thing=0x1a2b|");
  // The display form is the text form, through the virtual call.
  c.DisplayOutput(Word(0xbeef), display, &formatter);
  EXPECT_EQ(display.str(), "|Thing=0xbeef|");
  SameClass own;
  own.DisplayOutput(Word(1), ownDisplay, &formatter);
  EXPECT_EQ(ownDisplay.str(), "own text");

  EXPECT_STREQ(static_cast<const char*>(c.FormatXMLV1OpenTag(KString())), "<VX:Thing>");
  EXPECT_STREQ(static_cast<const char*>(c.FormatXMLV1OpenTag(KString("a=\"1\" b=\"2\""))),
               "<VX:Thing a=\"1\" b=\"2\">");
  EXPECT_STREQ(static_cast<const char*>(c.FormatXMLV1CloseTag()), "</VX:Thing>");
}

TEST(KQSClassTest, BinaryFormsAndDeepCopyMustBeImplementedByRealClasses) {
  TestClass c("NoBinary", 28671);
  KQSClassFormatter formatter;
  KQSClassCracker cracker;
  DebugCapture capture;
  std::ostringstream out;
  c.BinaryOutput(Word(7), out, &formatter);
  EXPECT_EQ(out.str(), "");
  std::istringstream in(std::string("\x02\x00\x01\x00\x00\x00", 6));
  EXPECT_TRUE(c.BinaryInput(in, &cracker).IsUndefined());
  EXPECT_TRUE(c.DeepSafeCopy(Word(3)).IsUndefined());
  EXPECT_EQ(capture.Texts(),
            (Lines{"KQSClass::BinaryOutput() Must be implemented...class=NoBinary\n",
                   "KQSClass::BinaryInput() Must be implemented...class=NoBinary\n",
                   "KQSClass::DeepSafeCopy() NYI\n"}));
}

TEST(KQSClassTest, AbstractReferenceKeepingOnlyComplains) {
  int storage = 0;  // never to be touched
  KQSClassPointer p("Abstract", 28671);
  KQSClassReflection r;
  r.ClassName("Reflected");
  DebugCapture capture;
  p.AddReference(&storage);
  p.ReleaseReference(&storage);
  r.AddReference(&storage);
  r.ReleaseReference(&storage);
  EXPECT_EQ(
      capture.Texts(),
      (Lines{"KQSClassPointer::AddReference() should never be called...abstract...class=Abstract\n",
             "KQSClassPointer::ReleaseReference() should never be "
             "called...abstract...class=Abstract\n",
             "KQSClassReflection::AddReference() should never be called\n",
             "KQSClassReflection::ReleaseReference() should never be called\n"}));
  EXPECT_EQ(storage, 0);
  EXPECT_EQ(p.ObjCount() + p.RefCount() + p.RefTotal(), 0);
}

TEST(KQSClassTest, DestructorReportsHoldersAndInstallation) {
  const std::string held = " ) non-zero reference count\n";
  const std::string installed = " ) deleting installed class!!! Shouldn't happen.\n";
  struct Case {
    const char* name;
    int holders;  // left after two adds
    bool install;
    Lines expected;
  } cases[] = {
      {"Quiet", 0, false, {}},
      {"Held", 1, false, {"KQSClass::~KQSClass( Held" + held}},
      {"Doomed", 0, true, {"KQSClass::~KQSClass( Doomed" + installed}},
      {"Both",
       1,
       true,
       {"KQSClass::~KQSClass( Both" + held, "KQSClass::~KQSClass( Both" + installed}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    auto* c = new TestClass(k.name, 900);
    if (k.install) {
      // The environment goes first; the installed mark stays with the class.
      auto* environment = new KOPPEnvironment();
      ASSERT_TRUE(environment->AddClass(c));
      delete environment;
      EXPECT_TRUE(c->IsInstalled());
    }
    c->HolderAdd();
    c->HolderAdd();
    for (int i = k.holders; i < 2; ++i) c->HolderRelease();
    EXPECT_EQ(c->HolderCount(), k.holders);
    DebugCapture capture;
    delete c;
    EXPECT_EQ(capture.Texts(), k.expected);
  }
}

TEST(KQSClassTest, BaseClassLoaderFindsNothing) {
  KOPPClassLoader loader;
  KQSValue v;
  KString s("kept");
  EXPECT_FALSE(loader.Enable());
  EXPECT_FALSE(loader.Disable());
  EXPECT_EQ(loader.LoadClassByName("Anything"), nullptr);
  EXPECT_FALSE(loader.LoadXLateModule("Anything", v));
  EXPECT_FALSE(loader.LoadSource("Anything", s));
}

TEST(KQSClassCountersTest, ValuesCountReferencesAndStorage) {
  KQSValueBaseClass* counted = Keep(new KQSValueBaseClass("Counted", KQSClass::kNoClassNumber));
  auto* storage = new KQSValueBase();
  auto expect = [counted](long objects, long refs, long total) {
    EXPECT_EQ(counted->ObjCount(), objects);
    EXPECT_EQ(counted->RefCount(), refs);
    EXPECT_EQ(counted->RefTotal(), total);
  };
  {
    KQSValue first(counted, storage);
    EXPECT_EQ(storage->References(), 1);
    expect(1, 1, 1);
    {
      KQSValue second(first);
      KQSValue third;
      third = second;
      EXPECT_EQ(storage->References(), 3);
      expect(1, 3, 3);
    }
    EXPECT_EQ(storage->References(), 1);
    expect(1, 1, 3);
    KQSValue other(counted, new KQSValueBase());
    expect(2, 2, 4);
  }
  // The last release destroyed both storage objects (the leak checker
  // watches that); the total keeps every reference ever taken.
  expect(0, 0, 4);
  { KQSValue empty(counted, nullptr); }  // no storage to count
  expect(0, 0, 4);
}

TEST(KQSClassFormatterTest, LookupFindsTheTopmostIdenticalValue) {
  KQSValue a("text");
  KQSValue b("text");  // equal to a but other storage
  KQSValue five(5);
  KQSClassFormatter f;
  EXPECT_EQ(f.Lookup(a), 0);
  f.Pop();  // nothing to pop
  f.Push(a);
  f.Push(five);
  f.Push(a);
  EXPECT_EQ(f.Lookup(a), 3);
  EXPECT_EQ(f.Lookup(KQSValue(a)), 3);  // a copy is the same storage
  EXPECT_EQ(f.Lookup(five), 2);
  EXPECT_EQ(f.Lookup(KQSValue(5)), 2);  // an immediate is its word
  EXPECT_EQ(f.Lookup(KQSValue(6)), 0);
  EXPECT_EQ(f.Lookup(b), 0);
  f.Pop();
  EXPECT_EQ(f.Lookup(a), 1);
}

TEST(KQSClassFormatterTest, HoldsCopiesUntilPoppedOrDestroyed) {
  KQSValue s("shared");
  ASSERT_NE(s.User(), nullptr);
  {
    KQSClassFormatter f;
    f.Push(s);
    f.Push(s);
    EXPECT_EQ(s.User()->References(), 3);
    f.Pop();
    EXPECT_EQ(s.User()->References(), 2);
  }
  EXPECT_EQ(s.User()->References(), 1);
}

}  // namespace
