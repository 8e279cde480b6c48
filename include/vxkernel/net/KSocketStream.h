/// \file
/// KSocketStream: the transfer of a socket's buffered streams.
#ifndef VXKERNEL_NET_KSOCKETSTREAM_H_
#define VXKERNEL_NET_KSOCKETSTREAM_H_

#include "vxkernel/export.h"
#include "vxkernel/streams/KStreamData.h"

class KSocket;

/// Reads (mode 1) or writes (mode 2) blocks of a socket it does not own.
/// An input stream reads with Read when the socket is non-blocking or has no
/// read timeout, and with ReadWithTimeout and that timeout otherwise (so a
/// time-out, like a non-blocking socket without data, reads as the end).
/// Not synchronized.
class VXKERNEL_EXPORT KSocketStream : public KStreamData {
 public:
  KSocketStream(short mode, KSocket* socket) : fMode(mode), fSocket(socket) {}
  KSocket* Socket() const { return fSocket; }

 protected:
  long SubclassFlush(char* buffer, long count) override;

 private:
  short fMode;
  KSocket* fSocket;
};

#endif  // VXKERNEL_NET_KSOCKETSTREAM_H_
