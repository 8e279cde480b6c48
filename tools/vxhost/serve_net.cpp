// Stand-in sockets on epoll until the library's socket classes are merged;
// the rest of the server sees only serve_net.h.
#include "serve_net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <vector>

namespace serve {

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

struct Conn::Impl {
  int fd = -1;
  bool added = false;
};

Conn::Conn() : fImpl(new Impl) {}
Conn::~Conn() = default;

long Conn::Read(char* buffer, long size) {
  for (;;) {
    ssize_t n = recv(fImpl->fd, buffer, static_cast<size_t>(size), 0);
    if (n > 0) return static_cast<long>(n);
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

long Conn::ReadWait(char* buffer, long size, int ms) {
  long n = Read(buffer, size);
  if (n != 0) return n;
  pollfd p{fImpl->fd, POLLIN, 0};
  int r = poll(&p, 1, ms);
  if (r == 0) return 0;
  if (r < 0) return errno == EINTR ? 0 : -1;
  n = Read(buffer, size);
  return n == 0 ? -1 : n;  // readable yet nothing: treat as failure
}

bool Conn::Write(const char* data, size_t n, int ms) {
  while (n > 0) {
    ssize_t w = send(fImpl->fd, data, n, MSG_NOSIGNAL);
    if (w > 0) {
      data += w;
      n -= static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fImpl->fd, POLLOUT, 0};
      if (poll(&p, 1, ms) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

struct Net::Impl {
  int listenFd = -1;
  int epollFd = -1;
  std::mutex mutex;  // guards watched and the fWatched/fDeadline fields
  std::set<Conn*> watched;
  bool ended = false;  // Run has returned: nothing more is watched
  std::atomic<long> open{0};
};

Net::Net() : fImpl(new Impl) { fImpl->epollFd = epoll_create1(EPOLL_CLOEXEC); }

Net::~Net() {
  if (fImpl->listenFd >= 0) close(fImpl->listenFd);
  if (fImpl->epollFd >= 0) close(fImpl->epollFd);
}

bool Net::Listen(const std::string& host, int port, std::string* address, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* res = nullptr;
  std::string service = std::to_string(port);
  int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &res);
  if (rc != 0) {
    *error = "cannot resolve " + host + ": " + gai_strerror(rc);
    return false;
  }
  int fd = -1;
  for (addrinfo* a = res; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0) {
      *error = "cannot listen on " + host + ":" + service + ": " + std::strerror(errno);
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(res);
  if (fd < 0) return false;
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
  char text[INET6_ADDRSTRLEN] = "";
  int bound = 0;
  if (ss.ss_family == AF_INET6) {
    auto* s6 = reinterpret_cast<sockaddr_in6*>(&ss);
    inet_ntop(AF_INET6, &s6->sin6_addr, text, sizeof text);
    bound = ntohs(s6->sin6_port);
    *address = std::string("[") + text + "]:" + std::to_string(bound);
  } else {
    auto* s4 = reinterpret_cast<sockaddr_in*>(&ss);
    inet_ntop(AF_INET, &s4->sin_addr, text, sizeof text);
    bound = ntohs(s4->sin_port);
    *address = std::string(text) + ":" + std::to_string(bound);
  }
  fImpl->listenFd = fd;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.ptr = nullptr;
  epoll_ctl(fImpl->epollFd, EPOLL_CTL_ADD, fd, &ev);
  return true;
}

void Net::Run(const Callbacks& cb, const std::function<bool()>& stop) {
  epoll_event events[64];
  while (!stop()) {
    int n = epoll_wait(fImpl->epollFd, events, 64, 200);
    for (int i = 0; i < n; ++i) {
      Conn* c = static_cast<Conn*>(events[i].data.ptr);
      if (c == nullptr) {
        for (;;) {
          sockaddr_storage ss{};
          socklen_t len = sizeof ss;
          int fd = accept4(fImpl->listenFd, reinterpret_cast<sockaddr*>(&ss), &len,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (fd < 0) break;
          int one = 1;
          setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          Conn* conn = new Conn;
          conn->fImpl->fd = fd;
          char host[NI_MAXHOST] = "", serv[NI_MAXSERV] = "";
          getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, host, sizeof host, serv, sizeof serv,
                      NI_NUMERICHOST | NI_NUMERICSERV);
          conn->fPeer = std::string(host) + ":" + serv;
          ++fImpl->open;
          cb.accepted(conn);
        }
        continue;
      }
      bool mine = false;
      {
        std::lock_guard<std::mutex> g(fImpl->mutex);
        if (c->fWatched) {
          c->fWatched = false;
          fImpl->watched.erase(c);
          mine = true;
        }
      }
      if (mine) cb.readable(c);
    }
    std::vector<Conn*> late;
    int64_t now = MonotonicMs();
    {
      std::lock_guard<std::mutex> g(fImpl->mutex);
      for (auto it = fImpl->watched.begin(); it != fImpl->watched.end();) {
        Conn* c = *it;
        if (c->fDeadline > now) {
          ++it;
          continue;
        }
        c->fWatched = false;
        epoll_event ev{};
        ev.data.ptr = c;
        epoll_ctl(fImpl->epollFd, EPOLL_CTL_MOD, c->fImpl->fd, &ev);  // disarm
        it = fImpl->watched.erase(it);
        late.push_back(c);
      }
    }
    for (Conn* c : late) cb.expired(c);
  }
  // Whatever the loop still holds is closed with it.
  std::set<Conn*> left;
  {
    std::lock_guard<std::mutex> g(fImpl->mutex);
    fImpl->ended = true;
    left.swap(fImpl->watched);
    for (Conn* c : left) c->fWatched = false;
  }
  for (Conn* c : left) cb.expired(c);
}

bool Net::Watch(Conn* conn, int timeoutMs) {
  std::lock_guard<std::mutex> g(fImpl->mutex);
  if (fImpl->ended) return false;
  conn->fWatched = true;
  conn->fDeadline = MonotonicMs() + timeoutMs;
  fImpl->watched.insert(conn);
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
  ev.data.ptr = conn;
  int op = conn->fImpl->added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
  conn->fImpl->added = true;
  epoll_ctl(fImpl->epollFd, op, conn->fImpl->fd, &ev);
  return true;
}

void Net::Close(Conn* conn) {
  if (conn->fImpl->added) epoll_ctl(fImpl->epollFd, EPOLL_CTL_DEL, conn->fImpl->fd, nullptr);
  close(conn->fImpl->fd);
  --fImpl->open;
  delete conn;
}

long Net::Open() const { return fImpl->open.load(); }

}  // namespace serve
