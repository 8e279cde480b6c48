// The process environment after start-up (this program registers nothing):
// every built-in type by number, name and flags, and the well-known slots.
#include "vxkernel/classes/KQSBuiltinClasses.h"

#include <memory>
#include <set>

#include "classes/class_test_support.h"

namespace {

using classes_test::Listed;
using classes_test::Upper;

// Number, name, flags (P storage class, S subscript, I invoke, digit: dot).
const char* const kTypeTable[] = {
    "0 Undefined", "1 Error", "2 Integer", "4 BlobId", "5 Boolean", "6 Point", "7 NotSet", "8 Void", "17 Ptr",
    "-1 String PS", "-2 List PS", "-4 Real P", "-5 Extern P", "-6 Bytes P", "-7 Date P", "-8 Long P",
    "-13 XMethodInvocation PI", "-14 XObject P1", "-15 CacheTree P", "-16 VXSearch PS", "-18 Assoc PS2",
    "-19 OleMethod PI", "-20 OleDispatch P1", "-21 CAPILogin P3", "-23 WAPISubWorkTask P3", "-24 WAPISubWork P3",
    "-65 UAPIUser P3", "-66 CAPILog P3", "-67 CAPIErr P3", "-68 DAPIStream P3", "-69 DAPIVersion P3",
    "-72 DAPINode P3", "-74 DAPISession P3", "-75 WAPIWork P3", "-76 WAPIMapTask P3", "-77 WAPIMap P3",
    "-78 WAPISession P3", "-79 UAPISession P3", "-80 CAPIConnect P3", "-85 VisTag PS", "-86 Vis PS3",
    "-102 Socket P3", "-107 File P3", "-108 ListExpand P", "-109 Record PS1", "-110 RecArray PS",
    "-127 Dynamic SI2", "-128 Object 2", "-131 SlotIndex", "-132 TypeCode PS"};

TEST(BuiltinClasses, EveryTypeIsRegisteredWithItsFlagsAndTheWellKnownSlotsHoldThem) {
  KOPPEnvironment* process = KQSValue::ProcessEnvironment();
  KOPPEnvironment other;
  std::set<short> numbers;
  ExpectDebug({}, [&] {
    for (const char* row : kTypeTable) {
      SCOPED_TRACE(row);
      std::istringstream in(row);
      short number;
      std::string name, flags;
      in >> number >> name >> flags;
      numbers.insert(number);
      const KQSClass* c = process->LookupByNumber(number);
      ASSERT_NE(c, nullptr);
      EXPECT_STREQ(c->ClassName(), name.c_str());
      EXPECT_EQ(std::string(c->IsPointer() ? "P" : "") + (c->CanSubscript() ? "S" : "") + (c->CanInvoke() ? "I" : "") +
                    (c->CanDot() != 0 ? std::to_string(c->CanDot()) : ""), flags);
      EXPECT_EQ(dynamic_cast<const KQSValueBaseClass*>(c) != nullptr, c->IsPointer());
      EXPECT_TRUE(c->IsInstalled());
      EXPECT_FALSE(c->CanPrototype());
      EXPECT_FALSE(c->ImplReflectionOnly());
      EXPECT_EQ(other.LookupByName(Upper(name).c_str()), c);
      EXPECT_EQ(KQSValue::NameToClass(name.c_str()), c);
      // An object type exactly when it has dot access, methods or attributes.
      if (number != -132) {
        EXPECT_EQ(KQSValue::IsObjectType(number), c->CanDot() || c->HasMethods() || c->HasAttributes());
      }
    }
  });
  // No other number has a process class, and the list is in number order.
  for (int n = KOPPEnvironment::kProcessLow; n <= KOPPEnvironment::kProcessHigh; ++n) {
    if (numbers.count(static_cast<short>(n)) == 0) {
      EXPECT_EQ(process->LookupByNumber(static_cast<short>(n)), nullptr) << n;
    }
  }
  EXPECT_EQ(process->LookupByName("ObjRef"), nullptr);
  std::vector<short> listed;
  for (const KQSClass* c : Listed(KOPPEnvironment::ProcessClasses())) listed.push_back(c->ClassNumber());
  EXPECT_EQ(listed, std::vector<short>(numbers.begin(), numbers.end()));
  // The well-known slots; the host's start empty; a number without a class is an object type.
  using Getter = const KQSClass* (*)();
  const std::pair<Getter, short> slots[] = {
      {&KQSValue::Class_Undefined, 0}, {&KQSValue::Class_Void, 8}, {&KQSValue::Class_Dynamic, -127},
      {&KQSValue::Class_Object, -128}, {&KQSValue::Class_Integer, 2}, {&KQSValue::Class_Error, 1},
      {&KQSValue::Class_BlobId, 4}, {&KQSValue::Class_Boolean, 5}, {&KQSValue::Class_Point, 6},
      {&KQSValue::Class_NotSet, 7}, {&KQSValue::Class_Date, -7}, {&KQSValue::Class_Bytes, -6},
      {&KQSValue::Class_Extern, -5}, {&KQSValue::Class_Real, -4}, {&KQSValue::Class_Long, -8},
      {&KQSValue::Class_List, -2}, {&KQSValue::Class_ListExpand, -108}, {&KQSValue::Class_SlotIndex, -131},
      {&KQSValue::Class_TypeCode, -132}, {&KQSValue::Class_String, -1}};
  for (const auto& [get, number] : slots) {
    EXPECT_NE(get(), nullptr) << number;
    EXPECT_EQ(get(), KQSValue::NumberToClass(number)) << number;
  }
  for (Getter get : std::initializer_list<Getter>{&KQSValue::Class_Script, &KQSValue::Class_ObjRef, &KQSValue::Class_ObjInst,
                                                  &KQSValue::Class_Class, &KQSValue::Class_OPPClass, &KQSValue::Class_Signature,
                                                  &KQSValue::Class_Environment, &KQSValue::Class_Core})
    EXPECT_EQ(get(), nullptr);
  EXPECT_NE(dynamic_cast<const KQSClass_String*>(KQSValue::Class_TypeCode()), nullptr);  // TypeCode is a String class
  EXPECT_NE(dynamic_cast<const KQSClass_RZTable*>(KQSBuiltinClass(-110)), nullptr);
  EXPECT_EQ(KQSBuiltinClass(-18), KQSValue::NumberToClass(-18));
  EXPECT_EQ(KQSBuiltinClass(3), nullptr);
  for (short n : {KQSClass::kNoClassNumber, short{-132}, short{3}, short{-3}, short{-200}, short{500}})
    EXPECT_TRUE(KQSValue::IsObjectType(n)) << n;
}

}  // namespace
