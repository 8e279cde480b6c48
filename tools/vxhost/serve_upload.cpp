// POST /upload: the loop feeds the body to a KHTTPArgs of the upload's own
// as it arrives, so parts go straight to their temporary files in bounded
// memory; the sink turns KHTTPArgs's entries into a typed form, each
// complete file then gets its title from the conversion client and moves
// into the store. Anything cut short or refused leaves no file behind.
#include "serve_upload.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "serve_app.h"
#include "serve_log.h"
#include "serve_auth.h"
#include "serve_preview.h"
#include "vxkernel/cache/KVXClientCacheItem.h"
#include "vxkernel/docconv/KDor.h"
#include "vxkernel/web/KHTTPArgs.h"

namespace serve {

namespace {

constexpr size_t kTitleMax = 200;
// The conversion holds a whole document in memory: larger ones get no title.
constexpr int64_t kTitleInputMax = 8 << 20;
// A part's probe holds the whole of a document that gets a title.
static_assert(kTitleInputMax <= 2 * KHTTPArgs::kTypeProbeBytes);
// Each part file starts with the room of its cache item's header.
constexpr uint32_t kPartRoom = KVXClientCacheItem::kHeaderBytes;


// The errors of a write that ran out of room: disk, quota, file size limit.
bool DiskFull(int err) { return err == ENOSPC || err == EDQUOT || err == EFBIG; }

// What KHTTPArgs hands its sink, in order: a text part as one entry under
// its name; a file part as F_filename and F_filelength (only when it got a
// temporary), F_content_type, then F with the temporary's path. A part
// without a temporary means the slots ran out or the file could not be
// made. Entries that only look like a file part (a text field called
// "x_filename") turn out not to continue one and count as unknown fields.
class FormSink {
 public:
  explicit FormSink(UploadForm* form) : fForm(form) {}

  static bool Add(void* context, const char* name, const char* value) {
    static_cast<FormSink*>(context)->Entry(name, value != nullptr ? value : "");
    return true;
  }

  // Ends the entries: a file part still open was text fields after all.
  void Finish() { Abandon(); }

  int files = 0;              // file parts, with or without a temporary
  bool tooMany = false;       // a file part beyond the slots
  bool unopened = false;      // a file part whose temporary could not be made
  int writeError = 0;         // a full-disk errno seen during a file part
  std::string unknown;        // the first field of another name

 private:
  static bool EndsWith(const std::string& s, const char* tail, std::string* head) {
    size_t n = std::strlen(tail);
    if (s.size() <= n || s.compare(s.size() - n, n, tail) != 0) return false;
    *head = s.substr(0, s.size() - n);
    return true;
  }

  void Entry(const std::string& n, const std::string& v) {
    if (fOpen) {
      if (fTyped && n == fPart.field) return Close(v);
      if (!fTyped && fNamed && !fSized && n == fPart.field + "_filelength") {
        fSized = true;
        fPart.length = std::strtoll(v.c_str(), nullptr, 10);
        return;
      }
      if (!fTyped && n == fPart.field + "_content_type") {
        fTyped = true;
        return;
      }
      Abandon();
    }
    std::string field;
    if (EndsWith(n, "_filename", &field)) return Open(field, v, true, n);
    if (EndsWith(n, "_content_type", &field)) return Open(field, "", false, n);
    if (n == "note" || n == "csrf") fForm->fields[n] = v;
    else if (n != "file") Unknown(n);  // "file" as text: an empty file field
  }

  void Open(const std::string& field, const std::string& name, bool named, const std::string& entry) {
    // errno still holds what the part's last write or close left.
    if (writeError == 0 && DiskFull(errno)) writeError = errno;
    fOpen = true;
    fNamed = named;
    fSized = false;
    fTyped = !named;
    fFirstEntry = entry;
    fPart = UploadedPart();
    fPart.field = field;
    fPart.name = name;
  }

  void Close(const std::string& path) {
    fOpen = false;
    if (++files > KHTTPArgs::kSlots) tooMany = true;
    if (!fNamed) {
      unopened = unopened || files <= KHTTPArgs::kSlots;
      return;
    }
    fPart.path = path;
    if (fPart.field != "file") Unknown(fPart.field);
    fForm->parts.push_back(fPart);
  }

  void Abandon() {
    if (fOpen) Unknown(fFirstEntry);
    fOpen = false;
  }

  void Unknown(const std::string& name) {
    if (unknown.empty()) unknown = name;
  }

  UploadForm* fForm;
  UploadedPart fPart;
  std::string fFirstEntry;
  bool fOpen = false, fNamed = false, fSized = false, fTyped = false;
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

// The MIME type the conversion client detects; "" when it cannot tell.
std::string DetectType(const std::string& path, const std::string& iniPath) {
  if (iniPath.empty()) return "";
  KDor dor(path.c_str(), iniPath.c_str(), 0);
  char buffer[254] = {};
  if (dor.GetMimeType(buffer, sizeof buffer) != 0) return "";
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

// A name of the form's own for a part's temporary, so that the parser's
// slots are free again at once.
std::string PartPath(const std::string& tmpDir) {
  static std::atomic<unsigned long> gNext{0};
  return tmpDir + "upload-part-" + std::to_string(++gNext);
}

// The client's file name without the Windows folder some old browsers
// send. A '/' stays: the name is only ever shown and offered for saving,
// never used as a path here.
std::string BaseName(const std::string& name) {
  size_t cut = name.find_last_of('\\');
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// The document's title from the text conversion of its bytes at path;
// "" for documents that are not text.
std::string Title(const std::string& path, const DocInfo& doc, const App& app) {
  if (doc.type.compare(0, 5, "text/") != 0 || doc.size > kTitleInputMax || app.config.dcsHome.empty() ||
      path.empty())
    return "";
  KDor dor(path.c_str(), app.config.iniPath.c_str(), 1);
  std::string outdir = app.store.TempDir();
  if (!dor.Convert(outdir.c_str(), "text") || dor.GetOutputFiles().size() < 2) return "";
  std::ifstream in(std::string(dor.GetOutputFiles()[1].FullName()));
  std::string title;
  std::getline(in, title);
  if (title.size() > kTitleMax) title.resize(kTitleMax);
  return title;
}

// Why a parse that failed did: too many files, a write that failed (the
// sink's errno, errno now, or a folder left with less room than one write
// of the parser's: its part files still hold their space), or the body.
UploadOutcome ParseFailure(const FormSink& sink, const std::string& tmpDir) {
  if (sink.tooMany)
    return {413, Text(kTooManyFiles), "an upload of more than " + std::to_string(KHTTPArgs::kSlots) + " files"};
  int err = sink.writeError != 0 ? sink.writeError : DiskFull(errno) ? errno : 0;
  int64_t free = FreeBytes(tmpDir);
  if (err == 0 && free >= 0 && free < KHTTPArgs::kBufferSize) err = ENOSPC;
  if (err == 0 && sink.unopened) err = EIO;
  if (err != 0) return WriteFailure(err);
  return {400, Text(kIncomplete), "an incomplete upload"};
}

}  // namespace

UploadOutcome WriteFailure(int err) {
  std::string reason = std::strerror(err);
  return {DiskFull(err) ? 507 : 500, Text(kWriteFailed, reason), "an upload that could not be written (" + reason + ")"};
}

bool RoomFor(const Config& config, int64_t contentLength) {
  int64_t free = FreeBytes(config.dataDir);
  return free < 0 || free - config.minFreeBytes >= contentLength;
}

struct UploadReceiver::Impl {
  Impl(const std::string& contentType, int64_t contentLength, const std::string& dir)
      : args(++gNextInstance), lookup{contentType, std::to_string(contentLength)}, sink(&form), tmpDir(dir) {}

  // Each receiver's parser names its part files with a number of its own.
  static inline std::atomic<unsigned long> gNextInstance{0};

  KHTTPArgs args;
  Lookup lookup;
  UploadForm form;
  FormSink sink;
  std::string tmpDir;
  // The parse's errno, kept across the loop's own calls between feeds, so
  // that the sink reads what the parse's last write left.
  int parseErrno = 0;
  int result = -1;  // EndArgs's; -1 before End
};

UploadReceiver::UploadReceiver(const std::string& contentType, int64_t contentLength, const std::string& tmpDir)
    : fImpl(std::make_unique<Impl>(contentType, contentLength, tmpDir)) {
  fImpl->args.TmpDirPath(tmpDir.c_str());
  fImpl->args.Strict(true);
  fImpl->args.BeginArgs(&LookupVar, &fImpl->lookup, &FormSink::Add, &fImpl->sink, false, kPartRoom);
}

UploadReceiver::~UploadReceiver() {
  End();
  DiscardUpload(fImpl->form);
  fImpl->args.CleanupPostFiles(false);
}

char* UploadReceiver::Buffer(size_t* room) {
  errno = fImpl->parseErrno;
  char* at = fImpl->args.FeedBuffer(room);
  fImpl->parseErrno = errno;
  return at;
}

void UploadReceiver::Commit(size_t n) { fImpl->args.FeedCommit(n); }

void UploadReceiver::Feed(const char* data, size_t n) {
  errno = fImpl->parseErrno;
  fImpl->args.FeedArgs(data, n);
  fImpl->parseErrno = errno;
}

void UploadReceiver::End() {
  if (fImpl->result >= 0) return;
  errno = fImpl->parseErrno;
  fImpl->result = fImpl->args.EndArgs();
  fImpl->parseErrno = errno;
  fImpl->sink.Finish();
}

UploadOutcome UploadReceiver::Finish(const std::string& iniPath, UploadForm* form) {
  End();
  Impl& m = *fImpl;
  *form = std::move(m.form);
  m.form = UploadForm();
  UploadOutcome out;
  if (m.result != 0) {
    errno = m.parseErrno;
    out = ParseFailure(m.sink, m.tmpDir);
  } else if (!m.sink.unknown.empty()) {
    out = {400, Text(kUnknownField, m.sink.unknown), "an upload with the field " + m.sink.unknown};
  }
  // An empty file field (no file chosen) sends a part without a file
  // name; its temporary goes with the parser's.
  std::erase_if(form->parts, [](const UploadedPart& p) { return p.name.empty(); });
  if (out.status == 0 && form->parts.empty()) out = {400, Text(kChooseFile), "an upload without a file"};
  // Each part moves to a temporary of the form's own, out of the parser's
  // slots, which are removed with the receiver.
  for (UploadedPart& part : form->parts) {
    if (out.status != 0) break;
    std::string path = PartPath(m.tmpDir);
    if (std::rename(part.path.c_str(), path.c_str()) != 0) out = WriteFailure(errno);
    else part.path = path;
  }
  m.args.CleanupPostFiles(false);
  if (out.status != 0) {
    DiscardUpload(*form);
    return out;
  }
  if (iniPath.empty()) return out;
  // The probe is written like the parts: a folder without room for it
  // fails the upload as a part would.
  for (UploadedPart& part : form->parts) {
    part.probe = part.path + ".probe";
    if (!KHTTPArgs::WriteTypeProbe(part.path.c_str(), kPartRoom, part.probe.c_str())) {
      part.probe.clear();
      out = WriteFailure(errno);
      DiscardUpload(*form);
      return out;
    }
    part.type = DetectType(part.probe, iniPath);
  }
  return out;
}

UploadOutcome StoreUpload(App& app, UploadForm& form, const std::string& owner, const std::string& peer,
                          std::vector<std::string>* keys) {
  auto note = form.fields.find("note");
  std::vector<std::string> stored;
  UploadOutcome out;
  for (const UploadedPart& part : form.parts) {
    DocInfo doc;
    doc.name = BaseName(part.name);
    doc.type = part.type.empty() ? "application/octet-stream" : part.type;
    doc.note = note != form.fields.end() ? note->second : "";
    doc.size = part.length;
    doc.uploaded = NowSeconds();
    doc.owner = owner;
    doc.title = Title(part.probe, doc, app);
    int err = 0;
    if (!app.store.Add(part.path, &doc, &err)) {
      out = WriteFailure(err);
      break;
    }
    if (!part.probe.empty()) std::remove(part.probe.c_str());
    stored.push_back(doc.key);
    Announce("doc " + doc.key);
    LogEvent("stored " + doc.key + " (" + doc.type + ", " + std::to_string(doc.size) + " bytes) from " + peer);
  }
  if (out.status == 0) {
    keys->insert(keys->end(), stored.begin(), stored.end());
    for (const std::string& key : stored) PreviewLater(app, key);
    for (const std::string& key : stored) IndexLater(app, key);
    form = UploadForm();  // the store has every file now
    return out;
  }
  for (const std::string& key : stored) {
    app.store.Remove(key);
    Announce("doc " + key);
  }
  if (!stored.empty()) LogEvent("removed the " + std::to_string(stored.size()) + " documents already stored of it");
  DiscardUpload(form);
  return out;
}

void DiscardUpload(UploadForm& form) {
  // The parts already stored were moved; removing their names is harmless.
  for (const UploadedPart& part : form.parts) {
    std::remove(part.path.c_str());
    if (!part.probe.empty()) std::remove(part.probe.c_str());
  }
  form = UploadForm();
}

void ReceiveUpload(Exchange& ex, const Caller& who, UploadAnswer stored) {
  App& app = ex.app;
  RequestState& req = ex.req;
  std::string type = ex.head.Header("content-type");
  if (ex.head.contentLength < 0) {
    ex.keepAlive = false;
    return SendError(ex, 411, Text(kNeedLength));
  }
  if (ex.head.contentLength > app.config.maxUploadBytes) {
    LogEvent("refused an upload of " + std::to_string(ex.head.contentLength) + " bytes from " + req.client);
    return SendError(ex, 413, Text(kUploadCap, FormatSize(app.config.maxUploadBytes)));
  }
  if (type.find("multipart/form-data") == std::string::npos) return SendError(ex, 400, Text(kNotMultipart));
  if (req.body == RequestState::Body::kUnread) {
    if (!RoomFor(app.config, ex.head.contentLength)) {
      LogEvent("refused an upload of " + std::to_string(ex.head.contentLength) + " bytes from " + req.client +
               ": no room in the data folder");
      return SendError(ex, 507, Text(kNoRoom, FormatSize(ex.head.contentLength)));
    }
    req.upload = std::make_unique<UploadReceiver>(type, ex.head.contentLength, app.store.TempDir());
    ex.next = Next::kFeedBody;  // the loop feeds it to the parse; this runs again then
    return;
  }
  if (req.body == RequestState::Body::kCutShort) {
    LogEvent("dropped an incomplete upload from " + req.client);
    return SendError(ex, 400, Text(kIncomplete));
  }
  UploadForm form;
  std::vector<std::string> keys;
  UploadOutcome out = req.upload->Finish(app.config.dcsHome.empty() ? "" : app.config.iniPath, &form);
  req.upload.reset();
  // A browser's form carries its session's token: nothing is stored without.
  if (out.status == 0 && !CsrfOk(ex, who, form.fields[kCsrfField])) return DiscardUpload(form);
  if (out.status == 0) out = StoreUpload(app, form, who.user, req.client + " (" + who.user + ")", &keys);
  if (out.status != 0) {
    LogEvent("dropped " + out.event + " from " + req.client);
    return SendError(ex, out.status, out.message);
  }
  stored(ex, keys);
}

void HandleUpload(Exchange& ex, const Caller& who) {
  ReceiveUpload(ex, who, [](Exchange& e, const std::vector<std::string>& keys) {
    std::string list;
    for (const std::string& key : keys) list += (list.empty() ? "" : ",") + key;
    Send(e, 303, "text/html; charset=utf-8", "<a href=\"/\">documents</a>\n",
         "Location: /\r\nX-Doc-Keys: " + list + "\r\n");
  });
}

}  // namespace serve
