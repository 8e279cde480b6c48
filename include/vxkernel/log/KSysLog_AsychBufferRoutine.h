/// \file
/// KSysLog_AsychBufferRoutine: the host's hook for writing log entries from
/// a thread of its own.
#ifndef VXKERNEL_LOG_KSYSLOG_ASYCHBUFFERROUTINE_H_
#define VXKERNEL_LOG_KSYSLOG_ASYCHBUFFERROUTINE_H_

#include "vxkernel/export.h"

/// A host-supplied buffer between KSysLog::Append and the file. A log created
/// with a routine hands every Append to Enqueue instead of writing it; the
/// routine keeps the entry and later writes it, on a thread of its own, with
/// KSysLog::TheSysLog()._Append_atomic(sender, message, notify), passing
/// notify = true unless it wants followers woken only once per batch. The
/// buffer sizes KSysLog::kMinBufferSize to kMaxBufferSize are a suggested
/// range; the policy is the host's. The library has no routine of its own.
///
/// Ownership: the log owns the routine once Create has been called with it
/// and deletes it when the log is destroyed. Thread rule: Enqueue is called
/// from any thread, concurrently.
class VXKERNEL_EXPORT KSysLog_AsychBufferRoutine {
 public:
  virtual ~KSysLog_AsychBufferRoutine();

  /// Takes one entry. When owned is true the routine owns both texts (they
  /// come from array new) and deletes them with delete[] once written, also
  /// when it refuses the entry; when false it must copy what it keeps before
  /// returning. Returns whether the entry was accepted.
  virtual unsigned char Enqueue(const char* sender, const char* message, unsigned char owned) = 0;
};

#endif  // VXKERNEL_LOG_KSYSLOG_ASYCHBUFFERROUTINE_H_
