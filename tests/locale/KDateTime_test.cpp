// KDateTime where its oracle test cannot reach: years at or below 0 and past 9999, fields out
// of range, formats that do not fit, parse failures and defaults, the weekly schedule against
// a brute-force search, system time, the per-locale name cache under threads.
#include "vxkernel/locale/KDateTime.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/child_process.h"
#include "support/debug_capture.h"
#include "vxkernel/locale/KLocale.h"
#include "vxkernel/runtime/KAt.h"

namespace {

KDateTime Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  KDateTime t;
  return t.SetDate(y, mo, d, h, mi, s, ms), t;
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
  EXPECT_EQ(n, std::strlen(buf)) << fmt;
  EXPECT_LE(n, size) << fmt;
  return buf;
}

int CurrentYear() { KDateTime now; return now.Now(), now.Year(); }

TEST(KDateTimeFields, OutOfRangeFieldsAreInvalidAndIndexNoTable) {
  EXPECT_EQ(Format(KDateTime(), "[%B|%b|%m|%d|%Y|%y]"), "[||00|00|0001|01]");  // widths kept
  for (int v : {-128, -1, 0, 13, 32, 127}) {  // under ASan: no table is read out of bounds
    KDateTime u = Make(2020, 1, 1);
    u.Month(v), u.Day(v), u.Hour(v);
    EXPECT_FALSE(u.CheckValidity()) << v;
    EXPECT_EQ(u.Date(), 0) << v;
    EXPECT_EQ(u.DaysInMonth(), 0) << v;
    EXPECT_STREQ(u.FullMonth(), "") << v;
    EXPECT_STREQ(u.ShortMonth(), "") << v;
    Format(u, "%A%a%B%b%p%P%j%w%I");
  }
  KDateTime t = Make(2020, 2, 30, 25, 61, -61, 1500);  // the time is reduced keeping its sign
  EXPECT_EQ(Fields(t), "2020-2-30 1:1:-1.500");
  t.SetTime(-25, 59, 59, -999);
  t.Year(70000);  // setters cut to the field's width
  EXPECT_EQ(Fields(t), "4464-2-30 -1:59:59.-999");
  KDateTime last = Make(2001, 12, 31, 23, 59, 59, 999), over = last;
  over.Milliseconds(1000);
  EXPECT_TRUE(last.CheckValidity());
  EXPECT_FALSE(over.CheckValidity());
}

// Every day of years -32768..32767 succeeds the last by the Gregorian rules (year 0 is 1 BC,
// a leap year) and maps back; far beyond, years wrap.
TEST(KDateTimeDays, EveryDayOfThe16BitRangeFollowsItsPredecessorAndHugeNumbersWrap) {
  long n = -12546367;  // 1 January 32769 BC, 15 October 1582 being day 0
  KDateTime t = Make(1999, 5, 5, 7, 8, 9, 10);
  t.Date(n);
  ASSERT_EQ(Fields(t), "-32768-1-1 7:8:9.10");  // setting the day keeps the time
  auto length = [](int y, int m) {  // the month's days by the Gregorian rules
    const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
    return m == 2 ? 28 + leap : 30 + (m + m / 8) % 2;
  };
  for (int y = -32768, m = 1, d = 1; y < 32767 || m < 12 || d < 31;) {
    if (++d > length(y, m)) {
      d = 1;
      if (++m > 12) m = 1, ++y;
    }
    t.Date(++n);
    const bool lengthWrong = d == 1 && (t.DaysInMonth() != length(y, m) ||
                                        KDateTime::AccessDaysPerMonth(y)[m] != length(y, m));
    // One check per day for speed; the message names every field.
    if (t.Year() != y || t.Month() != m || t.Day() != d || t.Date() != n || lengthWrong)
      FAIL() << "day " << n << " gave " << Fields(t) << " (day " << t.Date() << ", " << t.DaysInMonth() << " and "
             << KDateTime::AccessDaysPerMonth(y)[m] << " days in the month), expected " << y << "-" << m << "-" << d
             << " (" << length(y, m) << " days)";
  }
  EXPECT_EQ(n, 11390164);
  // 400 years (146097 days) nearer day 0 lie the same month and day.
  for (long far : {LONG_MAX, LONG_MIN, LONG_MAX - 146097, LONG_MIN + 146097, 1L << 29,
                   (1L << 29) + 1, -12557996L, -12557995L}) {
    KDateTime a, b;
    a.Date(far), a.SetTime(0, 0), b.Date(far > 0 ? far - 146097 : far + 146097);
    EXPECT_TRUE(a.CheckValidity()) << far;
    EXPECT_EQ(a.Month(), b.Month()) << far;
    EXPECT_EQ(a.Day(), b.Day()) << far;
    EXPECT_EQ(static_cast<uint16_t>(a.Year() - b.Year()), static_cast<uint16_t>(far > 0 ? 400 : -400));
  }
  t = Make(2000, 1, 1);
  KDateTime u = Make(1999, 12, 31, 13, 14, 15), v = u;
  t.AddDays(LONG_MAX), u.Add(LONG_MIN), v.Add(LONG_MAX);  // wrap, well-defined
  EXPECT_TRUE(t.CheckValidity());
  EXPECT_TRUE(u.CheckValidity());
  EXPECT_TRUE(v.CheckValidity());
  EXPECT_TRUE(KDateTime::IsLeapYear(1900, 'J'));  // Julian
  EXPECT_FALSE(KDateTime::IsLeapYear(1901, 'J'));
  EXPECT_EQ(KDateTime::Floor(-7, 2), -4);
  EXPECT_EQ(KDateTime::Floor(7, -2), -4);
  EXPECT_EQ(KDateTime::Floor(LONG_MIN, -1), LONG_MIN);
  EXPECT_EQ(KDateTime::Floor(5, 0), 0);
}

TEST(KDateTimeArithmetic, AddDropsTheMillisecondsAndCompareGoesFieldByField) {
  KDateTime t = Make(2009, 3, 1, 0, 0, 0, 500);
  t.Add(-(3 * 86400 + 1));
  EXPECT_EQ(Fields(t), "2009-2-25 23:59:59.0");
  const KDateTime a = Make(1999, 12, 31, 13, 14, 15, 16);
  // Each is later in one field and earlier in all that follow.
  for (const KDateTime& b : {Make(2000, 1, 1), Make(1999, 12, 31, 14), Make(1999, 12, 31, 13, 15),
                             Make(1999, 12, 31, 13, 14, 16), Make(1999, 12, 31, 13, 14, 15, 17)}) {
    EXPECT_EQ(a.Compare(b), -1) << Fields(b);
    EXPECT_EQ(b.Compare(a), 1) << Fields(b);
    EXPECT_FALSE(a == b) << Fields(b);
  }
  EXPECT_TRUE(KDateTime(a) == a);
  EXPECT_EQ(a.Compare(a), 0);
}

// What libc formats otherwise or not at all; a conversion that does not fit is left out.
TEST(KDateTimeStrftime, ErasWeekdaysUnknownConversionsAndWhatDoesNotFit) {
  const KDateTime t = Make(2009, 3, 7, 8, 9, 10);
  const std::tuple<KDateTime, const char*, unsigned long, const char*> cases[] = {
      {Make(0, 3, 7), "%Y %P %y", 200, "0001 BC 01"},
      {Make(12345, 3, 7), "%Y %y %P", 200, "2345 45 AD"},
      {Make(2009, 1, 3), "%w", 200, "7"},      // Sunday is 1
      {t, "a%Qb%Ec", 200, "abc"},              // unknown letters give nothing
      {t, "ab%", 200, "ab"},                   // a lone % ends the output
      {t, "ab%Ycd", 5, "abcd"},
      {t, "%d/%m/%Y", 6, "07/03/"},
      {t, "%d/%m/%Y", 10, "07/03/2009"},
  };
  for (const auto& [when, fmt, size, text] : cases) EXPECT_EQ(Format(when, fmt, size), text) << fmt;
  std::string names;
  for (KString s : {Make(1970, 1, 1).FullDay(), Make(2000, 9, 1).ShortMonth(),
                    Make(2000, 1, 1, 12).AMPM(), Make(0, 1, 1).ADBC(), Make(1, 1, 1).ADBC()})
    names += s;
  EXPECT_EQ(names, "ThursdaySepPMBCAD");
  char buf[4] = "abc";
  ExpectDebug({"KDateTime::strftime - null format\n", "KDateTime::strftime - null buffer\n"}, [&] {
    EXPECT_EQ(t.strftime(buf, 3, nullptr), 0UL);
    EXPECT_EQ(t.strftime(nullptr, 3, "%Y"), 0UL);
  });
  EXPECT_STREQ(buf, "");
}

// The fields parsed into a preset time, the current year (read before and after) as "now";
// "-" when parsing failed, left it alone and wrote one line.
std::string Parse(const char* text, const char* fmt) {
  const KDateTime sentinel = Make(1234, 5, 6, 7, 8, 9, 10);
  KDateTime t = sentinel;
  DebugCapture capture;
  const int before = CurrentYear();
  const bool parsed = t.crkftime(text, fmt);
  const int after = CurrentYear();
  if (capture.Texts().size() != (parsed ? 0U : 1U)) return "lines: " + capture.All();
  if (!parsed) return t == sentinel ? "-" : "changed";
  std::string fields = Fields(t);
  if (t.Year() == before || t.Year() == after) fields.replace(0, fields.find('-'), "now");
  return fields;
}

TEST(KDateTimeParse, FieldsDefaultsAndFailures) {
  const char* cases[][3] = {
      {"2009-03-07 23:59:58 and more", "%Y-%m-%d %H:%M:%S", "2009-3-7 23:59:58.0"},
      {"5%", "%d%%", "now-1-5 0:0:0.0"},  // missing: this year, January, midnight
      {"13:30 AM", "%H:%M %p", "now-1-1 13:30:0.0"},  // AM changes only 12
      {"0044 BC AD", "%Y %P %P", "44-1-1 0:0:0.0"},  // the last era counts
      {"Mayday 1", "%bday %d", "now-5-1 0:0:0.0"},  // a name is a prefix
      {"50%", "%d%%", "-"},  // day 50
      {"2009-03-07 1:59:58", "%Y-%m-%d %H:%M:%S", "-"},  // %H needs two digits
      {"2009/03/07", "%Y-%m-%d", "-"},
      {"13:30 PM", "%H:%M %p", "-"},
      {"Xyz 7", "%a %d", "-"},
      {"Mar 03", "%b %m", "-"},  // a field twice
      {"Saturday", "%A", "-"},  // not read
      {"Saturday", "%", "-"},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c[0], c[1]), c[2]) << c[0] << " / " << c[1];
  KDateTime t;
  EXPECT_FALSE(t.crkftime(nullptr, "%Y"));
  EXPECT_FALSE(t.crkftime("2009", nullptr));
  ExpectDebug({"KDateTime::crkftime - could not parse \"Jux\" with format \"%b\": no month name\n"},
              [&] { EXPECT_FALSE(t.crkftime("Jux", "%b")); });
  const int century = CurrentYear() / 100 * 100;
  ASSERT_TRUE(t.crkftime("03/07/09", "%m/%d/%y"));  // the current century
  EXPECT_TRUE(t.Year() == century + 9 || t.Year() == CurrentYear() / 100 * 100 + 9) << t.Year();
}

// The first scheduled five-minute slot after t's, by trying those of the next eight days.
std::string NextSlot(KDateTime t, unsigned long days, unsigned long hours, unsigned long slots) {
  t.SetTime(t.Hour(), t.Minute() / 5 * 5, 0);
  for (int k = 0; k < 8 * 24 * 12; ++k) {
    t.Add(300);
    if ((days >> (t.DayOfWeek() - 1)) & (hours >> t.Hour()) & (slots >> (t.Minute() / 5)) & 1)
      return Fields(t);
  }
  return "none";
}

TEST(KDateTimeSchedule, StepsToTheNextScheduledSlotAsASearchFindsIt) {
  std::mt19937 rng(309);
  for (int i = 0; i < 400; ++i) {
    // Sparse masks, so that the next slot is often days away.
    const unsigned long days = (rng() & rng() & 0x7F) | 1UL << rng() % 7;
    const unsigned long hours = (rng() & rng() & rng() & 0xFFFFFF) | 1UL << rng() % 24;
    const unsigned long slots = (rng() & rng() & 0xFFF) | 1UL << rng() % 12;
    KDateTime t = Make(2009, 3, 1 + rng() % 31, rng() % 24, rng() % 60, rng() % 60);
    const std::string expected = NextSlot(t, days, hours, slots);
    ASSERT_TRUE(t.SetNextTime(days, hours | 1UL << 24, slots));  // bits past the hours ignored
    ASSERT_EQ(Fields(t), expected) << days << " " << hours << " " << slots;
  }
  KDateTime t = Make(2009, 3, 9, 10, 7, 33);
  DebugCapture capture;  // nothing scheduled: unchanged, one line each
  EXPECT_FALSE(t.SetNextTime(0, 1, 1));
  EXPECT_FALSE(t.SetNextTime(1, 1UL << 24, 1));
  EXPECT_FALSE(t.SetNextTime(1, 1, 0));
  EXPECT_EQ(Fields(t), "2009-3-9 10:7:33.0");
  EXPECT_EQ(capture.Texts().size(), 3u) << capture.All();
}

// Local time follows TZ (process-global: in a child); times past the 16-bit year fail.
TEST(KDateTimeSystime, LocalTimeFollowsTheTimeZoneUtcIsTheClocksAndFarTimesAreRefused) {
  EXPECT_EQ(ChildTranscript([](Transcript& transcript) {
              setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
              tzset();
              KDateTime t(0L);
              transcript.Line(Fields(t), " ", t.Systime());
              t.SetDate(2009, 7, 1, 12, 0, 0);  // daylight saving: UTC-4
              transcript.Line(t.Systime());
              t.SetDate(2009, 1, 31, 25, 0, 0);  // hour 25 becomes 1
              transcript.Line(t.Systime());
            }),
            "1969-12-31 19:0:0.0 0\n1246464000\n1233381600\n");
  using std::chrono::system_clock;
  KDateTime t;
  const long long before = system_clock::to_time_t(system_clock::now());
  t.GMNow();
  const long long after = system_clock::to_time_t(system_clock::now());
  const long long seconds = (t.Date() - 141427LL) * 86400 + t.Time();  // 141427: 1 January 1970
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);
  EXPECT_EQ(t.Milliseconds(), 0);
  DebugCapture capture;
  const KDateTime kept = t;
  EXPECT_FALSE(t.Systime(LLONG_MAX, true));
  EXPECT_FALSE(t.Systime(LLONG_MIN, false));
  EXPECT_FALSE(t.Systime(40000LL * 366 * 86400, true));
  EXPECT_TRUE(t == kept);
  EXPECT_EQ(capture.Texts().size(), 3u) << capture.All();
}

// Every locale falls back to English (no texts yet); each round switches locale, so the cache's
// last-used entry keeps changing. The first ProcessShutdown is final: this test runs last.
TEST(KDateTimeThreads, NamesOfManyLocalesAtOnce) {
  KAt::ProcessStartup(1);
  const char* locales[] = {"en_US", "de_DE", "fr_FR_EURO", "ja"};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      KAt::ThreadStartup();
      const KDateTime t = Make(1970, 1, 1, 12);
      for (int round = 0; round < 2000; ++round) {
        KLocale::CurrentLocale(locales[(i + round) % 4]);
        wrong += Format(t, "%A %b %p %P") != "Thursday Jan PM AD";
      }
      KAt::ThreadShutdown();
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
  KAt::ProcessShutdown(1);
}

}  // namespace
