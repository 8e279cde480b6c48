// What each path does. Documents are addressed by key only: a key is
// checked for its shape before the store sees it, and no part of a URL is
// ever used as a file name.
#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

#include <unistd.h>

#include "serve_api.h"
#include "serve_app.h"
#include "serve_auth.h"
#include "serve_log.h"
#include "serve_preview.h"
#include "serve_shares.h"
#include "vxkernel/web/KWebEscape.h"

namespace serve {

using namespace std::string_view_literals;

namespace {

const char kHtml[] = "text/html; charset=utf-8";

// The file name for a Content-Disposition: printable ASCII without quotes
// or backslashes in the plain form, the whole name as UTF-8 in filename*.
std::string Disposition(const std::string& name) {
  std::string plain;
  for (unsigned char c : name) plain += c >= 0x20 && c < 0x7f && c != '"' && c != '\\' ? static_cast<char>(c) : '_';
  if (plain.empty()) plain = "document";
  return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" +
         std::string(KWebEscape::Escape(name.c_str()));
}

// The number name has in a query string, or def.
int64_t QueryNumber(const std::string& query, const std::string& name, int64_t def) {
  std::string text;
  if (!QueryValue(query, name, &text)) return def;
  char* stop = nullptr;
  long long v = std::strtoll(text.c_str(), &stop, 10);
  return stop != text.c_str() && *stop == '\0' ? v : def;
}

// A key's bytes never change once stored (another upload gets another
// key), so the key with the upload time and size identifies them: a
// strong tag without reading the bytes.
std::string Etag(const DocInfo& doc) {
  char text[64];
  std::snprintf(text, sizeof text, "\"%s-%llx-%llx\"", doc.key.c_str(), static_cast<unsigned long long>(doc.uploaded),
                static_cast<unsigned long long>(doc.size));
  return text;
}

// Whether the client's copy is current: If-None-Match decides when sent,
// else If-Modified-Since (a date the server cannot read is no condition).
bool NotModified(const RequestHead& head, const std::string& etag, int64_t modified) {
  const std::string& match = head.Header("if-none-match");
  if (!match.empty()) return EtagListMatches(match, etag);
  int64_t since = 0;
  return ParseHttpDate(Trim(head.Header("if-modified-since")), &since) && since >= modified;
}

// Whether a Range header may be followed: always without If-Range, else
// only when If-Range names the current tag or the exact Last-Modified date
// (the client's part then belongs to these bytes).
bool RangeApplies(const RequestHead& head, const std::string& etag, const std::string& modified) {
  std::string ifRange = Trim(head.Header("if-range"));
  return ifRange.empty() || ifRange == etag || ifRange == modified;
}

// What the head of a document's download is made of; it changes only with
// the document, so it is made once per document and thread (downloads are
// answered on the loop threads), not per request.
struct DownloadHead {
  // The fields it was made from: a document that differs gets a new one.
  int64_t uploaded = 0;
  int64_t size = 0;
  std::string name, type;
  std::string contentType;
  std::string etag, modified, headers;
  std::string whole[2];  // the head of a whole answer (200); [keepAlive]
  // A small document's bytes, read at its first download: the next ones
  // go out with their head in one call, without opening the file.
  std::shared_ptr<const std::string> bytes;
  bool tried = false;  // bytes were asked for (a failed read is not repeated)
};

// Documents whose heads a thread keeps; more start the collection anew.
constexpr size_t kKeptHeads = 256;
// The documents a thread keeps in memory: each at most kKeptBytesMax, all
// at most kKeptBytesBudget (so a server holds at most that much per loop).
constexpr int64_t kKeptBytesMax = 64 * 1024;
constexpr int64_t kKeptBytesBudget = 4 << 20;
thread_local int64_t gKeptBytes = 0;

DownloadHead& HeadOf(const DocInfo& doc) {
  thread_local std::unordered_map<std::string, DownloadHead> kept;
  auto it = kept.find(doc.key);
  if (it != kept.end() && it->second.uploaded == doc.uploaded && it->second.size == doc.size &&
      it->second.name == doc.name && it->second.type == doc.type)
    return it->second;
  if (it == kept.end() && kept.size() >= kKeptHeads) {
    kept.clear();
    gKeptBytes = 0;
  }
  DownloadHead& h = kept[doc.key];
  if (h.bytes) gKeptBytes -= static_cast<int64_t>(h.bytes->size());
  h.bytes.reset();
  h.tried = false;
  h.uploaded = doc.uploaded;
  h.size = doc.size;
  h.name = doc.name;
  h.type = doc.type;
  h.contentType = doc.type.empty() ? "application/octet-stream" : doc.type;
  h.etag = Etag(doc);
  h.modified = HttpDate(doc.uploaded);
  h.headers = "Content-Disposition: " + Disposition(doc.name) + "\r\nAccept-Ranges: bytes\r\nETag: " + h.etag +
              "\r\nLast-Modified: " + h.modified + "\r\n";
  for (bool keepAlive : {false, true})
    h.whole[keepAlive] = ResponseHead(200, h.contentType, doc.size, keepAlive, h.headers);
  return h;
}

// Reads h's document into memory once, when it is small and the thread's
// budget has room; a file that does not hold exactly the listed size (one
// replaced by hand) is not kept, and its downloads take the file path.
void KeepBytes(const Store& store, const std::string& key, DownloadHead& h) {
  if (h.tried || h.size > kKeptBytesMax || gKeptBytes + h.size > kKeptBytesBudget) return;
  h.tried = true;
  int fd = -1;
  int64_t offset = 0, length = 0;
  if (!store.OpenData(key, &fd, &offset, &length)) return;
  auto bytes = std::make_shared<std::string>(static_cast<size_t>(h.size), '\0');
  int64_t done = length == h.size ? 0 : -1;
  while (done >= 0 && done < h.size) {
    ssize_t n = pread(fd, bytes->data() + done, static_cast<size_t>(h.size - done), offset + done);
    if (n < 0 && errno == EINTR) continue;
    done = n > 0 ? done + n : -1;
  }
  close(fd);
  if (done != h.size) return;
  gKeptBytes += h.size;
  h.bytes = std::move(bytes);
}

}  // namespace

void Download(Exchange& ex, const std::string& key, const std::function<bool(int64_t first)>& use) {
  // The thread's kept head is found under the store's lock: the
  // document's description is not copied per request.
  DownloadHead* found = nullptr;
  if (!ex.app.store.Visit(key, [&found](const DocInfo& doc) { found = &HeadOf(doc); }))
    return SendError(ex, 404, Text(kNoDocument, key));
  Response& r = ex.response;
  DownloadHead& h = *found;
  if (NotModified(ex.head, h.etag, h.uploaded)) {
    ex.status = 304;
    r.bytes = ResponseHead(304, "", h.size, ex.keepAlive, "ETag: " + h.etag + "\r\n");
    return;
  }
  // Ranges are for GET only; a HEAD describes the whole document.
  int64_t first = 0, last = h.size - 1;
  RangeAsk ask = ex.head.method == "GET" && RangeApplies(ex.head, h.etag, h.modified)
                     ? ParseByteRange(ex.head.Header("range"), h.size, &first, &last)
                     : RangeAsk::kWhole;
  if (ask == RangeAsk::kUnsatisfiable) {
    const std::string size = std::to_string(h.size);
    return SendError(ex, 416, Text(kRangePastEnd, size), "Content-Range: bytes */" + size + "\r\n");
  }
  if (use && !use(first)) return;
  if (ex.head.method != "HEAD"sv) {
    KeepBytes(ex.app.store, key, h);
    if (h.bytes != nullptr) {
      r.held = h.bytes;
      r.heldAt = static_cast<size_t>(first);
      r.heldLength = static_cast<size_t>(last + 1 - first);
    } else if (!ex.app.store.OpenData(key, &r.file, &r.fileOffset, &r.fileLength)) {
      return SendError(ex, 404, Text(kNoDocument, key));
    }
  }
  ex.status = ask == RangeAsk::kPart ? 206 : 200;
  if (ask == RangeAsk::kPart) {
    r.bytes = ResponseHead(206, h.contentType, last - first + 1, ex.keepAlive,
                           h.headers + "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) +
                               "/" + std::to_string(h.size) + "\r\n");
  } else {
    r.bytes = h.whole[ex.keepAlive];
  }
  // The file holds what was listed unless it was replaced meanwhile.
  if (r.file >= 0) {
    int64_t held = r.fileLength;
    r.fileOffset += std::min(first, held);
    r.fileLength = std::max<int64_t>(0, std::min(last + 1, held) - first);
  }
}

namespace {

// How long the list offers to undo a delete.
constexpr int64_t kUndoSeconds = 30;

}  // namespace

bool FormReady(Exchange& ex, const Caller& who) {
  if (!who.token && ex.req.body == RequestState::Body::kUnread) {
    ex.next = Next::kReadBody;
    return false;
  }
  return CsrfOk(ex, who, FormValue(ex.req.bodyBytes, kCsrfField));
}

namespace {

void BackToList(Exchange& ex) { Send(ex, 303, kHtml, "<a href=\"/\">documents</a>\n", "Location: /\r\n"); }

void MoveFailed(Exchange& ex, const std::string& what, int error) {
  LogEvent("could not " + what + ": " + std::strerror(error));
  SendError(ex, 500, Text(kMoveFailed, std::strerror(error)));
}

}  // namespace

// With trash_days 0 the document goes at once, else to the trash.
void DeleteDocument(Exchange& ex, const std::string& key, const Caller& who, DeleteAnswer deleted) {
  if (!FormReady(ex, who)) return;
  int error = 0;
  DocInfo known;
  // Stored through another server a moment ago: its news may be on the way.
  if (!ex.app.store.Find(key, &known)) ex.app.store.Reload(key, ex.app.store.TrashedPath(key));
  if (ex.app.config.trashDays == 0) {
    if (!ex.app.store.Remove(key)) return SendError(ex, 404, Text(kNoDocument, key));
    ForgetText(ex.app, key);
  } else if (!ex.app.store.Trash(key, who.user, NowSeconds(), &error)) {
    if (error == ENOENT) return SendError(ex, 404, Text(kNoDocument, key));
    return MoveFailed(ex, "move " + key + " to the trash", error);
  }
  Announce("doc " + key + (ex.app.config.trashDays == 0 ? "" : " " + ex.app.store.TrashedPath(key)));
  LogEvent("deleted " + key + " (" + who.user + ")" + (ex.app.config.trashDays == 0 ? "" : ", into the trash"));
  deleted(ex, key);
}

namespace {

void Restore(Exchange& ex, const std::string& key, const Caller& who) {
  if (!FormReady(ex, who)) return;
  DocInfo doc;
  int error = 0;
  if (!ex.app.store.Restore(key, &doc, &error)) {
    if (error == ENOENT) return SendError(ex, 404, Text(kNotInTrash, key));
    return MoveFailed(ex, "restore " + key, error);
  }
  Announce("doc " + key);
  LogEvent("restored " + key + " (" + who.user + ")");
  BackToList(ex);
}

// Every caller sees the deletes of the last kUndoSeconds with their undo.
void List(Exchange& ex, const Caller& who) {
  std::vector<TrashInfo> recent = ex.app.store.TrashList(NowSeconds() - kUndoSeconds);
  ListQuery query = ParseListQuery(ex.head.query);
  Send(ex, 200, kHtml, ListPage(ex.app, query, who, recent, ShareCells(ex.app, who)));
}

// False (and 403 answered) unless the caller is an administrator.
bool AdminOnly(Exchange& ex, const Caller& who) {
  if (!who.admin) SendError(ex, 403, Text(kAdminOnly));
  return who.admin;
}

void Log(Exchange& ex, const Caller& who) {
  if (ex.head.query.empty()) return Send(ex, 200, kHtml, LogPage(who));
  int64_t after = QueryNumber(ex.head.query, "after", -1);
  int64_t next = 0;
  std::string text = ReadLog(after, &next);
  // Nothing new: the poll waits in the loop, without a thread, for the
  // log's next entry or its deadline.
  if (text.empty() && after >= 0 && after == next && !ex.req.pollExpired && !ex.app.stopping) {
    ex.next = Next::kPark;
    ex.req.pollSeen = next;
    return;
  }
  Send(ex, 200, "text/plain; charset=utf-8", text,
       "X-Log-Next: " + std::to_string(next) + "\r\nCache-Control: no-store\r\n");
}

}  // namespace

void Send(Exchange& ex, int status, const std::string& type, std::string body,
          const std::string& extraHeaders) {
  ex.status = status;
  ex.next = Next::kRespond;
  ex.response.bytes = ResponseHead(status, type, static_cast<int64_t>(body.size()), ex.keepAlive, extraHeaders);
  ex.response.body = ex.head.method != "HEAD"sv ? std::move(body) : std::string();
}

// An error answer's body and type: JSON for the API, a page for the rest.
std::string ErrorBody(const std::string& path, int status, const std::string& message, const char** type) {
  bool api = IsApiPath(path);
  *type = api ? kJsonType : kHtml;
  return api ? ApiErrorBody(status, message) : ErrorPage(status, message);
}

void SendError(Exchange& ex, int status, const std::string& message, const std::string& extraHeaders) {
  const char* type = nullptr;
  std::string body = ErrorBody(ex.head.path, status, message, &type);
  Send(ex, status, type, body, extraHeaders);
}

std::string ErrorResponse(int status, const std::string& message, bool keepAlive, const std::string& extraHeaders,
                          const std::string& path) {
  const char* type = nullptr;
  std::string body = ErrorBody(path, status, message, &type);
  return ResponseHead(status, type, static_cast<int64_t>(body.size()), keepAlive, extraHeaders) + body;
}

namespace {

// The paths answered on the loop thread; a prefix entry ends with '/'
// and takes one more segment (a key, an asset's name), no deeper.
constexpr std::string_view kQuickPaths[] = {"/",      "/index.html", "/api/docs", "/status",   "/api/status",
                                            "/login", "/static/",    "/doc/",     "/api/docs/"};

}  // namespace

bool Quick(const RequestHead& head) {
  if (head.method != "GET"sv && head.method != "HEAD"sv) return false;
  const std::string& p = head.path;
  for (std::string_view q : kQuickPaths) {
    size_t n = q.size();
    if (q[n - 1] == '/' && n > 1) {
      if (p.size() > n && p.compare(0, n, q) == 0 && p.find('/', n) == std::string::npos) return true;
    } else if (p == q) {
      // A search reads the text index: a worker's job.
      std::string words;
      return !QueryValue(head.query, "q", &words) || words.empty();
    }
  }
  return false;
}

void Route(Exchange& ex) {
  ChooseLanguage(ex);
  const std::string& m = ex.head.method;
  const std::string& p = ex.head.path;
  if (ex.head.chunked) {
    ex.keepAlive = false;
    return SendError(ex, 411, Text(kChunked));
  }
  if (!HostAllowed(ex)) return;
  bool get = m == "GET"sv || m == "HEAD"sv;
  std::string type, body;
  if (get && p.starts_with("/static/") && StaticAsset(p, &type, &body))
    return Send(ex, 200, type, body, "Cache-Control: max-age=3600\r\n");
  if (p == "/login"sv) return HandleLogin(ex);
  if (p == "/lang"sv) return HandleLanguage(ex);
  if (p.compare(0, 3, "/s/") == 0) return HandleShareLink(ex);  // a link is its own credential
  Caller who;
  if (!Admit(ex, &who)) return;
  if (IsApiPath(p)) return RouteApi(ex, who);
  if (p == "/upload"sv) {
    if (m != "POST"sv) return SendError(ex, 405, Text(kOnly, "POST"));
    return HandleUpload(ex, who);
  }
  if (p == "/logout"sv) return m == "POST"sv ? HandleLogout(ex, who) : SendError(ex, 405, Text(kOnly, "POST"));
  if (p == "/"sv || p == "/index.html"sv) {
    if (!get) return SendError(ex, 405, Text(kOnly, "GET"));
    return List(ex, who);
  }
  if (p == "/log"sv) return get ? Log(ex, who) : SendError(ex, 405, Text(kOnly, "GET"));
  if (p == "/status"sv)
    return get ? Send(ex, 200, kHtml, StatusPage(ex.app, who)) : SendError(ex, 405, Text(kOnly, "GET"));
  if (p == "/trash"sv || p == "/admin/classes"sv) {
    if (!AdminOnly(ex, who)) return;
    if (!get) return SendError(ex, 405, Text(kOnly, "GET"));
    return Send(ex, 200, kHtml, p == "/trash"sv ? TrashPage(ex.app.store.TrashList(), who) : ClassesPage(who));
  }
  if (p.compare(0, 5, "/doc/") == 0) {
    std::string_view rest = std::string_view(p).substr(5);
    // The thread's own string, its buffer kept: a download makes none.
    thread_local std::string key;
    key.assign(rest.substr(0, rest.find('/')));
    std::string_view action = rest.substr(key.size());
    if (!ValidKey(key)) return SendError(ex, 404, Text(kNotAKey));
    if (action.empty() && get) return Download(ex, key);
    if (action == "/delete"sv && m == "POST"sv)
      return DeleteDocument(ex, key, who, [](Exchange& e, const std::string&) { BackToList(e); });
    if (action == "/restore"sv && m == "POST"sv) return Restore(ex, key, who);
    if (get && (action == "/thumb"sv || action == "/preview"sv || action.compare(0, 6, "/page/") == 0))
      return HandlePreview(ex, key, std::string(action), who);
    if (action.compare(0, 6, "/share") == 0) return HandleDocShare(ex, key, std::string(action), who);
    if (action.empty() || action == "/delete"sv || action == "/restore"sv)
      return SendError(ex, 405, Text(kOnly, action.empty() ? "GET" : "POST"));
  }
  SendError(ex, 404, Text(kNoPage, p));
}

}  // namespace serve
