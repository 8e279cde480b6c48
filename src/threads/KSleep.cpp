#include "vxkernel/threads/KSleep.h"

#include "port/port.h"
#include "vxkernel/threads/KTimestamp.h"

unsigned char KSleep::Seconds(unsigned short s) {
  port::SleepMillis(static_cast<unsigned long>(s) * 1000);
  return true;
}

unsigned char KSleep::Milliseconds(unsigned long ms) {
  port::SleepMillis(ms);
  return true;
}

unsigned char KSleep::Until(const KTimestamp& deadline) {
  KTimestamp remaining(deadline);
  remaining -= KTimestamp::Now();
  const int64 ms = remaining._Milliseconds();
  if (ms <= 0 || ms >= 4294967295LL) return false;
  port::SleepMillis(static_cast<unsigned long>(ms));
  return true;
}
