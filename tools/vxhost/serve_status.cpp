// The server's figures, gathered in one place so that the status page and
// the API report the same things.
#include "serve_app.h"
#include "serve_follow.h"
#include "serve_pool.h"

namespace serve {

StatusFigures StatusOf(App& app) {
  StatusFigures f;
  f.uptime = NowSeconds() - app.started;
  f.freeBytes = FreeBytes(app.config.dataDir);
  f.store = app.store.Stats();
  f.net = app.loop->Stats();
  f.requests = app.requests.load();
  f.sessions = static_cast<long>(app.sessions->Count());
  f.threads = app.pool->Threads();
  f.busy = app.pool->Busy();
  if (app.follower != nullptr) f.servers = app.follower->Servers();
  return f;
}

}  // namespace serve
