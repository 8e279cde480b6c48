// Shared helpers of the class tests (one source per program; this starts the
// process): an open class, functors, text forms, and a class image encoder.
#ifndef VXKERNEL_TESTS_CLASSES_CLASS_TEST_SUPPORT_H_
#define VXKERNEL_TESTS_CLASSES_CLASS_TEST_SUPPORT_H_

#include <atomic>
#include <cctype>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/debug_capture.h"
#include "support/started_process.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/values/KQSValue.h"

namespace classes_test {

using Lines = std::vector<std::string>;

template <class T>
T* Keep(T* p) {  // alive until the process ends
  static auto* kept = new std::vector<const void*>;
  return kept->push_back(p), p;
}

// A class whose identity and features the tests set directly.
struct TestClass : KQSClass {
  TestClass() = default;
  explicit TestClass(const char* name, short number = kNoClassNumber) : KQSClass(name, number) {}
  using KQSClass::AddAttribute, KQSClass::AddClassAttribute, KQSClass::AddClassMethod, KQSClass::AddConstant,
      KQSClass::AddExtends, KQSClass::AddImplements, KQSClass::AddMethod, KQSClass::ClassName, KQSClass::ClassNumber,
      KQSClass::ImplPut, KQSClass::ImplReflectionOnly, KQSClass::ResetClassDefinition;
};

// Runs body(t) on n threads started together (or one after the other).
template <class Body>
void OnThreads(int n, Body body, bool together = true) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < n; ++t) {
    threads.emplace_back([&, t] {
      KAt::ThreadStartup();
      ready.fetch_add(1);
      while (together && ready.load() < n) std::this_thread::yield();
      body(t);
      KAt::ThreadShutdown();
    });
    if (!together) threads.back().join();
  }
  for (std::thread& th : threads)
    if (th.joinable()) th.join();
}

inline TestClass* Named(const char* name, short number) { return Keep(new TestClass(name, number)); }
inline KQSClassReflection* Named(KQSClassReflection* c, const char* name, short number) {
  c->ClassName(name);
  c->ClassNumber(number);
  return c;
}

// A functor around a std::function; *live counts the functors alive.
template <class Base, class Signature>
class Fn;
template <class Base, class R, class... Args>
class Fn<Base, R(Args...)> : public Base {
 public:
  explicit Fn(std::function<R(Args...)> body, int* live = nullptr) : fBody(std::move(body)), fLive(live) { Count(1); }
  ~Fn() override { Count(-1); }
  R operator()(Args... args) override { return fBody(args...); }

 private:
  void Count(int d) { if (fLive != nullptr) *fLive += d; }
  std::function<R(Args...)> fBody;
  int* fLive;
};
using MethodFn =
    Fn<KQSClass_MethodFunctor, KQSValue(const KQSClass*, KQSClass_env&, void*, long, KQSValue*)>;
using ClassMethodFn =
    Fn<KQSClass_ClassMethodFunctor, KQSValue(const KQSClass*, KQSClass_env&, long, KQSValue*)>;
using AttributeFn = Fn<KQSClass_AttributeFunctor,
                       KQSValue(const KQSClass*, KQSClass_env&, void*, const KQSValue*)>;
using ClassAttributeFn =
    Fn<KQSClass_ClassAttributeFunctor, KQSValue(const KQSClass*, KQSClass_env&, const KQSValue*)>;

// The classes of a list from Classes(), which it deletes (1-based, bounded).
inline std::vector<const KQSClass*> Listed(TArray<const KQSClass*>* list) {
  std::vector<const KQSClass*> classes;
  if (list->GetAt(0) != nullptr || list->GetAt(list->Count() + 1) != nullptr) classes.push_back(nullptr);
  for (unsigned long i = 1; i <= list->Count(); ++i) classes.push_back(list->GetAt(i));
  delete list;
  return classes;
}

inline std::string Str(const KString& s) { return std::string(static_cast<const char*>(s), s.Length()); }
// What operator<< writes for a value.
inline std::string Streamed(const KQSValue& v) {
  std::ostringstream out;
  out << v;
  return out.str();
}
inline std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Class image bytes, built field by field.
struct Image {
  std::string b;
  Image& I4(int64_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF));
    return *this;
  }
  Image& Str(const std::string& s) {  // a 16-bit count with the NUL, or ff ff and a 32-bit one
    const size_t n = s.size() + 1;
    if (n > 32767) {
      Raw("\xFF\xFF").I4(static_cast<int64_t>(n));
    } else {
      Raw({static_cast<char>(n & 0xFF), static_cast<char>(n >> 8)});
    }
    return Raw(s).Raw(std::string(1, '\0'));
  }
  Image& Raw(const std::string& s) { b += s; return *this; }
  Image& Header(const std::string& name, int number, int implType, const std::string& impl) {
    return I4(2).I4(0xDEADBEEF).Str(name).I4(number).I4(implType).I4(static_cast<int64_t>(impl.size())).Raw(impl);
  }
  Image& Zeros(int n) { return n == 0 ? *this : I4(0).Zeros(n - 1); }  // n empty tables
  Image& Feature(int index, const std::string& name, const std::string& sig) { return I4(index).Str(name).I4(1).Str(sig); }
  Image& Constant(int index, const std::string& name, const std::string& text) {
    return I4(index).Str(name).I4(1).Str("").Raw(text);
  }
  KQSValue Value() const { return KQSValue::NewBytesValue(b.data(), static_cast<long>(b.size())); }
};

inline std::string BytesOf(const KQSValue& v) {
  return v.IsType(-6) ? std::string(reinterpret_cast<const char*>(v.Bytes()), static_cast<size_t>(v.Length())) : "<not Bytes>";
}

}  // namespace classes_test

#endif  // VXKERNEL_TESTS_CLASSES_CLASS_TEST_SUPPORT_H_
