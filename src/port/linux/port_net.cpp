// Stream sockets (BSD sockets) and their readiness set (epoll).
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "port/port.h"

namespace port {

namespace {

int64_t RemainingMillis(int64_t deadline) {
  int64_t left = deadline - MonotonicMicros();
  return left <= 0 ? 0 : (left + 999) / 1000;
}

}  // namespace

bool SocketResolve(const char* host, const char* service, int family, bool passive,
                   std::vector<SocketAddress>* out, std::string* error) {
  addrinfo hints{};
  hints.ai_family = family == 6 ? AF_INET6 : family == 4 ? AF_INET : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = passive ? AI_PASSIVE : 0;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host, service, &hints, &list);
  if (rc != 0) {
    const char* text = rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc);
    error->assign(text, strnlen(text, 1024));
    return false;
  }
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
        a->ai_addrlen > sizeof(SocketAddress::bytes))
      continue;
    SocketAddress s{};
    s.family = a->ai_family == AF_INET6 ? 6 : 4;
    s.length = a->ai_addrlen;
    std::memcpy(s.bytes, a->ai_addr, a->ai_addrlen);
    out->push_back(s);
  }
  freeaddrinfo(list);
  return true;
}

static int NewSocket(const SocketAddress& a) {
  return socket(a.family == 6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

int SocketListen(const SocketAddress& a) {
  int fd = NewSocket(a);
  if (fd < 0) return -1;
  int on = 1;
  bool ok = setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            (a.family != 6 || setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) == 0) &&
            bind(fd, reinterpret_cast<const sockaddr*>(a.bytes), a.length) == 0 &&
            listen(fd, SOMAXCONN) == 0;
  if (!ok) {
    close(fd);
    return -1;
  }
  return fd;
}

int SocketConnect(const SocketAddress& a) {
  int fd = NewSocket(a);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<const sockaddr*>(a.bytes), a.length);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int SocketAccept(int listener, bool nonBlocking) {
  int fd;
  do {
    fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0));
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool SocketSetNonBlocking(int fd, bool nonBlocking) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  int wanted = nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  return wanted == flags || fcntl(fd, F_SETFL, wanted) == 0;
}

long SocketReceive(int fd, char* buffer, long size) {
  for (;;) {
    ssize_t n = recv(fd, buffer, static_cast<size_t>(size), 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : -2;
  }
}

long SocketSend(int fd, const char* data, long size) {
  for (;;) {
    ssize_t n = send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : -2;
  }
}

int SocketWait(int fd, bool writable, unsigned long ms) {
  const bool forever = ms == kWaitForever;
  const int64_t deadline = MonotonicMicros() + static_cast<int64_t>(ms) * 1000;
  for (;;) {
    pollfd p{fd, static_cast<short>(writable ? POLLOUT : POLLIN), 0};
    int rc = poll(&p, 1, forever ? -1 : static_cast<int>(RemainingMillis(deadline)));
    if (rc > 0) return 1;
    if (rc == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

void SocketClose(int fd) { close(fd); }

unsigned short SocketLocalPort(int fd) {
  sockaddr_storage s{};
  socklen_t n = sizeof s;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&s), &n) != 0) return 0;
  if (s.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&s)->sin_port);
  if (s.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&s)->sin6_port);
  return 0;
}

static std::string NumericText(const sockaddr* a) {
  char text[INET6_ADDRSTRLEN] = "";
  const void* raw = a->sa_family == AF_INET6
                        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr)
                        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a)->sin_addr);
  if (inet_ntop(a->sa_family, raw, text, sizeof text) == nullptr) return std::string();
  return text;
}

bool SocketPeer(int fd, unsigned short* port, std::string* address) {
  sockaddr_storage s{};
  socklen_t n = sizeof s;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&s), &n) != 0) return false;
  if (s.ss_family != AF_INET && s.ss_family != AF_INET6) return false;
  *port = ntohs(s.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&s)->sin_port
                                       : reinterpret_cast<sockaddr_in6*>(&s)->sin6_port);
  *address = NumericText(reinterpret_cast<sockaddr*>(&s));
  return !address->empty();
}

std::string SocketAddressText(const SocketAddress& a) {
  return NumericText(reinterpret_cast<const sockaddr*>(a.bytes));
}

// ===== Readiness =====

struct Readiness {
  int epoll;
  int wake;  // an eventfd, level-triggered, keyed ~0
};

namespace {

constexpr uint64_t kWakeKey = ~uint64_t{0};

bool Control(Readiness* r, int op, int fd, uint64_t key) {
  epoll_event e{};
  e.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
  e.data.u64 = key;
  return epoll_ctl(r->epoll, op, fd, &e) == 0;
}

}  // namespace

Readiness* ReadinessCreate() {
  int ep = epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) return nullptr;
  int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event e{};
  e.events = EPOLLIN;
  e.data.u64 = kWakeKey;
  if (wake < 0 || epoll_ctl(ep, EPOLL_CTL_ADD, wake, &e) != 0) {
    if (wake >= 0) close(wake);
    close(ep);
    return nullptr;
  }
  return new Readiness{ep, wake};
}

bool ReadinessAdd(Readiness* r, int fd, uint64_t key) { return Control(r, EPOLL_CTL_ADD, fd, key); }

bool ReadinessRearm(Readiness* r, int fd, uint64_t key) {
  return Control(r, EPOLL_CTL_MOD, fd, key);
}

int ReadinessWait(Readiness* r, ReadyEvent* events, int max) {
  epoll_event raw[64];
  if (max > 64) max = 64;
  int n;
  do {
    n = epoll_wait(r->epoll, raw, max, -1);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  int count = 0;
  for (int i = 0; i < n; ++i) {
    if (raw[i].data.u64 == kWakeKey) {
      uint64_t drained;
      ssize_t got = read(r->wake, &drained, sizeof drained);
      (void)got;
      continue;
    }
    uint32_t e = raw[i].events;
    events[count++] = ReadyEvent{raw[i].data.u64, (e & EPOLLIN) != 0,
                                 (e & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0};
  }
  return count;
}

void ReadinessWake(Readiness* r) {
  uint64_t one = 1;
  ssize_t put = write(r->wake, &one, sizeof one);
  (void)put;
}

void ReadinessDestroy(Readiness* r) {
  if (r == nullptr) return;
  close(r->wake);
  close(r->epoll);
  delete r;
}

}  // namespace port
