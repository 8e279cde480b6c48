// The server's sockets: one listening socket, the accepted connections and
// the readiness loop that hands a connection to the pool when bytes wait.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_NET_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_NET_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace serve {

class Net;

// One accepted connection. Owned by the Net; between Watch and the
// readiness callback it belongs to the loop, otherwise to the one worker
// the callback handed it to. Not synchronized.
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

  void* context = nullptr;  // the connection's ring context (serve_pool)
  void* state = nullptr;    // the pool's per-connection state

 private:
  friend class Net;
  struct Impl;
  std::unique_ptr<Impl> fImpl;
  std::string fPeer;
  int64_t fDeadline = 0;  // monotonic ms; while watched
  bool fWatched = false;
 public:
  Conn();
  ~Conn();
};

// Listens on one address and runs the readiness loop on the calling thread.
// Watch and Close may be called from any thread; the callbacks run on the
// loop's thread and must hand the connection on quickly.
class Net {
 public:
  struct Callbacks {
    std::function<void(Conn*)> accepted;  // a new connection (not yet watched)
    std::function<void(Conn*)> readable;  // a watched connection has bytes or closed
    std::function<void(Conn*)> expired;   // a watched connection passed its deadline
  };

  Net();
  ~Net();
  // Binds host:port (0 picks a free one); *address gets "HOST:PORT" as bound.
  bool Listen(const std::string& host, int port, std::string* address, std::string* error);
  // Runs until stop() is true (checked at least every 200 ms) .
  void Run(const Callbacks& callbacks, const std::function<bool()>& stop);
  // Hands the connection back to the loop until it is readable or timeoutMs
  // passed; false (the caller keeps it) once the loop has ended.
  bool Watch(Conn* conn, int timeoutMs);
  // Closes and frees the connection. REQUIRES: the caller owns it.
  void Close(Conn* conn);
  // Connections open now.
  long Open() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> fImpl;
};

// Milliseconds of a monotonic clock.
int64_t MonotonicMs();

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_NET_H_
