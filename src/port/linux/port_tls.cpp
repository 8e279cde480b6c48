// Thread-local keys over pthread keys.
#include <pthread.h>

#include "port/port.h"

namespace port {

static_assert(sizeof(pthread_key_t) <= sizeof(uintptr_t));

bool TlsAlloc(uintptr_t* key) {
  pthread_key_t k;
  if (pthread_key_create(&k, nullptr) != 0) return false;
  *key = static_cast<uintptr_t>(k);
  return true;
}

void TlsFree(uintptr_t key) { pthread_key_delete(static_cast<pthread_key_t>(key)); }

void* TlsGet(uintptr_t key) { return pthread_getspecific(static_cast<pthread_key_t>(key)); }

bool TlsSet(uintptr_t key, void* value) {
  return pthread_setspecific(static_cast<pthread_key_t>(key), value) == 0;
}

}  // namespace port
