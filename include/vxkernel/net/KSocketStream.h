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
  /// Mode 1 reads socket, any other mode writes it; socket is not owned
  /// and must outlive this.
  KSocketStream(short mode, KSocket* socket) : fMode(mode), fSocket(socket) {}
  /// The socket given to the constructor (not owned).
  KSocket* Socket() const { return fSocket; }

 protected:
  /// Mode 1: a read as the class comment says, any negative result -1.
  /// Otherwise KSocket::Write: count bytes, or -1.
  long SubclassFlush(char* buffer, long count) override;

 private:
  short fMode;
  KSocket* fSocket;
};

#endif  // VXKERNEL_NET_KSOCKETSTREAM_H_
