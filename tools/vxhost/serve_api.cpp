// The JSON API. It shares each step with the pages (the list's order and
// pages, the upload, the delete, the status figures); only the answers
// differ. Names, titles and notes are the clients' bytes and need not be
// UTF-8: what is not comes out with U+FFFD rather than failing the answer.
#include "serve_api.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>
#include <vector>

#include "serve_app.h"
#include "serve_auth.h"
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
json DocJson(const Store& store, const DocInfo& d) {
  std::string url = "/doc/" + d.key;
  std::error_code ec;
  bool thumb = std::filesystem::is_regular_file(store.ExtraPath(d.key, "thumb"), ec);
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
    docs.push_back(DocJson(ex.app.store, d));
  SendJson(ex, 200, {{"docs", docs}, {"page", page}, {"pages", pages}, {"total", total}});
}

void OneDoc(Exchange& ex, const std::string& key) {
  DocInfo doc;
  if (!ex.app.store.Find(key, &doc)) return SendError(ex, 404, Text(kNoDocument, key));
  SendJson(ex, 200, DocJson(ex.app.store, doc));
}

// 201 with the new documents; Location names the first.
void Uploaded(Exchange& ex, const std::vector<std::string>& keys) {
  json docs = json::array();
  for (const std::string& key : keys) {
    DocInfo doc;
    if (ex.app.store.Find(key, &doc)) docs.push_back(DocJson(ex.app.store, doc));
  }
  SendJson(ex, 201, {{"docs", docs}}, "Location: /api/docs/" + keys.front() + "\r\n");
}

void Deleted(Exchange& ex, const std::string& key) {
  SendJson(ex, 200, {{"key", key}, {"trashed", ex.app.config.trashDays != 0}});
}

void Status(Exchange& ex) {
  StatusFigures f = StatusOf(ex.app);
  SendJson(ex, 200,
           {{"version", VXKERNEL_VERSION_STRING},
            {"uptime_seconds", f.uptime},
            {"data_folder", ex.app.config.dataDir},
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
  if (p.compare(0, docs.size(), docs) == 0 && p.find('/', docs.size()) == std::string::npos) {
    std::string key = p.substr(docs.size());
    if (!ValidKey(key)) return SendError(ex, 404, Text(kNotAKey));
    if (get) return OneDoc(ex, key);
    if (m == "DELETE") return DeleteDocument(ex, key, who, &Deleted);
    return WrongMethod(ex, "GET, HEAD, DELETE");
  }
  SendError(ex, 404, Text(kNoPage, p));
}

}  // namespace serve
