// Small helpers shared by the threads tests.
#ifndef VXKERNEL_TESTS_THREADS_THREADS_TEST_UTIL_H_
#define VXKERNEL_TESTS_THREADS_THREADS_TEST_UTIL_H_

#include <chrono>
#include <thread>

// Polls condition until it holds or 10 s pass; returns its last value. Tests
// wait for observable states (a thread counted as waiting) instead of
// sleeping for a guessed time; the limit only stops a broken test.
template <class Condition>
bool EventuallyTrue(Condition condition) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Milliseconds elapsed since start.
inline long ElapsedMs(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
          .count());
}

#endif  // VXKERNEL_TESTS_THREADS_THREADS_TEST_UTIL_H_
