// The worker threads. Each turn of a worker serves one connection inside
// that connection's own ring context, so per-thread library state follows
// the client from thread to thread rather than staying with a thread.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_POOL_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_POOL_H_

#include <atomic>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "serve_net.h"
#include "vxkernel/threads/KCondition.h"
#include "vxkernel/threads/KMutex.h"

namespace serve {

// A fixed number of threads taking connections from one queue. work runs
// with the connection's context installed (KAt::UseThreadStartup) and the
// worker's number (1..threads); its result goes to after, which runs once
// the worker's own context is back (so after may destroy the connection's).
// Owns its threads; Stop joins them after the queue is empty.
//
// Thread rule: Submit and Stop from any thread.
class Pool {
 public:
  using Work = std::function<int(Conn*, int worker)>;
  using After = std::function<void(Conn*, int result)>;
  Pool(int threads, Work work, After after);
  ~Pool();
  void Submit(Conn* conn);
  void Stop();
  int Threads() const { return static_cast<int>(fThreads.size()); }
  int Busy() const { return fBusy.load(); }

 private:
  void Loop(int worker);

  Work fWork;                       // constant after construction
  After fAfter;
  std::vector<std::thread> fThreads;
  KMutex fMutex;                    // guards fQueue and fStopping
  KCondition fReady;
  std::deque<Conn*> fQueue;
  bool fStopping = false;
  std::atomic<int> fBusy{0};
};

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_POOL_H_
