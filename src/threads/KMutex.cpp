#include "vxkernel/threads/KMutex.h"

#include "port/port.h"

namespace {
port::Mutex* AsMutex(void* object) { return static_cast<port::Mutex*>(object); }
}  // namespace

// Both kinds are recursive system mutexes; the kind decides only what TryLock
// offers and what the accessors reveal.
KMutex::KMutex(int kind) : fKind(kind != 0 ? 1 : 0), fObject(port::MutexCreate()) {}

KMutex::~KMutex() { port::MutexDestroy(AsMutex(fObject)); }

long KMutex::Lock() const {
  if (fObject == nullptr) return kSystemError;
  return port::MutexLock(AsMutex(fObject)) ? kOk : kSystemError;
}

long KMutex::TryLock() const {
  if (fKind == 1) return kNotSupported;
  if (fObject == nullptr) return kSystemError;
  return port::MutexTryLock(AsMutex(fObject)) ? kOk : kBusy;
}

long KMutex::Unlock() const {
  if (fObject == nullptr) return kSystemError;
  bool released = port::MutexUnlock(AsMutex(fObject));
  // Leaving a critical section one does not own is not reported.
  return released || fKind == 1 ? kOk : kSystemError;
}
