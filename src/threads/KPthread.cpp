#include "vxkernel/threads/KPthread.h"

#include "port/port.h"
#include "vxkernel/threads/KMutex.h"

long KPthread::Create(unsigned (*start)(void*), void* argument) {
  uintptr_t handle;
  uint32_t id;
  if (start == nullptr || !port::ThreadCreate(start, argument, &handle, &id)) return KMutex::kCreateFailed;
  fHandle = handle;
  fId = id;
  return KMutex::kOk;
}

long KPthread::Detach() {
  if (fHandle == 0) return KMutex::kSystemError;
  bool ok = port::ThreadDetach(fHandle);
  fHandle = 0;
  return ok ? KMutex::kOk : KMutex::kSystemError;
}

long KPthread::Join(void** exitCode) {
  if (fHandle == 0) return KMutex::kJoinFailed;
  unsigned code = 0;
  if (!port::ThreadJoin(fHandle, &code)) return KMutex::kJoinFailed;
  if (exitCode != nullptr) *exitCode = reinterpret_cast<void*>(static_cast<uintptr_t>(code));
  fHandle = 0;
  return KMutex::kOk;
}

KPthread KPthread::Self() {
  KPthread self;
  self.fHandle = port::ThreadSelf();
  self.fId = port::ThreadId();
  return self;
}
