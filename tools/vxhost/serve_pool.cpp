#include "serve_pool.h"

#include <memory>

#include "serve_app.h"

namespace serve {

Pool::Pool(int threads, Work work) : fWork(std::move(work)) {
  for (int i = 1; i <= threads; ++i) fThreads.emplace_back([this, i] { Loop(i); });
}

Pool::~Pool() { Stop(); }

void Pool::Submit(void* job) {
  KLockGuard g(fMutex);
  fQueue.push_back(job);
  fReady.Signal();
}

void Pool::Stop() {
  {
    KLockGuard g(fMutex);
    fStopping = true;
    fReady.Broadcast();
  }
  for (std::thread& t : fThreads)
    if (t.joinable()) t.join();
}

void Pool::Loop(int worker) {
  for (;;) {
    void* job = nullptr;
    {
      KLockGuard g(fMutex);
      while (fQueue.empty() && !fStopping) fReady.Wait(fMutex);
      if (fQueue.empty()) return;
      job = fQueue.front();
      fQueue.pop_front();
    }
    ++fBusy;
    fWork(job, worker);
    --fBusy;
  }
}

void InBackground(App& app, std::function<void()> work) {
  if (app.background == nullptr) return work();
  app.background->Submit(new std::function<void()>(std::move(work)));
}

// The background pool's jobs are the functions InBackground made.
std::unique_ptr<Pool> MakeBackground() {
  return std::make_unique<Pool>(1, [](void* job, int) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(job));
    (*work)();
  });
}

}  // namespace serve
