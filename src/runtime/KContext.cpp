// Per-thread context slots over one operating-system thread-local key.
#include "vxkernel/runtime/KContext.h"

#include <atomic>

#include "base/check.h"
#include "base/run_reported.h"
#include "port/port.h"

int32_t KContext::gNextIndex = 0;

namespace {

// The key is made on the first SysSet. Two threads may install their first
// context at once, so the key is published with a compare-and-swap; the
// loser frees its spare key.
std::atomic<uintptr_t> gTlsKey{port::kInvalidTlsKey};

uintptr_t TlsKeyForSet() {
  uintptr_t key = gTlsKey.load(std::memory_order_acquire);
  if (key != port::kInvalidTlsKey) return key;
  uintptr_t made;
  if (!port::TlsAlloc(&made)) return port::kInvalidTlsKey;
  uintptr_t expected = port::kInvalidTlsKey;
  if (gTlsKey.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return made;
  port::TlsFree(made);
  return expected;
}

}  // namespace

long KContext::Alloc() {
  // The context has kSlots slots; a module that takes one more is a bug.
  VXK_DCHECK(gNextIndex < kSlots);
  return gNextIndex++;
}

void** KContext::SysGet() {
  uintptr_t key = gTlsKey.load(std::memory_order_acquire);
  if (key == port::kInvalidTlsKey) return nullptr;
  return static_cast<void**>(port::TlsGet(key));
}

void KContext::SysSet(void** array) {
  uintptr_t key = TlsKeyForSet();
  if (key != port::kInvalidTlsKey) port::TlsSet(key, array);
}

void* KContext::Get(unsigned long index) {
  VXK_DCHECK(index < static_cast<unsigned long>(kSlots));
  void** slots = SysGet();
  return slots ? slots[index] : nullptr;
}

void KContext::Set(unsigned long index, void* value) {
  VXK_DCHECK(index < static_cast<unsigned long>(kSlots));
  if (void** slots = SysGet()) slots[index] = value;
}

void KContextPkg::Startup() {
  vxk_internal::RunReported("KContextPkg::Startup",
                            [] { KContext::SysSet(new void*[KContext::kSlots]()); });
}

void KContextPkg::Shutdown() {
  delete[] KContext::SysGet();
  KContext::SysSet(nullptr);
}
