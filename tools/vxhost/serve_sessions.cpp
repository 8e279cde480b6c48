// Sessions and the login limiter: a hash map for lookups beside a list in
// order of use, so that ending idle sessions and forgetting old counters
// costs a few steps at the list's front per call instead of a sweep.
#include "serve_sessions.h"

#include <chrono>

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

Sessions::Sessions(int idleMinutes, Clock clock)
    : fIdleMs(int64_t{idleMinutes} * 60000), fClock(clock ? std::move(clock) : Clock(SteadyMs)) {}

void Sessions::DropExpired(int64_t now) {
  for (int i = 0; i < kDropPerCall && !fOrder.empty() && now - fOrder.front().lastUsed > fIdleMs; ++i) {
    fById.erase(fOrder.front().key);
    fOrder.pop_front();
  }
}

std::string Sessions::Create(const std::string& user, bool admin) {
  std::string id = RandomHex(32), csrf = RandomHex(32);
  if (id.empty() || csrf.empty()) return "";
  std::string key = KeyOf(id);
  KMutexGuard guard(fMutex);
  int64_t now = fClock();
  DropExpired(now);
  if (fOrder.size() >= kMaxSessions) {
    fById.erase(fOrder.front().key);
    fOrder.pop_front();
  }
  fOrder.push_back({key, {user, admin, csrf}, now});
  fById[key] = std::prev(fOrder.end());
  return id;
}

bool Sessions::Find(const std::string& id, Session* out) {
  std::string key = KeyOf(id);
  KMutexGuard guard(fMutex);
  int64_t now = fClock();
  DropExpired(now);
  auto it = fById.find(key);
  if (it == fById.end()) return false;
  if (now - it->second->lastUsed > fIdleMs) {
    fOrder.erase(it->second);
    fById.erase(it);
    return false;
  }
  it->second->lastUsed = now;
  fOrder.splice(fOrder.end(), fOrder, it->second);
  *out = it->second->session;
  return true;
}

void Sessions::Remove(const std::string& id) {
  std::string key = KeyOf(id);
  KMutexGuard guard(fMutex);
  auto it = fById.find(key);
  if (it == fById.end()) return;
  fOrder.erase(it->second);
  fById.erase(it);
}

void Sessions::RemoveMissingUsers(const std::function<bool(const std::string&)>& exists) {
  KMutexGuard guard(fMutex);
  for (auto it = fOrder.begin(); it != fOrder.end();) {
    if (exists(it->session.user)) {
      ++it;
      continue;
    }
    fById.erase(it->key);
    it = fOrder.erase(it);
  }
}

size_t Sessions::Count() {
  KMutexGuard guard(fMutex);
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
  KMutexGuard guard(fMutex);
  int64_t now = fClock();
  return Recent(KeyOf('a', address), now) < kLimit && Recent(KeyOf('u', user), now) < kLimit;
}

void LoginLimiter::Failed(const std::string& address, const std::string& user) {
  KMutexGuard guard(fMutex);
  int64_t now = fClock();
  for (int i = 0; i < kDropPerCall && !fOrder.empty() && DeadCounter(fOrder.front(), now); ++i) {
    fByKey.erase(fOrder.front().key);
    fOrder.pop_front();
  }
  Count(KeyOf('a', address), now);
  Count(KeyOf('u', user), now);
}

}  // namespace serve
