/// \file
/// KTimestamp: the instant with which timed waits, sleeps and measurements
/// are expressed.
#ifndef VXKERNEL_THREADS_KTIMESTAMP_H_
#define VXKERNEL_THREADS_KTIMESTAMP_H_

#include "vxkernel/export.h"
#include "vxkernel/vxtypes.h"

/// An instant: wall-clock milliseconds since 1 January 1970 UTC plus a
/// high-resolution counter in microseconds. After subtraction the same fields
/// hold a duration; the flag then says where the sub-second part comes from
/// (true: the wall milliseconds; false: the finer counter).
///
/// A plain value. Not synchronized: one thread at a time per object.
class VXKERNEL_EXPORT KTimestamp {
 public:
  /// The current instant (see Stamp).
  KTimestamp();
  /// wall = ms, counter 0, flag true.
  explicit KTimestamp(unsigned long ms);
  /// wall = seconds * 1000 + ms, counter 0, flag true.
  KTimestamp(int64 seconds, unsigned long ms);
  /// Copies wall, counter and flag.
  ///@{
  KTimestamp(const KTimestamp&) = default;
  KTimestamp& operator=(const KTimestamp&) = default;
  ///@}
  virtual ~KTimestamp();

  /// The current instant, as the default constructor makes it.
  static KTimestamp Now();
  /// Reads the counter (flag true) and then the wall clock.
  void Stamp();

  /// Equal when wall and counter are both equal (the flag is not compared).
  ///@{
  bool operator==(const KTimestamp& t) const { return fWall == t.fWall && fCounter == t.fCounter; }
  bool operator!=(const KTimestamp& t) const { return !(*this == t); }
  ///@}
  /// Order by the wall milliseconds only.
  ///@{
  bool operator<(const KTimestamp& t) const { return fWall < t.fWall; }
  bool operator<=(const KTimestamp& t) const { return fWall <= t.fWall; }
  bool operator>(const KTimestamp& t) const { return fWall > t.fWall; }
  bool operator>=(const KTimestamp& t) const { return fWall >= t.fWall; }
  ///@}

  /// Adds t's wall milliseconds; counter and flag stay.
  ///@{
  KTimestamp operator+(const KTimestamp& t) const;
  KTimestamp& operator+=(const KTimestamp& t);
  ///@}
  /// Subtracts wall and counter. The flag becomes false when this counter is
  /// greater than t's (the counter then gives the finer sub-second part), and
  /// true again when the counter difference is negative.
  ///@{
  KTimestamp operator-(const KTimestamp& t) const;
  KTimestamp& operator-=(const KTimestamp& t);
  ///@}

  /// wall / 1000.
  int64 Seconds() const { return fWall / 1000; }
  /// The sub-second milliseconds, from the wall (flag true) or the counter.
  long Milliseconds() const;
  /// Seconds() + Milliseconds() / 1000.0.
  double Duration() const;
  /// Low 32 bits of the wall milliseconds / of the counter microseconds.
  ///@{
  unsigned long MilliCounter() const { return static_cast<unsigned long>(fWall & 0xFFFFFFFFLL); }
  unsigned long Microseconds() const { return static_cast<unsigned long>(fCounter & 0xFFFFFFFFLL); }
  ///@}
  /// The wall milliseconds (or a duration's), writable in place.
  int64& _Milliseconds() { return fWall; }

 private:
  int64 fWall;              ///< wall-clock milliseconds (or a duration)
  int64 fCounter;           ///< counter microseconds (or a duration)
  bool fWallFraction;       ///< true: sub-second part from fWall
};

#endif  // VXKERNEL_THREADS_KTIMESTAMP_H_
