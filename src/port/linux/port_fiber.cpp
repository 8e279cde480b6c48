// Fibers with their own stack switch: a stack from mmap with a guard page
// below it, and a switch that saves the callee-saved registers and the
// floating-point control words on the stack it leaves. glibc's swapcontext
// would also save and restore the signal mask, two system calls on every
// switch, and AddressSanitizer only half supports it. The sanitizers are
// told of every switch, or they would take the other stack for an overflow
// (ASan: a throw on the fiber leaves its frames poisoned) or for another
// thread's (TSan).
#include <sys/mman.h>
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

// vxk_fiber_switch(&saved, next): pushes the callee-saved registers and the
// MXCSR and x87 control words, stores the stack pointer in saved, loads
// next and pops the same from there. A new fiber's stack is laid out as if
// it had switched away just before vxk_fiber_start, which calls r13(r12)
// with the stack aligned as a call needs.
extern "C" void vxk_fiber_switch(void** saved, void* next);
extern "C" void vxk_fiber_start();
asm(R"(
  .text
  .globl vxk_fiber_switch
  .hidden vxk_fiber_switch
  .type vxk_fiber_switch, @function
vxk_fiber_switch:
  pushq %rbp
  pushq %rbx
  pushq %r12
  pushq %r13
  pushq %r14
  pushq %r15
  subq $8, %rsp
  stmxcsr (%rsp)
  fnstcw 4(%rsp)
  movq %rsp, (%rdi)
  movq %rsi, %rsp
  ldmxcsr (%rsp)
  fldcw 4(%rsp)
  addq $8, %rsp
  popq %r15
  popq %r14
  popq %r13
  popq %r12
  popq %rbx
  popq %rbp
  ret
  .size vxk_fiber_switch, .-vxk_fiber_switch

  .globl vxk_fiber_start
  .hidden vxk_fiber_start
  .type vxk_fiber_start, @function
vxk_fiber_start:
  movq %r12, %rdi
  callq *%r13
  ud2
  .size vxk_fiber_start, .-vxk_fiber_start
)");

namespace port {

struct Fiber {
  void* sp = nullptr;        // the fiber's stack pointer while it is switched away
  void* callerSp = nullptr;  // the resumer's while the fiber runs
  char* map = nullptr;       // guard page, then the stack
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

// Switches into the fiber or back out. Each side keeps the fake stack of
// AddressSanitizer's use-after-return check it had (saved in its own frame,
// restored when it runs again); only the fiber's last switch out hands
// none, which lets the sanitizer free the finished fiber's.
void Switch(Fiber* f, bool intoFiber, bool last = false) {
#ifdef VXK_FIBER_ASAN
  void* fakeStack = nullptr;
  const size_t page = PageBytes();
  if (intoFiber) {
    __sanitizer_start_switch_fiber(&fakeStack, f->map + page, f->mapBytes - page);
  } else {
    __sanitizer_start_switch_fiber(last ? nullptr : &fakeStack, f->callerBottom, f->callerSize);
  }
#endif
#ifdef VXK_FIBER_TSAN
  __tsan_switch_to_fiber(intoFiber ? f->tsanSelf : f->tsanCaller, 0);
#endif
  if (intoFiber) vxk_fiber_switch(&f->callerSp, f->sp);
  else vxk_fiber_switch(&f->sp, f->callerSp);
#ifdef VXK_FIBER_ASAN
  if (intoFiber) {
    __sanitizer_finish_switch_fiber(fakeStack, nullptr, nullptr);
  } else {
    __sanitizer_finish_switch_fiber(fakeStack, &f->callerBottom, &f->callerSize);
  }
#endif
  (void)last;
}

// The first code a fiber runs; it never returns (the stack has nowhere to
// go): its last switch leaves the stack for good.
void FiberMain(Fiber* f) {
#ifdef VXK_FIBER_ASAN
  __sanitizer_finish_switch_fiber(nullptr, &f->callerBottom, &f->callerSize);
#endif
  f->body(f->argument);
  f->running = false;
  Switch(f, false, true);
  __builtin_trap();
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
  // Top down: an empty slot keeping the start's calls aligned, the return
  // address (vxk_fiber_start), rbp, rbx, r12 = f, r13 = FiberMain, r14,
  // r15, then the MXCSR and x87 control words at their reset values.
  auto* top = reinterpret_cast<uint64_t*>((reinterpret_cast<uintptr_t>(f->map + f->mapBytes)) & ~uintptr_t{15});
  uint64_t* sp = top - 10;
  sp[0] = 0x1F80 | (uint64_t{0x037F} << 32);
  sp[1] = 0;                                          // r15
  sp[2] = 0;                                          // r14
  sp[3] = reinterpret_cast<uint64_t>(&FiberMain);     // r13
  sp[4] = reinterpret_cast<uint64_t>(f);              // r12
  sp[5] = 0;                                          // rbx
  sp[6] = 0;                                          // rbp
  sp[7] = reinterpret_cast<uint64_t>(&vxk_fiber_start);
  sp[8] = 0;
  sp[9] = 0;
  f->sp = sp;
  f->body = body;
  f->argument = argument;
  f->running = true;
}

bool FiberResume(Fiber* f) {
  if (!f->running) return false;
#ifdef VXK_FIBER_TSAN
  f->tsanCaller = __tsan_get_current_fiber();
#endif
  Switch(f, true);
  return f->running;
}

void FiberYield(Fiber* f) { Switch(f, false); }

}  // namespace port
