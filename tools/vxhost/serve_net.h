// The server's sockets: one listening socket, the accepted connections and
// the readiness routing that hands a connection to the pool when bytes wait.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_NET_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_NET_H_

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace serve {

class Net;

// One accepted connection. Owned by the Net; between Watch and the
// readiness callback it belongs to the Net, otherwise to the one worker
// the callback handed it to. Not synchronized: the owner alone uses it.
class Conn {
 public:
  // Receives once: the byte count, 0 when nothing waits, -1 when the peer
  // closed or the connection failed.
  long Read(char* buffer, long size);
  // As Read, waiting up to ms for bytes: 0 when none came in time.
  long ReadWait(char* buffer, long size, int ms);
  // Sends everything (waiting while the peer is slow, up to ms per wait).
  bool Write(const char* data, size_t n, int ms = 30000);
  const std::string& Peer() const { return fPeer; }
  // False for a connection beyond the sockets the readiness routing
  // takes: it gets no readiness callbacks, so its worker waits for it
  // with Prefetch instead of handing it back with Watch.
  bool Routed() const;
  // Waits up to ms for bytes and keeps them for the next Read; false when
  // none came, the peer closed or stop became true.
  bool Prefetch(int ms, const std::atomic<bool>& stop);

  void* context = nullptr;  // the connection's ring context (serve_pool)
  void* state = nullptr;    // the pool's per-connection state

 private:
  friend class Net;
  struct Impl;
  std::unique_ptr<Impl> fImpl;
  std::string fPeer;
  // Guarded by the Net's lock.
  int64_t fDeadline = 0;  // monotonic ms; while watched
  bool fWatched = false;
  bool fPending = false;  // readable while a worker had it
  void* fNet = nullptr;   // the Net's state, for the socket's callback
 public:
  Conn();
  ~Conn();
};

// Listens on one address; connections and readiness are reported by the
// library's readiness thread, deadlines by Run on the calling thread.
// Watch and Close may be called from any thread; accepted and readable
// run on the readiness thread (with the routing lock held), expired on
// Run's thread; each must hand the connection on quickly.
class Net {
 public:
  struct Callbacks {
    std::function<void(Conn*)> accepted;  // a new connection (not yet watched)
    std::function<void(Conn*)> readable;  // a watched connection has bytes or closed
    std::function<void(Conn*)> expired;   // a watched connection passed its deadline
  };

  Net();
  ~Net();
  // Binds host:port (0 picks a free one) and reports through callbacks
  // from then on; *address gets "HOST:PORT" as bound.
  bool Listen(const std::string& host, int port, const Callbacks& callbacks, std::string* address,
              std::string* error);
  // Runs the deadlines until stop() is true (checked every 100 ms);
  // readiness and new connections are reported meanwhile from the
  // library's readiness thread.
  void Run(const std::function<bool()>& stop);
  // Hands the connection back to the loop until it is readable or timeoutMs
  // passed; false (the caller keeps it) once the loop has ended.
  bool Watch(Conn* conn, int timeoutMs);
  // Closes and frees the connection. REQUIRES: the caller owns it.
  void Close(Conn* conn);
  // Connections open now.
  long Open() const;
  // Closes the listening socket and stops the readiness routing.
  // REQUIRES: every connection is closed.
  // Closes the listening socket (waiting for a running accept callback),
  // so that no connection arrives once the workers begin to stop.
  void StopAccepting();
  void Shutdown();

 private:
  struct Impl;
  std::unique_ptr<Impl> fImpl;
};

// Milliseconds of a monotonic clock.
int64_t MonotonicMs();

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_NET_H_
