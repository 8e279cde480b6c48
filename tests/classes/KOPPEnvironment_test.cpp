// The class registry: number ranges, name and number clashes, lookups with
// and without the host's class loader, the process tables, Classes() and
// CopyClassesFrom.
//
// The process tables are process-global and keep what a test adds, so every
// test that uses AddProcessClass picks names and numbers of its own (the
// built-in classes use 8 down to -132 and their script names).
#include "vxkernel/classes/KOPPEnvironment.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "classes/class_test_support.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/values/KQSValue.h"

namespace {

using classes_test::Keep;
using classes_test::Lines;
using classes_test::Lower;
using classes_test::Named;
using classes_test::RecordingLoader;
using classes_test::TestClass;
using classes_test::Upper;
using Numbers_t = std::vector<short>;
constexpr short kNone = KQSClass::kNoClassNumber;

class KOPPEnvironmentTest : public ::testing::Test {
 protected:
  KOPPEnvironmentTest() : fEnv(Keep(new KOPPEnvironment())) {}

  // The numbers that Classes() lists, in its order; checks that the array
  // is 1-based and bounded.
  static Numbers_t Numbers(KOPPEnvironment* environment) {
    std::unique_ptr<TArray<const KQSClass*>> list(environment->Classes());
    Numbers_t numbers;
    if (list == nullptr) return numbers;
    EXPECT_EQ(list->GetAt(0), nullptr);
    EXPECT_EQ(list->GetAt(list->Count() + 1), nullptr);
    for (unsigned long i = 1; i <= list->Count(); ++i)
      numbers.push_back(list->GetAt(i)->ClassNumber());
    return numbers;
  }

  // Adds classes one by one; each step expects either silence (accepted) or
  // exactly the given line (refused, leaving the class uninstalled).
  struct Step {
    const char* name;
    short number;
    const char* refusal;  // nullptr: accepted
  };
  void Run(bool process, std::initializer_list<Step> steps) {
    for (const Step& s : steps) {
      SCOPED_TRACE(std::string(s.name) + "/" + std::to_string(s.number));
      TestClass* c = Named(s.name, s.number);
      fCapture.Clear();
      EXPECT_EQ(process ? fEnv->AddProcessClass(c) : fEnv->AddClass(c), s.refusal == nullptr);
      EXPECT_EQ(c->IsInstalled(), s.refusal == nullptr);
      EXPECT_EQ(fCapture.Texts(), s.refusal == nullptr ? Lines{} : Lines{s.refusal});
    }
  }

  KOPPEnvironment* fEnv;
  DebugCapture fCapture;
};

// ===== Number ranges =====

// The model test below covers acceptance around both ends; these are the lines.
TEST_F(KOPPEnvironmentTest, AddClassAdmitsOnly33To1000) {
  std::vector<std::string> refusals;
  for (short n : {32, 1001, 0, -1, -250})
    refusals.push_back("KOPPEnvironment::AddClass()...ClassNumber out of range=" +
                       std::to_string(n) + "...Use AddProcessClass instead.\n");
  Run(false, {{"Range32", 32, refusals[0].c_str()},
              {"Range33", 33, nullptr},
              {"Range1000", 1000, nullptr},
              {"Range1001", 1001, refusals[1].c_str()},
              {"Range0", 0, refusals[2].c_str()},
              {"RangeMinus1", -1, refusals[3].c_str()},
              {"RangeMinus250", -250, refusals[4].c_str()}});
  EXPECT_EQ(fEnv->LookupByNameNoLoad("range0"), nullptr);
  EXPECT_STREQ(fEnv->LookupByNameNoLoad("range1000")->ClassName(), "Range1000");
  EXPECT_EQ(Numbers(fEnv), (Numbers_t{33, 1000}));
}

TEST_F(KOPPEnvironmentTest, AddProcessClassAdmitsOnlyMinus250To32) {
  const char* kRange = "KOPPEnvironment::AddProcessClass()...ClassNumber out of range=";
  Run(true, {{"RegProcHigh", 33, (kRange + std::string("33\n")).c_str()},
             {"RegProcLow", -251, (kRange + std::string("-251\n")).c_str()},
             {"RegProcMinus250", -250, nullptr},
             {"RegProc32", 32, nullptr},
             {"RegProcNameOnly", kNone, nullptr}});
  EXPECT_EQ(fEnv->LookupByName("RegProcHigh"), nullptr);
  // The process tables are shared by every environment...
  KOPPEnvironment other;
  EXPECT_STREQ(other.LookupByNumber(-250)->ClassName(), "RegProcMinus250");
  EXPECT_EQ(other.LookupByName("regprocminus250"), other.LookupByNumber(-250));
  EXPECT_STREQ(KQSValue::NumberToClass(32)->ClassName(), "RegProc32");
  EXPECT_EQ(KQSValue::NameToClass("REGPROC32"), other.LookupByNumber(32));
  EXPECT_STREQ(other.LookupByNameNoLoad("REGPROCNAMEONLY")->ClassName(), "RegProcNameOnly");
  // ... and are not part of an environment's own list.
  EXPECT_EQ(Numbers(&other), Numbers_t{});
  EXPECT_EQ(Numbers(fEnv), Numbers_t{});
}

// ===== Clashes =====

TEST_F(KOPPEnvironmentTest, NameClashesWhateverTheCaseComeBeforeNumberClashes) {
  const char* kName = "KOPPEnvironment::AddClass...Class name already exists = ";
  const std::string widget = kName + std::string("40/Widget/");
  Run(false,
      {{"Widget", 40, nullptr},
       {"Sprocket", 42, nullptr},
       {"WIDGET", 41, (widget + "WIDGET\n").c_str()},
       {"wIdGeT", kNone, (widget + "wIdGeT\n").c_str()},
       {"Gadget", 40, "KOPPEnvironment::AddClass...Class number already exists = 40/Gadget\n"},
       // both the name and the number are taken, by different classes
       {"sprocket", 40, (kName + std::string("42/Sprocket/sprocket\n")).c_str()},
       {"WIDGET", 43, (widget + "WIDGET\n").c_str()}});
  // Nothing of a refused class stays.
  EXPECT_EQ(fEnv->LookupByNumber(41), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(43), nullptr);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Gadget"), nullptr);
  EXPECT_STREQ(fEnv->LookupByName("wIdGeT")->ClassName(), "Widget");
  EXPECT_EQ(fEnv->LookupByNumber(40), fEnv->LookupByName("widget"));
  EXPECT_EQ(Numbers(fEnv), (Numbers_t{40, 42}));
}

TEST_F(KOPPEnvironmentTest, ProcessClashesUseTheirOwnMessagesAndIncludeTheBuiltIns) {
  const char* kName = "KOPPEnvironment::AddProcessClass...Class name already exists = ";
  const char* kNumber = "KOPPEnvironment::AddProcessClass...Class number already exists = ";
  const std::string s[] = {kName + std::string("-240/ProcClash/PROCCLASH\n"),
                           kNumber + std::string("-240/ProcClashOther\n"),
                           kName + std::string("-240/ProcClash/procclash\n"),
                           kName + std::string("2/Integer/integer\n"),
                           kNumber + std::string("2/NotAnInteger\n")};
  Run(true, {{"ProcClash", -240, nullptr},
             {"PROCCLASH", -239, s[0].c_str()},
             {"ProcClashOther", -240, s[1].c_str()},
             {"procclash", -240, s[2].c_str()},
             {"integer", -236, s[3].c_str()},
             {"NotAnInteger", 2, s[4].c_str()}});
  EXPECT_EQ(fEnv->LookupByNumber(-239), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(-236), nullptr);
  EXPECT_EQ(fEnv->LookupByName("procclashother"), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(2), KQSValue::Class_Integer());
}

TEST_F(KOPPEnvironmentTest, LongNamesAreKeptWhole) {
  std::string name(5000, 'n');
  name += "Tail";
  TestClass* c = Named(name.c_str(), 95);
  ASSERT_TRUE(fEnv->AddClass(c));
  const std::string shout = Upper(name);
  EXPECT_EQ(fEnv->LookupByName(KString(shout.c_str())), c);
  // A name that differs only past the first few thousand bytes is another.
  std::string near(name.substr(0, name.size() - 1) + "X");
  EXPECT_EQ(fEnv->LookupByNameNoLoad(KString(near.c_str())), nullptr);
  EXPECT_FALSE(fEnv->AddClass(Named(shout.c_str(), 96)));
  EXPECT_EQ(fCapture.Texts(), Lines{"KOPPEnvironment::AddClass...Class name already exists = 95/" +
                                    name + "/" + shout + "\n"});
}

// ===== The installed mark and separate environments =====

TEST_F(KOPPEnvironmentTest, ClassInstalledElsewhereIsAddedWithAQuestion) {
  TestClass* shared = Named("Shared", 60);
  ASSERT_TRUE(fEnv->AddClass(shared));
  KOPPEnvironment* second = Keep(new KOPPEnvironment());
  EXPECT_TRUE(second->AddClass(shared));
  EXPECT_EQ(second->LookupByNumber(60), shared);
  EXPECT_EQ(second->LookupByName("SHARED"), shared);

  TestClass* c = Named("PreInstalled", kNone);
  ASSERT_TRUE(fEnv->AddClass(c));
  c->ClassNumber(-238);
  EXPECT_TRUE(fEnv->AddProcessClass(c));
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::AddClass( Shared ) already installed?\n",
                   "KOPPEnvironment::AddProcessClass( PreInstalled ) already installed?\n"}));
  KOPPEnvironment other;
  EXPECT_EQ(other.LookupByNumber(-238), c);
  EXPECT_EQ(other.LookupByNameNoLoad("preinstalled"), c);
}

TEST_F(KOPPEnvironmentTest, EnvironmentsKeepTheirOwnClasses) {
  TestClass* mine = Named("Mine", 70);
  ASSERT_TRUE(fEnv->AddClass(mine));
  KOPPEnvironment other;
  EXPECT_EQ(other.LookupByNumber(70), nullptr);
  EXPECT_EQ(other.LookupByName("Mine"), nullptr);
  // The same name and number are free in the other environment.
  TestClass* theirs = Named("MINE", 70);
  EXPECT_TRUE(other.AddClass(theirs));
  EXPECT_EQ(other.LookupByNumber(70), theirs);
  EXPECT_EQ(fEnv->LookupByNumber(70), mine);
  EXPECT_EQ(fCapture.Texts(), Lines{});
}

// A random sequence of AddClass calls against a model of the two tables.
TEST_F(KOPPEnvironmentTest, AddClassAgreesWithAMapModel) {
  // Names that no built-in class uses, so the process tables stay out of it.
  std::mt19937 random(20261206);
  const char* names[] = {"Apple", "Pear",  "Plum", "Fig",  "Kiwi",
                         "Lime",  "Peach", "Sloe", "Yuzu", "Quince"};
  const short numbers[] = {31, 32, 33, 34, 35, 36, 500, 999, 1000, 1001, kNone};
  std::map<std::string, const KQSClass*> byName;  // upper-cased name
  std::map<short, const KQSClass*> byNumber;
  for (int step = 0; step < 400; ++step) {
    std::string name = names[random() % std::size(names)];
    for (char& ch : name)
      if (random() % 2 != 0) ch = Upper(std::string(1, ch))[0];
    const std::string upper = Upper(name);
    short number = numbers[random() % std::size(numbers)];
    TestClass* c = Named(name.c_str(), number);

    bool inRange = number == kNone || (number >= 33 && number <= 1000);
    bool expected =
        inRange && byName.count(upper) == 0 && (number == kNone || byNumber.count(number) == 0);
    fCapture.Clear();
    ASSERT_EQ(fEnv->AddClass(c), expected) << "step " << step << " " << name << "/" << number;
    ASSERT_EQ(fCapture.Texts().size(), expected ? 0u : 1u) << "step " << step;
    if (expected) {
      byName[upper] = c;
      if (number != kNone) byNumber[number] = c;
    }
  }
  for (const auto& [upper, c] : byName)
    EXPECT_EQ(fEnv->LookupByNameNoLoad(KString(Lower(upper).c_str())), c) << upper;
  Numbers_t listed;
  for (const auto& [number, c] : byNumber) {
    EXPECT_EQ(fEnv->LookupByNumber(number), c) << number;
    listed.push_back(number);
  }
  EXPECT_EQ(Numbers(fEnv), listed);
}

// ===== Lookups =====

TEST_F(KOPPEnvironmentTest, ProcessAndBuiltInNamesShadowEnvironmentClasses) {
  TestClass* process = Named("Shadowed", -237);
  ASSERT_TRUE(fEnv->AddProcessClass(process));
  TestClass* own = Named("SHADOWED", 71);
  TestClass* string = Named("string", 72);
  EXPECT_TRUE(fEnv->AddClass(own));  // the process tables are not consulted
  EXPECT_TRUE(fEnv->AddClass(string));
  EXPECT_EQ(fCapture.Texts(), Lines{});
  EXPECT_EQ(fEnv->LookupByName("shadowed"), process);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Shadowed"), process);
  EXPECT_EQ(fEnv->LookupByNumber(71), own);
  ASSERT_NE(KQSValue::Class_String(), nullptr);
  EXPECT_EQ(fEnv->LookupByName("STRING"), KQSValue::Class_String());
  EXPECT_EQ(fEnv->LookupByName("string"), KQSValue::Class_String());
  EXPECT_EQ(fEnv->LookupByNumber(72), string);
}

TEST_F(KOPPEnvironmentTest, LookupByNumberRanges) {
  ASSERT_TRUE(fEnv->AddClass(Named("At33", 33)));
  ASSERT_TRUE(fEnv->AddClass(Named("At1000", 1000)));
  for (short n : {1001, 5000, 32767, 28670, 34, -249, 3})  // 3: ObjRef has no built-in class
    EXPECT_EQ(fEnv->LookupByNumber(n), nullptr) << n;
  EXPECT_EQ(fCapture.Texts(), Lines{});  // misses are silent

  EXPECT_STREQ(fEnv->LookupByNumber(33)->ClassName(), "At33");
  EXPECT_STREQ(fEnv->LookupByNumber(1000)->ClassName(), "At1000");
  EXPECT_EQ(fEnv->LookupByNumber(2), KQSValue::Class_Integer());
  EXPECT_EQ(fEnv->LookupByNumber(-132), KQSValue::Class_TypeCode());

  EXPECT_EQ(fEnv->LookupByNumber(-251), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(-32768), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(kNone), nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::LookupByNumber...ClassNumber too low=-251\n",
                   "KOPPEnvironment::LookupByNumber...ClassNumber too low=-32768\n",
                   "KOPPEnvironment::LookupByNumber( KQSValue::kNoClassNumber )\n"}));
}

TEST_F(KOPPEnvironmentTest, LoaderIsAskedOnAMissWithTheNameAsGiven) {
  auto* loader = new RecordingLoader();
  TestClass* loaded = Named("FromLoader", kNone);
  loader->fAnswers["MiXeD.Name"] = loaded;
  fEnv->Loader(loader);
  TestClass* own = Named("Registered", 80);
  ASSERT_TRUE(fEnv->AddClass(own));

  EXPECT_EQ(fEnv->LookupByName("MiXeD.Name"), loaded);
  EXPECT_EQ(fEnv->LookupByName("nowhere"), nullptr);
  EXPECT_EQ(loader->fAsked, (Lines{"MiXeD.Name", "nowhere"}));

  // Hits in the process tables or the environment never reach the loader.
  EXPECT_EQ(fEnv->LookupByName("registered"), own);
  EXPECT_EQ(fEnv->LookupByName("integer"), KQSValue::Class_Integer());
  // The loader's answer is not registered by the lookup, and NoLoad stops
  // before the loader.
  EXPECT_EQ(fEnv->LookupByNameNoLoad("MiXeD.Name"), nullptr);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("nowhere"), nullptr);
  EXPECT_EQ(loader->fAsked.size(), 2u);
  EXPECT_EQ(fCapture.Texts(), Lines{});
}

TEST_F(KOPPEnvironmentTest, TheEnvironmentOwnsItsLoader) {
  bool firstGone = false, secondGone = false;
  auto* environment = new KOPPEnvironment();
  EXPECT_EQ(environment->Loader(), nullptr);
  auto* second = new RecordingLoader(&secondGone);
  environment->Loader(new RecordingLoader(&firstGone));
  environment->Loader(second);
  EXPECT_TRUE(firstGone);
  EXPECT_FALSE(secondGone);
  EXPECT_EQ(environment->Loader(), second);
  delete environment;
  EXPECT_TRUE(secondGone);
}

TEST_F(KOPPEnvironmentTest, TranslationModulesAndSourcesComeFromTheLoader) {
  KQSValue module;
  KString source("unchanged");
  EXPECT_FALSE(fEnv->LoadXLateModule("Mod", module));
  EXPECT_FALSE(fEnv->LoadSource("Src", source));
  EXPECT_TRUE(module.IsUndefined());
  EXPECT_STREQ(static_cast<const char*>(source), "unchanged");

  auto* loader = new RecordingLoader();
  fEnv->Loader(loader);
  EXPECT_TRUE(fEnv->LoadXLateModule("Mod", module));
  EXPECT_TRUE(fEnv->LoadSource("Src", source));
  EXPECT_TRUE(module.IsInteger());
  EXPECT_EQ(static_cast<long>(module), 42);
  EXPECT_STREQ(static_cast<const char*>(source), "source of Src");
  EXPECT_EQ(loader->fAsked, (Lines{"xlate:Mod", "source:Src"}));
}

TEST_F(KOPPEnvironmentTest, DelegatingLoaderAsksItsTargetIncludingTheTargetsLoader) {
  KOPPClassDelegatingLoader orphan(nullptr);
  EXPECT_EQ(orphan.LoadClassByName("Anything"), nullptr);

  TestClass* registered = Named("InTarget", 90);
  ASSERT_TRUE(fEnv->AddClass(registered));
  auto* targetLoader = new RecordingLoader();
  TestClass* deep = Named("Deep", kNone);
  targetLoader->fAnswers["deepName"] = deep;
  fEnv->Loader(targetLoader);

  KOPPClassDelegatingLoader delegating(fEnv);
  EXPECT_EQ(delegating.Target(), fEnv);
  EXPECT_EQ(delegating.LoadClassByName("intarget"), registered);
  EXPECT_EQ(delegating.LoadClassByName("deepName"), deep);
  EXPECT_EQ(delegating.LoadClassByName("Boolean"), KQSValue::Class_Boolean());
  EXPECT_EQ(targetLoader->fAsked, Lines{"deepName"});
  EXPECT_FALSE(delegating.Enable());
  KString s;
  EXPECT_FALSE(delegating.LoadSource("deepName", s));
}

// ===== CopyClassesFrom =====

class CopyClassesTest : public KOPPEnvironmentTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CopyClassesTest, CopiesNumberedClassesAndDelegatesTheRest) {
  KOPPEnvironment* source = Keep(new KOPPEnvironment());
  TestClass* alpha = Named("Alpha", 40);
  TestClass* beta = Named("Beta", 41);
  TestClass* gamma = Named("Gamma", kNone);
  TestClass* omega = Named("Omega", 1000);
  for (TestClass* c : {alpha, beta, gamma, omega}) ASSERT_TRUE(source->AddClass(c));
  TestClass* other = Named("Other", 41);
  ASSERT_TRUE(fEnv->AddClass(other));
  bool oldLoaderGone = false;
  fEnv->Loader(new RecordingLoader(&oldLoaderGone));
  if (GetParam()) fEnv->ConcurrencyEnable();

  fCapture.Clear();
  fEnv->CopyClassesFrom(source);
  EXPECT_EQ(
      fCapture.Texts(),
      Lines{"KOPPEnvironment::CopyClassesFrom...destination already has a classnumber = 41\n "});

  EXPECT_EQ(fEnv->LookupByNumber(40), alpha);
  EXPECT_EQ(fEnv->LookupByNumber(41), other);
  EXPECT_EQ(fEnv->LookupByNumber(1000), omega);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("ALPHA"), alpha);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("omega"), omega);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("other"), other);
  EXPECT_EQ(Numbers(fEnv), (Numbers_t{40, 41, 1000}));

  // A class without number, and the one whose number was taken, are found
  // in the source through the new loader only.
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Gamma"), nullptr);
  EXPECT_EQ(fEnv->LookupByName("Gamma"), gamma);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("beta"), nullptr);
  EXPECT_EQ(fEnv->LookupByName("beta"), beta);
  EXPECT_TRUE(oldLoaderGone);
  auto* delegating = dynamic_cast<KOPPClassDelegatingLoader*>(fEnv->Loader());
  ASSERT_NE(delegating, nullptr);
  EXPECT_EQ(delegating->Target(), source);
  // The source is left as it was.
  EXPECT_EQ(Numbers(source), (Numbers_t{40, 41, 1000}));
  EXPECT_EQ(source->Loader(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutConcurrency, CopyClassesTest, ::testing::Bool());

TEST_F(KOPPEnvironmentTest, CopyFromAnEmptySourceOnlySetsTheLoader) {
  KOPPEnvironment* source = Keep(new KOPPEnvironment());
  ASSERT_TRUE(fEnv->AddClass(Named("StaysHere", 45)));
  fEnv->CopyClassesFrom(source);
  EXPECT_EQ(fCapture.Texts(), Lines{});
  EXPECT_EQ(Numbers(fEnv), Numbers_t{45});
  ASSERT_NE(dynamic_cast<KOPPClassDelegatingLoader*>(fEnv->Loader()), nullptr);
  EXPECT_EQ(fEnv->LookupByName("nothing anywhere"), nullptr);
}

// ===== Prototypes and the value-side helpers =====

TEST_F(KOPPEnvironmentTest, NewClassGivesAnUnregisteredPrototypeOwnedByTheCaller) {
  std::unique_ptr<KQSClassReflection> a(fEnv->NewClass());
  std::unique_ptr<KQSClassReflection> b(fEnv->NewClass());
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a.get(), b.get());
  EXPECT_TRUE(a->ImplReflectionOnly());
  EXPECT_FALSE(a->IsInstalled());
  EXPECT_EQ(Numbers(fEnv), Numbers_t{});
}

// Counts the completion that KQSValue::AddProcessClass may ask for.
class CompletingClass : public TestClass {
 public:
  CompletingClass(const char* name, short number) : TestClass(name, number) {}
  void CompleteClassDefinition() override { ++fCompleted; }
  int fCompleted = 0;
};

TEST_F(KOPPEnvironmentTest, ValueAddProcessClassCompletesOnRequestAfterSuccess) {
  ASSERT_NE(KQSValue::ProcessEnvironment(), nullptr);
  auto* completed = Keep(new CompletingClass("RegCompleted", -235));
  auto* plain = Keep(new CompletingClass("RegNotCompleted", -234));
  auto* refused = Keep(new CompletingClass("RegRefused", 500));
  EXPECT_TRUE(KQSValue::AddProcessClass(completed, 1));
  EXPECT_TRUE(KQSValue::AddProcessClass(plain, 0));
  EXPECT_FALSE(KQSValue::AddProcessClass(refused, 1));
  EXPECT_EQ(completed->fCompleted, 1);
  EXPECT_EQ(plain->fCompleted, 0);
  EXPECT_EQ(refused->fCompleted, 0);
  EXPECT_EQ(fCapture.Texts(),
            Lines{"KOPPEnvironment::AddProcessClass()...ClassNumber out of range=500\n"});
  EXPECT_EQ(KQSValue::NumberToClass(-235), completed);
  EXPECT_EQ(KQSValue::NameToClass("regnotcompleted"), plain);
  EXPECT_EQ(KQSValue::ProcessEnvironment()->LookupByNumber(-234), plain);
}

}  // namespace
