// Share links: a link /s/TOKEN lets anyone who has it download one
// document, without an account, until it expires, is used up or revoked.
// The links live in DIR/shares.json; only the SHA-256 of a token is kept,
// so a link is shown once, when it is made.
//
// For the JSON API: ParseShareAsk reads what a client asked for,
// CreateShare makes the link (ShareUrl gives its address), Shares::List
// lists a document's links and RevokeShare ends one.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_SHARES_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_SHARES_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "vxkernel/threads/KMutex.h"

namespace serve {

struct App;
struct Caller;
struct Exchange;

// One link as its rows, the API and the log show it.
struct ShareInfo {
  std::string id;     // the first 10 hex digits of the token's SHA-256: names the link, tells nothing of it
  std::string key;    // the document
  std::string owner;  // the user who made it
  int64_t created = 0;
  int64_t expires = 0;  // seconds since 1970, UTC; refused from then on
  int64_t limit = 0;    // downloads it allows; 0: no limit
  int64_t uses = 0;     // downloads counted so far
  bool password = false;
};

// What a new link asks for.
struct ShareAsk {
  int64_t expires = 0;   // seconds since 1970, UTC
  std::string password;  // "": none
  int64_t limit = 0;     // 0: no limit
};

constexpr int64_t kShareDefaultSeconds = 7 * 86400;
constexpr int64_t kShareMaxSeconds = 366 * 86400;
constexpr int64_t kShareMaxLimit = 1000000;

// Reads a link's wishes as a form or the API gives them, as text: hours
// (whole hours from now), until (a UTC date "YYYY-MM-DD", meaning the end
// of that day, or a date-time "YYYY-MM-DDTHH:MM[:SS][Z]"; wins over
// hours), neither: 7 days; password ("" none); limit ("" or "0": none).
// False with *message (for an error page, 400) when one cannot be taken.
bool ParseShareAsk(const std::string& hours, const std::string& until, const std::string& password,
                   const std::string& limit, int64_t now, ShareAsk* ask, std::string* message);

// The links of the data folder: what DIR/shares.json holds, kept in memory
// for lookups and read again when the file changed (other servers on the
// folder edit it too). Every change (a new link, a revoke, a counted use, a sweep)
// takes the flock of DIR/shares.lock, reads the file afresh, changes it
// and replaces it whole (temporary, fsync, rename), so a kill leaves the
// old or the new file.
//
// Thread rule: every member locks; any thread.
class Shares {
 public:
  enum class State { kUnknown, kLive, kExpired, kUsedUp };

  Shares() = default;
  ~Shares();
  Shares(const Shares&) = delete;
  Shares& operator=(const Shares&) = delete;

  // Reads DIR/shares.json (missing: no links). False with *error when it
  // cannot be read or is not a shares file.
  bool Open(const std::string& dataDir, std::string* error);
  // A new link to key; *token (22 characters of base64url, 128 random
  // bits) is its only clear copy. False with *error when no random bytes
  // or the file cannot be written.
  bool Create(const std::string& key, const std::string& owner, const ShareAsk& ask, int64_t now,
              ShareInfo* info, std::string* token, std::string* error);
  // Reads the file again when its inode, size or time changed since the
  // last read (one stat otherwise); true when it did. A file that cannot be
  // read keeps the links last read (logged; tried again when it changes);
  // a file that is gone means no links. Find and List call it.
  bool Refresh();
  // How fresh a List must be. kNow: Refresh first. kWhenEdited (for the
  // list page, which shows the links on every request): Refresh only when
  // the editors' count in shares.lock moved or a second has passed since
  // the last look, so a link made or revoked by a server on this machine
  // shows at once, one made elsewhere on a network folder (or by hand)
  // within a second. Lookups of a link (Find, TakeUse) always look.
  enum class Look { kNow, kWhenEdited };
  // The links of key (all links when key is empty), soonest to expire first.
  std::vector<ShareInfo> List(const std::string& key, Look look = Look::kNow);
  // Ends link id of key. False with *error empty when key has no such link,
  // with *error set when the file cannot be written.
  bool Revoke(const std::string& key, const std::string& id, std::string* error);
  // What token is at time now; *info and *hash (the password's yescrypt
  // hash, "" for none) for any but kUnknown.
  State Find(const std::string& token, int64_t now, ShareInfo* info, std::string* hash);
  // Counts one download of link id: kLive (with *info counted) when it
  // still had one to give, else why not. *error set (and kUnknown) when the
  // file cannot be written: nothing is counted or sent then.
  State TakeUse(const std::string& id, int64_t now, ShareInfo* info, std::string* error);
  // Forgets for good the links that have expired or are used up, and those
  // whose document keep says is gone; returns them.
  std::vector<ShareInfo> Sweep(int64_t now, const std::function<bool(const std::string& key)>& keep,
                               std::string* error);

  struct Record {
    ShareInfo info;
    std::string hash;  // yescrypt of the password; "" none
  };
  using Table = std::map<std::string, Record>;  // by the token's SHA-256 hex

 private:
  bool Edit(const std::function<bool(Table&)>& change, std::string* error) VXK_REQUIRES(fMutex);
  bool RefreshLocked() VXK_REQUIRES(fMutex);
  void RefreshWhenEdited() VXK_REQUIRES(fMutex);

  // How long an edit made by hand may go unseen by List(kWhenEdited).
  static constexpr int64_t kRecheckNanos = 1000000000;

  KMutex fMutex;
  std::string fDir VXK_GUARDED_BY(fMutex);
  Table fTable VXK_GUARDED_BY(fMutex);
  struct stat fSeen VXK_GUARDED_BY(fMutex) {};  // the file fTable was read from (st_ino 0: none)
  const uint64_t* fEdits VXK_GUARDED_BY(fMutex) = nullptr;  // the count of shares.lock, mapped
  uint64_t fEditsSeen VXK_GUARDED_BY(fMutex) = 0;           // the count at the last look
  int64_t fNextStat VXK_GUARDED_BY(fMutex) = 0;             // SteadyNanos of the next look without an edit
};

// ===== Routes and the API's calls (serve_share_routes.cpp) =====

// GET, HEAD and POST /s/TOKEN: the document of a live link, or the
// password form of a link that has one. Needs no account.
void HandleShareLink(Exchange& ex);
// /doc/KEY/share (GET: the share page; POST: a new link) and
// /doc/KEY/share/ID/revoke (POST). action is what follows the key.
void HandleDocShare(Exchange& ex, const std::string& key, const std::string& action, const Caller& who);
// The address of a link as this request reached the server:
// "http://HOST/s/TOKEN" (https behind a TLS proxy).
std::string ShareUrl(const Exchange& ex, const std::string& token);
// Makes a link to key for owner and logs it: 200 with *info and *token, or
// the status (404 no such document, 500 not stored) with *message.
int CreateShare(App& app, const std::string& key, const std::string& owner, const ShareAsk& ask, ShareInfo* info,
                std::string* token, std::string* message);
// Ends link id of key for user and logs it: 200, or 404 / 500 with *message.
int RevokeShare(App& app, const std::string& key, const std::string& id, const std::string& user,
                std::string* message);
// The links of a document as the list's rows show them (with a revoke
// button each; "" without links; an empty function when no document has
// links). The links are read once; only the rows of the page shown are
// written.
std::function<std::string(const std::string& key)> ShareCells(App& app, const Caller& who);
// Forgets ended links and those of documents neither listed nor in the
// trash, and logs each; at start and hourly beside the trash's sweep.
void SweepShares(App& app);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_SHARES_H_
