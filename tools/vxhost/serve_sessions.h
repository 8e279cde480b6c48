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

// Milliseconds of a monotonic clock; tests pass their own.
using Clock = std::function<int64_t()>;

struct Session {
  std::string user;
  bool admin = false;
  std::string csrf;  // 64 hex digits; forms carry it back
};

// The logged-in browsers: a session id (the cookie) names a user. Sessions
// live in memory only (a restart logs everyone out) and end after
// idleMinutes without use; at most kMaxSessions live at once (the least
// recently used goes first).
//
// Thread rule: every member locks; any thread.
class Sessions {
 public:
  static constexpr size_t kMaxSessions = 100000;

  explicit Sessions(int idleMinutes, Clock clock = nullptr);
  Sessions(const Sessions&) = delete;
  Sessions& operator=(const Sessions&) = delete;

  // A new session for user: its id, 64 hex digits (256 random bits); empty
  // when no random bytes could be had.
  std::string Create(const std::string& user, bool admin);
  // True with *out when id names a live session, which counts as a use;
  // false for an unknown id and for a session idle too long (it ends).
  bool Find(const std::string& id, Session* out);
  void Remove(const std::string& id);
  // Ends the sessions of users for whom exists is false. exists must not
  // call into this object.
  void RemoveMissingUsers(const std::function<bool(const std::string&)>& exists);
  size_t Count();

 private:
  struct Entry {
    std::string key;  // SHA-256 of the id
    Session session;
    int64_t lastUsed;
  };
  using Order = std::list<Entry>;
  void DropExpired(int64_t now);  // REQUIRES: fMutex held

  // Constant after construction.
  const int64_t fIdleMs;
  const Clock fClock;
  // Guarded by fMutex.
  KMutex fMutex;
  Order fOrder;  // least recently used first
  std::unordered_map<std::string, Order::iterator> fById;
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
  int Recent(const std::string& key, int64_t now);  // REQUIRES: fMutex held
  void Count(const std::string& key, int64_t now);   // REQUIRES: fMutex held
  static bool DeadCounter(const Counter& c, int64_t now);  // no failure in the window

  // Constant after construction.
  const Clock fClock;
  // Guarded by fMutex.
  KMutex fMutex;
  Order fOrder;  // least recently failed first
  std::unordered_map<std::string, Order::iterator> fByKey;
};

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_SESSIONS_H_
