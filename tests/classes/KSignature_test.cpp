// Native signatures: grammar, accessors, and one signature checked by another.
#include "vxkernel/classes/KSignature.h"

#include <memory>
#include <random>

#include "classes/class_test_support.h"
#include "values/value_test_util.h"

namespace {

using classes_test::Lines;
using classes_test::Str;
using namespace valtest;

constexpr short kDynamic = -127, kObject = -128, kByName = 28671;

// The flags A, E, U and VarArgs, the counts, and the types, as text.
std::string Head(bool a, bool e, bool u, bool var, int nargs, int minArgs) {
  return std::string{char('0' + a), char('0' + e), char('0' + u), char('0' + var)} + " " + std::to_string(nargs) + "/" +
         std::to_string(minArgs);
}
std::string Fields(const KSignature& s) {
  std::string f = Head(s.AutoUndefined(), s.AcceptsError(), s.AcceptsUndefined(), s.VarArgs(), s.NArgs(), s.MinArgs());
  for (int i = 0; i <= s.NArgs(); ++i) {
    const char* name = s.Datatype(i).TypeName();
    const bool byValue = s.Passtype(i) == KSignature::kPassByValue;
    f += " " + std::to_string(s.Datatype(i).TypeNumber()) + (name ? name : "") + (byValue ? "" : "!");
  }
  return f;
}

// Texts built from the grammar parse into their fields and print back as themselves.
TEST(KSignatureGrammar, RandomWellFormedSignaturesRoundTrip) {
  const std::pair<short, std::string> types[] = {  // by-name types keep their spelling
      {kInteger, ""}, {kString, ""}, {kReal, ""}, {kBoolean, ""}, {kList, ""}, {kDynamic, ""}, {kVoid, ""},
      {kLong, ""}, {kObject, ""}, {kError, ""}, {kByName, "Widget"}, {kByName, "x"}, {kByName, "Host_Class.v2"}};
  std::mt19937 rng(20261206);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  DebugCapture capture;
  for (int round = 0; round < 1000; ++round) {
    const bool a = pick(2), e = pick(2), u = pick(2), var = pick(2);
    const int nargs = pick(5) == 0 ? pick(33) : pick(5), minArgs = pick(nargs + 1);
    std::string text, fields = Head(a, e, u, var, nargs, minArgs);
    if (a || e || u) {
      text = std::string("<") + (a ? "A" : "") + (e ? "E" : "") + (u ? "U" : "") + ">";
    }
    for (int i = 0; i <= nargs; ++i) {
      const auto& [number, byName] = types[pick(std::size(types))];
      const std::string name = byName.empty() ? KQSValue::NumberToClass(number)->ClassName() : byName;
      const std::string piece = i == 0 ? name + "(" : (i > 1 ? "," : "") + (i > minArgs ? "[" + name + "]" : name);
      text += piece;
      fields += " " + std::to_string(number) + byName;
    }
    text += var ? (nargs > 0 ? ",...)" : "...)") : ")";
    KSignature s(text.c_str());
    EXPECT_EQ(Fields(s), fields) << text;
    EXPECT_EQ(Str(s.ToString()), text);
  }
  EXPECT_EQ(capture.All(), "");
}

// Other spellings; bad texts (canonical "") give a line, no arguments, no flags.
TEST(KSignatureGrammar, OtherSpellingsAndBadTexts) {
  auto args = [](int n) { std::string t = "Void(Integer"; while (--n > 0) t += ",Integer"; return t + ")"; };
  const std::string longName(256, 'T'), longest(255, 'T');
  const std::pair<std::string, std::string> cases[] = {
      {"<UEAU>Void(...)", "<AEU>Void(...)"}, {"INTEGER(string,)", "Integer(String)"},  // any order and case
      {"<>Integer(String)", "Integer(String)"},
      {"Boolean", "Boolean()"},
      {"(,String,)", "Void(Void,String)"},  // an empty result or inner argument is Void
      {"Integer([])", "Integer([Void])"},
      // an optional argument before a required one makes the rest optional
      {"Integer([String],Integer,Real)", "Integer([String],[Integer],[Real])"},
      {longest + "(" + longest + ")", longest + "(" + longest + ")"},
      {args(32), args(32)},
      {"<AU(String)", "<AU>Void(String)"},  // no ">": options run to the "(", the result is Void
      {"<AE>Integer(String,Real", ""},
      {longName + "(String)", ""}, {"Integer(" + longName + ",String)", ""}, {args(33), ""}};
  for (const auto& [text, canonical] : cases) {
    std::unique_ptr<KSignature> s;
    const std::string& form = text;
    ExpectDebug(canonical.empty() ? Lines{"KSignature::KSignature...Bad signature:/" + text + "/\n"} : Lines{},
                [&] { s = std::make_unique<KSignature>(form.c_str()); });
    EXPECT_EQ(canonical.empty() ? Fields(*s).substr(0, 8) : Str(s->ToString()),  // bad: no flags, no arguments
              canonical.empty() ? "0000 0/0" : canonical) << text;
  }
  // Unknown option letters are reported, one line each, and skipped.
  const std::string unknown = "KSignature::KSignature( Undefined signature option: <AXq>Integer )\n";
  ExpectDebug({unknown, unknown}, [] { EXPECT_EQ(Str(KSignature("<AXq>Integer(String)").ToString()), "<A>Integer(String)"); });
}

TEST(KSignatureAccessors, NumericCountsArginfoCopiesAndTypes) {
  KSignature n(3, -4);  // counts are clamped, entries Undefined
  EXPECT_EQ(Str(n.ToString()), "Undefined([Undefined],[Undefined],[Undefined])");
  EXPECT_EQ(KSignature(40, 50).NArgs(), 32);
  EXPECT_EQ(KSignature(40, 50).MinArgs(), 32);
  n.MinArgs(99);
  EXPECT_EQ(n.MinArgs(), 32);
  EXPECT_EQ(n.Datatype(32).TypeNumber(), kUndefined);
  KSignature s("Integer(String,Real)");
  s.Arginfo(2, KSignature_type(kBoolean), 7);
  EXPECT_EQ(s.Passtype(2), 7);
  s.Arginfo(0, KSignature_type(kBoolean), 1);  // not an argument: ignored
  s.Arginfo(3, KSignature_type(kBoolean), 1);  // beyond NArgs without VarArgs: ignored
  EXPECT_EQ(Str(s.ToString()), "Integer(String,Boolean)");
  s.VarArgs(true);
  ExpectDebug({"KSignature::Arginfo() Setting vararg argument is illegal\n"}, [&] { s.Arginfo(3, KSignature_type(kBoolean), 1); });
  EXPECT_EQ(s.Datatype(3).TypeNumber(), kDynamic);
  // A by-name type survives the signature it was copied from.
  auto* source = new KSignature("Widget(Gadget)");
  KSignature copy(source), assigned(0, 0);
  assigned = *source;
  delete source;
  EXPECT_EQ(Str(copy.ToString()), "Widget(Gadget)");
  EXPECT_EQ(Str(assigned.ToString()), "Widget(Gadget)");
  KSignature_type named("Widget");
  EXPECT_EQ(named.TypeNumber(), kByName);
  EXPECT_TRUE(named == KSignature_type("WIDGET"));
  EXPECT_FALSE(named == KSignature_type("Gadget"));
  EXPECT_FALSE(named == kByName);  // a short names no type by name
  ExpectDebug({"KSignature_type::I4()...Non-null type name\n", "KSignature_type::ToString() Unregistered return type: \n"}, [&] {
    EXPECT_EQ(static_cast<long>(KSignature_type(kReal)), kReal);
    EXPECT_EQ(named.I4(), kByName);
    EXPECT_EQ(Str(KSignature_type(short{900}).ToString()), "");
  });
}

// 0 when it fits, -1 for the result, -2 for the count, else the highest unfit position.
TEST(KSignatureCheck, AnotherSignature) {
  const char* const kDeclared = "Integer(String,Integer,[Object])";
  const std::tuple<const char*, const char*, long> cases[] = {
      {kDeclared, "Integer(String,Integer,Widget)", 0},  // Object admits any object type
      {kDeclared, "Dynamic(String,Integer)", 0},         // a Dynamic result fits any
      {kDeclared, "Real(String,Integer)", -1},
      {kDeclared, "Integer(String)", -2},  // fewer than MinArgs
      {kDeclared, "Integer(String,Integer,Widget,Real)", -2},
      {kDeclared, "Integer(String,Real)", 0},          // numbers fit numbers
      {kDeclared, "Integer(String,Long,Integer)", 3},  // Integer is no object type
      {kDeclared, "Integer(Integer,Long,Integer)", 3},  // the highest position first
      {kDeclared, "Integer(Undefined,Error)", 0},  // offered Undefined and Error fit
      {"Integer(Undefined,Error)", "Integer(String,String)", 2},  // a declared Undefined admits nothing else
      {"Integer(String,...)", "Integer(String,Integer,Real)", 0},  // positions past NArgs are Dynamic
  };
  for (const auto& [declared, offered, want] : cases) {
    KSignature d(declared), o(offered);
    EXPECT_EQ(d.Check(&o), want) << declared << " " << offered;
  }
  KSignature declared(kDeclared), passed("Integer(String,Integer)");
  passed.Passtype(1, 2);
  EXPECT_EQ(declared.Check(&passed), 1);
  EXPECT_EQ(declared.Check(nullptr), -2);
}

}  // namespace
