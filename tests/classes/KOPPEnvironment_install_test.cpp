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
#include "vxkernel/classes/KQSClass.h"

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

BuildingLoader* Recorder() {
  static BuildingLoader* loader = [] {
    auto* l = Keep(new BuildingLoader());
    KQSClass::RegisterImplLoader(kRecorded, l);
    KQSClass::RegisterImplLoader(kBaseLoader, Keep(new KQSClassImplLoader()));
    return l;
  }();
  return loader;
}

class InstallClassTest : public ::testing::Test {
 protected:
  InstallClassTest() : fEnv(Keep(new KOPPEnvironment())), fLoader(Recorder()) {
    fLoader->Reset(BuildingLoader::kNewClass);
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

TEST_F(InstallClassTest, ReplacingANumberedClassRemovesAndLeaksTheOld) {
  TestClass* old = Named("Repl", 51);
  ASSERT_TRUE(fEnv->AddClass(old));
  const KQSClass* built = fEnv->InstallClass(Prototype("REPL", 51, kRecorded));
  ASSERT_NE(built, nullptr);
  EXPECT_NE(built, old);
  EXPECT_EQ(fLoader->fInstalled, old);
  // Found once by name and once more by number.
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::InstallClass( REPL ) replacing old...\n",
                   "KOPPEnvironment::InstallClass( REPL ) replacing old...\n",
                   "KOPPEnvironment::InstallClass...Removing old class=Repl (LEAKING)\n"}));
  EXPECT_EQ(fEnv->LookupByName("repl"), built);
  EXPECT_EQ(fEnv->LookupByNumber(51), built);
  EXPECT_TRUE(old->IsInstalled());  // removal keeps the mark
  EXPECT_STREQ(old->ClassName(), "Repl");
}

TEST_F(InstallClassTest, ReplacingAClassWithoutNumberFreesItsName) {
  TestClass* old = Named("Unnumbered", KQSClass::kNoClassNumber);
  ASSERT_TRUE(fEnv->AddClass(old));
  const KQSClass* built = fEnv->InstallClass(Prototype("Unnumbered", 52, kRecorded));
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::InstallClass( Unnumbered ) replacing old...\n",
                   "KOPPEnvironment::InstallClass...Removing old class=Unnumbered (LEAKING)\n"}));
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
            (Lines{"KOPPEnvironment::InstallClass( ProcOld ) replacing old...\n",
                   "KOPPEnvironment::InstallClass...Removing old class=ProcOld (LEAKING)\n",
                   "KOPPEnvironment::RemoveClass()...ClassNumber out of range=-230...Use "
                   "AddProcessClass instead.\n"}));
  EXPECT_EQ(fEnv->LookupByNumber(62), built);
  EXPECT_EQ(fEnv->LookupByNumber(-230), processOld);
  EXPECT_EQ(fEnv->LookupByName("procold"), processOld);  // still shadowed by the process class
}

TEST_F(InstallClassTest, OldProcessClassWhoseNameIsAnotherClassHereDoesNotMatch) {
  TestClass* processOld = Named("TwoFaced", KQSClass::kNoClassNumber);
  ASSERT_TRUE(fEnv->AddProcessClass(processOld));
  TestClass* own = Named("twofaced", 63);
  ASSERT_TRUE(fEnv->AddClass(own));
  const KQSClass* built =
      fEnv->InstallClass(Prototype("TwoFaced", KQSClass::kNoClassNumber, kRecorded));
  EXPECT_EQ(built, fLoader->fBuilt);
  EXPECT_EQ(
      fCapture.Texts(),
      (Lines{"KOPPEnvironment::InstallClass( TwoFaced ) replacing old...\n",
             "KOPPEnvironment::InstallClass...Removing old class=TwoFaced (LEAKING)\n",
             "KOPPEnvironment::RemoveClass...Class doesn't match = 63/twofaced",
             "KOPPEnvironment::AddClass...Class name already exists = 63/twofaced/TwoFaced\n"}));
  EXPECT_EQ(fEnv->LookupByNumber(63), own);
}

TEST_F(InstallClassTest, OldClassWithAnEmptyOrForeignNumberSlot) {
  TestClass* mover = Named("Mover", KQSClass::kNoClassNumber);
  ASSERT_TRUE(fEnv->AddClass(mover));
  mover->ClassNumber(64);  // its slot stays empty
  const KQSClass* built =
      fEnv->InstallClass(Prototype("Mover", KQSClass::kNoClassNumber, kRecorded));
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::InstallClass( Mover ) replacing old...\n",
                   "KOPPEnvironment::InstallClass...Removing old class=Mover (LEAKING)\n",
                   "KOPPEnvironment::RemoveClass...Class doesn't exist = 64/Mover"}));
  EXPECT_EQ(fEnv->LookupByNameNoLoad("mover"), built);

  TestClass* holder = Named("Holder", 65);
  TestClass* squatter = Named("Squatter", KQSClass::kNoClassNumber);
  ASSERT_TRUE(fEnv->AddClass(holder));
  ASSERT_TRUE(fEnv->AddClass(squatter));
  squatter->ClassNumber(65);  // the slot belongs to Holder
  fCapture.Clear();
  built = fEnv->InstallClass(Prototype("Squatter", KQSClass::kNoClassNumber, kRecorded));
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::InstallClass( Squatter ) replacing old...\n",
                   "KOPPEnvironment::InstallClass...Removing old class=Squatter (LEAKING)\n",
                   "KOPPEnvironment::RemoveClass...Class doesn't match = 65/Squatter"}));
  EXPECT_EQ(fEnv->LookupByNumber(65), holder);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("squatter"), built);
}

TEST_F(InstallClassTest, LoaderMayUpdateTheInstalledClassInPlace) {
  TestClass* old = Named("InPlace", 53);
  ASSERT_TRUE(fEnv->AddClass(old));
  fLoader->Reset(BuildingLoader::kInPlace);
  EXPECT_EQ(fEnv->InstallClass(Prototype("InPlace", 53, kRecorded)), old);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::InstallClass( InPlace ) replacing old...\n",
                   "KOPPEnvironment::InstallClass( InPlace ) replacing old...\n",
                   "KOPPEnvironment::InstallClass...In-place replacement of class=InPlace\n"}));
  EXPECT_EQ(fEnv->LookupByName("INPLACE"), old);
  EXPECT_EQ(fEnv->LookupByNumber(53), old);
}

TEST_F(InstallClassTest, NumberHeldByAnotherClassIsAConflictButInstallationGoesOn) {
  TestClass* alpha = Named("Alpha", 54);
  ASSERT_TRUE(fEnv->AddClass(alpha));
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
  TestClass* old = Named("Keep", 55);
  ASSERT_TRUE(fEnv->AddClass(old));
  EXPECT_EQ(fEnv->InstallClass(Prototype("KEEP", KQSClass::kNoClassNumber, kNoLoader)), nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::InstallClass( KEEP ) replacing old...\n",
                   "KQSClass::BuildInstallableClass...no such fImplType=6\n",
                   "KOPPEnvironment::InstallClass...Unable to install class=KEEP\n"}));
  EXPECT_EQ(fEnv->LookupByName("keep"), old);
  EXPECT_EQ(fEnv->LookupByNumber(55), old);
  EXPECT_EQ(fLoader->fCalls, 0);
}

TEST_F(InstallClassTest, KindOutsideZeroToSixIsRefused) {
  for (long kind : {-1L, 7L, 1000L}) {
    fCapture.Clear();
    EXPECT_EQ(fEnv->InstallClass(Prototype("BadKind", KQSClass::kNoClassNumber, kind)), nullptr);
    EXPECT_EQ(
        fCapture.Texts(),
        (Lines{"KQSClass::BuildInstallableClass...bad fImplType=" + std::to_string(kind) + "\n",
               "KOPPEnvironment::InstallClass...Unable to install class=BadKind\n"}));
  }
  EXPECT_EQ(fEnv->LookupByName("BadKind"), nullptr);
  EXPECT_EQ(fLoader->fCalls, 0);
}

TEST_F(InstallClassTest, OnlyReflectionPrototypesAreBuilt) {
  TestClass* plain = Named("NotReflected", 56);
  plain->ImplPut(kRecorded, 1, "i");
  EXPECT_EQ(fEnv->InstallClass(plain), nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KQSClass::BuildInstallableClass...!ImplReflectionOnly()\n",
                   "KOPPEnvironment::InstallClass...Unable to install class=NotReflected\n"}));
  EXPECT_EQ(fLoader->fCalls, 0);
  EXPECT_EQ(fEnv->LookupByNumber(56), nullptr);
  EXPECT_FALSE(plain->IsInstalled());

  // The kind is checked first: a plain class of a kind without loader is
  // refused for the kind.
  TestClass* plainNoLoader = Named("NotReflectedEither", KQSClass::kNoClassNumber);
  plainNoLoader->ImplPut(kNoLoader, 1, "i");
  TestClass* plainBadKind = Named("NotReflectedBad", KQSClass::kNoClassNumber);
  plainBadKind->ImplPut(9, 1, "i");
  fCapture.Clear();
  EXPECT_EQ(plainNoLoader->BuildInstallableClass(fEnv, nullptr), nullptr);
  EXPECT_EQ(plainBadKind->BuildInstallableClass(fEnv, nullptr), nullptr);
  EXPECT_EQ(fCapture.Texts(), (Lines{"KQSClass::BuildInstallableClass...no such fImplType=6\n",
                                     "KQSClass::BuildInstallableClass...bad fImplType=9\n"}));
}

TEST_F(InstallClassTest, LoaderThatBuildsNothingFailsTheInstallation) {
  fLoader->Reset(BuildingLoader::kNothing);
  EXPECT_EQ(fEnv->InstallClass(Prototype("Nothing", 57, kRecorded)), nullptr);
  EXPECT_EQ(fLoader->fCalls, 1);
  EXPECT_EQ(fCapture.Texts(),
            Lines{"KOPPEnvironment::InstallClass...Unable to install class=Nothing\n"});
  EXPECT_EQ(fEnv->LookupByNumber(57), nullptr);
}

TEST_F(InstallClassTest, BaseImplementationLoaderSaysItShouldNotBeCalled) {
  EXPECT_EQ(fEnv->InstallClass(Prototype("ViaBase", KQSClass::kNoClassNumber, kBaseLoader)),
            nullptr);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KQSClassImplLoader::LoadClassFromImpl...should not be called\n",
                   "KOPPEnvironment::InstallClass...Unable to install class=ViaBase\n"}));
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
}

TEST_F(InstallClassTest, ClassBeingLoadedWinsOverAnOldOne) {
  TestClass* old = Named("Reloaded", 60);
  ASSERT_TRUE(fEnv->AddClass(old));
  TestClass* underConstruction = Named("Reloaded", 60);
  fEnv->ClassLoadingBegin(underConstruction);
  EXPECT_EQ(fEnv->InstallClass(Prototype("Reloaded", 60, kRecorded)), underConstruction);
  EXPECT_EQ(fCapture.Texts(),
            (Lines{"KOPPEnvironment::InstallClass( Reloaded ) replacing old...\n",
                   "KOPPEnvironment::InstallClass( Reloaded ) replacing old...\n"}));
  EXPECT_EQ(fLoader->fCalls, 0);
  EXPECT_EQ(fEnv->LookupByNumber(60), old);
}

TEST_F(InstallClassTest, LoadingSetIsKeyedByTheNameAsGiven) {
  TestClass* underConstruction = Named("CaseKey", KQSClass::kNoClassNumber);
  fEnv->ClassLoadingBegin(underConstruction);
  const KQSClass* built =
      fEnv->InstallClass(Prototype("CASEKEY", KQSClass::kNoClassNumber, kRecorded));
  EXPECT_EQ(fLoader->fCalls, 1);
  EXPECT_EQ(built, fLoader->fBuilt);
  EXPECT_EQ(fEnv->LookupByNameNoLoad("casekey"), built);
  EXPECT_EQ(fCapture.Texts(), Lines{});
}

// ===== RegisterImplLoader =====

TEST_F(InstallClassTest, RegisterImplLoaderRefusesBadKinds) {
  KQSClassImplLoader* stray = Keep(new KQSClassImplLoader());
  KQSClass::RegisterImplLoader(-1, stray);
  KQSClass::RegisterImplLoader(7, stray);
  EXPECT_EQ(fCapture.Texts(), (Lines{"KQSClass::RegisterImplLoader...bad implType=-1\n",
                                     "KQSClass::RegisterImplLoader...bad implType=7\n"}));
}

TEST_F(InstallClassTest, FirstRegisteredLoaderStays) {
  auto* intruder = Keep(new BuildingLoader());
  KQSClass::RegisterImplLoader(kRecorded, intruder);
  EXPECT_EQ(fCapture.Texts(), Lines{"KQSClass::RegisterImplLoader...cannot override implType=4\n"});
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
