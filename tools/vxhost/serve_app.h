// What every request handler of the server shares: the running server and
// the exchange at hand.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_APP_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_APP_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "serve.h"
#include "serve_http.h"
#include "serve_net.h"
#include "serve_store.h"

class KHTTPArgs;

namespace serve {

class Pool;

// The running server. Config and the start time are constant once it
// runs; the store, net and pool lock for themselves; the counters are
// atomic.
struct App {
  Config config;
  Store store;
  Net net;
  Pool* pool = nullptr;
  int64_t started = 0;  // seconds since 1970
  std::vector<KHTTPArgs*> uploaders;  // one per worker, index = worker number
  std::atomic<long> requests{0};
  std::atomic<bool> stopping{false};
};

// One request on one connection, handled by one worker.
struct Exchange {
  App& app;
  Conn* conn;
  int worker;
  const RequestHead& head;
  std::string& pending;  // bytes read past the head (body, then the next request)
  int64_t bodyLeft;      // body bytes not yet taken from pending and the socket
  bool keepAlive;        // cleared by anything that leaves the connection unusable
  int status = 0;        // what was answered, for the log
};

// Answers with a complete body.
void Send(Exchange& ex, int status, const std::string& type, const std::string& body,
          const std::string& extraHeaders = "");
// Answers with an error page carrying message.
void SendError(Exchange& ex, int status, const std::string& message);
// Routes one request whose head has been read.
void Route(Exchange& ex);
// POST /upload.
void HandleUpload(Exchange& ex);
// ===== Connections (serve_conn.cpp) =====

// The per-connection state kept in Conn::state.
void* NewConnState(const Config& config);
void DeleteConnState(void* state);
// Serves one turn of a connection: the Pool's work. The result is 0 to
// close the connection, else the ms to wait for more.
int ServeTurn(App& app, Conn* conn, int worker);
// A watched connection passed its deadline: a client in the middle of a
// head gets 408 before the caller closes it.
void TimedOut(App& app, Conn* conn);
// Reads and drops a small body so the connection can serve the next
// request; false (and keepAlive cleared) when it is too big or cut short.
bool DrainBody(Exchange& ex);

// ===== Pages (serve_pages.cpp) =====

std::string ListPage(const std::vector<DocInfo>& docs);
std::string ErrorPage(int status, const std::string& message);
std::string LogPage();
std::string StatusPage(App& app);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_APP_H_
