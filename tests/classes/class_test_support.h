// Shared helpers of the class and registry tests: class objects with their
// protected setters opened up, recording class and implementation loaders,
// and a keep-alive list.
//
// Registered class objects must outlive every environment that points at
// them and must never be deleted once installed (their destructor reports
// that), so the tests leak them into Keep(), which a global pointer keeps
// reachable for the leak checker.
#ifndef VXKERNEL_TESTS_CLASSES_CLASS_TEST_SUPPORT_H_
#define VXKERNEL_TESTS_CLASSES_CLASS_TEST_SUPPORT_H_

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassImplLoader.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/values/KQSValue.h"

namespace classes_test {

// Objects that live until the process ends, reachable from a global.
inline std::vector<const void*>& Kept() {
  static auto* kept = new std::vector<const void*>;
  return *kept;
}
template <class T>
T* Keep(T* p) {
  Kept().push_back(p);
  return p;
}

// A plain class object whose identity the tests may change.
class TestClass : public KQSClass {
 public:
  TestClass() = default;
  TestClass(const char* name, short number) : KQSClass(name, number) {}
  using KQSClass::ClassName;
  using KQSClass::ClassNumber;
  using KQSClass::ImplPut;
  using KQSClass::ImplReflectionOnly;
};

// A class that lives until the process ends.
inline TestClass* Named(const char* name, short number) {
  return Keep(new TestClass(name, number));
}

// A reflection prototype of the given implementation kind.
inline KQSClassReflection* Prototype(const char* name, short number, long implType) {
  auto* p = Keep(new KQSClassReflection());
  p->ClassName(name);
  p->ClassNumber(number);
  static const char kImage[] = {'i', 'm'};
  p->ImplPut(implType, sizeof kImage, kImage);
  return p;
}

// A host class loader that records what it is asked and answers from a
// table; it flags its own destruction, as the environment owns it.
class RecordingLoader : public KOPPClassLoader {
 public:
  explicit RecordingLoader(bool* destroyed = nullptr) : fDestroyed(destroyed) {}
  ~RecordingLoader() override {
    if (fDestroyed != nullptr) *fDestroyed = true;
  }
  const KQSClass* LoadClassByName(const char* name) override {
    fAsked.emplace_back(name);
    auto it = fAnswers.find(name);
    return it == fAnswers.end() ? nullptr : it->second;
  }
  bool LoadXLateModule(const char* name, KQSValue& out) override {
    fAsked.push_back(std::string("xlate:") + name);
    out = KQSValue(42);
    return true;
  }
  bool LoadSource(const char* name, KString& out) override {
    fAsked.push_back(std::string("source:") + name);
    out = KString("source of ") + name;
    return true;
  }

  std::vector<std::string> fAsked;
  std::map<std::string, const KQSClass*> fAnswers;

 private:
  bool* fDestroyed;
};

// An implementation loader that records its calls and answers as told:
// a new class named and numbered like the prototype, the installed class
// itself (an in-place update), or nothing.
class BuildingLoader : public KQSClassImplLoader {
 public:
  enum Mode { kNewClass, kInPlace, kNothing };

  KQSClass* LoadClassFromImpl(KOPPEnvironment* environment, const KQSClass* installed,
                              const KQSClass* prototype) override {
    ++fCalls;
    fEnvironment = environment;
    fInstalled = installed;
    fPrototype = prototype;
    switch (fMode) {
      case kNewClass:
        fBuilt = Keep(new TestClass(prototype->ClassName(), prototype->ClassNumber()));
        return fBuilt;
      case kInPlace:
        return const_cast<KQSClass*>(installed);
      case kNothing:
        break;
    }
    return nullptr;
  }
  void Reset(Mode mode) {
    fMode = mode;
    fCalls = 0;
    fEnvironment = nullptr;
    fInstalled = nullptr;
    fPrototype = nullptr;
    fBuilt = nullptr;
  }

  Mode fMode = kNewClass;
  int fCalls = 0;
  KOPPEnvironment* fEnvironment = nullptr;
  const KQSClass* fInstalled = nullptr;
  const KQSClass* fPrototype = nullptr;
  KQSClass* fBuilt = nullptr;
};

using Lines = std::vector<std::string>;

inline std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
inline std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace classes_test

#endif  // VXKERNEL_TESTS_CLASSES_CLASS_TEST_SUPPORT_H_
