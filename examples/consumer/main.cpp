// Starts the library, uses a per-thread context from a worker thread, and
// shuts down: the smallest complete host.
#include <cstdio>
#include <thread>

#include "vxkernel/vxkernel.h"

namespace {

// A module of the host with per-thread state.
class Counter : public KThreadGlobals {
 public:
  long* Value() const { return static_cast<long*>(User1()); }

 protected:
  void Init() override { User1(new long(0)); }
  void Cleanup() override { delete Value(); }
};

Counter gCounter;

}  // namespace

// The host's C client component (client.c).
extern "C" int client_demo(void);

int main() {
  KAt::ProcessStartup(1);
  std::thread worker([] {
    KAt::ThreadStartup();
    for (int i = 0; i < 3; ++i) ++*gCounter.Value();
    std::printf("worker counted %ld\n", *gCounter.Value());
    KAt::ThreadShutdown();
  });
  worker.join();
  std::printf("main counted %ld with vxkernel %s\n", *gCounter.Value(), KLibraryInfo::Version());
  const int clientOk = client_demo();
  KAt::ProcessShutdown(1);
  return clientOk ? 0 : 1;
}
