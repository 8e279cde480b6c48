// Sockets on loopback: a 64-byte round trip, and event-routed accept, read
// and close of 1,000 connections, each against plain POSIX code.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <semaphore>
#include <thread>

#include "vxkernel/net/KWSASocket.h"

namespace {

constexpr long kMessage = 64;
constexpr int kConnections = 1000;
constexpr int kInFlight = 32;  // keeps routed connections below the table's 64

// ===== Plain POSIX helpers =====

int PlainListen(unsigned short* port, int flags = 0) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), n) != 0 || listen(fd, SOMAXCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0)
    return -1;
  *port = ntohs(a.sin_port);
  return fd;
}

int PlainConnect(unsigned short port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? fd : -1;
}

bool ReadFull(int fd, char* p, long n) {
  while (n > 0) {
    ssize_t got = recv(fd, p, static_cast<size_t>(n), 0);
    if (got <= 0) return false;
    p += got;
    n -= got;
  }
  return true;
}

bool ReadFull(KSocket& s, char* p, long n) {
  while (n > 0) {
    long got = s.Read(p, n);
    if (got <= 0) return false;
    p += got;
    n -= got;
  }
  return true;
}

// ===== Round trip =====

void BM_RoundTrip_vxkernel(benchmark::State& state) {
  KWSASocket server, client, peer;
  for (KWSASocket* s : {&server, &client, &peer}) s->Blocking(1);
  if (!server.OpenServer(0) || !client.OpenClient("127.0.0.1", server.LocalPort()) ||
      !server.Accept(&peer)) {
    state.SkipWithError("no connection");
    return;
  }
  std::thread echo([&] {
    char b[kMessage];
    while (ReadFull(peer, b, kMessage) && peer.Write(b, kMessage) == kMessage) {
    }
  });
  char out[kMessage] = {1}, in[kMessage];
  for (auto _ : state) {
    client.Write(out, kMessage);
    ReadFull(client, in, kMessage);
  }
  client.Close();
  echo.join();
}

void BM_RoundTrip_POSIX(benchmark::State& state) {
  unsigned short port = 0;
  int listener = PlainListen(&port);
  int client = PlainConnect(port);
  int peer = accept(listener, nullptr, nullptr);
  std::thread echo([&] {
    char b[kMessage];
    while (ReadFull(peer, b, kMessage) && send(peer, b, kMessage, MSG_NOSIGNAL) == kMessage) {
    }
  });
  char out[kMessage] = {1}, in[kMessage];
  for (auto _ : state) {
    send(client, out, kMessage, MSG_NOSIGNAL);
    ReadFull(client, in, kMessage);
  }
  close(client);
  echo.join();
  close(peer);
  close(listener);
}

// ===== Accept, read, close =====

// The client side of both: kConnections connections, each sending one
// message and closing, at most kInFlight not yet closed by the server.
void Clients(unsigned short port, std::counting_semaphore<kInFlight>& slots) {
  char message[kMessage] = {2};
  for (int i = 0; i < kConnections; ++i) {
    slots.acquire();
    int fd = PlainConnect(port);
    send(fd, message, kMessage, MSG_NOSIGNAL);
    close(fd);
  }
  for (int i = 0; i < kInFlight; ++i) slots.acquire();
  for (int i = 0; i < kInFlight; ++i) slots.release();
}

struct RoutedServer {
  KWSASocket fListener;
  std::counting_semaphore<kInFlight>* fSlots = nullptr;

  static void OnEvent(KSocket* s, void* context, short code) {
    auto* self = static_cast<RoutedServer*>(context);
    if (code == KSocket::kAcceptEvent) {
      auto* c = new KWSASocket;
      c->Callback(&OnEvent);
      c->Context(self);
      if (!self->fListener.Accept(c)) delete c;
      return;
    }
    char b[4096];
    if (s->Read(b, sizeof b) == 0) return;  // nothing yet
    delete s;                               // closes
    self->fSlots->release();
  }
};

KWSASocket::Window Window() { return reinterpret_cast<KWSASocket::Window>(1); }

void BM_AcceptReadClose_vxkernel(benchmark::State& state) {
  KWSASocket::AllowAsync(&Window, 0x401);
  RoutedServer server;
  server.fListener.Callback(&RoutedServer::OnEvent);
  server.fListener.Context(&server);
  if (!server.fListener.OpenServer(0) || !server.fListener.IsRegistered()) {
    state.SkipWithError("no routed server");
    return;
  }
  std::counting_semaphore<kInFlight> slots(kInFlight);
  server.fSlots = &slots;
  for (auto _ : state) Clients(server.fListener.LocalPort(), slots);
  server.fListener.Close();
  state.SetItemsProcessed(state.iterations() * kConnections);
}

void BM_AcceptReadClose_epoll(benchmark::State& state) {
  unsigned short port = 0;
  int listener = PlainListen(&port, SOCK_NONBLOCK);
  int ep = epoll_create1(EPOLL_CLOEXEC);
  epoll_event e{};
  e.events = EPOLLIN;
  e.data.fd = listener;
  epoll_ctl(ep, EPOLL_CTL_ADD, listener, &e);
  std::counting_semaphore<kInFlight> slots(kInFlight);
  std::atomic<bool> stop{false};
  int wake[2];
  if (pipe(wake) != 0) return;
  e.data.fd = wake[0];
  epoll_ctl(ep, EPOLL_CTL_ADD, wake[0], &e);
  std::thread loop([&] {
    epoll_event events[64];
    char b[4096];
    while (!stop.load()) {
      int n = epoll_wait(ep, events, 64, -1);
      for (int i = 0; i < n; ++i) {
        int fd = events[i].data.fd;
        if (fd == wake[0]) continue;
        if (fd == listener) {
          for (int c; (c = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
            epoll_event ce{};
            ce.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
            ce.data.fd = c;
            epoll_ctl(ep, EPOLL_CTL_ADD, c, &ce);
          }
          continue;
        }
        if (recv(fd, b, sizeof b, 0) < 0) continue;
        close(fd);
        slots.release();
      }
    }
  });
  for (auto _ : state) Clients(port, slots);
  stop = true;
  if (write(wake[1], "x", 1) != 1) return;
  loop.join();
  close(wake[0]);
  close(wake[1]);
  close(ep);
  close(listener);
  state.SetItemsProcessed(state.iterations() * kConnections);
}

BENCHMARK(BM_RoundTrip_vxkernel)->Iterations(10000)->UseRealTime();
BENCHMARK(BM_RoundTrip_POSIX)->Iterations(10000)->UseRealTime();
BENCHMARK(BM_AcceptReadClose_vxkernel)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AcceptReadClose_epoll)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
