/// \file
/// KOSocket: an output stream writing a socket.
#ifndef VXKERNEL_NET_KOSOCKET_H_
#define VXKERNEL_NET_KOSOCKET_H_

#include "vxkernel/export.h"
#include "vxkernel/net/KSocketStream.h"
#include "vxkernel/streams/ogstream.h"

/// An ogstream over its own KSocketStream of mode 2; the socket is not
/// owned and must outlive the stream. Not synchronized.
class VXKERNEL_EXPORT KOSocket : public ogstream {
 public:
  /// Opens the stream for writing socket.
  explicit KOSocket(KSocket* socket);
  ~KOSocket() override;

 private:
  KSocketStream fData;
};

#endif  // VXKERNEL_NET_KOSOCKET_H_
