#include "net/routing_internal.h"

#include "base/debug_line.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/threads/KLockGuard.h"

namespace {

constexpr uint64_t MakeKey(uint32_t generation, uint32_t slot) {
  return (uint64_t{generation} << 32) | slot;
}

// Routes events until stopped. The thread is started like a host thread
// (its own context), so callbacks may use everything per-thread.
unsigned RoutingThread(void* argument) {
  auto* r = static_cast<KWSASocketRouting*>(argument);
  KAt::ThreadStartup();
  port::ReadyEvent events[64];
  int n = 0;
  while (n >= 0 && !r->fStopping.load(std::memory_order_acquire)) {
    for (int i = 0; i < n; ++i) {
      const port::ReadyEvent& e = events[i];
      r->Route(e.key, e.hangup ? KWSASocket::kClose : KWSASocket::kRead);
    }
    n = port::ReadinessWait(r->fSet, events, 64);
  }
  KAt::ThreadShutdown();
  return 0;
}

}  // namespace

KWSASocketRouting& KWSASocketRouting::Get() {
  static KWSASocketRouting* routing = new KWSASocketRouting;
  return *routing;
}

bool KWSASocketRouting::Register(KWSASocket* socket) {
  if (fSet == nullptr) return false;
  for (uint32_t slot = 0; slot < KWSASocket::kMaxRouted; ++slot) {
    Entry& e = fEntries[slot];
    if (e.socket != nullptr) continue;
    int fd = static_cast<int>(socket->fSocket);
    uint64_t key = MakeKey(e.generation, slot);
    if (!port::SocketSetNonBlocking(fd, true)) return false;
    if (!port::ReadinessAdd(fSet, fd, key)) {
      port::SocketSetNonBlocking(fd, false);
      return false;
    }
    e.handle = socket->fSocket;
    e.socket = socket;
    socket->fKey = key;
    socket->fRegistered = 1;
    return true;
  }
  vxk_internal::DebugLine("KWSASocket::Register", "routing table full (", KWSASocket::kMaxRouted,
                          " sockets): no events for socket ", socket->fSocket);
  return false;
}

void KWSASocketRouting::Release(KWSASocket* socket) {
  Entry& e = fEntries[socket->fKey & 0xFFFFFFFFu];
  if (e.socket == socket) {
    e.socket = nullptr;
    e.handle = 0;
    ++e.generation;
  }
  socket->fRegistered = 0;
  socket->fKey = 0;
}

void KWSASocketRouting::Route(uint64_t key, long kind) {
  KLockGuard g(fLock);
  uint32_t slot = static_cast<uint32_t>(key);
  if (slot >= KWSASocket::kMaxRouted) return;
  Entry& e = fEntries[slot];
  if (e.socket == nullptr || e.generation != key >> 32 || KWSASocket::gWindowHandler == nullptr)
    return;
  if (kind == KWSASocket::kRead && e.socket->Server()) kind = KWSASocket::kAccept;
  Deliver(e.socket, kind);
}

void KWSASocketRouting::Deliver(KWSASocket* socket, long kind) {
  short code;
  switch (kind) {
    case KWSASocket::kRead:
    case KWSASocket::kClose:
      code = KSocket::kDataEvent;
      break;
    case KWSASocket::kAccept:
      code = KSocket::kAcceptEvent;
      break;
    case KWSASocket::kWrite:
    case KWSASocket::kOutOfBand:
    case KWSASocket::kConnect:
      return;
    default:
      vxk_internal::DebugText("WmWinSockSelect...event=", kind, " ( ",
                              static_cast<const void*>(socket), " )\n");
      return;
  }
  if (KSocket::EventCallback callback = socket->Callback())
    callback(socket, socket->Context(), code);
}

bool KWSASocketRouting::StartThread() {
  if (fThreadRunning || fSet == nullptr) return fThreadRunning;
  uint32_t id = 0;
  fStopping.store(false, std::memory_order_relaxed);
  fThreadRunning = port::ThreadCreate(&RoutingThread, this, &fThread, &id);
  return fThreadRunning;
}

void KWSASocketRouting::StopThread() {
  uintptr_t thread;
  {
    KLockGuard g(fLock);
    if (!fThreadRunning) return;
    fStopping.store(true, std::memory_order_release);
    port::ReadinessWake(fSet);
    fThreadRunning = false;
    thread = fThread;
  }
  port::ThreadJoin(thread, nullptr);  // outside fLock: a last callback may need it
}
