// Feature dispatch on a host class with 24 methods and 8 attributes, names
// of 4 to 14 mixed-case letters: DotInvoke by String name (one Integer
// argument checked against "Integer(Integer)"), by SlotIndex, and Dot of an
// attribute by name, against a peer that does what a plain C++ registry
// would: fold the name into a std::string with toupper, look it up in a
// std::unordered_map and call the same functor through a virtual call.
// Names are made before timing and probed in a fixed random order.
#include <benchmark/benchmark.h>

#include <cctype>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "started_main.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/values/KQSValue.h"

namespace {

constexpr int kMethods = 24;
constexpr int kAttributes = 8;
constexpr size_t kProbes = 1024;

class AddOne : public KQSClass_MethodFunctor {
 public:
  KQSValue operator()(const KQSClass*, KQSClass_env&, void*, long argc, KQSValue* argv) override {
    return argc > 0 ? KQSValue(static_cast<long>(argv[0]) + 1) : KQSValue();
  }
};

class Constant : public KQSClass_AttributeFunctor {
 public:
  KQSValue operator()(const KQSClass*, KQSClass_env&, void*, const KQSValue*) override { return KQSValue(7); }
};

class BenchClass : public KQSClass {
 public:
  BenchClass() : KQSClass("BenchHost", kNoClassNumber) {}
  using KQSClass::AddAttribute;
  using KQSClass::AddMethod;
};

struct Fixture {
  BenchClass cls;
  AddOne addOne;
  Constant constant;
  std::vector<std::string> methodNames, attributeNames;
  std::vector<KQSValue> methodProbes, slotProbes, attributeProbes;
  std::vector<std::string> peerProbes;
  std::unordered_map<std::string, KQSClass_MethodFunctor*> peer;

  Fixture() {
    std::mt19937 rng(7);
    auto name = [&] {
      std::string s;
      const int n = 4 + static_cast<int>(rng() % 11);
      for (int i = 0; i < n; ++i) {
        const char c = static_cast<char>('a' + rng() % 26);
        s += rng() % 2 ? static_cast<char>(std::toupper(c)) : c;
      }
      return s;
    };
    for (int i = 0; i < kMethods; ++i) {
      methodNames.push_back(name() + std::to_string(i));
      cls.AddMethod(methodNames.back().c_str(), "Integer(Integer)", &addOne, -1, 1, false);
      peer[Upper(methodNames.back())] = &addOne;
    }
    for (int i = 0; i < kAttributes; ++i) {
      attributeNames.push_back(name() + std::to_string(i));
      cls.AddAttribute(attributeNames.back().c_str(), "Integer", &constant, -1, 1, false);
    }
    for (size_t i = 0; i < kProbes; ++i) {
      const size_t m = rng() % kMethods;
      methodProbes.emplace_back(methodNames[m].c_str());
      peerProbes.push_back(methodNames[m]);
      slotProbes.emplace_back(static_cast<short>(-131), static_cast<long>(m));
      attributeProbes.emplace_back(attributeNames[rng() % kAttributes].c_str());
    }
  }

  static std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }
};

Fixture& TheFixture() {
  static Fixture* f = new Fixture;
  return *f;
}

// Calls lookup(fixture, probe, out) over the probes in turn.
template <class Lookup>
void TimeProbes(benchmark::State& state, const std::vector<KQSValue>& probes, Lookup lookup) {
  Fixture& f = TheFixture();
  size_t i = 0;
  for (auto _ : state) {
    KQSValue out;
    benchmark::DoNotOptimize(lookup(f, probes[i++ % kProbes], out));
    benchmark::DoNotOptimize(out);
  }
}

long Invoke(Fixture& f, const KQSValue& name, KQSValue& out) {
  KQSValue arg(41);
  return f.cls.DotInvoke(nullptr, name, 1, &arg, out, nullptr);
}

void BM_DotInvokeByName(benchmark::State& state) { TimeProbes(state, TheFixture().methodProbes, Invoke); }
BENCHMARK(BM_DotInvokeByName);

void BM_DotInvokeBySlotIndex(benchmark::State& state) { TimeProbes(state, TheFixture().slotProbes, Invoke); }
BENCHMARK(BM_DotInvokeBySlotIndex);

void BM_DotAttributeByName(benchmark::State& state) {
  TimeProbes(state, TheFixture().attributeProbes,
             [](Fixture& f, const KQSValue& name, KQSValue& out) { return f.cls.Dot(nullptr, name, out, nullptr); });
}
BENCHMARK(BM_DotAttributeByName);

void BM_PeerInvokeByName(benchmark::State& state) {
  Fixture& f = TheFixture();
  size_t i = 0;
  for (auto _ : state) {
    KQSValue arg(41), out;
    const std::string key = Fixture::Upper(f.peerProbes[i++ % kProbes]);
    auto it = f.peer.find(key);
    if (it != f.peer.end()) {
      KQSClass_env ctx(nullptr);
      out = (*it->second)(&f.cls, ctx, nullptr, 1, &arg);
    }
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_PeerInvokeByName);

}  // namespace
