// The connection loops: a few threads (one per CPU by default), each
// owning the connections it accepted and driving them by readiness
// (edge-triggered epoll): it accepts, reads request heads and bodies,
// writes responses (files with sendfile), runs quick handlers itself, parks
// log long polls and enforces every deadline and per-address cap. Workers
// run the other handlers. So an idle, slow or stalled client costs a few
// hundred bytes of memory and no thread.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_LOOP_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_LOOP_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace serve {

struct App;

// Thread rule: Listen and Run on one thread (Run starts the other loops'
// threads and returns once all have ended); WakeLogPolls and Stats from
// any thread.
class Loop {
 public:
  struct Figures {
    long open = 0;            // connections open now
    long refused = 0;         // connections closed at once: over conns_per_address
    long limited = 0;         // requests answered 429: over requests_per_second_per_address
    long writeTimeouts = 0;   // clients dropped because they stopped reading
  };

  explicit Loop(App& app);
  ~Loop();
  // Binds host:port (0 picks a free one) once for each loop; *address gets
  // "HOST:PORT" as bound. The error names the cause and the fix.
  bool Listen(const std::string& host, int port, std::string* address, std::string* error);
  // Serves until stop() is true (checked every 100 ms), then stops
  // accepting, cuts off bodies in progress, answers parked polls, lets
  // running handlers and writes finish and closes everything.
  void Run(const std::function<bool()>& stop);
  // Re-runs every parked log poll: the log has new entries.
  void WakeLogPolls();
  Figures Stats() const;

  struct Impl;  // what the loops share (serve_loop.cpp)

 private:
  std::unique_ptr<Impl> fImpl;
};

// Milliseconds of a monotonic clock.
int64_t MonotonicMs();

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_LOOP_H_
