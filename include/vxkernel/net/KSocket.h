/// \file
/// KSocket: the library's abstract stream socket.
#ifndef VXKERNEL_NET_KSOCKET_H_
#define VXKERNEL_NET_KSOCKET_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// A stream socket: open a listening socket on a service or port, connect to
/// a host's service, accept, read (with or without a time limit), write,
/// close, learn the peer's address. KWSASocket implements it.
///
/// A socket registered for events reports them to its callback with an event
/// code (kAcceptEvent, kDataEvent). Not synchronized: one thread at a time
/// per socket; callbacks arrive on the library's readiness thread.
class VXKERNEL_EXPORT KSocket {
 public:
  /// Called with the socket, its context and the event code.
  typedef void (*EventCallback)(KSocket* socket, void* context, short event);
  /// The event codes: data arrived or the peer closed (the next Read tells
  /// which), or a connection waits to be accepted.
  static constexpr short kDataEvent = 0;
  static constexpr short kAcceptEvent = 3;

  /// The address family of a server: kIPv6 asks for IPv6, any other value
  /// means IPv4.
  enum FamilyHint : int { kIPv4 = 1, kIPv6 = 2 };

  struct PeerInfo {
    unsigned short fPort;  ///< host order
    KString fAddress;      ///< numeric, without the port
  };

  KSocket() = default;
  virtual ~KSocket();
  KSocket(const KSocket&) = delete;
  KSocket& operator=(const KSocket&) = delete;

  /// Formats port with "%lu" and calls OpenServiceAsServer.
  virtual bool OpenServer(unsigned short port, FamilyHint hint = kIPv4);
  virtual bool OpenServiceAsServer(const char* service, FamilyHint hint) = 0;
  /// Formats port with "%lu" and calls OpenServiceAsClient.
  virtual bool OpenClient(const char* host, unsigned short port);
  virtual bool OpenServiceAsClient(const char* host, const char* service) = 0;
  /// Not supported by the base: false.
  virtual bool ConnectBegin(const char* host, unsigned short port);
  virtual bool ConnectComplete();
  virtual bool Accept(KSocket* client) = 0;
  /// Bytes read; 0 when a non-blocking socket has no data; -1 at the end of
  /// the stream or on error (and IsEOF becomes true).
  virtual long Read(char* buffer, long size) = 0;
  /// Read after waiting up to milliseconds for data: 0 when none came, -2
  /// when the wait failed. The base gives -2.
  virtual long ReadWithTimeout(char* buffer, long size, unsigned short milliseconds);
  /// Sends all of data (size -1: a zero-terminated text); the bytes sent, or
  /// -1 on error.
  virtual long Write(const char* data, long size) = 0;
  virtual bool Close() = 0;
  virtual bool GetPeerInfo(PeerInfo& info) = 0;
  /// The numeric addresses of host, the first only unless all, separated by
  /// separator; empty when host cannot be resolved.
  virtual KString GetAddrByName(const char* host, unsigned char all, char separator) = 0;

  static bool IsNetworkAvailable() { return true; }

  // ===== Flags =====
  unsigned char IsConnecting() const { return fConnecting; }
  void Connecting(unsigned char on) { fConnecting = on; }
  unsigned char IsEOF() const { return fEOF; }
  void EndOfFile(unsigned char on) { fEOF = on; }
  unsigned char Blocking() const { return fBlocking; }
  /// Calls OnBlockingSet, then stores the flag.
  void Blocking(unsigned char blocking);
  short ReadTimeout() const { return fReadTimeout; }
  void ReadTimeout(short milliseconds) { fReadTimeout = milliseconds; }
  long Security() const { return fSecurity; }
  void Security(long level) { fSecurity = level; }
  unsigned char IsOpen() const { return fOpen; }
  void Opened(unsigned char on) { fOpen = on; }
  unsigned char Server() const { return fServer; }
  void Server(unsigned char on) { fServer = on; }
  EventCallback Callback() const { return fCallback; }
  void Callback(EventCallback callback) { fCallback = callback; }
  void* Context() const { return fContext; }
  void Context(void* context) { fContext = context; }

 protected:
  /// Told of Blocking(blocking) before the flag changes. Nothing in the base.
  virtual void OnBlockingSet(unsigned char blocking);

 private:
  unsigned char fConnecting = 0;
  unsigned char fEOF = 0;
  unsigned char fBlocking = 0;
  short fReadTimeout = 0;
  long fSecurity = 0;
  unsigned char fOpen = 0;
  unsigned char fServer = 0;
  EventCallback fCallback = nullptr;
  void* fContext = nullptr;
};

#endif  // VXKERNEL_NET_KSOCKET_H_
