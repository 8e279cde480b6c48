// A whole start-up and shut-down cycle, then the leak checker: whatever the
// rings allocate is either freed or still reachable. Its own program, as the
// first shut-down of a process is final.
#include <gtest/gtest.h>

#ifdef VXK_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

#include "vxkernel/runtime/KAt.h"

namespace {

TEST(Lifecycle, AStartupAndShutdownCycleLeavesNothingUnreachable) {
#ifdef VXK_LEAK_CHECK
  KAt::ProcessStartup(1);
  KAt::ProcessShutdown(1);
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#else
  GTEST_SKIP() << "this build has no leak checker";
#endif
}

}  // namespace
