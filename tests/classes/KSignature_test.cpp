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

TEST(KSignatureGrammar, ArgumentsWithAnOptionalTail) {
  KSignature s("Integer(String,[Integer])");
  ExpectType(s.ResultDatatype(), {kInteger, ""}, "result");
  EXPECT_EQ(s.NArgs(), 2);
  EXPECT_EQ(s.MinArgs(), 1);
  EXPECT_FALSE(s.VarArgs() || s.AutoUndefined() || s.AcceptsError() || s.AcceptsUndefined());
  ExpectType(s.Datatype(1), {kString, ""}, "arg 1");
  ExpectType(s.Datatype(2), {kInteger, ""}, "arg 2");
  EXPECT_EQ(s.Passtype(1), kPassByValue);
  EXPECT_EQ(s.Passtype(2), kPassByValue);
  EXPECT_EQ(Str(s.ToString()), "Integer(String,[Integer])");
}

TEST(KSignatureGrammar, OptionsAndVarArgs) {
  KSignature s("<AU>Void(Dynamic,...)");
  EXPECT_TRUE(s.AutoUndefined());
  EXPECT_TRUE(s.AcceptsUndefined());
  EXPECT_FALSE(s.AcceptsError());
  EXPECT_TRUE(s.VarArgs());
  EXPECT_EQ(s.NArgs(), 1);
  EXPECT_EQ(s.MinArgs(), 1);
  ExpectType(s.ResultDatatype(), {kVoid, ""}, "result");
  ExpectType(s.Datatype(1), {kDynamic, ""}, "arg 1");
  EXPECT_EQ(Str(s.ToString()), "<AU>Void(Dynamic,...)");

  // Options in any order and repeated mean the same; the text comes back
  // in the order A, E, U.
  KSignature t("<UEAU>Void(...)");
  EXPECT_TRUE(t.AutoUndefined() && t.AcceptsError() && t.AcceptsUndefined() && t.VarArgs());
  EXPECT_EQ(t.NArgs(), 0);
  EXPECT_EQ(Str(t.ToString()), "<AEU>Void(...)");
  // An empty option group sets nothing and is not written back.
  EXPECT_EQ(Str(KSignature("<>Integer(String)").ToString()), "Integer(String)");
}

TEST(KSignatureGrammar, ResultOnlyAndEmptyLists) {
  KSignature bare("Boolean");
  KSignature empty("Boolean()");
  for (const KSignature* s : {&bare, &empty}) {
    ExpectType(s->ResultDatatype(), {kBoolean, ""}, "result");
    EXPECT_EQ(s->NArgs(), 0);
    EXPECT_EQ(s->MinArgs(), 0);
    EXPECT_FALSE(s->VarArgs());
    EXPECT_EQ(Str(s->ToString()), "Boolean()");
  }
}

TEST(KSignatureGrammar, EmptyPiecesAreVoidOrNothing) {
  // An empty result type and an empty argument before the last are Void;
  // an empty last piece adds nothing.
  KSignature s("(,String,)");
  ExpectType(s.ResultDatatype(), {kVoid, ""}, "result");
  EXPECT_EQ(s.NArgs(), 2);
  ExpectType(s.Datatype(1), {kVoid, ""}, "arg 1");
  ExpectType(s.Datatype(2), {kString, ""}, "arg 2");
  EXPECT_EQ(Str(s.ToString()), "Void(Void,String)");
  KSignature optionalVoid("Integer([])");
  EXPECT_EQ(optionalVoid.MinArgs(), 0);
  EXPECT_EQ(Str(optionalVoid.ToString()), "Integer([Void])");
}

TEST(KSignatureGrammar, NamesResolveCaseInsensitivelyOrStayByName) {
  KSignature s("integer(STRING,Widget,[my.Pkg.Thing])");
  ExpectType(s.ResultDatatype(), {kInteger, ""}, "result");
  ExpectType(s.Datatype(1), {kString, ""}, "arg 1");
  ExpectType(s.Datatype(2), {kByName, "Widget"}, "arg 2");
  ExpectType(s.Datatype(3), {kByName, "my.Pkg.Thing"}, "arg 3");
  EXPECT_EQ(s.MinArgs(), 2);
  // Registered names come back as the class spells them; unknown names
  // exactly as written.
  EXPECT_EQ(Str(s.ToString()), "Integer(String,Widget,[my.Pkg.Thing])");
}

TEST(KSignatureGrammar, AnOptionalBeforeARequiredMakesTheRestOptional) {
  KSignature s("Integer([String],Integer,Real)");
  EXPECT_EQ(s.NArgs(), 3);
  EXPECT_EQ(s.MinArgs(), 0);
  EXPECT_EQ(Str(s.ToString()), "Integer([String],[Integer],[Real])");
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

TEST(KSignatureGrammar, MalformedTextsAreBadSignatures) {
  const char* const bad[] = {
      "Integer(String",           // no closing parenthesis
      "<AE>Integer(String,Real",  // flags are dropped with the arguments
      "Integer(",                 // nothing after the parenthesis
      "<AU Integer(String)",      // option group never closed
  };
  for (const char* text : bad) {
    DebugCapture capture;
    KSignature s(text);
    EXPECT_EQ(capture.All(), std::string("KSignature::KSignature...Bad signature:/") + text + "/\n");
    EXPECT_EQ(s.NArgs(), 0) << text;
    EXPECT_EQ(s.MinArgs(), 0) << text;
    EXPECT_FALSE(s.VarArgs() || s.AutoUndefined() || s.AcceptsError() || s.AcceptsUndefined()) << text;
  }
}

TEST(KSignatureGrammar, OversizedPiecesAndTooManyArgumentsAreBadSignatures) {
  const std::string longName(256, 'T');
  std::string manyArgs = "Void(";
  for (int i = 0; i < 33; ++i) manyArgs += i == 0 ? "Integer" : ",Integer";
  manyArgs += ")";
  for (const std::string& text :
       {longName + "(String)", "Integer(" + longName + ")", "Integer(" + longName + ",String)", manyArgs}) {
    DebugCapture capture;
    KSignature s(text.c_str());
    EXPECT_EQ(capture.All(), "KSignature::KSignature...Bad signature:/" + text + "/\n");
    EXPECT_EQ(s.NArgs(), 0);
  }
  // 255 characters and 32 arguments are still fine.
  const std::string longest(255, 'T');
  std::string most = "Void(";
  for (int i = 0; i < 32; ++i) most += i == 0 ? "Integer" : ",Integer";
  most += ")";
  DebugCapture capture;
  EXPECT_EQ(KSignature((longest + "(" + longest + ")").c_str()).NArgs(), 1);
  EXPECT_EQ(KSignature(most.c_str()).NArgs(), 32);
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

TEST(KSignatureType, NamesCompareWithoutCaseAndI4ReportsThem) {
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
}

TEST(KSignatureType, TextOfNumbersNamesAndUnregisteredNumbers) {
  EXPECT_EQ(Str(KSignature_type(kString).ToString()), "String");
  EXPECT_EQ(Str(KSignature_type(kDynamic).ToString()), "Dynamic");
  EXPECT_EQ(Str(KSignature_type("anything goes").ToString()), "anything goes");
  DebugCapture capture;
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
