#include "vxkernel/threads/KRWLock.h"

// Every access to fState and the waiting counts is sequentially consistent;
// see the class comment for why that matters.

KRWLock::KRWLock()
    : fReader(*this), fWriter(*this), fWaitingReaders(0), fWaitingWriters(0), fState(0) {}

bool KRWLock::TryEnterRead() {
  int32_t state = fState.load();
  while (state >= 0 && fWaitingWriters.load() == 0) {
    if (fState.compare_exchange_weak(state, state + 1)) return true;
  }
  return false;
}

bool KRWLock::TryEnterWrite() {
  int32_t free = 0;
  return fState.compare_exchange_strong(free, -1);
}

long KRWLock::ReadLock() {
  if (TryEnterRead()) return KMutex::kOk;
  long rc = fMutex.Lock();
  if (rc != KMutex::kOk) return rc;
  while (!TryEnterRead()) {
    ++fWaitingReaders;
    // Look again now that releasers can see us.
    if (fState.load() != -1 && fWaitingWriters.load() == 0) {
      --fWaitingReaders;
      continue;
    }
    rc = fReadersGo.Wait(fMutex);
    --fWaitingReaders;
    if (rc != KMutex::kOk) break;
  }
  fMutex.Unlock();
  return rc;
}

long KRWLock::WriteLock() {
  if (TryEnterWrite()) return KMutex::kOk;
  long rc = fMutex.Lock();
  if (rc != KMutex::kOk) return rc;
  while (!TryEnterWrite()) {
    ++fWaitingWriters;
    if (fState.load() == 0) {
      --fWaitingWriters;
      continue;
    }
    rc = fWriterGo.Wait(fMutex);
    --fWaitingWriters;
    if (rc != KMutex::kOk) break;
  }
  fMutex.Unlock();
  return rc;
}

long KRWLock::TryReadLock() { return TryEnterRead() ? KMutex::kOk : KMutex::kBusy; }

long KRWLock::TryWriteLock() { return TryEnterWrite() ? KMutex::kOk : KMutex::kBusy; }

long KRWLock::Unlock() {
  int32_t state = fState.load();
  do {
    if (state == 0) return KMutex::kNotLocked;
  } while (!fState.compare_exchange_weak(state, state == -1 ? 0 : state - 1));
  if (fWaitingWriters.load() == 0 && fWaitingReaders.load() == 0) return KMutex::kOk;

  long rc = fMutex.Lock();
  if (rc != KMutex::kOk) return rc;
  // Writers first: a free lock goes to one waiting writer; readers are let
  // go only when no writer waits.
  if (fWaitingWriters.load() > 0 && fState.load() == 0) {
    rc = fWriterGo.Signal();
  } else if (fWaitingReaders.load() > 0 && fWaitingWriters.load() == 0) {
    rc = fReadersGo.Broadcast();
  }
  fMutex.Unlock();
  return rc;
}

// The facets hand a hold from one call to the next; their callers are not
// checked by the thread-safety analysis, nor are they.
long KReadLock::Lock() VXK_NO_THREAD_SAFETY_ANALYSIS { return fLock->ReadLock(); }
long KReadLock::TryLock() { return fLock->TryReadLock(); }
long KReadLock::Unlock() VXK_NO_THREAD_SAFETY_ANALYSIS { return fLock->Unlock(); }
long KWriteLock::Lock() VXK_NO_THREAD_SAFETY_ANALYSIS { return fLock->WriteLock(); }
long KWriteLock::TryLock() { return fLock->TryWriteLock(); }
long KWriteLock::Unlock() VXK_NO_THREAD_SAFETY_ANALYSIS { return fLock->Unlock(); }
