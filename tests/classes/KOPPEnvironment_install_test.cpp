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

KQSClassReflection* Prototype(const char* name, short number, long implType) {
  auto* p = Keep(new KQSClassReflection());
  p->ClassName(name);
  p->ClassNumber(number);
  p->ImplPut(implType, 2, "im");
  return p;
}

// Records its calls and answers as told: a new class named and numbered like
// the prototype, the installed class itself (an in-place update), or nothing.
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
  void Reset(Mode mode) {
    fMode = mode;
    fCalls = 0;
    fInstalled = fPrototype = fBuilt = nullptr;
  }
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

TEST_F(InstallClassTest, NewClassIsBuiltByTheLoaderAndRegistered) {
  KQSClassReflection* proto = Prototype("Fresh", 50, kRecorded);
  const KQSClass* built = nullptr;
  ExpectDebug({}, [&] { built = fEnv->InstallClass(proto); });
  ASSERT_NE(built, nullptr);
  EXPECT_TRUE(built == fLoader->fBuilt && fLoader->fCalls == 1 && fLoader->fEnvironment == fEnv &&
              fLoader->fInstalled == nullptr && fLoader->fPrototype == proto);
  EXPECT_TRUE(built->IsInstalled() && !proto->IsInstalled());
  EXPECT_TRUE(fEnv->LookupByNameNoLoad("FRESH") == built && fEnv->LookupByNumber(50) == built);
  // Building alone hands over the installed class and registers nothing.
  TestClass* installed = Named("Installed", 58);
  ExpectDebug({}, [&] { built = Prototype("Installed", 58, kRecorded)->BuildInstallableClass(fEnv, installed); });
  EXPECT_TRUE(built == fLoader->fBuilt && fLoader->fInstalled == installed && !built->IsInstalled());
  EXPECT_EQ(fEnv->LookupByNumber(58), nullptr);
}

// The old class is whatever the name lookup finds (found once by name and
// once more by number); it is removed and leaked, or, when it is a process
// class or its number no longer matches its slot, removal reports why not.
TEST_F(InstallClassTest, ReplacingAnOldClass) {
  TestClass* old = Added("Repl", 51);
  const KQSClass* built = Install("REPL", 51, {Replacing("REPL"), Replacing("REPL"), Removing("Repl")});
  EXPECT_TRUE(built != nullptr && built != old && fLoader->fInstalled == old);
  EXPECT_TRUE(fEnv->LookupByName("repl") == built && fEnv->LookupByNumber(51) == built);
  EXPECT_TRUE(old->IsInstalled());  // removal keeps the mark
  Added("Unnumbered", kNone);  // frees its name
  built = Install("Unnumbered", 52, {Replacing("Unnumbered"), Removing("Unnumbered")});
  EXPECT_TRUE(fEnv->LookupByName("unnumbered") == built && fEnv->LookupByNumber(52) == built);
  TestClass* processOld = Named("ProcOld", -230);
  ASSERT_TRUE(fEnv->AddProcessClass(processOld));
  built = Install("ProcOld", 62, {Replacing("ProcOld"), Removing("ProcOld"),
      "KOPPEnvironment::RemoveClass()...ClassNumber out of range=-230...Use AddProcessClass instead.\n"});
  EXPECT_TRUE(fEnv->LookupByNumber(62) == built && fEnv->LookupByName("procold") == processOld);
  ASSERT_TRUE(fEnv->AddProcessClass(Named("TwoFaced", kNone)));
  TestClass* own = Added("twofaced", 63);
  Install("TwoFaced", kNone, {Replacing("TwoFaced"), Removing("TwoFaced"), kRemove + "Class doesn't match = 63/twofaced",
                              "KOPPEnvironment::AddClass...Class name already exists = 63/twofaced/TwoFaced\n"});
  EXPECT_EQ(fEnv->LookupByNumber(63), own);
  Added("Mover", kNone)->ClassNumber(64);
  built = Install("Mover", kNone, {Replacing("Mover"), Removing("Mover"), kRemove + "Class doesn't exist = 64/Mover"});
  EXPECT_EQ(fEnv->LookupByNameNoLoad("mover"), built);
  TestClass* holder = Added("Holder", 65);
  Added("Squatter", kNone)->ClassNumber(65);
  built = Install("Squatter", kNone, {Replacing("Squatter"), Removing("Squatter"), kRemove + "Class doesn't match = 65/Squatter"});
  EXPECT_TRUE(fEnv->LookupByNumber(65) == holder && fEnv->LookupByNameNoLoad("squatter") == built);
  // The loader may update the installed class in place.
  old = Added("InPlace", 53);
  fLoader->Reset(BuildingLoader::kInPlace);
  EXPECT_EQ(Install("InPlace", 53, {Replacing("InPlace"), Replacing("InPlace"),
                                    "KOPPEnvironment::InstallClass...In-place replacement of class=InPlace\n"}), old);
  EXPECT_TRUE(fEnv->LookupByName("INPLACE") == old && fEnv->LookupByNumber(53) == old);
}

TEST_F(InstallClassTest, NumberHeldByAnotherClassIsAConflictButTheLoaderIsAsked) {
  TestClass* alpha = Added("Alpha", 54);
  EXPECT_EQ(Install("Beta", 54, {"KOPPEnvironment::InstallClass( Beta ) name/number conflict.\n",
                                 "KOPPEnvironment::AddClass...Class number already exists = 54/Beta\n"}), fLoader->fBuilt);
  EXPECT_TRUE(fLoader->fCalls == 1 && fLoader->fInstalled == nullptr);
  EXPECT_TRUE(fEnv->LookupByNumber(54) == alpha && fEnv->LookupByNameNoLoad("Beta") == nullptr);
}

TEST_F(InstallClassTest, RefusedInstallationsRegisterNothing) {
  TestClass* old = Added("Keep", 55);
  EXPECT_EQ(Install("KEEP", kNone, {Replacing("KEEP"), kBuild + "no such fImplType=6\n", Unable("KEEP")}, kNoLoader), nullptr);
  EXPECT_EQ(fEnv->LookupByName("keep"), old);  // the old class stays
  TestClass* plain = Named("NotReflected", 56);
  plain->ImplPut(kRecorded, 1, "i");
  const struct {
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
  for (const auto& k : cases) {
    fLoader->Reset(k.mode);
    ExpectDebug(k.expected, [&] { EXPECT_EQ(fEnv->InstallClass(k.proto), nullptr); });
    EXPECT_EQ(fLoader->fCalls, k.mode == BuildingLoader::kNothing ? 1 : 0);
    EXPECT_TRUE(fEnv->LookupByNameNoLoad(k.proto->ClassName()) == nullptr && !k.proto->IsInstalled());
  }
  EXPECT_EQ(fEnv->LookupByNumber(57), nullptr);
  // The kind is checked first.
  TestClass* plainNoLoader = Named("NotReflectedEither", kNone);
  plainNoLoader->ImplPut(kNoLoader, 1, "i");
  ExpectDebug({kBuild + "no such fImplType=6\n"}, [&] { EXPECT_EQ(plainNoLoader->BuildInstallableClass(fEnv, nullptr), nullptr); });
}

// The loading set is keyed by the name as given; its class wins over an
// old class of that name and is not registered by that.
TEST_F(InstallClassTest, ClassBeingLoadedIsReturnedForItsName) {
  TestClass* cyclic = Named("Cyclic", 59);
  fEnv->ClassLoadingBegin(cyclic);
  EXPECT_EQ(Install("Cyclic", 59, {}), cyclic);
  EXPECT_TRUE(fLoader->fCalls == 0 && fEnv->LookupByNameNoLoad("Cyclic") == nullptr && !cyclic->IsInstalled());
  TestClass* old = Added("Reloaded", 60);
  TestClass* reloading = Named("Reloaded", 60);
  fEnv->ClassLoadingBegin(reloading);
  EXPECT_EQ(Install("Reloaded", 60, {Replacing("Reloaded"), Replacing("Reloaded")}), reloading);
  EXPECT_TRUE(fLoader->fCalls == 0 && fEnv->LookupByNumber(60) == old);
  fEnv->ClassLoadingBegin(Named("CaseKey", kNone));
  const KQSClass* built = Install("CASEKEY", kNone, {});
  EXPECT_TRUE(fLoader->fCalls == 1 && fEnv->LookupByNameNoLoad("casekey") == built);
}

TEST_F(InstallClassTest, RegisterImplLoaderRefusesBadKindsAndOverrides) {
  KQSClassImplLoader* stray = Keep(new KQSClassImplLoader());
  auto* intruder = Keep(new BuildingLoader());
  const std::string kRegister = "KQSClass::RegisterImplLoader...";
  ExpectDebug({kRegister + "bad implType=-1\n", kRegister + "bad implType=7\n", kRegister + "cannot override implType=4\n"}, [&] {
    KQSClass::RegisterImplLoader(-1, stray);
    KQSClass::RegisterImplLoader(7, stray);
    KQSClass::RegisterImplLoader(kRecorded, intruder);
  });
  ASSERT_NE(Install("StillFirst", 61, {}), nullptr);
  EXPECT_TRUE(fLoader->fCalls == 1 && intruder->fCalls == 0);
  // A first registration is silent (in a child: the table is process-wide).
  ChildResult r = RunInChild([](std::string& out) {
    DebugCapture capture;
    auto* first = new BuildingLoader();
    KQSClass::RegisterImplLoader(3, first);
    const KQSClass* built = KOPPEnvironment().InstallClass(Prototype("ChildKind", 70, 3));
    Transcript(out).Line("built ", built != nullptr && built == first->fBuilt, " lines '", capture.All(), "'");
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "built 1 lines ''\n");
}

}  // namespace
