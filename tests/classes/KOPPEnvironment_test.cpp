// The class registry: number ranges, name and number clashes, lookups with
// and without the host's class loader, the process tables, Classes() and
// CopyClassesFrom.
//
// The process tables are process-global and keep what a test adds, so every
// test that uses AddProcessClass picks names and numbers of its own (the
// built-in classes use 8 down to -132 and their script names).
#include "vxkernel/classes/KOPPEnvironment.h"

#include <gtest/gtest.h>

#include <cctype>
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
#include "vxkernel/values/KQSValue.h"

namespace {

using classes_test::Keep;
using classes_test::Lines;
using classes_test::Named;
using classes_test::RecordingLoader;
using classes_test::TestClass;

class KOPPEnvironmentTest : public ::testing::Test {
 protected:
  KOPPEnvironmentTest() : fEnv(Keep(new KOPPEnvironment())) {}

  // The numbers that Classes() lists, in its order, and checks the array
  // is 1-based and bounded.
  static std::vector<short> Numbers(KOPPEnvironment* environment) {
    std::unique_ptr<TArray<const KQSClass*>> list(environment->Classes());
    std::vector<short> numbers;
    if (list == nullptr) return numbers;
    EXPECT_EQ(list->GetAt(0), nullptr);
    EXPECT_EQ(list->GetAt(list->Count() + 1), nullptr);
    for (unsigned long i = 1; i <= list->Count(); ++i)
      numbers.push_back(list->GetAt(i)->ClassNumber());
    return numbers;
  }

  KOPPEnvironment* fEnv;
  DebugCapture fCapture;
};

// ===== AddClass and AddProcessClass: number ranges =====

TEST_F(KOPPEnvironmentTest, AddClassAdmitsOnly33To1000) {
  struct Case {
    short number;
    bool accepted;
  } cases[] = {{32, false}, {33, true},  {1000, true}, {1001, false},
               {0, false},  {-1, false}, {-250, false}};
  for (const Case& k : cases) {
    std::string name = "Range" + std::to_string(k.number);
    TestClass* c = Named(name.c_str(), k.number);
    fCapture.Clear();
    EXPECT_EQ(fEnv->AddClass(c), k.accepted) << k.number;
    EXPECT_EQ(c->IsInstalled(), k.accepted) << k.number;
    if (k.accepted) {
      EXPECT_EQ(fCapture.Texts(), Lines{}) << k.number;
      EXPECT_EQ(fEnv->LookupByNumber(k.number), c);
      EXPECT_EQ(fEnv->LookupByNameNoLoad(KString(name.c_str())), c);
    } else {
      EXPECT_EQ(fCapture.Texts(),
                Lines{"KOPPEnvironment::AddClass()...ClassNumber out of range=" +
                      std::to_string(k.number) + "...Use AddProcessClass instead.\n"});
      EXPECT_EQ(fEnv->LookupByNameNoLoad(KString(name.c_str())), nullptr) << k.number;
    }
  }
  EXPECT_EQ(Numbers(fEnv), (std::vector<short>{33, 1000}));
}

TEST_F(KOPPEnvironmentTest, AddClassWithoutNumberRegistersTheNameOnly) {
  TestClass* c = Named("NameOnly", KQSClass::kNoClassNumber);
  EXPECT_TRUE(fEnv->AddClass(c));
  EXPECT_TRUE(c->IsInstalled());
  EXPECT_EQ(fEnv->LookupByName("nameonly"), c);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("NAMEONLY"), c);
  EXPECT_EQ(Numbers(fEnv), std::vector<short>{});
  EXPECT_EQ(fCapture.Texts(), Lines{});
  EXPECT_EQ(fEnv->LookupByNumber(KQSClass::kNoClassNumber), nullptr);
  EXPECT_EQ(fCapture.Texts(),
            Lines{"KOPPEnvironment::LookupByNumber( KQSValue::kNoClassNumber )\n"});
}

TEST_F(KOPPEnvironmentTest, AddProcessClassAdmitsOnlyMinus250To32) {
  TestClass* high = Named("RegProcHigh", 33);
  TestClass* low = Named("RegProcLow", -251);
  EXPECT_FALSE(fEnv->AddProcessClass(high));
  EXPECT_FALSE(fEnv->AddProcessClass(low));
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::AddProcessClass()...ClassNumber out of range=33\n",
                   "KOPPEnvironment::AddProcessClass()...ClassNumber out of range=-251\n"}));
  EXPECT_FALSE(high->IsInstalled());
  EXPECT_EQ(fEnv->LookupByName("RegProcHigh"), nullptr);

  TestClass* first = Named("RegProcMinus250", -250);
  TestClass* last = Named("RegProc32", 32);
  fCapture.Clear();
  EXPECT_TRUE(fEnv->AddProcessClass(first));
  EXPECT_TRUE(fEnv->AddProcessClass(last));
  EXPECT_EQ(fCapture.Texts(), Lines{});
  EXPECT_TRUE(first->IsInstalled());
  EXPECT_TRUE(last->IsInstalled());
  // The process tables are shared by every environment.
  KOPPEnvironment other;
  EXPECT_EQ(other.LookupByNumber(-250), first);
  EXPECT_EQ(other.LookupByNumber(32), last);
  EXPECT_EQ(other.LookupByName("regprocminus250"), first);
  EXPECT_EQ(KQSValue::NumberToClass(32), last);
  EXPECT_EQ(KQSValue::NameToClass("REGPROC32"), last);
  // ... and are not part of an environment's own list.
  EXPECT_EQ(Numbers(&other), std::vector<short>{});
  EXPECT_EQ(Numbers(fEnv), std::vector<short>{});
}

TEST_F(KOPPEnvironmentTest, AddProcessClassWithoutNumberRegistersTheNameOnly) {
  TestClass* c = Named("RegProcNameOnly", KQSClass::kNoClassNumber);
  EXPECT_TRUE(fEnv->AddProcessClass(c));
  EXPECT_TRUE(c->IsInstalled());
  KOPPEnvironment other;
  EXPECT_EQ(other.LookupByName("regprocnameonly"), c);
  EXPECT_EQ(other.LookupByNameNoLoad("REGPROCNAMEONLY"), c);
  EXPECT_EQ(fCapture.Texts(), Lines{});
}

// ===== Clashes =====

TEST_F(KOPPEnvironmentTest, NamesClashWhateverTheirCase) {
  TestClass* widget = Named("Widget", 40);
  ASSERT_TRUE(fEnv->AddClass(widget));
  TestClass* upper = Named("WIDGET", 41);
  EXPECT_FALSE(fEnv->AddClass(upper));
  EXPECT_EQ(fCapture.Texts(),
            Lines{"KOPPEnvironment::AddClass...Class name already exists = 40/Widget/WIDGET\n"});
  EXPECT_FALSE(upper->IsInstalled());
  EXPECT_EQ(fEnv->LookupByNumber(41), nullptr);  // nothing of the refused class stays
  EXPECT_EQ(fEnv->LookupByName("wIdGeT"), widget);

  fCapture.Clear();
  EXPECT_FALSE(fEnv->AddClass(Named("wIdGeT", KQSClass::kNoClassNumber)));
  EXPECT_EQ(fCapture.Texts(),
            Lines{"KOPPEnvironment::AddClass...Class name already exists = 40/Widget/wIdGeT\n"});
}

TEST_F(KOPPEnvironmentTest, TakenNumberIsRefusedUnderANewName) {
  TestClass* widget = Named("Widget", 40);
  ASSERT_TRUE(fEnv->AddClass(widget));
  TestClass* gadget = Named("Gadget", 40);
  EXPECT_FALSE(fEnv->AddClass(gadget));
  EXPECT_EQ(fCapture.Texts(),
            Lines{"KOPPEnvironment::AddClass...Class number already exists = 40/Gadget\n"});
  EXPECT_FALSE(gadget->IsInstalled());
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Gadget"), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(40), widget);
}

TEST_F(KOPPEnvironmentTest, NameClashIsReportedBeforeNumberClash) {
  ASSERT_TRUE(fEnv->AddClass(Named("Widget", 40)));
  ASSERT_TRUE(fEnv->AddClass(Named("Sprocket", 42)));
  // Both the name and the number are taken (by different classes).
  EXPECT_FALSE(fEnv->AddClass(Named("sprocket", 40)));
  EXPECT_EQ(
      fCapture.Texts(),
      Lines{"KOPPEnvironment::AddClass...Class name already exists = 42/Sprocket/sprocket\n"});
  // A taken name is refused even when its number is free.
  fCapture.Clear();
  EXPECT_FALSE(fEnv->AddClass(Named("WIDGET", 43)));
  EXPECT_EQ(fCapture.Texts(),
            Lines{"KOPPEnvironment::AddClass...Class name already exists = 40/Widget/WIDGET\n"});
  EXPECT_EQ(Numbers(fEnv), (std::vector<short>{40, 42}));
}

TEST_F(KOPPEnvironmentTest, ProcessClashesUseTheirOwnMessages) {
  TestClass* original = Named("ProcClash", -240);
  ASSERT_TRUE(fEnv->AddProcessClass(original));
  EXPECT_FALSE(fEnv->AddProcessClass(Named("PROCCLASH", -239)));
  EXPECT_FALSE(fEnv->AddProcessClass(Named("ProcClashOther", -240)));
  EXPECT_FALSE(fEnv->AddProcessClass(Named("procclash", -240)));
  EXPECT_EQ(
      fCapture.Texts(),
      (Lines{
          "KOPPEnvironment::AddProcessClass...Class name already exists = "
          "-240/ProcClash/PROCCLASH\n",
          "KOPPEnvironment::AddProcessClass...Class number already exists = -240/ProcClashOther\n",
          "KOPPEnvironment::AddProcessClass...Class name already exists = "
          "-240/ProcClash/procclash\n"}));
  EXPECT_EQ(fEnv->LookupByNumber(-239), nullptr);
  EXPECT_EQ(fEnv->LookupByName("procclashother"), nullptr);
}

TEST_F(KOPPEnvironmentTest, ProcessClassesClashWithTheBuiltInOnes) {
  EXPECT_FALSE(fEnv->AddProcessClass(Named("integer", -236)));
  EXPECT_FALSE(fEnv->AddProcessClass(Named("NotAnInteger", 2)));
  EXPECT_EQ(
      fCapture.Texts(),
      (Lines{"KOPPEnvironment::AddProcessClass...Class name already exists = 2/Integer/integer\n",
             "KOPPEnvironment::AddProcessClass...Class number already exists = 2/NotAnInteger\n"}));
  EXPECT_EQ(fEnv->LookupByNumber(2), KQSValue::Class_Integer());
}

TEST_F(KOPPEnvironmentTest, LongNamesAreKeptWhole) {
  std::string name(5000, 'n');
  name += "Tail";
  TestClass* c = Named(name.c_str(), 95);
  ASSERT_TRUE(fEnv->AddClass(c));
  std::string shout(name);
  for (char& ch : shout) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_EQ(fEnv->LookupByName(KString(shout.c_str())), c);
  // A name that differs only past the first few thousand bytes is another.
  std::string near(name.substr(0, name.size() - 1) + "X");
  EXPECT_EQ(fEnv->LookupByNameNoLoad(KString(near.c_str())), nullptr);
  EXPECT_FALSE(fEnv->AddClass(Named(shout.c_str(), 96)));
  EXPECT_EQ(fCapture.Texts(), Lines{"KOPPEnvironment::AddClass...Class name already exists = 95/" +
                                    name + "/" + shout + "\n"});
}

// ===== The installed mark =====

TEST_F(KOPPEnvironmentTest, ClassInstalledElsewhereIsAddedWithAQuestion) {
  TestClass* shared = Named("Shared", 60);
  ASSERT_TRUE(fEnv->AddClass(shared));
  KOPPEnvironment* second = Keep(new KOPPEnvironment());
  EXPECT_TRUE(second->AddClass(shared));
  EXPECT_EQ(fCapture.Texts(), Lines{"KOPPEnvironment::AddClass( Shared ) already installed?\n"});
  EXPECT_EQ(second->LookupByNumber(60), shared);
  EXPECT_EQ(second->LookupByName("SHARED"), shared);
  EXPECT_TRUE(shared->IsInstalled());
}

TEST_F(KOPPEnvironmentTest, InstalledClassIsAddedToTheProcessTablesWithAQuestion) {
  TestClass* c = Named("PreInstalled", KQSClass::kNoClassNumber);
  ASSERT_TRUE(fEnv->AddClass(c));
  c->ClassNumber(-238);
  EXPECT_TRUE(fEnv->AddProcessClass(c));
  EXPECT_EQ(fCapture.Texts(),
            Lines{"KOPPEnvironment::AddProcessClass( PreInstalled ) already installed?\n"});
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
  const short numbers[] = {31, 32, 33, 34, 35, 36, 500, 999, 1000, 1001, KQSClass::kNoClassNumber};
  std::map<std::string, const KQSClass*> byName;  // upper-cased name
  std::map<short, const KQSClass*> byNumber;
  for (int step = 0; step < 400; ++step) {
    std::string name = names[random() % std::size(names)];
    for (char& ch : name)
      if (random() % 2 != 0) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    std::string upper = name;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    short number = numbers[random() % std::size(numbers)];
    TestClass* c = Named(name.c_str(), number);

    bool inRange = number == KQSClass::kNoClassNumber || (number >= 33 && number <= 1000);
    bool expected = inRange && byName.count(upper) == 0 &&
                    (number == KQSClass::kNoClassNumber || byNumber.count(number) == 0);
    fCapture.Clear();
    ASSERT_EQ(fEnv->AddClass(c), expected) << "step " << step << " " << name << "/" << number;
    ASSERT_EQ(fCapture.Texts().size(), expected ? 0u : 1u) << "step " << step;
    if (expected) {
      byName[upper] = c;
      if (number != KQSClass::kNoClassNumber) byNumber[number] = c;
    }
  }
  for (const auto& [upper, c] : byName) {
    std::string lower = upper;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(fEnv->LookupByNameNoLoad(KString(lower.c_str())), c) << upper;
  }
  std::vector<short> listed;
  for (const auto& [number, c] : byNumber) {
    EXPECT_EQ(fEnv->LookupByNumber(number), c) << number;
    listed.push_back(number);
  }
  EXPECT_EQ(Numbers(fEnv), listed);
}

// ===== Lookups =====

TEST_F(KOPPEnvironmentTest, ProcessClassShadowsAnEnvironmentClassOfTheSameName) {
  TestClass* process = Named("Shadowed", -237);
  ASSERT_TRUE(fEnv->AddProcessClass(process));
  TestClass* own = Named("SHADOWED", 71);
  EXPECT_TRUE(fEnv->AddClass(own));  // the process tables are not consulted
  EXPECT_EQ(fCapture.Texts(), Lines{});
  EXPECT_EQ(fEnv->LookupByName("shadowed"), process);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Shadowed"), process);
  EXPECT_EQ(fEnv->LookupByNumber(71), own);
}

TEST_F(KOPPEnvironmentTest, BuiltInNameShadowsAnEnvironmentString) {
  TestClass* own = Named("string", 72);
  EXPECT_TRUE(fEnv->AddClass(own));
  EXPECT_EQ(fCapture.Texts(), Lines{});
  ASSERT_NE(KQSValue::Class_String(), nullptr);
  EXPECT_EQ(fEnv->LookupByName("STRING"), KQSValue::Class_String());
  EXPECT_EQ(fEnv->LookupByName("string"), KQSValue::Class_String());
  EXPECT_EQ(fEnv->LookupByNumber(72), own);
}

TEST_F(KOPPEnvironmentTest, LookupByNumberRanges) {
  ASSERT_TRUE(fEnv->AddClass(Named("At33", 33)));
  ASSERT_TRUE(fEnv->AddClass(Named("At1000", 1000)));
  EXPECT_EQ(fEnv->LookupByNumber(1001), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(5000), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(32767), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(28670), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(34), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(-249), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(3), nullptr);  // ObjRef has no built-in class
  EXPECT_EQ(fCapture.Texts(), Lines{});         // misses are silent

  EXPECT_STREQ(fEnv->LookupByNumber(33)->ClassName(), "At33");
  EXPECT_STREQ(fEnv->LookupByNumber(1000)->ClassName(), "At1000");
  EXPECT_EQ(fEnv->LookupByNumber(2), KQSValue::Class_Integer());
  EXPECT_EQ(fEnv->LookupByNumber(-132), KQSValue::Class_TypeCode());

  EXPECT_EQ(fEnv->LookupByNumber(-251), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(-32768), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(KQSClass::kNoClassNumber), nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::LookupByNumber...ClassNumber too low=-251\n",
                   "KOPPEnvironment::LookupByNumber...ClassNumber too low=-32768\n",
                   "KOPPEnvironment::LookupByNumber( KQSValue::kNoClassNumber )\n"}));
}

TEST_F(KOPPEnvironmentTest, LoaderIsAskedOnAMissWithTheNameAsGiven) {
  auto* loader = new RecordingLoader();
  TestClass* loaded = Named("FromLoader", KQSClass::kNoClassNumber);
  loader->fAnswers["MiXeD.Name"] = loaded;
  fEnv->Loader(loader);
  EXPECT_EQ(fEnv->Loader(), loader);
  TestClass* own = Named("Registered", 80);
  ASSERT_TRUE(fEnv->AddClass(own));

  EXPECT_EQ(fEnv->LookupByName("MiXeD.Name"), loaded);
  EXPECT_EQ(fEnv->LookupByName("nowhere"), nullptr);
  EXPECT_EQ(loader->fAsked, (std::vector<std::string>{"MiXeD.Name", "nowhere"}));

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
  bool firstGone = false;
  bool secondGone = false;
  auto* environment = new KOPPEnvironment();
  EXPECT_EQ(environment->Loader(), nullptr);
  auto* first = new RecordingLoader(&firstGone);
  auto* second = new RecordingLoader(&secondGone);
  environment->Loader(first);
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
  EXPECT_EQ(loader->fAsked, (std::vector<std::string>{"xlate:Mod", "source:Src"}));
}

TEST_F(KOPPEnvironmentTest, DelegatingLoaderAsksItsTargetIncludingTheTargetsLoader) {
  KOPPClassDelegatingLoader orphan(nullptr);
  EXPECT_EQ(orphan.LoadClassByName("Anything"), nullptr);

  TestClass* registered = Named("InTarget", 90);
  ASSERT_TRUE(fEnv->AddClass(registered));
  auto* targetLoader = new RecordingLoader();
  TestClass* deep = Named("Deep", KQSClass::kNoClassNumber);
  targetLoader->fAnswers["deepName"] = deep;
  fEnv->Loader(targetLoader);

  KOPPClassDelegatingLoader delegating(fEnv);
  EXPECT_EQ(delegating.Target(), fEnv);
  EXPECT_EQ(delegating.LoadClassByName("intarget"), registered);
  EXPECT_EQ(delegating.LoadClassByName("deepName"), deep);
  EXPECT_EQ(delegating.LoadClassByName("Boolean"), KQSValue::Class_Boolean());
  EXPECT_EQ(targetLoader->fAsked, std::vector<std::string>{"deepName"});
  EXPECT_FALSE(delegating.Enable());
  KString s;
  EXPECT_FALSE(delegating.LoadSource("deepName", s));
}

// ===== Classes() and CopyClassesFrom =====

TEST_F(KOPPEnvironmentTest, ClassesListsNumberedClassesInAscendingOrder) {
  EXPECT_EQ(Numbers(fEnv), std::vector<short>{});
  for (short n : {900, 33, 500, 1000, 34})
    ASSERT_TRUE(fEnv->AddClass(Named(("Listed" + std::to_string(n)).c_str(), n)));
  ASSERT_TRUE(fEnv->AddClass(Named("ListedWithoutNumber", KQSClass::kNoClassNumber)));
  std::unique_ptr<TArray<const KQSClass*>> list(fEnv->Classes());
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->Count(), 5u);
  EXPECT_STREQ(list->GetAt(1)->ClassName(), "Listed33");
  EXPECT_STREQ(list->GetAt(5)->ClassName(), "Listed1000");
  EXPECT_EQ(Numbers(fEnv), (std::vector<short>{33, 34, 500, 900, 1000}));
  // Each call gives a new array of its own.
  std::unique_ptr<TArray<const KQSClass*>> again(fEnv->Classes());
  EXPECT_NE(again.get(), list.get());
  EXPECT_EQ(again->Count(), 5u);
}

class CopyClassesTest : public KOPPEnvironmentTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CopyClassesTest, CopiesNumberedClassesAndDelegatesTheRest) {
  KOPPEnvironment* source = Keep(new KOPPEnvironment());
  TestClass* alpha = Named("Alpha", 40);
  TestClass* beta = Named("Beta", 41);
  TestClass* gamma = Named("Gamma", KQSClass::kNoClassNumber);
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
  EXPECT_EQ(Numbers(fEnv), (std::vector<short>{40, 41, 1000}));

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
  EXPECT_EQ(Numbers(source), (std::vector<short>{40, 41, 1000}));
  EXPECT_EQ(source->Loader(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutConcurrency, CopyClassesTest, ::testing::Bool());

TEST_F(KOPPEnvironmentTest, CopyFromAnEmptySourceOnlySetsTheLoader) {
  KOPPEnvironment* source = Keep(new KOPPEnvironment());
  TestClass* own = Named("StaysHere", 45);
  ASSERT_TRUE(fEnv->AddClass(own));
  fEnv->CopyClassesFrom(source);
  EXPECT_EQ(fCapture.Texts(), Lines{});
  EXPECT_EQ(Numbers(fEnv), std::vector<short>{45});
  ASSERT_NE(dynamic_cast<KOPPClassDelegatingLoader*>(fEnv->Loader()), nullptr);
  EXPECT_EQ(fEnv->LookupByName("nothing anywhere"), nullptr);
}

// ===== Prototypes and the value-side helpers =====

TEST_F(KOPPEnvironmentTest, NewClassGivesAnEmptyPrototypeOwnedByTheCaller) {
  std::unique_ptr<KQSClassReflection> a(fEnv->NewClass());
  std::unique_ptr<KQSClassReflection> b(fEnv->NewClass());
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a.get(), b.get());
  EXPECT_TRUE(a->ImplReflectionOnly());
  EXPECT_FALSE(a->IsInstalled());
  EXPECT_EQ(a->ClassNumber(), KQSClass::kNoClassNumber);
  EXPECT_STREQ(a->ClassName(), "");
  EXPECT_EQ(Numbers(fEnv), std::vector<short>{});
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
