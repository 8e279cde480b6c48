// Small helpers shared by the threads tests.
#ifndef VXKERNEL_TESTS_THREADS_THREADS_TEST_UTIL_H_
#define VXKERNEL_TESTS_THREADS_THREADS_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "vxkernel/threads/KTimestamp.h"

// Polls condition until it holds or a minute passes (a limit for broken tests
// only); returns its last value. Tests wait for such observable states.
template <class Condition>
bool EventuallyTrue(Condition condition) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!condition() && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

// Runs body(t) for t = 0 .. n - 1 on n threads at once and waits for all.
template <class Body>
void OnThreads(int n, Body body) {
  std::vector<std::jthread> threads;
  for (int t = 0; t < n; ++t) threads.emplace_back(body, t);
}

inline KTimestamp FromNow(long long ms) {  // the current time plus ms milliseconds
  KTimestamp t;
  t._Milliseconds() += ms;
  return t;
}

inline long ElapsedMs(std::chrono::steady_clock::time_point start) {
  using namespace std::chrono;
  return static_cast<long>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}

// Plays a scenario of words, each a holder's name (r: a reader, w: a writer,
// then a digit) and a step: "+" starts its thread and waits until it holds
// the lock, "?" starts it and waits until the lock counts one more waiting
// thread, "!" waits until it holds the lock, "." expects it not to, "-"
// lets it unlock and waits until it has. take(write) locks (0: taken),
// give(write) unlocks, waiting() counts the lock's waiting threads.
template <class Take, class Give, class Waiting>
void PlayScenario(const std::string& scenario, Take take, Give give, Waiting waiting) {
  struct Holder {
    std::atomic<bool> in{false}, out{false}, release{false};
    std::atomic<long> result{-1};
    std::jthread thread;
  };
  struct Holders : std::map<std::string, Holder> {
    ~Holders() {  // whatever failed, let all go before the threads are joined
      for (auto& h : *this) h.second.release = true;
    }
  } holders;
  std::istringstream words(scenario);
  for (std::string word; words >> word;) {
    SCOPED_TRACE(word);
    const char step = word.back();
    const bool write = word[0] == 'w';
    const long before = waiting();
    Holder& h = holders[word.substr(0, word.size() - 1)];
    if (step == '+' || step == '?') {
      h.thread = std::jthread([&h, &take, &give, write] {
        h.result = take(write);
        h.in = true;
        while (!h.release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        give(write);
        h.out = true;
      });
    }
    const bool ok = step == '?'   ? EventuallyTrue([&] { return waiting() == before + 1; })
                    : step == '.' ? !h.in
                    : step == '-' ? (h.release = true, EventuallyTrue([&] { return h.out.load(); }))
                                  : EventuallyTrue([&] { return h.in.load(); }) && h.result == 0;
    ASSERT_TRUE(ok);
  }
}

#endif  // VXKERNEL_TESTS_THREADS_THREADS_TEST_UTIL_H_
