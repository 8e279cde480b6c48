/// \file
/// KISocket: an input stream reading a socket.
#ifndef VXKERNEL_NET_KISOCKET_H_
#define VXKERNEL_NET_KISOCKET_H_

#include "vxkernel/export.h"
#include "vxkernel/net/KSocketStream.h"
#include "vxkernel/streams/igstream.h"

/// An igstream over its own KSocketStream of mode 1; the socket is not
/// owned and must outlive the stream. Not synchronized.
class VXKERNEL_EXPORT KISocket : public igstream {
 public:
  /// Opens the stream for reading socket.
  explicit KISocket(KSocket* socket);
  ~KISocket() override;

 private:
  KSocketStream fData;
};

#endif  // VXKERNEL_NET_KISOCKET_H_
