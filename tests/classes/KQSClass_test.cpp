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
#include "vxkernel/classes/KQSValueBaseClass.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"

namespace {

using classes_test::Keep;
using classes_test::Lines;
using classes_test::TestClass;

void* Word(uintptr_t w) { return reinterpret_cast<void*>(w); }

TEST(KQSClassTest, DefaultConstructionHasNoIdentityAndNoCapabilities) {
  TestClass c;
  EXPECT_EQ(c.ClassNumber(), 28671);
  EXPECT_EQ(KQSClass::kNoClassNumber, 28671);
  EXPECT_STREQ(c.ClassName(), "");
  EXPECT_FALSE(c.IsPointer());
  EXPECT_FALSE(c.CanSubscript());
  EXPECT_FALSE(c.CanInvoke());
  EXPECT_FALSE(c.CanPrototype());
  EXPECT_EQ(c.CanDot(), 0);
  EXPECT_FALSE(c.IsInstalled());
  EXPECT_FALSE(c.ImplReflectionOnly());
  EXPECT_EQ(c.ImplType(), 2);
  EXPECT_EQ(c.ImplLength(), 0);
  EXPECT_EQ(c.ImplBytes(), nullptr);
  EXPECT_EQ(c.HolderCount(), 0);
  EXPECT_TRUE(c.Extends().empty());
  EXPECT_TRUE(c.ExtendsClasses().empty());
  EXPECT_TRUE(c.Implements().empty());
  EXPECT_TRUE(c.ImplementsClasses().empty());
  EXPECT_TRUE(c.ClassMethods().empty());
  EXPECT_TRUE(c.ClassAttributes().empty());
  EXPECT_TRUE(c.Methods().empty());
  EXPECT_TRUE(c.Attributes().empty());
  EXPECT_TRUE(c.Constants().empty());
  EXPECT_FALSE(c.HasClassMethods() || c.HasMethods() || c.HasClassAttributes() ||
               c.HasAttributes() || c.HasConstants());
}

TEST(KQSClassTest, NamedConstructionCopiesTheNameAndKeepsTheOtherDefaults) {
  char name[] = "Widget";
  TestClass c(name, 40);
  name[0] = 'X';  // the class holds its own copy
  EXPECT_STREQ(c.ClassName(), "Widget");
  EXPECT_NE(c.ClassName(), name);
  EXPECT_EQ(c.ClassNumber(), 40);
  EXPECT_EQ(c.ImplType(), 2);
  EXPECT_EQ(c.ImplLength(), 0);
  EXPECT_FALSE(c.IsPointer());
  EXPECT_FALSE(c.IsInstalled());
}

TEST(KQSClassTest, NameSetterReplacesTheCopy) {
  TestClass c("First", 50);
  char name[] = "Second";
  c.ClassName(name);
  name[0] = 'X';
  EXPECT_STREQ(c.ClassName(), "Second");
  c.ClassName("A much longer third name than the ones before");
  EXPECT_STREQ(c.ClassName(), "A much longer third name than the ones before");
  c.ClassNumber(-7);
  EXPECT_EQ(c.ClassNumber(), -7);
}

TEST(KQSClassTest, ImplPutCopiesEveryByteIncludingZeros) {
  TestClass c("Impl", 28671);
  unsigned char bytes[] = {0x00, 'a', 0x00, 0xFF, 'b'};
  c.ImplPut(5, sizeof bytes, bytes);
  bytes[1] = 'z';  // the class keeps a copy, not the caller's buffer
  ASSERT_NE(c.ImplBytes(), nullptr);
  EXPECT_NE(c.ImplBytes(), static_cast<const void*>(bytes));
  EXPECT_EQ(c.ImplType(), 5);
  EXPECT_EQ(c.ImplLength(), 5);
  const unsigned char expected[] = {0x00, 'a', 0x00, 0xFF, 'b'};
  EXPECT_EQ(std::memcmp(c.ImplBytes(), expected, sizeof expected), 0);

  const char shorter[] = {'x', 'y'};
  c.ImplPut(0, sizeof shorter, shorter);
  EXPECT_EQ(c.ImplType(), 0);
  EXPECT_EQ(c.ImplLength(), 2);
  EXPECT_EQ(std::memcmp(c.ImplBytes(), shorter, sizeof shorter), 0);

  // An empty image needs no bytes.
  c.ImplPut(3, 0, nullptr);
  EXPECT_EQ(c.ImplType(), 3);
  EXPECT_EQ(c.ImplLength(), 0);
}

TEST(KQSClassTest, PointerAndReflectionConstructorsSetTheirFlags) {
  KQSClassPointer p("Pointerish", 60);
  EXPECT_TRUE(p.IsPointer());
  EXPECT_FALSE(p.ImplReflectionOnly());
  EXPECT_STREQ(p.ClassName(), "Pointerish");
  EXPECT_EQ(p.ClassNumber(), 60);
  EXPECT_EQ(p.ObjCount(), 0);
  EXPECT_EQ(p.RefCount(), 0);
  EXPECT_EQ(p.RefTotal(), 0);

  KQSClassPointer unnamed;
  EXPECT_TRUE(unnamed.IsPointer());
  EXPECT_EQ(unnamed.ClassNumber(), 28671);

  KQSClassReflection r;
  EXPECT_TRUE(r.ImplReflectionOnly());
  EXPECT_TRUE(r.IsPointer());
  EXPECT_EQ(r.ClassNumber(), 28671);
  EXPECT_STREQ(r.ClassName(), "");
  EXPECT_EQ(r.ImplType(), 2);
  r.ClassName("Proto");
  r.ClassNumber(77);
  const char image[] = {1, 2, 3};
  r.ImplPut(4, sizeof image, image);
  EXPECT_STREQ(r.ClassName(), "Proto");
  EXPECT_EQ(r.ClassNumber(), 77);
  EXPECT_EQ(r.ImplType(), 4);
  EXPECT_EQ(r.ImplLength(), 3);
  EXPECT_EQ(std::memcmp(r.ImplBytes(), image, sizeof image), 0);
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
  c.CompleteClassDefinition();  // nothing for the base
  // Immediate classes keep no references.
  c.AddReference(Word(1));
  c.ReleaseReference(Word(1));
  EXPECT_EQ(capture.Texts(), Lines{});
}

// Compare answers 0 and records what it was handed, to see Equal go
// through the virtual Compare with the flag off.
class SameClass : public TestClass {
 public:
  SameClass() : TestClass("Same", 28671) {}
  int Compare(void* a, void* b, bool ignoreCase) const override {
    fA = a;
    fB = b;
    fFlag = ignoreCase;
    ++fCalls;
    return fAnswer;
  }
  std::ostream& FormattedOutput(void*, std::ostream& out, KQSClassFormatter*) const override {
    return out << "own text";
  }
  mutable void* fA = nullptr;
  mutable void* fB = nullptr;
  mutable bool fFlag = true;
  mutable int fCalls = 0;
  int fAnswer = 0;
};

TEST(KQSClassTest, EqualAsksCompareWithoutTheFlag) {
  SameClass c;
  EXPECT_EQ(c.Equal(Word(0x10), Word(0x20)), 1);
  EXPECT_EQ(c.fCalls, 1);
  EXPECT_EQ(c.fA, Word(0x10));
  EXPECT_EQ(c.fB, Word(0x20));
  EXPECT_FALSE(c.fFlag);
  c.fAnswer = 1;
  EXPECT_EQ(c.Equal(Word(0x10), Word(0x20)), 0);
  c.fAnswer = -3;
  EXPECT_EQ(c.Equal(Word(0x10), Word(0x20)), 0);
}

TEST(KQSClassTest, FormattedOutputWritesNameAndDataWordBetweenBars) {
  TestClass c("Thing", 28671);
  KQSClassFormatter formatter;
  std::ostringstream out;
  c.FormattedOutput(Word(0x1a2b), out, &formatter);
  EXPECT_EQ(out.str(), "|Thing=0x1a2b|");

  // The display form is the text form, through the virtual call.
  std::ostringstream display;
  c.DisplayOutput(Word(0xbeef), display, &formatter);
  EXPECT_EQ(display.str(), "|Thing=0xbeef|");
  SameClass own;
  std::ostringstream ownDisplay;
  own.DisplayOutput(Word(1), ownDisplay, &formatter);
  EXPECT_EQ(ownDisplay.str(), "own text");
}

TEST(KQSClassTest, XMLTagsCarryTheClassNameAndOptionalAttributes) {
  TestClass c("Widget", 28671);
  EXPECT_STREQ(static_cast<const char*>(c.FormatXMLV1OpenTag(KString())), "<VX:Widget>");
  EXPECT_STREQ(static_cast<const char*>(c.FormatXMLV1OpenTag(KString("a=\"1\" b=\"2\""))),
               "<VX:Widget a=\"1\" b=\"2\">");
  EXPECT_STREQ(static_cast<const char*>(c.FormatXMLV1CloseTag()), "</VX:Widget>");
}

TEST(KQSClassTest, BinaryFormsMustBeImplementedByRealClasses) {
  TestClass c("NoBinary", 28671);
  KQSClassFormatter formatter;
  KQSClassCracker cracker;
  DebugCapture capture;
  std::ostringstream out;
  c.BinaryOutput(Word(7), out, &formatter);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(capture.Texts(),
            Lines{"KQSClass::BinaryOutput() Must be implemented...class=NoBinary\n"});

  capture.Clear();
  std::istringstream in(std::string("\x02\x00\x01\x00\x00\x00", 6));
  KQSValue v = c.BinaryInput(in, &cracker);
  EXPECT_TRUE(v.IsUndefined());
  EXPECT_EQ(capture.Texts(),
            Lines{"KQSClass::BinaryInput() Must be implemented...class=NoBinary\n"});
}

TEST(KQSClassTest, DeepSafeCopyIsNotProvidedByTheBase) {
  TestClass c("NoCopy", 28671);
  DebugCapture capture;
  KQSValue v = c.DeepSafeCopy(Word(3));
  EXPECT_TRUE(v.IsUndefined());
  EXPECT_EQ(capture.Texts(), Lines{"KQSClass::DeepSafeCopy() NYI\n"});
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
  EXPECT_EQ(p.ObjCount(), 0);
  EXPECT_EQ(p.RefCount(), 0);
  EXPECT_EQ(p.RefTotal(), 0);
}

TEST(KQSClassTest, BaseImplementationLoaderRefuses) {
  KQSClassImplLoader loader;
  TestClass proto("Proto", 28671);
  KOPPEnvironment environment;
  DebugCapture capture;
  EXPECT_EQ(loader.LoadClassFromImpl(&environment, nullptr, &proto), nullptr);
  EXPECT_EQ(capture.Texts(),
            Lines{"KQSClassImplLoader::LoadClassFromImpl...should not be called\n"});
}

TEST(KQSClassTest, DestroyingAQuietClassWritesNothing) {
  DebugCapture capture;
  auto* c = new TestClass("Quiet", 28671);
  c->HolderAdd();
  c->HolderAdd();
  c->HolderRelease();
  c->HolderRelease();
  EXPECT_EQ(c->HolderCount(), 0);
  delete c;
  EXPECT_EQ(capture.Texts(), Lines{});
}

TEST(KQSClassTest, DestroyingAHeldClassReportsTheCount) {
  auto* c = new TestClass("Held", 28671);
  c->HolderAdd();
  EXPECT_EQ(c->HolderCount(), 1);
  DebugCapture capture;
  delete c;
  EXPECT_EQ(capture.Texts(), Lines{"KQSClass::~KQSClass( Held ) non-zero reference count\n"});
}

TEST(KQSClassTest, DestroyingAnInstalledClassIsReported) {
  // The environment goes first so that nothing refers to the class any
  // more; the installed mark stays with the class.
  auto* environment = new KOPPEnvironment();
  auto* c = new TestClass("Doomed", 28671);
  ASSERT_TRUE(environment->AddClass(c));
  delete environment;
  EXPECT_TRUE(c->IsInstalled());
  DebugCapture capture;
  delete c;
  EXPECT_EQ(capture.Texts(),
            Lines{"KQSClass::~KQSClass( Doomed ) deleting installed class!!! Shouldn't happen.\n"});
}

TEST(KQSClassTest, DestroyingAHeldInstalledClassReportsBothInOrder) {
  auto* environment = new KOPPEnvironment();
  auto* c = new TestClass("Both", 900);
  ASSERT_TRUE(environment->AddClass(c));
  delete environment;
  c->HolderAdd();
  DebugCapture capture;
  delete c;
  EXPECT_EQ(capture.Texts(),
            (Lines{"KQSClass::~KQSClass( Both ) non-zero reference count\n",
                   "KQSClass::~KQSClass( Both ) deleting installed class!!! Shouldn't happen.\n"}));
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

// ===== Reference statistics of the storage classes =====

TEST(KQSClassCountersTest, ValuesCountReferencesAndStorage) {
  KQSValueBaseClass* counted = Keep(new KQSValueBaseClass("Counted", KQSClass::kNoClassNumber));
  auto* storage = new KQSValueBase();
  {
    KQSValue first(counted, storage);
    EXPECT_EQ(storage->References(), 1);
    EXPECT_EQ(counted->ObjCount(), 1);
    EXPECT_EQ(counted->RefCount(), 1);
    EXPECT_EQ(counted->RefTotal(), 1);
    {
      KQSValue second(first);
      KQSValue third;
      third = second;
      EXPECT_EQ(storage->References(), 3);
      EXPECT_EQ(counted->ObjCount(), 1);
      EXPECT_EQ(counted->RefCount(), 3);
      EXPECT_EQ(counted->RefTotal(), 3);
    }
    EXPECT_EQ(storage->References(), 1);
    EXPECT_EQ(counted->RefCount(), 1);
    EXPECT_EQ(counted->RefTotal(), 3);
    KQSValue other(counted, new KQSValueBase());
    EXPECT_EQ(counted->ObjCount(), 2);
    EXPECT_EQ(counted->RefCount(), 2);
  }
  // The last release destroyed both storage objects (the leak checker
  // watches that); the total keeps every reference ever taken.
  EXPECT_EQ(counted->ObjCount(), 0);
  EXPECT_EQ(counted->RefCount(), 0);
  EXPECT_EQ(counted->RefTotal(), 4);
  // A null storage pointer is an empty value with no storage to count.
  { KQSValue empty(counted, nullptr); }
  EXPECT_EQ(counted->ObjCount(), 0);
  EXPECT_EQ(counted->RefCount(), 0);
}

// ===== Formatter context =====

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
  EXPECT_EQ(f.Mask(), 0u);
  f.Mask(0x5u);
  EXPECT_EQ(f.Mask(), 0x5u);
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

TEST(KQSClassCrackerTest, StartsWithEverythingOff) {
  KQSClassCracker c;
  EXPECT_FALSE(c.IsMultiByte());
  EXPECT_FALSE(c.UseCodePage());
  EXPECT_EQ(c.CodePage(), 0u);
}

}  // namespace
