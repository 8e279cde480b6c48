// The server's accounts: users with yescrypt password hashes and API
// tokens, kept in DIR/users.json, which the server reads and the `vxhost
// user` and `vxhost token` commands edit. Only hashes and digests are
// stored: never a clear password or a clear token.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_USERS_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_USERS_H_

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vxkernel/threads/KMutex.h"

namespace serve {

// ===== Secrets =====

// n bytes from getrandom; false when the kernel gives none.
bool RandomBytes(void* out, size_t n);
// Lower-case hex of the bytes.
std::string Hex(std::string_view bytes);
// True when s is n lower-case hex digits.
bool IsLowerHex(std::string_view s, size_t n);
// Lower-case hex of the text's SHA-256 (OpenSSL).
std::string Sha256Hex(std::string_view text);
// The same into *out, whose buffer a caller per request keeps; false (and
// *out empty) when OpenSSL fails.
bool Sha256Hex(std::string_view text, std::string* out);
// The same for a secret the gate digests per request (a token, a session
// id), remembered by the calling thread for its last few secrets: a
// client's requests then cost one digest per thread. Secrets are compared
// in constant time, so a lookup's timing tells nothing of those kept. The
// reference holds until the thread's next call; empty when OpenSSL fails.
const std::string& SecretDigest(std::string_view secret);
// True when a and b are equal; the time depends on their lengths only.
bool SecretEquals(std::string_view a, std::string_view b);
// The yescrypt hash (libxcrypt's default cost) of password with a fresh
// salt; empty on failure.
std::string HashPassword(const std::string& password);
// True when password hashes to hash; the comparison takes constant time.
bool PasswordMatches(const std::string& password, const std::string& hash);

// ===== Accounts =====

// The accounts the server checks logins and tokens against: one per
// server, shared by all workers. The file is the truth; the object holds
// what it last read and reads again (Refresh) when another process changed
// it. The static editors are what the CLI uses: each takes the file's lock,
// reads the file afresh, changes it, replaces it whole and then counts the
// edit in the lock file, which the server maps: a request learns of an
// edit by reading that count from memory, without a system call.
//
// Thread rule: any thread; every member locks, but for a Refresh that
// finds nothing to do.
class Users {
 public:
  struct Listed {
    std::string name;
    bool admin = false;
    size_t tokens = 0;
  };

  // How long an edit made without the editors (by hand) may go unseen.
  static constexpr int64_t kRecheckMillis = 1000;

  Users() = default;
  ~Users();
  Users(const Users&) = delete;
  Users& operator=(const Users&) = delete;

  // Reads dataDir/users.json (a missing file is no users) and maps the
  // edit count of dataDir/users.lock. False with *error when the file
  // exists and cannot be read or is not an accounts file. recheckMillis:
  // how often Refresh stats the file when the count has not moved.
  bool Open(const std::string& dataDir, std::string* error, int64_t recheckMillis = kRecheckMillis);
  // When the editors' count moved since the last look, or recheckMillis
  // have passed (or the count could not be mapped), stats the file; when it
  // changed since the last read, reads it again and returns true. Otherwise
  // costs two memory reads and a clock read. A file that is gone means no
  // users; a file that cannot be read keeps the accounts last read (and is
  // not tried again until it changes); both return true only when the
  // accounts changed.
  bool Refresh();
  // True when name exists and password is its password; *admin its flag.
  // An unknown name costs as much as a wrong password.
  bool CheckPassword(const std::string& name, const std::string& password, bool* admin);
  // True when token ("vxt_" + 64 hex digits) is a stored token; *user and
  // *admin its owner.
  bool CheckToken(std::string_view token, std::string* user, bool* admin);
  bool Exists(const std::string& name);
  size_t Count();

  // ===== Editors (each under the lock of dataDir/users.lock) =====
  // Each returns false with *error (a sentence for the console) when the
  // name or password is not acceptable, the user is unknown or already
  // there, or the file cannot be read or written; the file is unchanged
  // then.

  static bool AddUser(const std::string& dataDir, const std::string& name, const std::string& password,
                      bool admin, std::string* error);
  // Also removes the user's tokens.
  static bool DeleteUser(const std::string& dataDir, const std::string& name, std::string* error);
  // Makes a token for user; *token is its only clear copy.
  static bool AddToken(const std::string& dataDir, const std::string& user, std::string* token,
                       std::string* error);
  static bool DeleteToken(const std::string& dataDir, const std::string& token, std::string* error);
  // Names in order; empty when the file is missing or unreadable.
  static std::vector<Listed> List(const std::string& dataDir);
  // When the file has no users, adds "admin" (an administrator) with a
  // random password of 20 characters, stores that in *password and returns
  // true. False when there are users already (error empty) or on failure
  // (*error set).
  static bool EnsureAdmin(const std::string& dataDir, std::string* password, std::string* error);

  // The rules for names and passwords (also the CLI's); on refusal *error
  // says why.
  static bool ValidName(const std::string& name, std::string* error);
  static bool ValidPassword(const std::string& password, std::string* error);

  struct Account {
    std::string hash;  // yescrypt, "$y$..."
    bool admin = false;
    long long created = 0;  // seconds since 1970
  };
  struct TokenEntry {
    std::string user;
    long long created = 0;
  };
  // The file's contents: accounts by name, tokens by SHA-256 hex digest.
  struct Table {
    std::map<std::string, Account> users;
    std::map<std::string, TokenEntry> tokens;
  };

 private:
  // Refresh's stat and read.
  bool ReadIfChanged() VXK_REQUIRES(fMutex);

  KMutex fMutex;
  std::string fPath VXK_GUARDED_BY(fMutex);
  Table fTable VXK_GUARDED_BY(fMutex);
  struct stat fSeen VXK_GUARDED_BY(fMutex) {};  // the file as last read; st_ino 0: none
  int64_t fRecheckNanos VXK_GUARDED_BY(fMutex) = 0;
  // Read without the lock. The editors' count in users.lock, mapped
  // shared (null when it could not be: every Refresh then stats the file);
  // the count when the table was last brought up to date, and when the
  // next stat is due (steady clock).
  const uint64_t* fEdits = nullptr;
  std::atomic<uint64_t> fEditsSeen{0};
  std::atomic<int64_t> fNextStat{0};
  std::once_flag fDummyOnce;
  std::string fDummyHash;  // checked against for unknown names; set once by fDummyOnce
};

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_USERS_H_
