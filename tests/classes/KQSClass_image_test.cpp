// Class images: exact bytes against the tests' own encoder, round trips,
// format checks, and damaged or truncated images.

#include <ios>
#include <ostream>

#include "classes/class_test_support.h"
#include "support/child_process.h"

namespace {

using namespace classes_test;

// A setter entry (a signature text, or a constant's value), as a host builds a class.
KQSValue F(const char* name, const KQSValue& v, int index) {
  return KQSValue::List(KQSValue(name), v, KQSValue(index), KQSValue(1));
}

// Everything the image carries, as text, so two classes compare in one go.
std::string Describe(const KQSClass& c) {
  std::string d = std::string(c.ClassName()) + "/" + std::to_string(c.ClassNumber()) + "/" +
                  std::to_string(c.ImplType()) + "/" +
                  std::string(c.ImplBytes() != nullptr ? static_cast<const char*>(c.ImplBytes()) : "",
                              static_cast<size_t>(c.ImplLength()));
  for (const KQSValue& v : {c.ExtendsValue(), c.ImplementsValue(), c.ClassMethodsValue(), c.ClassAttributesValue(),
                            c.MethodsValue(), c.AttributesValue(), c.ConstantsValue()})
    d += "\n" + Streamed(v);
  return d;
}

// Every table, constants as text, names either side of the 16-bit count's limit.
TEST(ClassImage, ExactBytesOfEveryTable) {
  const std::string shortest(32766, 's'), longer(32767, 'l');
  KQSClassReflection c, anonymous;
  Named(&c, "Full", -200)->ImplPut(5, 3, "x\0y");
  c.Extends(KQSValue::List(KQSValue("Base"), KQSValue(shortest.c_str()), KQSValue(longer.c_str())));
  c.Implements(KQSValue::List(KQSValue("Iface")));
  c.ClassMethods(KQSValue::List(F("Make", "Full(Integer)", 0)));
  c.ClassAttributes(KQSValue::List(F("Count", "Integer", 2)));
  c.Methods(KQSValue::List(F("Go", "Void()", 1), F("Stop", "", 0), F("Idle", KQSValue(), 2)));
  c.Attributes(KQSValue::List(F("Size", "Integer", 0)));
  c.Constants(KQSValue::List(F("Name", KQSValue("it's"), 0), F("Max", KQSValue(-12), 1), F("On", KQSValue::Boolean(1), 2),
                             F("None", KQSValue(), 4)));
  c.Constants(KQSValue::List(F("Bad", KQSValue::Error(-9), 5)));
  Image e;
  e.Header("Full", -200, 5, std::string("x\0y", 3));
  e.I4(3).Str("Base").Str(shortest).Str(longer).I4(1).Str("Iface");
  e.I4(1).Feature(0, "Make", "Full(Integer)");
  e.I4(1).Feature(2, "Count", "Integer()");  // a signature is written in its full form
  // "" is Void with no arguments; a slot without signature is written as "".
  e.I4(3).Feature(0, "Stop", "Void()").Feature(1, "Go", "Void()").Feature(2, "Idle", "");
  e.I4(1).Feature(0, "Size", "Integer()");
  e.I4(5).Constant(0, "Name", "'it\\'s'").Constant(1, "Max", "-12").Constant(2, "On", "true");
  e.Constant(4, "None", "?").Constant(5, "Bad", "E-9");
  ExpectDebug({}, [&] {
    EXPECT_EQ(BytesOf(c.Export()), e.b);
    EXPECT_EQ(BytesOf(anonymous.Export()), Image().Header("", 28671, 2, "").Zeros(7).b);
  });
}

// Holes in every table and every constant kind but ObjRef. Numbers at
// positions 45 to 59 are followed by a position whose low byte is a digit.
void FillRichClass(KQSClassReflection& c) {
  Named(&c, "Rich", 44)->ImplPut(1, 5, "\x01\x02\x00\xFF\x7F");
  c.Extends(KQSValue::List(KQSValue("A"), KQSValue("B")));
  c.Implements(KQSValue::List(KQSValue("I")));
  c.ClassMethods(KQSValue::List(F("New", "Rich([Dynamic],...)", 2), F("Find", "<AU>Rich(String)", 5)));
  c.ClassAttributes(KQSValue::List(F("Total", "Integer", 1)));
  c.Methods(KQSValue::List(F("Open", "Boolean(String,[Integer])", 0), F("Close", "Void", 3), F("Wait", KQSValue(), 4)));
  c.Attributes(KQSValue::List(F("Path", "String", 7), F("Kind", "NoSuchType", 2)));
  c.Constants(KQSValue::List(F("Text", KQSValue("line\nbreak 'q' \\"), 1), F("Nothing", KQSValue(), 3),
                             F("Failure", KQSValue::Error(-7), 4), F("Big", KQSValue(2147483647), 6)));
  c.Constants(KQSValue::List(F("No", KQSValue::Boolean(0), 9), F("Yes", KQSValue::Boolean(1), 10)));
  for (int i = 45; i < 60; ++i) {
    const std::string name = "K" + std::to_string(i);
    c.Constants(KQSValue::List(F(name.c_str(), i % 3 == 0 ? KQSValue::Error(-i * 7) : KQSValue(i * 11 - 500), i)));
  }
}

size_t FeatureCount(const KQSClass& c) {
  size_t n = c.Extends().size() + c.Implements().size();
  for (const auto* t : {&c.ClassMethods(), &c.ClassAttributes(), &c.Methods(), &c.Attributes(), &c.Constants()})
    for (const KQSClass_Slot* s : *t) n += s != nullptr;
  return n;
}

// Into a reset class: the same class and bytes; into a filled one: added.
TEST(ClassImage, ExportThenImportReproducesTheClass) {
  KQSClassReflection original, copy, holder;
  FillRichClass(original);
  const KQSValue image = original.Export();
  Named(&copy, "Scratch", 99)->Methods(KQSValue::List(F("Leftover", "Void", 0)));
  copy.ResetClassDefinition();
  // Only the rename lines of a class that already had a name.
  ExpectDebug({"KQSClass::Import( imported name does not match class name ) Rich/Scratch\n",
               "KQSClass::Import( imported number does not match class number ) 44/99\n"},
              [&] { copy.Import(image); });
  EXPECT_EQ(Describe(copy), Describe(original));
  EXPECT_EQ(BytesOf(copy.Export()), BytesOf(image));
  ExpectDebug({}, [&] { copy.Import(image); });  // now they match
  holder.Extends(KQSValue::List(KQSValue("Z")));
  holder.Methods(KQSValue::List(F("Mine", "Void", 9)));
  ExpectDebug({"KQSClass::Import( imported number does not match class number ) 44/28671\n"},
              [&] { holder.Import(image); });  // no name yet: taken silently
  EXPECT_EQ(holder.Extends().size(), 3u);
  EXPECT_NE(holder.NameToMethod("Mine"), nullptr);
  EXPECT_NE(holder.NameToMethod("Open"), nullptr);
}

TEST(ClassImage, EveryPrefixImportsWhatIsComplete) {
  KQSClassReflection original;
  FillRichClass(original);
  const std::string full = BytesOf(original.Export());
  size_t last = 0;
  for (size_t n = 0; n <= full.size(); ++n) {
    KQSClassReflection c;
    c.Import(KQSValue::NewBytesValue(full.data(), static_cast<long>(n)));
    const size_t features = FeatureCount(c);  // growing with the prefix
    EXPECT_GE(features, last) << n;
    last = features;
  }
  EXPECT_EQ(last, FeatureCount(original));
}

TEST(ClassImage, HostClassesMakeObjRefConstantsAndTheClassValue) {
  // Installing the host's ObjRef and class-object classes is process-wide.
  ChildResult r = RunInChild([](std::string& out) {
    struct ObjRefClass : KQSClass {
      ObjRefClass() : KQSClass("ObjRef", 3) {}
      std::ostream& FormattedOutput(void* data, std::ostream& o, KQSClassFormatter*) const override {
        return o << '#' << std::hex << static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data)) << std::dec;
      }
    };
    static ObjRefClass objRef;
    static KQSClass classClass("Class", KQSClass::kNoClassNumber);
    KQSValue::Class_ObjRef(&objRef);
    KQSValue::Class_Class(&classClass);
    KQSClassReflection c, copy;
    c.ClassName("Refs");
    c.Constants(KQSValue::List(F("R1", KQSValue::ObjRef(0xBEEF), 48), F("R2", KQSValue::ObjRef(0x31), 49),
                               F("R3", KQSValue::ObjRef(4294967295ul), 50)));
    const KQSValue image = c.Export(), self = copy.Import(image), r3 = copy.NameToConstant("R3")->Value();
    Transcript(out).Line("class value ", self.Class() == &classClass && self.Instance() == &copy, " same ",
                         Describe(copy) == Describe(c) && BytesOf(copy.Export()) == BytesOf(image), " R3 ", r3.Type(), " ",
                         r3.ObjRef());
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "class value 1 same 1 R3 3 4294967295\n");
}

// A bad header leaves the class alone; damaged parts are read as far as they go.
TEST(ClassImage, BadHeadersAndDamagedParts) {
  KQSClassReflection c;
  Named(&c, "Kept", 48)->Methods(KQSValue::List(F("M", "Void", 0)));
  const std::string before = BytesOf(c.Export()), good = Image().Header("Other", 49, 2, "").Zeros(7).b;
  std::string version1 = good, badMagic = good;
  version1[0] = 1;
  badMagic[4] = static_cast<char>(0xEE);
  for (const std::string& bytes : {version1, badMagic, std::string(), good.substr(0, 7)})
    ExpectDebug({"KQSClass::Import( bad version or magic number )\n"},
                [&] { c.Import(KQSValue::NewBytesValue(bytes.data(), static_cast<long>(bytes.size()))); });
  ExpectDebug({"KQSClass::Import( must be Bytes value )\n"}, [&] { c.Import(KQSValue(good.c_str())); });
  EXPECT_EQ(BytesOf(c.Export()), before);
  // Counts of 2^31 - 1 are believed as far as the bytes go; a zero string
  // count ends the image; far positions and negative counts read nothing.
  KQSClassReflection a, b, d, z, f;
  b.ClassName("Before");
  a.Import(Image().Header("Many", 50, 2, "").I4(0x7FFFFFFF).Raw(std::string("\x02\x00x\x00\x05\x00", 6)).Value());
  b.Import(Image().I4(2).I4(0xDEADBEEF).Str("Impl").I4(51).I4(2).I4(0x7FFFFFFF).Raw("abc").Value());
  d.Import(Image().Header("Cut", 52, 2, "").Zeros(4).I4(0x7FFFFFFF).Feature(0, "One", "Void").I4(1).Raw("\x10").Value());
  z.Import(Image().Header("Zero", 53, 2, "").I4(1).Raw(std::string("\x00\x00", 2)).I4(0).Value());
  f.Import(Image().Header("Far", 54, 2, "").I4(-5).Zeros(3).I4(2).Feature(2000000000, "Huge", "Void").Feature(4, "Ok", "").Value());
  EXPECT_EQ(Streamed(a.ExtendsValue()), "{'x'}");
  EXPECT_STREQ(b.ClassName(), "Before");
  EXPECT_EQ(b.ImplLength(), 0);
  EXPECT_EQ(d.Methods().size(), 1u);
  EXPECT_TRUE(z.Extends().empty());
  EXPECT_TRUE(z.Implements().empty());
  EXPECT_EQ(f.Methods().size(), 5u);
  EXPECT_EQ(f.NameToMethod("Huge"), nullptr);
  // No host classes: no result, no ObjRefs; oversized numbers; a cut string.
  const std::string digits(40, '9');
  Image e;
  e.Header("Big", 56, 2, "").Zeros(6).I4(5).Constant(0, "E", "E-" + digits).Constant(1, "R", "#ff");
  e.Constant(2, "I", digits).Constant(3, "N", "5").Constant(4, "S", "'unterminated");
  KQSClassReflection g;
  ExpectDebug({"KQSClass::Import( imported number does not match class number ) 56/28671\n",
               "KQSClass::Import( no ObjRef class for constant ) R\n"},
              [&] { EXPECT_TRUE(g.Import(e.Value()).IsUndefined()); });
  EXPECT_EQ(g.NameToConstant("E")->Value().Type(), 1);
  EXPECT_TRUE(g.NameToConstant("R")->Value().IsUndefined());
  EXPECT_NE(g.NameToConstant("I"), nullptr);
  EXPECT_EQ(static_cast<long>(g.NameToConstant("N")->Value()), 5);
  EXPECT_EQ(Str(g.NameToConstant("S")->Value().String()), "unterminated");
}

}  // namespace
