// Fibers over ucontext: a stack from mmap with a guard page below it. The
// sanitizers are told of every switch, or they would take the other stack
// for an overflow (ASan: a throw on the fiber leaves its frames poisoned)
// or for another thread's (TSan).
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <new>

#include "port/port.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VXK_FIBER_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define VXK_FIBER_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VXK_FIBER_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define VXK_FIBER_TSAN 1
#endif

#ifdef VXK_FIBER_ASAN
extern "C" void __sanitizer_start_switch_fiber(void** fakeStackSave, const void* bottom, size_t size);
extern "C" void __sanitizer_finish_switch_fiber(void* fakeStackSave, const void** oldBottom,
                                                size_t* oldSize);
#endif
#ifdef VXK_FIBER_TSAN
extern "C" void* __tsan_get_current_fiber();
extern "C" void* __tsan_create_fiber(unsigned flags);
extern "C" void __tsan_destroy_fiber(void* fiber);
extern "C" void __tsan_switch_to_fiber(void* fiber, unsigned flags);
#endif

namespace port {

struct Fiber {
  ucontext_t self;
  ucontext_t caller;
  char* map = nullptr;  // guard page, then the stack
  size_t mapBytes = 0;
  void (*body)(void*) = nullptr;
  void* argument = nullptr;
  bool running = false;  // started and not returned
  const void* callerBottom = nullptr;
  size_t callerSize = 0;
#ifdef VXK_FIBER_TSAN
  void* tsanSelf = nullptr;
  void* tsanCaller = nullptr;
#endif
};

namespace {

size_t PageBytes() {
  long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? static_cast<size_t>(page) : 4096;
}

// Switches from one context to another: into the fiber or back out. The
// fake stacks of AddressSanitizer's use-after-return check are not handed
// over (null, as its interface allows): with them a server's body loop
// lost count of its bytes in the sanitizer build.
void Switch(Fiber* f, ucontext_t* from, ucontext_t* to, bool intoFiber) {
#ifdef VXK_FIBER_ASAN
  const size_t page = PageBytes();
  if (intoFiber) {
    __sanitizer_start_switch_fiber(nullptr, f->map + page, f->mapBytes - page);
  } else {
    __sanitizer_start_switch_fiber(nullptr, f->callerBottom, f->callerSize);
  }
#endif
#ifdef VXK_FIBER_TSAN
  __tsan_switch_to_fiber(intoFiber ? f->tsanSelf : f->tsanCaller, 0);
#endif
  swapcontext(from, to);
#ifdef VXK_FIBER_ASAN
  if (intoFiber) {
    __sanitizer_finish_switch_fiber(nullptr, nullptr, nullptr);
  } else {
    __sanitizer_finish_switch_fiber(nullptr, &f->callerBottom, &f->callerSize);
  }
#endif
  (void)f;
  (void)intoFiber;
}

// makecontext passes ints: the fiber's address comes in two halves.
void Trampoline(unsigned high, unsigned low) {
  Fiber* f = reinterpret_cast<Fiber*>((static_cast<uintptr_t>(high) << 32) | low);
#ifdef VXK_FIBER_ASAN
  __sanitizer_finish_switch_fiber(nullptr, &f->callerBottom, &f->callerSize);
#endif
  f->body(f->argument);
  f->running = false;
  Switch(f, &f->self, &f->caller, false);
}

}  // namespace

Fiber* FiberCreate(size_t stackBytes) {
  const size_t page = PageBytes();
  const size_t bytes = (stackBytes + page - 1) / page * page + page;
  void* map = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK,
                   -1, 0);
  if (map == MAP_FAILED) return nullptr;
  Fiber* f = new (std::nothrow) Fiber;
  if (f == nullptr || mprotect(map, page, PROT_NONE) != 0) {
    delete f;
    munmap(map, bytes);
    return nullptr;
  }
  f->map = static_cast<char*>(map);
  f->mapBytes = bytes;
#ifdef VXK_FIBER_TSAN
  f->tsanSelf = __tsan_create_fiber(0);
#endif
  return f;
}

void FiberDestroy(Fiber* f) {
  if (f == nullptr) return;
#ifdef VXK_FIBER_TSAN
  __tsan_destroy_fiber(f->tsanSelf);
#endif
  munmap(f->map, f->mapBytes);
  delete f;
}

void FiberStart(Fiber* f, void (*body)(void*), void* argument) {
  const size_t page = PageBytes();
  getcontext(&f->self);
  f->self.uc_stack.ss_sp = f->map + page;
  f->self.uc_stack.ss_size = f->mapBytes - page;
  f->self.uc_link = nullptr;
  const uintptr_t at = reinterpret_cast<uintptr_t>(f);
  makecontext(&f->self, reinterpret_cast<void (*)()>(&Trampoline), 2, static_cast<unsigned>(at >> 32),
              static_cast<unsigned>(at & 0xFFFFFFFFu));
  f->body = body;
  f->argument = argument;
  f->running = true;
}

bool FiberResume(Fiber* f) {
  if (!f->running) return false;
#ifdef VXK_FIBER_TSAN
  f->tsanCaller = __tsan_get_current_fiber();
#endif
  Switch(f, &f->caller, &f->self, true);
  return f->running;
}

void FiberYield(Fiber* f) { Switch(f, &f->self, &f->caller, false); }

}  // namespace port
