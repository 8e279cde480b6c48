#include "vxkernel/threads/KPthreadSpecific.h"

#include "port/port.h"
#include "vxkernel/threads/KMutex.h"

KPthreadSpecific::KPthreadSpecific() : fIndex(port::kInvalidTlsKey) {
  uintptr_t key;
  if (port::TlsAlloc(&key)) fIndex = key;
}

KPthreadSpecific::~KPthreadSpecific() {
  if (fIndex != port::kInvalidTlsKey) port::TlsFree(fIndex);
}

long KPthreadSpecific::Set(void* value) {
  if (fIndex == port::kInvalidTlsKey) return KMutex::kSystemError;
  return port::TlsSet(fIndex, value) ? KMutex::kOk : KMutex::kSystemError;
}

void* KPthreadSpecific::Get() const {
  return fIndex == port::kInvalidTlsKey ? nullptr : port::TlsGet(fIndex);
}
