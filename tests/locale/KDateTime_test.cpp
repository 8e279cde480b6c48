// KDateTime: fields, calendar arithmetic, names, formatting, parsing and the
// weekly schedule.
#include "vxkernel/locale/KDateTime.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <string>

#include "support/child_process.h"
#include "support/debug_capture.h"

namespace {

KDateTime Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  KDateTime t;
  t.SetDate(y, mo, d, h, mi, s, ms);
  return t;
}

std::string Fields(const KDateTime& t) {
  char buf[64];
  snprintf(buf, sizeof buf, "%d-%d-%d %d:%d:%d.%d", t.Year(), t.Month(), t.Day(), t.Hour(),
           t.Minute(), t.Second(), t.Milliseconds());
  return buf;
}

std::string Format(const KDateTime& t, const char* fmt, unsigned long size = 200) {
  char buf[256];
  std::memset(buf, 'x', sizeof buf);
  const unsigned long n = t.strftime(buf, size, fmt);
  EXPECT_EQ(n, std::strlen(buf));
  EXPECT_LE(n, size);
  return buf;
}

int CurrentYear() {
  KDateTime now;
  now.Now();
  return now.Year();
}

// ===== Fields and validity =====

TEST(KDateTimeFields, DefaultIsAllZeroAndEverythingStaysInBounds) {
  KDateTime t;
  EXPECT_EQ(Fields(t), "0-0-0 0:0:0.0");
  EXPECT_FALSE(t.CheckValidity());
  EXPECT_EQ(t.Date(), 0);
  EXPECT_EQ(t.DaysInMonth(), 0);
  EXPECT_EQ(std::string(t.FullMonth()), "");
  EXPECT_EQ(std::string(t.ShortMonth()), "");
  // Month 0 prints no month name; the rest keeps its width.
  EXPECT_EQ(Format(t, "[%B|%b|%m|%d|%Y|%y]"), "[||00|00|0001|01]");
  // Out-of-range fields of every sign must not index any table.
  for (int v : {-128, -1, 13, 32, 127}) {
    KDateTime u = Make(2020, 1, 1);
    u.Month(v);
    u.Day(v);
    u.Hour(v);
    EXPECT_EQ(u.Date(), 0);
    EXPECT_FALSE(u.CheckValidity());
    EXPECT_EQ(Format(u, "%A%a%B%b%p%P%j%w%I").size() > 0, true);
  }
}

TEST(KDateTimeFields, SetDateStoresDateAsGivenAndReducesTimeKeepingSign) {
  KDateTime t;
  t.SetDate(2020, 2, 30, 25, 61, -61, 1500);
  EXPECT_EQ(Fields(t), "2020-2-30 1:1:-1.500");
  EXPECT_FALSE(t.CheckValidity());
  t.SetTime(-25, 59, 59, -999);
  EXPECT_EQ(Fields(t), "2020-2-30 -1:59:59.-999");
  // Setters cut to the field's width.
  t.Year(70000);
  EXPECT_EQ(t.Year(), 70000 - 65536);
  KDateTime copy(t);
  EXPECT_TRUE(copy == t);
  EXPECT_EQ(copy.Compare(t), 0);
}

TEST(KDateTimeFields, ValidityFollowsTheGregorianLeapRule) {
  // Years from 1 on are checked against Python in the oracle test.
  EXPECT_TRUE(Make(0, 2, 29).CheckValidity());      // 1 BC is a leap year
  EXPECT_FALSE(Make(-100, 2, 29).CheckValidity());  // 101 BC is not
  EXPECT_TRUE(Make(-4, 2, 29).CheckValidity());
  KDateTime late = Make(2001, 1, 1);
  late.Milliseconds(1000);  // SetDate would reduce it to 0
  EXPECT_FALSE(late.CheckValidity());
  EXPECT_TRUE(Make(2001, 12, 31, 23, 59, 59, 999).CheckValidity());

  EXPECT_TRUE(KDateTime::IsLeapYear(1900, 'J'));
  EXPECT_FALSE(KDateTime::IsLeapYear(1900, 'G'));
  EXPECT_EQ(KDateTime::AccessDaysPerMonth(2100)[2], 28);

  EXPECT_EQ(KDateTime::Floor(-7, 2), -4);
  EXPECT_EQ(KDateTime::Floor(7, -2), -4);
  EXPECT_EQ(KDateTime::Floor(LONG_MIN, -1), LONG_MIN);
  EXPECT_EQ(KDateTime::Floor(5, 0), 0);
}

// ===== Day numbers =====

// The formula written out with floor divisions, as the reference for years
// at or below 0 (Python's date stops at year 1).
long ReferenceDayNumber(long year, int month, int day) {
  const long y = year - 1;
  long n = y * 365 + KDateTime::Floor(y, 4) - KDateTime::Floor(y, 100) + KDateTime::Floor(y, 400);
  const int* lengths = KDateTime::AccessDaysPerMonth(year);
  for (int m = 1; m < month; ++m) n += lengths[m];
  return n + day - 577736;
}

TEST(KDateTimeDays, EveryDayOfThe16BitRangeFollowsItsPredecessor) {
  // Walks all 24 million days of years -32768..32767: each day number must
  // give the calendar successor of the previous one and map back to itself.
  const long first = ReferenceDayNumber(-32768, 1, 1);
  const long last = ReferenceDayNumber(32767, 12, 31);
  KDateTime t = Make(1999, 5, 5, 7, 8, 9, 10);
  t.Date(first);
  ASSERT_EQ(Fields(t), "-32768-1-1 7:8:9.10");  // setting the day keeps the time
  int y = -32768, m = 1, d = 1;
  for (long n = first + 1; n <= last; ++n) {
    if (++d > KDateTime::AccessDaysPerMonth(y)[m]) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
        // Year starts checked against the written-out formula.
        ASSERT_EQ(n, ReferenceDayNumber(y, 1, 1)) << y;
      }
    }
    t.Date(n);
    if (t.Year() != y || t.Month() != m || t.Day() != d || t.Date() != n) {
      FAIL() << "day " << n << " gave " << Fields(t) << ", expected " << y << "-" << m << "-" << d;
    }
  }
  EXPECT_EQ(y, 32767);
}

TEST(KDateTimeDays, HugeDayNumbersGiveValidDatesWithWrappedYears) {
  for (long n : {LONG_MAX, LONG_MIN, LONG_MAX - 146097, LONG_MIN + 146097, 1L << 29, (1L << 29) + 1,
                 -12557996L, -12557995L}) {
    KDateTime a, b;
    a.Date(n);
    a.SetTime(0, 0);
    EXPECT_TRUE(a.CheckValidity()) << n;
    // 400 years later (or earlier) is the same month and day.
    const long other = n > 0 ? n - 146097 : n + 146097;
    b.Date(other);
    EXPECT_EQ(a.Month(), b.Month());
    EXPECT_EQ(a.Day(), b.Day());
    EXPECT_EQ(static_cast<uint16_t>(a.Year() - b.Year()),
              static_cast<uint16_t>(n > 0 ? 400 : -400));
  }
  KDateTime t = Make(2000, 1, 1);
  t.AddDays(LONG_MAX);  // wraps, must stay well-defined
  EXPECT_TRUE(t.CheckValidity());
}

// ===== Arithmetic =====

TEST(KDateTimeArithmetic, AddMovesAcrossDaysBothWays) {
  KDateTime t = Make(2009, 3, 1, 0, 0, 0, 500);
  t.Add(-1);
  EXPECT_EQ(Fields(t), "2009-2-28 23:59:59.0");
  t = Make(2009, 3, 1);
  t.Add(-(3 * 86400 + 1));
  EXPECT_EQ(Fields(t), "2009-2-25 23:59:59.0");
  // Difference undoes Add for any amount (Add itself is checked against
  // Python in the oracle test).
  const KDateTime base = Make(1999, 12, 31, 13, 14, 15);
  for (long s : {0L, 1L, -1L, 86399L, -86401L, 1000000007L, -1000000007L, 40L * 365 * 86400}) {
    KDateTime moved = base;
    moved.Add(s);
    EXPECT_EQ(moved.Difference(base), s) << s;
    EXPECT_TRUE(moved.CheckValidity());
  }
  for (long s : {LONG_MIN, LONG_MAX}) {
    KDateTime extreme = base;
    extreme.Add(s);
    EXPECT_TRUE(extreme.CheckValidity());
  }
}

TEST(KDateTimeArithmetic, CompareOrdersFieldByField) {
  const KDateTime a = Make(2001, 5, 6, 7, 8, 9, 10);
  const KDateTime fieldsUp[] = {Make(2002, 5, 6, 7, 8, 9, 10), Make(2001, 6, 6, 7, 8, 9, 10),
                                Make(2001, 5, 7, 7, 8, 9, 10), Make(2001, 5, 6, 8, 8, 9, 10),
                                Make(2001, 5, 6, 7, 9, 9, 10), Make(2001, 5, 6, 7, 8, 10, 10),
                                Make(2001, 5, 6, 7, 8, 9, 11)};
  for (const KDateTime& b : fieldsUp) {
    EXPECT_EQ(a.Compare(b), -1) << Fields(b);
    EXPECT_EQ(b.Compare(a), 1) << Fields(b);
    EXPECT_FALSE(a == b);
  }
  // Year is compared first, even against later months.
  EXPECT_EQ(Make(2000, 12, 31).Compare(Make(2001, 1, 1)), -1);
  EXPECT_EQ(Make(-1, 12, 31).Compare(Make(0, 1, 1)), -1);
}

// ===== Names and strftime =====

TEST(KDateTimeNames, PeriodsAreExactAtMidnightAndNoon) {
  // Day and month names are checked against libc in the oracle test.
  EXPECT_EQ(std::string(Make(1970, 1, 1).FullDay()) + std::string(Make(2000, 9, 1).ShortMonth()),
            "ThursdaySep");
  EXPECT_EQ(Format(Make(2000, 1, 1, 0, 0, 0, 1), "%p"), "AM");
  EXPECT_EQ(Format(Make(2000, 1, 1, 11, 59, 59, 999), "%p"), "AM");
  EXPECT_EQ(Format(Make(2000, 1, 1, 12, 0, 0, 1), "%p"), "PM");
  EXPECT_EQ(std::string(Make(2000, 1, 1, 12).AMPM()), "PM");
  EXPECT_EQ(std::string(Make(0, 1, 1).ADBC()) + std::string(Make(1, 1, 1).ADBC()), "BCAD");
}

TEST(KDateTimeStrftime, ConversionsAndTheirWidths) {
  EXPECT_EQ(Format(Make(2009, 3, 7, 0, 5, 6), "%I %p"), "12 AM");
  EXPECT_EQ(Format(Make(2009, 3, 7, 12, 0, 0), "%I %p"), "12 PM");
  EXPECT_EQ(Format(Make(2009, 3, 7, 13, 0, 0), "%I %H"), "01 13");
  EXPECT_EQ(Format(Make(0, 3, 7), "%Y %P %y"), "0001 BC 01");
  EXPECT_EQ(Format(Make(-99, 3, 7), "%Y %P"), "0100 BC");
  EXPECT_EQ(Format(Make(12345, 3, 7), "%Y %y %P"), "2345 45 AD");
  EXPECT_EQ(Format(Make(2009, 1, 4), "%w %j %a %A %%"), "1 004 Sun Sunday %");
  EXPECT_EQ(Format(Make(2009, 1, 3), "%w"), "7");
  EXPECT_EQ(Format(Make(2009, 1, 3), "a%Qb%Ec"), "abc");  // unknown letters give nothing
  EXPECT_EQ(Format(Make(2009, 1, 3), "ab%"), "ab");       // a lone % ends the output
}

TEST(KDateTimeStrftime, AConversionThatDoesNotFitIsLeftOut) {
  const KDateTime t = Make(2009, 3, 7, 8, 9, 10);
  EXPECT_EQ(Format(t, "%Y", 3), "");
  EXPECT_EQ(Format(t, "ab%Ycd", 5), "abcd");
  EXPECT_EQ(Format(t, "%B%d", 4), "07");
  EXPECT_EQ(Format(t, "%d/%m/%Y", 6), "07/03/");
  EXPECT_EQ(Format(t, "%d/%m/%Y", 0), "");
  EXPECT_EQ(Format(t, "%d/%m/%Y", 10), "07/03/2009");

  DebugCapture capture;
  char buf[4] = "abc";
  EXPECT_EQ(t.strftime(buf, 3, nullptr), 0UL);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(t.strftime(nullptr, 3, "%Y"), 0UL);
  EXPECT_EQ(capture.Texts().size(), 2U);
  EXPECT_EQ(capture.Texts()[0].rfind("KDateTime::strftime - ", 0), 0U);
}

// ===== crkftime =====

class KDateTimeParse : public ::testing::Test {
 protected:
  // Parses into an object preset to a sentinel; returns its fields, or
  // "unchanged" when it failed and left the sentinel alone.
  std::string Parse(const char* text, const char* fmt) {
    KDateTime t = Make(1234, 5, 6, 7, 8, 9, 10);
    const KDateTime before = t;
    const size_t lines = capture.Texts().size();
    if (t.crkftime(text, fmt)) {
      EXPECT_EQ(capture.Texts().size(), lines);
      return Fields(t);
    }
    EXPECT_TRUE(t == before);
    EXPECT_EQ(capture.Texts().size(), lines + 1);
    return "unchanged";
  }
  DebugCapture capture;
};

TEST_F(KDateTimeParse, NumericFormats) {
  EXPECT_EQ(Parse("3/7/2009", "%m/%d/%Y"), "2009-3-7 0:0:0.0");
  const int century = CurrentYear() / 100 * 100;
  EXPECT_EQ(Parse("03/07/09", "%m/%d/%y"), std::to_string(century + 9) + "-3-7 0:0:0.0");
  EXPECT_EQ(Parse("13/01/2009", "%m/%d/%Y"), "unchanged");
  EXPECT_EQ(Parse("2009-03-07 23:59:58 and more", "%Y-%m-%d %H:%M:%S"), "2009-3-7 23:59:58.0");
  EXPECT_EQ(Parse("2009-03-07 1:59:58", "%Y-%m-%d %H:%M:%S"), "unchanged");  // %H needs two
  EXPECT_EQ(Parse("2009/03/07", "%Y-%m-%d"), "unchanged");                   // literal mismatch
  EXPECT_EQ(Parse("2009-03-", "%Y-%m-%d"), "unchanged");                     // text ends early
  EXPECT_EQ(Parse("50%", "%d%%"), "unchanged");                              // day 50
  EXPECT_EQ(Parse("5%", "%d%%"), std::to_string(CurrentYear()) + "-1-5 0:0:0.0");
}

TEST_F(KDateTimeParse, TwelveHourClockAndEra) {
  const std::string y = std::to_string(CurrentYear());
  EXPECT_EQ(Parse("12:30 PM", "%I:%M %p"), y + "-1-1 12:30:0.0");
  EXPECT_EQ(Parse("12:30 AM", "%I:%M %p"), y + "-1-1 0:30:0.0");
  EXPECT_EQ(Parse("01:30 pm", "%I:%M %p"), y + "-1-1 13:30:0.0");
  EXPECT_EQ(Parse("13:30 PM", "%H:%M %p"), "unchanged");
  EXPECT_EQ(Parse("13:30 AM", "%H:%M %p"), y + "-1-1 13:30:0.0");  // AM only changes 12
  EXPECT_EQ(Parse("0044 bc", "%Y %P"), "-43-1-1 0:0:0.0");
  EXPECT_EQ(Parse("0044 BC AD", "%Y %P %P"), "44-1-1 0:0:0.0");  // the era may repeat
}

TEST_F(KDateTimeParse, NamesAndRepeatedFields) {
  const std::string y = std::to_string(CurrentYear());
  EXPECT_EQ(Parse("Mar 7", "%b %d"), y + "-3-7 0:0:0.0");
  EXPECT_EQ(Parse("sat, 07 MARCH 2009", "%a, %d %B %Y"), "2009-3-7 0:0:0.0");
  EXPECT_EQ(Parse("Mayday 1", "%bday %d"), y + "-5-1 0:0:0.0");  // a prefix match
  EXPECT_EQ(Parse("Jux 1", "%b %d"), "unchanged");
  EXPECT_EQ(Parse("Xyz 7", "%a %d"), "unchanged");
  EXPECT_EQ(Parse("Mar 03", "%b %m"), "unchanged");  // month twice
  EXPECT_EQ(Parse("01 02", "%H %I"), "unchanged");
  EXPECT_EQ(Parse("2009 09", "%Y %y"), "unchanged");
  EXPECT_EQ(Parse("AM PM", "%p %p"), "unchanged");
  for (const char* fmt : {"%A", "%j", "%w", "%Q", "%"}) {
    EXPECT_EQ(Parse("Saturday", fmt), "unchanged") << fmt;
  }
  EXPECT_EQ(capture.Texts().back().rfind("KDateTime::crkftime - could not parse ", 0), 0U);
  KDateTime t;
  EXPECT_FALSE(t.crkftime(nullptr, "%Y"));
  EXPECT_FALSE(t.crkftime("2009", nullptr));
}

// ===== Weekly schedule =====

TEST(KDateTimeSchedule, StepsToTheNextScheduledSlot) {
  constexpr unsigned long kMonday = 1UL << 1;
  constexpr unsigned long kTen = 1UL << 10;
  constexpr unsigned long kSlots0and10 = (1UL << 0) | (1UL << 2);
  KDateTime t = Make(2009, 3, 9, 10, 7, 33);  // a Monday
  ASSERT_EQ(t.DayOfWeek(), 2);
  EXPECT_TRUE(t.SetNextTime(kMonday, kTen, kSlots0and10));
  EXPECT_EQ(Fields(t), "2009-3-9 10:10:0.0");
  t = Make(2009, 3, 9, 10, 12);
  EXPECT_TRUE(t.SetNextTime(kMonday, kTen, kSlots0and10));
  EXPECT_EQ(Fields(t), "2009-3-16 10:0:0.0");
  // Today's hour not scheduled: a later hour today, at the first slot.
  t = Make(2009, 3, 9, 8, 50);
  EXPECT_TRUE(t.SetNextTime(kMonday, kTen | (1UL << 9), kSlots0and10));
  EXPECT_EQ(Fields(t), "2009-3-9 9:0:0.0");
  // Today not scheduled: the next set day (Wednesday), first hour and slot.
  t = Make(2009, 3, 9, 8, 50);
  EXPECT_TRUE(t.SetNextTime((1UL << 3) | (1UL << 0), (1UL << 23) | (1UL << 4), 1UL << 11));
  EXPECT_EQ(Fields(t), "2009-3-11 4:55:0.0");
  // Saturday: wraps to Sunday of the next week.
  t = Make(2009, 3, 14, 23, 59);
  EXPECT_TRUE(t.SetNextTime(1UL << 0, 1UL << 0, 1UL << 0));
  EXPECT_EQ(Fields(t), "2009-3-15 0:0:0.0");

  DebugCapture capture;
  const KDateTime before = t;
  EXPECT_FALSE(t.SetNextTime(0, kTen, 1));
  EXPECT_FALSE(t.SetNextTime(kMonday, 1UL << 24, 1));  // only bits out of range
  EXPECT_FALSE(t.SetNextTime(kMonday, kTen, 0));
  EXPECT_TRUE(t == before);
  EXPECT_EQ(capture.Texts().size(), 3U);
}

// ===== System time =====

// Seconds since 1970 of fields taken as UTC, by day-number arithmetic.
long long UtcSeconds(const KDateTime& t) { return (t.Date() - 141427LL) * 86400 + t.Time(); }

TEST(KDateTimeSystime, UtcNowAndFailures) {
  using std::chrono::system_clock;
  KDateTime t;
  const long long before = system_clock::to_time_t(system_clock::now());
  t.GMNow();
  const long long after = system_clock::to_time_t(system_clock::now());
  EXPECT_GE(UtcSeconds(t), before);
  EXPECT_LE(UtcSeconds(t), after);
  EXPECT_EQ(t.Milliseconds(), 0);

  DebugCapture capture;
  const KDateTime kept = t;
  EXPECT_FALSE(t.Systime(LLONG_MAX, true));
  EXPECT_FALSE(t.Systime(LLONG_MIN, false));
  EXPECT_TRUE(t == kept);
  // A year past the 16-bit field is refused too.
  EXPECT_FALSE(t.Systime(40000LL * 366 * 86400, true));
  EXPECT_EQ(capture.Texts().size(), 3U);
}

TEST(KDateTimeSystime, LocalTimeFollowsTheTimeZone) {
  // TZ is process-global: each zone is tried in a child of its own.
  const ChildResult r = RunInChild([](std::string& out) {
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    tzset();
    KDateTime t(0L);
    out = Fields(t) + "|" + std::to_string(t.Systime());
    t.SetDate(2009, 7, 1, 12, 0, 0);  // daylight saving: UTC-4
    out += "|" + std::to_string(t.Systime());
    t.SetDate(2009, 1, 31, 24 + 1, 0, 0);  // hour 25 became 1: fields stay normalised
    out += "|" + std::to_string(t.Systime());
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "1969-12-31 19:0:0.0|0|" + std::to_string(1246464000LL) + "|" +
                          std::to_string(1233381600LL));
}

}  // namespace
