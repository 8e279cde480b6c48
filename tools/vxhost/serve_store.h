// The stored documents: what uploads add, the list shows, downloads read
// and deletes remove, addressed by key only.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_STORE_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_STORE_H_

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "serve.h"

namespace serve {

// A deleted document kept in the trash: out of the list, its bytes and key
// kept until it is restored or swept.
struct TrashInfo {
  DocInfo doc;
  int64_t deleted = 0;  // seconds since 1970, UTC
  std::string by;       // the user who deleted it
};

// Owns the data directory's documents and its folder of temporaries. An
// upload is put together in the temporaries and appears in the list only
// once complete, so a server killed at any point leaves whole documents
// and temporaries that the next Open removes.
//
// Thread rule: every operation locks; any thread.
class Store {
 public:
  struct Figures {
    long documents = 0;
    int64_t bytes = 0;
    long swept = 0;  // temporaries the last Open removed
    long trashed = 0;  // documents in the trash
  };

  Store();
  ~Store();
  // Makes the folders, removes the temporaries of the servers on the
  // folder that do not run now (this one's from its last run among them;
  // never those of a live server) and reads the index and the trash's. False with *error when the folders
  // cannot be made.
  bool Open(const std::string& dataDir, const std::string& instance, std::string* error);
  // Where uploads and conversions put their temporaries (ends with '/').
  std::string TempDir() const;
  // Reads the document's state anew from the folder, after another server
  // on it changed the document: listed when its item is there, else
  // trashed when trashed (its trash file relative to the data folder, as
  // the other server named it) is, else gone. The result; *known (when
  // given): whether the document was listed or trashed here before.
  enum class State { kListed, kTrashed, kGone };
  State Reload(const std::string& key, const std::string& trashed = "", bool* known = nullptr);
  // The trash file of a trashed document relative to the data folder; ""
  // when it is not in the trash.
  std::string TrashedPath(const std::string& key) const;
  // Moves the file at path in as a new document of info->size bytes, with
  // info->owner as its "owner" extra; fills info->key. The file starts
  // with KVXClientCacheItem::kHeaderBytes bytes of room, where the item's
  // header goes: it becomes the item, its bytes not copied. False
  // when it cannot (the file is then left where it was, and the cache's
  // temporary is gone), with *error an errno: ENOSPC when the document no
  // longer fits in the data folder, EFBIG when it is larger than an item
  // can record, EIO for anything else.
  bool Add(const std::string& path, DocInfo* info, int* error);
  // Newest first; with only, just the documents whose keys it holds (a
  // search's hits are copied, not every document).
  std::vector<DocInfo> List(const std::unordered_set<std::string>* only = nullptr) const;
  // The document's description; false when there is none.
  bool Find(const std::string& key, DocInfo* info) const;
  // Calls use with the document's description under the store's lock,
  // without copying it (a download's look-up); false, use not called, when
  // there is none. use must not call the store.
  bool Visit(const std::string& key, const std::function<void(const DocInfo&)>& use) const;
  // Opens the document's bytes for sending: *fd (the caller closes it)
  // holds them from *offset on, *length of them. False when it is gone.
  bool OpenData(const std::string& key, int* fd, int64_t* offset, int64_t* length) const;
  // Deletes the document's files for good; false when there is none.
  bool Remove(const std::string& key);
  // Moves the document into the trash (one rename: a kill leaves it in
  // the list or in the trash, never both or neither), noting who and when.
  // False with *error an errno: ENOENT when there is no such document,
  // else why the move failed.
  bool Trash(const std::string& key, const std::string& user, int64_t now, int* error);
  // Moves a trashed document back under the same key; fills *info. False
  // with *error: ENOENT when the trash has no such key, EEXIST when a file
  // is in its place, else why the move failed.
  bool Restore(const std::string& key, DocInfo* info, int* error);
  // The trash items deleted at or after since (seconds since 1970),
  // latest deletion first; the list page asks only for the last moments.
  std::vector<TrashInfo> TrashList(int64_t since = INT64_MIN) const;
  // Deletes for good the trashed documents deleted at or before the time
  // before and returns them.
  std::vector<TrashInfo> SweepTrash(int64_t before);
  Figures Stats() const;
  // Counts the changes of the listed documents (new, gone, retitled): a
  // view read after a look at it is at least as new as the count it saw.
  uint64_t Generation() const;
  // Gives a listed or trashed document whose item header has no title the
  // title derived from it (a PDF's document information) in memory; the
  // item is not rewritten, the next start derives it again. False when
  // there is no such document or it has a title.
  bool ShowTitle(const std::string& key, const std::string& title);

  // Files derived from a document (its text, its preview, its owner) live
  // in <data>/extra/<key>/, one file per kind, apart from the item: a trash
  // and a restore leave them, a final delete or a sweep removes them.
  // kind is the server's own word, never a client's.
  std::string ExtraPath(const std::string& key, const std::string& kind) const;
  // Writes bytes as the document's kind through a temporary and a rename,
  // so a reader sees the old file or the new one. False with *error an
  // errno.
  bool WriteExtra(const std::string& key, const std::string& kind, const std::string& bytes, int* error);
  // The bytes of the document's kind; false when there are none.
  bool ReadExtra(const std::string& key, const std::string& kind, std::string* bytes) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> fImpl;
};

// Bytes an unprivileged writer may still use in the file system holding
// dir; -1 when it cannot be told.
int64_t FreeBytes(const std::string& dir);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_STORE_H_
