// KTimestamp arithmetic and KSleep.
#include "vxkernel/threads/KTimestamp.h"

#include <gtest/gtest.h>

#include <chrono>

#include "threads/threads_test_util.h"
#include "vxkernel/threads/KSleep.h"

namespace {

TEST(KTimestamp, NowAgreesWithTheSystemClock) {
  const auto before = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  KTimestamp now;
  const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  EXPECT_GE(now._Milliseconds(), before);
  EXPECT_LE(now._Milliseconds(), after);
  EXPECT_GT(now.Microseconds() + 0ULL, 0ULL);
  EXPECT_EQ(now.MilliCounter(), static_cast<unsigned long>(now._Milliseconds() & 0xFFFFFFFF));
}

TEST(KTimestamp, ConstructedValuesAndComparisons) {
  // 2001-09-09T01:46:40Z is 1e9 s after the epoch (python3: datetime(2001,9,9,1,46,40,
  // tzinfo=timezone.utc).timestamp()).
  KTimestamp t(1000000000LL, 250);
  EXPECT_EQ(t._Milliseconds(), 1000000000250LL);
  EXPECT_EQ(t.Seconds(), 1000000000LL);
  EXPECT_EQ(t.Milliseconds(), 250);
  EXPECT_DOUBLE_EQ(KTimestamp(1500UL).Duration(), 1.5);
  EXPECT_EQ(KTimestamp(5, 0), KTimestamp(5000UL));
  EXPECT_LT(KTimestamp(4999UL), KTimestamp(5, 0));
  EXPECT_GE(KTimestamp(5, 1), KTimestamp(5, 0));

  // Order uses the wall milliseconds only; equality also the counter.
  KTimestamp now = KTimestamp::Now();
  KTimestamp wallOnly(0UL);
  wallOnly._Milliseconds() = now._Milliseconds();
  EXPECT_FALSE(now < wallOnly);
  EXPECT_FALSE(now > wallOnly);
  EXPECT_NE(now, wallOnly);

  KTimestamp sum = KTimestamp(2, 600) + KTimestamp(1, 700);
  EXPECT_EQ(sum._Milliseconds(), 4300);
  sum += KTimestamp(700UL);
  EXPECT_EQ(sum.Seconds(), 5);
}

TEST(KTimestamp, DifferenceOfStampsUsesTheCounterForTheFraction) {
  KTimestamp start = KTimestamp::Now();
  KSleep::Milliseconds(1500);
  KTimestamp elapsed = KTimestamp::Now() - start;
  EXPECT_EQ(elapsed.Seconds(), 1);
  EXPECT_NEAR(elapsed.Duration(), 1.5, 0.2);
  // The flag is now false: the fraction comes from the counter, so a
  // changed wall value leaves it alone.
  const long fraction = elapsed.Milliseconds();
  elapsed._Milliseconds() = 7777;
  EXPECT_EQ(elapsed.Milliseconds(), fraction);
  EXPECT_EQ(elapsed.Seconds(), 7);
}

TEST(KTimestamp, SubtractionFlagRules) {
  KTimestamp a = KTimestamp::Now();
  KTimestamp b = a;
  b._Milliseconds() += 1234;

  // Equal counters: the flag stays true and the fraction is the wall's.
  KTimestamp d = b - a;
  EXPECT_EQ(d.Milliseconds(), 234);
  EXPECT_DOUBLE_EQ(d.Duration(), 1.234);

  // A positive counter difference turns the flag false; a later subtraction
  // that drives the counter negative turns it true again.
  KSleep::Milliseconds(5);
  KTimestamp later = KTimestamp::Now();
  KSleep::Milliseconds(5);
  KTimestamp latest = KTimestamp::Now();
  KTimestamp shortSpan = later - a;
  shortSpan._Milliseconds() = 3456;
  EXPECT_NE(shortSpan.Milliseconds(), 456);  // from the counter: about 5 ms
  shortSpan -= latest - a;
  shortSpan._Milliseconds() = 3456;
  EXPECT_EQ(shortSpan.Milliseconds(), 456);

  // Constructed values carry no counter: always the wall's fraction.
  KTimestamp c = KTimestamp(3, 900) - KTimestamp(1, 100);
  EXPECT_EQ(c.Seconds(), 2);
  EXPECT_EQ(c.Milliseconds(), 800);
}

TEST(KSleep, UntilAndItsLimits) {
  auto start = std::chrono::steady_clock::now();
  KTimestamp past = KTimestamp::Now();
  past._Milliseconds() -= 10;
  EXPECT_FALSE(KSleep::Until(past));
  EXPECT_FALSE(KSleep::Until(KTimestamp::Now() - KTimestamp(0UL)));  // not in the future
  KTimestamp far = KTimestamp::Now();
  far._Milliseconds() += 4294967295LL + 10;
  EXPECT_FALSE(KSleep::Until(far));
  EXPECT_LT(ElapsedMs(start), 500);

  KTimestamp soon = KTimestamp::Now();
  soon._Milliseconds() += 100;
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(KSleep::Until(soon));
  EXPECT_GE(ElapsedMs(start), 80);
  EXPECT_TRUE(KSleep::Seconds(0));
  EXPECT_TRUE(KSleep::Milliseconds(1));
}

}  // namespace
