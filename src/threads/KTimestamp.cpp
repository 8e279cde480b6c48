#include "vxkernel/threads/KTimestamp.h"

#include "port/port.h"

KTimestamp::KTimestamp() { Stamp(); }

KTimestamp::KTimestamp(unsigned long ms)
    : fWall(static_cast<int64>(ms)), fCounter(0), fWallFraction(true) {}

KTimestamp::KTimestamp(int64 seconds, unsigned long ms)
    : fWall(seconds * 1000 + static_cast<int64>(ms)), fCounter(0), fWallFraction(true) {}

KTimestamp::~KTimestamp() = default;

KTimestamp KTimestamp::Now() { return KTimestamp(); }

// The monotonic clock is always there, so the counter is always filled.
void KTimestamp::Stamp() {
  fCounter = port::MonotonicMicros();
  fWallFraction = true;
  fWall = port::WallMillis();
}

KTimestamp KTimestamp::operator+(const KTimestamp& t) const {
  KTimestamp sum(*this);
  sum += t;
  return sum;
}

KTimestamp& KTimestamp::operator+=(const KTimestamp& t) {
  fWall += t.fWall;
  return *this;
}

KTimestamp KTimestamp::operator-(const KTimestamp& t) const {
  KTimestamp difference(*this);
  difference -= t;
  return difference;
}

// A difference of two stamps takes its sub-second part from the counter,
// which is finer than the wall clock and does not jump.
KTimestamp& KTimestamp::operator-=(const KTimestamp& t) {
  fWall -= t.fWall;
  if (fCounter > t.fCounter) fWallFraction = false;
  fCounter -= t.fCounter;
  if (fCounter < 0) fWallFraction = true;
  return *this;
}

long KTimestamp::Milliseconds() const {
  if (fWallFraction) return static_cast<long>(fWall % 1000);
  return static_cast<long>((fCounter % 1000000) / 1000);
}

double KTimestamp::Duration() const {
  return static_cast<double>(Seconds()) + static_cast<double>(Milliseconds()) / 1000.0;
}
