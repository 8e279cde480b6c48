// shares.json: {"shares": [{"sha256", "key", "owner", "created", "expires",
// "limit", "uses", "hash"}...]} (docs/server.md, "Share links"). A token is
// 128 random bits, so its SHA-256 is enough as the stored form; a password
// is hashed with yescrypt like the accounts' passwords.
#include "serve_shares.h"

#include <sys/file.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "serve.h"
#include "serve_jsonfile.h"
#include "serve_users.h"

namespace serve {

namespace {

using json = nlohmann::json;

constexpr char kFile[] = "/shares.json";
constexpr char kLock[] = "/shares.lock";
constexpr size_t kTokenBytes = 16;  // 128 bits
constexpr size_t kTokenLength = 22;  // base64url of 16 bytes, unpadded
constexpr size_t kIdLength = 10;

std::string Base64Url(const unsigned char* bytes, size_t n) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  uint32_t bits = 0;
  int held = 0;
  for (size_t i = 0; i < n; ++i) {
    bits = (bits << 8) | bytes[i];
    held += 8;
    while (held >= 6) out += kAlphabet[(bits >> (held -= 6)) & 63];
  }
  if (held > 0) out += kAlphabet[(bits << (6 - held)) & 63];
  return out;
}

bool ValidToken(const std::string& token) {
  return token.size() == kTokenLength && std::all_of(token.begin(), token.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
         });
}

bool IsLowerHex(const std::string& s) {
  return s.size() == 64 && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

template <class T>
bool Get(const json& o, const char* key, T* out) {
  auto it = o.find(key);
  if (it == o.end()) return false;
  if constexpr (std::is_same_v<T, std::string>) {
    if (!it->is_string()) return false;
  } else if (!it->is_number_integer()) {
    return false;
  }
  *out = it->get<T>();
  return true;
}

// Parses the file's text; false when it is not a shares file (then
// *table is untouched).
bool Parse(const std::string& text, Shares::Table* table) {
  const json doc = json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  auto list = doc.find("shares");
  if (list == doc.end() || !list->is_array()) return false;
  Shares::Table t;
  for (const json& s : *list) {
    std::string digest;
    Shares::Record r;
    ShareInfo& i = r.info;
    if (!s.is_object() || !Get(s, "sha256", &digest) || !IsLowerHex(digest) || !Get(s, "key", &i.key) ||
        !ValidKey(i.key) || !Get(s, "owner", &i.owner) || !Get(s, "created", &i.created) ||
        !Get(s, "expires", &i.expires) || !Get(s, "limit", &i.limit) || !Get(s, "uses", &i.uses) ||
        (s.contains("hash") && !Get(s, "hash", &r.hash)))
      return false;
    i.id = digest.substr(0, kIdLength);
    i.password = !r.hash.empty();
    t[digest] = r;
  }
  *table = std::move(t);
  return true;
}

std::string Serialize(const Shares::Table& t) {
  json list = json::array();
  for (const auto& [digest, r] : t) {
    const ShareInfo& i = r.info;
    json s = {{"sha256", digest}, {"key", i.key},         {"owner", i.owner}, {"created", i.created},
              {"expires", i.expires}, {"limit", i.limit}, {"uses", i.uses}};
    if (!r.hash.empty()) s["hash"] = r.hash;
    list.push_back(s);
  }
  return json{{"shares", list}}.dump(1) + "\n";
}

bool ReadTable(const std::string& path, Shares::Table* table, struct stat* seen, std::string* error) {
  std::string text;
  if (!ReadWholeFile(path, &text, seen, error)) return false;
  if (seen->st_ino == 0) {
    *table = {};
    return true;
  }
  if (!Parse(text, table)) {
    *error = path + " is not a shares file";
    return false;
  }
  return true;
}

Shares::State StateOf(const ShareInfo& i, int64_t now) {
  if (now >= i.expires) return Shares::State::kExpired;
  if (i.limit > 0 && i.uses >= i.limit) return Shares::State::kUsedUp;
  return Shares::State::kLive;
}

// Whole decimal digits into *out, at most max; false for anything else.
bool Whole(const std::string& text, int64_t max, int64_t* out) {
  if (text.empty() || text.size() > 12 || !std::all_of(text.begin(), text.end(), ::isdigit)) return false;
  *out = std::strtoll(text.c_str(), nullptr, 10);
  return *out <= max;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// "YYYY-MM-DD" (the end of that day) or "YYYY-MM-DDTHH:MM[:SS][Z]" in
// UTC; false for anything else, an impossible date among it.
bool ParseUntil(std::string text, int64_t* out) {
  if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) text.pop_back();
  int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  auto field = [&text](size_t at, size_t n, int64_t max, int64_t* v) {
    return at + n <= text.size() && Whole(text.substr(at, n), max, v);
  };
  bool date = text.size() >= 10 && text[4] == '-' && text[7] == '-' && field(0, 4, 9999, &y) &&
              field(5, 2, 12, &mo) && field(8, 2, 31, &d) && mo >= 1 && d >= 1;
  if (!date) return false;
  if (text.size() == 10) {
    h = 24;  // through the end of the day
  } else if (!((text.size() == 16 || text.size() == 19) && (text[10] == 'T' || text[10] == ' ') &&
               text[13] == ':' && field(11, 2, 23, &h) && field(14, 2, 59, &mi) &&
               (text.size() == 16 || (text[16] == ':' && field(17, 2, 59, &s))))) {
    return false;
  }
  int64_t days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  CivilTime back = CivilOf(days * 86400);
  if (back.day != static_cast<unsigned>(d)) return false;  // 31 April and the like
  *out = days * 86400 + h * 3600 + mi * 60 + s;
  return true;
}

}  // namespace

bool ParseShareAsk(const std::string& hours, const std::string& until, const std::string& password,
                   const std::string& limit, int64_t now, ShareAsk* ask, std::string* message) {
  int64_t n = 0;
  if (!until.empty()) {
    if (!ParseUntil(until, &ask->expires)) ask->expires = 0;
  } else if (!hours.empty()) {
    ask->expires = Whole(hours, kShareMaxSeconds / 3600, &n) && n > 0 ? now + n * 3600 : 0;
  } else {
    ask->expires = now + kShareDefaultSeconds;
  }
  if (ask->expires <= now || ask->expires > now + kShareMaxSeconds) {
    *message = Text(kShareBadExpiry);
    return false;
  }
  ask->limit = 0;
  if (!limit.empty() && !Whole(limit, kShareMaxLimit, &ask->limit)) {
    *message = Text(kShareBadLimit, std::to_string(kShareMaxLimit));
    return false;
  }
  // The message says the rule: the reason ValidPassword gives is English.
  std::string why;
  if (!password.empty() && !Users::ValidPassword(password, &why)) {
    *message = Text(kShareBadPassword);
    return false;
  }
  ask->password = password;
  return true;
}

Shares::~Shares() { UnmapEditCount(fEdits); }

bool Shares::Open(const std::string& dataDir, std::string* error) {
  KLockGuard guard(fMutex);
  fDir = dataDir;
  FileLock lock(dataDir + kLock, LOCK_SH);
  if (!lock.Held(error)) return false;
  if (fEdits == nullptr) fEdits = MapEditCount(dataDir + kLock);
  fEditsSeen = EditCount(fEdits);
  fNextStat = SteadyNanos() + kRecheckNanos;
  return ReadTable(dataDir + kFile, &fTable, &fSeen, error);
}

bool Shares::Refresh() {
  KLockGuard guard(fMutex);
  return RefreshLocked();
}

bool Shares::RefreshLocked() {
  if (fDir.empty()) return false;
  const std::string path = fDir + kFile;
  struct stat now {};
  if (stat(path.c_str(), &now) != 0) now = {};  // gone: no links
  if (SameFile(now, fSeen)) return false;
  FileLock lock(fDir + kLock, LOCK_SH);
  Table table;
  struct stat seen {};
  std::string error;
  if (!lock.Held(&error) || !ReadTable(path, &table, &seen, &error)) {
    LogEvent(error + "; the share links read before stay");
    fSeen = now;  // tried once; again when it changes
    return false;
  }
  fSeen = seen;
  fTable = std::move(table);
  return true;
}

void Shares::RefreshWhenEdited() {
  const int64_t now = SteadyNanos();
  const uint64_t edits = EditCount(fEdits);
  if (fEdits != nullptr && edits == fEditsSeen && now < fNextStat) return;
  RefreshLocked();
  fEditsSeen = edits;
  fNextStat = now + kRecheckNanos;
}

bool Shares::Edit(const std::function<bool(Table&)>& change, std::string* error) {
  FileLock lock(fDir + kLock, LOCK_EX);
  if (!lock.Held(error)) return false;
  Table table;
  struct stat previous {};
  const std::string path = fDir + kFile;
  if (!ReadTable(path, &table, &previous, error) || !change(table)) return false;
  if (!WriteWholeFile(fDir, path, Serialize(table), previous, error)) return false;
  CountEdit(fDir + kLock);
  fEditsSeen = EditCount(fEdits);  // under the lock: this edit's count
  fTable = std::move(table);
  // Under the lock nobody else wrote since: this is the file just written.
  if (stat(path.c_str(), &fSeen) != 0) fSeen = {};
  return true;
}

bool Shares::Create(const std::string& key, const std::string& owner, const ShareAsk& ask, int64_t now,
                    ShareInfo* info, std::string* token, std::string* error) {
  // yescrypt is slow on purpose: before the lock.
  std::string hash = ask.password.empty() ? "" : HashPassword(ask.password);
  if (!ask.password.empty() && hash.empty()) {
    *error = "cannot hash the password";
    return false;
  }
  KLockGuard guard(fMutex);
  std::string made, digest;
  // A new id must not name another link of the file.
  for (bool taken = true; taken;) {
    unsigned char bytes[kTokenBytes];
    if (!RandomBytes(bytes, sizeof bytes)) {
      *error = "no random bytes for a share link";
      return false;
    }
    made = Base64Url(bytes, sizeof bytes);
    digest = Sha256Hex(made);
    taken = std::any_of(fTable.begin(), fTable.end(),
                        [&](const auto& e) { return e.first.compare(0, kIdLength, digest, 0, kIdLength) == 0; });
  }
  Record r;
  r.info = {digest.substr(0, kIdLength), key, owner, now, ask.expires, ask.limit, 0, !hash.empty()};
  r.hash = hash;
  if (!Edit([&](Table& t) { return t.emplace(digest, r).second; }, error)) return false;
  *info = r.info;
  *token = made;
  return true;
}

std::vector<ShareInfo> Shares::List(const std::string& key, Look look) {
  std::vector<ShareInfo> out;
  {
    KLockGuard guard(fMutex);
    if (look == Look::kNow) RefreshLocked();
    else RefreshWhenEdited();
    for (const auto& [digest, r] : fTable)
      if (key.empty() || r.info.key == key) out.push_back(r.info);
  }
  std::sort(out.begin(), out.end(), [](const ShareInfo& a, const ShareInfo& b) {
    return a.expires != b.expires ? a.expires < b.expires : a.id < b.id;
  });
  return out;
}

bool Shares::Revoke(const std::string& key, const std::string& id, std::string* error) {
  error->clear();
  KLockGuard guard(fMutex);
  return Edit(
      [&](Table& t) {
        return std::erase_if(t, [&](const auto& e) { return e.second.info.key == key && e.second.info.id == id; }) >
               0;
      },
      error);
}

Shares::State Shares::Find(const std::string& token, int64_t now, ShareInfo* info, std::string* hash) {
  if (!ValidToken(token)) return State::kUnknown;
  // Found by digest: a lookup's timing tells nothing of a token.
  std::string digest = Sha256Hex(token);
  KLockGuard guard(fMutex);
  RefreshLocked();
  auto it = fTable.find(digest);
  if (it == fTable.end()) return State::kUnknown;
  *info = it->second.info;
  *hash = it->second.hash;
  return StateOf(*info, now);
}

Shares::State Shares::TakeUse(const std::string& id, int64_t now, ShareInfo* info, std::string* error) {
  KLockGuard guard(fMutex);
  State state = State::kUnknown;
  // The count goes to the file before the bytes go out: a kill cannot give
  // a download the limit did not count.
  bool counted = Edit(
      [&](Table& t) {
        auto it = std::find_if(t.begin(), t.end(), [&](const auto& e) { return e.second.info.id == id; });
        if (it == t.end()) return false;
        state = StateOf(it->second.info, now);
        if (state != State::kLive) return false;
        ++it->second.info.uses;
        *info = it->second.info;
        return true;
      },
      error);
  return counted ? State::kLive : state;
}

std::vector<ShareInfo> Shares::Sweep(int64_t now, const std::function<bool(const std::string&)>& keep,
                                     std::string* error) {
  std::vector<ShareInfo> gone;
  KLockGuard guard(fMutex);
  bool written = Edit(
      [&](Table& t) {
        std::erase_if(t, [&](const auto& e) {
          bool ended = StateOf(e.second.info, now) != State::kLive || !keep(e.second.info.key);
          if (ended) gone.push_back(e.second.info);
          return ended;
        });
        return !gone.empty();
      },
      error);
  if (!written) gone.clear();  // nothing to forget, or the file kept them all
  return gone;
}

}  // namespace serve
