// The upload layer of vxhost serve: a multipart body, fed from the socket
// as it arrives, becomes a typed form whose files wait in temporaries; the
// form's files then move into the store, or the form is discarded.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_UPLOAD_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_UPLOAD_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "serve.h"

class KHTTPArgs;

namespace serve {

struct App;

// One file of an upload, in its temporary until StoreUpload moves it.
struct UploadedPart {
  std::string field;  // the form field it came in ("file")
  std::string name;   // the client's file name as sent
  std::string type;   // detected MIME type; "" when the detection cannot tell
  // The temporary, owned by the form: the room of the document's cache
  // item header (kPartRoom bytes), then the file's bytes, so that the store
  // takes the file over as the item without a copy.
  std::string path;
  // What the type detection and the title read: the bytes alone, or as
  // much of them as a detection reads (KHTTPArgs::WriteTypeProbe); owned
  // by the form; "" when there is no conversion client.
  std::string probe;
  int64_t length = 0;  // the file's bytes, without the room
};

// A parsed upload: the files (empty file fields left out) and the text
// fields by name ("note", "csrf"). Owns the parts' temporaries until
// StoreUpload or DiscardUpload.
struct UploadForm {
  std::vector<UploadedPart> parts;
  std::map<std::string, std::string> fields;
};

// What became of an upload. status 0: fine; else the HTTP status to answer
// with message (from the server's catalogue), and event, what the log says
// of it ("an incomplete upload").
struct UploadOutcome {
  int status = 0;
  std::string message;
  std::string event;
};

// The body of one upload on its way in: contentLength bytes of body in
// the multipart/form-data contentType go to a parser of the upload's own
// as they arrive, its part files written in tmpDir (which ends with '/').
// The loop feeds it and ends it on one thread; Finish then runs anywhere.
// A receiver that goes removes the part files it still holds.
class UploadReceiver {
 public:
  UploadReceiver(const std::string& contentType, int64_t contentLength, const std::string& tmpDir);
  ~UploadReceiver();
  UploadReceiver(const UploadReceiver&) = delete;
  UploadReceiver& operator=(const UploadReceiver&) = delete;

  // Where the next body bytes go (a read lands in the parser's buffer) and
  // how many it takes now; null when it wants no more (it failed): the
  // rest of the body is then read and dropped.
  char* Buffer(size_t* room);
  // n bytes were read where Buffer said.
  void Commit(size_t n);
  // Bytes that came another way (with the head); fewer are taken only
  // when the parse wants no more.
  void Feed(const char* data, size_t n);
  // The body ended: complete, or cut short.
  void End();

  // After End: each file's type is detected with the conversion client
  // configured in iniPath (none when empty). The form's fields are `file`
  // (files) and `note`, `csrf` (text). On success fills *form and returns
  // status 0. On failure every temporary is gone, *form is empty and the
  // outcome is 400 (malformed or cut short; a field of another name; no
  // file chosen), 413 (more than KHTTPArgs::kSlots files) or 507 (the
  // folder ran out of room; 500 for another write failure).
  // REQUIRES: form is empty.
  UploadOutcome Finish(const std::string& iniPath, UploadForm* form);

 private:
  struct Impl;
  std::unique_ptr<Impl> fImpl;
};

// Moves the form's files into the store, each with its title and the note,
// appending the new keys to *keys, with one log line per document stored
// (peer names the client), owner as their owner. All or nothing: on a failure the documents of
// this upload already stored are removed again, every temporary is gone,
// nothing new is listed and the outcome is 507 (no room) or 500.
UploadOutcome StoreUpload(App& app, UploadForm& form, const std::string& owner, const std::string& peer,
                          std::vector<std::string>* keys);

// Removes every temporary the form still holds and empties it.
void DiscardUpload(UploadForm& form);

// True when an upload of contentLength bytes leaves at least
// config.minFreeBytes free in the data folder (also when the free space
// cannot be told: the writes then report a full disk themselves).
bool RoomFor(const Config& config, int64_t contentLength);

// The answer for a write that failed with errno err: 507 for a full disk
// or quota (ENOSPC, EDQUOT, EFBIG), else 500, with Text(kWriteFailed).
UploadOutcome WriteFailure(int err);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_UPLOAD_H_
