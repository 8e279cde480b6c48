#include "base/debug_line.h"
#include "base/run_reported.h"

#include <atomic>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

namespace vxk_internal {

namespace {

// Constant-initialised, so a line written by any static constructor finds
// either no sink or the installed one, never an unconstructed object.
std::atomic<DebugSink> gSink{nullptr};

}  // namespace

void SetDebugSink(DebugSink sink) noexcept { gSink.store(sink, std::memory_order_release); }

void DebugWrite(std::string_view text) noexcept {
  DebugSink sink = gSink.load(std::memory_order_acquire);
  if (sink == nullptr) return;
  try {
    sink(text.data(), text.size());
  } catch (...) {
    // A sink that cannot take the text (no memory) loses it; the caller's
    // failure is still reported through its result.
  }
}

const char* DescribeCurrentException() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (const std::length_error&) {
    return "out of memory";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an exception of unknown type";
  }
}

void DebugFormatFailed(const char* operation) noexcept {
  // Built on the stack: this runs when the heap has just refused.
  char line[256];
  size_t n = 0;
  auto put = [&](const char* s) {
    const size_t k = std::strlen(s);
    const size_t room = sizeof line - 1 - n;
    const size_t take = k < room ? k : room;
    std::memcpy(line + n, s, take);
    n += take;
  };
  if (operation != nullptr) {
    put(operation);
    put(" - ");
  }
  put("(out of memory while formatting this line)\n");
  DebugWrite(std::string_view(line, n));
}

}  // namespace vxk_internal
