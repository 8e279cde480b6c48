/// \file
/// KSleep: suspending the calling thread.
#ifndef VXKERNEL_THREADS_KSLEEP_H_
#define VXKERNEL_THREADS_KSLEEP_H_

#include "vxkernel/export.h"

class KTimestamp;

/// Sleeping functions; static only. Each affects only the calling thread.
class VXKERNEL_EXPORT KSleep {
 public:
  /// Sleep s seconds / ms milliseconds; return true.
  ///@{
  static unsigned char Seconds(unsigned short s);
  static unsigned char Milliseconds(unsigned long ms);
  ///@}
  /// Sleeps until the wall-clock deadline and returns true. A deadline not in
  /// the future, or 4294967295 ms or more ahead, returns false at once.
  static unsigned char Until(const KTimestamp& deadline);

  KSleep() = delete;
};

#endif  // VXKERNEL_THREADS_KSLEEP_H_
