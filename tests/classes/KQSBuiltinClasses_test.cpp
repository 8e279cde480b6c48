// The process environment after start-up: every built-in type by number,
// name and flags, the well-known class slots, and KQSValue's questions
// about class numbers. This program registers nothing of its own, so the
// process tables hold exactly what start-up put there.
#include "vxkernel/classes/KQSBuiltinClasses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "classes/class_test_support.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSValueBaseClass.h"
#include "vxkernel/values/KQSValue.h"

namespace {

struct Builtin {
  short number;
  const char* name;
  bool pointer;  // stores its values in reference-counted storage
  bool subscript;
  bool invoke;
  short dot;
};

// The built-in types with their capabilities, written out from the type
// table independently of the code that registers them.
const Builtin kBuiltins[] = {
    {0, "Undefined", false, false, false, 0},
    {1, "Error", false, false, false, 0},
    {2, "Integer", false, false, false, 0},
    {4, "BlobId", false, false, false, 0},
    {5, "Boolean", false, false, false, 0},
    {6, "Point", false, false, false, 0},
    {7, "NotSet", false, false, false, 0},
    {8, "Void", false, false, false, 0},
    {17, "Ptr", false, false, false, 0},
    {-1, "String", true, true, false, 0},
    {-2, "List", true, true, false, 0},
    {-4, "Real", true, false, false, 0},
    {-5, "Extern", true, false, false, 0},
    {-6, "Bytes", true, false, false, 0},
    {-7, "Date", true, false, false, 0},
    {-8, "Long", true, false, false, 0},
    {-13, "XMethodInvocation", true, false, true, 0},
    {-14, "XObject", true, false, false, 1},
    {-15, "CacheTree", true, false, false, 0},
    {-16, "VXSearch", true, true, false, 0},
    {-18, "Assoc", true, true, false, 2},
    {-19, "OleMethod", true, false, true, 0},
    {-20, "OleDispatch", true, false, false, 1},
    {-21, "CAPILogin", true, false, false, 3},
    {-23, "WAPISubWorkTask", true, false, false, 3},
    {-24, "WAPISubWork", true, false, false, 3},
    {-65, "UAPIUser", true, false, false, 3},
    {-66, "CAPILog", true, false, false, 3},
    {-67, "CAPIErr", true, false, false, 3},
    {-68, "DAPIStream", true, false, false, 3},
    {-69, "DAPIVersion", true, false, false, 3},
    {-72, "DAPINode", true, false, false, 3},
    {-74, "DAPISession", true, false, false, 3},
    {-75, "WAPIWork", true, false, false, 3},
    {-76, "WAPIMapTask", true, false, false, 3},
    {-77, "WAPIMap", true, false, false, 3},
    {-78, "WAPISession", true, false, false, 3},
    {-79, "UAPISession", true, false, false, 3},
    {-80, "CAPIConnect", true, false, false, 3},
    {-85, "VisTag", true, true, false, 0},
    {-86, "Vis", true, true, false, 3},
    {-102, "Socket", true, false, false, 3},
    {-107, "File", true, false, false, 3},
    {-108, "ListExpand", true, false, false, 0},
    {-109, "Record", true, true, false, 1},
    {-110, "RecArray", true, true, false, 0},
    {-127, "Dynamic", false, true, true, 2},
    {-128, "Object", false, false, false, 2},
    {-131, "SlotIndex", false, false, false, 0},
    {-132, "TypeCode", true, true, false, 0},
};

using classes_test::Lower;
using classes_test::Upper;

class BuiltinClassTest : public ::testing::TestWithParam<Builtin> {};

TEST_P(BuiltinClassTest, IsRegisteredByNumberAndNameWithItsFlags) {
  const Builtin& b = GetParam();
  KOPPEnvironment* process = KQSValue::ProcessEnvironment();
  ASSERT_NE(process, nullptr);
  DebugCapture capture;
  const KQSClass* c = process->LookupByNumber(b.number);
  ASSERT_NE(c, nullptr) << b.name;
  EXPECT_EQ(c->ClassNumber(), b.number);
  EXPECT_STREQ(c->ClassName(), b.name);
  EXPECT_EQ(c->IsPointer(), b.pointer) << b.name;
  EXPECT_EQ(c->CanSubscript(), b.subscript) << b.name;
  EXPECT_EQ(c->CanInvoke(), b.invoke) << b.name;
  EXPECT_EQ(c->CanDot(), b.dot) << b.name;
  EXPECT_FALSE(c->CanPrototype()) << b.name;
  EXPECT_TRUE(c->IsInstalled()) << b.name;
  EXPECT_FALSE(c->ImplReflectionOnly()) << b.name;

  // Names are found whatever their case, from the process environment,
  // through KQSValue, and from any other environment.
  EXPECT_EQ(process->LookupByName(b.name), c);
  EXPECT_EQ(process->LookupByName(Lower(b.name).c_str()), c);
  EXPECT_EQ(process->LookupByNameNoLoad(Upper(b.name).c_str()), c);
  EXPECT_EQ(KQSValue::NameToClass(Lower(b.name).c_str()), c);
  EXPECT_EQ(KQSValue::NumberToClass(b.number), c);
  KOPPEnvironment other;
  EXPECT_EQ(other.LookupByNumber(b.number), c);
  EXPECT_EQ(other.LookupByName(Upper(b.name).c_str()), c);

  // Storage classes derive from KQSValueBaseClass, immediate ones do not.
  EXPECT_EQ(dynamic_cast<const KQSValueBaseClass*>(c) != nullptr, b.pointer) << b.name;
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(TypeTable, BuiltinClassTest, ::testing::ValuesIn(kBuiltins),
                         [](const ::testing::TestParamInfo<Builtin>& info) {
                           return std::string(info.param.name);
                         });

TEST(BuiltinClassesTest, NoOtherNumberHasAProcessClass) {
  std::set<short> known;
  for (const Builtin& b : kBuiltins) known.insert(b.number);
  KOPPEnvironment* process = KQSValue::ProcessEnvironment();
  for (int n = KOPPEnvironment::kProcessLow; n <= KOPPEnvironment::kProcessHigh; ++n) {
    if (known.count(static_cast<short>(n)) != 0) continue;
    EXPECT_EQ(process->LookupByNumber(static_cast<short>(n)), nullptr) << n;
  }
  // The numbers tested by IsScript and used by ObjRef have no built-in class.
  EXPECT_EQ(process->LookupByName("Script"), nullptr);
  EXPECT_EQ(process->LookupByName("ObjRef"), nullptr);
}

TEST(BuiltinClassesTest, ProcessClassesListsThemInNumberOrder) {
  std::unique_ptr<TArray<const KQSClass*>> list(KOPPEnvironment::ProcessClasses());
  ASSERT_NE(list, nullptr);
  std::vector<short> listed;
  for (unsigned long i = 1; i <= list->Count(); ++i)
    listed.push_back(list->GetAt(i)->ClassNumber());
  std::vector<short> expected;
  for (const Builtin& b : kBuiltins) expected.push_back(b.number);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
}

TEST(BuiltinClassesTest, WellKnownSlotsHoldTheBuiltInClasses) {
  struct Slot {
    const char* name;
    const KQSClass* (*get)();
    short number;
  } slots[] = {
      {"Undefined", &KQSValue::Class_Undefined, 0},
      {"Void", &KQSValue::Class_Void, 8},
      {"Dynamic", &KQSValue::Class_Dynamic, -127},
      {"Object", &KQSValue::Class_Object, -128},
      {"Integer", &KQSValue::Class_Integer, 2},
      {"Error", &KQSValue::Class_Error, 1},
      {"BlobId", &KQSValue::Class_BlobId, 4},
      {"Boolean", &KQSValue::Class_Boolean, 5},
      {"Point", &KQSValue::Class_Point, 6},
      {"NotSet", &KQSValue::Class_NotSet, 7},
      {"Date", &KQSValue::Class_Date, -7},
      {"Bytes", &KQSValue::Class_Bytes, -6},
      {"Extern", &KQSValue::Class_Extern, -5},
      {"Real", &KQSValue::Class_Real, -4},
      {"Long", &KQSValue::Class_Long, -8},
      {"List", &KQSValue::Class_List, -2},
      {"ListExpand", &KQSValue::Class_ListExpand, -108},
      {"SlotIndex", &KQSValue::Class_SlotIndex, -131},
      {"TypeCode", &KQSValue::Class_TypeCode, -132},
      {"String", &KQSValue::Class_String, -1},
  };
  static_assert(std::size(slots) == 20);
  for (const Slot& s : slots) {
    const KQSClass* c = s.get();
    ASSERT_NE(c, nullptr) << s.name;
    EXPECT_EQ(c, KQSValue::NumberToClass(s.number)) << s.name;
    EXPECT_STREQ(c->ClassName(), s.name);
  }
  // The slot classes are of their own types.
  EXPECT_NE(dynamic_cast<const KQSClass_Integer*>(KQSValue::Class_Integer()), nullptr);
  EXPECT_NE(dynamic_cast<const KQSClass_TypeCode*>(KQSValue::Class_TypeCode()), nullptr);
  EXPECT_NE(dynamic_cast<const KQSClass_String*>(KQSValue::Class_TypeCode()), nullptr);
  EXPECT_NE(dynamic_cast<const KQSClass_ListExpand*>(KQSValue::Class_ListExpand()), nullptr);
}

TEST(BuiltinClassesTest, HostSlotsAreEmptyAtStart) {
  using Getter = const KQSClass* (*)();
  const Getter slots[] = {&KQSValue::Class_Script,      &KQSValue::Class_ObjRef,
                          &KQSValue::Class_ObjInst,     &KQSValue::Class_Class,
                          &KQSValue::Class_OPPClass,    &KQSValue::Class_Signature,
                          &KQSValue::Class_Environment, &KQSValue::Class_Core};
  for (Getter slot : slots) EXPECT_EQ(slot(), nullptr);
}

TEST(BuiltinClassesTest, TypesWithoutSlotAreReachableByNumber) {
  for (short n : {-18, -109, -110, -13, -14, -86, -107}) {
    const KQSClass* c = KQSBuiltinClass(n);
    ASSERT_NE(c, nullptr) << n;
    EXPECT_EQ(c, KQSValue::NumberToClass(n)) << n;
  }
  EXPECT_NE(dynamic_cast<const KQSClass_Assoc*>(KQSBuiltinClass(-18)), nullptr);
  EXPECT_NE(dynamic_cast<const KQSClass_RZRow*>(KQSBuiltinClass(-109)), nullptr);
  EXPECT_NE(dynamic_cast<const KQSClass_RZTable*>(KQSBuiltinClass(-110)), nullptr);
  EXPECT_EQ(KQSBuiltinClass(3), nullptr);
  EXPECT_EQ(KQSBuiltinClass(500), nullptr);
}

TEST(BuiltinClassesTest, IsObjectTypeFollowsTheClassCapabilities) {
  // No class, no number, or TypeCode: an object type.
  for (short n :
       {KQSClass::kNoClassNumber, short{-132}, short{3}, short{-3}, short{-200}, short{500}})
    EXPECT_TRUE(KQSValue::IsObjectType(n)) << n;
  // Otherwise exactly the classes with dot access, methods or attributes.
  for (const Builtin& b : kBuiltins) {
    if (b.number == -132) continue;
    const KQSClass* c = KQSValue::NumberToClass(b.number);
    ASSERT_NE(c, nullptr) << b.name;
    bool expected = c->CanDot() != 0 || c->HasMethods() || c->HasAttributes();
    EXPECT_EQ(KQSValue::IsObjectType(b.number), expected) << b.name;
  }
  for (short n : {2, -1, 0}) EXPECT_FALSE(KQSValue::IsObjectType(n)) << n;
  for (short n : {-18, -109, -128}) EXPECT_TRUE(KQSValue::IsObjectType(n)) << n;
}

}  // namespace
