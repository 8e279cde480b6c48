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
const std::string kAdd = "KOPPEnvironment::AddClass", kAddProcess = "KOPPEnvironment::AddProcessClass";

// A host class loader that records what it is asked, answers from a table,
// and flags its destruction (the environment owns it).
struct RecordingLoader : KOPPClassLoader {
  explicit RecordingLoader(bool* gone = nullptr) : fGone(gone) {}
  ~RecordingLoader() override {
    if (fGone != nullptr) *fGone = true;
  }
  const KQSClass* LoadClassByName(const char* name) override {
    fAsked.emplace_back(name);
    return fAnswers.count(name) != 0 ? fAnswers[name] : nullptr;
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
  bool* fGone;
};

// The numbers Classes() lists, in its order; checks that the array is
// 1-based and bounded.
Numbers_t Numbers(KOPPEnvironment* environment) {
  std::unique_ptr<TArray<const KQSClass*>> list(environment->Classes());
  EXPECT_TRUE(list->GetAt(0) == nullptr && list->GetAt(list->Count() + 1) == nullptr);
  Numbers_t numbers;
  for (unsigned long i = 1; i <= list->Count(); ++i) numbers.push_back(list->GetAt(i)->ClassNumber());
  return numbers;
}

class KOPPEnvironmentTest : public ::testing::Test {
 protected:
  KOPPEnvironment* fEnv = Keep(new KOPPEnvironment());
};

// Random AddClass calls against a model of the two tables, each refusal with
// its line. Two long names differ only at their end.
TEST_F(KOPPEnvironmentTest, AddClassAgreesWithAMapModel) {
  std::mt19937 random(20261206);
  const std::string names[] = {"Apple", "Pear", "Plum", "Fig", "Kiwi", "Lime", "Peach", "Sloe",
                               std::string(5000, 'n') + "Tail", std::string(5000, 'n') + "TaiX"};
  const short numbers[] = {0, 31, 32, 33, 34, 35, 36, 500, 999, 1000, 1001, kNone};
  std::map<std::string, TestClass*> byName;  // upper-cased name
  std::map<short, TestClass*> byNumber;
  DebugCapture capture;
  for (int step = 0; step < 400; ++step) {
    std::string name = names[random() % std::size(names)];
    for (char& ch : name)
      if (random() % 2 != 0) ch = Upper(std::string(1, ch))[0];
    const short number = numbers[random() % std::size(numbers)];
    TestClass* c = Named(name.c_str(), number);
    const auto named = byName.find(Upper(name));
    std::string line;
    if (number != kNone && (number < 33 || number > 1000)) {
      line = kAdd + "()...ClassNumber out of range=" + std::to_string(number) + "...Use AddProcessClass instead.\n";
    } else if (named != byName.end()) {
      line = kAdd + "...Class name already exists = " + std::to_string(named->second->ClassNumber()) + "/" +
             named->second->ClassName() + "/" + name + "\n";
    } else if (number != kNone && byNumber.count(number) != 0) {
      line = kAdd + "...Class number already exists = " + std::to_string(number) + "/" + name + "\n";
    }
    capture.Clear();
    ASSERT_EQ(fEnv->AddClass(c), line.empty()) << "step " << step << " " << number;
    ASSERT_EQ(capture.All(), line) << "step " << step;
    ASSERT_EQ(c->IsInstalled(), line.empty());
    if (line.empty()) {
      byName[Upper(name)] = c;
      if (number != kNone) byNumber[number] = c;
    }
  }
  for (const auto& [upper, c] : byName) EXPECT_EQ(fEnv->LookupByName(KString(upper.c_str())), c) << upper;
  Numbers_t listed;
  for (const auto& [number, c] : byNumber) {
    EXPECT_EQ(fEnv->LookupByNumber(number), c) << number;
    listed.push_back(number);
  }
  EXPECT_EQ(Numbers(fEnv), listed);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Fig1"), nullptr);
}

TEST_F(KOPPEnvironmentTest, ProcessClassesHaveTheirRangeAndShadowEveryEnvironment) {
  const std::string kName = kAddProcess + "...Class name already exists = ";
  const struct {
    const char* name;
    short number;
    std::string refusal;  // empty: accepted
  } steps[] = {{"RegProcHigh", 33, kAddProcess + "()...ClassNumber out of range=33\n"},
               {"RegProcLow", -251, kAddProcess + "()...ClassNumber out of range=-251\n"},
               {"RegProcMinus250", -250, ""},
               {"RegProc32", 32, ""},
               {"Shadowed", kNone, ""},
               {"ProcClash", -240, ""},
               {"procclash", -239, kName + "-240/ProcClash/procclash\n"},
               {"ProcClashOther", -240, kAddProcess + "...Class number already exists = -240/ProcClashOther\n"},
               {"integer", -236, kName + "2/Integer/integer\n"}};  // the built-ins too
  for (const auto& s : steps) {
    TestClass* c = Named(s.name, s.number);
    ExpectDebug(s.refusal.empty() ? Lines{} : Lines{s.refusal}, [&] { EXPECT_EQ(fEnv->AddProcessClass(c), s.refusal.empty()); });
    EXPECT_EQ(c->IsInstalled(), s.refusal.empty()) << s.name;
  }
  EXPECT_EQ(fEnv->LookupByName("RegProcHigh"), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(-239), nullptr);
  EXPECT_EQ(fEnv->LookupByName("procclashother"), nullptr);
  // Shared by every environment, not listed, and found before an
  // environment's own class of the name, which the process tables do not stop.
  KOPPEnvironment other;
  EXPECT_STREQ(other.LookupByNumber(-250)->ClassName(), "RegProcMinus250");
  EXPECT_EQ(KQSValue::NameToClass("REGPROC32"), KQSValue::NumberToClass(32));
  TestClass* own = Named("SHADOWED", 71);
  TestClass* string = Named("string", 72);
  ExpectDebug({}, [&] { EXPECT_TRUE(other.AddClass(own) && other.AddClass(string)); });
  EXPECT_STREQ(other.LookupByName("shadowed")->ClassName(), "Shadowed");
  EXPECT_STREQ(other.LookupByNameNoLoad("shadowed")->ClassName(), "Shadowed");
  EXPECT_EQ(other.LookupByName("string"), KQSValue::Class_String());
  EXPECT_EQ(other.LookupByNumber(72), string);
  EXPECT_EQ(Numbers(&other), (Numbers_t{71, 72}));
  EXPECT_EQ(Numbers(fEnv), Numbers_t{});
}

TEST_F(KOPPEnvironmentTest, ClassesAreAddedToEachEnvironmentOnItsOwn) {
  TestClass* shared = Named("Shared", 60);
  TestClass* pre = Named("PreInstalled", kNone);
  KOPPEnvironment second;
  ExpectDebug({kAdd + "( Shared ) already installed?\n", kAddProcess + "( PreInstalled ) already installed?\n"}, [&] {
    ASSERT_TRUE(fEnv->AddClass(shared));
    EXPECT_TRUE(second.AddClass(shared));  // installed elsewhere: added with a question
    ASSERT_TRUE(fEnv->AddClass(pre));
    pre->ClassNumber(-238);
    EXPECT_TRUE(fEnv->AddProcessClass(pre));
  });
  EXPECT_EQ(second.LookupByName("SHARED"), shared);
  EXPECT_EQ(KOPPEnvironment().LookupByNumber(-238), pre);
}

TEST_F(KOPPEnvironmentTest, LookupByNumberRanges) {
  ASSERT_TRUE(fEnv->AddClass(Named("At1000", 1000)));
  ExpectDebug({"KOPPEnvironment::LookupByNumber...ClassNumber too low=-251\n",
               "KOPPEnvironment::LookupByNumber( KQSValue::kNoClassNumber )\n"},
              [&] {
                for (short n : {short{1001}, short{32767}, short{34}, short{-249}, short{3}, short{-251}, kNone})  // misses are silent; 3: ObjRef has no class
                  EXPECT_EQ(fEnv->LookupByNumber(n), nullptr) << n;
                EXPECT_STREQ(fEnv->LookupByNumber(1000)->ClassName(), "At1000");
                EXPECT_EQ(fEnv->LookupByNumber(-132), KQSValue::Class_TypeCode());
              });
}

TEST_F(KOPPEnvironmentTest, TheOwnedLoaderIsAskedOnAMissWithTheNameAsGiven) {
  bool firstGone = false, gone = false;
  auto* loader = new RecordingLoader(&gone);
  TestClass* loaded = Named("FromLoader", kNone);
  loader->fAnswers["MiXeD.Name"] = loaded;
  KQSValue module;
  KString source("unchanged");
  EXPECT_FALSE(fEnv->LoadXLateModule("Mod", module) || fEnv->LoadSource("Src", source) || fEnv->Loader() != nullptr);
  fEnv->Loader(new RecordingLoader(&firstGone));
  fEnv->Loader(loader);
  EXPECT_TRUE(firstGone && !gone && fEnv->Loader() == loader);
  TestClass* own = Named("Registered", 80);
  ASSERT_TRUE(fEnv->AddClass(own));
  ExpectDebug({}, [&] {
    EXPECT_EQ(fEnv->LookupByName("MiXeD.Name"), loaded);
    EXPECT_EQ(fEnv->LookupByName("nowhere"), nullptr);
    // Hits never reach the loader, nor does NoLoad; its answer is not registered.
    EXPECT_EQ(fEnv->LookupByName("registered"), own);
    EXPECT_EQ(fEnv->LookupByName("integer"), KQSValue::Class_Integer());
    EXPECT_EQ(fEnv->LookupByNameNoLoad("MiXeD.Name"), nullptr);
  });
  EXPECT_TRUE(fEnv->LoadXLateModule("Mod", module) && fEnv->LoadSource("Src", source));
  EXPECT_EQ(Streamed(module) + Str(source), "42source of Src");
  EXPECT_EQ(loader->fAsked, (Lines{"MiXeD.Name", "nowhere", "xlate:Mod", "source:Src"}));
  // A delegating loader asks its target, including the target's loader.
  KOPPClassDelegatingLoader delegating(fEnv);
  EXPECT_EQ(KOPPClassDelegatingLoader(nullptr).LoadClassByName("Anything"), nullptr);
  EXPECT_EQ(delegating.LoadClassByName("registered"), own);
  EXPECT_EQ(delegating.LoadClassByName("MiXeD.Name"), loaded);
  EXPECT_EQ(delegating.LoadClassByName("Boolean"), KQSValue::Class_Boolean());
  EXPECT_FALSE(delegating.Enable() || delegating.LoadSource("MiXeD.Name", source));
  auto* environment = new KOPPEnvironment();
  environment->Loader(new RecordingLoader(&gone));
  gone = false;
  delete environment;
  EXPECT_TRUE(gone);
}

class CopyClassesTest : public KOPPEnvironmentTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CopyClassesTest, CopiesNumberedClassesAndDelegatesTheRest) {
  KOPPEnvironment* source = Keep(new KOPPEnvironment());
  TestClass *alpha = Named("Alpha", 40), *beta = Named("Beta", 41), *gamma = Named("Gamma", kNone);
  for (TestClass* c : {alpha, beta, gamma, Named("Omega", 1000)}) ASSERT_TRUE(source->AddClass(c));
  TestClass* other = Named("Other", 41);
  ASSERT_TRUE(fEnv->AddClass(other));
  bool oldLoaderGone = false;
  fEnv->Loader(new RecordingLoader(&oldLoaderGone));
  if (GetParam()) fEnv->ConcurrencyEnable();
  ExpectDebug({"KOPPEnvironment::CopyClassesFrom...destination already has a classnumber = 41\n "},
              [&] { fEnv->CopyClassesFrom(source); });
  EXPECT_EQ(fEnv->LookupByNumber(40), alpha);
  EXPECT_EQ(fEnv->LookupByNumber(41), other);
  EXPECT_EQ(Numbers(fEnv), (Numbers_t{40, 41, 1000}));
  // A class without number, and the one whose number was taken, are found
  // in the source through the new loader only.
  EXPECT_TRUE(fEnv->LookupByNameNoLoad("Gamma") == nullptr && fEnv->LookupByNameNoLoad("beta") == nullptr);
  EXPECT_TRUE(fEnv->LookupByName("Gamma") == gamma && fEnv->LookupByName("beta") == beta);
  EXPECT_TRUE(oldLoaderGone);
  auto* delegating = dynamic_cast<KOPPClassDelegatingLoader*>(fEnv->Loader());
  ASSERT_NE(delegating, nullptr);
  EXPECT_EQ(delegating->Target(), source);
  EXPECT_EQ(Numbers(source), (Numbers_t{40, 41, 1000}));  // the source is left as it was
  EXPECT_EQ(source->Loader(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutConcurrency, CopyClassesTest, ::testing::Bool());

// Counts the completion that KQSValue::AddProcessClass may ask for.
struct CompletingClass : TestClass {
  using TestClass::TestClass;
  void CompleteClassDefinition() override { ++fCompleted; }
  int fCompleted = 0;
};

TEST_F(KOPPEnvironmentTest, NewClassAndValueAddProcessClass) {
  std::unique_ptr<KQSClassReflection> a(fEnv->NewClass()), b(fEnv->NewClass());
  EXPECT_TRUE(a != nullptr && a.get() != b.get() && a->ImplReflectionOnly() && !a->IsInstalled());
  EXPECT_EQ(Numbers(fEnv), Numbers_t{});
  auto* completed = Keep(new CompletingClass("RegCompleted", -235));
  auto* plain = Keep(new CompletingClass("RegNotCompleted", -234));
  auto* refused = Keep(new CompletingClass("RegRefused", 500));
  ExpectDebug({kAddProcess + "()...ClassNumber out of range=500\n"}, [&] {
    EXPECT_TRUE(KQSValue::AddProcessClass(completed, 1) && KQSValue::AddProcessClass(plain, 0));
    EXPECT_FALSE(KQSValue::AddProcessClass(refused, 1));
  });
  EXPECT_EQ(completed->fCompleted * 100 + plain->fCompleted * 10 + refused->fCompleted, 100);
  EXPECT_EQ(KQSValue::NameToClass("regnotcompleted"), plain);
}

}  // namespace
