// Feature dispatch on a host class that extends another through the
// registry: dot access, invocation and assignment on instances and on the
// class, names as Strings and as SlotIndex values, inheritance and
// delegation, argument checks with coercion in place, AutoUndefined,
// functor status, and every status code and debug line, compared whole.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "classes/feature_test_support.h"
#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/values/KQSValue.h"

namespace {

using features_test::AttributeFn;
using features_test::ClassAttributeFn;
using features_test::ClassMethodFn;
using features_test::HostClass;
using features_test::MethodFn;
using features_test::Returns;
using features_test::Str;
using features_test::Streamed;
using Lines = std::vector<std::string>;

constexpr long kNotFound = 0x26AD000F;
constexpr long kWrongCount = 0x26AD0017;
constexpr long kWrongType = 0x26AD0018;
constexpr long kNoFunctor = 0x26AD0033;
constexpr short kSlotIndex = -131;

// The instance behind an Account value.
struct Account {
  int id;
  long balance;
};

// Shows its instances as "Account#<id>", so that the lines that print the
// receiver are easy to read.
class AccountClass : public HostClass {
 public:
  explicit AccountClass(const char* name) : HostClass(name) {}
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* /*f*/) const override {
    return out << ClassName() << '#' << static_cast<Account*>(data)->id;
  }
};

KQSValue Slot(long position) { return KQSValue(kSlotIndex, position); }
KThread* Thread(int& marker) { return reinterpret_cast<KThread*>(&marker); }

// What the functors saw on their last call.
struct Seen {
  const KQSClass* cls = nullptr;
  KThread* thread = nullptr;
  long status = -1;
  void* data = nullptr;
  long argc = -1;
  KQSValue* argv = nullptr;
  const KQSValue* newValue = nullptr;
  void Record(const KQSClass* c, const KQSClass_env& ctx) {
    cls = c;
    thread = ctx.Thread();
    status = ctx.Status();
  }
};

// "AccountBase" has Audit, Owner, Version, Bank; "Account" extends it.
// Positions in Account's tables:
//   methods     0 Deposit "Integer(Integer)"     1 Describe "String([String])"
//               2 Strict "<A>Integer(Integer,Real)"   3 Lenient "<EU>Integer(Integer,Integer)"
//               4 Free (no signature)   5 (hole)   6 Broken (no functor)
//               7 Failing "Integer()"   8 Spread "Integer(Integer,...)"   9 Peer "Boolean(Account)"
//   attributes  0 Balance "Integer"   1 (hole)   2 Locked "Integer"   3 Nothing (no functor)
//   class methods     0 Open "Account(Integer)"   1 Closing (no functor)   2 Sum "<A>Integer(Integer,Integer)"
//   class attributes  0 Count "Integer"   1 Rate (no functor)
//   constants   0 Limit 100
class Dispatch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base = new HostClass("AccountBase");
    ASSERT_TRUE(KQSValue::ProcessEnvironment()->AddClass(base));
    base->AddMethod("Audit", "String()", new MethodFn(Returns<MethodFn>(KQSValue("audited"))), -1, 1, true);
    base->AddAttribute("Owner", "String", new AttributeFn(Returns<AttributeFn>(KQSValue("bank"))), -1, 1, true);
    base->AddClassMethod("Version", "Integer()", new ClassMethodFn(Returns<ClassMethodFn>(KQSValue(3))), -1, 1,
                         true);
    base->AddClassAttribute("Bank", "String", new ClassAttributeFn(Returns<ClassAttributeFn>(KQSValue("central"))),
                            -1, 1, true);
    cls = new AccountClass("Account");
    ASSERT_TRUE(KQSValue::ProcessEnvironment()->AddClass(cls));
  }

  // A method that records its call, runs `then` on the instance and returns its result.
  MethodFn* Method(const char* name, const char* sig, std::function<KQSValue(Account*, KQSValue*)> then) {
    auto* fn = new MethodFn([this, then](const KQSClass* c, KQSClass_env& ctx, void* data, long argc, KQSValue* argv) {
      seen.Record(c, ctx);
      seen.data = data;
      seen.argc = argc;
      seen.argv = argv;
      return then(static_cast<Account*>(data), argv);
    });
    cls->AddMethod(name, sig, fn, -1, 1, true);
    return fn;
  }
  MethodFn* Method(const char* name, const char* sig, KQSValue result) {
    return Method(name, sig, [result](Account*, KQSValue*) { return result; });
  }

  void SetUp() override {
    seen = Seen();
    cls->ResetClassDefinition();
    cls->AddExtends("AccountBase");
    deposit = Method("Deposit", "Integer(Integer)", [](Account* a, KQSValue* argv) {
      a->balance += static_cast<long>(argv[0]);
      return KQSValue(a->balance);
    });
    Method("Describe", "String([String])", KQSValue("described"));
    strict = Method("Strict", "<A>Integer(Integer,Real)", KQSValue(1));
    Method("Lenient", "<EU>Integer(Integer,Integer)", KQSValue(2));
    Method("Free", nullptr, KQSValue(3));
    cls->AddMethod("Broken", "Integer()", nullptr, 6, 1, false);
    cls->AddMethod("Failing", "Integer()", new MethodFn([](const KQSClass*, KQSClass_env& ctx, void*, long, KQSValue*) {
                     ctx.Status(0x12345);
                     return KQSValue("partial");
                   }),
                   -1, 1, true);
    Method("Spread", "Integer(Integer,...)", KQSValue(4));
    peer = Method("Peer", "Boolean(Account)", KQSValue::Boolean(1));

    cls->AddAttribute("Balance", "Integer",
                      new AttributeFn([this](const KQSClass* c, KQSClass_env& ctx, void* data, const KQSValue* v) {
                        seen.Record(c, ctx);
                        seen.data = data;
                        seen.newValue = v;
                        auto* a = static_cast<Account*>(data);
                        if (v != nullptr) a->balance = static_cast<long>(*v);
                        return KQSValue(a->balance);
                      }),
                      -1, 1, true);
    locked = new AttributeFn([](const KQSClass*, KQSClass_env& ctx, void*, const KQSValue* v) {
      if (v != nullptr) ctx.Status(0x777);
      return KQSValue(9);
    });
    cls->AddAttribute("Locked", "Integer", locked, 2, 1, true);
    cls->AddAttribute("Nothing", "Integer", nullptr, -1, 1, false);

    cls->AddClassMethod("Open", "Account(Integer)",
                        new ClassMethodFn([this](const KQSClass* c, KQSClass_env& ctx, long argc, KQSValue* argv) {
                          seen.Record(c, ctx);
                          seen.argc = argc;
                          seen.argv = argv;
                          return KQSValue("opened");
                        }),
                        -1, 1, true);
    cls->AddClassMethod("Closing", nullptr, nullptr, -1, 1, false);
    cls->AddClassMethod("Sum", "<A>Integer(Integer,Integer)",
                        new ClassMethodFn([](const KQSClass*, KQSClass_env&, long, KQSValue* argv) {
                          return KQSValue(static_cast<long>(argv[0]) + static_cast<long>(argv[1]));
                        }),
                        -1, 1, true);
    cls->AddClassAttribute("Count", "Integer",
                           new ClassAttributeFn([this](const KQSClass* c, KQSClass_env& ctx, const KQSValue* v) {
                             seen.Record(c, ctx);
                             seen.newValue = v;
                             if (v != nullptr) {
                               counter = static_cast<long>(*v);
                               ctx.Status(counter < 0 ? 0x55 : 0);
                             }
                             return KQSValue(counter);
                           }),
                           -1, 1, true);
    cls->AddClassAttribute("Rate", "Real", nullptr, -1, 1, false);
    cls->AddConstant("Limit", KQSValue(100), -1, 1);
  }

  KQSValue Value() { return KQSValue(cls, &account); }

  static inline HostClass* base;
  static inline AccountClass* cls;
  Account account{1, 10};
  Seen seen;
  long counter = 5;
  MethodFn *deposit, *strict, *peer;
  AttributeFn* locked;
};

// ===== Dot =====

TEST_F(Dispatch, DotReadsAnAttributeThroughItsFunctor) {
  DebugCapture capture;
  KQSValue out;
  EXPECT_EQ(cls->Dot(&account, KQSValue("balance"), out, nullptr), 0);
  EXPECT_EQ(static_cast<long>(out), 10);
  EXPECT_EQ(seen.cls, cls);
  EXPECT_EQ(seen.thread, nullptr);
  EXPECT_EQ(seen.status, 0);
  EXPECT_EQ(seen.data, &account);
  EXPECT_EQ(seen.newValue, nullptr);
  // By position, and through the value.
  out = KQSValue();
  EXPECT_EQ(cls->Dot(&account, Slot(0), out, nullptr), 0);
  EXPECT_EQ(static_cast<long>(out), 10);
  EXPECT_EQ(Value().Dot(KQSValue("BALANCE"), out, nullptr), 0);
  // Inherited through the extends chain.
  EXPECT_EQ(cls->Dot(&account, KQSValue("owner"), out, nullptr), 0);
  EXPECT_EQ(Str(out.String()), "bank");
  EXPECT_EQ(capture.All(), "");
}

TEST_F(Dispatch, DotReportsTheFunctorStatusAndStillTakesItsValue) {
  KQSValue out;
  locked->fCalls = 0;
  EXPECT_EQ(cls->Dot(&account, KQSValue("Locked"), out, nullptr), 0);
  EXPECT_EQ(static_cast<long>(out), 9);
  EXPECT_EQ(cls->DotValuePut(&account, KQSValue("Locked"), KQSValue(1)), 0x777);
  EXPECT_EQ(locked->fCalls, 2);
}

TEST_F(Dispatch, DotDelegatesToAClassAttribute) {
  DebugCapture capture;
  KQSValue out;
  EXPECT_EQ(cls->Dot(&account, KQSValue("count"), out, nullptr), 0);
  EXPECT_EQ(static_cast<long>(out), 5);
  EXPECT_EQ(seen.cls, cls);
  EXPECT_EQ(seen.newValue, nullptr);
  EXPECT_EQ(seen.thread, nullptr);
  // An inherited class attribute, and one found by position (position 1 of
  // the attributes is a hole).
  EXPECT_EQ(cls->Dot(&account, KQSValue("Bank"), out, nullptr), 0);
  EXPECT_EQ(Str(out.String()), "central");
  EXPECT_EQ(cls->Dot(&account, Slot(1), out, nullptr), kNoFunctor);
  auto delegated = [](const KQSValue& name) {
    return "KQSClass::Dot( Account#1." + Streamed(name) + " ) delegated to class attribute\n";
  };
  EXPECT_EQ(capture.Texts(), (Lines{delegated(KQSValue("count")), delegated(KQSValue("Bank")), delegated(Slot(1)),
                                    "KQSClass::Dot...No Functor for Rate\n"}));
}

TEST_F(Dispatch, DotMissesFunctorsNamesAndPositions) {
  DebugCapture capture;
  KQSValue out(42);
  EXPECT_EQ(cls->Dot(&account, KQSValue("Nothing"), out, nullptr), kNoFunctor);
  EXPECT_EQ(cls->Dot(&account, KQSValue("Deposit"), out, nullptr), kNotFound);  // a method is no attribute
  EXPECT_EQ(cls->Dot(&account, KQSValue("Limit"), out, nullptr), kNotFound);    // nor a constant
  EXPECT_EQ(cls->Dot(&account, Slot(7), out, nullptr), kNotFound);
  EXPECT_EQ(cls->Dot(&account, Slot(-1), out, nullptr), kNotFound);
  EXPECT_EQ(cls->Dot(&account, KQSValue(3), out, nullptr), kNotFound);
  EXPECT_EQ(static_cast<long>(out), 42);  // untouched by every failure
  EXPECT_EQ(capture.Texts(),
            (Lines{"KQSClass::Dot...No Functor for Nothing\n",
                   "KQSClass::Dot( Account#1." + Streamed(KQSValue(3)) + " ) unknown feature type\n"}));
}

// ===== DotInvoke =====

TEST_F(Dispatch, DotInvokeRunsAMethodWithCheckedArguments) {
  DebugCapture capture;
  KQSValue args[] = {KQSValue(5)};
  KQSValue out;
  EXPECT_EQ(Value().DotInvoke(KQSValue("deposit"), 1, args, out, nullptr), 0);
  EXPECT_EQ(static_cast<long>(out), 15);
  EXPECT_EQ(account.balance, 15);
  EXPECT_EQ(seen.cls, cls);
  EXPECT_EQ(seen.data, &account);
  EXPECT_EQ(seen.argc, 1);
  EXPECT_EQ(seen.argv, args);
  EXPECT_EQ(seen.status, 0);
  // By position; optional argument left out.
  EXPECT_EQ(cls->DotInvoke(&account, Slot(1), 0, nullptr, out, nullptr), 0);
  EXPECT_EQ(Str(out.String()), "described");
  // Inherited.
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("AUDIT"), 0, nullptr, out, nullptr), 0);
  EXPECT_EQ(Str(out.String()), "audited");
  EXPECT_EQ(capture.All(), "");
}

TEST_F(Dispatch, DotInvokeCoercesArgumentsInPlace) {
  KQSValue args[] = {KQSValue(2.75), KQSValue(3)};
  KQSValue out;
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Strict"), 2, args, out, nullptr), 0);
  EXPECT_TRUE(args[0].IsInteger());  // the caller's entries changed type
  EXPECT_TRUE(args[1].IsReal());
  EXPECT_DOUBLE_EQ(static_cast<double>(args[1]), 3.0);
  EXPECT_EQ(strict->fCalls, 1);
}

TEST_F(Dispatch, DotInvokeRefusesBadArgumentListsWithoutRunning) {
  DebugCapture capture;
  KQSValue out(42);
  KQSValue one[] = {KQSValue(1)};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Strict"), 1, one, out, nullptr), kWrongCount);
  KQSValue three[] = {KQSValue(1), KQSValue(2), KQSValue(3)};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Strict"), 3, three, out, nullptr), kWrongCount);
  // A String cannot become an Integer; checking goes on, so the second
  // argument is coerced all the same.
  KQSValue wrong[] = {KQSValue("x"), KQSValue(3)};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Strict"), 2, wrong, out, nullptr), kWrongType);
  EXPECT_TRUE(wrong[0].IsString());
  EXPECT_TRUE(wrong[1].IsReal());
  // Error arguments without AcceptsError, Undefined without either flag.
  KQSValue error[] = {KQSValue::Error(9)};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Deposit"), 1, error, out, nullptr), kWrongType);
  KQSValue undefined[] = {KQSValue()};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Deposit"), 1, undefined, out, nullptr), kWrongType);
  // The host class is an object type, an Integer is not.
  KQSValue notAccount[] = {KQSValue(1)};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Peer"), 1, notAccount, out, nullptr), kWrongType);
  EXPECT_EQ(strict->fCalls + deposit->fCalls + peer->fCalls, 0);
  EXPECT_EQ(static_cast<long>(out), 42);
  EXPECT_EQ(capture.All(), "");
}

TEST_F(Dispatch, AutoUndefinedYieldsUndefinedWithoutRunning) {
  KQSValue out(42);
  KQSValue args[] = {KQSValue(), KQSValue(2)};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Strict"), 2, args, out, nullptr), 0);
  EXPECT_TRUE(out.IsUndefined());
  EXPECT_TRUE(args[1].IsInteger());  // checking stopped at the Undefined
  EXPECT_EQ(strict->fCalls, 0);
}

TEST_F(Dispatch, AcceptedUndefinedAndErrorArgumentsPass) {
  KQSValue out;
  KQSValue args[] = {KQSValue(), KQSValue::Error(3)};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Lenient"), 2, args, out, nullptr), 0);
  EXPECT_EQ(static_cast<long>(out), 2);
  EXPECT_TRUE(args[0].IsUndefined());
  EXPECT_TRUE(args[1].IsError());
  // Dynamic, object types and the arguments past a VarArgs list pass as
  // they are.
  KQSValue peerArgs[] = {Value()};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Peer"), 1, peerArgs, out, nullptr), 0);
  KQSValue spreadArgs[] = {KQSValue(1), KQSValue("a"), KQSValue(2.5)};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Spread"), 3, spreadArgs, out, nullptr), 0);
  EXPECT_EQ(seen.argc, 3);
  EXPECT_TRUE(spreadArgs[1].IsString());
  EXPECT_TRUE(spreadArgs[2].IsReal());
}

TEST_F(Dispatch, DotInvokeWithoutSignatureOrFunctorOrStatus) {
  DebugCapture capture;
  KQSValue out;
  KQSValue any[] = {KQSValue("x"), KQSValue()};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Free"), 2, any, out, nullptr), 0);
  EXPECT_EQ(static_cast<long>(out), 3);
  EXPECT_EQ(cls->DotInvoke(&account, Slot(6), 0, nullptr, out, nullptr), kNoFunctor);
  // The argument check comes before the functor check.
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Broken"), 1, any, out, nullptr), kWrongCount);
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Failing"), 0, nullptr, out, nullptr), 0x12345);
  EXPECT_EQ(Str(out.String()), "partial");
  EXPECT_EQ(capture.Texts(),
            (Lines{"KQSClass_Slot::CheckArguments..sig == 0\n", "KQSClass::DotInvoke...No Functor for Broken\n"}));
}

TEST_F(Dispatch, DotInvokeDelegatesToAClassMethodWithoutACheck) {
  DebugCapture capture;
  KQSValue out;
  KQSValue args[] = {KQSValue("not an Integer"), KQSValue(2)};
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("open"), 2, args, out, nullptr), 0);
  EXPECT_EQ(Str(out.String()), "opened");
  EXPECT_EQ(seen.cls, cls);
  EXPECT_EQ(seen.argc, 2);
  EXPECT_EQ(seen.argv, args);
  EXPECT_TRUE(args[0].IsString());
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Closing"), 0, nullptr, out, nullptr), kNoFunctor);
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Version"), 0, nullptr, out, nullptr), 0);  // inherited
  EXPECT_EQ(static_cast<long>(out), 3);
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue("Missing"), 0, nullptr, out, nullptr), kNotFound);
  EXPECT_EQ(cls->DotInvoke(&account, KQSValue::Boolean(1), 0, nullptr, out, nullptr), kNotFound);
  const std::string receiver = "KQSClass::DotInvoke( Account#1.";
  EXPECT_EQ(capture.Texts(),
            (Lines{receiver + Streamed(KQSValue("open")) + " ) delegated to class method\n",
                   receiver + Streamed(KQSValue("Closing")) + " ) delegated to class method\n",
                   "KQSClass::DotInvoke...No Functor for Closing\n",
                   receiver + Streamed(KQSValue("Version")) + " ) delegated to class method\n",
                   receiver + Streamed(KQSValue::Boolean(1)) + " ) unknown feature type\n"}));
}

// ===== DotValuePut =====

TEST_F(Dispatch, DotValuePutWritesAttributesOnly) {
  DebugCapture capture;
  const KQSValue seven(7);
  EXPECT_EQ(Value().DotValuePut(KQSValue("Balance"), seven), 0);
  EXPECT_EQ(account.balance, 7);
  EXPECT_EQ(seen.newValue, &seven);
  EXPECT_EQ(seen.data, &account);
  EXPECT_EQ(cls->DotValuePut(&account, Slot(0), KQSValue(8)), 0);
  EXPECT_EQ(account.balance, 8);
  EXPECT_EQ(cls->DotValuePut(&account, KQSValue("Nothing"), seven), kNoFunctor);
  EXPECT_EQ(cls->DotValuePut(&account, KQSValue("Count"), seven), kNotFound);  // class attributes are not consulted
  EXPECT_EQ(cls->DotValuePut(&account, Slot(1), seven), kNotFound);
  EXPECT_EQ(cls->DotValuePut(&account, KQSValue(2.5), seven), kNotFound);
  EXPECT_EQ(counter, 5);
  EXPECT_EQ(capture.Texts(),
            (Lines{"KQSClass::DotValuePut...No Functor for Nothing\n",
                   "KQSClass::DotValuePut...no such slot=" + Streamed(KQSValue("Count")) + "\n",
                   "KQSClass::DotValuePut...no such slot=" + Streamed(Slot(1)) + "\n",
                   "KQSClass::DotValuePut( Account#1." + Streamed(KQSValue(2.5)) + " ) unknown feature type\n"}));
}

// ===== class operations =====

TEST_F(Dispatch, ClassDotReadsClassAttributesWithTheCallersThread) {
  DebugCapture capture;
  int marker = 0;
  KQSValue out;
  EXPECT_EQ(cls->ClassDot(Thread(marker), KQSValue("COUNT"), out, nullptr), 0);
  EXPECT_EQ(static_cast<long>(out), 5);
  EXPECT_EQ(seen.thread, Thread(marker));
  EXPECT_EQ(seen.cls, cls);
  EXPECT_EQ(cls->ClassDot(nullptr, Slot(0), out, nullptr), 0);
  EXPECT_EQ(cls->ClassDot(nullptr, KQSValue("bank"), out, nullptr), 0);  // inherited
  EXPECT_EQ(Str(out.String()), "central");
  out = KQSValue(42);
  EXPECT_EQ(cls->ClassDot(nullptr, KQSValue("Balance"), out, nullptr), kNotFound);  // instance attributes are not
  EXPECT_EQ(cls->ClassDot(nullptr, KQSValue("Rate"), out, nullptr), kNoFunctor);
  EXPECT_EQ(cls->ClassDot(nullptr, KQSValue(1), out, nullptr), kNotFound);
  EXPECT_EQ(static_cast<long>(out), 42);
  EXPECT_EQ(capture.Texts(),
            (Lines{"KQSClass::ClassDot...no such slot=" + Streamed(KQSValue("Balance")) + "\n",
                   "KQSClass::ClassDot...No Functor for Rate\n",
                   "KQSClass::ClassDot( Account." + Streamed(KQSValue(1)) + " ) unknown feature type\n"}));
}

TEST_F(Dispatch, ClassDotValuePutWritesClassAttributes) {
  DebugCapture capture;
  int marker = 0;
  const KQSValue nine(9);
  EXPECT_EQ(cls->ClassDotValuePut(Thread(marker), KQSValue("count"), nine), 0);
  EXPECT_EQ(counter, 9);
  EXPECT_EQ(seen.newValue, &nine);
  EXPECT_EQ(seen.thread, Thread(marker));
  EXPECT_EQ(cls->ClassDotValuePut(nullptr, Slot(0), KQSValue(-1)), 0x55);  // the functor's status
  EXPECT_EQ(cls->ClassDotValuePut(nullptr, KQSValue("Rate"), nine), kNoFunctor);
  EXPECT_EQ(cls->ClassDotValuePut(nullptr, KQSValue("Balance"), nine), kNotFound);
  EXPECT_EQ(cls->ClassDotValuePut(nullptr, KQSValue(), nine), kNotFound);
  EXPECT_EQ(capture.Texts(),
            (Lines{"KQSClass::ClassDotValuePut...No Functor for Rate\n",
                   "KQSClass::ClassDotValuePut...no such slot=" + Streamed(KQSValue("Balance")) + "\n",
                   "KQSClass::ClassDotValuePut( Account." + Streamed(KQSValue()) + " ) unknown feature type\n"}));
}

TEST_F(Dispatch, ClassDotInvokeChecksArgumentsAndMissesSilently) {
  DebugCapture capture;
  int marker = 0;
  KQSValue out;
  KQSValue args[] = {KQSValue(4.0)};
  EXPECT_EQ(cls->ClassDotInvoke(Thread(marker), KQSValue("Open"), 1, args, out, nullptr), 0);
  EXPECT_EQ(Str(out.String()), "opened");
  EXPECT_EQ(seen.thread, Thread(marker));
  EXPECT_TRUE(args[0].IsInteger());  // coerced in place
  KQSValue two[] = {KQSValue(2), KQSValue(40)};
  EXPECT_EQ(cls->ClassDotInvoke(nullptr, Slot(2), 2, two, out, nullptr), 0);
  EXPECT_EQ(static_cast<long>(out), 42);
  KQSValue undefined[] = {KQSValue(2), KQSValue()};
  EXPECT_EQ(cls->ClassDotInvoke(nullptr, KQSValue("Sum"), 2, undefined, out, nullptr), 0);
  EXPECT_TRUE(out.IsUndefined());
  out = KQSValue(42);
  EXPECT_EQ(cls->ClassDotInvoke(nullptr, KQSValue("Sum"), 1, two, out, nullptr), kWrongCount);
  KQSValue text[] = {KQSValue("x")};
  EXPECT_EQ(cls->ClassDotInvoke(nullptr, KQSValue("Open"), 1, text, out, nullptr), kWrongType);
  EXPECT_EQ(cls->ClassDotInvoke(nullptr, KQSValue("Closing"), 0, nullptr, out, nullptr), kNoFunctor);
  EXPECT_EQ(cls->ClassDotInvoke(nullptr, KQSValue("version"), 0, nullptr, out, nullptr), 0);  // inherited
  EXPECT_EQ(cls->ClassDotInvoke(nullptr, KQSValue("Deposit"), 1, args, out, nullptr), kNotFound);
  EXPECT_EQ(cls->ClassDotInvoke(nullptr, Slot(9), 0, nullptr, out, nullptr), kNotFound);
  EXPECT_EQ(capture.Texts(), (Lines{"KQSClass_Slot::CheckArguments..sig == 0\n",
                                    "KQSClass::ClassDotInvoke...No Functor for Closing\n"}));
}

// ===== IsFeature and Features =====

TEST_F(Dispatch, IsFeatureSeesAttributesAndMethodsWithInheritance) {
  DebugCapture capture;
  EXPECT_TRUE(cls->IsFeature(&account, KQSValue("balance")));
  EXPECT_TRUE(cls->IsFeature(&account, KQSValue("DEPOSIT")));
  EXPECT_TRUE(cls->IsFeature(&account, KQSValue("Owner")));  // inherited attribute
  EXPECT_TRUE(Value().IsFeature(KQSValue("audit")));         // inherited method
  EXPECT_FALSE(cls->IsFeature(&account, KQSValue("Count")));  // class features are not
  EXPECT_FALSE(cls->IsFeature(&account, KQSValue("Open")));
  EXPECT_FALSE(cls->IsFeature(&account, KQSValue("Limit")));
  EXPECT_FALSE(cls->IsFeature(&account, KQSValue(1)));
  EXPECT_EQ(capture.All(), "");
  EXPECT_FALSE(cls->IsFeature(&account, Slot(0)));
  EXPECT_EQ(capture.All(), "FIXME...KQSClass::IsFeature( " + Streamed(Slot(0)) + " ) is not supported for kSlotIndex\n");
}

TEST_F(Dispatch, FeaturesListsOwnMethodsThenAttributes) {
  const KQSValue names = Value().Features();
  std::vector<std::string> got;
  for (long i = 1; i <= names.ListEntries(); ++i) got.push_back(Str(names.ListGetValue(i).String()));
  EXPECT_EQ(got, (Lines{"Deposit", "Describe", "Strict", "Lenient", "Free", "Broken", "Failing", "Spread", "Peer",
                        "Balance", "Locked", "Nothing"}));
  HostClass plain("Plain");
  const KQSValue none = plain.Features(nullptr);
  EXPECT_TRUE(none.IsList());
  EXPECT_EQ(none.ListEntries(), 0);
}

// ===== built-in classes keep their own behaviour =====

TEST(BuiltinDispatch, ImmediateClassesHaveNoFeatures) {
  DebugCapture capture;
  KQSValue out(1);
  const KQSValue i(5);
  EXPECT_EQ(i.Dot(KQSValue("x"), out, nullptr), kNotFound);
  EXPECT_EQ(i.DotValuePut(KQSValue("x"), KQSValue(1)), kNotFound);
  EXPECT_FALSE(i.IsFeature(KQSValue("x")));
  EXPECT_EQ(i.Features().ListEntries(), 0);
  EXPECT_EQ(capture.Texts(), (Lines{"KQSClass::DotValuePut...no such slot=" + Streamed(KQSValue("x")) + "\n"}));
}

}  // namespace
