// KSysLogInternal: private logs and a view of their state, for the library's
// tests, fuzzers and benchmarks (the process's own log is created once).
#ifndef VXKERNEL_LOG_KSYSLOG_INTERNAL_H_
#define VXKERNEL_LOG_KSYSLOG_INTERNAL_H_

#include <memory>

#include "vxkernel/log/KSysLog.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/threads/KTimestamp.h"

class KSysLogInternal {
 public:
  static std::unique_ptr<KSysLog> New() { return std::unique_ptr<KSysLog>(new KSysLog()); }
  // Readers waiting for a writer.
  static long Waiters(KSysLog& log) {
    KLockGuard guard(log.fMutex);
    return log.fWaiters;
  }
  // A read that noted end before it began, waiting at most waitMs.
  static KSysLog_Iterator ReadFromEnd(KSysLog& log, KSysLog_EntryListBase& list, KSysLog_Iterator from,
                                      KSysLog_Iterator end, long waitMs) {
    KTimestamp deadline = KTimestamp::Now();
    deadline += KTimestamp(static_cast<unsigned long>(waitMs));
    return log.ReadFromEnd(list, from, 1000, end, &deadline, true);
  }
  // Makes the log believe its file ends at end, the next entry numbered next.
  static void Pretend(KSysLog& log, long end, long next) {
    KLockGuard guard(log.fMutex);
    log.fEnd = end;
    log.fNextSequence = next;
  }
};

#endif  // VXKERNEL_LOG_KSYSLOG_INTERNAL_H_
