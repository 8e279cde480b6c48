#include "serve_pool.h"

#include "vxkernel/runtime/KAt.h"

namespace serve {

Pool::Pool(int threads, Work work, After after) : fWork(std::move(work)), fAfter(std::move(after)) {
  for (int i = 1; i <= threads; ++i) fThreads.emplace_back([this, i] { Loop(i); });
}

Pool::~Pool() { Stop(); }

void Pool::Submit(Conn* conn) {
  KMutexGuard g(fMutex);
  fQueue.push_back(conn);
  fReady.Signal();
}

void Pool::Stop() {
  {
    KMutexGuard g(fMutex);
    fStopping = true;
    fReady.Broadcast();
  }
  for (std::thread& t : fThreads)
    if (t.joinable()) t.join();
}

void Pool::Loop(int worker) {
  for (;;) {
    Conn* conn = nullptr;
    {
      KMutexGuard g(fMutex);
      while (fQueue.empty() && !fStopping) fReady.Wait(fMutex);
      if (fQueue.empty()) return;
      conn = fQueue.front();
      fQueue.pop_front();
    }
    ++fBusy;
    void* previous = KAt::UseThreadStartup(conn->context);
    int result = fWork(conn, worker);
    KAt::UseThreadStartup(previous);
    fAfter(conn, result);
    --fBusy;
  }
}

}  // namespace serve
