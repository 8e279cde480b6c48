// Class images: exact bytes for known classes (built here by a small
// encoder of their own), round trips through Export and Import, the format
// checks and their debug lines, and damaged or truncated images.
#include <gtest/gtest.h>

#include <cstdint>
#include <ios>
#include <ostream>
#include <string>
#include <vector>

#include "classes/class_image_encoder.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/values/KQSValue.h"

namespace {

using classes_test::BytesOf;
using classes_test::Image;

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += digits[c >> 4];
    h += digits[c & 15];
    h += ' ';
  }
  return h;
}

// A class assembled through the reflection setters, as a host would.
struct Built {
  KQSClassReflection c;
  Built(const char* name, short number) {
    c.ClassName(name);
    c.ClassNumber(number);
  }
  static KQSValue F(const char* name, const char* sig, int index) {
    return KQSValue::List(KQSValue(name), KQSValue(sig), KQSValue(index), KQSValue(1));
  }
  static KQSValue C(const char* name, const KQSValue& v, int index) {
    return KQSValue::List(KQSValue(name), v, KQSValue(index), KQSValue(1));
  }
};

// Everything the image carries, as text, so two classes compare in one go.
std::string Describe(const KQSClass& c) {
  std::string d = std::string(c.ClassName()) + "/" + std::to_string(c.ClassNumber()) + "/" +
                  std::to_string(c.ImplType()) + "/" +
                  std::string(static_cast<const char*>(c.ImplBytes()) != nullptr
                                  ? static_cast<const char*>(c.ImplBytes())
                                  : "",
                              static_cast<size_t>(c.ImplLength()));
  for (const KQSValue& v :
       {c.ExtendsValue(), c.ImplementsValue(), c.ClassMethodsValue(), c.ClassAttributesValue(),
        c.MethodsValue(), c.AttributesValue(), c.ConstantsValue()}) {
    d += "\n" + std::string(static_cast<const char*>(v.FormattedString()));
  }
  return d;
}

class ImageTest : public ::testing::Test {
 protected:
  DebugCapture fCapture;
};

// ===== Exact bytes =====

TEST_F(ImageTest, ClassWithoutFeaturesIsHeaderAndSevenZeroCounts) {
  Built b("Empty", 40);
  b.c.ImplPut(3, 2, "ab");
  EXPECT_EQ(Hex(BytesOf(b.c.Export())), Hex(Image().Header("Empty", 40, 3, "ab").Zeros(7).b));
  Built negative("Neg", -200);  // sign-extended
  EXPECT_EQ(Hex(BytesOf(negative.c.Export())), Hex(Image().Header("Neg", -200, 2, "").Zeros(7).b));
  // A class without a name or number: a lone NUL, and 28671.
  KQSClassReflection anonymous;
  EXPECT_EQ(Hex(BytesOf(anonymous.Export())), Hex(Image().Header("", 28671, 2, "").Zeros(7).b));
  EXPECT_EQ(fCapture.All(), "");
}

TEST_F(ImageTest, EveryTableInItsOrderWithConstantsInTextForm) {
  Built b("Full", 42);
  b.c.ImplPut(5, 3, "x\0y");
  b.c.Extends(KQSValue::List(KQSValue("Base"), KQSValue("Other")));
  b.c.Implements(KQSValue::List(KQSValue("Iface")));
  b.c.ClassMethods(KQSValue::List(Built::F("Make", "Full(Integer)", 0)));
  b.c.ClassAttributes(KQSValue::List(Built::F("Count", "Integer", 2)));
  b.c.Methods(KQSValue::List(Built::F("Go", "Void()", 1), Built::F("Stop", "", 0)));
  b.c.Attributes(KQSValue::List(Built::F("Size", "Integer", 0)));
  b.c.Constants(
      KQSValue::List(Built::C("Name", KQSValue("it's"), 0), Built::C("Max", KQSValue(-12), 1),
                     Built::C("On", KQSValue::Boolean(1), 2), Built::C("None", KQSValue(), 4)));
  Image e;
  e.Header("Full", 42, 5, std::string("x\0y", 3));
  e.I4(2).Str("Base").Str("Other").I4(1).Str("Iface");
  e.I4(1).Feature(0, "Make", "Full(Integer)");
  // A signature is written back in its full form, parentheses included.
  e.I4(1).Feature(2, "Count", "Integer()");
  e.I4(2).Feature(0, "Stop", "").Feature(1, "Go", "Void()");
  e.I4(1).Feature(0, "Size", "Integer()");
  e.I4(4).Constant(0, "Name", "'it\\'s'").Constant(1, "Max", "-12");
  e.Constant(2, "On", "true").Constant(4, "None", "?");
  EXPECT_EQ(Hex(BytesOf(b.c.Export())), Hex(e.b));
  EXPECT_EQ(fCapture.All(), "");
}

TEST_F(ImageTest, LongNamesUseTheLongCount) {
  const std::string longName(40000, 'n');
  Built b("Long", 43);
  b.c.Extends(KQSValue::List(KQSValue(longName.c_str())));
  Image e;
  e.Header("Long", 43, 2, "").I4(1).Str(longName).Zeros(6);
  const KQSValue image = b.c.Export();
  EXPECT_EQ(BytesOf(image), e.b);
  KQSClassReflection copy;
  copy.Import(image);
  ASSERT_EQ(copy.Extends().size(), 1u);
  EXPECT_EQ(std::string(static_cast<const char*>(copy.Extends()[0])), longName);
}

// ===== Round trips =====

// A class with holes in every table and a constant of every kind a
// constant can hold except ObjRef (tested where the host class exists).
void FillRichClass(KQSClassReflection& c) {
  c.ClassName("Rich");
  c.ClassNumber(44);
  c.ImplPut(1, 5, "\x01\x02\x00\xFF\x7F");
  c.Extends(KQSValue::List(KQSValue("A"), KQSValue("B")));
  c.Implements(KQSValue::List(KQSValue("I")));
  c.ClassMethods(KQSValue::List(Built::F("New", "Rich([Dynamic],...)", 2),
                                Built::F("Find", "<AU>Rich(String)", 5)));
  c.ClassAttributes(KQSValue::List(Built::F("Total", "Integer", 1)));
  c.Methods(KQSValue::List(Built::F("Open", "Boolean(String,[Integer])", 0),
                           Built::F("Close", "Void", 3)));
  c.Attributes(KQSValue::List(Built::F("Path", "String", 7), Built::F("Kind", "NoSuchType", 2)));
  c.Constants(KQSValue::List(
      Built::C("Text", KQSValue("line\nbreak 'q' \\"), 1), Built::C("Nothing", KQSValue(), 3),
      Built::C("Failure", KQSValue::Error(-7), 4), Built::C("Big", KQSValue(2147483647), 6)));
  c.Constants(KQSValue::List(Built::C("No", KQSValue::Boolean(0), 9),
                             Built::C("Yes", KQSValue::Boolean(1), 10)));
}

TEST_F(ImageTest, ExportThenImportIntoAResetClassReproducesIt) {
  KQSClassReflection original;
  FillRichClass(original);
  const KQSValue image = original.Export();

  KQSClassReflection copy;
  copy.ClassName("Scratch");
  copy.ClassNumber(99);
  copy.Methods(KQSValue::List(Built::F("Leftover", "Void", 0)));
  copy.ResetClassDefinition();
  fCapture.Clear();
  copy.Import(image);
  EXPECT_EQ(Describe(copy), Describe(original));
  EXPECT_EQ(Hex(BytesOf(copy.Export())), Hex(BytesOf(image)));
  // Holes stay holes.
  EXPECT_EQ(copy.IndexToAttribute(0), nullptr);
  EXPECT_EQ(copy.IndexToConstant(5), nullptr);
  ASSERT_NE(copy.IndexToConstant(4), nullptr);
  EXPECT_EQ(copy.IndexToConstant(4)->Value().Type(), 1);
  EXPECT_EQ(copy.IndexToConstant(4)->Value().Error(), -7);
  EXPECT_EQ(copy.IndexToConstant(6)->Value().Type(), 2);
  EXPECT_EQ(static_cast<long>(copy.IndexToConstant(6)->Value()), 2147483647);
  EXPECT_EQ(copy.NameToAttribute("kind")->Signature()->ToString(), KString("NoSuchType()"));
  // Only the rename lines of a class that already had a name.
  EXPECT_EQ(fCapture.All(),
            "KQSClass::Import( imported name does not match class name ) Rich/Scratch\n"
            "KQSClass::Import( imported number does not match class number ) 44/99\n");
  fCapture.Clear();
  copy.Import(image);  // now they match: silent
  EXPECT_EQ(fCapture.All(), "");
}

TEST_F(ImageTest, ImportAddsToWhatTheClassHolds) {
  KQSClassReflection original;
  FillRichClass(original);
  KQSClassReflection copy;
  copy.Extends(KQSValue::List(KQSValue("Z")));
  copy.Methods(KQSValue::List(Built::F("Mine", "Void", 9)));
  copy.Import(original.Export());
  EXPECT_EQ(copy.Extends().size(), 3u);
  EXPECT_NE(copy.NameToMethod("Mine"), nullptr);
  EXPECT_NE(copy.NameToMethod("Open"), nullptr);
  // A class without a name takes the imported one silently.
  EXPECT_EQ(fCapture.All(),
            "KQSClass::Import( imported number does not match class number ) 44/28671\n");
}

// Integer and Error constants are followed directly by the next record,
// whose position's low byte may itself be a digit ('0' is 48).
TEST_F(ImageTest, NumbersBeforeDigitLikePositionsReadBack) {
  KQSClassReflection c;
  c.ClassName("Digits");
  KQSValue list = KQSValue::List();
  for (int i = 45; i < 60; ++i) {
    const std::string name = "K" + std::to_string(i);
    list.ListAppendValue(
        Built::C(name.c_str(), i % 3 == 0 ? KQSValue::Error(-i * 7) : KQSValue(i * 11 - 500), i));
  }
  c.Constants(list);
  const KQSValue image = c.Export();
  KQSClassReflection copy;
  copy.Import(image);
  EXPECT_EQ(Describe(copy), Describe(c));
  EXPECT_EQ(BytesOf(copy.Export()), BytesOf(image));
}

TEST_F(ImageTest, HostClassesMakeObjRefConstantsAndTheClassValue) {
  // Installing the host's ObjRef and class-object classes is process-wide.
  ChildResult r = RunInChild([](std::string& out) {
    struct ObjRefClass : KQSClass {
      ObjRefClass() : KQSClass("ObjRef", 3) {}
      std::ostream& FormattedOutput(void* data, std::ostream& o,
                                    KQSClassFormatter*) const override {
        return o << '#' << std::hex << static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data))
                 << std::dec;
      }
    };
    static ObjRefClass objRef;
    static KQSClass classClass("Class", KQSClass::kNoClassNumber);
    KQSValue::Class_ObjRef(&objRef);
    KQSValue::Class_Class(&classClass);
    KQSClassReflection c;
    c.ClassName("Refs");
    c.Constants(KQSValue::List(Built::C("R1", KQSValue::ObjRef(0xBEEF), 48),
                               Built::C("R2", KQSValue::ObjRef(0x31), 49),
                               Built::C("R3", KQSValue::ObjRef(4294967295ul), 50)));
    const KQSValue image = c.Export();
    KQSClassReflection copy;
    const KQSValue self = copy.Import(image);
    out += std::string("class value: ") +
           (self.Class() == &classClass && self.Instance() == &copy ? "yes" : "no");
    out += "\nsame: " + std::string(Describe(copy) == Describe(c) ? "yes" : "no");
    out += "\nbytes: " + std::string(BytesOf(copy.Export()) == BytesOf(image) ? "yes" : "no");
    const KQSValue r3 = copy.NameToConstant("R3")->Value();
    out += "\nR3: " + std::to_string(r3.Type()) + " " + std::to_string(r3.ObjRef());
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "class value: yes\nsame: yes\nbytes: yes\nR3: 3 4294967295");
}

TEST_F(ImageTest, WithoutHostClassesTheResultIsUndefinedAndObjRefsAreDropped) {
  Image e;
  e.Header("Refs", 45, 2, "").Zeros(6);
  e.I4(2).Constant(0, "R", "#ff").Constant(1, "N", "5");
  KQSClassReflection c;
  const KQSValue self = c.Import(e.Value());
  EXPECT_TRUE(self.IsUndefined());
  ASSERT_NE(c.NameToConstant("R"), nullptr);
  EXPECT_TRUE(c.NameToConstant("R")->Value().IsUndefined());
  EXPECT_EQ(static_cast<long>(c.NameToConstant("N")->Value()), 5);
  EXPECT_EQ(fCapture.All(),
            "KQSClass::Import( imported number does not match class number ) 45/28671\n"
            "KQSClass::Import( no ObjRef class for constant ) R\n");
}

// ===== Format checks =====

TEST_F(ImageTest, BadVersionMagicOrTypeLeaveTheClassAlone) {
  Built b("Kept", 48);
  b.c.Methods(KQSValue::List(Built::F("M", "Void", 0)));
  const std::string before = BytesOf(b.c.Export());
  Image good;
  good.Header("Other", 49, 2, "").I4(0).Zeros(6);

  std::string version1 = good.b;
  version1[0] = 1;
  std::string badMagic = good.b;
  badMagic[4] = static_cast<char>(0xEE);
  for (const std::string& bytes : {version1, badMagic, std::string(), good.b.substr(0, 7)}) {
    fCapture.Clear();
    b.c.Import(KQSValue::NewBytesValue(bytes.data(), static_cast<long>(bytes.size())));
    EXPECT_EQ(fCapture.All(), "KQSClass::Import( bad version or magic number )\n") << Hex(bytes);
    EXPECT_EQ(BytesOf(b.c.Export()), before);
  }
  for (const KQSValue& notBytes :
       {KQSValue(good.b.c_str()), KQSValue(), KQSValue(7), KQSValue::List()}) {
    fCapture.Clear();
    b.c.Import(notBytes);
    EXPECT_EQ(fCapture.All(), "KQSClass::Import( must be Bytes value )\n");
    EXPECT_EQ(BytesOf(b.c.Export()), before);
  }
}

// ===== Damaged and truncated images =====

TEST_F(ImageTest, EveryPrefixImportsWhatIsComplete) {
  KQSClassReflection original;
  FillRichClass(original);
  const std::string full = BytesOf(original.Export());
  size_t lastFeatures = 0;
  for (size_t n = 0; n <= full.size(); ++n) {
    KQSClassReflection c;
    c.Import(KQSValue::NewBytesValue(full.data(), static_cast<long>(n)));
    const std::string again = BytesOf(c.Export());
    // Whatever was taken is a re-export of a prefix: never more than the
    // original holds, and it only grows as the prefix grows.
    size_t features = c.Extends().size() + c.Implements().size();
    for (const auto* t :
         {&c.ClassMethods(), &c.ClassAttributes(), &c.Methods(), &c.Attributes(), &c.Constants()})
      for (const KQSClass_Slot* s : *t) features += s != nullptr ? 1 : 0;
    EXPECT_GE(features, lastFeatures) << n;
    lastFeatures = features;
    if (n == full.size()) {
      EXPECT_EQ(again, full);
    }
  }
  EXPECT_EQ(lastFeatures, 2u + 1 + 2 + 1 + 2 + 2 + 6);
}

TEST_F(ImageTest, ClaimedCountsAndLengthsAreBelievedOnlyAsFarAsTheBytesGo) {
  // 2^31 - 1 extends names in a 6-byte body.
  Image manyNames;
  manyNames.Header("Many", 50, 2, "").I4(0x7FFFFFFF).Raw("\x02\x00x\x00\x05\x00");
  KQSClassReflection a;
  a.Import(manyNames.Value());
  ASSERT_EQ(a.Extends().size(), 1u);
  EXPECT_STREQ(static_cast<const char*>(a.Extends()[0]), "x");

  // An implementation length of 2^31 - 1 with three bytes: no header taken.
  Image longImpl;
  longImpl.I4(2).I4(0xDEADBEEF).Str("Impl").I4(51).I4(2).I4(0x7FFFFFFF).Raw("abc");
  KQSClassReflection b;
  b.ClassName("Before");
  b.Import(longImpl.Value());
  EXPECT_STREQ(b.ClassName(), "Before");
  EXPECT_EQ(b.ImplLength(), 0);

  // A method count of 2^31 - 1 and one record cut short; a string count past
  // the end; a string count of zero.
  Image cut;
  cut.Header("Cut", 52, 2, "").Zeros(4).I4(0x7FFFFFFF);
  cut.Feature(0, "One", "Void").I4(1).Raw("\x10\x00");
  KQSClassReflection d;
  d.Import(cut.Value());
  EXPECT_EQ(d.Methods().size(), 1u);
  Image zero;
  zero.Header("Zero", 53, 2, "").I4(1).Raw("\x00\x00").I4(0);
  KQSClassReflection z;
  z.Import(zero.Value());
  EXPECT_TRUE(z.Extends().empty());
  EXPECT_TRUE(z.Implements().empty());

  // Positions past the table limit and negative counts.
  Image far;
  far.Header("Far", 54, 2, "").I4(-5).Zeros(3).I4(2);
  far.Feature(2000000000, "Huge", "Void").Feature(4, "Ok", "");
  KQSClassReflection f;
  f.Import(far.Value());
  EXPECT_EQ(f.Methods().size(), 5u);
  EXPECT_NE(f.NameToMethod("Ok"), nullptr);
  EXPECT_EQ(f.NameToMethod("Huge"), nullptr);
}

TEST_F(ImageTest, AStringConstantCutShortEndsTheImage) {
  Image e;
  e.Header("Cut", 55, 2, "").Zeros(6);
  e.I4(2).Constant(0, "S", "'unterminated");
  KQSClassReflection c;
  c.Import(e.Value());
  ASSERT_NE(c.NameToConstant("S"), nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(c.NameToConstant("S")->Value().String())),
            "unterminated");
  EXPECT_EQ(c.Constants().size(), 1u);
}

TEST_F(ImageTest, OverlongNumbersAreReadWithoutHarm) {
  const std::string digits(40, '9');
  Image e;
  e.Header("Big", 56, 2, "").Zeros(6);
  e.I4(3).Constant(0, "E", "E-" + digits).Constant(1, "R", "#" + digits).Constant(2, "I", digits);
  KQSClassReflection c;
  c.Import(e.Value());
  ASSERT_EQ(c.Constants().size(), 3u);
  EXPECT_EQ(c.NameToConstant("E")->Value().Type(), 1);
  EXPECT_TRUE(c.NameToConstant("R")->Value().IsUndefined());  // no ObjRef class here
  ASSERT_NE(c.NameToConstant("I"), nullptr);
}

}  // namespace
