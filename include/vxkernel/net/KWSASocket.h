/// \file
/// KWSASocket: KSocket over the system's IPv4 and IPv6 stream sockets.
#ifndef VXKERNEL_NET_KWSASOCKET_H_
#define VXKERNEL_NET_KWSASOCKET_H_

#include <cstdint>

#include "vxkernel/export.h"
#include "vxkernel/net/KSocket.h"

/// A socket of the system, with event routing: once AllowAsync has been
/// given a window handler, a readiness thread of the library reports each
/// registered socket's events through WmWinSockSelect to its callback.
///
/// A socket is registered when it is opened, connected or accepted while not
/// blocking (the flag's default) and a handler is installed, or when
/// Blocking(0) is set on an open socket. A registered socket is non-blocking:
/// a read without data gives 0, and Write waits for room itself. At most
/// kMaxRouted sockets are registered at once; others get no callbacks and stay
/// blocking.
///
/// Callbacks run on the readiness thread with the routing lock held, so a
/// Close on any thread waits for a running callback of its socket and no
/// callback reaches a socket after its Close returned. A callback may call
/// anything of the library on its own socket or others (the lock is
/// re-entrant), but must not wait for a thread that is opening, accepting or
/// closing a socket. The owner destroys the socket; the destructor closes it.
class VXKERNEL_EXPORT KWSASocket : public KSocket {
 public:
  /// Any non-null value stands for the window that receives socket events.
  typedef void* Window;
  /// Returns the window that receives socket events (see AllowAsync).
  typedef Window (*WindowHandler)();

  /// The most sockets registered for events at once.
  static constexpr int kMaxRouted = 64;
  /// Event kinds of WmWinSockSelect.
  enum : long { kRead = 1, kWrite = 2, kOutOfBand = 4, kAccept = 8, kConnect = 16, kClose = 32 };

  KWSASocket();
  ~KWSASocket() override;

  /// Starts the socket library (the routing table and the readiness set);
  /// the first constructor calls it. False (with "Could not WSAStartup")
  /// when the readiness set cannot be made.
  static bool Startup();
  /// Stops the readiness thread and shuts the socket library down if it was
  /// started. REQUIRES: no socket is registered any more.
  static void Cleanup();
  /// Installs the handler and message; a non-null handler starts the
  /// readiness thread (once). A null handler stops the routing.
  static void AllowAsync(WindowHandler handler, long message);
  /// Routes event (kind in the low 16 bits) of the registered socket handle.
  static void WmWinSockSelect(unsigned int socket, long event);
  /// Does nothing: events are routed by WmWinSockSelect alone.
  static void WmWinSockAsync(unsigned int socket, long event);

  bool OpenServiceAsServer(const char* service, FamilyHint hint) override;
  bool OpenServiceAsClient(const char* host, const char* service) override;
  bool Accept(KSocket* client) override;
  long Read(char* buffer, long size) override;
  long ReadWithTimeout(char* buffer, long size, unsigned short milliseconds) override;
  long Write(const char* data, long size) override;
  bool Close() override;
  bool GetPeerInfo(PeerInfo& info) override;
  KString GetAddrByName(const char* host, unsigned char all, char separator) override;

  /// The address a server opened later binds: a host name or numeric
  /// address, whose family then wins over the hint. Null or empty (the
  /// default): the wildcard address of the hint's family.
  ///@{
  void ListenHost(const char* host) { fListenHost = host != nullptr ? host : ""; }
  const KString& ListenHost() const { return fListenHost; }
  ///@}

  /// The descriptor, -1 when closed.
  intptr_t Handle() const { return fSocket; }
  /// 1 while the socket is registered, so that its events reach Callback().
  unsigned char IsRegistered() const { return fRegistered; }
  /// The local port (host order) of an open socket, as a server on port 0
  /// learns the port it was given; 0 when closed.
  unsigned short LocalPort() const;

  /// The handler and message AllowAsync installed (null, 0 before). Set
  /// them through AllowAsync, which takes the routing lock.
  ///@{
  static WindowHandler gWindowHandler;
  static long gWindowMessage;
  ///@}

 protected:
  void OnBlockingSet(unsigned char blocking) override;

 private:
  friend struct KWSASocketRouting;

  /// Whether a socket opened now would be registered.
  bool Routed() const;
  /// Takes handle as this socket's connection or listener and registers it
  /// when route is true (a refused one is made blocking).
  void Adopt(int handle, bool server, bool route);

  intptr_t fSocket = -1;
  unsigned char fRegistered = 0;
  uint64_t fKey = 0;  ///< routing key while registered: generation, slot
  KString fListenHost;
};

#endif  // VXKERNEL_NET_KWSASOCKET_H_
