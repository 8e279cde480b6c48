// The routing table of KWSASocket: which registered socket owns which
// handle, the readiness set that watches them and the thread that routes
// their events. Private to the net folder.
#ifndef VXKERNEL_NET_ROUTING_INTERNAL_H_
#define VXKERNEL_NET_ROUTING_INTERNAL_H_

#include <atomic>
#include <cstdint>

#include "port/port.h"
#include "vxkernel/net/KWSASocket.h"
#include "vxkernel/threads/KLock.h"

// One process-wide instance, made on first use and never destroyed, so the
// readiness thread may outlive every static object. Everything is guarded
// by fLock (also the one-time start-up), except that the thread and the
// re-arming reads use fSet without it: fSet changes only in Startup and
// Cleanup, while no socket is registered and the thread is stopped.
struct KWSASocketRouting {
  struct Entry {
    intptr_t handle;
    KWSASocket* socket;  // null: free
    uint32_t generation;  // grows at each release, so stale events miss
  };

  static KWSASocketRouting& Get();

  // Enters socket (open, not registered) and makes it non-blocking; false
  // when the table is full or the system refuses.
  bool Register(KWSASocket* socket) VXK_REQUIRES(fLock);
  // Removes a registered socket.
  void Release(KWSASocket* socket) VXK_REQUIRES(fLock);
  // Routes one event of the entry that key names, unless it was released.
  void Route(uint64_t key, long kind);
  // Routes kind to socket's callback. REQUIRES: fLock held.
  static void Deliver(KWSASocket* socket, long kind);
  bool StartThread();
  // Stops and joins the thread.
  void StopThread() VXK_EXCLUDES(fLock);

  KLock fLock{KLock::kCriticalSection};
  Entry fEntries[KWSASocket::kMaxRouted] VXK_GUARDED_BY(fLock) = {};
  bool fStarted VXK_GUARDED_BY(fLock) = false;
  port::Readiness* fSet = nullptr;
  bool fThreadRunning = false;
  std::atomic<bool> fStopping{false};  // read by the thread without fLock
  uintptr_t fThread = 0;
};

#endif  // VXKERNEL_NET_ROUTING_INTERNAL_H_
