// Sessions and the login limiter: a hash map for lookups beside a list in
// order of use, so that ending idle sessions and forgetting old counters
// costs a few steps at the list's front per call instead of a sweep.
#include "serve_sessions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "serve_jsonfile.h"
#include "serve_users.h"

namespace serve {

namespace {

// Work bound of the lazy clean-up: each call adds at most one entry and
// drops up to this many dead ones, so dead entries cannot pile up.
constexpr int kDropPerCall = 8;

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The map is keyed by the id's SHA-256, not by the id: the map compares
// keys with an early-exit memcmp, and the time that takes would tell an
// attacker how much of a guessed key matches. A matching prefix of a
// digest tells nothing about the id behind it.
std::string KeyOf(const std::string& id) { return Sha256Hex(id); }

std::string RandomHex(size_t bytes) {
  std::string raw(bytes, '\0');
  return RandomBytes(raw.data(), raw.size()) ? Hex(raw) : "";
}

}  // namespace

// ===== Sessions =====

namespace {

// A session's file: these four lines, nothing else.
constexpr char kFileHead[] = "vxsession 1";
constexpr size_t kMaxFileBytes = 512;

int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t MsOf(const timespec& t) { return int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000; }

timespec TimeOf(int64_t ms) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(ms / 1000);
  t.tv_nsec = static_cast<long>(ms % 1000) * 1000000;
  if (t.tv_nsec < 0) {
    t.tv_nsec += 1000000000;
    --t.tv_sec;
  }
  return t;
}

std::string FileText(const Session& s) {
  return std::string(kFileHead) + "\nuser " + s.user + "\nadmin " + (s.admin ? "1" : "0") + "\ncsrf " + s.csrf +
         "\n";
}

// The value of a "name value" line; false when the line is another.
bool Field(const std::string& line, const std::string& name, std::string* value) {
  if (line.size() <= name.size() || line.compare(0, name.size(), name) != 0 || line[name.size()] != ' ') return false;
  *value = line.substr(name.size() + 1);
  return true;
}

bool ParseFile(const std::string& text, Session* out) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;  // cut short
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  std::string admin, why;
  Session s;
  if (lines.size() != 4 || lines[0] != kFileHead || !Field(lines[1], "user", &s.user) ||
      !Users::ValidName(s.user, &why) || !Field(lines[2], "admin", &admin) || (admin != "0" && admin != "1") ||
      !Field(lines[3], "csrf", &s.csrf) || !IsLowerHex(s.csrf, 64))
    return false;
  s.admin = admin == "1";
  *out = std::move(s);
  return true;
}

// Sets the file's modification time; false when the file is gone.
bool Touch(const std::string& path, int64_t ms) {
  const timespec times[2] = {{0, UTIME_OMIT}, TimeOf(ms)};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 || errno != ENOENT;
}

}  // namespace

Sessions::Sessions(int idleMinutes, Clock clock, std::string dir)
    : fIdleMs(int64_t{idleMinutes} * 60000), fClock(clock ? std::move(clock) : Clock(WallMs)), fDir(std::move(dir)) {}

std::string Sessions::Digest(const std::string& id) { return KeyOf(id); }

std::string Sessions::PathOf(const std::string& key) const { return fDir + "/" + key; }

void Sessions::Evict(const std::string& key) {
  auto it = fById.find(key);
  if (it == fById.end()) return;
  fOrder.erase(it->second);
  fById.erase(it);
}

void Sessions::Insert(Entry entry) {
  Evict(entry.key);
  if (fOrder.size() >= kMaxSessions) {
    fById.erase(fOrder.front().key);
    fOrder.pop_front();
  }
  fOrder.push_back(std::move(entry));
  fById[fOrder.back().key] = std::prev(fOrder.end());
}

// Only the cache: an entry dropped here is read again from its file.
void Sessions::DropExpired(int64_t now) {
  for (int i = 0; i < kDropPerCall && !fOrder.empty() && now - fOrder.front().lastUsed > fIdleMs; ++i) {
    fById.erase(fOrder.front().key);
    fOrder.pop_front();
  }
}

bool Sessions::ReadFile(const std::string& key, Session* out, int64_t* mtime) const {
  int fd = open(PathOf(key).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st {};
  std::string text(kMaxFileBytes + 1, '\0');
  ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, text.data(), text.size()) : -1;
  close(fd);
  // Written whole through a rename: one read has all of a good file.
  if (n < 0 || static_cast<size_t>(n) > kMaxFileBytes) return false;
  text.resize(static_cast<size_t>(n));
  *mtime = MsOf(st.st_mtim);
  return ParseFile(text, out);
}

bool Sessions::WriteFile(const std::string& key, const Session& session, int64_t now, std::string* error) const {
  const std::string path = PathOf(key);
  // The temporary's name (the path and ".tmp") is this session's own: no
  // other writer ever uses it.
  if (!WriteWholeFile(fDir, path, FileText(session), {}, error)) return false;
  if (Touch(path, now)) return true;
  *error = "cannot set the time of " + path + ": " + std::strerror(errno);
  unlink(path.c_str());
  return false;
}

void Sessions::EachFile(const std::function<void(const std::string&)>& visit) const {
  DIR* d = opendir(fDir.c_str());
  if (d == nullptr) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  closedir(d);
  for (const std::string& name : names) visit(name);
}

std::string Sessions::Create(const std::string& user, bool admin, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  std::string id = RandomHex(32), csrf = RandomHex(32);
  if (id.empty() || csrf.empty()) {
    *error = "no random bytes for a session";
    return "";
  }
  std::string key = KeyOf(id);
  Session session{user, admin, csrf};
  int64_t now;
  {
    KLockGuard guard(fMutex);
    now = fClock();
  }
  if (!fDir.empty() && !WriteFile(key, session, now, error)) return "";
  KLockGuard guard(fMutex);
  DropExpired(now);
  Insert({key, std::move(session), now, now});
  return id;
}

bool Sessions::Find(const std::string& id, Session* out) {
  // Asked per request of a browser: the thread keeps the digest and its
  // buffer.
  thread_local std::string key;
  key.assign(SecretDigest(id));
  int64_t now;
  uint64_t ended;
  bool touchOnly = false;
  {
    KLockGuard guard(fMutex);
    now = fClock();
    DropExpired(now);
    ended = fEnded;
    auto it = fById.find(key);
    if (it != fById.end() && now - it->second->lastUsed <= fIdleMs) {
      Entry& e = *it->second;
      e.lastUsed = now;
      fOrder.splice(fOrder.end(), fOrder, it->second);
      *out = e.session;
      if (fDir.empty() || now - e.touched < kTouchMs) return true;
      e.touched = now;
      touchOnly = true;
    } else if (fDir.empty() || Ended(key, now)) {
      Evict(key);
      return false;
    }
  }
  if (touchOnly) {
    if (Touch(PathOf(key), now)) return true;
    // The file is gone: another server ended the session.
    KLockGuard guard(fMutex);
    Evict(key);
    return false;
  }
  // Not cached, or idle here: the file knows the uses on every server. Its
  // time may lag a use by up to kTouchMs, so only a time older than the
  // limit by that much more ends the session.
  Session s;
  int64_t mtime = 0;
  bool read = ReadFile(key, &s, &mtime);
  bool live = read && now - mtime <= fIdleMs + kTouchMs;
  bool touched = live && now - mtime >= kTouchMs;
  if (read && !live) unlink(PathOf(key).c_str());
  if (touched) live = Touch(PathOf(key), now);
  KLockGuard guard(fMutex);
  // A Remove or Forget since the read may have ended this very session
  // (its file, in a shared folder's cache, may still be seen), or a user's
  // removal.
  if (live && (Ended(key, now) || (fEnded != ended && access(PathOf(key).c_str(), F_OK) != 0))) live = false;
  if (!live) {
    Evict(key);
    return false;
  }
  Insert({key, s, now, touched ? now : mtime});
  *out = std::move(s);
  return true;
}

void Sessions::Remove(const std::string& id) {
  std::string key = KeyOf(id);
  // The file first: a read racing this one then finds it gone.
  if (!fDir.empty()) unlink(PathOf(key).c_str());
  Forget(key);
}

void Sessions::Forget(const std::string& digest) {
  KLockGuard guard(fMutex);
  Evict(digest);
  ++fEnded;
  if (fDir.empty() || fEndedAt.count(digest) != 0) return;
  int64_t now = fClock();
  if (fEndedOrder.size() >= kMaxSessions) {
    fEndedAt.erase(fEndedOrder.front().first);
    fEndedOrder.pop_front();
  }
  fEndedOrder.emplace_back(digest, now);
  fEndedAt[digest] = now;
}

bool Sessions::Ended(const std::string& key, int64_t now) {
  while (!fEndedOrder.empty() && now - fEndedOrder.front().second > kEndedMs) {
    fEndedAt.erase(fEndedOrder.front().first);
    fEndedOrder.pop_front();
  }
  return fEndedAt.count(key) != 0;
}

void Sessions::RemoveMissingUsers(const std::function<bool(const std::string&)>& exists) {
  {
    KLockGuard guard(fMutex);
    for (auto it = fOrder.begin(); it != fOrder.end();) {
      if (exists(it->session.user)) {
        ++it;
        continue;
      }
      fById.erase(it->key);
      it = fOrder.erase(it);
    }
    ++fEnded;
  }
  // Rare (a user was deleted): worth one read of every file.
  EachFile([&](const std::string& name) {
    Session s;
    int64_t mtime = 0;
    if (IsLowerHex(name, 64) && ReadFile(name, &s, &mtime) && !exists(s.user)) unlink(PathOf(name).c_str());
  });
}

size_t Sessions::SweepFiles() {
  int64_t now;
  {
    KLockGuard guard(fMutex);
    now = fClock();
  }
  size_t removed = 0;
  EachFile([&](const std::string& name) {
    std::string path = PathOf(name);
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && now - MsOf(st.st_mtim) > fIdleMs + kTouchMs &&
        unlink(path.c_str()) == 0)
      ++removed;
  });
  return removed;
}

size_t Sessions::Count() {
  KLockGuard guard(fMutex);
  return fOrder.size();
}

// ===== LoginLimiter =====

namespace {

// The kind letter keeps an address and a user name of the same text apart;
// the cut bounds a counter's memory whatever a client sends as its name.
std::string KeyOf(char kind, const std::string& text) { return std::string(1, kind) + ' ' + text.substr(0, 128); }

}  // namespace

bool LoginLimiter::DeadCounter(const Counter& c, int64_t now) {
  return c.failures.empty() || now - c.failures.back() >= kWindowMs;
}

LoginLimiter::LoginLimiter(Clock clock) : fClock(clock ? std::move(clock) : Clock(SteadyMs)) {}

int LoginLimiter::Recent(const std::string& key, int64_t now) {
  auto it = fByKey.find(key);
  if (it == fByKey.end()) return 0;
  std::list<int64_t>& failures = it->second->failures;
  while (!failures.empty() && now - failures.front() >= kWindowMs) failures.pop_front();
  return static_cast<int>(failures.size());
}

void LoginLimiter::Count(const std::string& key, int64_t now) {
  auto it = fByKey.find(key);
  if (it == fByKey.end()) {
    if (fOrder.size() >= kMaxKeys) {
      fByKey.erase(fOrder.front().key);
      fOrder.pop_front();
    }
    fOrder.push_back({key, {}});
    it = fByKey.emplace(key, std::prev(fOrder.end())).first;
  }
  std::list<int64_t>& failures = it->second->failures;
  failures.push_back(now);
  // Only the last kLimit times can decide a refusal.
  if (failures.size() > static_cast<size_t>(kLimit)) failures.pop_front();
  fOrder.splice(fOrder.end(), fOrder, it->second);
}

bool LoginLimiter::Allowed(const std::string& address, const std::string& user) {
  KLockGuard guard(fMutex);
  int64_t now = fClock();
  return Recent(KeyOf('a', address), now) < kLimit && Recent(KeyOf('u', user), now) < kLimit;
}

void LoginLimiter::Failed(const std::string& address, const std::string& user) {
  KLockGuard guard(fMutex);
  int64_t now = fClock();
  for (int i = 0; i < kDropPerCall && !fOrder.empty() && DeadCounter(fOrder.front(), now); ++i) {
    fByKey.erase(fOrder.front().key);
    fOrder.pop_front();
  }
  Count(KeyOf('a', address), now);
  Count(KeyOf('u', user), now);
}

}  // namespace serve
