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
  ///@{
  static constexpr short kDataEvent = 0;
  static constexpr short kAcceptEvent = 3;
  ///@}

  /// The address family of a server: kIPv6 asks for IPv6, any other value
  /// means IPv4.
  enum FamilyHint : int { kIPv4 = 1, kIPv6 = 2 };

  /// The far end of a connected socket, as GetPeerInfo fills it.
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
  /// Listens on service (a port number or a service name), replacing the
  /// socket this object held. False when the service cannot be resolved or
  /// bound; the socket held before stays then.
  virtual bool OpenServiceAsServer(const char* service, FamilyHint hint) = 0;
  /// Formats port with "%lu" and calls OpenServiceAsClient.
  virtual bool OpenClient(const char* host, unsigned short port);
  /// Connects to service on host, trying each address host resolves to in
  /// turn, and replaces the socket this object held. False when none
  /// answers; the socket held before stays then.
  virtual bool OpenServiceAsClient(const char* host, const char* service) = 0;
  /// A connection in two steps. Not supported by the base: false.
  ///@{
  virtual bool ConnectBegin(const char* host, unsigned short port);
  virtual bool ConnectComplete();
  ///@}
  /// Takes one waiting connection of this listening socket into client,
  /// which drops what it held (client is not owned and must be of the same
  /// implementation). False when none was accepted (a non-blocking listener
  /// with none waiting, or this socket not open).
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
  /// Closes the socket (it stops being registered for events); false when
  /// it was not open.
  virtual bool Close() = 0;
  /// Fills info with the peer's numeric address and port; false (info
  /// unchanged) when the socket is closed or not connected.
  virtual bool GetPeerInfo(PeerInfo& info) = 0;
  /// The numeric addresses of host, the first only unless all, separated by
  /// separator; empty when host cannot be resolved.
  virtual KString GetAddrByName(const char* host, unsigned char all, char separator) = 0;

  /// Always true: this platform keeps no offline state to consult.
  static bool IsNetworkAvailable() { return true; }

  // ===== Flags =====
  // All 0 (or null) for a new socket.

  /// A connection under way, for callers' bookkeeping: the library never
  /// sets it.
  ///@{
  unsigned char IsConnecting() const { return fConnecting; }
  void Connecting(unsigned char on) { fConnecting = on; }
  ///@}
  /// Set by Read at the end of the stream or on an error; the library
  /// never clears it.
  ///@{
  unsigned char IsEOF() const { return fEOF; }
  void EndOfFile(unsigned char on) { fEOF = on; }
  ///@}
  /// Not 0: the socket blocks and is not registered for events. 0 (the
  /// default): see the implementation's registration rule.
  unsigned char Blocking() const { return fBlocking; }
  /// Calls OnBlockingSet, then stores the flag.
  void Blocking(unsigned char blocking);
  /// Milliseconds a KSocketStream waits for data on a blocking socket; 0
  /// (the default): no limit.
  ///@{
  short ReadTimeout() const { return fReadTimeout; }
  void ReadTimeout(short milliseconds) { fReadTimeout = milliseconds; }
  ///@}
  /// A security level kept for callers; the library does not use it.
  ///@{
  long Security() const { return fSecurity; }
  void Security(long level) { fSecurity = level; }
  ///@}
  /// Whether the socket holds a connection or a listener; kept by the open,
  /// accept and close operations.
  ///@{
  unsigned char IsOpen() const { return fOpen; }
  void Opened(unsigned char on) { fOpen = on; }
  ///@}
  /// 1 for a listening socket, whose read readiness is reported as
  /// kAcceptEvent; kept by the open and close operations.
  ///@{
  unsigned char Server() const { return fServer; }
  void Server(unsigned char on) { fServer = on; }
  ///@}
  /// The function told of each event of a registered socket (null: events
  /// are dropped) and the context passed to it (not owned).
  ///@{
  EventCallback Callback() const { return fCallback; }
  void Callback(EventCallback callback) { fCallback = callback; }
  void* Context() const { return fContext; }
  void Context(void* context) { fContext = context; }
  ///@}

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
