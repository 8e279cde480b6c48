// One turn of a connection on a worker: read what the socket has, parse
// heads, answer each complete request, and give the connection back to
// the readiness routing when the socket runs dry.
#include <algorithm>

#include "serve_app.h"

namespace serve {

namespace {

constexpr long kReadSize = 16 * 1024;
constexpr int64_t kMaxDrain = 64 * 1024;  // larger unwanted bodies close the connection

// Owned by its Conn (through Conn::state); used by whoever owns the Conn.
struct ConnState {
  explicit ConnState(size_t maxHead) : parser(maxHead) {}
  HeadParser parser;
  std::string pending;    // bytes read and not yet used
  int64_t headStart = 0;  // monotonic ms of the current head's first byte
  bool fresh = true;      // no request yet: the first one is due at once
};

ConnState* StateOf(Conn* conn) { return static_cast<ConnState*>(conn->state); }

}  // namespace

void* NewConnState(const Config& config) { return new ConnState(static_cast<size_t>(config.maxHeadBytes)); }

void DeleteConnState(void* state) { delete static_cast<ConnState*>(state); }

bool DrainBody(Exchange& ex) {
  if (ex.bodyLeft > kMaxDrain) {
    ex.keepAlive = false;
    return false;
  }
  char buf[kReadSize];
  while (ex.bodyLeft > 0) {
    if (ex.pending.empty()) {
      long n = ex.conn->ReadWait(buf, kReadSize, ex.app.config.bodyTimeoutMs);
      if (n <= 0) {
        ex.keepAlive = false;
        return false;
      }
      ex.pending.append(buf, static_cast<size_t>(n));
    }
    size_t take = static_cast<size_t>(std::min<int64_t>(ex.bodyLeft, static_cast<int64_t>(ex.pending.size())));
    ex.pending.erase(0, take);
    ex.bodyLeft -= static_cast<int64_t>(take);
  }
  return true;
}

int ServeTurn(App& app, Conn* conn, int worker) {
  ConnState* s = StateOf(conn);
  char buf[kReadSize];
  for (;;) {
    if (s->pending.empty()) {
      long n = conn->Read(buf, kReadSize);
      if (n < 0) return 0;
      if (n == 0) {
        if (!s->parser.Started()) return s->fresh ? app.config.headTimeoutMs : app.config.idleTimeoutMs;
        int64_t left = s->headStart + app.config.headTimeoutMs - MonotonicMs();
        return static_cast<int>(std::max<int64_t>(left, 1));
      }
      s->pending.append(buf, static_cast<size_t>(n));
    }
    if (!s->parser.Started()) s->headStart = MonotonicMs();
    size_t used = 0;
    HeadParser::State st = s->parser.Feed(s->pending.data(), s->pending.size(), &used);
    s->pending.erase(0, used);
    // More of the head is needed. Its deadline counts from its first byte,
    // so a client trickling bytes still meets it (the Net's deadlines).
    if (st == HeadParser::State::kMore) continue;
    const RequestHead& head = s->parser.Head();
    Exchange ex{app, conn, worker, head, s->pending, std::max<int64_t>(head.contentLength, 0),
                head.keepAlive && !app.stopping.load()};
    if (st == HeadParser::State::kFailed) {
      ex.keepAlive = false;
      SendError(ex, s->parser.FailStatus(), s->parser.FailReason());
      LogEvent("rejected " + std::to_string(ex.status) + " from " + conn->Peer() + ": " +
               s->parser.FailReason());
      return 0;
    }
    ++app.requests;
    s->fresh = false;
    Route(ex);
    if (!ex.keepAlive || ex.bodyLeft > 0) return 0;
    s->parser.Reset();
  }
}

void TimedOut(App& app, Conn* conn) {
  ConnState* s = StateOf(conn);
  if (!s->parser.Started()) return;
  RequestHead none;
  Exchange ex{app, conn, 0, none, s->pending, 0, false};
  SendError(ex, 408, Text(kHeadTimeout));
  LogEvent("timed out a request head from " + conn->Peer());
}

}  // namespace serve
