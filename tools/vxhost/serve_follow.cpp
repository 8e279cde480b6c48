// The follower reads the other servers' logs as files, in the format the
// system log writes (docs/formats/syslog.md): a header line "^{ N<TAB>
// STAMP<TAB>SENDER }<TAB>" begins each entry. Every entry the server
// writes ends with a line end, so the bytes up to a file's last line end
// hold whole entries; the rest waits for the next look. Each look opens
// and closes the file: network file systems promise another client's
// writes to an open that follows their close (close-to-open).
#include "serve_follow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <thread>

#include "serve_app.h"
#include "serve_log.h"
#include "serve_preview.h"
#include "vxkernel/threads/KCondition.h"
#include "vxkernel/threads/KMutex.h"
#include "vxkernel/threads/KTimestamp.h"

namespace serve {

namespace {

constexpr int64_t kMaxRead = 1 << 20;  // bytes of one log read at one look

// Where the follower is in one other server's log.
struct Place {
  ino_t inode = 0;
  int64_t offset = 0;  // a mark at start may fall inside an entry: Entries passes its rest over
};

struct Entry {
  std::string stamp, sender, message;
};

// Splits whole lines of log text into entries; lines before the first
// header (the middle of an entry) are passed over.
std::vector<Entry> Entries(const std::string& text) {
  std::vector<Entry> entries;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.rfind("^{ ", 0) == 0) {
      size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find(" }\t", t2 + 1);
      if (t1 == std::string::npos || t2 == std::string::npos || t3 == std::string::npos) continue;
      entries.push_back({line.substr(t1 + 1, t2 - t1 - 1), line.substr(t2 + 1, t3 - t2 - 1), line.substr(t3 + 3)});
      continue;
    }
    if (entries.empty()) continue;
    // The writer's escape: a data line of blanks then "^{ " got one blank more.
    size_t blanks = line.find_first_not_of(' ');
    if (blanks != std::string::npos && blanks > 0 && line.compare(blanks, 3, "^{ ") == 0) line.erase(0, 1);
    entries.back().message += "\n" + line;
  }
  return entries;
}

}  // namespace

struct Follower::Impl {
  App& app;
  std::string dir, self;  // the logs folder; this server's file name
  mutable KMutex mutex;
  // The thread changes places, Servers reads it.
  std::map<std::string, Place> places VXK_GUARDED_BY(mutex);  // by instance name
  bool stop VXK_GUARDED_BY(mutex) = false;
  KCondition wake;
  std::thread thread;

  explicit Impl(App& a)
      : app(a), dir(a.config.dataDir + "/logs"), self(a.config.instance + ".log") {}

  // Adds the logs not followed yet; at their ends when marking at start,
  // else from their starts (a server that started since).
  void List(bool atEnd) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
      std::string name = e.path().filename().string();
      if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".log") != 0 || name == self) continue;
      std::string instance = name.substr(0, name.size() - 4);
      KLockGuard g(mutex);
      if (!ValidInstance(instance) || places.count(instance) != 0) continue;
      Place p;
      struct stat st {};
      if (atEnd && stat(e.path().c_str(), &st) == 0) {
        p.inode = st.st_ino;
        p.offset = st.st_size;
      }
      places[instance] = p;
    }
  }

  // Reads what instance's log gained since the last look.
  void Look(const std::string& instance) {
    Place p;
    {
      KLockGuard g(mutex);
      p = places[instance];
    }
    std::string path = dir + "/" + instance + ".log";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return;
    if (st.st_ino != p.inode || st.st_size < p.offset) {
      p = Place{st.st_ino, 0};  // that server started anew: a new file
    }
    if (st.st_size > p.offset) {
      int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      std::string text(static_cast<size_t>(std::min<int64_t>(st.st_size - p.offset, kMaxRead)), '\0');
      ssize_t n = fd >= 0 ? pread(fd, text.data(), text.size(), p.offset) : -1;
      if (fd >= 0) close(fd);
      text.resize(n > 0 ? static_cast<size_t>(n) : 0);
      size_t whole = text.rfind('\n');
      // A full read without a line end is no entry of a server (its lines
      // are short): passed over, so a damaged file cannot stop the follower.
      if (whole == std::string::npos && static_cast<int64_t>(text.size()) == kMaxRead) p.offset += kMaxRead;
      if (whole != std::string::npos) {
        text.resize(whole + 1);
        p.offset += static_cast<int64_t>(text.size());
        for (const Entry& e : Entries(text)) {
          if (e.sender == kSyncSender) Apply(app, e.message);
          else ShowForeignLine(e.stamp, instance, e.message);
        }
      }
    }
    KLockGuard g(mutex);
    places[instance] = p;
  }

  void Run() {
    int64_t listed = 0;
    for (int64_t tick = 0;; ++tick) {
      {
        KLockGuard g(mutex);
        if (!stop) wake.Wait(mutex, KTimestamp::Now() + KTimestamp(static_cast<unsigned long>(kPollMs)));
        if (stop) return;
      }
      if ((tick - listed) * kPollMs >= kListMs) {
        List(false);
        listed = tick;
      }
      for (const std::string& instance : Names()) Look(instance);
    }
  }

  std::vector<std::string> Names() const {
    KLockGuard g(mutex);
    std::vector<std::string> names;
    for (const auto& kv : places) names.push_back(kv.first);
    return names;
  }
};

Follower::Follower(App& app) : fImpl(new Impl(app)) {
  std::error_code ec;
  std::filesystem::create_directories(fImpl->dir, ec);
  fImpl->List(true);
}

Follower::~Follower() {
  {
    KLockGuard g(fImpl->mutex);
    fImpl->stop = true;
    fImpl->wake.Signal();
  }
  if (fImpl->thread.joinable()) fImpl->thread.join();
}

void Follower::Start() { fImpl->thread = std::thread([this] { fImpl->Run(); }); }

std::vector<std::string> Follower::Servers() const { return fImpl->Names(); }

void Apply(App& app, const std::string& event) {
  size_t space = event.find(' ');
  std::string verb = event.substr(0, space);
  std::string rest = space == std::string::npos ? "" : event.substr(space + 1);
  std::string key = rest.substr(0, rest.find(' '));
  if (verb == "doc" && ValidKey(key)) {
    std::string trashed = rest.size() > key.size() ? rest.substr(key.size() + 1) : "";
    bool known = false;
    Store::State state = app.store.Reload(key, trashed, &known);
    // A document known here keeps its words through trash and restore; a
    // new one is found by its name at once and by its text once "text"
    // comes, so the news of a burst of uploads costs no reads of texts.
    if (state == Store::State::kListed && !known) IndexNames(app, key);
    if (state == Store::State::kGone) ForgetText(app, key);
  } else if (verb == "text" && ValidKey(key)) {
    IndexKnown(app, key);
  } else if (verb == "thumb" && ValidKey(key)) {
    KnowThumb(app, key);
  } else if (verb == "session" && app.sessions != nullptr) {
    app.sessions->Forget(key);
  } else if (verb == "shares") {
    app.shares.Refresh();
  }
}

}  // namespace serve
