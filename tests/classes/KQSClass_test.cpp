// The class object on its own, and the formatter's stack.
#include "vxkernel/classes/KQSClass.h"

#include <cstring>

#include "classes/class_test_support.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/classes/KQSClassPointer.h"

namespace {

using namespace classes_test;

void* Word(uintptr_t w) { return reinterpret_cast<void*>(w); }

// Compare answers as told and records what it was handed.
struct SameClass : TestClass {
  SameClass() : TestClass("Same") {}
  int Compare(void* a, void* b, bool ignoreCase) const override { fSeen = {a, b, ignoreCase}; return fAnswer; }
  std::ostream& FormattedOutput(void*, std::ostream& out, KQSClassFormatter*) const override { return out << "own"; }
  mutable std::tuple<void*, void*, bool> fSeen;
  int fAnswer = 0;
};

TEST(KQSClassTest, BaseBehaviourTextFormsAndComplaints) {
  TestClass c("Thing");
  EXPECT_FALSE(c.IsPointer());
  EXPECT_FALSE(c.CanSubscript());
  EXPECT_FALSE(c.CanInvoke());
  EXPECT_FALSE(c.CanPrototype());
  EXPECT_FALSE(c.IsInstalled());
  EXPECT_FALSE(c.ImplReflectionOnly());
  EXPECT_EQ(c.CanDot(), 0);
  EXPECT_TRUE(KQSClassPointer().IsPointer());
  EXPECT_TRUE(KQSClassReflection().ImplReflectionOnly());
  unsigned char bytes[] = {0x00, 'a', 0x00, 0xFF, 'b'};
  c.ImplPut(5, sizeof bytes, bytes);
  bytes[1] = 'z';  // the class holds a copy
  EXPECT_EQ(c.ImplType(), 5);
  ASSERT_EQ(c.ImplLength(), 5);
  EXPECT_EQ(std::memcmp(c.ImplBytes(), "\0a\0\xFF" "b", 5), 0);
  KQSValue out(5);
  KQSClassCracker cracker;
  KQSClassFormatter f;
  std::istringstream in("anything");
  std::ostringstream text;
  KQSClassPointer p("Abstract", 28671);
  int storage = 0;  // never to be touched
  ExpectDebug({"KQSClass::DeepSafeCopy() NYI\n", "KQSClassPointer::AddReference() should never be called...abstract...class=Abstract\n"}, [&] {
    EXPECT_EQ(Str(c.ImplDesc()), "Builtin KQSClass implementation");
    EXPECT_TRUE(c.CoerceToBoolean(Word(0)));
    EXPECT_FALSE(c.CoerceTo(Word(1), 2, out));
    EXPECT_FALSE(c.FormattedInput(in, out, &cracker));
    EXPECT_EQ(c.Length(Word(1)), -1);
    EXPECT_EQ(c.Compare(Word(1), Word(1), false), -1);
    EXPECT_EQ(c.Subscript(Word(1), 1, 1, out), -1);
    EXPECT_EQ(c.SubscriptValuePut(Word(1), 1, 1, KQSValue(3)), -1);
    EXPECT_EQ(c.Invoke(Word(1), 0, nullptr, out), -1);
    c.AddReference(Word(1));  // immediate classes keep no references
    c.ReleaseReference(Word(1));
    EXPECT_TRUE(c.DeepSafeCopy(Word(3)).IsUndefined());
    p.AddReference(&storage);
  });
  EXPECT_EQ(static_cast<long>(out), 5);  // untouched by the refusals
  EXPECT_EQ(storage, 0);
  EXPECT_EQ(p.ObjCount(), 0);
  EXPECT_EQ(p.RefCount(), 0);
  EXPECT_EQ(p.RefTotal(), 0);
  c.DisplayOutput(Word(0xbeef), text, &f);  // the text form, through the virtual call
  SameClass().DisplayOutput(Word(1), text, &f);
  EXPECT_EQ(text.str(), "|Thing=0xbeef|own");
  EXPECT_EQ(Str(c.FormatXMLV1OpenTag(KString("a=\"1\""))), "<VX:Thing a=\"1\">");
  EXPECT_EQ(Str(c.FormatXMLV1CloseTag()), "</VX:Thing>");
  SameClass same;  // Equal asks the virtual Compare, without the flag
  for (int answer : {0, -3}) {
    same.fAnswer = answer;
    EXPECT_EQ(same.Equal(Word(0x10), Word(0x20)), answer == 0 ? 1 : 0);
    EXPECT_EQ(same.fSeen, std::make_tuple(Word(0x10), Word(0x20), false));
  }
  KOPPClassLoader loader;  // the base loader finds nothing
  KString source("kept");
  EXPECT_FALSE(loader.Enable());
  EXPECT_FALSE(loader.Disable());
  EXPECT_FALSE(loader.LoadXLateModule("Any", out));
  EXPECT_FALSE(loader.LoadSource("Any", source));
  EXPECT_EQ(loader.LoadClassByName("Any"), nullptr);
}

TEST(KQSClassTest, DestructorReportsHoldersAndInstallation) {
  auto* c = new TestClass("Doomed", 900);
  ASSERT_TRUE(KOPPEnvironment().AddClass(c));  // the installed mark outlives the environment
  c->HolderAdd();
  c->HolderAdd();
  c->HolderRelease();
  EXPECT_EQ(c->HolderCount(), 1);
  ExpectDebug({"KQSClass::~KQSClass( Doomed ) non-zero reference count\n",
               "KQSClass::~KQSClass( Doomed ) deleting installed class!!! Shouldn't happen.\n"},
              [&] { delete c; });
  ExpectDebug({}, [] { delete new TestClass("Quiet", 901); });
}

TEST(KQSClassTest, FormatterLookupFindsTheTopmostIdenticalValueAndHoldsCopies) {
  KQSValue a("text"), b("text"), five(5);  // b is equal to a, in other storage
  {
    KQSClassFormatter f;
    f.Pop();  // nothing to pop
    for (const KQSValue* v : {&a, &five, &a}) f.Push(*v);
    EXPECT_EQ(a.User()->References(), 3);
    EXPECT_EQ(f.Lookup(KQSValue(a)), 3);  // a copy is the same storage
    EXPECT_EQ(f.Lookup(KQSValue(5)), 2);  // an immediate is its word
    EXPECT_EQ(f.Lookup(KQSValue(6)), 0);
    EXPECT_EQ(f.Lookup(b), 0);  // equal is not identical
    f.Pop();
    EXPECT_EQ(f.Lookup(a), 1);
  }
  EXPECT_EQ(a.User()->References(), 1);
}

}  // namespace
