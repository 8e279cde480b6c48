/// \file
/// KDateTime: a broken-down calendar date and time with day-number arithmetic,
/// conversion to and from seconds since 1970, a formatter and a parser.
#ifndef VXKERNEL_LOCALE_KDATETIME_H_
#define VXKERNEL_LOCALE_KDATETIME_H_

#include <cstdint>

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/vxtypes.h"

/// A calendar date and time, year down to milliseconds, in the proleptic
/// Gregorian calendar with astronomical years (1 is 1 AD, 0 is 1 BC, -1 is
/// 2 BC). Day numbers count from 15 October 1582 (day 0); 1 January 1970 is
/// day 141427. Day of week: 1 = Sunday ... 7 = Saturday.
///
/// The setters store what they are given without checks (a value is cut to
/// its field's width: 16 bits for year and milliseconds, 8 bits for the
/// others); CheckValidity, Date() and crkftime are where invalid fields are
/// caught. Every operation is safe on invalid fields (a default-constructed
/// object has month 0): no table is read out of range.
///
/// A plain value that owns nothing. Not synchronized: one thread at a time
/// per object. Systime() serialises its local-time conversion with a
/// process-wide lock; everything else is lock-free.
class VXKERNEL_EXPORT KDateTime {
 public:
  /// Every field 0 (an invalid date).
  KDateTime() = default;
  /// Copies the seven fields.
  ///@{
  KDateTime(const KDateTime&) = default;
  KDateTime& operator=(const KDateTime&) = default;
  ///@}
  /// Systime(t, false): the local date and time of t seconds since 1970.
  explicit KDateTime(long t);
  virtual ~KDateTime();

  // ===== Fields =====

  /// The seven fields as stored: the year astronomical, month 1-12, day
  /// 1-31, hour 0-23, minute and second 0-59, milliseconds 0-999 when the
  /// date is valid; the setters store any value, cut to the field's width.
  ///@{
  int Year() const { return fYear; }
  int Month() const { return fMonth; }
  int Day() const { return fDay; }
  int Hour() const { return fHour; }
  int Minute() const { return fMinute; }
  int Second() const { return fSecond; }
  int Milliseconds() const { return fMilliseconds; }
  void Year(int year) { fYear = static_cast<int16_t>(year); }
  void Month(int month) { fMonth = static_cast<int8_t>(month); }
  void Day(int day) { fDay = static_cast<int8_t>(day); }
  void Hour(int hour) { fHour = static_cast<int8_t>(hour); }
  void Minute(int minute) { fMinute = static_cast<int8_t>(minute); }
  void Second(int second) { fSecond = static_cast<int8_t>(second); }
  void Milliseconds(int ms) { fMilliseconds = static_cast<int16_t>(ms); }
  ///@}

  /// Stores year, month and day as given; hour modulo 24, minute and second
  /// modulo 60, ms modulo 1000, each remainder keeping its sign (C %).
  void SetDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
               int ms = 0);
  /// The time half of SetDate.
  void SetTime(int hour, int minute, int second = 0, int ms = 0);

  /// True when ms is 0-999, second and minute 0-59, hour 0-23, month 1-12
  /// and day 1 to the month's length.
  bool CheckValidity() const;

  // ===== Calendar arithmetic =====

  /// The day number of the date; 0 when month or day is out of range.
  long Date() const;
  /// Sets year, month and day to day number n; the time stays. A year
  /// outside the 16-bit field keeps its low 16 bits.
  void Date(long n);
  /// hour * 3600 + minute * 60 + second.
  long Time() const;
  /// hour = s / 3600, minute = s % 3600 / 60, second = s % 60, ms = 0.
  void Time(long s);
  /// 1 (Sunday) ... 7 (Saturday), from Date().
  int DayOfWeek() const;
  /// Date() - the day number of 1 January of the same year + 1.
  int DayOfYear() const;
  /// The length of the current month; 0 when the month is out of range.
  int DaysInMonth() const;
  /// (Date() - other.Date()) * 86400 + (Time() - other.Time()) seconds.
  long Difference(const KDateTime& other) const;
  /// Moves date and time by that many seconds (either sign); ms becomes 0.
  void Add(long seconds);
  /// Date(Date() + n).
  void AddDays(long n);
  /// -1, 0 or 1, comparing year, month, day, hour, minute, second, ms.
  int Compare(const KDateTime& other) const;
  /// All seven fields equal.
  bool operator==(const KDateTime& other) const;

  /// A year not divisible by 4 is not leap; with calendar 'J' (Julian) every
  /// other year is; with any other letter (Gregorian, 'G') a year divisible
  /// by 100 is leap only when divisible by 400.
  static bool IsLeapYear(long year, char calendar = 'G');
  /// The 13-entry month-length table for the year (entry 0 is 0).
  static const int* AccessDaysPerMonth(long year, char calendar = 'G');
  /// a / b rounded toward minus infinity; 0 when b is 0, and a itself for
  /// b = -1 at the bottom of the range (where the quotient would overflow).
  static long Floor(long a, long b);

  // ===== System time =====

  /// This object becomes the current local time / UTC (via Systime; ms 0).
  ///@{
  void Now();
  void GMNow();
  ///@}
  /// Converts t seconds since 1970 to local time (gmt false) or UTC. On
  /// success sets every field (ms 0) and returns true; on failure (t out of
  /// the system's range) leaves the object unchanged, writes one debug line
  /// and returns false.
  bool Systime(int64 t, bool gmt);
  /// Seconds since 1970 of the fields read as local time (daylight saving
  /// decided by the system; out-of-range fields normalised as the C library
  /// does). On failure writes one debug line and returns -1.
  int64 Systime() const;

  // ===== Names =====
  // Localised names from the message catalogue, the built-in English names
  // where the catalogue has no text. Names are looked up once per locale.

  /// The full or short name (English: "Sunday", "Sun") of DayOfWeek().
  ///@{
  KString FullDay() const;
  KString ShortDay() const;
  ///@}
  /// The full or short name (English: "January", "Jan") of the month; empty
  /// when the month is out of range.
  ///@{
  KString FullMonth() const;
  KString ShortMonth() const;
  ///@}
  /// The midnight name at exactly 00:00:00.000, the noon name at exactly
  /// 12:00:00.000, else the morning (before noon) or afternoon name.
  KString AMPM() const;
  /// "BC" for years below 1, else "AD".
  KString ADBC() const;

  // ===== Formats =====

  /// day + month * 32 + (year - 1980) * 512, as 16 bits (FAT date).
  unsigned short FileDate() const;
  /// second / 2 + minute * 32 + hour * 2048, as 16 bits (FAT time).
  unsigned short FileTime() const;

  /// Copies fmt into buf replacing conversions (%% %A %a %B %b %d %H %I %j
  /// %M %m %P %p %S %w %Y %y; any other letter gives nothing, a lone "%" at
  /// the end ends the output). At most size characters are written, then a
  /// NUL; a conversion whose text does not fit the remaining room is left
  /// out and the rest continues. Returns the length written. Numbers print
  /// as their last digits (two, three for %j, four for %Y) of the absolute
  /// value, so invalid fields keep the width.
  /// REQUIRES: buf holds size + 1 bytes. Null buf or fmt: returns 0 (buf, when
  /// given, gets an empty text) and writes one debug line.
  unsigned long strftime(char* buf, unsigned long size, const char* fmt) const;

  /// Parses text by fmt (conversions %% %B %b %a %d %m %H %I %M %S %Y %y %p
  /// %P), starting from 1 January of the current local year, 00:00:00.000.
  /// On success replaces every field and returns true; otherwise leaves the
  /// object unchanged, writes one debug line and returns false.
  bool crkftime(const char* text, const char* fmt);

  /// Steps to the next time of a weekly schedule given as bit masks: bit d
  /// of days is day of week d (0 Sunday ... 6 Saturday), bit h of hours is
  /// hour h (0-23), bit k of fiveMinutes is minute 5k (0-11). Sets the date,
  /// hour, minute and second 0 and returns true. A mask without a bit in its
  /// range leaves the object unchanged, writes one debug line and returns
  /// false.
  bool SetNextTime(unsigned long days, unsigned long hours, unsigned long fiveMinutes);

 private:
  int16_t fYear = 0;          ///< astronomical year
  int8_t fMonth = 0;          ///< 1-12
  int8_t fDay = 0;            ///< 1-31
  int8_t fHour = 0;           ///< 0-23
  int8_t fMinute = 0;         ///< 0-59
  int8_t fSecond = 0;         ///< 0-59
  int16_t fMilliseconds = 0;  ///< 0-999
};

#endif  // VXKERNEL_LOCALE_KDATETIME_H_
