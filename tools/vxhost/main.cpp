// vxhost: the reference host of the library.
//
// A host loads the library, starts the rings once (with its own thread),
// starts every worker thread that calls in, and shuts down in reverse before
// it exits. The run command shows exactly that, with a few host
// participants of its own beside the library's; the default command, serve,
// is the document-drop web server (serve_*.cpp).
#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "commands.h"
#include "serve.h"
#include "vxkernel/vxkernel.h"
#include "vxkernel/runtime/dbg.h"
#include "vxkernel/runtime/dbgutils.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/threads/KMutex.h"
#include "vxkernel/version.h"

namespace {

// ===== Ring observation =====

struct Event {
  std::string name;
  bool process;
  unsigned long priority;
  bool startup;
};

KMutex gEventsMutex;
std::vector<Event> gEvents VXK_GUARDED_BY(gEventsMutex);  // every ring call, in order

std::string Demangle(const char* mangled) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  std::string text = status == 0 && name ? name.get() : mangled;
  // Host participants live in an anonymous namespace; show the plain name.
  const std::string anon = "(anonymous namespace)::";
  if (text.compare(0, anon.size(), anon) == 0) text.erase(0, anon.size());
  return text;
}

void Observe(const KAt* who, bool startup, void*) {
  KLockGuard g(gEventsMutex);
  gEvents.push_back({Demangle(typeid(*who).name()), who->IsProcess() != 0, who->Priority(), startup});
}

std::vector<Event> TakeEvents() {
  KLockGuard g(gEventsMutex);
  std::vector<Event> taken;
  taken.swap(gEvents);
  return taken;
}

void PrintEvents(const char* title, const std::vector<Event>& events) {
  std::printf("%s\n", title);
  if (events.empty()) std::printf("  (nothing ran)\n");
  int n = 0;
  for (const Event& e : events)
    std::printf("  %2d. %-8s %-7s ring, priority %2lu  %s\n", ++n, e.startup ? "start" : "shutdown",
                e.process ? "process" : "thread", e.priority, e.name.c_str());
}

// True when b is a in reverse order.
bool Reversed(const std::vector<Event>& a, const std::vector<Event>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const Event& x = a[i];
    const Event& y = b[b.size() - 1 - i];
    if (x.name != y.name || x.process != y.process || x.priority != y.priority) return false;
  }
  return true;
}

// ===== Host participants =====

// Host configuration, read before the library's packages at 8 and up.
class HostConfigPkg : public KPkg {
 public:
  HostConfigPkg() : KPkg(4) {}

 protected:
  void Startup() override {}
  void Shutdown() override {}
};

// The host's request dispatcher, started after every library package.
class HostDispatchPkg : public KPkg {
 public:
  HostDispatchPkg() : KPkg(40) {}

 protected:
  void Startup() override {}
  void Shutdown() override {}
};

// Per-thread request state of the host, in the usual pattern: Init makes
// the thread's object in a context slot, Cleanup deletes it.
class HostRequestState : public KThreadGlobals {
 public:
  HostRequestState() : KThreadGlobals(20) {}
  std::string* State() const { return static_cast<std::string*>(User1()); }

 protected:
  void Init() override { User1(new std::string()); }
  void Cleanup() override { delete State(); }
};

HostConfigPkg gHostConfig;
HostDispatchPkg gHostDispatch;
HostRequestState gRequestState;

// ===== Subcommands =====

void PrintInfo() {
  const char* sanitizers = KLibraryInfo::Sanitizers();
  std::printf("vxkernel %s (%s build%s%s)\n", KLibraryInfo::Version(), KLibraryInfo::BuildType(),
              *sanitizers ? ", sanitizers " : "", sanitizers);
}

int RunLifecycle() {
  PrintInfo();
  std::printf("\n");
  KAt::SetTraceRoutine(&Observe, nullptr);

  KAt::ProcessStartup(1);
  std::vector<Event> started = TakeEvents();
  PrintEvents("Start-up of the process ring and of the main thread:", started);

  std::thread worker([] {
    KAt::ThreadStartup();
    gRequestState.State()->assign("worker request");
    KAt::ThreadShutdown();
  });
  worker.join();
  std::vector<Event> workerEvents = TakeEvents();
  PrintEvents("\nA worker thread (ThreadStartup ... ThreadShutdown):", workerEvents);

  // One logical client served by two pool threads in turn.
  void* client = KAt::CreateThreadStartup();
  for (int turn = 1; turn <= 2; ++turn) {
    std::thread pool([client, turn] {
      void* previous = KAt::UseThreadStartup(client);
      gRequestState.State()->append(turn == 1 ? "first " : "second");
      KAt::UseThreadStartup(previous);
    });
    pool.join();
  }
  void* previous = KAt::UseThreadStartup(client);
  std::string carried = *gRequestState.State();
  KAt::UseThreadStartup(previous);
  KAt::DestroyThreadStartup(client);
  std::vector<Event> clientEvents = TakeEvents();
  PrintEvents("\nA client context carried between pool threads:", clientEvents);
  std::printf("  state seen by the second pool thread: \"%s\"\n", carried.c_str());

  KAt::ProcessShutdown(1);
  std::vector<Event> stopped = TakeEvents();
  PrintEvents("\nShut-down of the main thread and of the process ring:", stopped);
  KAt::SetTraceRoutine(nullptr, nullptr);

  bool ok = Reversed(started, stopped) && !started.empty();
  std::printf("\nShut-down ran in exact reverse of start-up: %s\n", ok ? "yes" : "NO");
  return ok ? 0 : 1;
}

// Writes a few debug lines through the file routine into dir/debug.out,
// rolling earlier runs over to debug_1.out .. debug_3.out, and shows them.
int RunDebugFile(const char* dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(dir, ec);
  const std::string name = (fs::path(dir) / "debug.out").string();
  dbg_write("text written before the rings start waits in the early buffer");
  KAt::ProcessStartup(1);
  std::FILE* file = nullptr;
  dbgutils_file_setup_file(&file, name.c_str(), "wt", 3);
  if (file == nullptr) {
    std::fprintf(stderr, "vxhost: cannot open %s\n", name.c_str());
    KAt::ProcessShutdown(1);
    return 1;
  }
  dbg_msg("vxhost debug run of vxkernel %s\n", KLibraryInfo::Version());
  VXDropinEcho("a line from an extension module");
  long code = err_add_local_msg("local message %s#1 of %ld#2 bytes");
  dbg_msg("%s\n", static_cast<const char*>(err_sprintf(code, "debug.out", 42L)));
  err_get_msg(0x26AD000F);  // no catalogue bundles here: one debug line
  c_assert("main.cpp", __LINE__, "an assertion that failed on purpose");
  dbg_done();
  KAt::ProcessShutdown(1);

  std::ifstream in(name);
  std::stringstream text;
  text << in.rdbuf();
  std::printf("%s:\n%s", name.c_str(), text.str().c_str());
  std::printf("kept:");
  for (int i = 1; i <= 3; ++i) {
    fs::path older = fs::path(dir) / ("debug_" + std::to_string(i) + ".out");
    if (fs::exists(older)) std::printf(" %s", older.filename().c_str());
  }
  std::printf("\n");
  return 0;
}

void PrintHelp() {
  std::printf(
      "usage: vxhost [command]\n"
      "\n"
      "The reference host of the vxkernel library.\n"
      "\n"
      "commands:\n"
      "  serve [--listen HOST:PORT] [--data DIR]\n"
      "            the document-drop web server (the default); see serve --help\n"
      "  user add NAME [--admin] [--data DIR]\n"
      "            add a user of the server; the password is read from standard\n"
      "            input (one line, not echoed on a terminal)\n"
      "  user del NAME [--data DIR]\n"
      "            remove a user and the user's tokens\n"
      "  user list [--data DIR]\n"
      "            the users: name, admin or user, number of tokens\n"
      "  token add NAME [--data DIR]\n"
      "            make an API token for NAME and print it (shown only once)\n"
      "  token del TOKEN [--data DIR]\n"
      "            revoke a token\n"
      "  run       start the library, serve a worker thread and a pooled client,\n"
      "            shut down; prints every ring call\n"
      "  info      print the library's version and build\n"
      "  classes   list the process classes start-up registered: number, name,\n"
      "            flags\n"
      "  table     build a RecArray through the VX_ client functions and print it\n"
      "  value [TEXT...]\n"
      "            read values in text form (TEXT, else standard input) and show\n"
      "            each one's text, display, type and binary forms\n"
      "  debug [DIR]\n"
      "  --debug-file DIR\n"
      "            write debug lines through the file routine into DIR/debug.out\n"
      "            (default: the current directory), rolling earlier runs over\n"
      "            to debug_1.out .. debug_3.out\n"
      "  --version print \"vxhost VERSION\", the version this program was\n"
      "            built as (the library's own: see info)\n"
      "  --help    print this help\n");
}

}  // namespace

int main(int argc, char** argv) {
  const char* command = argc > 1 ? argv[1] : "serve";
  if (std::strcmp(command, "serve") == 0) return RunServe(argc > 2 ? argc - 2 : 0, argv + 2);
  if (std::strcmp(command, "user") == 0) return RunUser(argc - 2, argv + 2);
  if (std::strcmp(command, "token") == 0) return RunToken(argc - 2, argv + 2);
  if (std::strcmp(command, "run") == 0) return RunLifecycle();
  if (std::strcmp(command, "derive-preview") == 0) return RunDerivePreview(argc - 2, argv + 2);
  if (std::strcmp(command, "info") == 0) {
    PrintInfo();
    return 0;
  }
  if (std::strcmp(command, "classes") == 0) return RunClasses();
  if (std::strcmp(command, "table") == 0) return RunTable();
  if (std::strcmp(command, "value") == 0) return RunValue(argc - 2, argv + 2);
  if (std::strcmp(command, "debug") == 0 || std::strcmp(command, "--debug-file") == 0)
    return RunDebugFile(argc > 2 ? argv[2] : ".");
  if (std::strcmp(command, "--version") == 0) {
    std::printf("vxhost %s\n", VXKERNEL_VERSION_STRING);
    return 0;
  }
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
      std::strcmp(command, "help") == 0) {
    PrintHelp();
    return 0;
  }
  std::fprintf(stderr, "vxhost: unknown command '%s'\n\n", command);
  PrintHelp();
  return 2;
}
