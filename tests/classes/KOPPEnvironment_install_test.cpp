// Installing classes from prototypes: the implementation loaders, the
// replacement of an old class, conflicts, refusals and the loading set.
//
// Implementation loaders are process-global and never removed. This program
// registers its recording loader for kind 4 and the base loader for kind 5
// once, leaves kind 6 without a loader, and tries first registrations of
// other kinds only in forked children.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "classes/class_test_support.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassImplLoader.h"
#include "vxkernel/classes/KQSClassReflection.h"

namespace {

using classes_test::BuildingLoader;
using classes_test::Keep;
using classes_test::Lines;
using classes_test::Named;
using classes_test::Prototype;
using classes_test::TestClass;

constexpr long kRecorded = 4;    // BuildingLoader
constexpr long kBaseLoader = 5;  // the base KQSClassImplLoader
constexpr long kNoLoader = 6;    // never registered here
constexpr short kNone = KQSClass::kNoClassNumber;

BuildingLoader* Recorder() {
  static BuildingLoader* loader = [] {
    auto* l = Keep(new BuildingLoader());
    KQSClass::RegisterImplLoader(kRecorded, l);
    KQSClass::RegisterImplLoader(kBaseLoader, Keep(new KQSClassImplLoader()));
    return l;
  }();
  return loader;
}

// The debug lines of InstallClass and RemoveClass.
std::string Replacing(const std::string& n) {
  return "KOPPEnvironment::InstallClass( " + n + " ) replacing old...\n";
}
std::string Removing(const std::string& n) {
  return "KOPPEnvironment::InstallClass...Removing old class=" + n + " (LEAKING)\n";
}
std::string Unable(const std::string& n) {
  return "KOPPEnvironment::InstallClass...Unable to install class=" + n + "\n";
}

class InstallClassTest : public ::testing::Test {
 protected:
  InstallClassTest() : fEnv(Keep(new KOPPEnvironment())), fLoader(Recorder()) {
    fLoader->Reset(BuildingLoader::kNewClass);
  }
  TestClass* Added(const char* name, short number) {
    TestClass* c = Named(name, number);
    EXPECT_TRUE(fEnv->AddClass(c));
    return c;
  }

  KOPPEnvironment* fEnv;
  BuildingLoader* fLoader;
  DebugCapture fCapture;
};

TEST_F(InstallClassTest, NewClassIsBuiltByTheLoaderAndRegistered) {
  KQSClassReflection* proto = Prototype("Fresh", 50, kRecorded);
  const KQSClass* built = fEnv->InstallClass(proto);
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(built, fLoader->fBuilt);
  EXPECT_EQ(fLoader->fCalls, 1);
  EXPECT_EQ(fLoader->fEnvironment, fEnv);
  EXPECT_EQ(fLoader->fInstalled, nullptr);
  EXPECT_EQ(fLoader->fPrototype, proto);
  EXPECT_TRUE(built->IsInstalled());
  EXPECT_EQ(fEnv->LookupByNameNoLoad("FRESH"), built);
  EXPECT_EQ(fEnv->LookupByNumber(50), built);
  EXPECT_FALSE(proto->IsInstalled());
  EXPECT_EQ(fCapture.Texts(), Lines{});
}

TEST_F(InstallClassTest, ReplacingAClassRemovesAndLeaksTheOld) {
  TestClass* old = Added("Repl", 51);
  const KQSClass* built = fEnv->InstallClass(Prototype("REPL", 51, kRecorded));
  ASSERT_NE(built, nullptr);
  EXPECT_NE(built, old);
  EXPECT_EQ(fLoader->fInstalled, old);
  // Found once by name and once more by number.
  EXPECT_EQ(fCapture.Texts(), (Lines{Replacing("REPL"), Replacing("REPL"), Removing("Repl")}));
  EXPECT_EQ(fEnv->LookupByName("repl"), built);
  EXPECT_EQ(fEnv->LookupByNumber(51), built);
  EXPECT_TRUE(old->IsInstalled());  // removal keeps the mark
  EXPECT_STREQ(old->ClassName(), "Repl");

  // An old class without a number frees its name.
  Added("Unnumbered", kNone);
  fCapture.Clear();
  built = fEnv->InstallClass(Prototype("Unnumbered", 52, kRecorded));
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(fCapture.Texts(), (Lines{Replacing("Unnumbered"), Removing("Unnumbered")}));
  EXPECT_EQ(fEnv->LookupByName("unnumbered"), built);
  EXPECT_EQ(fEnv->LookupByNumber(52), built);
}

// The old class is whatever the name lookup finds, which may be a process
// class or a class whose number no longer matches its slot; removing such
// an old class reports why it could not be removed from this environment.

TEST_F(InstallClassTest, OldProcessClassCannotBeRemovedFromTheEnvironment) {
  TestClass* processOld = Named("ProcOld", -230);
  ASSERT_TRUE(fEnv->AddProcessClass(processOld));
  const KQSClass* built = fEnv->InstallClass(Prototype("ProcOld", 62, kRecorded));
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(fLoader->fInstalled, processOld);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{Replacing("ProcOld"), Removing("ProcOld"),
                   "KOPPEnvironment::RemoveClass()...ClassNumber out of range=-230...Use "
                   "AddProcessClass instead.\n"}));
  EXPECT_EQ(fEnv->LookupByNumber(62), built);
  EXPECT_EQ(fEnv->LookupByNumber(-230), processOld);
  EXPECT_EQ(fEnv->LookupByName("procold"), processOld);  // still shadowed by the process class

  // A process class whose name is another class here does not match it.
  ASSERT_TRUE(fEnv->AddProcessClass(Named("TwoFaced", kNone)));
  TestClass* own = Added("twofaced", 63);
  fCapture.Clear();
  built = fEnv->InstallClass(Prototype("TwoFaced", kNone, kRecorded));
  EXPECT_EQ(built, fLoader->fBuilt);
  EXPECT_EQ(
      fCapture.Texts(),
      (Lines{Replacing("TwoFaced"), Removing("TwoFaced"),
             "KOPPEnvironment::RemoveClass...Class doesn't match = 63/twofaced",
             "KOPPEnvironment::AddClass...Class name already exists = 63/twofaced/TwoFaced\n"}));
  EXPECT_EQ(fEnv->LookupByNumber(63), own);
}

TEST_F(InstallClassTest, OldClassWithAnEmptyOrForeignNumberSlot) {
  TestClass* mover = Added("Mover", kNone);
  mover->ClassNumber(64);  // its slot stays empty
  const KQSClass* built = fEnv->InstallClass(Prototype("Mover", kNone, kRecorded));
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{Replacing("Mover"), Removing("Mover"),
                   "KOPPEnvironment::RemoveClass...Class doesn't exist = 64/Mover"}));
  EXPECT_EQ(fEnv->LookupByNameNoLoad("mover"), built);

  TestClass* holder = Added("Holder", 65);
  Added("Squatter", kNone)->ClassNumber(65);  // the slot belongs to Holder
  fCapture.Clear();
  built = fEnv->InstallClass(Prototype("Squatter", kNone, kRecorded));
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{Replacing("Squatter"), Removing("Squatter"),
                   "KOPPEnvironment::RemoveClass...Class doesn't match = 65/Squatter"}));
  EXPECT_EQ(fEnv->LookupByNumber(65), holder);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("squatter"), built);
}

TEST_F(InstallClassTest, LoaderMayUpdateTheInstalledClassInPlace) {
  TestClass* old = Added("InPlace", 53);
  fLoader->Reset(BuildingLoader::kInPlace);
  EXPECT_EQ(fEnv->InstallClass(Prototype("InPlace", 53, kRecorded)), old);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{Replacing("InPlace"), Replacing("InPlace"),
                   "KOPPEnvironment::InstallClass...In-place replacement of class=InPlace\n"}));
  EXPECT_EQ(fEnv->LookupByName("INPLACE"), old);
  EXPECT_EQ(fEnv->LookupByNumber(53), old);
}

TEST_F(InstallClassTest, NumberHeldByAnotherClassIsAConflictButInstallationGoesOn) {
  TestClass* alpha = Added("Alpha", 54);
  const KQSClass* built = fEnv->InstallClass(Prototype("Beta", 54, kRecorded));
  // The loader was asked; the registry then refuses the built class.
  EXPECT_EQ(fLoader->fCalls, 1);
  EXPECT_EQ(fLoader->fInstalled, nullptr);
  EXPECT_EQ(built, fLoader->fBuilt);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::InstallClass( Beta ) name/number conflict.\n",
                   "KOPPEnvironment::AddClass...Class number already exists = 54/Beta\n"}));
  EXPECT_EQ(fEnv->LookupByNumber(54), alpha);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Beta"), nullptr);
}

TEST_F(InstallClassTest, KindWithoutLoaderLeavesTheOldClassRegistered) {
  TestClass* old = Added("Keep", 55);
  EXPECT_EQ(fEnv->InstallClass(Prototype("KEEP", kNone, kNoLoader)), nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{Replacing("KEEP"), "KQSClass::BuildInstallableClass...no such fImplType=6\n",
                   Unable("KEEP")}));
  EXPECT_EQ(fEnv->LookupByName("keep"), old);
  EXPECT_EQ(fEnv->LookupByNumber(55), old);
  EXPECT_EQ(fLoader->fCalls, 0);
}

TEST_F(InstallClassTest, RefusedInstallationsRegisterNothing) {
  const std::string kBuild = "KQSClass::BuildInstallableClass...";
  TestClass* plain = Named("NotReflected", 56);
  plain->ImplPut(kRecorded, 1, "i");
  struct Case {
    KQSClass* proto;
    BuildingLoader::Mode mode;
    int loaderCalls;
    Lines expected;
  } cases[] = {
      {Prototype("BadKind", kNone, -1),
       BuildingLoader::kNewClass,
       0,
       {kBuild + "bad fImplType=-1\n", Unable("BadKind")}},
      {Prototype("BadKind", kNone, 7),
       BuildingLoader::kNewClass,
       0,
       {kBuild + "bad fImplType=7\n", Unable("BadKind")}},
      {Prototype("BadKind", kNone, 1000),
       BuildingLoader::kNewClass,
       0,
       {kBuild + "bad fImplType=1000\n", Unable("BadKind")}},
      {plain,
       BuildingLoader::kNewClass,
       0,
       {kBuild + "!ImplReflectionOnly()\n", Unable("NotReflected")}},
      {Prototype("Nothing", 57, kRecorded), BuildingLoader::kNothing, 1, {Unable("Nothing")}},
      {Prototype("ViaBase", kNone, kBaseLoader),
       BuildingLoader::kNewClass,
       0,
       {"KQSClassImplLoader::LoadClassFromImpl...should not be called\n", Unable("ViaBase")}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.expected.front());
    fLoader->Reset(k.mode);
    fCapture.Clear();
    EXPECT_EQ(fEnv->InstallClass(k.proto), nullptr);
    EXPECT_EQ(fCapture.Texts(), k.expected);
    EXPECT_EQ(fLoader->fCalls, k.loaderCalls);
    EXPECT_EQ(fEnv->LookupByNameNoLoad(k.proto->ClassName()), nullptr);
    EXPECT_FALSE(k.proto->IsInstalled());
  }
  EXPECT_EQ(fEnv->LookupByNumber(56), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(57), nullptr);

  // The kind is checked first: a plain class of a kind without loader is
  // refused for the kind.
  TestClass* plainNoLoader = Named("NotReflectedEither", kNone);
  plainNoLoader->ImplPut(kNoLoader, 1, "i");
  TestClass* plainBadKind = Named("NotReflectedBad", kNone);
  plainBadKind->ImplPut(9, 1, "i");
  fCapture.Clear();
  EXPECT_EQ(plainNoLoader->BuildInstallableClass(fEnv, nullptr), nullptr);
  EXPECT_EQ(plainBadKind->BuildInstallableClass(fEnv, nullptr), nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{kBuild + "no such fImplType=6\n", kBuild + "bad fImplType=9\n"}));
}

TEST_F(InstallClassTest, BuildInstallableClassHandsItsArgumentsToTheLoader) {
  TestClass* installed = Named("Installed", 58);
  KQSClassReflection* proto = Prototype("Installed", 58, kRecorded);
  KQSClass* built = proto->BuildInstallableClass(fEnv, installed);
  EXPECT_EQ(built, fLoader->fBuilt);
  EXPECT_EQ(fLoader->fEnvironment, fEnv);
  EXPECT_EQ(fLoader->fInstalled, installed);
  EXPECT_EQ(fLoader->fPrototype, proto);
  EXPECT_FALSE(built->IsInstalled());  // building does not register
  EXPECT_EQ(fEnv->LookupByNumber(58), nullptr);
  EXPECT_EQ(fCapture.Texts(), Lines{});
}

// ===== The loading set =====

TEST_F(InstallClassTest, ClassBeingLoadedIsReturnedForItsName) {
  TestClass* underConstruction = Named("Cyclic", 59);
  fEnv->ClassLoadingBegin(underConstruction);
  EXPECT_EQ(fEnv->InstallClass(Prototype("Cyclic", 59, kRecorded)), underConstruction);
  EXPECT_EQ(fLoader->fCalls, 0);
  EXPECT_EQ(fCapture.Texts(), Lines{});
  // The class under construction is not registered by that.
  EXPECT_EQ(fEnv->LookupByNameNoLoad("Cyclic"), nullptr);
  EXPECT_EQ(fEnv->LookupByNumber(59), nullptr);
  EXPECT_FALSE(underConstruction->IsInstalled());

  // It wins over an old class of that name.
  TestClass* old = Added("Reloaded", 60);
  TestClass* reloading = Named("Reloaded", 60);
  fEnv->ClassLoadingBegin(reloading);
  EXPECT_EQ(fEnv->InstallClass(Prototype("Reloaded", 60, kRecorded)), reloading);
  EXPECT_EQ(fCapture.Texts(), (Lines{Replacing("Reloaded"), Replacing("Reloaded")}));
  EXPECT_EQ(fLoader->fCalls, 0);
  EXPECT_EQ(fEnv->LookupByNumber(60), old);
}

TEST_F(InstallClassTest, LoadingSetIsKeyedByTheNameAsGiven) {
  fEnv->ClassLoadingBegin(Named("CaseKey", kNone));
  const KQSClass* built = fEnv->InstallClass(Prototype("CASEKEY", kNone, kRecorded));
  EXPECT_EQ(fLoader->fCalls, 1);
  EXPECT_EQ(built, fLoader->fBuilt);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("casekey"), built);
  EXPECT_EQ(fCapture.Texts(), Lines{});
}

// ===== RegisterImplLoader =====

TEST_F(InstallClassTest, RegisterImplLoaderRefusesBadKindsAndOverrides) {
  KQSClassImplLoader* stray = Keep(new KQSClassImplLoader());
  auto* intruder = Keep(new BuildingLoader());
  KQSClass::RegisterImplLoader(-1, stray);
  KQSClass::RegisterImplLoader(7, stray);
  KQSClass::RegisterImplLoader(kRecorded, intruder);
  const std::string kRegister = "KQSClass::RegisterImplLoader...";
  EXPECT_EQ(fCapture.Texts(),
            (Lines{kRegister + "bad implType=-1\n", kRegister + "bad implType=7\n",
                   kRegister + "cannot override implType=4\n"}));
  ASSERT_NE(fEnv->InstallClass(Prototype("StillFirst", 61, kRecorded)), nullptr);
  EXPECT_EQ(fLoader->fCalls, 1);
  EXPECT_EQ(intruder->fCalls, 0);
}

TEST(RegisterImplLoaderChildTest, FirstRegistrationIsSilentAndUsed) {
  // A fresh kind is registered in a child, so that this process's loader
  // table stays as the other tests expect it.
  ChildResult r = RunInChild([](std::string& out) {
    DebugCapture capture;
    auto* first = new BuildingLoader();
    auto* second = new BuildingLoader();
    KQSClass::RegisterImplLoader(3, first);
    out += "after first:" + capture.All() + "|";
    KQSClass::RegisterImplLoader(3, second);
    out += "after second:" + capture.All() + "|";
    capture.Clear();
    KOPPEnvironment environment;
    const KQSClass* built = environment.InstallClass(Prototype("ChildKind", 70, 3));
    out += "built:" + std::string(built != nullptr && built == first->fBuilt ? "first" : "other");
    out += " calls:" + std::to_string(first->fCalls) + "/" + std::to_string(second->fCalls);
    out += " lines:" + capture.All();
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output,
            "after first:|"
            "after second:KQSClass::RegisterImplLoader...cannot override implType=3\n|"
            "built:first calls:1/0 lines:");
}

}  // namespace
