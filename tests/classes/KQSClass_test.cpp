// The class object on its own: construction, identity setters, the base
// behaviour of the virtual interface, the text tags, the debug lines of the
// operations a real class must override, the reference counters and the
// formatter's stack.
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

using namespace classes_test;

void* Word(uintptr_t w) { return reinterpret_cast<void*>(w); }

TEST(KQSClassTest, ConstructionDefaultsAndFlags) {
  TestClass c;
  EXPECT_EQ(c.ClassNumber(), 28671);
  EXPECT_STREQ(c.ClassName(), "");
  EXPECT_FALSE(c.IsPointer() || c.CanSubscript() || c.CanInvoke() || c.CanPrototype() || c.IsInstalled() ||
               c.ImplReflectionOnly() || c.CanDot() != 0);
  EXPECT_TRUE(c.ImplType() == 2 && c.ImplLength() == 0 && c.ImplBytes() == nullptr);
  KQSClassPointer p("Pointerish", 60);
  EXPECT_TRUE(p.IsPointer() && KQSClassPointer().IsPointer() && !p.ImplReflectionOnly());
  EXPECT_EQ(p.ObjCount() + p.RefCount() + p.RefTotal(), 0);
  KQSClassReflection r;
  EXPECT_TRUE(r.ImplReflectionOnly() && r.IsPointer() && r.ClassNumber() == 28671);
}

TEST(KQSClassTest, NameAndImageAreTheClasssOwnCopies) {
  char name[] = "Widget";
  TestClass c(name, 40);
  name[0] = 'X';
  EXPECT_STREQ(c.ClassName(), "Widget");
  c.ClassName(name);
  name[0] = 'Y';
  EXPECT_STREQ(c.ClassName(), "Xidget");
  unsigned char bytes[] = {0x00, 'a', 0x00, 0xFF, 'b'};
  c.ImplPut(5, sizeof bytes, bytes);
  bytes[1] = 'z';
  EXPECT_EQ(c.ImplType(), 5);
  ASSERT_EQ(c.ImplLength(), 5);
  EXPECT_EQ(std::memcmp(c.ImplBytes(), "\0a\0\xFF" "b", 5), 0);
  c.ImplPut(3, 0, nullptr);  // an empty image needs no bytes
  EXPECT_TRUE(c.ImplType() == 3 && c.ImplLength() == 0);
}

// Compare answers as told and records what it was handed.
class SameClass : public TestClass {
 public:
  SameClass() : TestClass("Same") {}
  int Compare(void* a, void* b, bool ignoreCase) const override {
    fSeen = {a, b, ignoreCase};
    return fAnswer;
  }
  std::ostream& FormattedOutput(void*, std::ostream& out, KQSClassFormatter*) const override {
    return out << "own text";
  }
  mutable std::tuple<void*, void*, bool> fSeen;
  int fAnswer = 0;
};

TEST(KQSClassTest, BaseVirtualResults) {
  TestClass c("Plain");
  KQSValue out(5);
  KQSClassCracker cracker;
  std::istringstream in("anything");
  ExpectDebug({}, [&] {
    EXPECT_EQ(Str(c.ImplDesc()), "Builtin KQSClass implementation");
    EXPECT_TRUE(c.CoerceToBoolean(Word(0)) && c.CoerceToBoolean(Word(1)));
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
  });
  EXPECT_EQ(static_cast<long>(out), 5);
  // Equal asks the virtual Compare, without the flag.
  SameClass same;
  for (int answer : {0, 1, -3}) {
    same.fAnswer = answer;
    EXPECT_EQ(same.Equal(Word(0x10), Word(0x20)), answer == 0 ? 1 : 0);
    EXPECT_EQ(same.fSeen, std::make_tuple(Word(0x10), Word(0x20), false));
  }
}

TEST(KQSClassTest, TextFormsAndXMLTags) {
  TestClass c("Thing");
  SameClass own;
  KQSClassFormatter f;
  std::ostringstream out, display, ownDisplay;
  c.FormattedOutput(Word(0x1a2b), out, &f);
  EXPECT_EQ(out.str(), "|Thing=0x1a2b|");
  // The display form is the text form, through the virtual call.
  c.DisplayOutput(Word(0xbeef), display, &f);
  own.DisplayOutput(Word(1), ownDisplay, &f);
  EXPECT_EQ(display.str() + ownDisplay.str(), "|Thing=0xbeef|own text");
  EXPECT_EQ(Str(c.FormatXMLV1OpenTag(KString())), "<VX:Thing>");
  EXPECT_EQ(Str(c.FormatXMLV1OpenTag(KString("a=\"1\" b=\"2\""))), "<VX:Thing a=\"1\" b=\"2\">");
  EXPECT_EQ(Str(c.FormatXMLV1CloseTag()), "</VX:Thing>");
}

TEST(KQSClassTest, WhatRealClassesMustImplementComplains) {
  TestClass c("NoBinary");
  KQSClassFormatter f;
  KQSClassCracker cracker;
  KQSClassPointer p("Abstract", 28671);
  KQSClassReflection r;
  int storage = 0;  // never to be touched
  std::ostringstream out;
  std::istringstream in(std::string("\x02\x00\x01\x00\x00\x00", 6));
  ExpectDebug({"KQSClass::BinaryOutput() Must be implemented...class=NoBinary\n",
               "KQSClass::BinaryInput() Must be implemented...class=NoBinary\n", "KQSClass::DeepSafeCopy() NYI\n",
               "KQSClassPointer::AddReference() should never be called...abstract...class=Abstract\n",
               "KQSClassPointer::ReleaseReference() should never be called...abstract...class=Abstract\n",
               "KQSClassReflection::AddReference() should never be called\n",
               "KQSClassReflection::ReleaseReference() should never be called\n"},
              [&] {
                c.BinaryOutput(Word(7), out, &f);
                EXPECT_TRUE(c.BinaryInput(in, &cracker).IsUndefined());
                EXPECT_TRUE(c.DeepSafeCopy(Word(3)).IsUndefined());
                p.AddReference(&storage);
                p.ReleaseReference(&storage);
                r.AddReference(&storage);
                r.ReleaseReference(&storage);
              });
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(storage, 0);
  EXPECT_EQ(p.ObjCount() + p.RefCount() + p.RefTotal(), 0);
}

TEST(KQSClassTest, DestructorReportsHoldersAndInstallation) {
  for (bool trouble : {false, true}) {
    auto* c = new TestClass("Doomed", 900);
    if (trouble) {
      // The environment goes first; the installed mark stays with the class.
      auto* environment = new KOPPEnvironment();
      ASSERT_TRUE(environment->AddClass(c));
      delete environment;
    }
    c->HolderAdd();
    c->HolderAdd();
    c->HolderRelease();
    if (!trouble) c->HolderRelease();
    EXPECT_EQ(c->HolderCount(), trouble ? 1 : 0);
    ExpectDebug(trouble ? Lines{"KQSClass::~KQSClass( Doomed ) non-zero reference count\n",
                                "KQSClass::~KQSClass( Doomed ) deleting installed class!!! Shouldn't happen.\n"}
                        : Lines{},
                [&] { delete c; });
  }
}

TEST(KQSClassTest, BaseClassLoaderFindsNothing) {
  KOPPClassLoader loader;
  KQSValue v;
  KString s("kept");
  EXPECT_FALSE(loader.Enable() || loader.Disable() || loader.LoadXLateModule("Any", v) || loader.LoadSource("Any", s));
  EXPECT_EQ(loader.LoadClassByName("Any"), nullptr);
}

TEST(KQSClassCountersTest, ValuesCountReferencesAndStorage) {
  auto* counted = Keep(new KQSValueBaseClass("Counted", KQSClass::kNoClassNumber));
  auto* storage = new KQSValueBase();
  auto counts = [counted] {
    return std::to_string(counted->ObjCount()) + "/" + std::to_string(counted->RefCount()) + "/" +
           std::to_string(counted->RefTotal());
  };
  {
    KQSValue first(counted, storage);
    EXPECT_EQ(counts(), "1/1/1");
    {
      KQSValue second(first), third;
      third = second;
      EXPECT_EQ(storage->References(), 3);
      EXPECT_EQ(counts(), "1/3/3");
    }
    EXPECT_EQ(storage->References(), 1);
    KQSValue other(counted, new KQSValueBase());
    EXPECT_EQ(counts(), "2/2/4");
  }
  // The last release destroyed both storage objects (the leak checker
  // watches that); the total keeps every reference ever taken.
  { KQSValue empty(counted, nullptr); }  // no storage to count
  EXPECT_EQ(counts(), "0/0/4");
}

TEST(KQSClassFormatterTest, LookupFindsTheTopmostIdenticalValueAndHoldsCopies) {
  KQSValue a("text"), b("text"), five(5);  // b is equal to a, in other storage
  {
    KQSClassFormatter f;
    EXPECT_EQ(f.Lookup(a), 0);
    f.Pop();  // nothing to pop
    f.Push(a);
    f.Push(five);
    f.Push(a);
    EXPECT_EQ(a.User()->References(), 3);
    EXPECT_EQ(f.Lookup(KQSValue(a)), 3);  // a copy is the same storage
    EXPECT_EQ(f.Lookup(KQSValue(5)), 2);  // an immediate is its word
    EXPECT_EQ(f.Lookup(KQSValue(6)), 0);
    EXPECT_EQ(f.Lookup(b), 0);
    f.Pop();
    EXPECT_EQ(f.Lookup(a), 1);
    EXPECT_EQ(a.User()->References(), 2);
  }
  EXPECT_EQ(a.User()->References(), 1);
}

}  // namespace
