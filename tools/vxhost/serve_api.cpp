// The JSON API. It shares each step with the pages (the list's order and
// pages, the upload, the delete, the status figures); only the answers
// differ. Names, titles and notes are the clients' bytes and need not be
// UTF-8: what is not comes out with U+FFFD rather than failing the answer.
#include "serve_api.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <vector>

#include "serve_app.h"
#include "serve_auth.h"
#include "serve_preview.h"
#include "vxkernel/version.h"

namespace serve {

namespace {

using nlohmann::json;

std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n"; }

void SendJson(Exchange& ex, int status, const json& j, const std::string& extraHeaders = "") {
  Send(ex, status, kJsonType, Dump(j), extraHeaders);
}

void WrongMethod(Exchange& ex, const std::string& allowed) {
  SendError(ex, 405, Text(kOnly, allowed), "Allow: " + allowed + "\r\n");
}

// One document as every answer shows it; "thumb" once the previews made
// one, "owner" null for documents stored before owners were kept.
json DocJson(const DocInfo& d) {
  std::string url = "/doc/" + d.key;
  int width = 0, height = 0;
  bool thumb = ThumbSize(d.key, &width, &height);
  return {{"key", d.key},
          {"name", d.name},
          {"size", d.size},
          {"type", d.type},
          {"title", d.title},
          {"note", d.note},
          {"uploaded", IsoDate(d.uploaded)},
          {"owner", d.owner.empty() ? json(nullptr) : json(d.owner)},
          {"url", url},
          {"thumb", thumb ? json(url + "/thumb") : json(nullptr)}};
}

void ListDocs(Exchange& ex) {
  int page = 1, pages = 1, total = 0;
  json docs = json::array();
  ListQuery query = ParseListQuery(ex.head.query);
  for (const DocInfo& d : PageOf(ListFor(ex.app, query), query, &page, &pages, &total))
    docs.push_back(DocJson(d));
  SendJson(ex, 200, {{"docs", docs}, {"page", page}, {"pages", pages}, {"total", total}});
}

void OneDoc(Exchange& ex, const std::string& key) {
  DocInfo doc;
  if (!ex.app.store.Find(key, &doc)) return SendError(ex, 404, Text(kNoDocument, key));
  SendJson(ex, 200, DocJson(doc));
}

// 201 with the new documents; Location names the first.
void Uploaded(Exchange& ex, const std::vector<std::string>& keys) {
  json docs = json::array();
  for (const std::string& key : keys) {
    DocInfo doc;
    if (ex.app.store.Find(key, &doc)) docs.push_back(DocJson(doc));
  }
  SendJson(ex, 201, {{"docs", docs}}, "Location: /api/docs/" + keys.front() + "\r\n");
}

void Deleted(Exchange& ex, const std::string& key) {
  SendJson(ex, 200, {{"key", key}, {"trashed", ex.app.config.trashDays != 0}});
}

// A share link as the API shows it. Its token is not kept, so it is in the
// answer that made the link only (as "url").
json ShareJson(const ShareInfo& s) {
  return {{"id", s.id},
          {"key", s.key},
          {"owner", s.owner},
          {"created", IsoDate(s.created)},
          {"expires", IsoDate(s.expires)},
          {"limit", s.limit == 0 ? json(nullptr) : json(s.limit)},
          {"uses", s.uses},
          {"password", s.password}};
}

// The wishes of a new link as the share form's text fields, in the order
// ParseShareAsk takes them: from the form, or from a JSON object whose
// values are texts or numbers (null: not given); other names are passed
// over, as in the form. False when a JSON body is not such an object.
bool ShareFields(const Exchange& ex, std::vector<std::string>* values) {
  static const char* const kFields[] = {"hours", "until", "password", "limit"};
  std::string type = ex.head.Header("content-type");
  std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::string& body = ex.req.bodyBytes;
  if (type.compare(0, 16, "application/json") != 0) {
    for (const char* name : kFields) values->push_back(FormValue(body, name));
    return true;
  }
  json j = json::parse(body, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return false;
  for (const char* name : kFields) {
    auto it = j.find(name);
    if (it == j.end() || it->is_null()) values->push_back("");
    else if (it->is_string()) values->push_back(it->get<std::string>());
    else if (it->is_number()) values->push_back(it->dump());  // 1.5 is refused as the form's "1.5" is
    else return false;
  }
  return true;
}

// 201 with the new link, its address holding the token shown only now.
void MakeShare(Exchange& ex, const std::string& key, const Caller& who) {
  if (ex.req.body == RequestState::Body::kUnread) {
    ex.next = Next::kReadBody;
    return;
  }
  if (!FormReady(ex, who)) return;
  std::vector<std::string> v;
  if (!ShareFields(ex, &v)) return SendError(ex, 400, Text(kNotJson));
  ShareAsk ask;
  ShareInfo info;
  std::string message, token;
  if (!ParseShareAsk(v[0], v[1], v[2], v[3], NowSeconds(), &ask, &message)) return SendError(ex, 400, message);
  int status = CreateShare(ex.app, key, who.user, ask, &info, &token, &message);
  if (status != 200) return SendError(ex, status, message);
  json j = ShareJson(info);
  j["url"] = ShareUrl(ex, token);
  SendJson(ex, 201, j, "Cache-Control: no-store\r\n");
}

void ListShares(Exchange& ex, const std::string& key) {
  DocInfo doc;
  if (!ex.app.store.Find(key, &doc)) return SendError(ex, 404, Text(kNoDocument, key));
  json shares = json::array();
  for (const ShareInfo& s : ex.app.shares.List(key)) shares.push_back(ShareJson(s));
  SendJson(ex, 200, {{"shares", shares}});
}

void EndShare(Exchange& ex, const std::string& key, const std::string& id, const Caller& who) {
  if (!FormReady(ex, who)) return;
  std::string message;
  int status = RevokeShare(ex.app, key, id, who.user, &message);
  if (status != 200) return SendError(ex, status, message);
  SendJson(ex, 200, {{"id", id}, {"key", key}, {"revoked", true}});
}

// /api/docs/KEY/shares and /api/docs/KEY/shares/ID; tail is what follows
// the key.
void RouteShares(Exchange& ex, const std::string& key, const std::string& tail, const Caller& who) {
  const std::string& m = ex.head.method;
  const std::string shares = "/shares";
  if (tail == shares) {
    if (m == "GET" || m == "HEAD") return ListShares(ex, key);
    if (m == "POST") return MakeShare(ex, key, who);
    return WrongMethod(ex, "GET, HEAD, POST");
  }
  std::string id = tail.compare(0, shares.size() + 1, shares + "/") == 0 ? tail.substr(shares.size() + 1) : "";
  if (id.empty() || id.find('/') != std::string::npos) return SendError(ex, 404, Text(kNoPage, ex.head.path));
  if (m == "DELETE") return EndShare(ex, key, id, who);
  WrongMethod(ex, "DELETE");
}

void Status(Exchange& ex) {
  StatusFigures f = StatusOf(ex.app);
  SendJson(ex, 200,
           {{"version", VXKERNEL_VERSION_STRING},
            {"uptime_seconds", f.uptime},
            {"data_folder", ex.app.config.dataDir},
            {"instance", ex.app.config.instance},
            {"other_servers", f.servers},
            {"free_bytes", f.freeBytes < 0 ? json(nullptr) : json(f.freeBytes)},
            {"documents", f.store.documents},
            {"stored_bytes", f.store.bytes},
            {"trash_items", f.store.trashed},
            {"requests_served", f.requests},
            {"open_connections", f.net.open},
            {"active_sessions", f.sessions},
            {"worker_threads", f.threads},
            {"busy_workers", f.busy},
            {"connections_refused", f.net.refused},
            {"requests_refused", f.net.limited},
            {"clients_dropped", f.net.writeTimeouts},
            {"temporaries_removed", f.store.swept}});
}

}  // namespace

bool IsApiPath(const std::string& path) { return path == "/api" || path.compare(0, 5, "/api/") == 0; }

std::string ApiErrorBody(int status, const std::string& message) {
  return Dump({{"error", message}, {"status", status}});
}

void RouteApi(Exchange& ex, const Caller& who) {
  const std::string& m = ex.head.method;
  const std::string& p = ex.head.path;
  bool get = m == "GET" || m == "HEAD";
  if (p == "/api/docs") {
    if (get) return ListDocs(ex);
    if (m == "POST") return ReceiveUpload(ex, who, &Uploaded);
    return WrongMethod(ex, "GET, HEAD, POST");
  }
  if (p == "/api/status") return get ? Status(ex) : WrongMethod(ex, "GET, HEAD");
  const std::string docs = "/api/docs/";
  if (p.compare(0, docs.size(), docs) == 0) {
    size_t slash = p.find('/', docs.size());
    std::string key = p.substr(docs.size(), slash == std::string::npos ? std::string::npos : slash - docs.size());
    if (!ValidKey(key)) return SendError(ex, 404, Text(kNotAKey));
    if (slash != std::string::npos) return RouteShares(ex, key, p.substr(slash), who);
    if (get) return OneDoc(ex, key);
    if (m == "DELETE") return DeleteDocument(ex, key, who, &Deleted);
    return WrongMethod(ex, "GET, HEAD, DELETE");
  }
  SendError(ex, 404, Text(kNoPage, p));
}

}  // namespace serve
