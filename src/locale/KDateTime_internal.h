// Private pieces of KDateTime shared by its source files: the calendar core
// and the per-locale name cache.
#ifndef VXKERNEL_LOCALE_KDATETIME_INTERNAL_H_
#define VXKERNEL_LOCALE_KDATETIME_INTERNAL_H_

#include <cstdint>
#include <string>

class KDateTime;

namespace vxk_internal {

// ===== Calendar core =====

// 15 October 1582 (day 0) lies 141427 days before 1 January 1970.
constexpr long kDayNumberOf1970 = 141427;

// Month lengths, entry 0 = 0 so a month index needs no shift.
inline constexpr int kDaysPerMonth[2][13] = {{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                             {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

inline bool IsGregorianLeap(int year) {
  // 100 divides the year: leap when 16 does (equivalent to 400 then).
  return (year % 100 != 0) ? (year % 4 == 0) : (year % 16 == 0);
}

// Day number of a valid 16-bit year, month 1-12 and any day (not checked).
// Unsigned 32-bit arithmetic on a year shifted by 82 cycles of 400 years,
// so every 16-bit year is positive and nothing is divided with a sign.
inline long DayNumberOf(int year, int month, int day) {
  constexpr uint32_t kShift = 400 * 82;                  // years added
  constexpr uint32_t kRataShift = 719468 + 146097 * 82;  // days to 1970 then
  const uint32_t jan_feb = month <= 2;
  const uint32_t y = static_cast<uint32_t>(year + static_cast<int>(kShift)) - jan_feb;
  const uint32_t m = jan_feb ? static_cast<uint32_t>(month) + 12 : static_cast<uint32_t>(month);
  const uint32_t century = y / 100;
  const uint32_t year_days = 1461 * y / 4 - century + century / 4;
  const uint32_t month_days = (979 * m - 2919) / 32;
  const uint32_t n = year_days + month_days + static_cast<uint32_t>(day - 1);
  return static_cast<long>(n) - static_cast<long>(kRataShift) + kDayNumberOf1970;
}

// A date whose year may exceed the 16-bit field.
struct CivilDate {
  long year;
  int month;
  int day;
};

// ===== Names =====

// The names of one locale: from the message catalogue, or the built-in
// English names where the catalogue has no text. Immutable once built.
struct DateNames {
  std::string locale;
  std::string fullDay[7];  // Sunday first
  std::string shortDay[7];
  std::string fullMonth[12];  // January first
  std::string shortMonth[12];
  std::string midnight;  // exactly 00:00:00.000
  std::string noon;      // exactly 12:00:00.000
  std::string am;        // other times before noon
  std::string pm;        // other times from noon
  std::string bc;        // years below 1
  std::string ad;        // year 1 and later
};

// The names of the calling thread's locale, built on the first use of that
// locale and kept for the life of the process.
const DateNames& CurrentDateNames();

// The morning/afternoon name of t: the midnight name at exactly
// 00:00:00.000, the noon name at exactly 12:00:00.000.
const std::string& PeriodName(const DateNames& names, const KDateTime& t);

// The catalogue text of message code (catalogue 0x3EE4) in locale, empty
// when there is none.
std::string DateCatalogueText(uint32_t code, const std::string& locale);

}  // namespace vxk_internal

#endif  // VXKERNEL_LOCALE_KDATETIME_INTERNAL_H_
