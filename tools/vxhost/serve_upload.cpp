// POST /upload: the body goes to KHTTPArgs as a stream that ends at the
// Content-Length, so uploads stream to temporary files in bounded memory;
// each complete file then gets its title from the conversion client and
// moves into the store. Anything cut short leaves no file behind.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>

#include "serve_app.h"
#include "serve_auth.h"
#include "vxkernel/docconv/KDor.h"
#include "vxkernel/web/KHTTPArgs.h"

namespace serve {

namespace {

constexpr size_t kTitleMax = 200;
// The conversion holds a whole document in memory: larger ones get no title.
constexpr int64_t kTitleInputMax = 8 << 20;

// One file part as KHTTPArgs reports it.
struct Part {
  std::string filename, type, path;
};

// What the sink collects for one request.
struct Collected {
  std::vector<Part> files;
  std::string note;
  std::string csrf;
};

struct Lookup {
  std::string type, length;
};

bool LookupVar(void* context, const char* name, KString& value) {
  Lookup* l = static_cast<Lookup*>(context);
  std::string n = name;
  if (n == "REQUEST_METHOD") value = "POST";
  else if (n == "CONTENT_TYPE") value = l->type.c_str();
  else if (n == "CONTENT_LENGTH") value = l->length.c_str();
  else return false;
  return true;
}

bool Sink(void* context, const char* name, const char* value) {
  Collected* c = static_cast<Collected*>(context);
  std::string n = name, v = value != nullptr ? value : "";
  if (n == "note") c->note = v;
  else if (n == "csrf") c->csrf = v;
  else if (n == "file_filename") c->files.push_back(Part{v, "", ""});
  else if (!c->files.empty() && n == "file_dcstype") c->files.back().type = v;
  else if (!c->files.empty() && n == "file") c->files.back().path = v;
  return true;
}

// The client's file name without the Windows folder some old browsers
// send. A '/' stays: the name is only ever shown and offered for saving,
// never used as a path here.
std::string BaseName(const std::string& name) {
  size_t cut = name.find_last_of('\\');
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// The document's title from the text conversion; "" for documents that
// are not text.
std::string Title(const std::string& path, const DocInfo& doc, const App& app) {
  if (doc.type.compare(0, 5, "text/") != 0 || doc.size > kTitleInputMax || app.config.dcsHome.empty()) return "";
  KDor dor(path.c_str(), app.config.iniPath.c_str(), 1);
  std::string outdir = app.store.TempDir();
  if (!dor.Convert(outdir.c_str(), "text") || dor.GetOutputFiles().size() < 2) return "";
  std::ifstream in(std::string(dor.GetOutputFiles()[1].FullName()));
  std::string title;
  std::getline(in, title);
  if (title.size() > kTitleMax) title.resize(kTitleMax);
  return title;
}

}  // namespace

void HandleUpload(Exchange& ex, const Caller& who) {
  App& app = ex.app;
  std::string type = ex.head.Header("content-type");
  if (ex.head.contentLength < 0) {
    ex.keepAlive = false;
    return SendError(ex, 411, Text(kNeedLength));
  }
  if (ex.head.contentLength > app.config.maxUploadBytes) {
    ex.keepAlive = false;
    LogEvent("refused an upload of " + std::to_string(ex.head.contentLength) + " bytes from " + ex.req.client);
    return SendError(ex, 413, Text(kUploadCap, FormatSize(app.config.maxUploadBytes)));
  }
  if (type.find("multipart/form-data") == std::string::npos) return SendError(ex, 400, Text(kNotMultipart));
  RequestState& req = ex.req;
  if (req.body == RequestState::Body::kUnread) {
    ex.next = Next::kSpoolBody;
    return;
  }
  if (req.body == RequestState::Body::kCutShort) {
    ex.keepAlive = false;
    LogEvent("dropped an incomplete upload from " + req.client);
    return SendError(ex, 400, Text(kIncomplete));
  }
  if (req.body == RequestState::Body::kWriteFailed) {
    LogEvent("could not store an upload from " + req.client + ": " + std::strerror(req.bodyErrno));
    return SendError(ex, 507, Text(kWriteFailed, std::strerror(req.bodyErrno)));
  }
  KHTTPArgs& args = *app.uploaders[static_cast<size_t>(ex.worker)];
  args.TmpDirPath(app.store.TempDir().c_str());
  args.Strict(true);
  Lookup lookup{type, std::to_string(ex.head.contentLength)};
  Collected got;
  std::ifstream in(req.bodyPath, std::ios::binary);
  int rc = args.CrackArgs(in, &LookupVar, &lookup, &Sink, &got, false);
  if (rc != 0) {
    args.CleanupPostFiles(false);
    LogEvent("dropped an incomplete upload from " + req.client);
    return SendError(ex, 400, Text(kIncomplete));
  }
  // A browser's form carries its session's token; nothing is stored without.
  if (!CsrfOk(ex, who, got.csrf)) {
    args.CleanupPostFiles(false);
    return;
  }
  std::string keys;
  for (const Part& part : got.files) {
    if (part.path.empty() || part.filename.empty()) continue;  // an empty file field
    DocInfo doc;
    doc.name = BaseName(part.filename);
    doc.type = part.type.empty() ? "application/octet-stream" : part.type;
    doc.note = got.note;
    std::error_code ec;
    doc.size = static_cast<int64_t>(std::filesystem::file_size(part.path, ec));
    doc.uploaded = NowSeconds();
    doc.title = Title(part.path, doc, app);
    if (!app.store.Add(part.path, &doc)) continue;
    keys += (keys.empty() ? "" : ",") + doc.key;
    LogEvent("stored " + doc.key + " (" + doc.type + ", " + std::to_string(doc.size) + " bytes) from " +
             ex.req.client);
  }
  args.CleanupPostFiles(false);  // whatever was not moved into the store
  Send(ex, 303, "text/html; charset=utf-8", "<a href=\"/\">documents</a>\n",
       "Location: /\r\nX-Doc-Keys: " + keys + "\r\n");
}

}  // namespace serve
