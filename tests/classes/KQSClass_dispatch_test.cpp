// Feature dispatch as one table: entry point, feature and arguments against
// status, result, arguments after the call, functors run and debug lines.

#include "classes/class_test_support.h"
#include "vxkernel/classes/KQSValueBaseClass.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

using namespace classes_test;

constexpr long kNotFound = 0x26AD000F, kWrongCount = 0x26AD0017, kWrongType = 0x26AD0018,
               kNoFunctor = 0x26AD0033;

struct Account { int id; long balance; };

// Shows its instances as "Account#<id>", the receiver in the debug lines.
struct AccountClass : TestClass {
  using TestClass::TestClass;
  std::ostream& FormattedOutput(void* data, std::ostream& out, KQSClassFormatter*) const override {
    return out << ClassName() << '#' << static_cast<Account*>(data)->id;
  }
};

KQSValue Slot(long position) { return KQSValue(short{-131}, position); }
KQSValue S(const char* s) { return KQSValue(s); }

enum Op { kDot, kInvoke, kPut, kClassDot, kClassInvoke, kClassPut };

// The call in progress, which the functors check what they are handed against.
struct Call { KThread* thread; long argc; KQSValue* argv; const KQSValue* value; std::string ran; };

// "Account" extends "AccountBase"; SetUpTestSuite lists their features by
// position, holes included (methods 5 and attributes 1).
class Dispatch : public ::testing::Test {
 protected:
  using Body = std::function<KQSValue(KQSClass_env&, const KQSValue*)>;
  // Logs the functor's name ("=value" for a write, "!" if handed wrong) and runs the body.
  static KQSValue Ran(const char* name, const KQSClass* c, KQSClass_env& ctx, bool ok, const KQSValue* v,
                      const Body& body, const KQSValue* arg) {
    ok = ok && c == cls && ctx.Thread() == call.thread && ctx.Status() == 0;
    call.ran += std::string(call.ran.empty() ? "" : " ") + name + (v ? "=" + Streamed(*v) : "") + (ok ? "" : "!");
    return body(ctx, arg);
  }
  static void Method(TestClass* to, const char* name, const char* sig, long at, Body body) {
    to->AddMethod(name, sig, new MethodFn([=](const KQSClass* c, KQSClass_env& ctx, void* data, long argc, KQSValue* argv) {
      return Ran(name, c, ctx, data == &account && argc == call.argc && argv == call.argv, nullptr, body, argv);
    }), at, 1, true);
  }
  static void ClassMethod(TestClass* to, const char* name, const char* sig, long at, Body body) {
    to->AddClassMethod(name, sig, new ClassMethodFn([=](const KQSClass* c, KQSClass_env& ctx, long argc, KQSValue* argv) {
      return Ran(name, c, ctx, argc == call.argc && argv == call.argv, nullptr, body, argv);
    }), at, 1, true);
  }
  static void Attribute(TestClass* to, const char* name, long at, Body body) {
    to->AddAttribute(name, "Integer", new AttributeFn([=](const KQSClass* c, KQSClass_env& ctx, void* data, const KQSValue* v) {
      return Ran(name, c, ctx, data == &account && v == call.value, v, body, v);
    }), at, 1, true);
  }
  static void ClassAttribute(TestClass* to, const char* name, long at, Body body) {
    to->AddClassAttribute(name, "Integer", new ClassAttributeFn([=](const KQSClass* c, KQSClass_env& ctx, const KQSValue* v) {
      return Ran(name, c, ctx, v == call.value, v, body, v);
    }), at, 1, true);
  }
  static Body Gives(const KQSValue& v, long status = 0) {
    return [=](KQSClass_env& ctx, const KQSValue*) { ctx.Status(status); return v; };
  }


  static void SetUpTestSuite() {
    auto* base = Keep(new TestClass("AccountBase"));
    cls = Keep(new AccountClass("Account"));
    ASSERT_TRUE(KQSValue::ProcessEnvironment()->AddClass(base));
    ASSERT_TRUE(KQSValue::ProcessEnvironment()->AddClass(cls));
    Method(base, "Audit", "String()", -1, Gives(S("audited")));
    Attribute(base, "Owner", -1, Gives(S("bank")));
    ClassMethod(base, "Version", "Integer()", -1, Gives(KQSValue(3)));
    ClassAttribute(base, "Bank", -1, Gives(S("central")));
    cls->AddExtends("AccountBase");
    Method(cls, "Deposit", "Integer(Integer)", 0,
           [](KQSClass_env&, const KQSValue* argv) { return KQSValue(account.balance += static_cast<long>(argv[0])); });
    Method(cls, "Describe", "String([String])", 1, Gives(S("described")));
    Method(cls, "Strict", "<A>Integer(Integer,Real)", 2, Gives(KQSValue(1)));
    Method(cls, "Lenient", "<EU>Integer(Integer,Integer)", 3, Gives(KQSValue(2)));
    Method(cls, "Free", nullptr, 4, Gives(KQSValue(3)));
    cls->AddMethod("Broken", "Integer()", nullptr, 6, 1, false);
    Method(cls, "Failing", "Integer()", 7, Gives(S("partial"), 0x12345));
    Method(cls, "Spread", "Integer(Integer,...)", 8, Gives(KQSValue(4)));
    Attribute(cls, "Balance", 0, [](KQSClass_env&, const KQSValue* v) {
      if (v != nullptr) account.balance = static_cast<long>(*v);
      return KQSValue(account.balance);
    });
    Attribute(cls, "Locked", 2, Gives(KQSValue(9), 0x777));
    cls->AddAttribute("Nothing", "Integer", nullptr, 3, 1, false);
    ClassMethod(cls, "Open", "Account(Integer)", 0, Gives(S("opened")));
    cls->AddClassMethod("Closing", nullptr, nullptr, 1, 1, false);
    ClassMethod(cls, "Sum", "<A>Integer(Integer,Integer)", 2,
                [](KQSClass_env&, const KQSValue* argv) { return KQSValue(static_cast<long>(argv[0]) + static_cast<long>(argv[1])); });
    ClassAttribute(cls, "Count", 0, [](KQSClass_env& ctx, const KQSValue* v) {
      if (v != nullptr) ctx.Status((counter = static_cast<long>(*v)) < 0 ? 0x55 : 0);
      return KQSValue(counter);
    });
    cls->AddClassAttribute("Rate", "Real", nullptr, 1, 1, false);
    cls->AddConstant("Limit", KQSValue(100), 0, 1);
  }

  static KQSValue Value() { return KQSValue(cls, &account); }

  static inline AccountClass* cls;
  static inline Account account{1, 10};
  static inline long counter = 5;
  static inline Call call;
};

// args: for a write, the value; out "-1": untouched; after: the arguments
// after the call (nullptr: as given).
struct Row { Op op; KQSValue name; std::vector<KQSValue> args; long status; const char *out, *after, *ran; Lines lines; };

TEST_F(Dispatch, EveryEntryPointAgreesWithTheTable) {
  const KQSValue u, slot1 = Slot(1);
  const std::string kInst = "KQSClass::Dot( Account#1.";
  const std::string delegatedA = " ) delegated to class attribute\n", delegatedM = " ) delegated to class method\n";
  const std::string kSig0 = "KQSClass_Slot::CheckArguments..sig == 0\n";
  const Row rows[] = {
      // Dot: attributes by name (any case), inherited
      {kDot, S("balance"), {}, 0, "10", nullptr, "Balance", {}},
      {kDot, S("owner"), {}, 0, "'bank'", nullptr, "Owner", {}},
      // ... then class attributes (by position here), with a line; misses leave out alone
      {kDot, S("bank"), {}, 0, "'central'", nullptr, "Bank", {kInst + "'bank'" + delegatedA}},
      {kDot, slot1, {}, kNoFunctor, "-1", nullptr, "", {kInst + Streamed(slot1) + delegatedA, "KQSClass::Dot...No Functor for Rate\n"}},
      {kDot, Slot(-1), {}, kNotFound, "-1", nullptr, "", {}},
      // DotInvoke: methods with checked arguments, coerced in place
      {kInvoke, S("deposit"), {KQSValue(5)}, 0, "15", nullptr, "Deposit", {}},
      {kInvoke, Slot(1), {}, 0, "'described'", nullptr, "Describe", {}},
      {kInvoke, S("AUDIT"), {}, 0, "'audited'", nullptr, "Audit", {}},
      {kInvoke, S("Strict"), {KQSValue(2.75), KQSValue(3)}, 0, "1", "{2,G3}", "Strict", {}},
      {kInvoke, S("Strict"), {S("x"), KQSValue(3)}, kWrongType, "-1", "{'x',G3}", "", {}},
      {kInvoke, S("Deposit"), {KQSValue::Error(9)}, kWrongType, "-1", nullptr, "", {}},
      {kInvoke, S("Strict"), {u, KQSValue(2)}, 0, "?", nullptr, "", {}},  // AutoUndefined
      {kInvoke, S("Lenient"), {u, KQSValue::Error(3)}, 0, "2", nullptr, "Lenient", {}},
      {kInvoke, S("Spread"), {KQSValue(1), S("a"), KQSValue(2.5)}, 0, "4", nullptr, "Spread", {}},
      {kInvoke, S("Free"), {S("x"), u}, 0, "3", nullptr, "Free", {kSig0}},
      {kInvoke, Slot(6), {}, kNoFunctor, "-1", nullptr, "", {"KQSClass::DotInvoke...No Functor for Broken\n"}},
      {kInvoke, S("Failing"), {}, 0x12345, "'partial'", nullptr, "Failing", {}},
      // ... then class methods, unchecked, with a line
      {kInvoke, S("open"), {S("x"), KQSValue(2)}, 0, "'opened'", nullptr, "Open", {"KQSClass::DotInvoke( Account#1.'open'" + delegatedM}},
      {kInvoke, S("Missing"), {}, kNotFound, "-1", nullptr, "", {}},
      // DotValuePut: attributes only
      {kPut, S("Balance"), {KQSValue(7)}, 0, "-1", nullptr, "Balance=7", {}},
      {kPut, S("Locked"), {KQSValue(1)}, 0x777, "-1", nullptr, "Locked=1", {}},
      {kPut, S("Nothing"), {KQSValue(7)}, kNoFunctor, "-1", nullptr, "", {"KQSClass::DotValuePut...No Functor for Nothing\n"}},
      {kPut, S("Count"), {KQSValue(7)}, kNotFound, "-1", nullptr, "", {"KQSClass::DotValuePut...no such slot='Count'\n"}},
      {kPut, KQSValue(2.5), {KQSValue(7)}, kNotFound, "-1", nullptr, "", {"KQSClass::DotValuePut( Account#1.G2.5 ) unknown feature type\n"}},
      // the class operations, with the caller's thread
      {kClassDot, S("bank"), {}, 0, "'central'", nullptr, "Bank", {}},
      {kClassPut, Slot(0), {KQSValue(-1)}, 0x55, "-1", nullptr, "Count=-1", {}},
      {kClassPut, u, {KQSValue(9)}, kNotFound, "-1", nullptr, "", {"KQSClass::ClassDotValuePut( Account.? ) unknown feature type\n"}},
      {kClassInvoke, Slot(2), {KQSValue(2), KQSValue(40)}, 0, "42", nullptr, "Sum", {}},
      {kClassInvoke, S("Sum"), {KQSValue(2)}, kWrongCount, "-1", nullptr, "", {}},
      {kClassInvoke, S("Closing"), {}, kNoFunctor, "-1", nullptr, "", {kSig0, "KQSClass::ClassDotInvoke...No Functor for Closing\n"}},
      {kClassInvoke, S("version"), {}, 0, "3", nullptr, "Version", {}},
      {kClassInvoke, S("Deposit"), {KQSValue(5)}, kNotFound, "-1", nullptr, "", {}},
  };
  int marker = 0;
  auto listed = [](const std::vector<KQSValue>& v) {
    KQSValue l = KQSValue::List();
    for (const KQSValue& e : v) l.ListAppendValue(e);
    return Streamed(l);
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Streamed(r.name) + " op " + std::to_string(r.op));
    account.balance = 10;
    counter = 5;
    std::vector<KQSValue> args = r.args;
    KQSValue out(-1);
    call = {r.op >= kClassDot ? reinterpret_cast<KThread*>(&marker) : nullptr, static_cast<long>(args.size()),
            args.empty() ? nullptr : args.data(), r.op == kPut || r.op == kClassPut ? &args[0] : nullptr, ""};
    DebugCapture capture;
    long status = -1;
    switch (r.op) {
      case kDot: status = cls->Dot(&account, r.name, out, nullptr); break;
      case kInvoke: status = cls->DotInvoke(&account, r.name, call.argc, call.argv, out, nullptr); break;
      case kPut: status = cls->DotValuePut(&account, r.name, args[0]); break;
      case kClassDot: status = cls->ClassDot(call.thread, r.name, out, nullptr); break;
      case kClassInvoke: status = cls->ClassDotInvoke(call.thread, r.name, call.argc, call.argv, out, nullptr); break;
      case kClassPut: status = cls->ClassDotValuePut(call.thread, r.name, args[0]); break;
    }
    EXPECT_EQ(status, r.status);
    EXPECT_EQ(Streamed(out), r.out);
    EXPECT_EQ(listed(args), r.after != nullptr ? r.after : listed(r.args));
    EXPECT_EQ(call.ran, r.ran);
    EXPECT_EQ(capture.Texts(), r.lines);
  }
}

// Values forward to their class; IsFeature and Features see instance features.
TEST_F(Dispatch, ValuesForwardToTheClass) {
  KQSValue out, args[] = {KQSValue(5)};
  account.balance = 10;
  call = {nullptr, 1, args, nullptr, ""};
  EXPECT_EQ(Value().DotInvoke(S("deposit"), 1, args, out, nullptr), 0);
  EXPECT_EQ(Value().DotInvoke(S("Missing"), 0, nullptr, out, nullptr), kNotFound);
  EXPECT_EQ(Streamed(out), Streamed(KQSValue::Error(kNotFound)));
  EXPECT_EQ(call.ran, "Deposit");
  EXPECT_EQ(account.balance, 15);
  ExpectDebug(Lines(2, "FIXME...KQSClass::IsFeature( " + Streamed(Slot(0)) + " ) is not supported for kSlotIndex\n"), [] {
    for (const char* name : {"balance", "DEPOSIT", "Owner", "audit"}) EXPECT_TRUE(Value().IsFeature(S(name))) << name;
    for (const KQSValue& v : {S("Count"), S("Open"), S("Limit"), KQSValue(1), Slot(0), KQSValue(5)}) {
      EXPECT_FALSE(Value().IsFeature(v)) << Streamed(v);
      EXPECT_FALSE(KQSValue(5).IsFeature(v)) << Streamed(v);
    }
  });
  EXPECT_EQ(Streamed(Value().Features()),  // own methods, then own attributes, in position order
            "{'Deposit','Describe','Strict','Lenient','Free','Broken','Failing','Spread','Balance','Locked','Nothing'}");
  EXPECT_EQ(KQSValue(5).Features().ListEntries(), 0);
  EXPECT_EQ(KQSValue(5).Dot(S("Balance"), out, nullptr), kNotFound);
}

// Storage classes: a String naming an attribute of the class reaches the
// storage as an Integer holding the attribute's position; any other name
// (or any name while the class has no attributes) reaches it unchanged.
struct NameSeen : KQSValueBase {
  KQSValue seen;
  long Dot(const KQSValue& name, KQSValue&, KQSValue*) override { return seen = name, 0; }
  long DotValuePut(const KQSValue& name, const KQSValue&) override { return seen = name, 0; }
};
struct StoredClass : KQSValueBaseClass {
  using KQSValueBaseClass::KQSValueBaseClass;
  using KQSClass::AddAttribute;
};

TEST(StorageDispatch, AttributeNamesReachTheStorageAsPositions) {
  auto* c = Keep(new StoredClass("Stored", KQSClass::kNoClassNumber));
  auto* storage = new NameSeen;
  const KQSValue value(c, storage);
  KQSValue out;
  c->Dot(storage, S("size"), out, nullptr);
  EXPECT_EQ(Streamed(storage->seen), Streamed(S("size")));  // no attributes yet
  c->AddAttribute("Size", "Integer", nullptr, 3, 1, false);
  const struct { Op op; KQSValue name; std::string seen; } rows[] = {
      {kDot, S("size"), "3"},
      {kPut, S("SIZE"), "3"},
      {kInvoke, S("Size"), "3"},
      {kDot, S("colour"), Streamed(S("colour"))},
      {kDot, Slot(3), Streamed(Slot(3))},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(Streamed(r.name) + " op " + std::to_string(r.op));
    storage->seen = KQSValue();
    if (r.op == kDot) c->Dot(storage, r.name, out, nullptr);
    if (r.op == kPut) c->DotValuePut(storage, r.name, KQSValue(1));
    if (r.op == kInvoke) c->DotInvoke(storage, r.name, 0, nullptr, out, nullptr);
    EXPECT_EQ(storage->seen.Type(), r.seen == "3" ? 2 : r.name.Type());
    EXPECT_EQ(Streamed(storage->seen), r.seen);
  }
}

}  // namespace
