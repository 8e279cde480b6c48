// Installing classes from prototypes: the implementation loaders, the
// replacement of an old class, conflicts, refusals and the loading set.
//
// Implementation loaders are process-global and never removed. This program
// registers its recording loader for kind 4 and the base loader for kind 5
// once, leaves kind 6 without a loader, and tries first registrations of
// other kinds only in forked children.
#include <gtest/gtest.h>

#include <string>

#include "classes/class_test_support.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSClassImplLoader.h"
#include "vxkernel/classes/KQSClassReflection.h"

namespace {

using namespace classes_test;

constexpr long kRecorded = 4, kBaseLoader = 5, kNoLoader = 6;
constexpr short kNone = KQSClass::kNoClassNumber;

// A reflection prototype of the given implementation kind.
KQSClassReflection* Prototype(const char* name, short number, long implType) {
  auto* p = Keep(new KQSClassReflection());
  p->ClassName(name);
  p->ClassNumber(number);
  p->ImplPut(implType, 2, "im");
  return p;
}

// An implementation loader that records its calls and answers as told: a
// new class named and numbered like the prototype, the installed class
// itself (an in-place update), or nothing.
class BuildingLoader : public KQSClassImplLoader {
 public:
  enum Mode { kNewClass, kInPlace, kNothing };
  KQSClass* LoadClassFromImpl(KOPPEnvironment* environment, const KQSClass* installed,
                              const KQSClass* prototype) override {
    ++fCalls;
    fEnvironment = environment;
    fInstalled = installed;
    fPrototype = prototype;
    if (fMode == kInPlace) return const_cast<KQSClass*>(installed);
    if (fMode == kNothing) return nullptr;
    return fBuilt = Keep(new TestClass(prototype->ClassName(), prototype->ClassNumber()));
  }
  void Reset(Mode mode) {
    fMode = mode;
    fCalls = 0;
    fEnvironment = nullptr;
    fInstalled = fPrototype = nullptr;
    fBuilt = nullptr;
  }
  Mode fMode = kNewClass;
  int fCalls = 0;
  KOPPEnvironment* fEnvironment = nullptr;
  const KQSClass* fInstalled = nullptr;
  const KQSClass* fPrototype = nullptr;
  KQSClass* fBuilt = nullptr;
};

BuildingLoader* Recorder() {
  static BuildingLoader* loader = [] {
    auto* l = Keep(new BuildingLoader());
    KQSClass::RegisterImplLoader(kRecorded, l);
    KQSClass::RegisterImplLoader(kBaseLoader, Keep(new KQSClassImplLoader()));
    return l;
  }();
  return loader;
}

std::string Replacing(const std::string& n) { return "KOPPEnvironment::InstallClass( " + n + " ) replacing old...\n"; }
std::string Removing(const std::string& n) {
  return "KOPPEnvironment::InstallClass...Removing old class=" + n + " (LEAKING)\n";
}
std::string Unable(const std::string& n) { return "KOPPEnvironment::InstallClass...Unable to install class=" + n + "\n"; }
const std::string kBuild = "KQSClass::BuildInstallableClass...";

class InstallClassTest : public ::testing::Test {
 protected:
  InstallClassTest() { fLoader->Reset(BuildingLoader::kNewClass); }
  TestClass* Added(const char* name, short number) {
    TestClass* c = Named(name, number);
    EXPECT_TRUE(fEnv->AddClass(c));
    return c;
  }
  // Installs a prototype of the recorded kind, expecting the lines.
  const KQSClass* Install(const char* name, short number, const Lines& lines, long kind = kRecorded) {
    const KQSClass* built = nullptr;
    ExpectDebug(lines, [&] { built = fEnv->InstallClass(Prototype(name, number, kind)); });
    return built;
  }
  KOPPEnvironment* fEnv = Keep(new KOPPEnvironment());
  BuildingLoader* fLoader = Recorder();
};

TEST_F(InstallClassTest, NewClassIsBuiltByTheLoaderAndRegistered) {
  KQSClassReflection* proto = Prototype("Fresh", 50, kRecorded);
  const KQSClass* built = nullptr;
  ExpectDebug({}, [&] { built = fEnv->InstallClass(proto); });
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(built, fLoader->fBuilt);
  EXPECT_TRUE(fLoader->fCalls == 1 && fLoader->fEnvironment == fEnv && fLoader->fInstalled == nullptr &&
              fLoader->fPrototype == proto);
  EXPECT_TRUE(built->IsInstalled() && !proto->IsInstalled());
  EXPECT_EQ(fEnv->LookupByNameNoLoad("FRESH"), built);
  EXPECT_EQ(fEnv->LookupByNumber(50), built);
}

TEST_F(InstallClassTest, ReplacingAClassRemovesAndLeaksTheOld) {
  TestClass* old = Added("Repl", 51);
  // Found once by name and once more by number.
  const KQSClass* built = Install("REPL", 51, {Replacing("REPL"), Replacing("REPL"), Removing("Repl")});
  ASSERT_NE(built, nullptr);
  EXPECT_NE(built, old);
  EXPECT_EQ(fLoader->fInstalled, old);
  EXPECT_EQ(fEnv->LookupByName("repl"), built);
  EXPECT_EQ(fEnv->LookupByNumber(51), built);
  EXPECT_TRUE(old->IsInstalled());  // removal keeps the mark
  // An old class without a number frees its name.
  Added("Unnumbered", kNone);
  built = Install("Unnumbered", 52, {Replacing("Unnumbered"), Removing("Unnumbered")});
  EXPECT_EQ(fEnv->LookupByName("unnumbered"), built);
  EXPECT_EQ(fEnv->LookupByNumber(52), built);
}

// The old class is whatever the name lookup finds, which may be a process
// class or a class whose number no longer matches its slot; removing it
// then reports why it could not be removed from this environment.
TEST_F(InstallClassTest, OldClassesThatCannotBeRemovedFromTheEnvironment) {
  const std::string kRemove = "KOPPEnvironment::RemoveClass...";
  TestClass* processOld = Named("ProcOld", -230);
  ASSERT_TRUE(fEnv->AddProcessClass(processOld));
  const KQSClass* built = Install("ProcOld", 62, {Replacing("ProcOld"), Removing("ProcOld"),
      "KOPPEnvironment::RemoveClass()...ClassNumber out of range=-230...Use AddProcessClass instead.\n"});
  EXPECT_EQ(fLoader->fInstalled, processOld);
  EXPECT_EQ(fEnv->LookupByNumber(62), built);
  EXPECT_EQ(fEnv->LookupByName("procold"), processOld);  // still shadowed by the process class
  // A process class whose name is another class here does not match it.
  ASSERT_TRUE(fEnv->AddProcessClass(Named("TwoFaced", kNone)));
  TestClass* own = Added("twofaced", 63);
  Install("TwoFaced", kNone, {Replacing("TwoFaced"), Removing("TwoFaced"), kRemove + "Class doesn't match = 63/twofaced",
                              "KOPPEnvironment::AddClass...Class name already exists = 63/twofaced/TwoFaced\n"});
  EXPECT_EQ(fEnv->LookupByNumber(63), own);
  // A number slot left empty, or held by another class.
  Added("Mover", kNone)->ClassNumber(64);
  built = Install("Mover", kNone, {Replacing("Mover"), Removing("Mover"), kRemove + "Class doesn't exist = 64/Mover"});
  EXPECT_EQ(fEnv->LookupByNameNoLoad("mover"), built);
  TestClass* holder = Added("Holder", 65);
  Added("Squatter", kNone)->ClassNumber(65);
  built = Install("Squatter", kNone, {Replacing("Squatter"), Removing("Squatter"), kRemove + "Class doesn't match = 65/Squatter"});
  EXPECT_EQ(fEnv->LookupByNumber(65), holder);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("squatter"), built);
}

TEST_F(InstallClassTest, LoaderMayUpdateTheInstalledClassInPlace) {
  TestClass* old = Added("InPlace", 53);
  fLoader->Reset(BuildingLoader::kInPlace);
  EXPECT_EQ(Install("InPlace", 53, {Replacing("InPlace"), Replacing("InPlace"),
                                    "KOPPEnvironment::InstallClass...In-place replacement of class=InPlace\n"}),
            old);
  EXPECT_EQ(fEnv->LookupByName("INPLACE"), old);
  EXPECT_EQ(fEnv->LookupByNumber(53), old);
}

TEST_F(InstallClassTest, NumberHeldByAnotherClassIsAConflictButInstallationGoesOn) {
  TestClass* alpha = Added("Alpha", 54);
  // The loader is asked; the registry then refuses the built class.
  EXPECT_EQ(Install("Beta", 54, {"KOPPEnvironment::InstallClass( Beta ) name/number conflict.\n",
                                 "KOPPEnvironment::AddClass...Class number already exists = 54/Beta\n"}),
            fLoader->fBuilt);
  EXPECT_TRUE(fLoader->fCalls == 1 && fLoader->fInstalled == nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(54), alpha);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Beta"), nullptr);
}

TEST_F(InstallClassTest, RefusedInstallationsRegisterNothing) {
  TestClass* old = Added("Keep", 55);
  EXPECT_EQ(Install("KEEP", kNone, {Replacing("KEEP"), kBuild + "no such fImplType=6\n", Unable("KEEP")}, kNoLoader),
            nullptr);
  EXPECT_EQ(fEnv->LookupByName("keep"), old);  // the old class stays
  TestClass* plain = Named("NotReflected", 56);
  plain->ImplPut(kRecorded, 1, "i");
  struct Case {
    const KQSClass* proto;
    BuildingLoader::Mode mode;
    Lines expected;
  } cases[] = {
      {Prototype("BadKind", kNone, -1), BuildingLoader::kNewClass, {kBuild + "bad fImplType=-1\n", Unable("BadKind")}},
      {Prototype("BadKind", kNone, 7), BuildingLoader::kNewClass, {kBuild + "bad fImplType=7\n", Unable("BadKind")}},
      {plain, BuildingLoader::kNewClass, {kBuild + "!ImplReflectionOnly()\n", Unable("NotReflected")}},
      {Prototype("Nothing", 57, kRecorded), BuildingLoader::kNothing, {Unable("Nothing")}},
      {Prototype("ViaBase", kNone, kBaseLoader), BuildingLoader::kNewClass,
       {"KQSClassImplLoader::LoadClassFromImpl...should not be called\n", Unable("ViaBase")}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.expected.front());
    fLoader->Reset(k.mode);
    ExpectDebug(k.expected, [&] { EXPECT_EQ(fEnv->InstallClass(k.proto), nullptr); });
    EXPECT_EQ(fLoader->fCalls, k.mode == BuildingLoader::kNothing ? 1 : 0);
    EXPECT_EQ(fEnv->LookupByNameNoLoad(k.proto->ClassName()), nullptr);
    EXPECT_FALSE(k.proto->IsInstalled());
  }
  EXPECT_EQ(fEnv->LookupByNumber(57), nullptr);
  // The kind is checked first: a plain class of a kind without loader is
  // refused for the kind.
  TestClass* plainNoLoader = Named("NotReflectedEither", kNone);
  plainNoLoader->ImplPut(kNoLoader, 1, "i");
  ExpectDebug({kBuild + "no such fImplType=6\n"}, [&] { EXPECT_EQ(plainNoLoader->BuildInstallableClass(fEnv, nullptr), nullptr); });
}

TEST_F(InstallClassTest, BuildInstallableClassHandsItsArgumentsToTheLoader) {
  TestClass* installed = Named("Installed", 58);
  KQSClassReflection* proto = Prototype("Installed", 58, kRecorded);
  KQSClass* built = nullptr;
  ExpectDebug({}, [&] { built = proto->BuildInstallableClass(fEnv, installed); });
  EXPECT_EQ(built, fLoader->fBuilt);
  EXPECT_TRUE(fLoader->fEnvironment == fEnv && fLoader->fInstalled == installed && fLoader->fPrototype == proto);
  EXPECT_FALSE(built->IsInstalled());  // building does not register
  EXPECT_EQ(fEnv->LookupByNumber(58), nullptr);
}

// ===== The loading set =====

TEST_F(InstallClassTest, ClassBeingLoadedIsReturnedForItsNameAsGiven) {
  TestClass* underConstruction = Named("Cyclic", 59);
  fEnv->ClassLoadingBegin(underConstruction);
  EXPECT_EQ(Install("Cyclic", 59, {}), underConstruction);
  EXPECT_EQ(fLoader->fCalls, 0);
  // The class under construction is not registered by that.
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Cyclic"), nullptr);
  EXPECT_FALSE(underConstruction->IsInstalled());
  // It wins over an old class of that name.
  TestClass* old = Added("Reloaded", 60);
  TestClass* reloading = Named("Reloaded", 60);
  fEnv->ClassLoadingBegin(reloading);
  EXPECT_EQ(Install("Reloaded", 60, {Replacing("Reloaded"), Replacing("Reloaded")}), reloading);
  EXPECT_EQ(fLoader->fCalls, 0);
  EXPECT_EQ(fEnv->LookupByNumber(60), old);
  // The set is keyed by the name as given.
  fEnv->ClassLoadingBegin(Named("CaseKey", kNone));
  const KQSClass* built = Install("CASEKEY", kNone, {});
  EXPECT_EQ(fLoader->fCalls, 1);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("casekey"), built);
}

// ===== RegisterImplLoader =====

TEST_F(InstallClassTest, RegisterImplLoaderRefusesBadKindsAndOverrides) {
  KQSClassImplLoader* stray = Keep(new KQSClassImplLoader());
  auto* intruder = Keep(new BuildingLoader());
  const std::string kRegister = "KQSClass::RegisterImplLoader...";
  ExpectDebug({kRegister + "bad implType=-1\n", kRegister + "bad implType=7\n", kRegister + "cannot override implType=4\n"},
              [&] {
                KQSClass::RegisterImplLoader(-1, stray);
                KQSClass::RegisterImplLoader(7, stray);
                KQSClass::RegisterImplLoader(kRecorded, intruder);
              });
  ASSERT_NE(Install("StillFirst", 61, {}), nullptr);
  EXPECT_TRUE(fLoader->fCalls == 1 && intruder->fCalls == 0);
}

TEST(RegisterImplLoaderChildTest, FirstRegistrationIsSilentAndUsed) {
  // A fresh kind is registered in a child, so that this process's loader
  // table stays as the other tests expect it.
  ChildResult r = RunInChild([](std::string& out) {
    Transcript t(out);
    DebugCapture capture;
    auto* first = new BuildingLoader();
    auto* second = new BuildingLoader();
    KQSClass::RegisterImplLoader(3, first);
    t.Line("after first: ", capture.All());
    KQSClass::RegisterImplLoader(3, second);
    t.Line("after second: ", capture.All());
    capture.Clear();
    KOPPEnvironment environment;
    const KQSClass* built = environment.InstallClass(Prototype("ChildKind", 70, 3));
    t.Line("built by first: ", built != nullptr && built == first->fBuilt, " calls: ", first->fCalls, "/",
           second->fCalls, " lines: ", capture.All());
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output,
            "after first: \n"
            "after second: KQSClass::RegisterImplLoader...cannot override implType=3\n\n"
            "built by first: 1 calls: 1/0 lines: \n");
}

}  // namespace
