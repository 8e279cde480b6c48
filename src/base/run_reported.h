// Running a step that must not throw into its caller.
//
// The library's own start-up and shut-down participants use it: the rings
// pass a participant's exception on to the host, while the library's
// failures are results and debug lines, never exceptions.
//
// Thread rule: safe from any thread.
#ifndef VXKERNEL_BASE_RUN_REPORTED_H_
#define VXKERNEL_BASE_RUN_REPORTED_H_

#include "base/debug_line.h"

namespace vxk_internal {

// Call only from a catch handler: what the exception being handled is
// ("out of memory" for std::bad_alloc and std::length_error, else what()).
const char* DescribeCurrentException() noexcept;

// Runs body; an exception it throws is written as one line "operation -
// what" and goes no further.
template <class Body>
void RunReported(const char* operation, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    DebugLine(operation, DescribeCurrentException());
  }
}

}  // namespace vxk_internal

#endif  // VXKERNEL_BASE_RUN_REPORTED_H_
