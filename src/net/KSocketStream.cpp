#include "vxkernel/net/KSocketStream.h"

#include "vxkernel/net/KISocket.h"
#include "vxkernel/net/KOSocket.h"
#include "vxkernel/net/KSocket.h"

long KSocketStream::SubclassFlush(char* buffer, long count) {
  if (fMode != 1) return fSocket->Write(buffer, count);
  long n = !fSocket->Blocking() || fSocket->ReadTimeout() == 0
               ? fSocket->Read(buffer, count)
               : fSocket->ReadWithTimeout(buffer, count,
                                          static_cast<unsigned short>(fSocket->ReadTimeout()));
  return n < 0 ? -1 : n;
}

// The stream is opened after fData exists (a base cannot open over a member
// that is not yet constructed); the destructor closes it while fData lives.
KISocket::KISocket(KSocket* socket) : fData(1, socket) { open(1, &fData); }

KISocket::~KISocket() { close(); }

KOSocket::KOSocket(KSocket* socket) : fData(2, socket) { open(2, &fData); }

KOSocket::~KOSocket() { close(); }
