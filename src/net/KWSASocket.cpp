#include "vxkernel/net/KWSASocket.h"

#include <cstring>
#include <string>
#include <vector>

#include "base/debug_line.h"
#include "net/routing_internal.h"
#include "port/port.h"
#include "vxkernel/threads/KLockGuard.h"

KWSASocket::WindowHandler KWSASocket::gWindowHandler = nullptr;
long KWSASocket::gWindowMessage = 0;

namespace {

const char* OrEmpty(const char* s) { return s != nullptr ? s : ""; }

}  // namespace

// ===== Socket library and routing =====

KWSASocket::KWSASocket() {
  KWSASocketRouting& r = KWSASocketRouting::Get();
  KLockGuard g(r.fLock);
  if (!r.fStarted) Startup();
}

KWSASocket::~KWSASocket() { Close(); }

bool KWSASocket::Startup() {
  KWSASocketRouting& r = KWSASocketRouting::Get();
  KLockGuard g(r.fLock);
  if (r.fStarted) return true;
  r.fSet = port::ReadinessCreate();
  if (r.fSet == nullptr) {
    vxk_internal::DebugText("Could not WSAStartup\n");
    return false;
  }
  for (KWSASocketRouting::Entry& e : r.fEntries) {
    e.handle = 0;
    e.socket = nullptr;
  }
  r.fStarted = true;
  return true;
}

void KWSASocket::Cleanup() {
  KWSASocketRouting& r = KWSASocketRouting::Get();
  r.StopThread();
  KLockGuard g(r.fLock);
  if (!r.fStarted) return;
  for (KWSASocketRouting::Entry& e : r.fEntries) {
    if (e.socket != nullptr) r.Release(e.socket);
  }
  port::ReadinessDestroy(r.fSet);
  r.fSet = nullptr;
  r.fStarted = false;
}

void KWSASocket::AllowAsync(WindowHandler handler, long message) {
  KWSASocketRouting& r = KWSASocketRouting::Get();
  KLockGuard g(r.fLock);
  if (!r.fStarted) Startup();
  gWindowHandler = handler;
  gWindowMessage = message;
  if (handler != nullptr) r.StartThread();
}

void KWSASocket::WmWinSockSelect(unsigned int socket, long event) {
  KWSASocketRouting& r = KWSASocketRouting::Get();
  KLockGuard g(r.fLock);
  for (const KWSASocketRouting::Entry& e : r.fEntries) {
    if (e.socket != nullptr && static_cast<unsigned int>(e.handle) == socket) {
      KWSASocketRouting::Deliver(e.socket, event & 0xFFFF);
      return;
    }
  }
}

void KWSASocket::WmWinSockAsync(unsigned int, long) {}

void KWSASocket::OnBlockingSet(unsigned char blocking) {
  if (blocking || fSocket < 0 || fRegistered) return;
  KWSASocketRouting& r = KWSASocketRouting::Get();
  KLockGuard g(r.fLock);
  r.Register(this);
}

bool KWSASocket::Routed() const { return !Blocking() && gWindowHandler != nullptr; }

void KWSASocket::Adopt(int handle, bool server, bool route) {
  fSocket = handle;
  Server(server ? 1 : 0);
  Opened(1);
  if (!route) return;
  KWSASocketRouting& r = KWSASocketRouting::Get();
  KLockGuard g(r.fLock);
  if (!r.Register(this)) port::SocketSetNonBlocking(handle, false);
}

// ===== Opening =====

bool KWSASocket::OpenServiceAsServer(const char* service, FamilyHint hint) {
  std::vector<port::SocketAddress> addresses;
  std::string error;
  if (!port::SocketResolve(nullptr, service, hint == kIPv6 ? 6 : 4, true, &addresses, &error)) {
    vxk_internal::DebugText("KWSASocket::OpenServiceAsServer getaddrinfo: ", error,
                            " for service ", OrEmpty(service), '\n');
    return false;
  }
  if (addresses.empty()) return false;
  int fd = port::SocketListen(addresses.front());
  if (fd < 0) return false;
  Close();
  Adopt(fd, true, Routed());
  return true;
}

bool KWSASocket::OpenServiceAsClient(const char* host, const char* service) {
  std::vector<port::SocketAddress> addresses;
  std::string error;
  if (!port::SocketResolve(host, service, 0, false, &addresses, &error)) {
    vxk_internal::DebugText("KWSASocket::OpenServiceAsClient getaddrinfo: ", error, " for host ",
                            OrEmpty(host), " service ", OrEmpty(service), '\n');
    return false;
  }
  for (const port::SocketAddress& a : addresses) {
    int fd = port::SocketConnect(a);
    if (fd < 0) continue;
    Close();
    Adopt(fd, false, Routed());
    return true;
  }
  return false;
}

bool KWSASocket::Accept(KSocket* client) {
  auto* target = dynamic_cast<KWSASocket*>(client);
  if (fSocket < 0 || target == nullptr) return false;
  // A connection that will be registered is made non-blocking at once.
  bool routed = target->Routed();
  int fd = port::SocketAccept(static_cast<int>(fSocket), routed);
  if (fd < 0) return false;
  // More connections may wait: have them reported again.
  if (fRegistered) port::ReadinessRearm(KWSASocketRouting::Get().fSet, static_cast<int>(fSocket), fKey);
  target->Close();
  target->Adopt(fd, false, routed);
  return true;
}

// ===== Transfer =====

long KWSASocket::Read(char* buffer, long size) {
  if (fSocket < 0) {
    EndOfFile(1);
    return -1;
  }
  if (size <= 0) return 0;
  long n = port::SocketReceive(static_cast<int>(fSocket), buffer, size);
  if (n > 0) {
    // A full buffer may have left data behind: have it reported again.
    if (n == size && fRegistered)
      port::ReadinessRearm(KWSASocketRouting::Get().fSet, static_cast<int>(fSocket), fKey);
    return n;
  }
  if (n == -1) return 0;  // would block
  EndOfFile(1);
  return -1;
}

long KWSASocket::ReadWithTimeout(char* buffer, long size, unsigned short milliseconds) {
  if (fSocket < 0) return -2;
  int ready = port::SocketWait(static_cast<int>(fSocket), false, milliseconds);
  if (ready > 0) return Read(buffer, size);
  return ready == 0 ? 0 : -2;
}

long KWSASocket::Write(const char* data, long size) {
  if (size == -1) size = data != nullptr ? static_cast<long>(std::strlen(data)) : 0;
  if (fSocket < 0 || size < 0) return -1;
  const int fd = static_cast<int>(fSocket);
  long sent = 0;
  while (sent < size) {
    long n = port::SocketSend(fd, data + sent, size - sent);
    if (n >= 0) {
      sent += n;
    } else if (n == -2 || port::SocketWait(fd, true, port::kWaitForever) < 0) {
      return -1;
    }
  }
  return sent;
}

bool KWSASocket::Close() {
  if (fSocket < 0) return false;
  {
    KWSASocketRouting& r = KWSASocketRouting::Get();
    KLockGuard g(r.fLock);
    if (fRegistered) r.Release(this);
    port::SocketClose(static_cast<int>(fSocket));
  }
  fSocket = -1;
  Server(0);
  Opened(0);
  return true;
}

// ===== Addresses =====

bool KWSASocket::GetPeerInfo(PeerInfo& info) {
  unsigned short port = 0;
  std::string address;
  if (fSocket < 0 || !port::SocketPeer(static_cast<int>(fSocket), &port, &address)) return false;
  if (address.size() > 66) address.resize(66);
  info.fPort = port;
  info.fAddress = KString(address.c_str());
  return true;
}

KString KWSASocket::GetAddrByName(const char* host, unsigned char all, char separator) {
  std::vector<port::SocketAddress> addresses;
  std::string error;
  KString result;
  if (!port::SocketResolve(host, nullptr, 0, false, &addresses, &error)) {
    vxk_internal::DebugText("KWSASocket::GetAddrByName getaddrinfo: ", error, " for host ",
                            OrEmpty(host), '\n');
    return result;
  }
  for (const port::SocketAddress& a : addresses) {
    std::string text = port::SocketAddressText(a);
    if (result.Length() != 0) result += separator;
    result += text.c_str();
    if (!all) break;
  }
  return result;
}

unsigned short KWSASocket::LocalPort() const {
  return fSocket < 0 ? 0 : port::SocketLocalPort(static_cast<int>(fSocket));
}
