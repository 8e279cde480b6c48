// The socket package: its process-ring participant. Included by the
// package table.
#ifndef VXKERNEL_NET_NET_PACKAGE_H_
#define VXKERNEL_NET_NET_PACKAGE_H_

#include "vxkernel/runtime/KAt.h"

// Process-ring participant (priority 8). Does nothing at start-up or
// shut-down: the socket library starts with the first KWSASocket and stops
// with KWSASocket::Cleanup. The package table holds the one instance.
class KWSASocketPkg : public KAtProcess {
 public:
  KWSASocketPkg();
  ~KWSASocketPkg() override;

 protected:
  void Startup() override {}
  void Shutdown() override {}
};

#endif  // VXKERNEL_NET_NET_PACKAGE_H_
