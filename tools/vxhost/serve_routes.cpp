// What each path does. Documents are addressed by key only: a key is
// checked for its shape before the store sees it, and no part of a URL is
// ever used as a file name.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "serve_app.h"
#include "serve_auth.h"
#include "serve_log.h"
#include "vxkernel/web/KWebEscape.h"

namespace serve {

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

// The value of name in a query string, or def.
int64_t QueryNumber(const std::string& query, const std::string& name, int64_t def) {
  size_t at = 0;
  while (at <= query.size()) {
    size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    std::string item = query.substr(at, end - at);
    if (item.compare(0, name.size() + 1, name + "=") == 0) {
      char* stop = nullptr;
      const char* text = item.c_str() + name.size() + 1;
      long long v = std::strtoll(text, &stop, 10);
      return stop != text && *stop == '\0' ? v : def;
    }
    at = end + 1;
  }
  return def;
}

void Download(Exchange& ex, const std::string& key) {
  DocInfo doc;
  if (!ex.app.store.Find(key, &doc)) return SendError(ex, 404, Text(kNoDocument, key));
  Response& r = ex.response;
  if (ex.head.method != "HEAD" && !ex.app.store.OpenData(key, &r.file, &r.fileOffset, &r.fileLength))
    return SendError(ex, 404, Text(kNoDocument, key));
  std::string type = doc.type.empty() ? "application/octet-stream" : doc.type;
  ex.status = 200;
  r.bytes = ResponseHead(200, type, doc.size, ex.keepAlive, "Content-Disposition: " + Disposition(doc.name) + "\r\n");
  // The file holds what was listed unless it was replaced meanwhile.
  if (r.file >= 0 && r.fileLength != doc.size) r.fileLength = std::min(r.fileLength, doc.size);
}

// How long the list offers to undo a delete.
constexpr int64_t kUndoSeconds = 30;

// True once a small form's body is in and carries the form token; false
// when the body is still to be read or the request was refused.
bool FormReady(Exchange& ex, const Caller& who) {
  if (!who.token && ex.req.body == RequestState::Body::kUnread) {
    ex.next = Next::kReadBody;
    return false;
  }
  return CsrfOk(ex, who, FormValue(ex.req.bodyBytes, kCsrfField));
}

void BackToList(Exchange& ex) { Send(ex, 303, kHtml, "<a href=\"/\">documents</a>\n", "Location: /\r\n"); }

void MoveFailed(Exchange& ex, const std::string& what, int error) {
  LogEvent("could not " + what + ": " + std::strerror(error));
  SendError(ex, 500, Text(kMoveFailed, std::strerror(error)));
}

// With trash_days 0 the document goes at once, else to the trash.
void Delete(Exchange& ex, const std::string& key, const Caller& who) {
  if (!FormReady(ex, who)) return;
  int error = 0;
  if (ex.app.config.trashDays == 0) {
    if (!ex.app.store.Remove(key)) return SendError(ex, 404, Text(kNoDocument, key));
  } else if (!ex.app.store.Trash(key, who.user, NowSeconds(), &error)) {
    if (error == ENOENT) return SendError(ex, 404, Text(kNoDocument, key));
    return MoveFailed(ex, "move " + key + " to the trash", error);
  }
  LogEvent("deleted " + key + " (" + who.user + ")" + (ex.app.config.trashDays == 0 ? "" : ", into the trash"));
  BackToList(ex);
}

void Restore(Exchange& ex, const std::string& key, const Caller& who) {
  if (!FormReady(ex, who)) return;
  DocInfo doc;
  int error = 0;
  if (!ex.app.store.Restore(key, &doc, &error)) {
    if (error == ENOENT) return SendError(ex, 404, Text(kNotInTrash, key));
    return MoveFailed(ex, "restore " + key, error);
  }
  LogEvent("restored " + key + " (" + who.user + ")");
  BackToList(ex);
}

// Every caller sees the deletes of the last kUndoSeconds with their undo.
void List(Exchange& ex, const Caller& who) {
  std::vector<TrashInfo> recent = ex.app.store.TrashList();
  int64_t since = NowSeconds() - kUndoSeconds;
  recent.erase(std::find_if(recent.begin(), recent.end(), [since](const TrashInfo& t) { return t.deleted < since; }),
               recent.end());
  Send(ex, 200, kHtml, ListPage(ex.app.store.List(), who, recent));
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
  std::string text = ReadLog(after, 0, &next);
  // Nothing new: the poll waits in the loop, without a thread, for the
  // log's next entry or its deadline.
  if (text.empty() && after >= 0 && after == next && !ex.req.pollExpired && !ex.app.stopping) {
    ex.next = Next::kPark;
    return;
  }
  Send(ex, 200, "text/plain; charset=utf-8", text,
       "X-Log-Next: " + std::to_string(next) + "\r\nCache-Control: no-store\r\n");
}

}  // namespace

void Send(Exchange& ex, int status, const std::string& type, const std::string& body,
          const std::string& extraHeaders) {
  ex.status = status;
  ex.next = Next::kRespond;
  ex.response.bytes = ResponseHead(status, type, static_cast<int64_t>(body.size()), ex.keepAlive, extraHeaders);
  if (ex.head.method != "HEAD") ex.response.bytes += body;
}

void SendError(Exchange& ex, int status, const std::string& message, const std::string& extraHeaders) {
  Send(ex, status, kHtml, ErrorPage(status, message), extraHeaders);
}

std::string ErrorResponse(int status, const std::string& message, bool keepAlive, const std::string& extraHeaders) {
  std::string body = ErrorPage(status, message);
  return ResponseHead(status, kHtml, static_cast<int64_t>(body.size()), keepAlive, extraHeaders) + body;
}

void Route(Exchange& ex) {
  const std::string& m = ex.head.method;
  const std::string& p = ex.head.path;
  if (ex.head.chunked) {
    ex.keepAlive = false;
    return SendError(ex, 411, Text(kChunked));
  }
  if (!HostAllowed(ex)) return;
  bool get = m == "GET" || m == "HEAD";
  std::string type, body;
  if (get && StaticAsset(p, &type, &body)) return Send(ex, 200, type, body, "Cache-Control: max-age=3600\r\n");
  if (p == "/login") return HandleLogin(ex);
  Caller who;
  if (!Admit(ex, &who)) return;
  if (p == "/upload") {
    if (m != "POST") return SendError(ex, 405, Text(kOnly, "POST"));
    return HandleUpload(ex, who);
  }
  if (p == "/logout") return m == "POST" ? HandleLogout(ex, who) : SendError(ex, 405, Text(kOnly, "POST"));
  if (p == "/" || p == "/index.html") {
    if (!get) return SendError(ex, 405, Text(kOnly, "GET"));
    return List(ex, who);
  }
  if (p == "/log") return get ? Log(ex, who) : SendError(ex, 405, Text(kOnly, "GET"));
  if (p == "/status")
    return get ? Send(ex, 200, kHtml, StatusPage(ex.app, who)) : SendError(ex, 405, Text(kOnly, "GET"));
  if (p == "/trash" || p == "/admin/classes") {
    if (!AdminOnly(ex, who)) return;
    if (!get) return SendError(ex, 405, Text(kOnly, "GET"));
    return Send(ex, 200, kHtml, p == "/trash" ? TrashPage(ex.app.store.TrashList(), who) : ClassesPage(who));
  }
  if (p.compare(0, 5, "/doc/") == 0) {
    std::string rest = p.substr(5);
    std::string key = rest.substr(0, rest.find('/'));
    std::string action = rest.size() > key.size() ? rest.substr(key.size()) : "";
    if (!ValidKey(key)) return SendError(ex, 404, Text(kNotAKey));
    if (action.empty() && get) return Download(ex, key);
    if (action == "/delete" && m == "POST") return Delete(ex, key, who);
    if (action == "/restore" && m == "POST") return Restore(ex, key, who);
    if (action.empty() || action == "/delete" || action == "/restore")
      return SendError(ex, 405, Text(kOnly, action.empty() ? "GET" : "POST"));
  }
  SendError(ex, 404, Text(kNoPage, p));
}

}  // namespace serve
