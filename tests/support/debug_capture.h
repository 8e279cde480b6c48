// Collects what the library writes to the debug stream while it lives.
#ifndef VXKERNEL_TESTS_SUPPORT_DEBUG_CAPTURE_H_
#define VXKERNEL_TESTS_SUPPORT_DEBUG_CAPTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/dbgstrm_internal.h"
#include "vxkernel/threads/KMutex.h"

class DebugCapture {
 public:
  DebugCapture() { vxk_internal::DbgstrmSetPrinter(&DebugCapture::Collect, this); }
  ~DebugCapture() { vxk_internal::DbgstrmSetPrinter(nullptr, nullptr); }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  // Every printed text, in order, one entry per dbgstrm_print call.
  std::vector<std::string> Texts() const {
    KLockGuard g(fMutex);
    return fTexts;
  }
  // All printed texts joined.
  std::string All() const {
    std::string all;
    for (const std::string& t : Texts()) all += t;
    return all;
  }
  void Clear() {
    KLockGuard g(fMutex);
    fTexts.clear();
  }

 private:
  static void Collect(const char* text, size_t n, void* datum) {
    auto* self = static_cast<DebugCapture*>(datum);
    KLockGuard g(self->fMutex);
    self->fTexts.emplace_back(text, n);
  }

  mutable KMutex fMutex;
  std::vector<std::string> fTexts VXK_GUARDED_BY(fMutex);
};

// Runs body and expects it to write exactly texts to the debug stream, one
// entry per text, in order (each failure of the library writes one text).
template <class Body>
void ExpectDebug(const std::vector<std::string>& texts, Body body) {
  DebugCapture capture;
  body();
  EXPECT_EQ(capture.Texts(), texts);
}

#endif  // VXKERNEL_TESTS_SUPPORT_DEBUG_CAPTURE_H_
