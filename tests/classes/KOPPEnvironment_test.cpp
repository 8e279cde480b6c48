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
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/values/KQSValue.h"

namespace {

using namespace classes_test;
using Numbers_t = std::vector<short>;
constexpr short kNone = KQSClass::kNoClassNumber;

// A host class loader that records what it is asked and answers from a
// table; it flags its own destruction, as the environment owns it.
class RecordingLoader : public KOPPClassLoader {
 public:
  explicit RecordingLoader(bool* destroyed = nullptr) : fDestroyed(destroyed) {}
  ~RecordingLoader() override {
    if (fDestroyed != nullptr) *fDestroyed = true;
  }
  const KQSClass* LoadClassByName(const char* name) override {
    fAsked.emplace_back(name);
    auto it = fAnswers.find(name);
    return it == fAnswers.end() ? nullptr : it->second;
  }
  bool LoadXLateModule(const char* name, KQSValue& out) override {
    fAsked.push_back(std::string("xlate:") + name);
    out = KQSValue(42);
    return true;
  }
  bool LoadSource(const char* name, KString& out) override {
    fAsked.push_back(std::string("source:") + name);
    out = KString("source of ") + name;
    return true;
  }
  Lines fAsked;
  std::map<std::string, const KQSClass*> fAnswers;

 private:
  bool* fDestroyed;
};

class KOPPEnvironmentTest : public ::testing::Test {
 protected:
  // The numbers Classes() lists, in its order; checks that the array is
  // 1-based and bounded.
  static Numbers_t Numbers(KOPPEnvironment* environment) {
    std::unique_ptr<TArray<const KQSClass*>> list(environment->Classes());
    Numbers_t numbers;
    EXPECT_EQ(list->GetAt(0), nullptr);
    EXPECT_EQ(list->GetAt(list->Count() + 1), nullptr);
    for (unsigned long i = 1; i <= list->Count(); ++i) numbers.push_back(list->GetAt(i)->ClassNumber());
    return numbers;
  }
  // Adds classes one by one; each is either accepted silently or refused
  // with exactly the given line, and left uninstalled.
  struct Step {
    const char* name;
    short number;
    std::string refusal;  // empty: accepted
  };
  void Run(bool process, std::initializer_list<Step> steps) {
    for (const Step& s : steps) {
      SCOPED_TRACE(std::string(s.name) + "/" + std::to_string(s.number));
      TestClass* c = Named(s.name, s.number);
      ExpectDebug(s.refusal.empty() ? Lines{} : Lines{s.refusal}, [&] {
        EXPECT_EQ(process ? fEnv->AddProcessClass(c) : fEnv->AddClass(c), s.refusal.empty());
      });
      EXPECT_EQ(c->IsInstalled(), s.refusal.empty());
    }
  }
  KOPPEnvironment* fEnv = Keep(new KOPPEnvironment());
};

// ===== Adding =====

TEST_F(KOPPEnvironmentTest, EnvironmentAndProcessNumberRanges) {
  const std::string kEnv = "KOPPEnvironment::AddClass()...ClassNumber out of range=";
  const std::string kProc = "KOPPEnvironment::AddProcessClass()...ClassNumber out of range=";
  Run(false, {{"Range32", 32, kEnv + "32...Use AddProcessClass instead.\n"},
              {"Range33", 33, ""},
              {"Range1000", 1000, ""},
              {"Range0", 0, kEnv + "0...Use AddProcessClass instead.\n"}});
  Run(true, {{"RegProcHigh", 33, kProc + "33\n"},
             {"RegProcLow", -251, kProc + "-251\n"},
             {"RegProcMinus250", -250, ""},
             {"RegProc32", 32, ""},
             {"RegProcNameOnly", kNone, ""}});
  EXPECT_EQ(fEnv->LookupByNameNoLoad("range0"), nullptr);
  EXPECT_EQ(fEnv->LookupByName("RegProcHigh"), nullptr);
  EXPECT_EQ(Numbers(fEnv), (Numbers_t{33, 1000}));  // process classes are not listed
  // The process tables are shared by every environment.
  KOPPEnvironment other;
  EXPECT_STREQ(other.LookupByNumber(-250)->ClassName(), "RegProcMinus250");
  EXPECT_EQ(other.LookupByName("regprocminus250"), other.LookupByNumber(-250));
  EXPECT_EQ(KQSValue::NameToClass("REGPROC32"), KQSValue::NumberToClass(32));
  EXPECT_STREQ(other.LookupByNameNoLoad("REGPROCNAMEONLY")->ClassName(), "RegProcNameOnly");
  EXPECT_EQ(Numbers(&other), Numbers_t{});
}

TEST_F(KOPPEnvironmentTest, NameClashesWhateverTheCaseComeBeforeNumberClashes) {
  const std::string kName = "KOPPEnvironment::AddClass...Class name already exists = ";
  const std::string kProcName = "KOPPEnvironment::AddProcessClass...Class name already exists = ";
  Run(false, {{"Widget", 40, ""},
              {"Sprocket", 42, ""},
              {"wIdGeT", kNone, kName + "40/Widget/wIdGeT\n"},
              {"Gadget", 40, "KOPPEnvironment::AddClass...Class number already exists = 40/Gadget\n"},
              {"sprocket", 40, kName + "42/Sprocket/sprocket\n"}});  // both taken, by different classes
  Run(true, {{"ProcClash", -240, ""},
             {"procclash", -239, kProcName + "-240/ProcClash/procclash\n"},
             {"ProcClashOther", -240, "KOPPEnvironment::AddProcessClass...Class number already exists = -240/ProcClashOther\n"},
             {"integer", -236, kProcName + "2/Integer/integer\n"}});  // the built-ins too
  // Nothing of a refused class stays.
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Gadget"), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(-239), nullptr);
  EXPECT_EQ(fEnv->LookupByName("procclashother"), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(40), fEnv->LookupByName("WIDGET"));
  EXPECT_EQ(Numbers(fEnv), (Numbers_t{40, 42}));
}

TEST_F(KOPPEnvironmentTest, LongNamesAreKeptWhole) {
  const std::string name = std::string(5000, 'n') + "Tail";
  TestClass* c = Named(name.c_str(), 95);
  ASSERT_TRUE(fEnv->AddClass(c));
  EXPECT_EQ(fEnv->LookupByName(KString(Upper(name).c_str())), c);
  // A name that differs only at its end is another.
  EXPECT_EQ(fEnv->LookupByNameNoLoad(KString((name.substr(0, name.size() - 1) + "X").c_str())), nullptr);
}

TEST_F(KOPPEnvironmentTest, ClassesAreAddedToEachEnvironmentOnItsOwn) {
  TestClass* shared = Named("Shared", 60);
  TestClass* pre = Named("PreInstalled", kNone);
  KOPPEnvironment* second = Keep(new KOPPEnvironment());
  ExpectDebug({"KOPPEnvironment::AddClass( Shared ) already installed?\n",
               "KOPPEnvironment::AddProcessClass( PreInstalled ) already installed?\n"},
              [&] {
                ASSERT_TRUE(fEnv->AddClass(shared));
                EXPECT_TRUE(second->AddClass(shared));  // installed elsewhere: added with a question
                ASSERT_TRUE(fEnv->AddClass(pre));
                pre->ClassNumber(-238);
                EXPECT_TRUE(fEnv->AddProcessClass(pre));
              });
  EXPECT_EQ(second->LookupByName("SHARED"), shared);
  EXPECT_EQ(KOPPEnvironment().LookupByNumber(-238), pre);
  // The same name and number are free in an environment that lacks them.
  TestClass* mine = Named("Mine", 70);
  TestClass* theirs = Named("MINE", 70);
  ASSERT_TRUE(fEnv->AddClass(mine));
  EXPECT_EQ(second->LookupByName("Mine"), nullptr);
  EXPECT_TRUE(second->AddClass(theirs));
  EXPECT_EQ(second->LookupByNumber(70), theirs);
  EXPECT_EQ(fEnv->LookupByNumber(70), mine);
}

// A random sequence of AddClass calls against a model of the two tables.
TEST_F(KOPPEnvironmentTest, AddClassAgreesWithAMapModel) {
  std::mt19937 random(20261206);
  // Names that no built-in class uses, so the process tables stay out of it.
  const char* names[] = {"Apple", "Pear", "Plum", "Fig", "Kiwi", "Lime", "Peach", "Sloe", "Yuzu", "Quince"};
  const short numbers[] = {31, 32, 33, 34, 35, 36, 500, 999, 1000, 1001, kNone};
  std::map<std::string, const KQSClass*> byName;  // upper-cased name
  std::map<short, const KQSClass*> byNumber;
  DebugCapture capture;
  for (int step = 0; step < 400; ++step) {
    std::string name = names[random() % std::size(names)];
    for (char& ch : name)
      if (random() % 2 != 0) ch = Upper(std::string(1, ch))[0];
    const short number = numbers[random() % std::size(numbers)];
    TestClass* c = Named(name.c_str(), number);
    const bool inRange = number == kNone || (number >= 33 && number <= 1000);
    const bool expected = inRange && byName.count(Upper(name)) == 0 && (number == kNone || byNumber.count(number) == 0);
    capture.Clear();
    ASSERT_EQ(fEnv->AddClass(c), expected) << "step " << step << " " << name << "/" << number;
    ASSERT_EQ(capture.Texts().size(), expected ? 0u : 1u) << "step " << step;
    if (expected) {
      byName[Upper(name)] = c;
      if (number != kNone) byNumber[number] = c;
    }
  }
  for (const auto& [upper, c] : byName) EXPECT_EQ(fEnv->LookupByNameNoLoad(KString(upper.c_str())), c) << upper;
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
  TestClass* own = Named("SHADOWED", 71);
  TestClass* string = Named("string", 72);
  ExpectDebug({}, [&] {
    ASSERT_TRUE(fEnv->AddProcessClass(process));
    EXPECT_TRUE(fEnv->AddClass(own));  // the process tables are not consulted
    EXPECT_TRUE(fEnv->AddClass(string));
  });
  EXPECT_EQ(fEnv->LookupByName("shadowed"), process);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Shadowed"), process);
  EXPECT_EQ(fEnv->LookupByNumber(71), own);
  EXPECT_EQ(fEnv->LookupByName("string"), KQSValue::Class_String());
  EXPECT_EQ(fEnv->LookupByNumber(72), string);
}

TEST_F(KOPPEnvironmentTest, LookupByNumberRanges) {
  ASSERT_TRUE(fEnv->AddClass(Named("At1000", 1000)));
  ExpectDebug({"KOPPEnvironment::LookupByNumber...ClassNumber too low=-251\n",
               "KOPPEnvironment::LookupByNumber( KQSValue::kNoClassNumber )\n"},
              [&] {
                for (short n : {1001, 32767, 34, -249, 3})  // misses are silent; 3: ObjRef has no class
                  EXPECT_EQ(fEnv->LookupByNumber(n), nullptr) << n;
                EXPECT_STREQ(fEnv->LookupByNumber(1000)->ClassName(), "At1000");
                EXPECT_EQ(fEnv->LookupByNumber(-132), KQSValue::Class_TypeCode());
                EXPECT_EQ(fEnv->LookupByNumber(-251), nullptr);
                EXPECT_EQ(fEnv->LookupByNumber(kNone), nullptr);
              });
}

TEST_F(KOPPEnvironmentTest, TheLoaderIsAskedOnAMissWithTheNameAsGiven) {
  auto* loader = new RecordingLoader();
  TestClass* loaded = Named("FromLoader", kNone);
  loader->fAnswers["MiXeD.Name"] = loaded;
  KQSValue module;
  KString source("unchanged");
  EXPECT_FALSE(fEnv->LoadXLateModule("Mod", module) || fEnv->LoadSource("Src", source));
  fEnv->Loader(loader);
  TestClass* own = Named("Registered", 80);
  ASSERT_TRUE(fEnv->AddClass(own));
  ExpectDebug({}, [&] {
    EXPECT_EQ(fEnv->LookupByName("MiXeD.Name"), loaded);
    EXPECT_EQ(fEnv->LookupByName("nowhere"), nullptr);
    // Hits in the environment or the process tables never reach the loader,
    // nor does NoLoad; the loader's answer is not registered.
    EXPECT_EQ(fEnv->LookupByName("registered"), own);
    EXPECT_EQ(fEnv->LookupByName("integer"), KQSValue::Class_Integer());
    EXPECT_EQ(fEnv->LookupByNameNoLoad("MiXeD.Name"), nullptr);
  });
  // Translation modules and sources come from the loader too.
  EXPECT_TRUE(fEnv->LoadXLateModule("Mod", module) && fEnv->LoadSource("Src", source));
  EXPECT_EQ(static_cast<long>(module), 42);
  EXPECT_STREQ(static_cast<const char*>(source), "source of Src");
  EXPECT_EQ(loader->fAsked, (Lines{"MiXeD.Name", "nowhere", "xlate:Mod", "source:Src"}));
}

TEST_F(KOPPEnvironmentTest, TheEnvironmentOwnsItsLoader) {
  bool firstGone = false, secondGone = false;
  auto* environment = new KOPPEnvironment();
  EXPECT_EQ(environment->Loader(), nullptr);
  auto* second = new RecordingLoader(&secondGone);
  environment->Loader(new RecordingLoader(&firstGone));
  environment->Loader(second);
  EXPECT_TRUE(firstGone && !secondGone);
  EXPECT_EQ(environment->Loader(), second);
  delete environment;
  EXPECT_TRUE(secondGone);
}

TEST_F(KOPPEnvironmentTest, DelegatingLoaderAsksItsTargetIncludingTheTargetsLoader) {
  EXPECT_EQ(KOPPClassDelegatingLoader(nullptr).LoadClassByName("Anything"), nullptr);
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
  KString s;
  EXPECT_FALSE(delegating.Enable() || delegating.LoadSource("deepName", s));
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
  ExpectDebug({"KOPPEnvironment::CopyClassesFrom...destination already has a classnumber = 41\n "},
              [&] { fEnv->CopyClassesFrom(source); });
  EXPECT_EQ(fEnv->LookupByNumber(40), alpha);
  EXPECT_EQ(fEnv->LookupByNumber(41), other);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("omega"), omega);
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
  EXPECT_EQ(Numbers(source), (Numbers_t{40, 41, 1000}));  // the source is left as it was
  EXPECT_EQ(source->Loader(), nullptr);
  // An empty source only sets the loader.
  KOPPEnvironment* target = Keep(new KOPPEnvironment());
  target->CopyClassesFrom(Keep(new KOPPEnvironment()));
  EXPECT_EQ(Numbers(target), Numbers_t{});
  EXPECT_NE(dynamic_cast<KOPPClassDelegatingLoader*>(target->Loader()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutConcurrency, CopyClassesTest, ::testing::Bool());

// ===== Prototypes and the value-side helpers =====

TEST_F(KOPPEnvironmentTest, NewClassGivesAnUnregisteredPrototypeOwnedByTheCaller) {
  std::unique_ptr<KQSClassReflection> a(fEnv->NewClass()), b(fEnv->NewClass());
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a.get(), b.get());
  EXPECT_TRUE(a->ImplReflectionOnly() && !a->IsInstalled());
  EXPECT_EQ(Numbers(fEnv), Numbers_t{});
}

// Counts the completion that KQSValue::AddProcessClass may ask for.
class CompletingClass : public TestClass {
 public:
  using TestClass::TestClass;
  void CompleteClassDefinition() override { ++fCompleted; }
  int fCompleted = 0;
};

TEST_F(KOPPEnvironmentTest, ValueAddProcessClassCompletesOnRequestAfterSuccess) {
  auto* completed = Keep(new CompletingClass("RegCompleted", -235));
  auto* plain = Keep(new CompletingClass("RegNotCompleted", -234));
  auto* refused = Keep(new CompletingClass("RegRefused", 500));
  ExpectDebug({"KOPPEnvironment::AddProcessClass()...ClassNumber out of range=500\n"}, [&] {
    EXPECT_TRUE(KQSValue::AddProcessClass(completed, 1));
    EXPECT_TRUE(KQSValue::AddProcessClass(plain, 0));
    EXPECT_FALSE(KQSValue::AddProcessClass(refused, 1));
  });
  EXPECT_EQ(completed->fCompleted * 100 + plain->fCompleted * 10 + refused->fCompleted, 100);
  EXPECT_EQ(KQSValue::NumberToClass(-235), completed);
  EXPECT_EQ(KQSValue::NameToClass("regnotcompleted"), plain);
}

}  // namespace
