// vxhost serve: start-up, the deadline loop and the shut-down of the
// document-drop server.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "serve_app.h"
#include "serve_log.h"
#include "serve_pool.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/web/KHTTPArgs.h"

namespace {

volatile std::sig_atomic_t gSignal = 0;

void OnSignal(int sig) { gSignal = sig; }

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: vxhost serve [--listen HOST:PORT] [--data DIR]\n"
               "\n"
               "Serves the document-drop web site: upload, list, download and delete\n"
               "documents, the live event log and a status page. DIR (default: var)\n"
               "holds the documents and vxhost.ini, made with the defaults on first\n"
               "start. Port 0 picks a free port. The first line printed is\n"
               "\"listening on http://HOST:PORT/\". Ctrl-C or SIGTERM stops it.\n");
}

}  // namespace

int RunServe(int argc, char** argv) {
  using namespace serve;
  App app;
  bool listenGiven = false;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--listen" || a == "--data") && i + 1 < argc) {
      std::string v = argv[++i];
      if (a == "--data") {
        app.config.dataDir = v;
      } else if (ParseHostPort(v, &app.config.host, &app.config.port)) {
        listenGiven = true;
      } else {
        std::fprintf(stderr, "vxhost serve: --listen wants HOST:PORT, not '%s'\n", v.c_str());
        return 2;
      }
    } else if (a == "--help" || a == "-h") {
      PrintUsage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "vxhost serve: unknown argument '%s'\n\n", a.c_str());
      PrintUsage(stderr);
      return 2;
    }
  }

  // The message catalogue: res/ beside the program.
  err_properties_path_set(VXHOST_HOME);
  KAt::ProcessStartup(1);
  std::string error, address;
  if (!LoadConfig(&app.config, listenGiven, &error) || !app.store.Open(app.config.dataDir, &error) ||
      !OpenLog(app.config.dataDir, &error)) {
    std::fprintf(stderr, "vxhost serve: %s\n", error.c_str());
    CloseLog();
    KAt::ProcessShutdown(1);
    return 1;
  }
  app.started = NowSeconds();
  app.uploaders.push_back(nullptr);  // workers count from 1
  for (int i = 1; i <= app.config.threads; ++i) app.uploaders.push_back(new KHTTPArgs(static_cast<unsigned long>(i)));

  auto finish = [&app](Conn* conn) {
    KAt::DestroyThreadStartup(conn->context);
    DeleteConnState(conn->state);
    app.net.Close(conn);
  };
  Pool pool(
      app.config.threads, [&app](Conn* conn, int worker) { return ServeTurn(app, conn, worker); },
      [&app, &pool, finish](Conn* conn, int waitMs) {
        if (waitMs <= 0 || app.stopping) return finish(conn);
        if (!conn->Routed()) {  // no readiness callbacks: wait for it here
          if (conn->Prefetch(waitMs, app.stopping)) return pool.Submit(conn);
          return finish(conn);
        }
        if (!app.net.Watch(conn, waitMs)) finish(conn);
      });
  app.pool = &pool;
  Net::Callbacks callbacks;
  callbacks.accepted = [&app, &pool](Conn* conn) {
    conn->context = KAt::CreateThreadStartup();
    conn->state = NewConnState(app.config);
    pool.Submit(conn);  // its first bytes may have come before it was routed
  };
  callbacks.readable = [&pool](Conn* conn) { pool.Submit(conn); };
  callbacks.expired = [&app, finish](Conn* conn) {
    TimedOut(app, conn);
    finish(conn);
  };

  std::signal(SIGINT, &OnSignal);
  std::signal(SIGTERM, &OnSignal);
  bool listening = app.net.Listen(app.config.host, app.config.port, callbacks, &address, &error);
  if (listening) {
    std::printf("listening on http://%s/\n", address.c_str());
    std::printf("data in %s, preferences in %s\n", app.config.dataDir.c_str(), app.config.iniPath.c_str());
    std::fflush(stdout);
    LogEvent("listening on " + address + " with " + std::to_string(app.config.threads) + " workers; removed " +
             std::to_string(app.store.Stats().swept) + " temporaries");
    app.net.Run([&app] {
      if (gSignal != 0) app.stopping = true;
      return app.stopping.load();
    });
    LogEvent("stopping");
  } else {
    std::fprintf(stderr, "vxhost serve: %s\n", error.c_str());
    app.stopping = true;
  }
  // A connection accepted after the workers stopped would never be served
  // nor freed: accepting ends first.
  app.net.StopAccepting();
  CloseLog();  // wakes the long polls
  pool.Stop();
  app.net.Shutdown();
  for (KHTTPArgs* args : app.uploaders) delete args;
  app.uploaders.clear();
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  KAt::ProcessShutdown(1);
  if (!listening) return 1;
  std::printf("stopped\n");
  return 0;
}
