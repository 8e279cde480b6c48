// KTimestamp arithmetic and KSleep.
#include "vxkernel/threads/KTimestamp.h"

#include <gtest/gtest.h>

#include "threads/threads_test_util.h"
#include "vxkernel/threads/KSleep.h"

namespace {

// Counter microseconds from a to b (the counters' low 32 bits suffice).
uint32_t CounterSpan(const KTimestamp& a, const KTimestamp& b) {
  return static_cast<uint32_t>(b.Microseconds() - a.Microseconds());
}

// A stamp taken once the counter has moved at least us past from's.
KTimestamp StampAfter(const KTimestamp& from, uint32_t us) {
  KTimestamp t;
  while (CounterSpan(from, t) < us) t = KTimestamp::Now();
  return t;
}

TEST(KTimestamp, NowIsTheSystemClockInMillisecondsAndOrderIgnoresTheCounter) {
  using namespace std::chrono;
  const auto before = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  KTimestamp now;
  const auto after = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  EXPECT_LE(before, now._Milliseconds());
  EXPECT_LE(now._Milliseconds(), after);
  EXPECT_EQ(now.MilliCounter(), static_cast<unsigned long>(now._Milliseconds() & 0xFFFFFFFF));
  // Order uses the wall milliseconds only; equality also the counter.
  const KTimestamp wallOnly(static_cast<unsigned long>(now._Milliseconds()));
  EXPECT_FALSE(now < wallOnly);
  EXPECT_FALSE(now > wallOnly);
  EXPECT_FALSE(now == wallOnly);
  KTimestamp t(1000000000LL, 250);
  EXPECT_EQ(t._Milliseconds(), 1000000000250LL);
  EXPECT_EQ(t.Seconds(), 1000000000LL);
  EXPECT_EQ(t.Milliseconds(), 250);
  EXPECT_DOUBLE_EQ(KTimestamp(1500UL).Duration(), 1.5);
  EXPECT_TRUE(KTimestamp(5, 0) == KTimestamp(5000UL));
  EXPECT_TRUE(KTimestamp(4999UL) < KTimestamp(5, 0));
  KTimestamp sum = KTimestamp(2, 600) + KTimestamp(1, 700);
  EXPECT_EQ(sum._Milliseconds(), 4300);
  sum += KTimestamp(701UL);
  EXPECT_EQ(sum._Milliseconds(), 5001);
}

// A difference takes its fraction of a second from the counter (a changed wall value
// leaves it alone), unless the counters are equal or the counter goes negative.
TEST(KTimestamp, WhereADifferenceTakesItsFractionFrom) {
  for (uint32_t span : {1500u, 4000u, 27000u}) {
    const KTimestamp a = KTimestamp::Now();
    const KTimestamp b = StampAfter(a, span);
    const long fraction = static_cast<long>(CounterSpan(a, b) % 1000000 / 1000);
    KTimestamp d = b - a;
    EXPECT_EQ(d.Milliseconds(), fraction) << span;
    d._Milliseconds() = 7999;
    EXPECT_DOUBLE_EQ(d.Duration(), 7 + fraction / 1000.0) << span;
    d -= StampAfter(b, 1000) - a;
    d._Milliseconds() = 3456;
    EXPECT_EQ(d.Milliseconds(), 456);
  }
  const KTimestamp a = KTimestamp::Now();
  KTimestamp b = a;  // equal counters
  b._Milliseconds() += 1234;
  EXPECT_DOUBLE_EQ((b - a).Duration(), 1.234);
  EXPECT_EQ((KTimestamp(3, 900) - KTimestamp(1, 100)).Milliseconds(), 800);
}

// Deadline on the wall clock, measure on the steady one: a generous lower bound only.
TEST(KSleep, UntilAndItsLimits) {
  // Not in the future, or too far.
  EXPECT_FALSE(KSleep::Until(FromNow(-10)));
  EXPECT_FALSE(KSleep::Until(KTimestamp::Now()));
  EXPECT_FALSE(KSleep::Until(FromNow(4294967295LL + 10)));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(KSleep::Until(FromNow(100)));
  EXPECT_GE(ElapsedMs(start), 50);
  EXPECT_TRUE(KSleep::Seconds(0));
  EXPECT_TRUE(KSleep::Milliseconds(1));
}

}  // namespace
