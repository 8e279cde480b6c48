// Calendar-time conversions over the C library's localtime_r, gmtime_r and
// mktime.
#include <time.h>

#include "port/port.h"

namespace port {

static_assert(sizeof(time_t) == sizeof(int64_t), "64-bit time_t expected");

bool CivilFromSeconds(int64_t t, bool local, CivilTime* out) {
  const time_t tt = static_cast<time_t>(t);
  struct tm parts {};
  if ((local ? localtime_r(&tt, &parts) : gmtime_r(&tt, &parts)) == nullptr) return false;
  out->year = parts.tm_year + 1900;
  out->month = parts.tm_mon + 1;
  out->day = parts.tm_mday;
  out->hour = parts.tm_hour;
  out->minute = parts.tm_min;
  out->second = parts.tm_sec;
  return true;
}

// mktime returns -1 both for failure and for one valid second, so failure
// is told by tm_wday, which a successful call always sets to 0-6.
bool LocalSecondsFromCivil(const CivilTime& c, int64_t* out) {
  struct tm parts {};
  parts.tm_year = c.year - 1900;
  parts.tm_mon = c.month - 1;
  parts.tm_mday = c.day;
  parts.tm_hour = c.hour;
  parts.tm_min = c.minute;
  parts.tm_sec = c.second;
  parts.tm_isdst = -1;
  parts.tm_wday = -1;
  const time_t t = mktime(&parts);
  if (t == static_cast<time_t>(-1) && parts.tm_wday == -1) return false;
  *out = static_cast<int64_t>(t);
  return true;
}

}  // namespace port
