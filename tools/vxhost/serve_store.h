// The stored documents: what uploads add, the list shows, downloads read
// and deletes remove, addressed by key only.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_STORE_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_STORE_H_

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "serve.h"

namespace serve {

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
  };

  Store();
  ~Store();
  // Makes the folders, removes the temporaries a killed server left and
  // reads the index. False with *error when the folders cannot be made.
  bool Open(const std::string& dataDir, std::string* error);
  // Where uploads and conversions put their temporaries (ends with '/').
  std::string TempDir() const;
  // Moves the file at path in as a new document; fills info->key. False
  // when it cannot (the file is then left where it was, and the cache's
  // temporary is gone), with *error an errno: ENOSPC when the document no
  // longer fits in the data folder, EFBIG when it is larger than an item
  // can record, EIO for anything else.
  bool Add(const std::string& path, DocInfo* info, int* error);
  // Newest first.
  std::vector<DocInfo> List() const;
  // The document's description; false when there is none.
  bool Find(const std::string& key, DocInfo* info) const;
  // Opens the document's bytes for sending: *fd (the caller closes it)
  // holds them from *offset on, *length of them. False when it is gone.
  bool OpenData(const std::string& key, int* fd, int64_t* offset, int64_t* length) const;
  bool Remove(const std::string& key);
  Figures Stats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> fImpl;
};

// Bytes an unprivileged writer may still use in the file system holding
// dir; -1 when it cannot be told.
int64_t FreeBytes(const std::string& dir);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_STORE_H_
