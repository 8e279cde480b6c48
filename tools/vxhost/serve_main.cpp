// vxhost serve: start-up, the deadline loop and the shut-down of the
// document-drop server.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "host_paths.h"
#include "serve_app.h"
#include "serve_follow.h"
#include "serve_pool.h"
#include "serve_preview.h"
#include "serve_log.h"
#include "serve_loop.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/threads/KCondition.h"
#include "vxkernel/threads/KMutex.h"
#include "vxkernel/threads/KTimestamp.h"

namespace {

volatile std::sig_atomic_t gSignal = 0;

void OnSignal(int sig) { gSignal = sig; }

// One server per instance name on a data folder: a second one would sweep
// the first one's temporaries and write into its log. The lock (flock,
// which the shared file systems the folder may live on keep across
// machines) goes with the process, however it ends.
bool HoldInstance(const std::string& dir, const std::string& instance, int* fd, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dir + "/instances", ec);
  std::string path = dir + "/instances/" + instance + ".lock";
  *fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (*fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno) + "; check the folder's permissions";
    return false;
  }
  if (flock(*fd, LOCK_EX | LOCK_NB) != 0) {
    char holder[300] = "";
    ssize_t n = pread(*fd, holder, sizeof holder - 1, 0);
    std::string who = n > 0 ? std::string(holder, static_cast<size_t>(n)) : "";
    while (!who.empty() && (who.back() == '\n' || who.back() == ' ')) who.pop_back();
    *error = dir + " is in use by another vxhost serve named " + instance + (who.empty() ? "" : " (" + who + ")") +
             "; stop it, or give this one another name with --instance NAME";
    return false;
  }
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  std::string who = "pid " + std::to_string(getpid()) + " on " + host + "\n";
  if (ftruncate(*fd, 0) != 0 || pwrite(*fd, who.data(), who.size(), 0) < 0) {
    // Only a hint for the message above.
  }
  return true;
}

// The host name, or "vxhost" where it is not a valid instance name.
std::string DefaultInstance() {
  char host[256] = "";
  if (gethostname(host, sizeof host - 1) != 0 || !serve::ValidInstance(host)) return "vxhost";
  return host;
}

// DIR/sessions: one file per login session, shared by every server on the
// folder; only this user may read them.
bool MakeSessionFolder(const std::string& dataDir, std::string* path, std::string* error) {
  *path = dataDir + "/sessions";
  struct stat st {};
  if (mkdir(path->c_str(), 0700) == 0 || (stat(path->c_str(), &st) == 0 && S_ISDIR(st.st_mode))) return true;
  *error = "cannot make " + *path + ": " + std::strerror(errno);
  return false;
}

// The first line scripts read; for a server on every interface, an
// address that works here and the name other machines may use.
void PrintAddress(const std::string& host, const std::string& address) {
  std::string port = address.substr(address.rfind(':') + 1);
  if (host != "*" && host != "0.0.0.0" && host != "::") {
    std::printf("listening on http://%s/\n", address.c_str());
    return;
  }
  std::printf("listening on http://%s:%s/\n", host == "::" ? "[::1]" : "127.0.0.1", port.c_str());
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0')
    std::printf("on every interface: other machines use http://%s:%s/\n", name, port.c_str());
}

// A server is never open to all: on first start it makes the administrator
// and shows the password this once.
void FirstAdmin(serve::App& app) {
  std::string password, error;
  if (serve::Users::EnsureAdmin(app.config.dataDir, &password, &error)) {
    std::printf("created the user admin with the password %s\n(shown only now; to change it: vxhost user del "
                "admin --data %s, then vxhost user add admin --admin --data %s)\n",
                password.c_str(), app.config.dataDir.c_str(), app.config.dataDir.c_str());
    std::fflush(stdout);
    serve::LogEvent("created the user admin; its password was shown on the console");
    app.users.Refresh();
  } else if (!error.empty()) {
    std::fprintf(stderr, "vxhost serve: %s\n", error.c_str());
  }
}

// Removes for good what has been in the trash longer than trash_days (with
// 0, all of it) and logs each; then the share links that ended and the
// files of idle sessions.
void SweepTrash(serve::App& app) {
  int64_t before = serve::NowSeconds() - int64_t{app.config.trashDays} * 86400;
  for (const serve::TrashInfo& t : app.store.SweepTrash(before)) {
    serve::ForgetText(app, t.doc.key);
    serve::Announce("doc " + t.doc.key);
    serve::LogEvent("removed " + t.doc.key + " from the trash for good (deleted by " + t.by + " on " +
                    serve::FormatDate(t.deleted) + ")");
  }
  serve::SweepShares(app);
  if (size_t n = app.sessions->SweepFiles(); n > 0)
    serve::LogEvent("removed " + std::to_string(n) + " idle sessions");
}

// Sweeps the trash once an hour on a thread of its own (the sweep removes
// files, which the connection loop must not wait for) until destroyed.
class HourlySweep {
 public:
  explicit HourlySweep(serve::App& app) : fThread([this, &app] {
    KLockGuard g(fMutex);
    while (!fStop) {
      fWake.Wait(fMutex, KTimestamp(serve::NowSeconds() + kInterval, 0));
      if (!fStop) SweepTrash(app);
    }
  }) {}
  ~HourlySweep() {
    {
      KLockGuard g(fMutex);
      fStop = true;
      fWake.Signal();
    }
    fThread.join();
  }

 private:
  static constexpr int64_t kInterval = 3600;
  KMutex fMutex;
  KCondition fWake;
  bool fStop VXK_GUARDED_BY(fMutex) = false;
  std::thread fThread;  // last: starts once the members above exist
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: vxhost serve [--listen HOST:PORT] [--data DIR] [--instance NAME]\n"
               "\n"
               "Serves the document-drop web site: upload, list, download and delete\n"
               "documents, the live event log and a status page. DIR (default: var)\n"
               "holds the documents, the accounts (users.json) and vxhost.ini, made\n"
               "with the defaults on first start. Port 0 picks a free port. The first\n"
               "line printed is \"listening on http://HOST:PORT/\". Ctrl-C or SIGTERM\n"
               "stops it.\n"
               "\n"
               "Several servers may share DIR (on one machine, or on a shared file\n"
               "system behind a load balancer), each with its own NAME (default: the\n"
               "host name; letters, digits, '.', '_', '-'); each sees the others'\n"
               "changes within a second. See docs/deploy.md.\n"
               "\n"
               "Nothing is served without a login (the page /login) or an API token\n"
               "(Authorization: Bearer TOKEN). On first start with no users the server\n"
               "makes the user admin and prints its password once. Manage accounts with\n"
               "  vxhost user add NAME [--admin] --data DIR   (password on standard input)\n"
               "  vxhost user del NAME --data DIR | vxhost user list --data DIR\n"
               "  vxhost token add NAME --data DIR | vxhost token del TOKEN --data DIR\n"
               "\n"
               "Keys of [server] in vxhost.ini: listen, threads, loops, max_upload_bytes,\n"
               "min_free_bytes, max_head_bytes, head_timeout_ms, body_timeout_ms,\n"
               "idle_timeout_ms, write_timeout_ms, log_wait_ms, conns_per_address,\n"
               "requests_per_second_per_address, trusted_proxies, server_names,\n"
               "session_idle_minutes, trash_days. TLS: run it behind a reverse proxy\n"
               "(deploy/).\n"
               "See docs/server.md.\n");
}

}  // namespace

int RunServe(int argc, char** argv) {
  using namespace serve;
  App app;
  bool listenGiven = false;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--listen" || a == "--data" || a == "--instance") && i + 1 < argc) {
      std::string v = argv[++i];
      if (a == "--data") {
        app.config.dataDir = v;
      } else if (a == "--instance") {
        if (!ValidInstance(v)) {
          std::fprintf(stderr, "vxhost serve: --instance wants 1 to 64 letters, digits, '.', '_' or '-', not '%s'\n",
                       v.c_str());
          return 2;
        }
        app.config.instance = v;
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

  // The message catalogue and the conversion client: in the build tree
  // beside the program, else where the install put them.
  const host::HostPaths paths = host::FindHostPaths(host::ProgramDir());
  if (paths.resHome.empty())
    std::fprintf(stderr, "vxhost serve: no res/ beside the program or in its share/vxhost/: pages show their keys\n");
  else
    err_properties_path_set(paths.resHome.c_str());
  app.config.dcsHome = paths.dcsHome;
  KAt::ProcessStartup(1);
  std::string error, address, sessionDir;
  int lock = -1;
  if (app.config.instance.empty()) app.config.instance = DefaultInstance();
  bool held = LoadConfig(&app.config, listenGiven, &error) &&
              HoldInstance(app.config.dataDir, app.config.instance, &lock, &error);
  // Before the store reads the folder: see Follower.
  std::unique_ptr<Follower> follower = held ? std::make_unique<Follower>(app) : nullptr;
  if (!held || !app.store.Open(app.config.dataDir, app.config.instance, &error) ||
      !app.users.Open(app.config.dataDir, &error) || !app.shares.Open(app.config.dataDir, &error) ||
      !MakeSessionFolder(app.config.dataDir, &sessionDir, &error) ||
      !OpenLog(app.config.dataDir, app.config.instance, &error)) {
    std::fprintf(stderr, "vxhost serve: %s\n", error.c_str());
    follower.reset();
    CloseLog();
    if (lock >= 0) close(lock);
    KAt::ProcessShutdown(1);
    return 1;
  }
  app.sessions = std::make_unique<Sessions>(app.config.sessionIdleMinutes, nullptr, sessionDir);
  SweepTrash(app);
  app.started = NowSeconds();

  app.background = MakeBackground();
  PreviewMissing(app);
  IndexAtStart(app);
  Loop loop(app);
  app.loop = &loop;
  std::signal(SIGINT, &OnSignal);
  std::signal(SIGTERM, &OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  bool listening = loop.Listen(app.config.host, app.config.port, &address, &error);
  if (listening) {
    PrintAddress(app.config.host, address);
    std::printf("data in %s, preferences in %s\n", app.config.dataDir.c_str(), app.config.iniPath.c_str());
    std::fflush(stdout);
    LogEvent("listening on " + address + " with " + std::to_string(app.config.threads) + " workers; removed " +
             std::to_string(app.store.Stats().swept) + " temporaries");
    WatchLog([&loop] { loop.WakeLogPolls(); });
    app.follower = follower.get();
    follower->Start();
    FirstAdmin(app);
    HourlySweep sweep(app);
    loop.Run([&app] {
      if (gSignal != 0) app.stopping = true;
      return app.stopping.load();
    });
    LogEvent("stopping");
  } else {
    std::fprintf(stderr, "vxhost serve: %s\n", error.c_str());
  }
  app.stopping = true;
  app.follower = nullptr;
  follower.reset();
  CloseLog();
  app.loop = nullptr;
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  close(lock);
  KAt::ProcessShutdown(1);
  if (!listening) return 1;
  std::printf("stopped\n");
  return 0;
}
