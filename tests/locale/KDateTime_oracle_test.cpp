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
    KDateTime t, back;
    t.SetDate(y, m, d, 6, 7, 8);
    back.Date(n);
    back.SetTime(6, 7, 8);
    ASSERT_TRUE(t.CheckValidity() && t.Date() == n && t.DayOfWeek() == dow && t.DayOfYear() == doy)
        << Fields(t) << ": " << t.Date() << " " << t.DayOfWeek() << " " << t.DayOfYear();
    ASSERT_EQ(Fields(back), Fields(t)) << n;
    if (d == t.DaysInMonth()) {  // the day after the last of a month is no date
      t.Day(d + 1);
      ASSERT_FALSE(t.CheckValidity() || t.Date() != 0) << Fields(t);
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
    // The same instant by day-number arithmetic, and Add from the epoch.
    ASSERT_EQ((t.Date() - 141427LL) * 86400 + t.Time(), s);
    epoch.SetDate(1970, 1, 1);
    epoch.Add(static_cast<long>(s));
    ASSERT_EQ(Fields(epoch), Fields(expected)) << s;
  }
  EXPECT_EQ(lines, 2000);
}

// The conversions both formatters share, with the same meaning in the C
// locale for years 1000-9999 (libc's %Y is not zero-padded below 1000).
TEST(KDateTimeOracle, StrftimeMatchesLibcInTheCLocale) {
  const char* formats[] = {"%% %A %a %B %b %d %H %I %j %M %m %p %S %y %Y", "[%a%b%j]"};
  std::mt19937_64 rng(20090307);
  // Seconds of 1000-01-01 and 9999-12-31 23:59:59 UTC.
  std::uniform_int_distribution<long long> seconds(-30610224000LL, 253402300799LL);
  for (int i = 0; i < 20000; ++i) {
    // Every 16th at exactly midnight or noon, which have period names of their own.
    const time_t s = static_cast<time_t>(i % 16 ? seconds(rng) : seconds(rng) / 43200 * 43200);
    struct tm parts {};
    ASSERT_NE(gmtime_r(&s, &parts), nullptr);
    KDateTime t;  // built from the fields alone, so weekday and year day are ours
    t.SetDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
              parts.tm_sec);
    for (const char* fmt : formats) {
      char ours[128], theirs[128];
      const unsigned long n = t.strftime(ours, sizeof ours - 1, fmt);
      const size_t m = ::strftime(theirs, sizeof theirs, fmt, &parts);
      ASSERT_EQ(std::string(ours, n), std::string(theirs, m)) << Fields(t) << " " << fmt;
    }
  }
}

TEST(KDateTimeOracle, CrkftimeReadsBackWhatStrftimeWroteInAnyCase) {
  // Formats that carry every field; the era makes years at or below 0 and %I
  // with %p the hours 0 and 12 come back. Names are read in any case.
  const char* formats[] = {"%Y-%m-%d %H:%M:%S %P", "%d %B %Y, %I:%M:%S %p %P",
                           "%a %b %d %H%M%S %Y %P", "%m/%d/%Y %I.%M.%S%p%P"};
  std::mt19937 rng(1582);
  std::uniform_int_distribution<int> year(-9998, 9999), month(1, 12), day(1, 31), hour(0, 23),
      minute(0, 59);
  for (int i = 0; i < 20000; ++i) {
    KDateTime t;
    t.SetDate(year(rng), month(rng), 1, hour(rng), minute(rng), minute(rng));
    t.Day(1 + day(rng) % t.DaysInMonth());
    for (const char* fmt : formats) {
      char text[128];
      t.strftime(text, sizeof text - 1, fmt);
      for (char* c = text; *c != '\0'; ++c) *c = static_cast<char>(rng() % 2 ? std::toupper(*c) : std::tolower(*c));
      KDateTime back;
      ASSERT_TRUE(back.crkftime(text, fmt)) << text << " / " << fmt;
      ASSERT_EQ(Fields(back), Fields(t)) << text << " / " << fmt;
    }
  }
}

}  // namespace
