// The server's sockets on KWSASocket. The library's readiness thread
// reports a new connection on the listening socket and readable (or
// closed) connections through the sockets' callbacks; this file turns
// them into the Net's callbacks and runs the deadlines of the connections
// handed back with Watch.
#include "serve_net.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "vxkernel/net/KSocket.h"
#include "vxkernel/net/KWSASocket.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

namespace serve {

namespace {

constexpr long kStash = 16 * 1024;
constexpr short kAcceptEvent = 3;  // the callback code of an accept event

KWSASocket::Window TheWindow() { return reinterpret_cast<KWSASocket::Window>(1); }

}  // namespace

int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Conn::Impl {
  KWSASocket socket;
  std::string stash;  // bytes Prefetch read ahead
};

Conn::Conn() : fImpl(new Impl) {}
Conn::~Conn() = default;

bool Conn::Routed() const { return fImpl->socket.IsRegistered() != 0; }

long Conn::Read(char* buffer, long size) {
  if (!fImpl->stash.empty()) {
    long n = std::min<long>(size, static_cast<long>(fImpl->stash.size()));
    fImpl->stash.copy(buffer, static_cast<size_t>(n));
    fImpl->stash.erase(0, static_cast<size_t>(n));
    return n;
  }
  // A connection that is not routed stays blocking: ask without waiting.
  long n = Routed() ? fImpl->socket.Read(buffer, size) : fImpl->socket.ReadWithTimeout(buffer, size, 0);
  return n < 0 ? -1 : n;
}

long Conn::ReadWait(char* buffer, long size, int ms) {
  long n = Read(buffer, size);
  while (n == 0 && ms > 0) {
    int slice = std::min(ms, 60000);
    n = fImpl->socket.ReadWithTimeout(buffer, size, static_cast<unsigned short>(slice));
    ms -= slice;
  }
  return n < 0 ? -1 : n;
}

bool Conn::Prefetch(int ms, const std::atomic<bool>& stop) {
  char buf[kStash];
  long n = 0;
  for (int waited = 0; n == 0 && waited < ms && !stop; waited += 250)
    n = ReadWait(buf, kStash, std::min(250, ms - waited));
  if (n <= 0) return false;
  fImpl->stash.append(buf, static_cast<size_t>(n));
  return true;
}

bool Conn::Write(const char* data, size_t n, int) {
  while (n > 0) {
    long part = static_cast<long>(std::min<size_t>(n, 1 << 30));
    long w = fImpl->socket.Write(data, part);
    if (w != part) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

struct Net::Impl {
  KWSASocket listener;
  std::string host;
  Callbacks callbacks;  // constant once the listener is open
  mutable KLock lock{KLock::kCriticalSection};  // guards watched, ended and the Conn flags
  std::set<Conn*> watched;
  bool ended = false;
  std::atomic<long> open{0};

  static void OnListener(KSocket*, void* context, short event) {
    if (event == kAcceptEvent) static_cast<Net::Impl*>(context)->AcceptAll();
  }

  static void OnConn(KSocket*, void* context, short) {
    Conn* c = static_cast<Conn*>(context);
    Net::Impl* self = static_cast<Net::Impl*>(c->fNet);
    bool mine = false;
    {
      KLockGuard g(self->lock);
      if (c->fWatched) {
        c->fWatched = false;
        self->watched.erase(c);
        mine = true;
      } else {
        c->fPending = true;
      }
    }
    if (mine) self->callbacks.readable(c);
  }

  void AcceptAll() {
    for (;;) {
      Conn* c = new Conn;
      c->fNet = this;
      c->fImpl->socket.Callback(&OnConn);
      c->fImpl->socket.Context(c);
      if (!listener.Accept(&c->fImpl->socket)) {
        delete c;
        return;
      }
      KSocket::PeerInfo peer;
      if (c->fImpl->socket.GetPeerInfo(peer)) c->fPeer = std::string(peer.fAddress) + ":" + std::to_string(peer.fPort);
      ++open;
      callbacks.accepted(c);
    }
  }
};

Net::Net() : fImpl(new Impl) {}

Net::~Net() = default;

bool Net::Listen(const std::string& host, int port, const Callbacks& callbacks, std::string* address,
                 std::string* error) {
  KWSASocket::AllowAsync(&TheWindow, 1);
  fImpl->host = host;
  fImpl->callbacks = callbacks;
  fImpl->listener.Callback(&Impl::OnListener);
  fImpl->listener.Context(fImpl.get());
  bool v6 = host.find(':') != std::string::npos;
  // "*" listens on every interface; any other host is the one address bound.
  fImpl->listener.ListenHost(host == "*" ? nullptr : host.c_str());
  if (!fImpl->listener.OpenServer(static_cast<unsigned short>(port), v6 ? KSocket::kIPv6 : KSocket::kIPv4)) {
    *error = "cannot listen on port " + std::to_string(port);
    return false;
  }
  *address = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(fImpl->listener.LocalPort());
  return true;
}

void Net::Run(const std::function<bool()>& stop) {
  const Callbacks& callbacks = fImpl->callbacks;
  while (!stop()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<Conn*> late;
    int64_t now = MonotonicMs();
    {
      KLockGuard g(fImpl->lock);
      for (auto it = fImpl->watched.begin(); it != fImpl->watched.end();) {
        if ((*it)->fDeadline > now) {
          ++it;
          continue;
        }
        (*it)->fWatched = false;
        late.push_back(*it);
        it = fImpl->watched.erase(it);
      }
    }
    for (Conn* c : late) callbacks.expired(c);
  }
  std::set<Conn*> left;
  {
    KLockGuard g(fImpl->lock);
    fImpl->ended = true;
    left.swap(fImpl->watched);
    for (Conn* c : left) c->fWatched = false;
  }
  for (Conn* c : left) callbacks.expired(c);
}

bool Net::Watch(Conn* conn, int timeoutMs) {
  {
    KLockGuard g(fImpl->lock);
    if (fImpl->ended) return false;
    if (!conn->fPending) {
      conn->fWatched = true;
      conn->fDeadline = MonotonicMs() + timeoutMs;
      fImpl->watched.insert(conn);
      return true;
    }
    conn->fPending = false;
  }
  fImpl->callbacks.readable(conn);  // bytes came while a worker had it
  return true;
}

void Net::Close(Conn* conn) {
  conn->fImpl->socket.Close();  // waits for a running callback of the socket
  --fImpl->open;
  delete conn;
}

long Net::Open() const { return fImpl->open.load(); }

void Net::StopAccepting() { fImpl->listener.Close(); }

void Net::Shutdown() {
  fImpl->listener.Close();
  KWSASocket::AllowAsync(nullptr, 0);
  KWSASocket::Cleanup();
}

}  // namespace serve
