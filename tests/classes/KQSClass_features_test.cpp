// Feature tables of a class: adding slots (positions, holes, replacement,
// refused names and positions), lookups by name and position, inheritance
// through the extends chain of the registry, resolution and reset of a
// definition, constants, and the reflection views fed back through the
// KQSClassReflection setters.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "classes/class_test_support.h"
#include "classes/feature_test_support.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/classes/KSignature.h"
#include "vxkernel/values/KQSValue.h"

namespace {

using classes_test::Keep;
using classes_test::TestClass;
using features_test::ClassMethodFn;
using features_test::HostClass;
using features_test::MethodFn;
using features_test::Returns;
using features_test::Str;
using features_test::Streamed;
using Lines = std::vector<std::string>;

// A class registered by name in the process environment, so that the
// extends chain finds it; it lives until the process ends.
HostClass* Registered(const char* name, long implType = 2) {
  auto* c = Keep(new HostClass(name));
  if (implType != 2) c->ImplPut(implType, 0, nullptr);
  EXPECT_TRUE(KQSValue::ProcessEnvironment()->AddClass(c));
  return c;
}

std::string SigText(const KQSClass_Slot* s) {
  return s->Signature() != nullptr ? Str(s->Signature()->ToString()) : std::string("<none>");
}

// A reflection view as lines "name|index|access|fourth".
Lines ViewLines(const KQSValue& view) {
  Lines lines;
  for (long i = 1; i <= view.ListEntries(); ++i) {
    const KQSValue e = view.ListGetValue(i);
    EXPECT_EQ(e.ListEntries(), 4);
    const KQSValue fourth = e.ListGetValue(4);
    lines.push_back(Str(e.ListGetValue(1).String()) + "|" + std::to_string(static_cast<long>(e.ListGetValue(2))) +
                    "|" + std::to_string(static_cast<long>(e.ListGetValue(3))) + "|" +
                    (fourth.IsString() ? Str(fourth.String()) : Streamed(fourth)));
  }
  return lines;
}

Lines Names(const KQSValue& list) {
  Lines names;
  for (long i = 1; i <= list.ListEntries(); ++i) names.push_back(Str(list.ListGetValue(i).String()));
  return names;
}

// ===== adding and looking up =====

TEST(KQSClassFeatures, SlotFieldsAndFunctorOwnership) {
  bool areaDead = false, oldDead = false, newDead = false;
  HostClass c("Shapes");
  EXPECT_EQ(c.NameToMethod("Area"), nullptr);  // the table was never used
  EXPECT_EQ(c.IndexToMethod(0), nullptr);
  auto* area = new MethodFn(Returns<MethodFn>(KQSValue(1)), &areaDead);
  KQSClass_Method* first = c.AddMethod("Area", "Real(Integer,[Integer])", area, -1, 7, true);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(c.HasMethods());
  EXPECT_FALSE(c.HasAttributes() || c.HasClassMethods() || c.HasClassAttributes() || c.HasConstants());
  EXPECT_EQ(first->AccessLevel(), 1);  // the access argument is not kept
  EXPECT_EQ(SigText(first), "Real(Integer,[Integer])");
  EXPECT_EQ(first->GetFunctor(), area);
  EXPECT_TRUE(first->OwnsFunctor());
  EXPECT_EQ(c.AddMethod("Scale", nullptr, nullptr, -1, 1, false)->Signature(), nullptr);
  // An empty signature text is no signature either (what a view shows for
  // a slot without one).
  EXPECT_EQ(c.AddMethod("Rotate", "", nullptr, -1, 1, false)->Signature(), nullptr);
  EXPECT_EQ(c.IndexToMethod(-1), nullptr);
  EXPECT_EQ(c.NameToMethod(nullptr), nullptr);
  EXPECT_EQ(c.NameToAttribute("Area"), nullptr);  // tables are separate

  // Replacing a position destroys the old slot and its owned functor.
  c.AddMethod("Old", nullptr, new MethodFn(Returns<MethodFn>(KQSValue(1)), &oldDead), 5, 1, true);
  auto* replacement =
      c.AddMethod("New", nullptr, new MethodFn(Returns<MethodFn>(KQSValue(2)), &newDead), 5, 1, true);
  EXPECT_TRUE(oldDead);
  EXPECT_FALSE(newDead);
  EXPECT_EQ(c.NameToMethod("Old"), nullptr);
  EXPECT_EQ(c.NameToMethod("New"), replacement);
  c.ResetClassDefinition();
  EXPECT_TRUE(areaDead && newDead);
}

// Random additions with a few names in changing case at positions that
// make tables both small and large (lookups scan small tables and use the
// index for large ones), checked after every step against a model: a
// vector of positions and a std::map from the upper-cased name to the
// slot the name leads to (the newest one; when that one is replaced, the
// remaining one of that name at the highest position).
TEST(KQSClassFeatures, LookupsFollowAModelOfTheTable) {
  const char* const names[] = {"alpha", "Beta", "gamma", "DELTA", "ab", "aB", "x", "Xy"};
  std::mt19937 rng(99);
  for (int round = 0; round < 20; ++round) {
    HostClass c("Model");
    std::vector<std::string> table;  // names by position, "" for a hole
    std::map<std::string, long> index;  // upper-cased name -> position
    using classes_test::Upper;
      const long maxPosition = round % 2 == 0 ? 12 : 60;
    for (int step = 0; step < 200; ++step) {
      std::string name = names[rng() % 8];
      if (rng() % 2) name = Upper(name);
      const long at = rng() % 4 == 0 ? -1 : static_cast<long>(rng() % static_cast<unsigned>(maxPosition));
      KQSClass_Method* slot = c.AddMethod(name.c_str(), nullptr, nullptr, at, 1, false);
      const long pos = at < 0 ? static_cast<long>(table.size()) : at;
      ASSERT_EQ(slot->SlotIndex(), pos);
      if (table.size() <= static_cast<size_t>(pos)) table.resize(static_cast<size_t>(pos) + 1);
      const std::string old = table[static_cast<size_t>(pos)];
      table[static_cast<size_t>(pos)] = name;
      if (!old.empty() && index[Upper(old)] == pos) {
        index.erase(Upper(old));
        for (size_t p = 0; p < table.size(); ++p) {
          if (p != static_cast<size_t>(pos) && !table[p].empty() && Upper(table[p]) == Upper(old)) {
            index[Upper(old)] = static_cast<long>(p);
          }
        }
      }
      index[Upper(name)] = pos;

      ASSERT_EQ(c.Methods().size(), table.size());
      for (size_t p = 0; p < table.size(); ++p) {
        KQSClass_Method* m = c.IndexToMethod(static_cast<long>(p));
        ASSERT_EQ(m == nullptr, table[p].empty()) << p;
        if (m != nullptr) {
          ASSERT_EQ(m->SlotName(), table[p]);
        }
      }
      for (const char* probe : names) {
        auto it = index.find(Upper(probe));
        KQSClass_Method* m = c.NameToMethod(probe);
        const KQSClass_Method* want = it == index.end() ? nullptr : c.IndexToMethod(it->second);
        ASSERT_EQ(m, want) << probe << " step " << step;
      }
    }
  }
}

TEST(KQSClassFeatures, UnusableNamesAndPositionsAreRefused) {
  HostClass c("Refuse");
  DebugCapture capture;
  EXPECT_EQ(c.AddMethod(nullptr, nullptr, nullptr, -1, 1, false), nullptr);
  const std::string tooLong(32767, 'n');
  EXPECT_EQ(c.AddAttribute(tooLong.c_str(), nullptr, nullptr, -1, 1, false), nullptr);
  EXPECT_EQ(c.AddConstant("Far", KQSValue(1), 32767, 1), nullptr);
  EXPECT_EQ(c.AddClassMethod("Far", nullptr, nullptr, 2147483647L, 1, false), nullptr);
  EXPECT_EQ(capture.Texts(), (Lines{"KQSClass::AddMethod( Refuse ) bad feature name\n",
                                    "KQSClass::AddAttribute( Refuse ) bad feature name\n",
                                    "KQSClass::AddConstant( Refuse.Far ) index out of range=32767\n",
                                    "KQSClass::AddClassMethod( Refuse.Far ) index out of range=2147483647\n"}));
  EXPECT_FALSE(c.HasMethods() || c.HasAttributes() || c.HasConstants() || c.HasClassMethods());

  // The largest name and the last position are accepted.
  const std::string longest(32766, 'n');
  capture.Clear();
  ASSERT_NE(c.AddAttribute(longest.c_str(), nullptr, nullptr, 32766, 1, false), nullptr);
  EXPECT_EQ(c.NameToAttribute(longest.c_str())->SlotIndex(), 32766);
  EXPECT_EQ(capture.All(), "");
  // Appending to a full table is refused like any far position.
  EXPECT_EQ(c.AddAttribute("Next", nullptr, nullptr, -1, 1, false), nullptr);
  EXPECT_EQ(capture.All(), "KQSClass::AddAttribute( Refuse.Next ) index out of range=32767\n");
  EXPECT_EQ(c.Attributes().size(), 32767u);
}

TEST(KQSClassFeatures, ResetEmptiesEverythingAndTheClassCanBeDefinedAnew) {
  bool owned = false, shared = false;
  HostClass c("Again");
  auto* sharedFn = new MethodFn(Returns<MethodFn>(KQSValue(1)), &shared);
  c.AddExtends("Base");
  c.AddImplements("Iface");
  c.AddMethod("Owned", nullptr, new MethodFn(Returns<MethodFn>(KQSValue(1)), &owned), -1, 1, true);
  c.AddMethod("Shared", nullptr, sharedFn, -1, 1, false);
  c.AddClassMethod("Make", nullptr, nullptr, -1, 1, false);
  c.AddAttribute("A", nullptr, nullptr, -1, 1, false);
  c.AddClassAttribute("B", nullptr, nullptr, -1, 1, false);
  c.AddConstant("K", KQSValue("text"), -1, 1);

  c.ResetClassDefinition();
  EXPECT_TRUE(owned);
  EXPECT_FALSE(shared);  // not owned: the host keeps it
  delete sharedFn;
  EXPECT_TRUE(c.Extends().empty() && c.Implements().empty());
  EXPECT_TRUE(c.ExtendsClasses().empty() && c.ImplementsClasses().empty());
  EXPECT_TRUE(c.Methods().empty() && c.ClassMethods().empty() && c.Attributes().empty() &&
              c.ClassAttributes().empty() && c.Constants().empty());
  EXPECT_FALSE(c.HasMethods() || c.HasClassMethods() || c.HasAttributes() || c.HasClassAttributes() ||
               c.HasConstants());
  EXPECT_EQ(c.NameToMethod("Owned"), nullptr);
  EXPECT_EQ(c.NameToConstant("K"), nullptr);
  EXPECT_EQ(c.AddMethod("Owned", nullptr, nullptr, -1, 1, false)->SlotIndex(), 0);
  c.ResetClassDefinition();
  c.ResetClassDefinition();  // twice is harmless
}

// ===== constants =====

TEST(KQSClassConstants, EachReaderGetsItsOwnCopyOfTheAllowedTypes) {
  HostClass c("Consts");
  KQSValue text("limit");
  auto* s = c.AddConstant("Text", text, -1, 1);
  const KQSValue a = s->Value();
  const KQSValue b = s->Value();
  EXPECT_EQ(Str(a.String()), "limit");
  EXPECT_NE(a.Instance(), b.Instance());     // no shared storage between readers
  EXPECT_NE(a.Instance(), text.Instance());  // nor with the value given

  EXPECT_TRUE(c.AddConstant("U", KQSValue(), -1, 1)->Value().IsUndefined());
  const KQSValue e = c.AddConstant("E", KQSValue::Error(0x26AD0017), -1, 1)->Value();
  EXPECT_TRUE(e.IsError());
  EXPECT_EQ(e.Error(), 0x26AD0017);
  const KQSValue i = c.AddConstant("I", KQSValue(-42), -1, 1)->Value();
  EXPECT_TRUE(i.IsInteger());
  EXPECT_EQ(static_cast<long>(i), -42);
  const KQSValue t = c.AddConstant("B", KQSValue::Boolean(1), -1, 1)->Value();
  EXPECT_EQ(t.Type(), 5);
  EXPECT_TRUE(t.CoerceToBoolean());
  // Class number 3 is the host's object-reference class.
  auto* objRef = Keep(new TestClass("ObjRef", 3));
  const KQSValue r = c.AddConstant("R", KQSValue(objRef, reinterpret_cast<void*>(77)), -1, 1)->Value();
  EXPECT_EQ(r.Class(), objRef);
  EXPECT_EQ(r.Instance(), reinterpret_cast<void*>(77));
}

TEST(KQSClassConstants, OtherTypesGiveUndefinedAndALine) {
  HostClass c("Consts");
  auto* real = c.AddConstant("Pi", KQSValue(2.5), -1, 1);
  auto* list = c.AddConstant("L", KQSValue::List(KQSValue(1)), -1, 1);
  DebugCapture capture;
  EXPECT_TRUE(real->Value().IsUndefined());
  EXPECT_TRUE(list->Value().IsUndefined());
  EXPECT_EQ(capture.Texts(),
            (Lines{"KQSClass_Constant::Value... Unknown datatype = -4 for builtin constant. Value = " +
                       Streamed(KQSValue(2.5)) + "\n",
                   "KQSClass_Constant::Value... Unknown datatype = -2 for builtin constant. Value = " +
                       Streamed(KQSValue::List(KQSValue(1))) + "\n"}));
}

// ===== inheritance =====

// Base <- Middle <- Leaf by extends names; Alien is of another ImplType.
class Inheritance : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base = Registered("FeatBase");
    base->AddMethod("Greet", nullptr, nullptr, -1, 1, false);
    base->AddMethod("Both", nullptr, nullptr, -1, 1, false);
    base->AddAttribute("Owner", nullptr, nullptr, -1, 1, false);
    base->AddClassMethod("Version", nullptr, nullptr, -1, 1, false);
    base->AddClassAttribute("Bank", nullptr, nullptr, -1, 1, false);
    base->AddConstant("Limit", KQSValue(5), -1, 1);
    alien = Registered("FeatAlien", 4);
    alien->AddMethod("Both", nullptr, nullptr, -1, 1, false);
    alien->AddMethod("Strange", nullptr, nullptr, -1, 1, false);
    other = Registered("FeatOther");
    other->AddMethod("Both", nullptr, nullptr, -1, 1, false);
    other->AddMethod("Extra", nullptr, nullptr, -1, 1, false);
    middle = Registered("FeatMiddle");
    middle->AddExtends("FeatBase");
    middle->AddMethod("Greet", nullptr, nullptr, -1, 1, false);  // overrides
    leaf = Registered("FeatLeaf");
    leaf->AddExtends("NoSuchClass");
    leaf->AddExtends("FeatAlien");
    leaf->AddExtends("FeatMiddle");
    leaf->AddExtends("FeatOther");
    leaf->AddImplements("FeatOther");
  }
  static inline HostClass *base, *alien, *other, *middle, *leaf;
};

TEST_F(Inheritance, OwnFeaturesFirstThenExtendsInDeclarationOrder) {
  DebugCapture capture;
  EXPECT_EQ(leaf->FindMethod("greet"), middle->NameToMethod("Greet"));  // the nearer definition
  EXPECT_EQ(leaf->FindMethod("BOTH"), base->NameToMethod("Both"));      // FeatMiddle's chain before FeatOther
  EXPECT_EQ(leaf->FindMethod("extra"), other->NameToMethod("Extra"));
  EXPECT_EQ(leaf->FindMethod("Strange"), nullptr);  // FeatAlien is never searched
  EXPECT_EQ(leaf->FindAttribute("owner"), base->NameToAttribute("Owner"));
  EXPECT_EQ(leaf->FindClassMethod("version"), base->NameToClassMethod("Version"));
  EXPECT_EQ(leaf->FindClassAttribute("bank"), base->NameToClassAttribute("Bank"));
  EXPECT_EQ(leaf->FindConstant("Limit"), nullptr);  // constants are not inherited
  EXPECT_EQ(leaf->NameToMethod("Greet"), nullptr);  // NameTo* is this class only
  // A missing extends name is passed over silently; FeatAlien is reported
  // on every search that reaches it.
  const std::string alienLine = " ) dissimilar impltypes for extends: FeatAlien\n";
  EXPECT_EQ(capture.Texts(), (Lines{"KQSClass::FindMethod( FeatLeaf.greet" + alienLine,
                                    "KQSClass::FindMethod( FeatLeaf.BOTH" + alienLine,
                                    "KQSClass::FindMethod( FeatLeaf.extra" + alienLine,
                                    "KQSClass::FindMethod( FeatLeaf.Strange" + alienLine,
                                    "KQSClass::FindAttribute( FeatLeaf.owner" + alienLine,
                                    "KQSClass::FindClassMethod( FeatLeaf.version" + alienLine,
                                    "KQSClass::FindClassAttribute( FeatLeaf.bank" + alienLine}));
}

TEST_F(Inheritance, ImplementsIsNotSearched) {
  // FeatOther is both extended and implemented by FeatLeaf; a class that
  // only implements it finds nothing there.
  HostClass* implementer = Registered("FeatImplementer");
  implementer->AddImplements("FeatOther");
  EXPECT_EQ(implementer->FindMethod("Extra"), nullptr);
}

TEST_F(Inheritance, CyclesOfExtendsEnd) {
  HostClass* a = Registered("FeatCycleA");
  HostClass* b = Registered("FeatCycleB");
  a->AddExtends("FeatCycleB");
  b->AddExtends("FeatCycleA");
  b->AddExtends("FeatBase");
  a->AddExtends("FeatCycleA");
  DebugCapture capture;
  EXPECT_EQ(a->FindMethod("Nothing"), nullptr);
  EXPECT_EQ(a->FindMethod("greet"), base->NameToMethod("Greet"));
  EXPECT_EQ(capture.All(), "");
}

TEST_F(Inheritance, CompleteClassInstallationResolvesAndReportsNames) {
  HostClass c("FeatInstalling");
  c.AddExtends("FeatMiddle");
  c.AddExtends("NoSuchBase");
  c.AddExtends("FeatAlien");
  c.AddImplements("FeatOther");
  c.AddImplements("NoSuchIface");
  c.AddImplements("FeatAlien");
  DebugCapture capture;
  c.CompleteClassInstallation();
  EXPECT_EQ(capture.Texts(),
            (Lines{"KQSClass::CompleteClassInstallation( FeatInstalling ) extends not found: NoSuchBase\n",
                   "KQSClass::CompleteClassInstallation( FeatInstalling ) dissimilar impltypes for extends: "
                   "FeatAlien\n",
                   "KQSClass::CompleteClassInstallation( FeatInstalling ) Implements not found: NoSuchIface\n",
                   "KQSClass::CompleteClassInstallation( FeatInstalling ) dissimilar impltypes for Implements: "
                   "FeatAlien\n"}));
  EXPECT_EQ(c.ExtendsClasses(), (std::vector<const KQSClass*>{middle}));
  EXPECT_EQ(c.ImplementsClasses(), (std::vector<const KQSClass*>{other}));
}

// ===== reflection =====

// A class with every kind of feature, holes, signatures and constants.
void DefineRich(HostClass& c) {
  c.AddExtends("FeatBase");
  c.AddExtends("Elsewhere");
  c.AddImplements("Printable");
  c.AddClassMethod("Create", "Rich(Integer,[String],...)", nullptr, -1, 1, false);
  c.AddClassAttribute("Instances", "Integer", nullptr, 2, 1, false);
  c.AddMethod("Run", "<AE>Boolean(Dynamic,Widget)", nullptr, 1, 1, false);
  c.AddMethod("Stop", nullptr, nullptr, 4, 1, false);
  c.AddMethod("Pause", "Void()", nullptr, 0, 1, false);
  c.AddAttribute("Name", "String", nullptr, -1, 1, false);
  c.AddAttribute("Size", "Integer", nullptr, 3, 1, false);
  c.AddConstant("Label", KQSValue("it's"), -1, 1);
  c.AddConstant("None", KQSValue(), 3, 1);
  c.AddConstant("Bad", KQSValue::Error(-9), -1, 1);
  c.AddConstant("Seven", KQSValue(7), -1, 1);
  c.AddConstant("Yes", KQSValue::Boolean(1), -1, 1);
}

// A view with the signature (or value) moved from fourth to second place,
// as the setters take it.
KQSValue Reordered(const KQSValue& view) {
  KQSValue list = KQSValue::List();
  for (long i = 1; i <= view.ListEntries(); ++i) {
    const KQSValue e = view.ListGetValue(i);
    list.ListAppendValue(KQSValue::List(e.ListGetValue(1), e.ListGetValue(4), e.ListGetValue(2), e.ListGetValue(3)));
  }
  return list;
}

TEST(KQSClassReflectionViews, ViewsListEveryFeatureInPositionOrder) {
  HostClass c("Rich");
  DefineRich(c);
  EXPECT_EQ(Names(c.ExtendsValue()), (Lines{"FeatBase", "Elsewhere"}));
  EXPECT_EQ(Names(c.ImplementsValue()), (Lines{"Printable"}));
  EXPECT_EQ(ViewLines(c.ClassMethodsValue()), (Lines{"Create|0|1|Rich(Integer,[String],...)"}));
  EXPECT_EQ(ViewLines(c.ClassAttributesValue()), (Lines{"Instances|2|1|Integer()"}));
  EXPECT_EQ(ViewLines(c.MethodsValue()), (Lines{"Pause|0|1|Void()", "Run|1|1|<AE>Boolean(Dynamic,Widget)", "Stop|4|1|"}));
  EXPECT_EQ(ViewLines(c.AttributesValue()), (Lines{"Name|0|1|String()", "Size|3|1|Integer()"}));
  EXPECT_EQ(ViewLines(c.ConstantsValue()),
            (Lines{"Label|0|1|it's", "None|3|1|" + Streamed(KQSValue()), "Bad|4|1|" + Streamed(KQSValue::Error(-9)),
                   "Seven|5|1|" + Streamed(KQSValue(7)), "Yes|6|1|" + Streamed(KQSValue::Boolean(1))}));
  // A class without features gives empty Lists.
  HostClass empty("Empty");
  for (const KQSValue& v : {empty.ExtendsValue(), empty.ImplementsValue(), empty.ClassMethodsValue(),
                            empty.MethodsValue(), empty.ClassAttributesValue(), empty.AttributesValue(),
                            empty.ConstantsValue()}) {
    EXPECT_TRUE(v.IsList());
    EXPECT_EQ(v.ListEntries(), 0);
  }
}

TEST(KQSClassReflectionViews, ViewsFedBackThroughTheSettersReproduceTheClass) {
  HostClass c("Rich");
  DefineRich(c);
  KQSClassReflection copy;
  copy.ClassName("Rich");
  DebugCapture capture;
  copy.Extends(c.ExtendsValue());
  copy.Implements(c.ImplementsValue());
  copy.ClassMethods(Reordered(c.ClassMethodsValue()));
  copy.ClassAttributes(Reordered(c.ClassAttributesValue()));
  copy.Methods(Reordered(c.MethodsValue()));
  copy.Attributes(Reordered(c.AttributesValue()));
  copy.Constants(Reordered(c.ConstantsValue()));
  EXPECT_EQ(capture.All(), "");

  EXPECT_EQ(Names(copy.ExtendsValue()), Names(c.ExtendsValue()));
  EXPECT_EQ(Names(copy.ImplementsValue()), Names(c.ImplementsValue()));
  for (auto view : {&KQSClass::ClassMethodsValue, &KQSClass::ClassAttributesValue, &KQSClass::MethodsValue,
                    &KQSClass::AttributesValue, &KQSClass::ConstantsValue})
    EXPECT_EQ(ViewLines((copy.*view)()), ViewLines((c.*view)()));
  // Trailing holes would not show in the views.
  for (auto get : {&KQSClass::ClassMethods, &KQSClass::ClassAttributes, &KQSClass::Methods, &KQSClass::Attributes,
                   &KQSClass::Constants})
    EXPECT_EQ((c.*get)().size(), (copy.*get)().size());
  EXPECT_EQ(copy.HasMethods(), c.HasMethods());
  EXPECT_EQ(copy.NameToMethod("run")->GetFunctor(), nullptr);  // setters bind no functor
  EXPECT_EQ(Str(copy.NameToConstant("label")->Value().String()), "it's");
}

TEST(KQSClassReflectionViews, SettersSkipWhatTheyCannotUse) {
  KQSClassReflection p;
  p.ClassName("Proto");
  DebugCapture capture;
  p.Methods(KQSValue(3));
  p.Extends(KQSValue::List(KQSValue("Good"), KQSValue(4)));
  const KQSValue good = KQSValue::List(KQSValue("Ok"), KQSValue("Integer(String)"), KQSValue(2), KQSValue(1));
  const KQSValue threeParts = KQSValue::List(KQSValue("Short"), KQSValue("Integer"), KQSValue(0));
  const KQSValue badIndex = KQSValue::List(KQSValue("Idx"), KQSValue("Integer"), KQSValue("0"), KQSValue(1));
  const KQSValue badSig = KQSValue::List(KQSValue("Sig"), KQSValue(5), KQSValue(0), KQSValue(1));
  const KQSValue noSig = KQSValue::List(KQSValue("NoSig"), KQSValue(), KQSValue(-1), KQSValue(1));
  KQSValue entries = KQSValue::List(threeParts, good, badIndex);
  entries.ListAppendValue(badSig);
  entries.ListAppendValue(noSig);
  p.Methods(entries);
  EXPECT_EQ(capture.Texts(),
            (Lines{"KQSClassReflection::Methods( Proto ) not a List: " + Streamed(KQSValue(3)) + "\n",
                   "KQSClassReflection::Extends( Proto ) bad entry 2: " + Streamed(KQSValue(4)) + "\n",
                   "KQSClassReflection::Methods( Proto ) bad entry 1: " + Streamed(threeParts) + "\n",
                   "KQSClassReflection::Methods( Proto ) bad entry 3: " + Streamed(badIndex) + "\n",
                   "KQSClassReflection::Methods( Proto ) bad signature in entry 4: " + Streamed(KQSValue(5)) +
                       "\n"}));
  EXPECT_EQ(Names(p.ExtendsValue()), (Lines{"Good"}));
  EXPECT_EQ(ViewLines(p.MethodsValue()), (Lines{"Ok|2|1|Integer(String)", "NoSig|3|1|"}));
}

}  // namespace
