// The worker threads: they run request handlers and nothing else (the
// connection loop does every read, write and wait).
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_POOL_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_POOL_H_

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "vxkernel/threads/KCondition.h"
#include "vxkernel/threads/KMutex.h"

namespace serve {

// A fixed number of threads taking jobs from one queue; work gets the job
// and the worker's number (1..threads). Owns its threads; Stop joins them
// once the queue is empty.
//
// Thread rule: Submit and Stop from any thread.
class Pool {
 public:
  using Work = std::function<void(void* job, int worker)>;
  Pool(int threads, Work work);
  ~Pool();
  void Submit(void* job);
  void Stop();
  int Threads() const { return static_cast<int>(fThreads.size()); }
  int Busy() const { return fBusy.load(); }

 private:
  void Loop(int worker);

  Work fWork;  // constant after construction
  std::vector<std::thread> fThreads;
  KMutex fMutex;
  KCondition fReady;
  std::deque<void*> fQueue VXK_GUARDED_BY(fMutex);
  bool fStopping VXK_GUARDED_BY(fMutex) = false;
  std::atomic<int> fBusy{0};
};

// A pool of one thread for InBackground's work.
std::unique_ptr<Pool> MakeBackground();

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_POOL_H_
