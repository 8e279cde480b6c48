// The class registry and installing classes. The process tables are global:
// each test picks its own process names and numbers (built-ins: 8 to -132);
// implementation kinds: 3 registered once, 4 recorded, 5 the base, 6 none.
#include "vxkernel/classes/KOPPEnvironment.h"

#include <iterator>
#include <map>
#include <memory>
#include <random>

#include "classes/class_test_support.h"
#include "vxkernel/classes/KQSClassImplLoader.h"

namespace {

using namespace classes_test;
using Numbers_t = std::vector<short>;
constexpr short kNone = KQSClass::kNoClassNumber;
const std::string kAdd = "KOPPEnvironment::AddClass", kAddProcess = "KOPPEnvironment::AddProcessClass";

// Records what it is asked, answers from a table, flags its destruction.
struct RecordingLoader : KOPPClassLoader {
  explicit RecordingLoader(bool* gone) : fGone(gone) {}
  ~RecordingLoader() override { *fGone = true; }
  const KQSClass* LoadClassByName(const char* name) override {
    fAsked.emplace_back(name);
    return fAnswers.count(name) != 0 ? fAnswers[name] : nullptr;
  }
  bool LoadXLateModule(const char* name, KQSValue& out) override { out = KQSValue(name); return true; }
  bool LoadSource(const char* name, KString& out) override { out = KString("source of ") + name; return true; }
  Lines fAsked;
  std::map<std::string, const KQSClass*> fAnswers;
  bool* fGone;
};

Numbers_t Numbers(KOPPEnvironment* environment) {  // of Classes(), in its order
  Numbers_t numbers;
  for (const KQSClass* c : Listed(environment->Classes())) numbers.push_back(c != nullptr ? c->ClassNumber() : short{-999});
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

// Process classes are shared, not listed, and shadow an environment's own.
TEST_F(KOPPEnvironmentTest, ProcessClassesNumberRangesAndSharedClasses) {
  const std::string kName = kAddProcess + "...Class name already exists = ";
  const std::pair<TestClass*, std::string> steps[] = {  // empty: accepted
      {Named("RegProcHigh", 33), kAddProcess + "()...ClassNumber out of range=33\n"},
      {Named("RegProcLow", -251), kAddProcess + "()...ClassNumber out of range=-251\n"},
      {Named("RegProcMinus250", -250), ""}, {Named("RegProc32", 32), ""}, {Named("Shadowed", kNone), ""},
      {Named("ProcClash", -240), ""}, {Named("procclash", -239), kName + "-240/ProcClash/procclash\n"},
      {Named("ProcClashOther", -240), kAddProcess + "...Class number already exists = -240/ProcClashOther\n"},
      {Named("integer", -236), kName + "2/Integer/integer\n"}};  // the built-ins too
  for (const auto& step : steps) {
    const bool accepted = step.second.empty();
    ExpectDebug(accepted ? Lines{} : Lines{step.second}, [&] { EXPECT_EQ(fEnv->AddProcessClass(step.first), accepted); });
    EXPECT_EQ(step.first->IsInstalled(), accepted) << step.first->ClassName();
  }
  EXPECT_EQ(fEnv->LookupByName("RegProcHigh"), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(-239), nullptr);
  EXPECT_EQ(fEnv->LookupByName("procclashother"), nullptr);
  KOPPEnvironment other;
  EXPECT_STREQ(other.LookupByNumber(-250)->ClassName(), "RegProcMinus250");
  EXPECT_EQ(KQSValue::NameToClass("REGPROC32"), KQSValue::NumberToClass(32));
  TestClass *own = Named("SHADOWED", 71), *string = Named("string", 72);
  ExpectDebug({}, [&] {
    EXPECT_TRUE(other.AddClass(own));
    EXPECT_TRUE(other.AddClass(string));
  });
  EXPECT_STREQ(other.LookupByName("shadowed")->ClassName(), "Shadowed");
  EXPECT_STREQ(other.LookupByNameNoLoad("shadowed")->ClassName(), "Shadowed");
  EXPECT_EQ(other.LookupByName("string"), KQSValue::Class_String());
  EXPECT_EQ(other.LookupByNumber(72), string);
  EXPECT_EQ(Numbers(&other), (Numbers_t{71, 72}));
  EXPECT_EQ(Numbers(fEnv), Numbers_t{});
  // A class installed elsewhere is added with a question; numbers out of range miss.
  TestClass *pre = Named("PreInstalled", kNone);
  ExpectDebug({kAdd + "( SHADOWED ) already installed?\n", kAddProcess + "( PreInstalled ) already installed?\n"}, [&] {
    EXPECT_TRUE(fEnv->AddClass(own));
    EXPECT_TRUE(fEnv->AddClass(pre));
    pre->ClassNumber(-238);
    EXPECT_TRUE(fEnv->AddProcessClass(pre));
  });
  EXPECT_EQ(fEnv->LookupByNumber(71), own);
  EXPECT_EQ(other.LookupByNumber(-238), pre);
  ASSERT_TRUE(fEnv->AddClass(Named("At1000", 1000)));
  ExpectDebug({"KOPPEnvironment::LookupByNumber...ClassNumber too low=-251\n",
               "KOPPEnvironment::LookupByNumber( KQSValue::kNoClassNumber )\n"}, [&] {
    for (short n : {short{1001}, short{34}, short{-249}, short{3}, short{-251}, kNone})  // 3: ObjRef
      EXPECT_EQ(fEnv->LookupByNumber(n), nullptr) << n;
    EXPECT_NE(fEnv->LookupByNumber(1000), nullptr);
    EXPECT_EQ(fEnv->LookupByNumber(-132), KQSValue::Class_TypeCode());
  });
}

TEST_F(KOPPEnvironmentTest, TheOwnedLoaderIsAskedOnAMissWithTheNameAsGiven) {
  bool gone = false;
  auto* loader = new RecordingLoader(&gone);
  TestClass* loaded = Named("FromLoader", kNone);
  loader->fAnswers["MiXeD.Name"] = loaded;
  KQSValue module;
  KString source("unchanged");
  EXPECT_FALSE(fEnv->LoadXLateModule("Mod", module));
  EXPECT_FALSE(fEnv->LoadSource("Src", source));
  EXPECT_EQ(fEnv->Loader(), nullptr);
  fEnv->Loader(loader);
  fEnv->Loader(loader);  // the same one again: kept
  EXPECT_FALSE(gone);
  EXPECT_EQ(fEnv->Loader(), loader);
  TestClass* own = Named("Registered", 80);
  ASSERT_TRUE(fEnv->AddClass(own));
  // Hits never reach the loader, nor does NoLoad; its answer is not registered.
  ExpectDebug({}, [&] {
    EXPECT_EQ(fEnv->LookupByName("MiXeD.Name"), loaded);
    EXPECT_EQ(fEnv->LookupByName("nowhere"), nullptr);
    EXPECT_EQ(fEnv->LookupByName("registered"), own);
    EXPECT_EQ(fEnv->LookupByName("integer"), KQSValue::Class_Integer());
    EXPECT_EQ(fEnv->LookupByNameNoLoad("MiXeD.Name"), nullptr);
  });
  EXPECT_TRUE(fEnv->LoadXLateModule("Mod", module));
  EXPECT_TRUE(fEnv->LoadSource("Src", source));
  EXPECT_EQ(Streamed(module), "'Mod'");
  EXPECT_EQ(Str(source), "source of Src");
  EXPECT_EQ(loader->fAsked, (Lines{"MiXeD.Name", "nowhere"}));
  KOPPClassDelegatingLoader delegating(fEnv);  // asks its target, and so the target's loader
  EXPECT_EQ(delegating.LoadClassByName("MiXeD.Name"), loaded);
  EXPECT_EQ(KOPPClassDelegatingLoader(nullptr).LoadClassByName("Anything"), nullptr);
  EXPECT_FALSE(delegating.Enable());
  EXPECT_FALSE(delegating.LoadSource("MiXeD.Name", source));
  gone = false;
  KOPPEnvironment().Loader(new RecordingLoader(&gone));  // its end deletes the loader
  EXPECT_TRUE(gone);
}

TEST_F(KOPPEnvironmentTest, CopyClassesFromCopiesNumberedClassesAndDelegatesTheRest) {
  KOPPEnvironment* source = Keep(new KOPPEnvironment());
  TestClass *alpha = Named("Alpha", 40), *beta = Named("Beta", 41), *gamma = Named("Gamma", kNone);
  for (TestClass* c : {alpha, beta, gamma, Named("Omega", 1000)}) ASSERT_TRUE(source->AddClass(c));
  TestClass* other = Named("Other", 41);
  ASSERT_TRUE(fEnv->AddClass(other));
  bool oldLoaderGone = false;
  fEnv->Loader(new RecordingLoader(&oldLoaderGone));
  ExpectDebug({"KOPPEnvironment::CopyClassesFrom...destination already has a classnumber = 41\n "},
              [&] { fEnv->CopyClassesFrom(source); });
  EXPECT_EQ(fEnv->LookupByNumber(40), alpha);
  EXPECT_EQ(fEnv->LookupByNumber(41), other);
  EXPECT_EQ(Numbers(fEnv), (Numbers_t{40, 41, 1000}));
  // The unnumbered class and the one whose number was taken: via the loader only.
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Gamma"), nullptr);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("beta"), nullptr);
  EXPECT_EQ(fEnv->LookupByName("Gamma"), gamma);
  EXPECT_EQ(fEnv->LookupByName("beta"), beta);
  EXPECT_TRUE(oldLoaderGone);
  auto* delegating = dynamic_cast<KOPPClassDelegatingLoader*>(fEnv->Loader());
  ASSERT_NE(delegating, nullptr);
  EXPECT_EQ(delegating->Target(), source);
  EXPECT_EQ(source->Loader(), nullptr);
  EXPECT_EQ(Numbers(source), (Numbers_t{40, 41, 1000}));  // the source is left as it was
}

struct CompletingClass : TestClass {  // counts what KQSValue::AddProcessClass asks for
  using TestClass::TestClass;
  void CompleteClassDefinition() override { ++fCompleted; }
  int fCompleted = 0;
};

TEST_F(KOPPEnvironmentTest, NewClassAndValueAddProcessClass) {
  std::unique_ptr<KQSClassReflection> a(fEnv->NewClass()), b(fEnv->NewClass());
  EXPECT_NE(a.get(), b.get());
  EXPECT_TRUE(a->ImplReflectionOnly());
  EXPECT_FALSE(a->IsInstalled());
  EXPECT_EQ(Numbers(fEnv), Numbers_t{});
  auto *completed = Keep(new CompletingClass("RegCompleted", -235)), *plain = Keep(new CompletingClass("RegNotCompleted", -234)),
       *refused = Keep(new CompletingClass("RegRefused", 500));
  ExpectDebug({kAddProcess + "()...ClassNumber out of range=500\n"}, [&] {
    EXPECT_TRUE(KQSValue::AddProcessClass(completed, 1));
    EXPECT_TRUE(KQSValue::AddProcessClass(plain, 0));
    EXPECT_FALSE(KQSValue::AddProcessClass(refused, 1));
  });
  EXPECT_EQ(completed->fCompleted, 1);
  EXPECT_EQ(plain->fCompleted, 0);
  EXPECT_EQ(refused->fCompleted, 0);
  EXPECT_EQ(KQSValue::NameToClass("regnotcompleted"), plain);
}

constexpr long kRecorded = 4, kBaseLoader = 5, kNoLoader = 6;

KQSClassReflection* Prototype(const char* name, short number, long implType) {
  KQSClassReflection* p = Named(Keep(new KQSClassReflection()), name, number);
  p->ImplPut(implType, 2, "im");
  return p;
}

// Records its calls; answers a new class, the installed one, or nothing.
struct BuildingLoader : KQSClassImplLoader {
  enum Mode { kNewClass, kInPlace, kNothing } fMode = kNewClass;
  KQSClass* LoadClassFromImpl(KOPPEnvironment* environment, const KQSClass* installed,
                              const KQSClass* prototype) override {
    ++fCalls;
    fEnvironment = environment;
    fInstalled = installed;
    fPrototype = prototype;
    if (fMode != kNewClass) return fMode == kInPlace ? const_cast<KQSClass*>(installed) : nullptr;
    return fBuilt = Keep(new TestClass(prototype->ClassName(), prototype->ClassNumber()));
  }
  void Reset(Mode mode) { *this = BuildingLoader(); fMode = mode; }
  int fCalls = 0;
  KOPPEnvironment* fEnvironment = nullptr;
  const KQSClass *fInstalled = nullptr, *fPrototype = nullptr;
  KQSClass* fBuilt = nullptr;
};

std::string Replacing(const std::string& n) { return "KOPPEnvironment::InstallClass( " + n + " ) replacing old...\n"; }
std::string Removing(const std::string& n) { return "KOPPEnvironment::InstallClass...Removing old class=" + n + " (LEAKING)\n"; }
std::string Unable(const std::string& n) { return "KOPPEnvironment::InstallClass...Unable to install class=" + n + "\n"; }
const std::string kBuild = "KQSClass::BuildInstallableClass...", kRemove = "KOPPEnvironment::RemoveClass...";

class InstallClassTest : public ::testing::Test {
 protected:
  InstallClassTest() { fLoader->Reset(BuildingLoader::kNewClass); }
  TestClass* Added(const char* name, short number) {
    TestClass* c = Named(name, number);
    EXPECT_TRUE(fEnv->AddClass(c));
    return c;
  }
  const KQSClass* Install(const char* name, short number, const Lines& lines, long kind = kRecorded) {
    const KQSClass* built = nullptr;
    ExpectDebug(lines, [&] { built = fEnv->InstallClass(Prototype(name, number, kind)); });
    return built;
  }
  KOPPEnvironment* fEnv = Keep(new KOPPEnvironment());
  static inline BuildingLoader* fLoader = [] {
    auto* l = Keep(new BuildingLoader());
    KQSClass::RegisterImplLoader(kRecorded, l);
    KQSClass::RegisterImplLoader(kBaseLoader, Keep(new KQSClassImplLoader()));
    return l;
  }();
};

// The old class is removed and leaked (or removal says why not), or updated in place.
TEST_F(InstallClassTest, ReplacingAnOldClass) {
  TestClass* old = Added("Repl", 51);
  const KQSClass* built = Install("REPL", 51, {Replacing("REPL"), Replacing("REPL"), Removing("Repl")});
  ASSERT_NE(built, nullptr);
  EXPECT_NE(built, old);
  EXPECT_EQ(fLoader->fInstalled, old);
  EXPECT_TRUE(old->IsInstalled());  // the mark stays
  EXPECT_EQ(fEnv->LookupByName("repl"), built);
  EXPECT_EQ(fEnv->LookupByNumber(51), built);
  TestClass* processOld = Named("ProcOld", -230);
  ASSERT_TRUE(fEnv->AddProcessClass(processOld));
  built = Install("ProcOld", 62, {Replacing("ProcOld"), Removing("ProcOld"),
      "KOPPEnvironment::RemoveClass()...ClassNumber out of range=-230...Use AddProcessClass instead.\n"});
  EXPECT_EQ(fEnv->LookupByNumber(62), built);
  EXPECT_EQ(fEnv->LookupByName("procold"), processOld);
  Added("Mover", kNone)->ClassNumber(64);
  built = Install("Mover", kNone, {Replacing("Mover"), Removing("Mover"), kRemove + "Class doesn't exist = 64/Mover"});
  EXPECT_EQ(fEnv->LookupByNameNoLoad("mover"), built);
  TestClass* holder = Added("Holder", 65);
  Added("Squatter", kNone)->ClassNumber(65);
  built = Install("Squatter", kNone, {Replacing("Squatter"), Removing("Squatter"), kRemove + "Class doesn't match = 65/Squatter"});
  EXPECT_EQ(fEnv->LookupByNumber(65), holder);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("squatter"), built);
  old = Added("InPlace", 53);
  fLoader->Reset(BuildingLoader::kInPlace);
  EXPECT_EQ(Install("InPlace", 53, {Replacing("InPlace"), Replacing("InPlace"),
                                    "KOPPEnvironment::InstallClass...In-place replacement of class=InPlace\n"}), old);
  EXPECT_EQ(fEnv->LookupByName("INPLACE"), old);
  EXPECT_EQ(fEnv->LookupByNumber(53), old);
  // A number held by another class is a conflict, but the loader is asked.
  TestClass* alpha = Added("Alpha", 54);
  fLoader->Reset(BuildingLoader::kNewClass);
  EXPECT_EQ(Install("Beta", 54, {"KOPPEnvironment::InstallClass( Beta ) name/number conflict.\n",
                                 "KOPPEnvironment::AddClass...Class number already exists = 54/Beta\n"}), fLoader->fBuilt);
  EXPECT_EQ(fLoader->fCalls, 1);
  EXPECT_EQ(fLoader->fInstalled, nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(54), alpha);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Beta"), nullptr);
}

TEST_F(InstallClassTest, RefusedInstallationsRegisterNothing) {
  TestClass* old = Added("Keep", 55);
  EXPECT_EQ(Install("KEEP", kNone, {Replacing("KEEP"), kBuild + "no such fImplType=6\n", Unable("KEEP")}, kNoLoader), nullptr);
  EXPECT_EQ(fEnv->LookupByName("keep"), old);  // the old class stays
  TestClass* plain = Named("NotReflected", 56);
  plain->ImplPut(kRecorded, 1, "i");
  const std::tuple<const KQSClass*, BuildingLoader::Mode, Lines> cases[] = {
      {Prototype("BadKind", kNone, -1), BuildingLoader::kNewClass, {kBuild + "bad fImplType=-1\n", Unable("BadKind")}},
      {Prototype("BadKind", kNone, 7), BuildingLoader::kNewClass, {kBuild + "bad fImplType=7\n", Unable("BadKind")}},
      {plain, BuildingLoader::kNewClass, {kBuild + "!ImplReflectionOnly()\n", Unable("NotReflected")}},
      {Prototype("Nothing", 57, kRecorded), BuildingLoader::kNothing, {Unable("Nothing")}},
      {Prototype("ViaBase", kNone, kBaseLoader), BuildingLoader::kNewClass,
       {"KQSClassImplLoader::LoadClassFromImpl...should not be called\n", Unable("ViaBase")}},
  };
  for (const auto& [proto, mode, expected] : cases) {
    const KQSClass* p = proto;  // (no structured bindings in lambdas for clang 14)
    fLoader->Reset(mode);
    ExpectDebug(expected, [&] { EXPECT_EQ(fEnv->InstallClass(p), nullptr); });
    EXPECT_EQ(fLoader->fCalls, mode == BuildingLoader::kNothing ? 1 : 0);
    EXPECT_EQ(fEnv->LookupByNameNoLoad(p->ClassName()), nullptr);
    EXPECT_FALSE(p->IsInstalled());
  }
  EXPECT_EQ(fEnv->LookupByNumber(57), nullptr);
}

// The loading set, keyed by the name as given, wins and registers nothing;
// else the kind's loader builds the class and it is registered.
TEST_F(InstallClassTest, NewClassesAreBuiltByTheirKindsLoaderUnlessBeingLoaded) {
  TestClass* cyclic = Named("Cyclic", 59);
  fEnv->ClassLoadingBegin(cyclic);
  EXPECT_EQ(Install("Cyclic", 59, {}), cyclic);
  EXPECT_EQ(fLoader->fCalls, 0);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Cyclic"), nullptr);
  EXPECT_FALSE(cyclic->IsInstalled());
  TestClass* old = Added("Reloaded", 60);
  TestClass* reloading = Named("Reloaded", 60);
  fEnv->ClassLoadingBegin(reloading);
  EXPECT_EQ(Install("Reloaded", 60, {Replacing("Reloaded"), Replacing("Reloaded")}), reloading);
  EXPECT_EQ(fLoader->fCalls, 0);
  EXPECT_EQ(fEnv->LookupByNumber(60), old);
  // Registering a loader: bad kinds and a second one for a kind are refused.
  KQSClassImplLoader* stray = Keep(new KQSClassImplLoader());
  auto *intruder = Keep(new BuildingLoader()), *first = Keep(new BuildingLoader());
  const std::string kRegister = "KQSClass::RegisterImplLoader...";
  ExpectDebug({kRegister + "bad implType=-1\n", kRegister + "bad implType=7\n", kRegister + "cannot override implType=4\n"}, [&] {
    KQSClass::RegisterImplLoader(-1, stray);
    KQSClass::RegisterImplLoader(7, stray);
    KQSClass::RegisterImplLoader(kRecorded, intruder);
    KQSClass::RegisterImplLoader(3, first);  // a first registration is silent
  });
  fEnv->ClassLoadingBegin(Named("CaseKey", kNone));  // not this name: built by the loader
  const KQSClass* built = Install("CASEKEY", 50, {});
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(built, fLoader->fBuilt);
  EXPECT_EQ(fLoader->fCalls, 1);
  EXPECT_EQ(fLoader->fEnvironment, fEnv);
  EXPECT_EQ(fLoader->fInstalled, nullptr);
  EXPECT_TRUE(built->IsInstalled());
  EXPECT_FALSE(fLoader->fPrototype->IsInstalled());
  EXPECT_EQ(fEnv->LookupByNameNoLoad("casekey"), built);
  EXPECT_EQ(fEnv->LookupByNumber(50), built);
  EXPECT_EQ(intruder->fCalls, 0);
  // The loader registered first for kind 3 builds its classes.
  const KQSClass* third = Install("ThirdKind", 70, {}, 3);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third, first->fBuilt);
}


}  // namespace
