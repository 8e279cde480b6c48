// What every request handler of the server shares: the running server and
// the exchange at hand.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_APP_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_APP_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "serve.h"
#include "serve_http.h"
#include "serve_index.h"
#include "serve_loop.h"
#include "serve_sessions.h"
#include "serve_shares.h"
#include "serve_store.h"
#include "serve_upload.h"
#include "serve_users.h"

class KLocale;

namespace serve {

class Follower;
class Loop;
class Pool;

// The running server. Config and the start time are constant once it
// runs; the store, loop and pool lock for themselves; the counters are
// atomic.
struct App {
  Config config;
  Store store;
  Users users;
  std::unique_ptr<Sessions> sessions;  // made once the configuration is read
  LoginLimiter limiter;  // failed logins, and wrong passwords of share links
  Shares shares;
  Loop* loop = nullptr;
  Follower* follower = nullptr;  // the other servers on the folder, while the loop runs
  Pool* pool = nullptr;
  int64_t started = 0;  // seconds since 1970
  std::atomic<long> requests{0};
  std::atomic<bool> stopping{false};
  std::shared_ptr<TextIndex> text = MakeTextIndex();  // the full-text index (serve_index.h)
  // One thread for what is derived from documents after their upload was
  // answered; null: such work runs at once. Last: it stops (finishing its
  // queue) before the store it works on goes.
  std::unique_ptr<Pool> background;
};

// Runs work on app's background thread, or at once when there is none.
void InBackground(App& app, std::function<void()> work);

// A request as the connection loop keeps it between the turns of its
// handler: the head, who sent it, and its body once the handler asked for
// it. Owned by the loop; a worker has it only during a turn.
struct RequestState {
  enum class Body { kUnread, kMemory, kParsed, kCutShort };
  RequestHead head;
  std::string peer;     // the socket's peer address, without port
  std::string client;   // the client: X-Forwarded-For's last hop from a trusted proxy, else peer
  bool secure = false;  // came over TLS through a trusted proxy
  Body body = Body::kUnread;
  std::string bodyBytes;    // kMemory
  // The upload's parse, fed by the loop as the body arrives (kParsed once
  // all of it came); its part files go with it.
  std::unique_ptr<UploadReceiver> upload;
  bool pollExpired = false; // a parked log poll ran out of time (or the server stops)
  int64_t pollSeen = 0;     // the newest log line when the poll found nothing new
};

// A response as a handler leaves it for the loop to send: the head (and
// perhaps body) bytes, then body, then optionally fileLength bytes of an
// open file from fileOffset (the loop closes it). The loop sends bytes and
// body in one call, so a page is never copied behind its head.
struct Response {
  std::string bytes;
  std::string body;
  // Instead of body: heldLength bytes from heldAt of bytes kept elsewhere
  // (a small document in memory), alive until sent.
  std::shared_ptr<const std::string> held;
  size_t heldAt = 0, heldLength = 0;
  int file = -1;
  int64_t fileOffset = 0;
  int64_t fileLength = 0;
};

// One turn of a handler on one worker: what it asks the loop to do next.
enum class Next {
  kRespond,    // send response
  kReadBody,   // read the body (at most kMaxMemoryBody bytes) into bodyBytes, then run again
  kFeedBody,  // feed the body to the request's upload parse, then run again
  kPark        // run again when the log has news or after log_wait_ms
};

constexpr int64_t kMaxMemoryBody = 64 * 1024;

struct Exchange {
  App& app;
  RequestState& req;
  const RequestHead& head;
  bool keepAlive;        // cleared by anything that leaves the connection unusable
  int status = 0;        // what was answered, for the log
  Next next = Next::kRespond;
  Response response;
};

// Answers with a complete body.
void Send(Exchange& ex, int status, const std::string& type, std::string body,
          const std::string& extraHeaders = "");
// Answers with an error page carrying message.
void SendError(Exchange& ex, int status, const std::string& message, const std::string& extraHeaders = "");
// Routes one request whose head has been read; runs again after a
// kReadBody, kFeedBody or kPark.
void Route(Exchange& ex);
// Whether a request may run on its connection loop's thread instead of a
// worker: it reads only memory and opens at most one file (a download, the
// list without a search, the status, the login form, the built-in files),
// so it never waits on a client or on long work. Decided from the head
// alone, before the gate.
bool Quick(const RequestHead& head);
struct Caller;
// POST /upload.
void HandleUpload(Exchange& ex, const Caller& who);
// An upload from its first turn to its end (the checks, the body's parse
// as it arrives, the form token, the store): every refusal and failure is
// answered here, the keys of the new documents go to stored to answer.
using UploadAnswer = void (*)(Exchange& ex, const std::vector<std::string>& keys);
void ReceiveUpload(Exchange& ex, const Caller& who, UploadAnswer stored);
// Moves the document to the trash (removes it when trash_days is 0), once
// a browser's request carries its form token; refusals and failures are
// answered here, deleted answers the success.
using DeleteAnswer = void (*)(Exchange& ex, const std::string& key);
void DeleteDocument(Exchange& ex, const std::string& key, const Caller& who, DeleteAnswer deleted);
// GET or HEAD of the document key: its bytes with Range, ETag and the
// conditions. use, when given, is asked once the answer is known to carry
// bytes from first on (200 or 206, HEAD included); false: it answered the
// request itself and nothing is sent.
void Download(Exchange& ex, const std::string& key, const std::function<bool(int64_t first)>& use = {});
// True once a small form's body is in and carries the form token; false
// when the body is still to be read or the request was refused.
bool FormReady(Exchange& ex, const Caller& who);
// The complete bytes of an error response the loop sends itself; JSON
// when path (the request's, when known) is the API's.
std::string ErrorResponse(int status, const std::string& message, bool keepAlive,
                          const std::string& extraHeaders = "", const std::string& path = "");

// The server's figures, as the status page and the API show them.
struct StatusFigures {
  int64_t uptime = 0;      // seconds
  int64_t freeBytes = -1;  // in the data folder; -1 when it cannot be told
  Store::Figures store;
  Loop::Figures net;
  long requests = 0;
  long sessions = 0;
  int threads = 0, busy = 0;
  std::vector<std::string> servers;  // the other servers on the data folder
};
StatusFigures StatusOf(App& app);

// ===== Languages (serve_lang.cpp) =====

// Chooses the request's language for this thread (the page texts and
// Text): the cookie the switch set, else Accept-Language, else English.
// Route calls it first on every turn of a handler.
void ChooseLanguage(Exchange& ex);
// For the rest of a scope on this thread, the language of head (as
// ChooseLanguage), for answers the loop makes itself from a request head;
// the thread's language and locale before come back at its end.
class LanguageScope {
 public:
  explicit LanguageScope(const RequestHead& head);
  ~LanguageScope();
  LanguageScope(const LanguageScope&) = delete;
  LanguageScope& operator=(const LanguageScope&) = delete;

 private:
  std::string fLanguage, fBack;
  std::unique_ptr<KLocale> fLocale;
};
// POST /lang (the language switch): sets the cookie, back to the page.
void HandleLanguage(Exchange& ex);
// The switch between the languages that every page carries, its way back
// left open (RequestBack fills it).
class Sheet;
void LanguageSwitch(Sheet& page);
// The page the language switch returns to from the request at hand.
const std::string& RequestBack();

// ===== Pages (serve_pages.cpp) =====

// tmpl with its "{{key}}" page texts in the request's language (Localize),
// then its placeholders filled in order from values (`H escaped for HTML,
// `U for URLs, `L as they are).
std::string Fill(const char* tmpl, std::initializer_list<std::string> values);
// A page; with the navigation and the log-out button for a logged-in caller.
std::string Page(const std::string& title, const std::string& body, const Caller* who = nullptr);

struct Caller;
std::string ListPage(const std::vector<DocInfo>& docs, const Caller& who);
// The view query asks for of all the documents: its page, sort links on
// the column heads, links to the pages before and after; undo: the
// documents whose deletion the page offers to undo.
// shares: the links of a document as ShareCells shows them.
std::string ListPage(const std::vector<DocInfo>& all, const ListQuery& query, const Caller& who,
                     const std::vector<TrashInfo>& undo = {},
                     const std::function<std::string(const std::string& key)>& shares = {});
// The same page for every caller, with the caller's parts left open (see
// Sheet); *thumbless (when given) gets the rows' documents that have no
// thumbnail yet.
Sheet ListSheet(const std::vector<DocInfo>& all, const ListQuery& query, std::vector<std::string>* thumbless);
// The undo offers of the list page for who.
std::string UndoOffers(const std::vector<TrashInfo>& undo, const Caller& who);
// ListPage of the listed documents (those of the search when query has
// words). A view without words is kept between requests, by language and
// view, until the store changes or a row's thumbnail appears; only the
// caller's parts are put in per request (serve_list.cpp).
std::string ListPage(App& app, const ListQuery& query, const Caller& who, const std::vector<TrashInfo>& undo,
                     const std::function<std::string(const std::string& key)>& shares);
std::string ErrorPage(int status, const std::string& message);
std::string LogPage(const Caller& who);
std::string StatusPage(App& app, const Caller& who);
// The admin pages: the trash with a restore button each, the registered
// classes.
std::string TrashPage(const std::vector<TrashInfo>& trash, const Caller& who);
std::string ClassesPage(const Caller& who);
// The login form, with a message above it when not empty.
std::string LoginPage(const std::string& message);
// The built-in style sheet and script (/static/...): true with their
// type and bytes.
bool StaticAsset(const std::string& path, std::string* type, std::string* body);
// The list page's upload panel (drop zone, progress per file), hidden
// until its script /static/upload.js shows it; that script's text.
std::string UploadPanel();
const char* UploadScript();

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_APP_H_
