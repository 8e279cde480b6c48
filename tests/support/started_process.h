// Runs the library's start-up rings once for a test program, so that the
// value package has registered the built-in classes before any test runs.
// Include it from exactly one source file of a test executable.
#ifndef VXKERNEL_TESTS_SUPPORT_STARTED_PROCESS_H_
#define VXKERNEL_TESTS_SUPPORT_STARTED_PROCESS_H_

#include <gtest/gtest.h>

#include "vxkernel/runtime/KAt.h"

class StartedProcess : public ::testing::Environment {
 public:
  void SetUp() override { KAt::ProcessStartup(1); }
};

inline ::testing::Environment* const gStartedProcess =
    ::testing::AddGlobalTestEnvironment(new StartedProcess);

#endif  // VXKERNEL_TESTS_SUPPORT_STARTED_PROCESS_H_
