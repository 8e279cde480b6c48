// Native signatures: a randomised round trip over the whole text grammar,
// the spellings it does not produce, malformed texts, the numeric
// constructor, the table accessors, and the comparison of two signatures.
#include "vxkernel/classes/KSignature.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "classes/class_test_support.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/values/KQSValue.h"

namespace {

using classes_test::Lines;
using classes_test::Str;
using namespace valtest;

constexpr short kDynamic = -127, kObject = -128, kByName = 28671;

// A type as the tests expect it: a number, or a name kept as written.
struct Type {
  short number;
  std::string name;  // empty for a numbered type
};

// Builds canonical signature texts straight from the grammar and checks that
// each parses into the fields it was built from and prints back as itself;
// a lower-case, unordered spelling of the same signature parses the same.
TEST(KSignatureGrammar, RandomWellFormedSignaturesRoundTrip) {
  const std::vector<Type> types = {{kInteger, ""}, {kString, ""}, {kReal, ""},   {kBoolean, ""}, {kList, ""},
                                   {kDynamic, ""}, {kVoid, ""},   {kLong, ""},   {kObject, ""},  {kError, ""},
                                   {kByName, "Widget"}, {kByName, "x"}, {kByName, "Host_Class.v2"}};
  auto spelled = [](const Type& t) {
    return t.name.empty() ? std::string(KQSValue::NumberToClass(t.number)->ClassName()) : t.name;
  };
  std::mt19937 rng(20261206);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  DebugCapture capture;
  for (int round = 0; round < 1000; ++round) {
    const bool a = pick(2), e = pick(2), u = pick(2), var = pick(2);
    const int nargs = pick(5) == 0 ? pick(33) : pick(5);
    const int minArgs = pick(nargs + 1);
    std::vector<Type> sig;
    for (int i = 0; i <= nargs; ++i) sig.push_back(types[static_cast<size_t>(pick(static_cast<int>(types.size())))]);
    std::string text, messy;
    if (a || e || u) {
      text = std::string("<") + (a ? "A" : "") + (e ? "E" : "") + (u ? "U" : "") + ">";
      messy = std::string("<") + (u ? "U" : "") + (e ? "EE" : "") + (a ? "A" : "") + ">";
    }
    // By-name types keep their spelling; registered ones may be written in any case.
    text += spelled(sig[0]) + "(";
    messy += (sig[0].name.empty() ? classes_test::Upper(spelled(sig[0])) : sig[0].name) + "(";
    for (int i = 1; i <= nargs; ++i) {
      const std::string name = spelled(sig[static_cast<size_t>(i)]);
      const std::string piece = (i > 1 ? "," : "") + (i > minArgs ? "[" + name + "]" : name);
      text += piece;
      messy += piece;
    }
    if (var) {
      text += nargs > 0 ? ",..." : "...";
      messy += nargs > 0 ? ",...)" : "...)";
    } else {
      messy += nargs > 0 && pick(2) ? ",)" : ")";  // an empty last piece adds nothing
    }
    text += ")";
    for (const std::string& form : {text, messy}) {
      SCOPED_TRACE(form);
      KSignature s(form.c_str());
      EXPECT_EQ(s.AutoUndefined(), a);
      EXPECT_EQ(s.AcceptsError(), e);
      EXPECT_EQ(s.AcceptsUndefined(), u);
      EXPECT_EQ(s.VarArgs(), var);
      ASSERT_EQ(s.NArgs(), nargs);
      EXPECT_EQ(s.MinArgs(), minArgs);
      for (int i = 0; i <= nargs; ++i) {
        const Type& want = sig[static_cast<size_t>(i)];
        EXPECT_EQ(s.Datatype(i).TypeNumber(), want.number) << i;
        EXPECT_STREQ(s.Datatype(i).TypeName(), want.name.empty() ? nullptr : want.name.c_str()) << i;
        EXPECT_EQ(s.Passtype(i), kPassByValue);
      }
      EXPECT_EQ(Str(s.ToString()), text);
    }
  }
  EXPECT_EQ(capture.All(), "");
}

// Spellings the round trip does not produce, and texts that are bad
// signatures (canonical text empty: a line, no arguments, no flags).
TEST(KSignatureGrammar, OtherSpellingsAndBadTexts) {
  auto args = [](int n) {
    std::string text = "Void(Integer";
    for (int i = 1; i < n; ++i) text += ",Integer";
    return text + ")";
  };
  const std::string longName(256, 'T'), longest(255, 'T');
  const std::pair<std::string, std::string> cases[] = {
      {"<UEAU>Void(...)", "<AEU>Void(...)"},  // options in any order, repeated
      {"<>Integer(String)", "Integer(String)"},
      {"Boolean", "Boolean()"},
      {"(,String,)", "Void(Void,String)"},  // an empty result or inner argument is Void
      {"Integer([])", "Integer([Void])"},
      // an optional argument before a required one makes the rest optional
      {"Integer([String],Integer,Real)", "Integer([String],[Integer],[Real])"},
      {longest + "(" + longest + ")", longest + "(" + longest + ")"},
      {args(32), args(32)},
      {"Integer(String", ""}, {"<AE>Integer(String,Real", ""}, {"Integer(", ""}, {"<AU Integer(String)", ""},
      {longName + "(String)", ""}, {"Integer(" + longName + ",String)", ""}, {args(33), ""}};
  for (const auto& [text, canonical] : cases) {
    KSignature* s = nullptr;
    ExpectDebug(canonical.empty() ? Lines{"KSignature::KSignature...Bad signature:/" + text + "/\n"} : Lines{},
                [&] { s = new KSignature(text.c_str()); });
    if (canonical.empty()) {
      EXPECT_EQ(s->NArgs() + s->MinArgs(), 0) << text;
      EXPECT_FALSE(s->VarArgs() || s->AutoUndefined() || s->AcceptsError() || s->AcceptsUndefined()) << text;
    } else {
      EXPECT_EQ(Str(s->ToString()), canonical);
    }
    delete s;
  }
  // Unknown option letters are reported, one line each, and skipped.
  const std::string unknown = "KSignature::KSignature( Undefined signature option: <AXq>Integer )\n";
  ExpectDebug({unknown, unknown}, [] { EXPECT_EQ(Str(KSignature("<AXq>Integer(String)").ToString()), "<A>Integer(String)"); });
}

TEST(KSignatureAccessors, NumericCountsArginfoCopiesAndTypes) {
  KSignature n(3, -4);  // counts are clamped, entries Undefined
  EXPECT_EQ(Str(n.ToString()), "Undefined([Undefined],[Undefined],[Undefined])");
  EXPECT_EQ(KSignature(40, 50).NArgs() + KSignature(40, 50).MinArgs(), 64);
  n.MinArgs(99);
  EXPECT_EQ(n.MinArgs() + n.Datatype(32).TypeNumber(), 32 + kUndefined);
  KSignature s("Integer(String,Real)");
  s.Arginfo(2, KSignature_type(kBoolean), 7);
  KSignature_type t;
  KSignature_passtype p = 0;
  s.Arginfo(2, &t, &p);
  EXPECT_TRUE(t.TypeNumber() == kBoolean && p == 7);
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
  EXPECT_EQ(Str(copy.ToString()) + Str(assigned.ToString()), "Widget(Gadget)Widget(Gadget)");
  KSignature_type named("Widget");
  EXPECT_TRUE(named.TypeNumber() == kByName && named == KSignature_type("WIDGET"));
  EXPECT_FALSE(named == KSignature_type("Gadget") || named == kByName);  // a short names no type by name
  ExpectDebug({"KSignature_type::I4()...Non-null type name\n", "KSignature_type::ToString() Unregistered return type: \n"}, [&] {
    EXPECT_EQ(static_cast<long>(KSignature_type(kReal)) + named.I4(), kReal + kByName);
    EXPECT_EQ(Str(KSignature_type(short{900}).ToString()), "");
  });
}

TEST(KSignatureCheck, AnotherSignature) {
  const KSignature declared("Integer(String,Integer,[Object])");
  const std::pair<const char*, long> cases[] = {
      {"Integer(String,Integer,Widget)", 0},   // Object admits any object type
      {"Dynamic(String,Integer)", 0},          // a Dynamic result fits any
      {"Real(String,Integer)", -1},
      {"Integer(String)", -2},                 // fewer than MinArgs
      {"Integer(String,Integer,Widget,Real)", -2},
      {"Integer(String,Real)", 0},             // numbers fit numbers
      {"Integer(String,Long,Integer)", 3},     // Integer is no object type
      {"Integer(Integer,Long,Integer)", 3},    // the highest position first
      {"Integer(Integer,Long)", 1},
      {"Integer(Undefined,Error)", 0},         // offered Undefined and Error fit
      {"Integer(Dynamic,Dynamic,Dynamic)", 0},
  };
  for (const auto& [text, want] : cases) {
    KSignature offered(text);
    EXPECT_EQ(declared.Check(&offered), want) << text;
  }
  // The declared side's Undefined admits nothing else.
  KSignature strict("Integer(Undefined,Error)"), strings("Integer(String,String)");
  EXPECT_EQ(strict.Check(&strings), 2);
  KSignature varargs("Integer(String,...)"), longer("Integer(String,Integer,Real)");
  EXPECT_EQ(varargs.Check(&longer), 0);  // positions past NArgs are Dynamic
  KSignature passed("Integer(String,Integer)");
  passed.Passtype(1, 2);
  EXPECT_EQ(declared.Check(&passed), 1);
  EXPECT_EQ(declared.Check(nullptr), -2);
}

}  // namespace
