/// \file
/// KFileCache: the cache of KCache kept in files below partition directories.
#ifndef VXKERNEL_CACHE_KFILECACHE_H_
#define VXKERNEL_CACHE_KFILECACHE_H_

#include <atomic>
#include <string>
#include <vector>

#include "vxkernel/cache/KCache.h"
#include "vxkernel/cache/KFileCacheDesc.h"
#include "vxkernel/export.h"

/// Items are files partition/section/subsection/key (the key with '/', ':'
/// and '\' turned into '_'); a new version is written to the temporary
/// file partition/section/subsection/~tempId_key, which its writer keeps
/// locked from Create to Release, and renamed over the item when the handle
/// is released after a complete store, so readers see the old item or the
/// new one, never a part.
///
/// Keys that form no name (refused by every operation): the empty key, keys
/// whose place is 0, "." and "..", keys beginning with '~' (the temporaries'
/// mark) and keys longer than 254 bytes once escaped. A key ends at its
/// first NUL byte.
///
/// Safe against crashes of the writing process; SetSyncOnCommit(true) also
/// makes a commit survive a power loss. The temporary of a crashed writer
/// stays until the next writer with its key and id takes it over or
/// SweepTemporaries removes it (hosts call it at start-up).
///
/// Holds no lock: set it up, then share it; each handle is used by one
/// thread at a time. Handles are KFileCacheDesc objects.
class VXKERNEL_EXPORT KFileCache : public KCache {
 public:
  /// Each directory is made absolute and appended to the partition list.
  KFileCache(const std::vector<std::string>& directories, unsigned long numSect,
             unsigned long numSubSect, unsigned long headerSize, unsigned char debug);
  ~KFileCache() override;

  void* Create(const std::string& key, unsigned long tempId) override;
  void* Open(const std::string& key) override;
  unsigned char Close(void* handle) override;
  unsigned char Release(void* handle) override;
  unsigned char DescCanWrite(void* handle) const override;
  unsigned char PutHeader(void* handle, const char* header) override;
  unsigned char GetHeader(void* handle, char* buffer, unsigned long size) override;

  unsigned char ForwardData(void* handle, unsigned char* buffer, unsigned long size,
                            unsigned long offset, unsigned long length) override;
  unsigned char ForwardData(void* handle, std::ostream& out, unsigned long offset,
                            unsigned long length) override;
  unsigned char ForwardData(void* handle, std::FILE* out, unsigned long offset,
                            unsigned long length) override;
  unsigned char StoreData(void* handle, std::istream& in, unsigned long length) override;
  unsigned char StoreData(void* handle, const unsigned char* data, unsigned long length) override;
  unsigned long StoreData(void* handle, std::FILE* in, unsigned long length) override;
  unsigned char StoreAndForwardData(void* handle, std::istream& in, std::ostream* out,
                                    unsigned long length) override;
  unsigned char StoreAndForwardData(void* handle, std::istream& in, std::FILE* out,
                                    unsigned long length) override;

  /// Opens key's item for a reader that sends the data itself (sendfile):
  /// returns a read-only POSIX descriptor of the item file, which the caller
  /// closes, with *offset where the data begins (HeaderSize) and *length its
  /// bytes. One open and one fstat; the header is not read. -1 when the key
  /// forms no name or the item is missing; an item file shorter than its
  /// header is refused with one debug line. A version committed later
  /// leaves the descriptor on the bytes it opened.
  int OpenData(const std::string& key, int64_t* offset, int64_t* length);

  /// Removes key's item (type empty) and its companions key_... and key.xxx
  /// (with a type: only companions ending in "." + type). True when at least
  /// one file was deleted.
  unsigned char Delete(const std::string& key, const std::string& type);

  /// Commits the file at path, written by the caller with HeaderSize bytes
  /// of room at its start and the item's data after it, as the new version
  /// of the item of a Create handle, instead of the handle's temporary: the
  /// header (HeaderSize bytes; null: the handle's, as PutHeader left it) is
  /// written into the room, and the file is renamed over the item as a
  /// commit renames a temporary, synced alike under SyncOnCommit, so readers
  /// see the old item or the new one. length, when not 0, must be the size
  /// of the data. path must be a regular file, not a link, in the cache's
  /// file system; from another one (the rename fails with EXDEV) the data is
  /// copied into the handle's temporary instead, which the release commits.
  /// True when done: the file is the item (or its data was copied: path is
  /// left to the caller); the handle must still be released, which then
  /// removes its unused temporary (or commits the copy). False, with one
  /// debug line, when not: nothing was committed (but for a directory sync
  /// that failed after the rename, as with Release), the file stays at path
  /// (with the header in its room when it was written) for the caller to
  /// remove, and the handle is as before.
  unsigned char AdoptFile(void* handle, const char* path, const char* header,
                          unsigned long length);

  /// Off by default. When on, a commit syncs the temporary file, renames it
  /// and syncs the directory. Set it before the cache is shared.
  ///@{
  void SetSyncOnCommit(bool sync) { fSyncOnCommit.store(sync, std::memory_order_relaxed); }
  bool SyncOnCommit() const { return fSyncOnCommit.load(std::memory_order_relaxed); }
  ///@}
  /// Removes the temporary files of every partition last changed at least
  /// ageSeconds ago (a negative age counts as 0) and returns how many. A
  /// temporary still held by a live writer is removed too when it is old
  /// enough: its commit then fails.
  long SweepTemporaries(long ageSeconds);

 private:
  std::string MakeFileName(const std::string& key, std::string* dirOut, std::string* tempOut,
                           unsigned long tempId);
  static std::string EscapeFilename(const std::string& key);
  static std::string FixupPath(const std::string& path);
  unsigned char SaveHeader(KFileCacheDesc* desc);
  /// Saves the header before the first data of a store (the debug line
  /// names op when that fails); false on failure.
  bool HeaderBeforeData(KFileCacheDesc* desc, const char* op);
  unsigned char RefreshHeader(KFileCacheDesc* desc);
  unsigned char ReOpenForWrite(KFileCacheDesc* desc);
  static unsigned char NameEndsInType(const char* name, const char* type);

  /// Constant after construction.
  std::vector<std::string> fPartitions;
  std::atomic<bool> fSyncOnCommit{false};
};

#endif  // VXKERNEL_CACHE_KFILECACHE_H_
