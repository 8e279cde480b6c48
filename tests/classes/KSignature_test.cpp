// Native signatures: the text grammar read and written back (including a
// randomised round trip over the whole grammar), malformed texts and their
// debug lines, the numeric constructor, the table accessors, and the
// comparison of two signatures.
#include "vxkernel/classes/KSignature.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/values/KQSValue.h"
#include "values/value_test_util.h"

namespace {

using namespace valtest;

constexpr short kDynamic = -127;
constexpr short kObject = -128;
constexpr short kByName = 28671;

// A type as the tests expect it: a number, or a name kept as written.
struct Type {
  short number;
  std::string name;  // empty for a numbered type
};

void ExpectType(const KSignature_type& t, const Type& want, const std::string& where) {
  EXPECT_EQ(t.TypeNumber(), want.number) << where;
  if (want.name.empty()) EXPECT_EQ(t.TypeName(), nullptr) << where;
  else EXPECT_STREQ(t.TypeName(), want.name.c_str()) << where;
}

// Spellings that the random round trip below does not produce.
TEST(KSignatureGrammar, SpecialSpellingsAndTheirCanonicalText) {
  struct Case {
    const char* text;
    const char* canonical;
    const char* flags;        // A, E, U and V for VarArgs
    std::vector<Type> types;  // result, then arguments
    long minArgs;
  } cases[] = {
      // options in any order and repeated; written back as A, E, U
      {"<UEAU>Void(...)", "<AEU>Void(...)", "AEUV", {{kVoid, ""}}, 0},
      {"<>Integer(String)", "Integer(String)", "", {{kInteger, ""}, {kString, ""}}, 1},
      {"Boolean", "Boolean()", "", {{kBoolean, ""}}, 0},
      // an empty result or inner argument is Void; an empty last piece adds nothing
      {"(,String,)", "Void(Void,String)", "", {{kVoid, ""}, {kVoid, ""}, {kString, ""}}, 2},
      {"Integer([])", "Integer([Void])", "", {{kInteger, ""}, {kVoid, ""}}, 0},
      // an optional argument before a required one makes the rest optional
      {"Integer([String],Integer,Real)", "Integer([String],[Integer],[Real])", "",
       {{kInteger, ""}, {kString, ""}, {kInteger, ""}, {kReal, ""}}, 0},
      // registered names in any case; others by name exactly as written
      {"integer(STRING,Widget,[my.Pkg.Thing])", "Integer(String,Widget,[my.Pkg.Thing])", "",
       {{kInteger, ""}, {kString, ""}, {kByName, "Widget"}, {kByName, "my.Pkg.Thing"}}, 2},
  };
  DebugCapture capture;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    KSignature s(k.text);
    const std::string flags = k.flags;
    EXPECT_EQ(s.AutoUndefined(), flags.find('A') != std::string::npos);
    EXPECT_EQ(s.AcceptsError(), flags.find('E') != std::string::npos);
    EXPECT_EQ(s.AcceptsUndefined(), flags.find('U') != std::string::npos);
    EXPECT_EQ(s.VarArgs(), flags.find('V') != std::string::npos);
    ASSERT_EQ(s.NArgs(), static_cast<long>(k.types.size()) - 1);
    EXPECT_EQ(s.MinArgs(), k.minArgs);
    for (size_t i = 0; i < k.types.size(); ++i) {
      ExpectType(s.Datatype(static_cast<long>(i)), k.types[i], "entry " + std::to_string(i));
      EXPECT_EQ(s.Passtype(static_cast<long>(i)), kPassByValue);
    }
    EXPECT_EQ(Str(s.ToString()), k.canonical);
  }
  EXPECT_EQ(capture.All(), "");
}

TEST(KSignatureGrammar, UnknownOptionLettersAreReportedAndSkipped) {
  DebugCapture capture;
  KSignature s("<AXq>Integer(String)");
  EXPECT_EQ(capture.Texts(), (std::vector<std::string>{
                                 "KSignature::KSignature( Undefined signature option: <AXq>Integer )\n",
                                 "KSignature::KSignature( Undefined signature option: <AXq>Integer )\n"}));
  EXPECT_TRUE(s.AutoUndefined());
  EXPECT_EQ(s.NArgs(), 1);
  EXPECT_EQ(Str(s.ToString()), "<A>Integer(String)");
}

TEST(KSignatureGrammar, MalformedOversizedAndOverlongTextsAreBadSignatures) {
  auto args = [](int n) {
    std::string text = "Void(";
    for (int i = 0; i < n; ++i) text += i == 0 ? "Integer" : ",Integer";
    return text + ")";
  };
  const std::string longName(256, 'T');
  const std::string bad[] = {
      "Integer(String",           // no closing parenthesis
      "<AE>Integer(String,Real",  // flags are dropped with the arguments
      "Integer(",                 // nothing after the parenthesis
      "<AU Integer(String)",      // option group never closed
      longName + "(String)", "Integer(" + longName + ")", "Integer(" + longName + ",String)",
      args(33)};
  for (const std::string& text : bad) {
    DebugCapture capture;
    KSignature s(text.c_str());
    EXPECT_EQ(capture.All(), "KSignature::KSignature...Bad signature:/" + text + "/\n");
    EXPECT_EQ(s.NArgs(), 0) << text;
    EXPECT_EQ(s.MinArgs(), 0) << text;
    EXPECT_FALSE(s.VarArgs() || s.AutoUndefined() || s.AcceptsError() || s.AcceptsUndefined())
        << text;
  }
  // 255 characters and 32 arguments are still fine.
  const std::string longest(255, 'T');
  DebugCapture capture;
  EXPECT_EQ(KSignature((longest + "(" + longest + ")").c_str()).NArgs(), 1);
  EXPECT_EQ(KSignature(args(32).c_str()).NArgs(), 32);
  EXPECT_EQ(capture.All(), "");
}

// Builds canonical signature texts straight from the grammar and checks
// that each parses into the fields it was built from and prints back as
// itself; a lower-case, unordered spelling of the same signature parses to
// the same fields.
TEST(KSignatureGrammar, RandomWellFormedSignaturesRoundTrip) {
  const std::vector<Type> types = {
      {kInteger, ""}, {kString, ""}, {kReal, ""}, {kBoolean, ""},        {kList, ""},
      {kDynamic, ""}, {kVoid, ""},   {kLong, ""}, {kObject, ""},         {kError, ""},
      {kByName, "Widget"},           {kByName, "x"},                     {kByName, "Host_Class.v2"}};
  auto spelled = [](const Type& t) {
    return t.name.empty() ? std::string(KQSValue::NumberToClass(t.number)->ClassName()) : t.name;
  };
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::mt19937 rng(20261206);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  DebugCapture capture;
  for (int round = 0; round < 2000; ++round) {
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
    text += spelled(sig[0]) + "(";
    // By-name types keep their spelling; registered ones may be written in
    // any case.
    messy += (sig[0].name.empty() ? lower(spelled(sig[0])) : sig[0].name) + "(";
    for (int i = 1; i <= nargs; ++i) {
      const std::string name = spelled(sig[static_cast<size_t>(i)]);
      const std::string piece = i > minArgs ? "[" + name + "]" : name;
      text += (i > 1 ? "," : "") + piece;
      messy += (i > 1 ? "," : "") + piece;
    }
    if (var) {
      text += nargs > 0 ? ",..." : "...";
      messy += nargs > 0 ? ",...)" : "...)";
    } else {
      messy += nargs > 0 && pick(2) ? ",)" : ")";  // an empty last piece adds nothing
    }
    text += ")";

    for (const std::string& form : {text, messy}) {
      KSignature s(form.c_str());
      SCOPED_TRACE(form);
      EXPECT_EQ(s.AutoUndefined(), a);
      EXPECT_EQ(s.AcceptsError(), e);
      EXPECT_EQ(s.AcceptsUndefined(), u);
      EXPECT_EQ(s.VarArgs(), var);
      ASSERT_EQ(s.NArgs(), nargs);
      EXPECT_EQ(s.MinArgs(), minArgs);
      for (int i = 0; i <= nargs; ++i) ExpectType(s.Datatype(i), sig[static_cast<size_t>(i)], "entry");
      EXPECT_EQ(Str(s.ToString()), text);
    }
  }
  EXPECT_EQ(capture.All(), "");
}

TEST(KSignatureNumeric, CountsAreClampedAndEntriesAreUndefinedByValue) {
  KSignature big(40, 50);
  EXPECT_EQ(big.NArgs(), 32);
  EXPECT_EQ(big.MinArgs(), 32);
  KSignature s(3, -4);
  EXPECT_EQ(s.NArgs(), 3);
  EXPECT_EQ(s.MinArgs(), 0);
  EXPECT_FALSE(s.VarArgs() || s.AutoUndefined() || s.AcceptsError() || s.AcceptsUndefined());
  for (long i = 0; i <= 32; ++i) {
    EXPECT_EQ(s.Datatype(i).TypeNumber(), kUndefined);
    EXPECT_EQ(s.Passtype(i), kPassByValue);
  }
  EXPECT_EQ(Str(s.ToString()), "Undefined([Undefined],[Undefined],[Undefined])");
  s.MinArgs(99);
  EXPECT_EQ(s.MinArgs(), 32);
}

TEST(KSignatureAccessors, ArginfoGuardsItsRangeAndCopiesAreDeep) {
  KSignature s("Integer(String,Real)");
  s.Arginfo(2, KSignature_type(kBoolean), 7);
  KSignature_type t;
  KSignature_passtype p = 0;
  s.Arginfo(2, &t, &p);
  EXPECT_EQ(t.TypeNumber(), kBoolean);
  EXPECT_EQ(p, 7);

  DebugCapture capture;
  s.Arginfo(0, KSignature_type(kBoolean), 1);  // not an argument: ignored
  s.Arginfo(3, KSignature_type(kBoolean), 1);  // beyond NArgs without VarArgs: ignored
  EXPECT_EQ(capture.All(), "");
  EXPECT_EQ(s.ResultDatatype().TypeNumber(), kInteger);
  s.VarArgs(true);
  s.Arginfo(3, KSignature_type(kBoolean), 1);
  EXPECT_EQ(capture.All(), "KSignature::Arginfo() Setting vararg argument is illegal\n");
  EXPECT_EQ(s.Datatype(3).TypeNumber(), kDynamic);

  // A by-name type survives the signature it was copied from.
  auto* source = new KSignature("Widget(Gadget)");
  KSignature copy(source);
  KSignature assigned(0, 0);
  assigned = *source;
  delete source;
  EXPECT_STREQ(copy.Datatype(1).TypeName(), "Gadget");
  EXPECT_EQ(Str(assigned.ToString()), "Widget(Gadget)");
}

TEST(KSignatureType, ComparisonI4AndText) {
  KSignature_type named("Widget");
  EXPECT_EQ(named.TypeNumber(), kByName);
  EXPECT_TRUE(named == KSignature_type("WIDGET"));
  EXPECT_FALSE(named == KSignature_type("Gadget"));
  EXPECT_FALSE(named == kByName);  // a short names no type by name
  DebugCapture capture;
  EXPECT_EQ(static_cast<long>(KSignature_type(kReal)), kReal);
  EXPECT_EQ(capture.All(), "");
  EXPECT_EQ(named.I4(), kByName);
  EXPECT_EQ(capture.All(), "KSignature_type::I4()...Non-null type name\n");

  EXPECT_EQ(Str(KSignature_type(kDynamic).ToString()), "Dynamic");
  EXPECT_EQ(Str(KSignature_type("anything goes").ToString()), "anything goes");
  capture.Clear();
  EXPECT_EQ(Str(KSignature_type(static_cast<short>(900)).ToString()), "");
  EXPECT_EQ(Str(KSignature_type(static_cast<short>(-3000)).ToString()), "");
  EXPECT_EQ(Str(KSignature_type(kByName, nullptr).ToString()), "");
  EXPECT_EQ(capture.Texts(), std::vector<std::string>(3, "KSignature_type::ToString() Unregistered return type: \n"));
}

TEST(KSignatureCheck, AnotherSignature) {
  const KSignature declared("Integer(String,Integer,[Object])");
  auto check = [&](const char* other) {
    KSignature o(other);
    return declared.Check(&o);
  };
  EXPECT_EQ(check("Integer(String,Integer,Widget)"), 0);  // Object admits any object type
  EXPECT_EQ(check("Dynamic(String,Integer)"), 0);         // a Dynamic result fits any
  EXPECT_EQ(check("Real(String,Integer)"), -1);
  EXPECT_EQ(check("Integer(String)"), -2);                // fewer than MinArgs
  EXPECT_EQ(check("Integer(String,Integer,Widget,Real)"), -2);
  EXPECT_EQ(check("Integer(String,Real)"), 0);            // numbers fit numbers
  EXPECT_EQ(check("Integer(String,Long,Integer)"), 3);    // Integer is no object type
  EXPECT_EQ(check("Integer(Integer,Long,Integer)"), 3);   // the highest position first
  EXPECT_EQ(check("Integer(Integer,Long)"), 1);
  EXPECT_EQ(check("Integer(Undefined,Error)"), 0);        // offered Undefined and Error fit
  EXPECT_EQ(check("Integer(Dynamic,Dynamic,Dynamic)"), 0);

  // The declared side's Undefined admits nothing else.
  KSignature strict("Integer(Undefined,Error)");
  KSignature offered("Integer(String,String)");
  EXPECT_EQ(strict.Check(&offered), 2);

  KSignature varargs("Integer(String,...)");
  KSignature longer("Integer(String,Integer,Real)");
  EXPECT_EQ(varargs.Check(&longer), 0);  // positions past NArgs are Dynamic

  KSignature passed("Integer(String,Integer)");
  passed.Passtype(1, 2);
  EXPECT_EQ(declared.Check(&passed), 1);
  EXPECT_EQ(declared.Check(nullptr), -2);
}

}  // namespace
