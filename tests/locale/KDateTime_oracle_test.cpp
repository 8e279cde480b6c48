// KDateTime against Python's datetime (fixtures from dates_generate.py), libc's strftime
// in the C locale, and crkftime reading back what strftime wrote.
#include <gtest/gtest.h>
#include <time.h>

#include <cctype>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "vxkernel/locale/KDateTime.h"

namespace {

std::string Fields(const KDateTime& t) {
  std::ostringstream s;
  s << t.Year() << "-" << t.Month() << "-" << t.Day() << " " << t.Hour() << ":" << t.Minute() << ":"
    << t.Second() << "." << t.Milliseconds();
  return s.str();
}

TEST(KDateTimeOracle, DayNumbersWeekdaysAndYearDaysMatchPython) {
  std::ifstream in(VXK_FIXTURES_DIR "/dates_days.txt");
  ASSERT_TRUE(in) << "missing fixture dates_days.txt";
  int y, m, d, dow, doy, lines = 0;
  long n;
  for (; in >> y >> m >> d >> n >> dow >> doy; ++lines) {
    KDateTime t;  // the way back, from day numbers, is walked in KDateTime_test
    t.SetDate(y, m, d, 6, 7, 8);
    ASSERT_TRUE(t.CheckValidity()) << Fields(t);
    ASSERT_EQ(t.Date(), n) << Fields(t);
    ASSERT_EQ(t.DayOfWeek(), dow) << Fields(t);
    ASSERT_EQ(t.DayOfYear(), doy) << Fields(t);
    if (d == t.DaysInMonth()) {  // the day after the last of a month is no date
      t.Day(d + 1);
      ASSERT_FALSE(t.CheckValidity()) << Fields(t);
      ASSERT_EQ(t.Date(), 0) << Fields(t);
    }
  }
  EXPECT_GT(lines, 5000);
}

TEST(KDateTimeOracle, UtcBreakdownMatchesPython) {
  std::ifstream in(VXK_FIXTURES_DIR "/dates_utc.txt");
  ASSERT_TRUE(in) << "missing fixture dates_utc.txt";
  long long s;
  int y, mo, d, h, mi, sec, lines = 0;
  for (; in >> s >> y >> mo >> d >> h >> mi >> sec; ++lines) {
    KDateTime t, expected, epoch;
    ASSERT_TRUE(t.Systime(s, true)) << s;
    expected.SetDate(y, mo, d, h, mi, sec);
    ASSERT_EQ(Fields(t), Fields(expected)) << s;
    // The same instant by day-number arithmetic, by Difference and by Add from the epoch.
    epoch.SetDate(1970, 1, 1);
    ASSERT_EQ((t.Date() - 141427LL) * 86400 + t.Time(), s) << s;
    ASSERT_EQ(t.Difference(epoch), s) << s;
    epoch.Add(static_cast<long>(s));
    ASSERT_EQ(Fields(epoch), Fields(expected)) << s;
  }
  EXPECT_EQ(lines, 2000);
}

// Against libc: the conversions both share, alike in the C locale for years 1000-9999 (libc's
// %Y is not zero-padded below). Then crkftime reads back, in any case, what strftime wrote in
// formats that carry every field, for the same time in a year from -9998 to 9999: the era
// brings back years at or below 0, %I with %p the hours 0 and 12.
TEST(KDateTimeOracle, StrftimeMatchesLibcAndCrkftimeReadsItBackInAnyCase) {
  const char* formats[] = {"%% %A %a %B %b %d %H %I %j %M %m %p %S %y %Y", "[%a%b%j]"};
  const char* readable[] = {"%Y-%m-%d %H:%M:%S %P", "%d %B %Y, %I:%M:%S %p %P",
                            "%a %b %d %H%M%S %Y %P", "%m/%d/%Y %I.%M.%S%p%P"};
  std::mt19937_64 rng(20090307);
  // Seconds of 1000-01-01 and 9999-12-31 23:59:59 UTC.
  std::uniform_int_distribution<long long> seconds(-30610224000LL, 253402300799LL);
  std::uniform_int_distribution<int> year(-9998, 9999);
  for (int i = 0; i < 20000; ++i) {
    // Every 16th at exactly midnight or noon, which have period names of their own.
    const time_t s = static_cast<time_t>(i % 16 ? seconds(rng) : seconds(rng) / 43200 * 43200);
    struct tm parts {};
    ASSERT_NE(gmtime_r(&s, &parts), nullptr);
    KDateTime t;  // built from the fields alone, so weekday and year day are ours
    t.SetDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
              parts.tm_sec);
    char ours[128], theirs[128];
    for (const char* fmt : formats) {
      const unsigned long n = t.strftime(ours, sizeof ours - 1, fmt);
      const size_t m = ::strftime(theirs, sizeof theirs, fmt, &parts);
      ASSERT_EQ(std::string(ours, n), std::string(theirs, m)) << Fields(t) << " " << fmt;
    }
    t.Year(year(rng));
    if (!t.CheckValidity()) t.Day(28);  // 29 February of a common year
    for (const char* fmt : readable) {
      t.strftime(ours, sizeof ours - 1, fmt);
      for (char* c = ours; *c != '\0'; ++c)
        *c = static_cast<char>(rng() % 2 ? std::toupper(*c) : std::tolower(*c));
      KDateTime back;
      ASSERT_TRUE(back.crkftime(ours, fmt)) << ours << " / " << fmt;
      ASSERT_EQ(Fields(back), Fields(t)) << ours << " / " << fmt;
    }
  }
}

}  // namespace
