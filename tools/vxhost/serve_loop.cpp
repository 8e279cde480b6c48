// The connection loops on epoll (edge-triggered). The library's readiness
// routing (KWSASocket::AllowAsync) takes 64 sockets, which a server on a
// network outgrows at once, so the loops use the system's API directly;
// the library's socket resolves and first binds the address.
//
// Each loop is a thread with its own epoll and its own listening socket on
// the same address (SO_REUSEPORT: the system spreads new connections over
// them), like nginx's worker processes. A connection belongs to the loop
// that accepted it for its whole life.
//
// A connection is in one state at a time, and only its loop's thread
// changes it: reading a head, with a worker (its handler runs), reading a
// body, parked (a log poll), writing. Every state but "with a worker" has
// a deadline; the loop checks them every 100 ms. A quick request (Quick)
// runs its handler on the loop thread between reading and writing, so it
// never is "with a worker".
#include "serve_loop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "serve_app.h"
#include "serve_log.h"
#include "serve_pool.h"
#include "vxkernel/net/KWSASocket.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/threads/KMutex.h"

namespace serve {

namespace {

constexpr size_t kReadSize = 64 * 1024;
constexpr int kTickMs = 100;
constexpr size_t kMaxEvents = 256;
// Pipelined requests answered in a row on one connection before the loop
// turns to its other connections.
constexpr int kBurst = 16;
// After an answer that refused a body, the client's rest of it is read and
// dropped for a while before the close, so that the close does not reset
// the connection before the client has read the answer.
constexpr int kLingerMs = 5000;

// Per-address request budget: a token bucket refilled at the configured
// rate, holding at most one second's worth.
struct Bucket {
  double tokens = 0;
  int64_t last = 0;  // monotonic ms of the last refill
};

// The address part of a socket address.
std::string AddressOf(const sockaddr_storage& sa) {
  char text[INET6_ADDRSTRLEN] = "";
  if (sa.ss_family == AF_INET6) {
    const auto* a6 = reinterpret_cast<const sockaddr_in6*>(&sa);
    // An IPv4 client of an IPv6 socket is named as IPv4.
    if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) return inet_ntop(AF_INET, &a6->sin6_addr.s6_addr[12], text, sizeof text);
    return inet_ntop(AF_INET6, &a6->sin6_addr, text, sizeof text);
  }
  return inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&sa)->sin_addr, text, sizeof text);
}

// Why binding host:port failed, asked of the system directly: the
// library's socket reports only that it failed.
std::string BindFailure(const std::string& host, int port) {
  std::string where = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  sockaddr_storage sa{};
  socklen_t len = 0;
  auto* a4 = reinterpret_cast<sockaddr_in*>(&sa);
  auto* a6 = reinterpret_cast<sockaddr_in6*>(&sa);
  if (host == "*" || inet_pton(AF_INET, host.c_str(), &a4->sin_addr) == 1) {
    if (host == "*") a4->sin_addr.s_addr = htonl(INADDR_ANY);
    a4->sin_family = AF_INET;
    a4->sin_port = htons(static_cast<uint16_t>(port));
    len = sizeof *a4;
  } else if (inet_pton(AF_INET6, host.c_str(), &a6->sin6_addr) == 1) {
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(static_cast<uint16_t>(port));
    len = sizeof *a6;
  } else {
    return "cannot listen on " + where + ": " + host + " is not an address of this machine; choose another with --listen HOST:PORT";
  }
  int fd = socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  int rc = fd < 0 ? -1 : bind(fd, reinterpret_cast<sockaddr*>(&sa), len);
  int err = errno;
  if (fd >= 0) close(fd);
  if (rc == 0) return "cannot listen on " + where;
  if (err == EADDRINUSE) return where + " is in use; choose another with --listen HOST:PORT";
  if (err == EACCES) return "cannot listen on " + where + ": ports below 1024 need privileges; choose another with --listen HOST:PORT";
  return "cannot listen on " + where + ": " + std::strerror(err) + "; choose another with --listen HOST:PORT";
}

// A non-blocking listening socket on the address sa that other loops may
// bind as well (SO_REUSEPORT); -1 with errno.
int SharedListener(const sockaddr_storage& sa, socklen_t len) {
  int fd = socket(sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return -1;
  int on = 1;
  bool ok = setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) == 0 &&
            (sa.ss_family != AF_INET6 || setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) == 0) &&
            bind(fd, reinterpret_cast<const sockaddr*>(&sa), len) == 0 && listen(fd, SOMAXCONN) == 0;
  if (ok) return fd;
  int err = errno;
  close(fd);
  errno = err;
  return -1;
}

// The number of loops: the setting, or one per CPU.
int LoopCount(int setting) {
  if (setting > 0) return setting;
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

}  // namespace

// The coarse clock: read several times per request, and a deadline in
// whole milliseconds, checked every kTickMs, has no use for the precise
// one's resolution (the coarse one lags it by at most a scheduler tick).
int64_t MonotonicMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
}

struct EventLoop;

// One connection. Its loop's thread alone changes it, except that a worker
// running its handler (state kWorking) owns req and the turn's results.
struct Conn {
  enum State { kHead, kWorking, kBody, kParked, kWriting, kLinger };
  Conn(EventLoop* home, int fd, std::string peer, size_t maxHead)
      : home(home), fd(fd), peer(std::move(peer)), parser(maxHead) {}
  EventLoop* home;  // the loop that accepted it
  int fd;
  std::string peer;
  State state = kHead;
  HeadParser parser;
  std::string in;          // bytes read and not yet used
  int64_t headStart = 0;   // monotonic ms of the current head's first byte
  int64_t deadline = 0;    // monotonic ms; 0: none
  bool fresh = true;       // no request yet
  // The last read took all there was (it returned less than asked): with
  // edge-triggered epoll, bytes arriving later bring an event, so until
  // then a read would only say EAGAIN.
  bool drained = false;
  // The peer closed its side (or the connection failed). Its event may
  // have come before a read that returned the last bytes, so the end has
  // no event left to bring: reads go on until they say so.
  bool peerDone = false;
  void* context = nullptr; // the connection's ring context, made at its first request

  // The request at hand.
  std::unique_ptr<RequestState> req;
  // The last request's state, emptied but for its head's buffers, for the
  // next request: a keep-alive request allocates no state of its own.
  std::unique_ptr<RequestState> spare;
  int64_t bodyLeft = 0;    // body bytes not yet read

  // The turn's results (written by the worker, read by the loop after).
  Next next = Next::kRespond;
  Response response;
  bool keepAlive = false;

  // The response being written: out, then the body (outBody, or a slice
  // of outHeld), then the file.
  std::string out, outBody;
  std::shared_ptr<const std::string> outHeld;
  std::string_view body;  // into outBody or outHeld
  size_t outAt = 0;  // bytes of out and body sent
  int file = -1;
  int64_t fileAt = 0, fileLeft = 0;
  bool closeAfter = false;
  // Closed: only its memory is left, until its loop's turn ends (an event
  // for it may still follow in the same batch).
  bool gone = false;
};

// What the loops share: the caps per client address count over all of
// them (one mutex; the loops take it once per connection, and once per
// request only when requests_per_second_per_address is set), the figures
// and the stop.
struct Loop::Impl {
  explicit Impl(App& a) : app(a) {}
  App& app;
  std::vector<std::unique_ptr<EventLoop>> loops;

  KMutex addressMutex;
  // Open connections per peer address.
  std::unordered_map<std::string, int> perAddress VXK_GUARDED_BY(addressMutex);
  // Request budgets per client address.
  std::unordered_map<std::string, Bucket> buckets VXK_GUARDED_BY(addressMutex);

  std::atomic<long> open{0}, refused{0}, limited{0}, writeTimeouts{0};
  std::atomic<bool> stopAll{false};  // the first loop saw stop()
};

// One loop: its thread owns its epoll, its listening socket and the
// connections it accepted.
struct EventLoop {
  explicit EventLoop(Loop::Impl& s) : shared(s), app(s.app) {}
  ~EventLoop() {
    Bury();
    if (listenFd >= 0) close(listenFd);
    if (epoll >= 0) close(epoll);
    if (wake >= 0) close(wake);
  }
  Loop::Impl& shared;
  App& app;
  int listenFd = -1;
  int epoll = -1;
  int wake = -1;  // eventfd: a handler finished, the log has news, or the server stops
  std::unordered_set<Conn*> conns;
  std::unordered_set<Conn*> parked;
  std::unordered_set<Conn*> resume;  // heads left unread after a burst of pipelined requests
  std::vector<Conn*> closed;         // gone in this turn of Run; deleted at its end
  Conn* reading = nullptr;           // the connection whose heads ReadHead reads now
  bool readAgain = false;            // its request ended: read its next head
  bool acceptBlocked = false;        // out of descriptors: retry on the tick
  bool stopping = false;

  KMutex doneMutex;
  std::vector<Conn*> done VXK_GUARDED_BY(doneMutex);  // connections whose handler turn ended
  bool logNews VXK_GUARDED_BY(doneMutex) = false;

  std::atomic<long>& open = shared.open;
  std::atomic<long>& refused = shared.refused;
  std::atomic<long>& limited = shared.limited;
  std::atomic<long>& writeTimeouts = shared.writeTimeouts;

  void Arm(Conn* c, int64_t ms) { c->deadline = ms > 0 ? MonotonicMs() + ms : 0; }

  // Adds fd (marked by p) to the loop's epoll; false with errno.
  bool Watch(int fd, uint32_t events, void* p) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = p;
    return epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) == 0;
  }

  bool Open(int fd) {
    listenFd = fd;
    epoll = epoll_create1(EPOLL_CLOEXEC);
    wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return epoll >= 0 && wake >= 0 && Watch(listenFd, EPOLLIN | EPOLLET, &listenFd) &&
           Watch(wake, EPOLLIN | EPOLLET, &wake);
  }

  void Signal() {
    uint64_t one = 1;
    ssize_t n = write(wake, &one, sizeof one);
    (void)n;  // a full counter already wakes the loop
  }

  // ===== Accepting =====

  void AcceptAll() {
    while (!stopping) {
      sockaddr_storage sa{};
      socklen_t len = sizeof sa;
      int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        // Out of descriptors: the pending connections wait in the backlog
        // until the tick tries again.
        acceptBlocked = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        return;
      }
      std::string peer = AddressOf(sa);
      if (!Count(peer)) {
        close(fd);
        ++refused;
        continue;
      }
      // Answers go out whole (a head before a file is corked with MSG_MORE),
      // so the small last segment must not wait for the client's ACK.
      int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      Conn* c = new Conn(this, fd, peer, static_cast<size_t>(app.config.maxHeadBytes));
      Watch(fd, EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET, c);
      conns.insert(c);
      ++open;
      Arm(c, app.config.headTimeoutMs);
      ReadHead(c);
    }
  }

  bool Trusted(const std::string& peer) const {
    const auto& trusted = app.config.trustedProxies;
    return std::find(trusted.begin(), trusted.end(), peer) != trusted.end();
  }

  // Counts a new connection of peer; false when peer is at its cap. A
  // trusted proxy carries many clients; they are told apart (and limited)
  // by their forwarded addresses, request by request.
  bool Count(const std::string& peer) {
    KLockGuard g(shared.addressMutex);
    int& count = shared.perAddress[peer];
    if (app.config.connsPerAddress > 0 && count >= app.config.connsPerAddress && !Trusted(peer)) {
      if (count == 0) shared.perAddress.erase(peer);
      return false;
    }
    ++count;
    return true;
  }

  void Uncount(const std::string& peer) {
    KLockGuard g(shared.addressMutex);
    auto it = shared.perAddress.find(peer);
    if (it != shared.perAddress.end() && --it->second <= 0) shared.perAddress.erase(it);
  }

  void Close(Conn* c) {
    close(c->fd);
    if (c->file >= 0) close(c->file);
    DropUpload(c);
    if (c->context != nullptr) KAt::DestroyThreadStartup(c->context);
    Uncount(c->peer);
    parked.erase(c);
    resume.erase(c);
    conns.erase(c);
    --open;
    c->gone = true;
    closed.push_back(c);
  }

  // A connection's events carry its pointer, so it is deleted only after
  // the events of the batch that closed it: an event then needs no look-up
  // in conns to know that it is still open.
  void Bury() {
    for (Conn* c : closed) delete c;
    closed.clear();
  }

  // ===== Heads =====

  // Reads and parses heads until the socket runs dry or the connection
  // ends. A request answered at once ends by asking for its next head
  // (EndRequest): the outer call reads it, so that pipelined requests do not
  // nest on the stack; after kBurst of them the connection waits its turn.
  void ReadHead(Conn* c) {
    if (reading == c) {
      readAgain = true;
      return;
    }
    Conn* outer = reading;
    reading = c;
    int burst = 0;
    do {
      readAgain = false;
      if (++burst > kBurst) {
        resume.insert(c);
        break;
      }
      ReadOneHead(c);
    } while (readAgain);
    reading = outer;
  }

  // Reads and parses until the socket runs dry, a head is complete (its
  // request starts) or the connection ends.
  void ReadOneHead(Conn* c) {
    static thread_local char buf[kReadSize];
    for (;;) {
      if (c->in.empty()) {
        ssize_t n = c->drained ? -1 : read(c->fd, buf, sizeof buf);
        int error = c->drained ? EAGAIN : errno;
        if (n < 0 && error == EINTR) continue;
        if (n == 0 || (n < 0 && error != EAGAIN)) return Close(c);
        c->drained = !c->peerDone && n < static_cast<ssize_t>(sizeof buf);
        if (n < 0) {
          // Dry. A head in progress keeps the deadline of its first byte.
          if (!c->parser.Started()) Arm(c, c->fresh ? app.config.headTimeoutMs : app.config.idleTimeoutMs);
          return;
        }
        c->in.append(buf, static_cast<size_t>(n));
      }
      if (!c->parser.Started()) {
        c->headStart = MonotonicMs();
        c->deadline = c->headStart + app.config.headTimeoutMs;
      }
      size_t used = 0;
      HeadParser::State st = c->parser.Feed(c->in.data(), c->in.size(), &used);
      c->in.erase(0, used);
      if (st == HeadParser::State::kMore) continue;
      if (st == HeadParser::State::kFailed) {
        LogEvent("rejected " + std::to_string(c->parser.FailStatus()) + " from " + c->peer + ": " +
                 c->parser.FailReason());
        return Reply(c, ErrorResponse(c->parser.FailStatus(), c->parser.FailReason(), false), true);
      }
      return StartRequest(c);
    }
  }

  // The client behind a trusted proxy is the last hop its X-Forwarded-For
  // names (the one the proxy saw); from anyone else the header is ignored.
  void Identify(Conn* c, RequestState* r) {
    r->peer = c->peer;
    r->client = c->peer;
    if (!Trusted(c->peer)) return;
    std::string xff = r->head.Header("x-forwarded-for");
    size_t comma = xff.rfind(',');
    std::string last = Trim(comma == std::string::npos ? xff : xff.substr(comma + 1));
    if (!last.empty()) r->client = last;
    std::string proto = r->head.Header("x-forwarded-proto");
    r->secure = proto == "https";
  }

  bool OverRate(const std::string& client) {
    int rate = app.config.requestsPerSecondPerAddress;
    if (rate <= 0) return false;
    int64_t now = MonotonicMs();
    KLockGuard g(shared.addressMutex);
    Bucket& b = shared.buckets[client];
    if (b.last == 0) b.tokens = rate;
    b.tokens = std::min<double>(rate, b.tokens + static_cast<double>(now - b.last) * rate / 1000.0);
    b.last = now;
    if (b.tokens < 1) return true;
    b.tokens -= 1;
    return false;
  }

  // The request's state is emptied now (an upload's part files go) and
  // kept for the next request; its head keeps its buffers, which the
  // parser gets back for the head after next (HeadParser::TakeHead).
  void Recycle(Conn* c) {
    if (!c->req) return;  // an answer to a head that never became a request
    RequestHead head = std::move(c->req->head);
    *c->req = RequestState();
    c->req->head = std::move(head);
    c->spare = std::move(c->req);
  }

  void StartRequest(Conn* c) {
    ++app.requests;
    c->fresh = false;
    c->req = c->spare ? std::move(c->spare) : std::make_unique<RequestState>();
    c->parser.TakeHead(&c->req->head);
    Identify(c, c->req.get());
    c->bodyLeft = std::max<int64_t>(c->req->head.contentLength, 0);
    if (OverRate(c->req->client)) {
      ++limited;
      // A request with a body is not read: the connection closes after.
      bool close = c->bodyLeft > 0 || !c->req->head.keepAlive || stopping;
      LanguageScope words(c->req->head);
      return Reply(c, ErrorResponse(429, Text(kTooManyRequests, c->req->client), !close, "Retry-After: 1\r\n",
                                 c->req->head.path), close);
    }
    c->keepAlive = c->req->head.keepAlive && !stopping;
    Dispatch(c);
  }

  // A quick request's turn runs here and now; any other goes to a worker.
  void Dispatch(Conn* c) {
    c->state = Conn::kWorking;
    c->deadline = 0;
    if (c->context == nullptr) c->context = KAt::CreateThreadStartup();
    if (!Quick(c->req->head)) return app.pool->Submit(c);
    RunHandler(c);
    AfterTurn(c);
  }

  // ===== Handler turns =====

  // One turn of the handler inside the connection's context.
  void RunHandler(Conn* c) {
    void* previous = KAt::UseThreadStartup(c->context);
    Exchange ex{app, *c->req, c->req->head, c->keepAlive, 0, Next::kRespond, {}};
    Route(ex);
    KAt::UseThreadStartup(previous);
    c->next = ex.next;
    c->response = std::move(ex.response);
    c->keepAlive = ex.keepAlive;
  }

  // On a worker: a turn, then back to the loop.
  void Turn(Conn* c) {
    RunHandler(c);
    KLockGuard g(doneMutex);
    done.push_back(c);
    Signal();
  }

  void TakeDone() {
    uint64_t count;
    ssize_t n = read(wake, &count, sizeof count);
    (void)n;
    std::vector<Conn*> list;
    bool news;
    {
      KLockGuard g(doneMutex);
      list.swap(done);
      news = logNews;
      logNews = false;
    }
    for (Conn* c : list) AfterTurn(c);
    if (news) {
      std::vector<Conn*> again(parked.begin(), parked.end());
      parked.clear();
      for (Conn* c : again) Dispatch(c);
    }
  }

  void AfterTurn(Conn* c) {
    switch (c->next) {
      case Next::kRespond: {
        // A body the handler did not want: dropped when it came with the
        // head, else the connection closes after the answer.
        bool close = !c->keepAlive;
        if (c->bodyLeft > 0) {
          if (static_cast<int64_t>(c->in.size()) >= c->bodyLeft) {
            c->in.erase(0, static_cast<size_t>(c->bodyLeft));
            c->bodyLeft = 0;
          } else {
            close = true;
          }
        }
        Response r = std::move(c->response);
        c->file = r.file;
        c->fileAt = r.fileOffset;
        c->fileLeft = r.fileLength;
        return Reply(c, std::move(r.bytes), close, std::move(r.body), std::move(r.held), r.heldAt, r.heldLength);
      }
      case Next::kReadBody:
      case Next::kFeedBody:
        return StartBody(c, c->next == Next::kFeedBody);
      case Next::kPark:
        if (stopping) {
          c->req->pollExpired = true;
          return Dispatch(c);
        }
        // A line that came while the handler ran may have woken this loop
        // before the poll was parked: the poll looks again at once.
        if (LogLast() != c->req->pollSeen) return Dispatch(c);
        c->state = Conn::kParked;
        Arm(c, app.config.logWaitMs);
        parked.insert(c);
        return;
    }
  }

  // ===== Bodies =====

  // A body the handler wants: in memory, or (kFeedBody) fed to the
  // request's upload parse as it arrives.
  void StartBody(Conn* c, bool fed) {
    RequestState& r = *c->req;
    if (!fed && c->bodyLeft > kMaxMemoryBody) {
      LanguageScope words(r.head);
      return Reply(c, ErrorResponse(413, Text(kBodyTooLarge), false, "", r.head.path), true);
    }
    c->state = Conn::kBody;
    Arm(c, app.config.bodyTimeoutMs);
    // A client waiting for a go-ahead before its body (curl does for large
    // ones) gets it now that the handler wants the body.
    std::string expect = r.head.Header("expect");
    if (c->in.empty() && c->bodyLeft > 0 && strcasecmp(expect.c_str(), "100-continue") == 0) {
      static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
      ssize_t n = send(c->fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL);
      (void)n;  // a client that cannot take 25 bytes now is sent its body anyway
    }
    ReadBody(c);
  }

  // The upload's parse ends and its part files go.
  void DropUpload(Conn* c) {
    if (c->req) c->req->upload.reset();
  }

  // Keeps a piece of the body: in memory, or in the upload's parse (which
  // drops what it no longer wants, so the answer can be sent).
  void Keep(Conn* c, const char* data, size_t n) {
    RequestState& r = *c->req;
    c->bodyLeft -= static_cast<int64_t>(n);
    if (r.upload) r.upload->Feed(data, n);
    else r.bodyBytes.append(data, n);
  }

  // Reads what the socket has of the body; an upload's bytes land in its
  // parser's buffer.
  void ReadBody(Conn* c) {
    static thread_local char buf[kReadSize];  // one per loop thread
    RequestState& r = *c->req;
    if (!c->in.empty()) {
      size_t n = static_cast<size_t>(std::min<int64_t>(c->bodyLeft, static_cast<int64_t>(c->in.size())));
      Keep(c, c->in.data(), n);
      c->in.erase(0, n);
    }
    while (c->bodyLeft > 0) {
      size_t room = 0;
      char* to = r.upload ? r.upload->Buffer(&room) : nullptr;
      if (to == nullptr) {
        to = buf;
        room = sizeof buf;
      }
      ssize_t n = read(c->fd, to, static_cast<size_t>(std::min<int64_t>(c->bodyLeft, static_cast<int64_t>(room))));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        Arm(c, app.config.bodyTimeoutMs);
        return;
      }
      if (n <= 0) return EndBody(c, true);
      if (to != buf) {
        c->bodyLeft -= n;
        r.upload->Commit(static_cast<size_t>(n));
      } else {
        Keep(c, buf, static_cast<size_t>(n));
      }
    }
    EndBody(c, false);
  }

  // The body is complete, or cut short (closed, failed, or paused too
  // long): either way the handler runs again to answer. The upload's parse
  // ends here, on the thread that fed it.
  void EndBody(Conn* c, bool cutShort) {
    RequestState& r = *c->req;
    if (r.upload) r.upload->End();
    if (cutShort) {
      DropUpload(c);
      r.body = RequestState::Body::kCutShort;
      c->keepAlive = false;
    } else {
      r.body = r.upload ? RequestState::Body::kParsed : RequestState::Body::kMemory;
    }
    Dispatch(c);
  }

  // ===== Responses =====

  // The body is body, or heldLength bytes from heldAt of held when set.
  void Reply(Conn* c, std::string bytes, bool closeAfter, std::string body = {},
             std::shared_ptr<const std::string> held = nullptr, size_t heldAt = 0, size_t heldLength = 0) {
    c->out = std::move(bytes);
    c->outBody = std::move(body);
    c->outHeld = std::move(held);
    c->body = c->outHeld ? std::string_view(*c->outHeld).substr(heldAt, heldLength) : std::string_view(c->outBody);
    c->outAt = 0;
    c->closeAfter = closeAfter;
    c->state = Conn::kWriting;
    Arm(c, app.config.writeTimeoutMs);
    WriteOut(c);
  }

  void WriteOut(Conn* c) {
    while (c->outAt < c->out.size() + c->body.size()) {
      // The parts not yet sent: the rest of out, the rest of the body.
      iovec parts[2];
      size_t head = std::min(c->outAt, c->out.size());
      parts[0] = {c->out.data() + head, c->out.size() - head};
      size_t body = c->outAt - head;
      parts[1] = {const_cast<char*>(c->body.data()) + body, c->body.size() - body};
      msghdr m{};
      m.msg_iov = parts[0].iov_len > 0 ? parts : parts + 1;
      m.msg_iovlen = parts[0].iov_len > 0 ? 2 : 1;
      int more = c->fileLeft > 0 ? MSG_MORE : 0;
      ssize_t n = sendmsg(c->fd, &m, MSG_NOSIGNAL | more);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      if (n <= 0) return Close(c);
      c->outAt += static_cast<size_t>(n);
      Arm(c, app.config.writeTimeoutMs);
    }
    while (c->fileLeft > 0) {
      off_t at = c->fileAt;
      ssize_t n = sendfile(c->fd, c->file, &at, static_cast<size_t>(std::min<int64_t>(c->fileLeft, 1 << 30)));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      if (n <= 0) return Close(c);  // a read error, or the file shrank: fewer bytes than promised
      c->fileAt = at;
      c->fileLeft -= n;
      Arm(c, app.config.writeTimeoutMs);
    }
    EndRequest(c);
  }

  void EndRequest(Conn* c) {
    if (c->file >= 0) close(c->file);
    c->file = -1;
    std::string().swap(c->out);
    std::string().swap(c->outBody);
    c->outHeld.reset();
    c->body = {};
    Recycle(c);
    if (c->closeAfter && c->bodyLeft > 0) return Linger(c);
    if (c->closeAfter || stopping) return Close(c);
    c->parser.Reset();
    c->state = Conn::kHead;
    Arm(c, app.config.idleTimeoutMs);
    ReadHead(c);  // a pipelined request may be waiting
  }

  void Linger(Conn* c) {
    shutdown(c->fd, SHUT_WR);
    c->state = Conn::kLinger;
    Arm(c, kLingerMs);
    std::string().swap(c->in);
    Discard(c);
  }

  void Discard(Conn* c) {
    static thread_local char buf[kReadSize];  // one per loop thread
    for (;;) {
      ssize_t n = read(c->fd, buf, sizeof buf);
      if (n > 0 || (n < 0 && errno == EINTR)) continue;
      if (n < 0 && errno == EAGAIN) return;
      return Close(c);  // the client closed too, or the connection failed
    }
  }

  // ===== Events and deadlines =====

  void OnEvent(Conn* c, uint32_t events) {
    if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0) c->drained = false;
    if ((events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0) c->peerDone = true;
    switch (c->state) {
      case Conn::kHead:
        return ReadHead(c);
      case Conn::kBody:
        return ReadBody(c);
      case Conn::kWriting:
        return WriteOut(c);
      case Conn::kLinger:
        return Discard(c);
      case Conn::kParked:
        // A log page that went away; bytes of a next request wait.
        if ((events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0) Close(c);
        return;
      case Conn::kWorking:
        return;  // looked at again when the turn ends
    }
  }

  void Expire(Conn* c) {
    switch (c->state) {
      case Conn::kHead:
        if (!c->parser.Started()) return Close(c);
        LogEvent("timed out a request head from " + c->peer);
        return Reply(c, ErrorResponse(408, Text(kHeadTimeout), false), true);
      case Conn::kBody:
        return EndBody(c, true);
      case Conn::kLinger:
        return Close(c);
      case Conn::kWriting:
        ++writeTimeouts;
        LogEvent("dropped " + c->peer + ": it took no response bytes for " +
                 std::to_string(app.config.writeTimeoutMs) + " ms");
        return Close(c);
      case Conn::kParked:
        parked.erase(c);
        c->req->pollExpired = true;
        return Dispatch(c);
      case Conn::kWorking:
        return;
    }
  }

  void Tick() {
    int64_t now = MonotonicMs();
    std::vector<Conn*> late;
    for (Conn* c : conns)
      if (c->deadline != 0 && c->deadline <= now && c->state != Conn::kWorking) late.push_back(c);
    for (Conn* c : late) Expire(c);
    ForgetBudgets(now);
    if (acceptBlocked) {
      acceptBlocked = false;
      AcceptAll();
    }
  }

  // Budgets of addresses quiet for a while are forgotten: they are full.
  void ForgetBudgets(int64_t now) {
    KLockGuard g(shared.addressMutex);
    if (shared.buckets.size() <= 1024) return;
    for (auto it = shared.buckets.begin(); it != shared.buckets.end();)
      it = now - it->second.last > 2000 ? shared.buckets.erase(it) : std::next(it);
  }

  // After stop: no new connections or requests; bodies are cut off and
  // parked polls answered; handlers and writes in progress finish.
  void BeginStop() {
    stopping = true;
    epoll_ctl(epoll, EPOLL_CTL_DEL, listenFd, nullptr);
    close(listenFd);
    listenFd = -1;
    std::vector<Conn*> all(conns.begin(), conns.end());
    for (Conn* c : all) {
      if (c->state == Conn::kHead) Close(c);
      else if (c->state == Conn::kBody) EndBody(c, true);
      else if (c->state == Conn::kParked) Expire(c);
    }
  }

  // Stops with the others once the first loop saw stop (the first loop is
  // given it; only it asks).
  bool Stopped(const std::function<bool()>* stop) {
    if (stop == nullptr || !(*stop)()) return shared.stopAll.load();
    if (!shared.stopAll.exchange(true))
      for (auto& l : shared.loops) l->Signal();
    return true;
  }

  void Run(const std::function<bool()>* stop) {
    epoll_event events[kMaxEvents];
    int64_t nextTick = MonotonicMs() + kTickMs;
    AcceptAll();
    for (;;) {
      if (!stopping && Stopped(stop)) BeginStop();
      Bury();
      if (stopping && conns.empty()) break;
      int wait = resume.empty() ? static_cast<int>(std::max<int64_t>(0, nextTick - MonotonicMs())) : 0;
      int n = epoll_wait(epoll, events, kMaxEvents, wait);
      for (int i = 0; i < n; ++i) {
        void* p = events[i].data.ptr;
        if (p == &listenFd) AcceptAll();
        else if (p == &wake) TakeDone();
        else if (!static_cast<Conn*>(p)->gone) OnEvent(static_cast<Conn*>(p), events[i].events);
      }
      std::vector<Conn*> again(resume.begin(), resume.end());
      resume.clear();
      for (Conn* c : again)
        if (!c->gone && c->state == Conn::kHead) ReadHead(c);
      if (MonotonicMs() >= nextTick) {
        Tick();
        nextTick = MonotonicMs() + kTickMs;
      }
    }
  }
};

Loop::Loop(App& app) : fImpl(new Impl(app)) {}

Loop::~Loop() = default;

bool Loop::Listen(const std::string& host, int port, std::string* address, std::string* error) {
  Impl& m = *fImpl;
  // The library resolves and binds the address once, alone: an address in
  // use by anyone fails here. The loops then bind what it got (the port
  // included, when 0 asked for a free one).
  bool v6 = host.find(':') != std::string::npos;
  KWSASocket probe;
  probe.ListenHost(host == "*" ? nullptr : host.c_str());
  if (!probe.OpenServer(static_cast<unsigned short>(port), v6 ? KSocket::kIPv6 : KSocket::kIPv4)) {
    *error = BindFailure(host, port);
    return false;
  }
  sockaddr_storage sa{};
  socklen_t len = sizeof sa;
  getsockname(static_cast<int>(probe.Handle()), reinterpret_cast<sockaddr*>(&sa), &len);
  int bound = probe.LocalPort();
  probe.Close();
  for (int i = LoopCount(m.app.config.loops); i > 0; --i) {
    int fd = SharedListener(sa, len);
    auto loop = std::make_unique<EventLoop>(m);
    if (fd < 0 || !loop->Open(fd)) {
      m.loops.clear();
      *error = BindFailure(host, bound);
      return false;
    }
    m.loops.push_back(std::move(loop));
  }
  *address = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(bound);
  return true;
}

void Loop::Run(const std::function<bool()>& stop) {
  Impl& m = *fImpl;
  Pool pool(m.app.config.threads, [](void* job, int) {
    Conn* c = static_cast<Conn*>(job);
    c->home->Turn(c);
  });
  m.app.pool = &pool;
  std::vector<std::thread> others;
  // The answers a loop makes itself (errors in the request's language)
  // need the library's thread context, as the first loop's thread has.
  for (size_t i = 1; i < m.loops.size(); ++i)
    others.emplace_back([&m, i] {
      KAt::ThreadStartup();
      m.loops[i]->Run(nullptr);
      KAt::ThreadShutdown();
    });
  m.loops.front()->Run(&stop);
  for (std::thread& t : others) t.join();
  pool.Stop();
  m.app.pool = nullptr;
}

void Loop::WakeLogPolls() {
  for (auto& l : fImpl->loops) {
    KLockGuard g(l->doneMutex);
    l->logNews = true;
    l->Signal();
  }
}

Loop::Figures Loop::Stats() const {
  Figures f;
  f.open = fImpl->open.load();
  f.refused = fImpl->refused.load();
  f.limited = fImpl->limited.load();
  f.writeTimeouts = fImpl->writeTimeouts.load();
  return f;
}

}  // namespace serve
