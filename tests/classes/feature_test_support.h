// Helpers of the feature-table and dispatch tests: a host class whose
// feature-building operations are opened up, and functors of the four kinds
// that run a test's lambda, count their calls and report their destruction.
#ifndef VXKERNEL_TESTS_CLASSES_FEATURE_TEST_SUPPORT_H_
#define VXKERNEL_TESTS_CLASSES_FEATURE_TEST_SUPPORT_H_

#include <functional>
#include <sstream>
#include <string>
#include <utility>

#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/values/KQSValue.h"

namespace features_test {

// A class defined by the host: the tests add its features directly.
class HostClass : public KQSClass {
 public:
  explicit HostClass(const char* name, short number = kNoClassNumber) : KQSClass(name, number) {}
  using KQSClass::AddAttribute;
  using KQSClass::AddClassAttribute;
  using KQSClass::AddClassMethod;
  using KQSClass::AddConstant;
  using KQSClass::AddExtends;
  using KQSClass::AddImplements;
  using KQSClass::AddMethod;
  using KQSClass::ImplPut;
  using KQSClass::ResetClassDefinition;
};

// One functor kind around a std::function; counts calls and sets *destroyed
// when it dies (slots that own it destroy it).
template <class Base, class Signature>
class Fn;

template <class Base, class R, class... Args>
class Fn<Base, R(Args...)> : public Base {
 public:
  using Body = std::function<R(Args...)>;
  explicit Fn(Body body, bool* destroyed = nullptr) : fBody(std::move(body)), fDestroyed(destroyed) {}
  ~Fn() override {
    if (fDestroyed != nullptr) *fDestroyed = true;
  }
  R operator()(Args... args) override {
    ++fCalls;
    return fBody(args...);
  }
  int fCalls = 0;

 private:
  Body fBody;
  bool* fDestroyed;
};

using MethodFn = Fn<KQSClass_MethodFunctor, KQSValue(const KQSClass*, KQSClass_env&, void*, long, KQSValue*)>;
using ClassMethodFn = Fn<KQSClass_ClassMethodFunctor, KQSValue(const KQSClass*, KQSClass_env&, long, KQSValue*)>;
using AttributeFn = Fn<KQSClass_AttributeFunctor, KQSValue(const KQSClass*, KQSClass_env&, void*, const KQSValue*)>;
using ClassAttributeFn = Fn<KQSClass_ClassAttributeFunctor, KQSValue(const KQSClass*, KQSClass_env&, const KQSValue*)>;

// A functor body that returns a fixed value.
template <class F>
typename F::Body Returns(const KQSValue& v) {
  return [v](auto&&...) { return v; };
}

inline std::string Str(const KString& s) { return std::string(static_cast<const char*>(s), s.Length()); }

// What operator<< writes for a value.
inline std::string Streamed(const KQSValue& v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

}  // namespace features_test

#endif  // VXKERNEL_TESTS_CLASSES_FEATURE_TEST_SUPPORT_H_
