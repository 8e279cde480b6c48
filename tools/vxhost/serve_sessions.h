// Login sessions of the browser pages and the limit on failed logins.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_SESSIONS_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_SESSIONS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <unordered_map>

#include "vxkernel/threads/KMutex.h"

namespace serve {

// Milliseconds of a clock (monotonic for the login limiter, since 1970 for
// sessions); tests pass their own.
using Clock = std::function<int64_t()>;

struct Session {
  std::string user;
  bool admin = false;
  std::string csrf;  // 64 hex digits; forms carry it back
};

// The logged-in browsers: a session id (the cookie) names a user. With a
// folder, every session is also a file there, named by the id's SHA-256,
// so that every server on the data folder knows it and a restart keeps it;
// memory is a cache of at most kMaxSessions in front (the least recently
// used leaves the cache first, not the folder). Without a folder (tests),
// sessions live in memory only. A session ends after idleMinutes without
// use on any server: the file's modification time is its last use, moved
// on at most once a minute (kTouchMs), so a server sees uses elsewhere to
// the minute. The clock is milliseconds since 1970 (file times compare
// with it); tests pass their own.
//
// Thread rule: every member locks; any thread. File work happens outside
// the lock.
class Sessions {
 public:
  static constexpr size_t kMaxSessions = 100000;
  static constexpr int64_t kTouchMs = 60000;
  // How long an ended session is remembered: a shared folder's caches may
  // show its file for a while after its removal.
  static constexpr int64_t kEndedMs = 600000;

  // dir: the sessions folder (made by the caller); "" keeps them in memory.
  explicit Sessions(int idleMinutes, Clock clock = nullptr, std::string dir = "");
  Sessions(const Sessions&) = delete;
  Sessions& operator=(const Sessions&) = delete;

  // The name of id's session everywhere but the cookie: its SHA-256 in hex
  // (the file name, the sync event's argument).
  static std::string Digest(const std::string& id);

  // A new session for user: its id, 64 hex digits (256 random bits); empty
  // with *error (when given) when no random bytes could be had or its file
  // could not be written.
  std::string Create(const std::string& user, bool admin, std::string* error = nullptr);
  // True with *out when id names a live session, which counts as a use;
  // false for an unknown id, a bad file and a session idle too long (it
  // ends). A miss of the cache costs one open of the session's file.
  bool Find(const std::string& id, Session* out);
  // Ends the session (logout): out of the cache and its file gone.
  void Remove(const std::string& id);
  // Drops the cached session digest without touching its file: another
  // server ended it.
  void Forget(const std::string& digest);
  // Ends the sessions of users for whom exists is false, cached or not
  // (their files are read once). exists must not call into this object.
  void RemoveMissingUsers(const std::function<bool(const std::string&)>& exists);
  // Removes the files of sessions idle longer than the limit (and stale
  // temporaries); returns how many. At start and hourly.
  size_t SweepFiles();
  // Sessions in this server's cache.
  size_t Count();

 private:
  struct Entry {
    std::string key;  // SHA-256 of the id
    Session session;
    int64_t lastUsed;
    int64_t touched;  // the file's time as this server last set or read it
  };
  using Order = std::list<Entry>;
  void DropExpired(int64_t now) VXK_REQUIRES(fMutex);
  void Evict(const std::string& key) VXK_REQUIRES(fMutex);
  void Insert(Entry entry) VXK_REQUIRES(fMutex);
  bool Ended(const std::string& key, int64_t now) VXK_REQUIRES(fMutex);
  std::string PathOf(const std::string& key) const;
  // Reads the session file of key: false when missing or bad.
  bool ReadFile(const std::string& key, Session* out, int64_t* mtime) const;
  bool WriteFile(const std::string& key, const Session& session, int64_t now, std::string* error) const;
  // Folder entries, each with a call of visit(name).
  void EachFile(const std::function<void(const std::string& name)>& visit) const;

  // Constant after construction.
  const int64_t fIdleMs;
  const Clock fClock;
  const std::string fDir;
  KMutex fMutex;
  Order fOrder VXK_GUARDED_BY(fMutex);  // least recently used first
  std::unordered_map<std::string, Order::iterator> fById VXK_GUARDED_BY(fMutex);
  uint64_t fEnded VXK_GUARDED_BY(fMutex) = 0;  // counts Remove and Forget: a read racing one checks again
  // Sessions ended in the last kEndedMs (at most kMaxSessions), oldest
  // first, and the same digests for lookups.
  std::list<std::pair<std::string, int64_t>> fEndedOrder VXK_GUARDED_BY(fMutex);
  std::unordered_map<std::string, int64_t> fEndedAt VXK_GUARDED_BY(fMutex);
};

// Failed logins per client address and per user name: at most kLimit in
// any kWindowMs (a sliding window). A success does not clear a count, so
// interleaving a known password does not reset an address. At most kMaxKeys
// counters are kept; beyond that the least recently failed is forgotten.
//
// Thread rule: every member locks; any thread.
class LoginLimiter {
 public:
  static constexpr int kLimit = 10;
  static constexpr int64_t kWindowMs = 60000;
  static constexpr size_t kMaxKeys = 100000;

  explicit LoginLimiter(Clock clock = nullptr);
  LoginLimiter(const LoginLimiter&) = delete;
  LoginLimiter& operator=(const LoginLimiter&) = delete;

  // False when the address or the user name had kLimit failures in the
  // last minute: the login is refused without checking the password.
  bool Allowed(const std::string& address, const std::string& user);
  void Failed(const std::string& address, const std::string& user);

 private:
  struct Counter {
    std::string key;
    std::list<int64_t> failures;  // times, oldest first, at most kLimit
  };
  using Order = std::list<Counter>;
  int Recent(const std::string& key, int64_t now) VXK_REQUIRES(fMutex);
  void Count(const std::string& key, int64_t now) VXK_REQUIRES(fMutex);
  static bool DeadCounter(const Counter& c, int64_t now);  // no failure in the window

  // Constant after construction.
  const Clock fClock;
  KMutex fMutex;
  Order fOrder VXK_GUARDED_BY(fMutex);  // least recently failed first
  std::unordered_map<std::string, Order::iterator> fByKey VXK_GUARDED_BY(fMutex);
};

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_SESSIONS_H_
