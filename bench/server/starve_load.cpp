// The load and the probe of bench/server/starve.sh, two modes of one program:
//   starve_load load --port=P --doc=KEY --seconds=S [--token=T]
//       [--idle=10000] [--slow=1000] [--stalled=64] [--logs=64]
//   starve_load probe --port=P --seconds=S [--token=T] [--source=127.0.0.2]
//
// Why C++ with its own epoll loop rather than Python asyncio: the load holds
// 11,000+ sockets, sends a slowloris byte every few hundred microseconds and
// reconnects whatever the server closes, all from one thread; here a client
// is a small struct and an event costs a system call or two, where asyncio
// adds a transport, a protocol object and interpreter work per socket and
// per event, so on a 2-core machine the load tool itself would take the CPU
// the server needs. The probe runs as a separate process with one blocking
// socket at a time, so the latency it records is the server's and never
// waits behind this loop's events.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

double NowMsExact() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// --name=value arguments; a missing one takes its default.
std::string Arg(int argc, char** argv, const char* name, const char* fallback) {
  std::string prefix = std::string("--") + name + "=";
  for (int i = 2; i < argc; ++i)
    if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) return argv[i] + prefix.size();
  return fallback;
}

int ArgInt(int argc, char** argv, const char* name, int fallback) {
  std::string v = Arg(argc, argv, name, "");
  return v.empty() ? fallback : std::atoi(v.c_str());
}

// Load addresses start at 127.0.1.1 so that none is the probe's 127.0.0.x.
in_addr LoadAddress(int index) {
  in_addr a;
  a.s_addr = htonl((127u << 24) | ((1u + static_cast<unsigned>(index) / 250) << 8) | (1u + index % 250));
  return a;
}

// A non-blocking socket bound to `source` and connecting to 127.0.0.1:port;
// -1 with errno when a step fails at once.
int StartConnect(in_addr source, int port, int rcvbuf) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  // The port is chosen at connect, by the whole four-tuple: 11,000 sockets
  // never run out of ports.
  setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (rcvbuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr = source;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// The parts of an HTTP answer the clients look at.
struct Answer {
  int status = 0;
  size_t headLength = 0;  // through the blank line; 0: not complete yet
  int64_t contentLength = -1;
  int64_t logNext = -1;
  int retryAfter = -1;
};

int64_t HeaderNumber(const std::string& head, const char* name) {
  std::string key = std::string("\r\n") + name + ":";
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::string h = lower(head);
  size_t at = h.find(lower(key));
  return at == std::string::npos ? -1 : std::atoll(head.c_str() + at + key.size());
}

Answer ParseAnswer(const std::string& in) {
  Answer a;
  size_t end = in.find("\r\n\r\n");
  if (end == std::string::npos) return a;
  std::string head = in.substr(0, end + 2);
  a.headLength = end + 4;
  if (head.compare(0, 5, "HTTP/") == 0 && head.find(' ') != std::string::npos)
    a.status = std::atoi(head.c_str() + head.find(' ') + 1);
  a.contentLength = HeaderNumber(head, "Content-Length");
  a.logNext = HeaderNumber(head, "X-Log-Next");
  a.retryAfter = static_cast<int>(HeaderNumber(head, "Retry-After"));
  return a;
}

std::string AuthLine(const std::string& token) {
  return token.empty() ? std::string() : "Authorization: Bearer " + token + "\r\n";
}

// ---------------------------------------------------------------------------
// The load

enum Kind { kIdle, kSlow, kStalled, kLog, kKinds };
const char* const kKindNames[kKinds] = {"idle", "slowloris", "stalled download", "log page"};

struct Client {
  Kind kind = kIdle;
  int address = 0;
  int fd = -1;
  bool connected = false;
  bool opened = false;   // connected at least once: the ramp is over for it
  int64_t since = 0;     // when the connect started or succeeded
  int64_t due = 0;       // the next reconnect or slowloris byte
  size_t sent = 0;       // slowloris bytes so far
  int64_t after = 0;     // a log page's next entry number
  std::string in;        // a log page's unread answer bytes
};

struct Counts {
  int target = 0;
  int held = 0;  // connected now
  int heldMin = -1;
  int heldMax = 0;
  int64_t connects = 0;
  int64_t closedByServer = 0;
  int64_t connectFailures = 0;
  int64_t requests = 0;
  std::map<int, int64_t> answers;  // status -> count
};

volatile std::sig_atomic_t gStop = 0;
void OnStop(int) { gStop = 1; }

class Load {
 public:
  Load(int port, std::string doc, std::string token, const int counts[kKinds], const int perAddress[kKinds])
      : fPort(port), fDoc(std::move(doc)), fToken(std::move(token)) {
    fEpoll = epoll_create1(EPOLL_CLOEXEC);
    int address = 0;
    for (int k = 0; k < kKinds; ++k) {
      fCounts[k].target = counts[k];
      for (int i = 0; i < counts[k]; ++i) {
        Client c;
        c.kind = static_cast<Kind>(k);
        c.address = address + i / perAddress[k];
        fClients.push_back(c);
      }
      address += (counts[k] + perAddress[k] - 1) / perAddress[k];
    }
    fAddresses = address;
    fSlowHead = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nX-Slow: ";
  }

  int Run(int seconds) {
    std::mt19937 random(12345);
    const int64_t start = NowMs();
    int64_t lastFirstOpen = start, rampedAt = -1, nextScan = 0;
    std::vector<epoll_event> events(1024);
    for (;;) {
      int64_t now = NowMs();
      if (gStop || (rampedAt >= 0 && now - rampedAt >= int64_t{seconds} * 1000)) break;
      int n = epoll_wait(fEpoll, events.data(), static_cast<int>(events.size()), 10);
      for (int i = 0; i < n; ++i) OnEvent(fClients[events[i].data.u32], events[i].events, random);
      now = NowMs();
      if (now < nextScan) continue;
      nextScan = now + 20;
      // Opens are spread, 100 per 20 ms, so a reconnect storm or the ramp
      // itself never floods the listener's queue in one burst.
      int budget = 100;
      bool allOpened = true;
      for (Counts& c : fCounts) c.held = 0;
      for (Client& c : fClients) {
        if (c.fd < 0 && c.due <= now && budget > 0) {
          --budget;
          if (!c.opened && c.since == 0) lastFirstOpen = now;
          Open(c, now);
        }
        if (c.connected && c.kind == kSlow && c.due <= now) SendSlowByte(c, now);
        if (c.connected) ++fCounts[c.kind].held;
        if (!c.opened && c.since == 0) allOpened = false;
      }
      if (rampedAt < 0) {
        // The run starts once every client has tried, and either all hold
        // or the stragglers had 3 s: a server that never accepts them is a
        // result, not a reason to wait.
        bool allHeld = true;
        for (Counts& c : fCounts) allHeld = allHeld && c.held == c.target;
        if (allOpened && (allHeld || now - lastFirstOpen >= 3000)) {
          rampedAt = now;
          std::printf("ramped in %.1f s over %d source addresses\n", static_cast<double>(now - start) / 1e3,
                      fAddresses);
          std::fflush(stdout);
        }
      } else {
        for (Counts& c : fCounts) {
          c.heldMin = c.heldMin < 0 ? c.held : std::min(c.heldMin, c.held);
          c.heldMax = std::max(c.heldMax, c.held);
        }
      }
    }
    Report();
    return 0;
  }

 private:
  void Open(Client& c, int64_t now) {
    c.since = now;
    c.connected = false;
    c.in.clear();
    c.sent = 0;
    c.fd = StartConnect(LoadAddress(c.address), fPort, c.kind == kStalled ? 4096 : 0);
    if (c.fd < 0) return Failed(c, now);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u32 = static_cast<uint32_t>(&c - fClients.data());
    epoll_ctl(fEpoll, EPOLL_CTL_ADD, c.fd, &ev);
  }

  void Failed(Client& c, int64_t now) {
    ++fCounts[c.kind].connectFailures;
    Drop(c, now + 1000);
  }

  // Reconnects at `when`: at once after a connection that lived, a second
  // later after one the server refused or closed at once, so a server that
  // turns the load away is not hammered.
  void Drop(Client& c, int64_t when) {
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
    c.connected = false;
    c.due = when;
  }

  void ClosedByServer(Client& c, int64_t now) {
    ++fCounts[c.kind].closedByServer;
    Drop(c, now - c.since < 1000 ? now + 1000 : now);
  }

  void OnEvent(Client& c, uint32_t what, std::mt19937& random) {
    int64_t now = NowMs();
    if (c.fd < 0) return;
    if (!c.connected) {
      int error = 0;
      socklen_t len = sizeof error;
      if (!(what & (EPOLLOUT | EPOLLERR | EPOLLHUP))) return;
      if (getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0 || (what & EPOLLHUP))
        return Failed(c, now);
      c.connected = true;
      c.opened = true;
      c.since = now;
      ++fCounts[c.kind].connects;
      if (c.kind == kSlow) c.due = now + static_cast<int64_t>(random() % 5000);
      if (c.kind == kStalled) Send(c, "GET /doc/" + fDoc + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + AuthLine(fToken) + "\r\n");
      if (c.kind == kLog) SendLogPoll(c);
      if (c.fd < 0) return;
    }
    // A stalled download never reads: its answer waits in the server.
    if (c.kind == kStalled) {
      if (what & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) ClosedByServer(c, now);
      return;
    }
    char buffer[65536];
    for (;;) {
      ssize_t got = read(c.fd, buffer, sizeof buffer);
      if (got > 0) {
        if (c.kind == kLog) {
          c.in.append(buffer, static_cast<size_t>(got));
          ReadLogAnswers(c, now);
          if (c.fd < 0) return;
        } else if (c.in.empty()) {
          // Idle and slowloris clients only note the status of what the
          // server says before it closes (408, 431, 429...).
          c.in.assign(buffer, static_cast<size_t>(got));
          Answer a = ParseAnswer(c.in);
          if (a.status != 0) ++fCounts[c.kind].answers[a.status];
        }
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
      return ClosedByServer(c, now);
    }
  }

  void Send(Client& c, const std::string& bytes) {
    ++fCounts[c.kind].requests;
    // A request is a few hundred bytes: the empty send buffer of a fresh
    // or idle connection takes it whole.
    if (write(c.fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) ClosedByServer(c, NowMs());
  }

  void SendSlowByte(Client& c, int64_t now) {
    char byte = c.sent < fSlowHead.size() ? fSlowHead[c.sent] : 'a';
    c.due = now + 5000;
    if (write(c.fd, &byte, 1) != 1) return ClosedByServer(c, now);
    ++c.sent;
  }

  // As the log page's script does: the next poll as soon as an answer is in.
  void SendLogPoll(Client& c) {
    Send(c, "GET /log?after=" + std::to_string(c.after) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + AuthLine(fToken) +
                "\r\n");
  }

  void ReadLogAnswers(Client& c, int64_t now) {
    for (;;) {
      Answer a = ParseAnswer(c.in);
      if (a.headLength == 0) return;
      int64_t body = std::max<int64_t>(a.contentLength, 0);
      if (c.in.size() < a.headLength + static_cast<size_t>(body)) return;
      c.in.erase(0, a.headLength + static_cast<size_t>(body));
      ++fCounts[kLog].answers[a.status];
      if (a.logNext >= 0) c.after = a.logNext;
      if (a.status == 429) {
        // Kinder than the page's script, which would ask again at once.
        Drop(c, now + 1000 * std::max(a.retryAfter, 1));
        return;
      }
      SendLogPoll(c);
      if (c.fd < 0) return;
    }
  }

  void Report() {
    std::printf("%-17s %7s %9s %9s %9s %9s %10s %9s %9s  %s\n", "clients", "target", "held min", "held max",
                "held end", "connects", "closed by", "failed", "requests", "answers (status: count)");
    for (int k = 0; k < kKinds; ++k) {
      const Counts& c = fCounts[k];
      std::string answers;
      for (const auto& [status, count] : c.answers)
        answers += (answers.empty() ? "" : ", ") + std::to_string(status) + ": " + std::to_string(count);
      std::printf("%-17s %7d %9d %9d %9d %9lld %10lld %9lld %9lld  %s\n", kKindNames[k], c.target,
                  std::max(c.heldMin, 0), c.heldMax, c.held, static_cast<long long>(c.connects),
                  static_cast<long long>(c.closedByServer), static_cast<long long>(c.connectFailures),
                  static_cast<long long>(c.requests), answers.empty() ? "-" : answers.c_str());
    }
    // Lines for the script: "HELD min max target" of each kind in order.
    for (const Counts& c : fCounts) std::printf("HELD %d %d %d\n", std::max(c.heldMin, 0), c.heldMax, c.target);
  }

  int fPort;
  std::string fDoc, fToken, fSlowHead;
  int fEpoll = -1;
  int fAddresses = 0;
  std::vector<Client> fClients;
  Counts fCounts[kKinds];
};

// ---------------------------------------------------------------------------
// The probe

// Waits for `events` on fd until `deadline` (NowMsExact); false on timeout.
bool WaitFor(int fd, short events, double deadline) {
  for (;;) {
    double left = deadline - NowMsExact();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, static_cast<int>(left) + 1);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return true;  // the next call reports the error
  }
}

// One GET / on a fresh connection; "" when it was a 200, else what failed.
std::string ProbeOnce(in_addr source, int port, const std::string& request, int timeoutMs) {
  double deadline = NowMsExact() + timeoutMs;
  int fd = StartConnect(source, port, 0);
  if (fd < 0) return std::string("connect: ") + std::strerror(errno);
  std::string failure;
  int error = 0;
  socklen_t len = sizeof error;
  std::string in;
  size_t sent = 0;
  if (!WaitFor(fd, POLLOUT, deadline)) {
    failure = "timeout (connect)";
  } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
    failure = std::string("connect: ") + std::strerror(error);
  }
  while (failure.empty() && sent < request.size()) {
    ssize_t n = write(fd, request.data() + sent, request.size() - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      if (!WaitFor(fd, POLLOUT, deadline)) failure = "timeout (request)";
    } else {
      failure = std::string("send: ") + std::strerror(errno);
    }
  }
  while (failure.empty()) {
    Answer a = ParseAnswer(in);
    if (a.headLength != 0 && a.contentLength >= 0 && in.size() >= a.headLength + static_cast<size_t>(a.contentLength)) {
      if (a.status != 200) failure = "status " + std::to_string(a.status);
      break;
    }
    if (!WaitFor(fd, POLLIN, deadline)) {
      failure = "timeout (answer)";
      break;
    }
    char buffer[65536];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      in.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      failure = "closed before a whole answer";
    } else if (errno != EAGAIN && errno != EINTR) {
      failure = std::string("read: ") + std::strerror(errno);
    }
  }
  close(fd);
  return failure;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  size_t rank = static_cast<size_t>(p * static_cast<double>(sorted.size()) + 0.999999);
  return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

int Probe(int port, int seconds, const std::string& token, const std::string& source, int intervalMs,
          int timeoutMs) {
  in_addr from{};
  if (inet_pton(AF_INET, source.c_str(), &from) != 1) {
    std::fprintf(stderr, "starve_load probe: bad --source %s\n", source.c_str());
    return 2;
  }
  // A new visitor each time: a fresh connection, so a full accept queue
  // shows as well as a busy worker.
  std::string request =
      "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" + AuthLine(token) + "Connection: close\r\n\r\n";
  std::vector<double> latencies;
  std::map<std::string, int> failures;
  double start = NowMsExact(), end = start + seconds * 1000.0;
  for (int64_t slot = 0;; ++slot) {
    double at = start + static_cast<double>(slot) * intervalMs;
    double now = NowMsExact();
    if (at >= end) break;
    if (at + intervalMs <= now) continue;  // a slow probe skips the slots it overran
    if (at > now) {
      timespec wait{static_cast<time_t>((at - now) / 1e3), static_cast<long>(std::fmod(at - now, 1e3) * 1e6)};
      nanosleep(&wait, nullptr);
    }
    double begin = NowMsExact();
    std::string failure = ProbeOnce(from, port, request, timeoutMs);
    double ms = NowMsExact() - begin;
    // A failure counts as no answer within the time limit: it is as bad
    // for the visitor as the slowest answer could be.
    latencies.push_back(failure.empty() ? ms : std::max(ms, static_cast<double>(timeoutMs)));
    if (!failure.empty()) ++failures[failure];
  }
  std::sort(latencies.begin(), latencies.end());
  int failed = 0;
  std::string why;
  for (const auto& [what, count] : failures) {
    failed += count;
    why += (why.empty() ? "" : ", ") + what + ": " + std::to_string(count);
  }
  std::printf("probe: %zu requests of GET / from %s, %d failed%s%s%s\n", latencies.size(), source.c_str(), failed,
              why.empty() ? "" : " (", why.c_str(), why.empty() ? "" : ")");
  std::printf("PROBE %zu %d %.2f %.2f %.2f %.2f\n", latencies.size(), failed, Percentile(latencies, 0.5),
              Percentile(latencies, 0.9), Percentile(latencies, 0.99), latencies.empty() ? 0.0 : latencies.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  int port = ArgInt(argc, argv, "port", 0);
  int seconds = ArgInt(argc, argv, "seconds", 30);
  std::string token = Arg(argc, argv, "token", "");
  if (port <= 0 || (mode != "load" && mode != "probe")) {
    std::fprintf(stderr, "usage: starve_load load|probe --port=P --seconds=S [--token=T] [--doc=KEY] ...\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  if (mode == "probe")
    return Probe(port, seconds, token, Arg(argc, argv, "source", "127.0.0.2"), ArgInt(argc, argv, "interval-ms", 100),
                 ArgInt(argc, argv, "timeout-ms", 5000));
  // Per address: idle and slowloris clients fill 100 of the server's 128,
  // and each stalled download and log page has an address of its own, as
  // separate visitors would, so no address meets a per-address cap.
  const int counts[kKinds] = {ArgInt(argc, argv, "idle", 10000), ArgInt(argc, argv, "slow", 1000),
                              ArgInt(argc, argv, "stalled", 64), ArgInt(argc, argv, "logs", 64)};
  const int perAddress[kKinds] = {100, 100, 1, 1};
  std::signal(SIGTERM, &OnStop);
  std::signal(SIGINT, &OnStop);
  Load load(port, Arg(argc, argv, "doc", ""), token, counts, perAddress);
  return load.Run(seconds);
}
