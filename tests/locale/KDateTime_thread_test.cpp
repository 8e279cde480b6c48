// KDateTime's per-locale name cache, used by threads in different locales at once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/locale/KLocale.h"
#include "vxkernel/runtime/KAt.h"

namespace {

// The catalogue has no texts yet: every locale falls back to English. Each
// round switches locale, so the last-used entry of the cache keeps changing.
TEST(KDateTimeThreads, NamesOfManyLocalesAtOnce) {
  KAt::ProcessStartup(1);
  const char* locales[] = {"en_US", "de_DE", "fr_FR_EURO", "ja"};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      KAt::ThreadStartup();
      KDateTime t;
      t.SetDate(1970, 1, 1, 12);
      char buf[64];
      for (int round = 0; round < 2000; ++round) {
        KLocale::CurrentLocale(locales[(i + round) % 4]);
        t.strftime(buf, sizeof buf - 1, "%A %b %p %P");
        wrong += std::string(buf) != "Thursday Jan PM AD";
      }
      KAt::ThreadShutdown();
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
  KAt::ProcessShutdown(1);
}

}  // namespace
