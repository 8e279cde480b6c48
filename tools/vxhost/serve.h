// vxhost serve: the document-drop web server built on the library.
//
// The pieces, one file each: serve_config (vxhost.ini), serve_http (request
// heads through http_parser, response heads), serve_loop (the epoll loop
// that owns every connection: reads, writes, deadlines, caps, parked log
// polls), serve_pool (the worker threads that run handlers), serve_auth
// (Host names, sessions and tokens, requests from other sites, login),
// serve_users and serve_sessions (accounts, sessions, login limits),
// serve_routes (what each path does), serve_list (the list's order and
// pages), serve_pages (HTML), serve_upload
// (multipart bodies through KHTTPArgs, typed), serve_store (the documents),
// serve_log (the event log and its watcher), serve_api (the JSON API),
// serve_status (the figures of the status page and the API).
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace serve {

// ===== Configuration =====

// The server's settings: built-in defaults, then vxhost.ini in the data
// directory (created with the defaults on first start), then the command
// line. Constant once the server runs.
struct Config {
  std::string dataDir = "var";
  std::string instance;  // this server's name among those sharing dataDir (--instance)
  std::string host = "127.0.0.1";
  int port = 8080;
  int threads = 8;
  int loops = 0;                              // connection loops; 0: one per CPU
  int64_t maxUploadBytes = int64_t{1} << 30;  // whole request body of an upload
  int maxHeadBytes = 16 * 1024;               // request line and headers
  int headTimeoutMs = 10000;                  // from the first byte of a head to its end
  int bodyTimeoutMs = 30000;                  // longest pause inside a body
  int idleTimeoutMs = 60000;                  // keep-alive connection with no request
  int writeTimeoutMs = 30000;                 // longest a response may wait for the client to read
  int logWaitMs = 20000;                      // longest wait of a log long poll
  int connsPerAddress = 128;                  // open connections per client address; 0: no cap
  int requestsPerSecondPerAddress = 200;      // requests per second per client address; 0: no cap
  std::vector<std::string> trustedProxies;    // peers whose X-Forwarded-For is believed
  std::vector<std::string> serverNames;       // Host names answered (without port)
  int sessionIdleMinutes = 60;                // a session unused this long ends
  int64_t minFreeBytes = int64_t{64} << 20;   // free space an upload must leave in the data folder
  int trashDays = 30;                         // a deleted document stays this long in the trash; 0: none
  std::string dcsHome;                        // conversion client home; empty: none (see LoadConfig)
  std::string iniPath;                        // <dataDir>/vxhost.ini
};

// Fills config from vxhost.ini in config->dataDir, writing missing keys with
// their defaults; the command line's listen address (when given) wins. The
// conversion client's home comes in as the default found beside the
// program (host_paths.h) and goes out as the one the file names. False
// with *error when the file can be neither read nor created.
bool LoadConfig(Config* config, bool listenGiven, std::string* error);

// "HOST:PORT" into host and port; false when it is not of that shape.
bool ParseHostPort(const std::string& text, std::string* host, int* port);

// ===== Documents =====

// One stored document as the list shows it.
struct DocInfo {
  std::string key;    // 16 lower-case hex digits; the only way to address it
  std::string name;   // the client's file name, path removed
  std::string type;   // detected MIME type
  std::string title;  // from the text conversion; may be empty
  std::string note;   // the upload's text field
  std::string owner;  // the user who uploaded it; "" for documents older than owners
  int64_t size = 0;
  int64_t uploaded = 0;  // seconds since 1970, UTC
};

// True when key has the shape of a document key.
bool ValidKey(const std::string& key);
// True when name may name a server on the data folder: 1 to 64 of
// A-Z a-z 0-9 . _ -, not beginning with '.' (it names files).
bool ValidInstance(const std::string& name);

// ===== The list's order and pages =====

// A view of the list as its URL names it:
// `/?q=words&sort=name|size|type|date&dir=asc|desc&page=N`.
struct ListQuery {
  enum Key { kName, kSize, kType, kDate };
  Key key = kDate;
  bool ascending = false;
  int page = 1;  // from 1
  std::string words;  // q: the search as typed, decoded, at most kMaxQueryBytes; empty: no search
};
constexpr int kListPageSize = 50;

// The direction a column starts in when its header is chosen: names and
// types A to Z, sizes and dates largest and newest first.
bool DefaultAscending(ListQuery::Key key);
// The view a query string asks for; what is missing, unknown or out of
// range takes the default (date, newest first, page 1).
ListQuery ParseListQuery(const std::string& query);
// "sort=KEY&dir=DIR&page=N", the query string of a view, with "&q=WORDS"
// (percent-encoded) when words is not empty.
std::string ListQueryString(ListQuery::Key key, bool ascending, int page, const std::string& words = "");
// One page of docs in the view's order, equal values in key order so that
// a view reads the same on every request. *page is the page shown (a page
// past the end shows the last), *pages the number of pages (at least 1),
// *total the number of documents. A free function over Store::List(), so
// that the store's lock is not held while sorting and any answer (the
// page, an API) orders alike.
std::vector<DocInfo> PageOf(std::vector<DocInfo> docs, const ListQuery& query, int* page, int* pages, int* total);

// The raw value of name in a query string; false when it is not there.
bool QueryValue(const std::string& query, const std::string& name, std::string* value);

// ===== Log =====

// Writes one event line to the system log (and wakes the live tails).
void LogEvent(const std::string& line);

// ===== Messages =====

// The server's messages, numbers in its error catalogue 22104 (0x5658),
// the bundle res/22104.properties beside the program.
enum Message : long {
  kNoDocument = 1, kNoPage, kNotAKey, kOnly, kUploadCap, kNeedLength, kNotMultipart, kIncomplete,
  kHeadTimeout, kBodyTooLarge, kChunked, kHeadTooLarge, kUnreadable, kNotAPath,
  kTooManyFiles, kChooseFile, kUnknownField, kNoRoom, kWriteFailed, kTooManyRequests, kWrongHost,
  kOtherSite, kBadCsrf, kNeedToken, kBadLogin, kLoginLimit, kRangePastEnd, kAdminOnly, kNotInTrash, kMoveFailed,
  kNoLanguage, kNoPreview, kPreviewBusy, kNoShare, kShareExpired, kShareUsedUp, kShareDocGone, kShareBadExpiry,
  kShareBadLimit, kShareBadPassword, kShareWrongPassword, kShareLimit, kShareNotStored, kLogoutSession, kNoHost,
  kNotJson
};
constexpr long kCatalogue = 22104;

// The message filled with arg; "message 0x5658000N" when the catalogue
// has none.
std::string Text(Message m, const std::string& arg = "");

// ===== Languages (serve_lang.cpp, serve_accept.cpp) =====

// The languages the pages and messages come in, by their codes; the first
// is the default. A new language is a code here and its bundles
// res/pages_CODE.properties and res/22104_CODE.properties.
const std::vector<std::string>& Languages();

// The language of offered (its first when none fits) that an
// Accept-Language header prefers: the highest q-value wins, "de-CH" counts
// as "de", "*" as the first offered, q=0 refuses; equal weights go to the
// earlier entry.
std::string PreferredLanguage(const std::string& header, const std::vector<std::string>& offered);

// The code of the language of the request at hand on this thread ("en"
// outside a request).
std::string RequestLanguage();

// The page text of key ("list.heading", "button.delete") from the bundle
// res/pages_LANG.properties of the request's language, falling back to
// res/pages.properties (English). A key neither has gives the key itself
// and a debug line, never an empty text. Texts may hold `H placeholders,
// filled in order like those of the template they go into.
//   Page texts for HTML: Fill(kTemplate, ...) puts them in for "{{key}}".
//   Page texts as values: PageText("column.name").
std::string PageText(const std::string& key);
// The page text of key with its `H placeholders filled in order by values,
// as plain text for a value (escaped where it is put); a value is not
// searched for placeholders again.
std::string PageText(const std::string& key, std::initializer_list<std::string> values);
// The key of the text for a count n: English and German both have one
// singular, so key + ".one" for 1 and key itself for every other number
// (0 included). Both keys are in the bundles.
std::string CountKey(const std::string& key, int64_t n);
// tmpl with each "{{key}}" replaced by PageText(key), HTML-escaped.
std::string Localize(const std::string& tmpl);

// ===== Helpers =====

std::string HtmlEscape(const std::string& text);
std::string FormatSize(int64_t bytes);
std::string FormatDate(int64_t secondsUtc);
// ISO 8601 in UTC: "2026-12-07T18:20:05Z".
std::string IsoDate(int64_t secondsUtc);
// A time (seconds since 1970, UTC) in calendar fields; weekday 0 is Sunday.
struct CivilTime {
  int year;
  unsigned month, day, weekday;
  long hour, minute, second;
};
CivilTime CivilOf(int64_t secondsUtc);  // "2026-12-07 01:50 UTC"
int64_t NowSeconds();

}  // namespace serve

// Runs `vxhost serve [--listen HOST:PORT] [--data DIR] [--dcs-home DIR]`.
int RunServe(int argc, char** argv);

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_H_
