// Feature tables: a model, limits, inheritance, the reflection views and setters.

#include <map>
#include <random>

#include "classes/class_test_support.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

using namespace classes_test;

MethodFn* Functor(int* live) { return new MethodFn([](auto&&...) { return KQSValue(); }, live); }

// Random additions to small (scanned) and large (indexed) tables against a
// model: names by position, and where each name leads (the slot last added
// under it, even once another slot has replaced that one at its position);
// replaced slots and their owned functors live until the class is reset.
TEST(KQSClassFeatures, LookupsAndOwnedFunctorsFollowAModel) {
  const char* const names[] = {"alpha", "Beta", "gamma", "DELTA", "ab", "aB", "x", "Xy"};
  const char* const sigs[] = {nullptr, "", "Real(Integer,[Integer])"};
  std::mt19937 rng(99);
  int live = 0;
  for (int round = 0; round < 12; ++round) {
    TestClass c("Model");
    // The table was never used.
    EXPECT_EQ(c.NameToMethod("alpha"), nullptr);
    EXPECT_EQ(c.IndexToMethod(0), nullptr);
    std::vector<std::string> table;      // names by position, "" for a hole
    std::map<std::string, KQSClass_Method*> leads;  // upper-cased name -> slot
    const long maxPosition = round % 2 == 0 ? 12 : 60;
    for (int step = 0; step < 150; ++step) {
      SCOPED_TRACE("round " + std::to_string(round) + " step " + std::to_string(step));
      std::string name = names[rng() % 8];
      if (rng() % 2) name = Upper(name);
      const long at = rng() % 4 == 0 ? -1 : static_cast<long>(rng() % maxPosition);
      const char* sig = sigs[rng() % 3];
      MethodFn* fn = Functor(&live);
      KQSClass_Method* slot = c.AddMethod(name.c_str(), sig, fn, at, 7, true);
      const long pos = at < 0 ? static_cast<long>(table.size()) : at;
      ASSERT_EQ(slot->SlotIndex(), pos);
      EXPECT_EQ(slot->AccessLevel(), 1);  // the access argument is not kept
      EXPECT_EQ(slot->GetFunctor(), fn);
      EXPECT_TRUE(slot->OwnsFunctor());
      if (table.size() <= static_cast<size_t>(pos)) table.resize(static_cast<size_t>(pos) + 1);
      table[static_cast<size_t>(pos)] = name;
      leads[Upper(name)] = slot;

      ASSERT_EQ(c.Methods().size(), table.size());
      for (size_t p = 0; p < table.size(); ++p) {
        KQSClass_Method* m = c.IndexToMethod(static_cast<long>(p));
        ASSERT_EQ(m == nullptr ? "" : m->SlotName(), table[p]) << p;
      }
      ASSERT_EQ(live, step + 1);  // nothing destroyed yet
      EXPECT_EQ(c.IndexToMethod(-1), nullptr);
      EXPECT_EQ(c.IndexToMethod(static_cast<long>(table.size())), nullptr);
      for (const char* probe : names) {
        auto it = leads.find(Upper(probe));
        KQSClass_Method* led = c.NameToMethod(probe);
        ASSERT_EQ(led, it == leads.end() ? nullptr : it->second) << probe;
        if (led != nullptr) {
          ASSERT_EQ(Upper(led->SlotName()), Upper(probe));  // alive and intact
        }
      }
    }
    EXPECT_EQ(c.NameToMethod(nullptr), nullptr);
    EXPECT_EQ(c.NameToAttribute(table.back().c_str()), nullptr);  // the tables are separate
    EXPECT_FALSE(c.HasAttributes());
    EXPECT_FALSE(c.HasClassMethods());
    EXPECT_FALSE(c.HasClassAttributes());
    EXPECT_FALSE(c.HasConstants());
  }
  EXPECT_EQ(live, 0);
}

TEST(KQSClassFeatures, NamesAndPositionsHaveLimits) {
  TestClass c("Refuse");
  const std::string longest(32766, 'n'), tooLong(32767, 'n');
  ExpectDebug({"KQSClass::AddMethod( Refuse ) bad feature name\n", "KQSClass::AddAttribute( Refuse ) bad feature name\n",
               "KQSClass::AddConstant( Refuse.Far ) index out of range=32767\n",
               "KQSClass::AddClassMethod( Refuse.Far ) index out of range=2147483647\n"},
              [&] {
                EXPECT_EQ(c.AddMethod(nullptr, nullptr, nullptr, -1, 1, false), nullptr);
                EXPECT_EQ(c.AddAttribute(tooLong.c_str(), nullptr, nullptr, -1, 1, false), nullptr);
                EXPECT_EQ(c.AddConstant("Far", KQSValue(1), 32767, 1), nullptr);
                EXPECT_EQ(c.AddClassMethod("Far", nullptr, nullptr, 2147483647L, 1, false), nullptr);
              });
  EXPECT_FALSE(c.HasMethods());
  EXPECT_FALSE(c.HasAttributes());
  EXPECT_FALSE(c.HasConstants());
  EXPECT_FALSE(c.HasClassMethods());
  // The longest name at the last position is taken; appending past it is not.
  ExpectDebug({"KQSClass::AddAttribute( Refuse.Next ) index out of range=32767\n"}, [&] {
    ASSERT_NE(c.AddAttribute(longest.c_str(), nullptr, nullptr, 32766, 1, false), nullptr);
    EXPECT_EQ(c.NameToAttribute(longest.c_str())->SlotIndex(), 32766);
    EXPECT_EQ(c.AddAttribute("Next", nullptr, nullptr, -1, 1, false), nullptr);
  });
}

// FeatBase <- FeatMiddle <- FeatLeaf; FeatAlien has another ImplType. Own
// features, then the extends depth first; FeatAlien is reported, not searched.
// (Other kinds share the search; the dispatch tests inherit one of each.)
TEST(KQSClassInheritance, SearchOrderAndWhatIsNotSearched) {
  auto registered = [](const char* name, long implType = 2) {
    auto* c = Keep(new TestClass(name));
    c->ImplPut(implType, 0, nullptr);
    EXPECT_TRUE(KQSValue::ProcessEnvironment()->AddClass(c));
    return c;
  };
  TestClass *base = registered("FeatBase"), *alien = registered("FeatAlien", 4), *other = registered("FeatOther");
  TestClass *middle = registered("FeatMiddle"), *leaf = registered("FeatLeaf"), *impl = registered("FeatImpl");
  for (const char* m : {"Greet", "Both"}) base->AddMethod(m, nullptr, nullptr, -1, 1, false);
  base->AddConstant("Limit", KQSValue(5), -1, 1);
  for (const char* m : {"Both", "Strange"}) alien->AddMethod(m, nullptr, nullptr, -1, 1, false);
  for (const char* m : {"Both", "Extra"}) other->AddMethod(m, nullptr, nullptr, -1, 1, false);
  middle->AddExtends("FeatBase");
  middle->AddExtends("FeatLeaf");  // a cycle
  middle->AddMethod("Greet", nullptr, nullptr, -1, 1, false);  // overrides
  for (const char* e : {"NoSuchClass", "FeatAlien", "FeatMiddle", "FeatOther"}) leaf->AddExtends(e);
  impl->AddImplements("FeatOther");
  auto alienLine = [](const char* op, const char* name) {
    return std::string("KQSClass::") + op + "( FeatLeaf." + name + " ) dissimilar impltypes for extends: FeatAlien\n";
  };
  ExpectDebug({alienLine("FindMethod", "greet"), alienLine("FindMethod", "BOTH"), alienLine("FindMethod", "extra"),
               alienLine("FindMethod", "Strange"), alienLine("FindMethod", "Nothing")},
              [&] {
                EXPECT_EQ(leaf->FindMethod("greet"), middle->NameToMethod("Greet"));  // the nearer one
                EXPECT_EQ(leaf->FindMethod("BOTH"), base->NameToMethod("Both"));  // FeatMiddle's chain first
                EXPECT_EQ(leaf->FindMethod("extra"), other->NameToMethod("Extra"));
                EXPECT_EQ(leaf->FindMethod("Strange"), nullptr);
                EXPECT_EQ(leaf->FindConstant("Limit"), nullptr);
                EXPECT_EQ(leaf->NameToMethod("Greet"), nullptr);  // NameTo* is this class only
                EXPECT_EQ(middle->FindMethod("Nothing"), nullptr);  // through FeatLeaf, once
                EXPECT_EQ(impl->FindMethod("Extra"), nullptr);
              });
  // Installation resolves the names and reports the ones it cannot use.
  TestClass c("FeatInstalling");
  for (const char* e : {"FeatMiddle", "NoSuchBase", "FeatAlien"}) c.AddExtends(e);
  for (const char* i : {"FeatOther", "NoSuchIface", "FeatAlien"}) c.AddImplements(i);
  const std::string kLine = "KQSClass::CompleteClassInstallation( FeatInstalling ) ";
  ExpectDebug({kLine + "extends not found: NoSuchBase\n", kLine + "dissimilar impltypes for extends: FeatAlien\n",
               kLine + "Implements not found: NoSuchIface\n", kLine + "dissimilar impltypes for Implements: FeatAlien\n"},
              [&] { c.CompleteClassInstallation(); });
  EXPECT_EQ(c.ExtendsClasses(), (std::vector<const KQSClass*>{middle}));
  EXPECT_EQ(c.ImplementsClasses(), (std::vector<const KQSClass*>{other}));
}

// Views in position order, holes skipped; constants give copies; reset keeps
// the functors it does not own; the setters skip entries they cannot use.
TEST(KQSClassReflectionViews, ViewsConstantsResetAndWhatSettersSkip) {
  TestClass c("Rich");
  int live = 0;
  MethodFn* shared = Functor(&live);
  c.AddExtends("FeatBase");
  c.AddExtends("Elsewhere");
  c.AddImplements("Printable");
  c.AddMethod("Run", "<AE>Boolean(Dynamic,Widget)", nullptr, 1, 1, false);
  c.AddMethod("Stop", nullptr, shared, 4, 1, false);
  c.AddMethod("Pause", "Void()", nullptr, 0, 1, false);
  c.AddAttribute("Name", "String", nullptr, -1, 1, false);
  c.AddClassMethod("Make", nullptr, nullptr, -1, 1, false);
  c.AddClassAttribute("Count", nullptr, nullptr, -1, 1, false);
  for (const auto& [name, value, at] : {std::tuple{"Label", KQSValue("it's"), -1}, {"None", KQSValue(), 3}, {"Seven", KQSValue(7), -1}})
    c.AddConstant(name, value, at, 1);
  EXPECT_EQ(Streamed(c.MethodsValue()), "{{'Pause',0,1,'Void()'},{'Run',1,1,'<AE>Boolean(Dynamic,Widget)'},{'Stop',4,1,?}}");
  EXPECT_EQ(Streamed(c.ConstantsValue()), "{{'Label',0,1,'it\\'s'},{'None',3,1,?},{'Seven',4,1,7}}");
  EXPECT_EQ(Streamed(c.ExtendsValue()), "{'FeatBase','Elsewhere'}");
  EXPECT_EQ(Streamed(c.ImplementsValue()), "{'Printable'}");
  KQSValue text("limit");
  auto* s = c.AddConstant("Text", text, -1, 1);
  const KQSValue first = s->Value(), second = s->Value();
  // A constant's value is a fresh copy each time.
  EXPECT_EQ(Str(first.String()), "limit");
  EXPECT_NE(first.Instance(), second.Instance());
  EXPECT_NE(first.Instance(), text.Instance());
  ExpectDebug({"KQSClass_Constant::Value... Unknown datatype = -4 for builtin constant. Value = " + Streamed(KQSValue(2.5)) + "\n"},
              [&] { EXPECT_TRUE(c.AddConstant("Pi", KQSValue(2.5), -1, 1)->Value().IsUndefined()); });
  c.ResetClassDefinition();
  EXPECT_EQ(live, 1);  // the host keeps it
  delete shared;
  EXPECT_TRUE(c.Extends().empty());
  EXPECT_TRUE(c.Implements().empty());
  EXPECT_TRUE(c.Methods().empty());
  EXPECT_TRUE(c.ClassMethods().empty());
  EXPECT_TRUE(c.Attributes().empty());
  EXPECT_TRUE(c.ClassAttributes().empty());
  EXPECT_EQ(c.NameToConstant("Label"), nullptr);
  const KQSValue threeParts = KQSValue::List(KQSValue("Short"), KQSValue("Integer"), KQSValue(0));
  KQSValue entries = KQSValue::List(threeParts, KQSValue::List(KQSValue("Ok"), KQSValue("Integer(String)"), KQSValue(2), KQSValue(1)),
                                    KQSValue::List(KQSValue("Sig"), KQSValue(5), KQSValue(0), KQSValue(1)));
  entries.ListAppendValue(KQSValue::List(KQSValue("NoSig"), KQSValue(), KQSValue(-1), KQSValue(1)));
  const std::string kLine = "KQSClassReflection::Methods( Proto ) ";
  KQSClassReflection p;
  p.ClassName("Proto");
  ExpectDebug({kLine + "not a List: 3\n", "KQSClassReflection::Extends( Proto ) bad entry 2: 4\n",
               kLine + "bad entry 1: " + Streamed(threeParts) + "\n", kLine + "bad signature in entry 3: 5\n"},
              [&] {
                p.Methods(KQSValue(3));
                p.Extends(KQSValue::List(KQSValue("Good"), KQSValue(4)));
                p.Methods(entries);
              });
  EXPECT_EQ(Streamed(p.ExtendsValue()), "{'Good'}");
  EXPECT_EQ(Streamed(p.MethodsValue()), "{{'Ok',2,1,'Integer(String)'},{'NoSig',3,1,?}}");
}

}  // namespace
