#include "vxkernel/locale/KDateTime.h"

#include <limits>

#include "base/debug_line.h"
#include "locale/KDateTime_internal.h"
#include "port/port.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

namespace {

using vxk_internal::CivilDate;
using vxk_internal::kDayNumberOf1970;

// Neri and Schneider's Euclidean-affine form of the inverse: unsigned 32-bit
// arithmetic on days shifted so that they are positive, with the year of the
// century found by one multiplication. Day numbers outside the window where
// 4 * N + 3 fits 32 bits first drop whole 400-year cycles of 146097 days.
inline CivilDate CivilFromDayNumber(long n) {
  constexpr long kShiftYears = 400 * 82;
  constexpr long kRataShift = 719468 + 146097 * 82;
  long cycles = 0;
  long shifted;
  if (n >= kDayNumberOf1970 - kRataShift && n <= (1L << 29)) {
    shifted = n - kDayNumberOf1970 + kRataShift;
  } else {
    // Drop whole cycles from n itself (remainder 0..146096), so no sum can
    // overflow however large n is; day 0 is not a cycle boundary, which only
    // moves the remainder within the window.
    cycles = n / 146097;
    long rest = n % 146097;
    if (rest < 0) {
      rest += 146097;
      --cycles;
    }
    shifted = rest - kDayNumberOf1970 + kRataShift;
  }
  const uint32_t days = static_cast<uint32_t>(shifted);
  const uint32_t n1 = 4 * days + 3;
  const uint32_t century = n1 / 146097;
  const uint32_t day_of_century = n1 % 146097 / 4;
  const uint32_t n2 = 4 * day_of_century + 3;
  const uint64_t p2 = uint64_t{2939745} * n2;
  const uint32_t year_of_century = static_cast<uint32_t>(p2 >> 32);
  const uint32_t day_of_year = static_cast<uint32_t>(p2 & 0xFFFFFFFFu) / 2939745 / 4;
  const uint32_t n3 = 2141 * day_of_year + 197913;
  const uint32_t month = n3 >> 16;
  const uint32_t day = (n3 & 0xFFFFu) / 2141;
  const uint32_t jan_feb = day_of_year >= 306;
  CivilDate d;
  d.year = static_cast<long>(100 * century + year_of_century) - kShiftYears +
           static_cast<long>(jan_feb) + cycles * 400;
  d.month = static_cast<int>(jan_feb ? month - 12 : month);
  d.day = static_cast<int>(day + 1);
  return d;
}

using vxk_internal::kDaysPerMonth;

// The local-time conversion of Systime() runs under this process-wide lock.
// Made on first use and never destroyed, so a conversion at exit still
// finds it.
KLock& MktimeLock() {
  static KLock* lock = new KLock(KLock::kCriticalSection);
  return *lock;
}

// The remainder keeps the dividend's sign, as the C operator does.
inline int KeepSignRemainder(int v, int m) { return v % m; }

// Lowest set bit of mask at or above from, below limit; -1 when none.
int NextBit(unsigned long mask, int from, int limit) {
  for (int i = from < 0 ? 0 : from; i < limit; ++i)
    if (mask & (1UL << i)) return i;
  return -1;
}

// Wrapping addition: a day count past the range of long gives garbage, not
// undefined behaviour.
inline long WrapAdd(long a, long b) {
  return static_cast<long>(static_cast<unsigned long>(a) + static_cast<unsigned long>(b));
}

}  // namespace

KDateTime::KDateTime(long t) { Systime(t, false); }

KDateTime::~KDateTime() = default;

void KDateTime::SetDate(int year, int month, int day, int hour, int minute, int second, int ms) {
  Year(year);
  Month(month);
  Day(day);
  SetTime(hour, minute, second, ms);
}

void KDateTime::SetTime(int hour, int minute, int second, int ms) {
  Hour(KeepSignRemainder(hour, 24));
  Minute(KeepSignRemainder(minute, 60));
  Second(KeepSignRemainder(second, 60));
  Milliseconds(KeepSignRemainder(ms, 1000));
}

bool KDateTime::CheckValidity() const {
  if (fMilliseconds < 0 || fMilliseconds > 999) return false;
  if (fSecond < 0 || fSecond > 59 || fMinute < 0 || fMinute > 59) return false;
  if (fHour < 0 || fHour > 23) return false;
  return DaysInMonth() >= fDay && fDay >= 1;
}

// ===== Calendar arithmetic =====

bool KDateTime::IsLeapYear(long year, char calendar) {
  if (year % 4 != 0) return false;
  if (calendar == 'J') return true;
  return year % 100 != 0 || year % 400 == 0;
}

const int* KDateTime::AccessDaysPerMonth(long year, char calendar) {
  return kDaysPerMonth[IsLeapYear(year, calendar) ? 1 : 0];
}

long KDateTime::Floor(long a, long b) {
  if (b == 0) return 0;
  if (b == -1) return a == std::numeric_limits<long>::min() ? a : -a;
  long q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

int KDateTime::DaysInMonth() const {
  const unsigned m = static_cast<unsigned>(fMonth);
  if (m - 1 >= 12) return 0;
  return kDaysPerMonth[vxk_internal::IsGregorianLeap(fYear) ? 1 : 0][m];
}

long KDateTime::Date() const {
  const unsigned m = static_cast<unsigned>(fMonth);
  if (m - 1 >= 12 || fDay < 1) return 0;
  if (fDay > kDaysPerMonth[1][m] || (m == 2 && fDay == 29 && !vxk_internal::IsGregorianLeap(fYear)))
    return 0;
  return vxk_internal::DayNumberOf(fYear, fMonth, fDay);
}

void KDateTime::Date(long n) {
  const vxk_internal::CivilDate d = CivilFromDayNumber(n);
  fYear = static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned long>(d.year)));
  fMonth = static_cast<int8_t>(d.month);
  fDay = static_cast<int8_t>(d.day);
}

long KDateTime::Time() const { return fHour * 3600L + fMinute * 60L + fSecond; }

void KDateTime::Time(long s) {
  fHour = static_cast<int8_t>(s / 3600);
  fMinute = static_cast<int8_t>(s % 3600 / 60);
  fSecond = static_cast<int8_t>(s % 60);
  fMilliseconds = 0;
}

int KDateTime::DayOfWeek() const { return static_cast<int>(((Date() % 7) + 12) % 7 + 1); }

int KDateTime::DayOfYear() const {
  const long jan1 = vxk_internal::DayNumberOf(fYear, 1, 1);
  return static_cast<int>(Date() - jan1 + 1);
}

long KDateTime::Difference(const KDateTime& other) const {
  return (Date() - other.Date()) * 86400 + (Time() - other.Time());
}

// Splitting the seconds into whole days and a remainder first keeps every
// sum in range; floor division gives exactly "back by the fewest whole days
// that make the time non-negative" for negative sums.
void KDateTime::Add(long seconds) {
  long days = seconds / 86400;
  long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  long t = Time() + rest;
  days += Floor(t, 86400);
  t -= Floor(t, 86400) * 86400;
  Date(WrapAdd(Date(), days));
  Time(t);
}

void KDateTime::AddDays(long n) { Date(WrapAdd(Date(), n)); }

int KDateTime::Compare(const KDateTime& other) const {
  const int mine[7] = {fYear, fMonth, fDay, fHour, fMinute, fSecond, fMilliseconds};
  const int theirs[7] = {other.fYear,   other.fMonth,  other.fDay,         other.fHour,
                         other.fMinute, other.fSecond, other.fMilliseconds};
  for (int i = 0; i < 7; ++i) {
    if (mine[i] != theirs[i]) return mine[i] < theirs[i] ? -1 : 1;
  }
  return 0;
}

bool KDateTime::operator==(const KDateTime& other) const { return Compare(other) == 0; }

// ===== System time =====

void KDateTime::Now() { Systime(port::WallMillis() / 1000, false); }

void KDateTime::GMNow() { Systime(port::WallMillis() / 1000, true); }

bool KDateTime::Systime(int64 t, bool gmt) {
  port::CivilTime c;
  if (!port::CivilFromSeconds(t, !gmt, &c) || c.year < -32768 || c.year > 32767) {
    vxk_internal::DebugLine("KDateTime::Systime", "could not convert ", t, " seconds to ",
                            gmt ? "UTC" : "local time");
    return false;
  }
  fYear = static_cast<int16_t>(c.year);
  fMonth = static_cast<int8_t>(c.month);
  fDay = static_cast<int8_t>(c.day);
  fHour = static_cast<int8_t>(c.hour);
  fMinute = static_cast<int8_t>(c.minute);
  fSecond = static_cast<int8_t>(c.second);
  fMilliseconds = 0;
  return true;
}

int64 KDateTime::Systime() const {
  port::CivilTime c{fYear, fMonth, fDay, fHour, fMinute, fSecond};
  int64_t t = 0;
  bool ok;
  {
    KLockGuard guard(MktimeLock());
    ok = port::LocalSecondsFromCivil(c, &t);
  }
  if (!ok) {
    vxk_internal::DebugLine("KDateTime::Systime", "could not convert ", fYear, "-", int{fMonth},
                            "-", int{fDay}, " ", int{fHour}, ":", int{fMinute}, ":", int{fSecond},
                            " to seconds");
    return -1;
  }
  return t;
}

// ===== Formats =====

unsigned short KDateTime::FileDate() const {
  const unsigned v = static_cast<unsigned>(fDay) + static_cast<unsigned>(fMonth) * 32u +
                     static_cast<unsigned>(fYear - 1980) * 512u;
  return static_cast<unsigned short>(v & 0xFFFFu);
}

unsigned short KDateTime::FileTime() const {
  const unsigned v = static_cast<unsigned>(fSecond / 2) + static_cast<unsigned>(fMinute) * 32u +
                     static_cast<unsigned>(fHour) * 2048u;
  return static_cast<unsigned short>(v & 0xFFFFu);
}

// ===== Schedule =====

bool KDateTime::SetNextTime(unsigned long days, unsigned long hours, unsigned long fiveMinutes) {
  days &= 0x7FUL;
  hours &= 0xFFFFFFUL;
  fiveMinutes &= 0xFFFUL;
  if (days == 0 || hours == 0 || fiveMinutes == 0) {
    vxk_internal::DebugLine("KDateTime::SetNextTime", "empty schedule mask (days ", days,
                            ", hours ", hours, ", five minutes ", fiveMinutes, ")");
    return false;
  }
  const int today = DayOfWeek() - 1;
  const int firstHour = NextBit(hours, 0, 24);
  const int firstSlot = NextBit(fiveMinutes, 0, 12);
  // Days ahead to the next scheduled day after today (wrapping to the next
  // week, possibly today's weekday again).
  auto nextDay = [&]() {
    const int later = NextBit(days, today + 1, 7);
    if (later >= 0) return later - today;
    return 7 - (today - NextBit(days, 0, 7));
  };
  int ahead = 0;
  int hour = firstHour;
  int slot = firstSlot;
  const bool hourSet = fHour >= 0 && fHour < 24 && (hours & (1UL << fHour));
  if (!(days & (1UL << today))) {
    ahead = nextDay();
  } else {
    const int laterSlot = hourSet && fMinute >= 0 ? NextBit(fiveMinutes, fMinute / 5 + 1, 12) : -1;
    const int laterHour = NextBit(hours, fHour + 1, 24);
    if (laterSlot >= 0) {
      hour = fHour;
      slot = laterSlot;
    } else if (laterHour >= 0) {
      hour = laterHour;
    } else {
      ahead = nextDay();
    }
  }
  Date(WrapAdd(Date(), ahead));
  fHour = static_cast<int8_t>(hour);
  fMinute = static_cast<int8_t>(slot * 5);
  fSecond = 0;
  return true;
}
