// What each path does. Documents are addressed by key only: a key is
// checked for its shape before the store sees it, and no part of a URL is
// ever used as a file name.
#include <ostream>
#include <streambuf>

#include "serve_app.h"
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

// An output stream buffer that sends to the connection in 64 KiB writes;
// the first write carries the response head too.
class ConnOut : public std::streambuf {
 public:
  ConnOut(Conn* conn, std::string head) : fConn(conn), fOut(std::move(head)) {}
  bool Finish() { return Flush() && fOk; }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    fOut.append(s, static_cast<size_t>(n));
    return fOut.size() >= kChunk && !Flush() ? 0 : n;
  }
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }

 private:
  static constexpr size_t kChunk = 64 * 1024;
  bool Flush() {
    fOk = fOk && fConn->Write(fOut.data(), fOut.size());
    fOut.clear();
    return fOk;
  }
  Conn* fConn;
  std::string fOut;
  bool fOk = true;
};

void Download(Exchange& ex, const std::string& key) {
  DocInfo doc;
  if (!ex.app.store.Find(key, &doc)) return SendError(ex, 404, Text(kNoDocument, key));
  std::string type = doc.type.empty() ? "application/octet-stream" : doc.type;
  std::string head = ResponseHead(200, type, doc.size, ex.keepAlive,
                                  "Content-Disposition: " + Disposition(doc.name) + "\r\n");
  ex.status = 200;
  if (ex.head.method == "HEAD") {
    if (!ex.conn->Write(head.data(), head.size())) ex.keepAlive = false;
    return;
  }
  ConnOut buf(ex.conn, std::move(head));
  std::ostream out(&buf);
  bool sent = ex.app.store.Forward(key, out);
  // Fewer bytes than promised (deleted meanwhile, a read error): close.
  if (!buf.Finish() || !sent) ex.keepAlive = false;
}

void Delete(Exchange& ex, const std::string& key) {
  if (!ex.app.store.Remove(key)) return SendError(ex, 404, Text(kNoDocument, key));
  LogEvent("deleted " + key);
  Send(ex, 303, kHtml, "<a href=\"/\">documents</a>\n", "Location: /\r\n");
}

void Log(Exchange& ex) {
  if (ex.head.query.empty()) return Send(ex, 200, kHtml, LogPage());
  int64_t after = QueryNumber(ex.head.query, "after", -1);
  int64_t next = 0;
  std::string text = ReadLog(after, ex.app.stopping ? 0 : ex.app.config.logWaitMs, &next);
  Send(ex, 200, "text/plain; charset=utf-8", text,
       "X-Log-Next: " + std::to_string(next) + "\r\nCache-Control: no-store\r\n");
}

}  // namespace

void Send(Exchange& ex, int status, const std::string& type, const std::string& body,
          const std::string& extraHeaders) {
  ex.status = status;
  std::string out = ResponseHead(status, type, static_cast<int64_t>(body.size()), ex.keepAlive, extraHeaders);
  if (ex.head.method != "HEAD") out += body;
  if (!ex.conn->Write(out.data(), out.size())) ex.keepAlive = false;
}

void SendError(Exchange& ex, int status, const std::string& message) {
  Send(ex, status, kHtml, ErrorPage(status, message));
}

void Route(Exchange& ex) {
  const std::string& m = ex.head.method;
  const std::string& p = ex.head.path;
  if (ex.head.chunked) {
    ex.keepAlive = false;
    return SendError(ex, 411, Text(kChunked));
  }
  if (p == "/upload") {
    if (m != "POST") return SendError(ex, 405, Text(kOnly, "POST"));
    return HandleUpload(ex);
  }
  if (!DrainBody(ex)) return SendError(ex, 413, Text(kBodyTooLarge));
  bool get = m == "GET" || m == "HEAD";
  if (p == "/" || p == "/index.html") {
    if (!get) return SendError(ex, 405, Text(kOnly, "GET"));
    return Send(ex, 200, kHtml, ListPage(ex.app.store.List()));
  }
  if (p == "/log") return get ? Log(ex) : SendError(ex, 405, Text(kOnly, "GET"));
  if (p == "/status") return get ? Send(ex, 200, kHtml, StatusPage(ex.app)) : SendError(ex, 405, Text(kOnly, "GET"));
  if (p.compare(0, 5, "/doc/") == 0) {
    std::string rest = p.substr(5);
    std::string key = rest.substr(0, rest.find('/'));
    std::string action = rest.size() > key.size() ? rest.substr(key.size()) : "";
    if (!ValidKey(key)) return SendError(ex, 404, Text(kNotAKey));
    if (action.empty() && get) return Download(ex, key);
    if (action == "/delete" && m == "POST") return Delete(ex, key);
    if (action.empty() || action == "/delete") return SendError(ex, 405, Text(kOnly, action.empty() ? "GET" : "POST"));
  }
  SendError(ex, 404, Text(kNoPage, p));
}

}  // namespace serve
