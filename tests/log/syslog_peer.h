// Private logs for tests: the process's log can be created only once.
#ifndef VXKERNEL_TESTS_LOG_SYSLOG_PEER_H_
#define VXKERNEL_TESTS_LOG_SYSLOG_PEER_H_

#include <memory>

#include "vxkernel/log/KSysLog.h"

class KSysLogTestPeer {
 public:
  static std::unique_ptr<KSysLog> New() { return std::unique_ptr<KSysLog>(new KSysLog()); }
};

#endif  // VXKERNEL_TESTS_LOG_SYSLOG_PEER_H_
