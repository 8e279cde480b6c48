// users.json: {"users": [{"name", "hash", "admin", "created"}...],
// "tokens": [{"sha256", "user", "created"}...]} (docs/server.md,
// "Accounts"). Passwords are hashed with yescrypt through libxcrypt; a
// token is stored as the SHA-256 of its text, which is enough since a token
// is 256 random bits (nothing to guess, so no slow hash is needed).
#include "serve_users.h"

#include <crypt.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>

#include "serve_jsonfile.h"
#include "vxkernel/threads/KMutex.h"

namespace serve {

namespace {

using json = nlohmann::json;

constexpr char kFile[] = "/users.json";
constexpr char kLock[] = "/users.lock";
constexpr char kTokenPrefix[] = "vxt_";
constexpr size_t kTokenBytes = 32;     // 256 bits
constexpr size_t kMaxName = 64;
constexpr size_t kMaxPassword = 1024;
constexpr size_t kAdminPasswordLength = 20;
// No 0/O, 1/l/I: the first password is read off a console.
constexpr char kUnambiguous[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";

long long Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The string at key of object o; false when it is missing or no string.
bool GetString(const json& o, const char* key, std::string* out) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_string()) return false;
  *out = it->get<std::string>();
  return true;
}

// The optional fields: a missing one keeps *out, a wrong type is refused
// (json::value would throw instead).
bool GetFlag(const json& o, const char* key, bool* out) {
  auto it = o.find(key);
  if (it != o.end() && !it->is_boolean()) return false;
  if (it != o.end()) *out = it->get<bool>();
  return true;
}

bool GetTime(const json& o, const char* key, long long* out) {
  auto it = o.find(key);
  if (it != o.end() && !it->is_number_integer()) return false;
  if (it != o.end()) *out = it->get<long long>();
  return true;
}

// Parses the file's text into *table; false when it is not an accounts
// file (then *table is untouched).
bool Parse(const std::string& text, Users::Table* table) {
  const json doc = json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  const json empty = json::array();
  auto users = doc.find("users"), tokens = doc.find("tokens");
  const json& userList = users != doc.end() ? *users : empty;
  const json& tokenList = tokens != doc.end() ? *tokens : empty;
  if (!userList.is_array() || !tokenList.is_array()) return false;
  Users::Table t;
  std::string name, ignored;
  for (const json& u : userList) {
    Users::Account a;
    if (!u.is_object() || !GetString(u, "name", &name) || !Users::ValidName(name, &ignored) ||
        !GetString(u, "hash", &a.hash) || !GetFlag(u, "admin", &a.admin) || !GetTime(u, "created", &a.created))
      return false;
    t.users[name] = a;
  }
  for (const json& k : tokenList) {
    std::string digest;
    Users::TokenEntry e;
    if (!k.is_object() || !GetString(k, "sha256", &digest) || !IsLowerHex(digest, 64) ||
        !GetString(k, "user", &e.user) || !GetTime(k, "created", &e.created))
      return false;
    t.tokens[digest] = e;
  }
  *table = std::move(t);
  return true;
}

std::string Serialize(const Users::Table& t) {
  json doc = {{"users", json::array()}, {"tokens", json::array()}};
  for (const auto& [name, a] : t.users)
    doc["users"].push_back({{"name", name}, {"hash", a.hash}, {"admin", a.admin}, {"created", a.created}});
  for (const auto& [digest, k] : t.tokens)
    doc["tokens"].push_back({{"sha256", digest}, {"user", k.user}, {"created", k.created}});
  return doc.dump(1) + "\n";
}

// Reads the file at path into *table; a missing file is an empty table.
// false with *error when it cannot be read or parsed. *seen gets its stat.
bool ReadTable(const std::string& path, Users::Table* table, struct stat* seen, std::string* error) {
  std::string text;
  struct stat st {};
  if (!ReadWholeFile(path, &text, &st, error)) return false;
  if (st.st_ino == 0) {
    *table = {};
    *seen = {};
    return true;
  }
  if (!Parse(text, table)) {
    *error = path + " is not an accounts file";
    return false;
  }
  *seen = st;
  return true;
}

// Runs change on the file's current contents under the exclusive lock and
// writes the result when change returns true.
template <class Change>
bool Edit(const std::string& dataDir, std::string* error, Change change) {
  FileLock lock(dataDir + kLock, LOCK_EX);
  if (!lock.Held(error)) return false;
  const std::string path = dataDir + kFile;
  Users::Table table;
  struct stat previous {};
  if (!ReadTable(path, &table, &previous, error) || !change(table) ||
      !WriteWholeFile(dataDir, path, Serialize(table), previous, error))
    return false;
  CountEdit(dataDir + kLock);
  return true;
}

std::string NewToken() {
  char bytes[kTokenBytes];
  if (!RandomBytes(bytes, sizeof bytes)) return "";
  return kTokenPrefix + Hex(std::string(bytes, sizeof bytes));
}

bool ValidToken(std::string_view token) {
  const std::string_view prefix = kTokenPrefix;
  return token.substr(0, prefix.size()) == prefix &&
         IsLowerHex(token.substr(std::min(prefix.size(), token.size())), 64);
}

}  // namespace

// ===== Secrets =====

bool RandomBytes(void* out, size_t n) {
  auto* p = static_cast<unsigned char*>(out);
  while (n > 0) {
    ssize_t got = getrandom(p, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool IsLowerHex(std::string_view s, size_t n) {
  if (s.size() != n) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

namespace {

// Two lower-case hex digits per byte from out on.
void PutHex(const unsigned char* bytes, size_t n, char* out) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 15];
  }
}

}  // namespace

std::string Hex(std::string_view bytes) {
  std::string out(bytes.size() * 2, '0');
  PutHex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
  return out;
}

// The gate digests every secret it has not seen on the thread: the
// algorithm is fetched once and each thread keeps its context, where
// EVP_Digest with EVP_sha256() looks the algorithm up and allocates a
// context every time (twice the cost).
bool Sha256Hex(std::string_view text, std::string* out) {
  static EVP_MD* const kSha256 = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
  thread_local std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  out->clear();
  if (kSha256 == nullptr || context == nullptr || EVP_DigestInit_ex(context.get(), kSha256, nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), text.data(), text.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), md, &n) != 1)
    return false;
  out->resize(2 * size_t{n});
  PutHex(md, n, out->data());
  return true;
}

std::string Sha256Hex(std::string_view text) {
  std::string out;
  Sha256Hex(text, &out);
  return out;
}

namespace {

// Secrets a thread remembers the digests of, and the longest it keeps (a
// session id or a token is 64 or 68 bytes; anything longer is digested
// each time).
constexpr size_t kKeptDigests = 16;
constexpr size_t kKeptSecretBytes = 128;

struct KeptDigest {
  std::string secret, digest;
};

}  // namespace

const std::string& SecretDigest(std::string_view secret) {
  thread_local std::array<KeptDigest, kKeptDigests> kept;
  thread_local std::string once;
  if (secret.size() > kKeptSecretBytes) {
    Sha256Hex(secret, &once);
    return once;
  }
  // Secrets are random: their last byte spreads them over the slots.
  KeptDigest& k = kept[secret.empty() ? 0 : static_cast<unsigned char>(secret.back()) % kKeptDigests];
  if (!k.digest.empty() && SecretEquals(k.secret, secret)) return k.digest;
  if (Sha256Hex(secret, &k.digest)) k.secret.assign(secret);
  return k.digest;
}

bool SecretEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string HashPassword(const std::string& password) {
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  if (crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt) == nullptr) return "";
  auto data = std::make_unique<crypt_data>();  // about 32 KiB: not on the stack
  const char* hash = crypt_r(password.c_str(), salt, data.get());
  // libxcrypt fails with a "*"-led string, never a hash.
  if (hash == nullptr || hash[0] != '$') return "";
  return hash;
}

bool PasswordMatches(const std::string& password, const std::string& hash) {
  auto data = std::make_unique<crypt_data>();
  const char* again = crypt_r(password.c_str(), hash.c_str(), data.get());
  return again != nullptr && again[0] == '$' && SecretEquals(again, hash);
}

// ===== Users =====

bool Users::ValidName(const std::string& name, std::string* error) {
  bool ok = !name.empty() && name.size() <= kMaxName;
  for (char c : name)
    ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                c == '_' || c == '-');
  if (!ok) *error = "a user name is 1 to 64 characters of A-Z a-z 0-9 . _ -";
  return ok;
}

bool Users::ValidPassword(const std::string& password, std::string* error) {
  if (password.empty()) *error = "the password is empty";
  else if (password.size() > kMaxPassword) *error = "the password is longer than 1024 bytes";
  else if (password.find_first_of("\r\n") != std::string::npos) *error = "the password holds a line end";
  // crypt stops at a NUL: the rest would not count.
  else if (password.find('\0') != std::string::npos) *error = "the password holds a NUL byte";
  else return true;
  return false;
}

Users::~Users() {
  UnmapEditCount(fEdits);
}

bool Users::Open(const std::string& dataDir, std::string* error, int64_t recheckMillis) {
  KLockGuard guard(fMutex);
  fPath = dataDir + kFile;
  fRecheckNanos = recheckMillis * 1000000;
  FileLock lock(dataDir + kLock, LOCK_SH);
  if (!lock.Held(error)) return false;
  if (fEdits == nullptr) fEdits = MapEditCount(dataDir + kLock);
  fEditsSeen.store(EditCount(fEdits));
  fNextStat.store(SteadyNanos() + fRecheckNanos);
  return ReadTable(fPath, &fTable, &fSeen, error);
}

bool Users::Refresh() {
  const int64_t now = SteadyNanos();
  const uint64_t edits = EditCount(fEdits);
  if (fEdits != nullptr && edits == fEditsSeen.load(std::memory_order_acquire) &&
      now < fNextStat.load(std::memory_order_relaxed))
    return false;
  KLockGuard guard(fMutex);
  const bool changed = ReadIfChanged();
  // Only now: a request that finds this count current finds the table it
  // stands for.
  fNextStat.store(now + fRecheckNanos, std::memory_order_relaxed);
  fEditsSeen.store(edits, std::memory_order_release);
  return changed;
}

bool Users::ReadIfChanged() {
  struct stat now {};
  if (stat(fPath.c_str(), &now) != 0) {
    if (fSeen.st_ino == 0 && fTable.users.empty() && fTable.tokens.empty()) return false;
    fTable = {};  // the file is gone: nobody may log in
    fSeen = {};
    return true;
  }
  if (SameFile(now, fSeen)) return false;
  std::string dataDir = fPath.substr(0, fPath.size() - (sizeof kFile - 1)), error;
  FileLock lock(dataDir + kLock, LOCK_SH);
  Table table;
  struct stat seen {};
  if (!lock.Held(&error) || !ReadTable(fPath, &table, &seen, &error)) {
    fSeen = now;  // tried once; again when it changes
    return false;
  }
  fSeen = seen;
  fTable = std::move(table);
  return true;
}

bool Users::CheckPassword(const std::string& name, const std::string& password, bool* admin) {
  std::string hash;
  bool known = false, isAdmin = false;
  {
    KLockGuard guard(fMutex);
    auto it = fTable.users.find(name);
    known = it != fTable.users.end();
    isAdmin = known && it->second.admin;
    if (known) hash = it->second.hash;
  }
  // Made at the first unknown name, not at start: yescrypt takes 16 MiB
  // for a moment, which a server that never sees a login need not pay.
  if (!known) {
    std::call_once(fDummyOnce, [this] { fDummyHash = HashPassword("not a password"); });
    hash = fDummyHash;
  }
  // yescrypt is slow on purpose: not under the lock.
  bool matches = !hash.empty() && PasswordMatches(password, hash);
  *admin = known && matches && isAdmin;
  return known && matches;
}

bool Users::CheckToken(std::string_view token, std::string* user, bool* admin) {
  if (!ValidToken(token)) return false;
  // The table is keyed by digest: a lookup's timing tells nothing of a
  // token.
  const std::string& digest = SecretDigest(token);
  KLockGuard guard(fMutex);
  auto it = fTable.tokens.find(digest);
  if (it == fTable.tokens.end()) return false;
  auto owner = fTable.users.find(it->second.user);
  if (owner == fTable.users.end()) return false;
  *user = owner->first;
  *admin = owner->second.admin;
  return true;
}

bool Users::Exists(const std::string& name) {
  KLockGuard guard(fMutex);
  return fTable.users.count(name) != 0;
}

size_t Users::Count() {
  KLockGuard guard(fMutex);
  return fTable.users.size();
}

bool Users::AddUser(const std::string& dataDir, const std::string& name, const std::string& password, bool admin,
                    std::string* error) {
  if (!ValidName(name, error) || !ValidPassword(password, error)) return false;
  std::string hash = HashPassword(password);
  if (hash.empty()) {
    *error = "cannot hash the password";
    return false;
  }
  return Edit(dataDir, error, [&](Table& t) {
    if (t.users.count(name) != 0) {
      *error = "user '" + name + "' exists";
      return false;
    }
    t.users[name] = {hash, admin, Now()};
    return true;
  });
}

bool Users::DeleteUser(const std::string& dataDir, const std::string& name, std::string* error) {
  return Edit(dataDir, error, [&](Table& t) {
    if (t.users.erase(name) == 0) {
      *error = "unknown user '" + name + "'";
      return false;
    }
    std::erase_if(t.tokens, [&](const auto& entry) { return entry.second.user == name; });
    return true;
  });
}

bool Users::AddToken(const std::string& dataDir, const std::string& user, std::string* token, std::string* error) {
  std::string made = NewToken();
  if (made.empty()) {
    *error = "no random bytes for a token";
    return false;
  }
  bool added = Edit(dataDir, error, [&](Table& t) {
    if (t.users.count(user) == 0) {
      *error = "unknown user '" + user + "'";
      return false;
    }
    t.tokens[Sha256Hex(made)] = {user, Now()};
    return true;
  });
  if (added) *token = made;
  return added;
}

bool Users::DeleteToken(const std::string& dataDir, const std::string& token, std::string* error) {
  if (!ValidToken(token)) {
    *error = "a token is vxt_ and 64 lower-case hex digits";
    return false;
  }
  return Edit(dataDir, error, [&](Table& t) {
    if (t.tokens.erase(Sha256Hex(token)) == 0) {
      *error = "unknown token";
      return false;
    }
    return true;
  });
}

std::vector<Users::Listed> Users::List(const std::string& dataDir) {
  FileLock lock(dataDir + kLock, LOCK_SH);
  Table t;
  struct stat ignored {};
  std::string error;
  std::vector<Listed> out;
  if (!ReadTable(dataDir + kFile, &t, &ignored, &error)) return out;
  for (const auto& [name, a] : t.users) out.push_back({name, a.admin, 0});
  for (Listed& l : out)
    for (const auto& entry : t.tokens) l.tokens += entry.second.user == l.name;
  return out;
}

bool Users::EnsureAdmin(const std::string& dataDir, std::string* password, std::string* error) {
  error->clear();
  std::string made;
  // Rejection sampling keeps every character equally likely.
  const size_t alphabet = sizeof kUnambiguous - 1;
  const unsigned limit = 256 - 256 % alphabet;
  while (made.size() < kAdminPasswordLength) {
    unsigned char bytes[32];
    if (!RandomBytes(bytes, sizeof bytes)) {
      *error = "no random bytes for a password";
      return false;
    }
    for (unsigned char b : bytes)
      if (b < limit && made.size() < kAdminPasswordLength) made += kUnambiguous[b % alphabet];
  }
  std::string hash = HashPassword(made);
  if (hash.empty()) {
    *error = "cannot hash the password";
    return false;
  }
  bool added = Edit(dataDir, error, [&](Table& t) {
    if (!t.users.empty()) return false;
    t.users["admin"] = {hash, true, Now()};
    return true;
  });
  if (added) *password = made;
  return added;
}

}  // namespace serve
