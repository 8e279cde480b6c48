/// \file
/// KVXClientCacheItem: one cached client document with its 1064-byte header.
#ifndef VXKERNEL_CACHE_KVXCLIENTCACHEITEM_H_
#define VXKERNEL_CACHE_KVXCLIENTCACHEITEM_H_

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <memory>
#include <string>

#include "vxkernel/cache/KCache.h"
#include "vxkernel/export.h"
#include "vxkernel/locale/KDateTime.h"

class KFile;

/// A document in a KCache (not owned) under its key, with its descriptive
/// fields, which are the item's header (kHeaderBytes bytes; the cache's
/// HeaderSize must be that for headers to be read back). The item holds at
/// most one cache handle: a read handle when the item was found, otherwise a
/// temporary write handle; the destructor releases it. Storing writes a new
/// temporary version and commits it over the old one, which stays readable
/// until then; a failed store keeps the old document.
///
/// Copies share the handle: the last copy that lets go of it (destructor,
/// FindItem, DeleteFileA, a store) releases it, so it is released exactly
/// once. A store writes through a handle of its own: a copy that shares a
/// temporary needs another TmpNameId to store (the shared temporary keeps
/// the id busy). One thread at a time per item and per group of copies
/// sharing a handle.
class VXKERNEL_EXPORT KVXClientCacheItem {
 public:
  /// The header: 11 words (version, 5 numbers, 3 dates, public flag, expire
  /// interval), then four length-prefixed texts of at most kMaxText bytes
  /// each, zero-padded.
  static constexpr unsigned long kHeaderBytes = 1064;
  /// The version word a header must carry to be read; EncodeHeader writes it.
  static constexpr unsigned long kHeaderVersion = 3;
  /// Longest text (bytes) a header keeps of each of the four texts.
  static constexpr unsigned long kMaxText = 254;

  /// tmpNameId 0 means the process id. Looks the item up (FindItem(false)).
  /// The cache is not owned and must outlive the item and its copies; a
  /// null cache makes an item whose operations all fail.
  KVXClientCacheItem(KCache* cache, const std::string& key, unsigned long tmpNameId);
  /// Releases the handle when this is its last holder; a temporary that was
  /// never stored in full is discarded.
  ~KVXClientCacheItem();
  /// Copies the fields and shares the handle (see the class comment).
  ///@{
  KVXClientCacheItem(const KVXClientCacheItem& other);
  KVXClientCacheItem& operator=(const KVXClientCacheItem& other);
  ///@}
  /// Takes over the fields and the handle; other holds no handle afterwards.
  ///@{
  KVXClientCacheItem(KVXClientCacheItem&& other) noexcept;
  KVXClientCacheItem& operator=(KVXClientCacheItem&& other) noexcept;
  ///@}

  // ===== Fields =====
  // The setters change the item in memory only: a store or UpdateDocHeader
  // writes them. Numbers are 32-bit words in the header: larger values keep
  // their low 32 bits.

  /// The version of the header last read (kHeaderVersion); a header is
  /// always written with kHeaderVersion, whatever is set here.
  ///@{
  unsigned long HeaderVersion() const { return fHeaderVersion; }
  void HeaderVersion(unsigned long v) { fHeaderVersion = static_cast<uint32_t>(v); }
  ///@}
  /// The caller's version number of the document, kept as given.
  ///@{
  unsigned long DocVersion() const { return fDocVersion; }
  void DocVersion(unsigned long v) { fDocVersion = static_cast<uint32_t>(v); }
  ///@}
  /// The document's size in bytes. A store checks the bytes it reads
  /// against it when it is not 0; StoreDoc(path) sets it to the bytes stored.
  ///@{
  unsigned long DocSize() const { return fDocSize; }
  void DocSize(unsigned long v) { fDocSize = static_cast<uint32_t>(v); }
  ///@}
  /// Bytes of the document's data and resource forks, kept for the caller
  /// and not checked against the stored bytes.
  ///@{
  unsigned long DocDataForkSize() const { return fDocDataForkSize; }
  void DocDataForkSize(unsigned long v) { fDocDataForkSize = static_cast<uint32_t>(v); }
  unsigned long DocResourceForkSize() const { return fDocResourceForkSize; }
  void DocResourceForkSize(unsigned long v) { fDocResourceForkSize = static_cast<uint32_t>(v); }
  ///@}
  /// The caller's platform code of the document, kept as given.
  ///@{
  unsigned long DocPlatform() const { return fDocPlatform; }
  void DocPlatform(unsigned long v) { fDocPlatform = static_cast<uint32_t>(v); }
  ///@}
  /// The three dates of the header, kept there as whole seconds of local
  /// time (milliseconds are lost); an unset date (every field 0) stays
  /// unset. DateLastVerified starts as the time the item was constructed.
  ///@{
  const KDateTime& DateLastVerified() const { return fDateLastVerified; }
  void DateLastVerified(const KDateTime& d) { fDateLastVerified = d; }
  const KDateTime& DocCreatedDate() const { return fDocCreatedDate; }
  void DocCreatedDate(const KDateTime& d) { fDocCreatedDate = d; }
  const KDateTime& DocModifiedDate() const { return fDocModifiedDate; }
  void DocModifiedDate(const KDateTime& d) { fDocModifiedDate = d; }
  ///@}
  /// Any value other than 0 is written to the header as 1.
  ///@{
  unsigned char DocPublic() const { return fDocPublic; }
  void DocPublic(unsigned char v) { fDocPublic = v; }
  ///@}
  /// The caller's expiry interval, kept as given (the cache does not expire
  /// items).
  ///@{
  unsigned long ExpireInterval() const { return fExpireInterval; }
  void ExpireInterval(unsigned long v) { fExpireInterval = static_cast<uint32_t>(v); }
  ///@}
  /// The header's four texts, in the order they are written; each is cut
  /// to kMaxText bytes (or less, see EncodeHeader) when written.
  ///@{
  const std::string& ContentType() const { return fContentType; }
  void ContentType(const std::string& s) { fContentType = s; }
  const std::string& DocName() const { return fDocName; }
  void DocName(const std::string& s) { fDocName = s; }
  const std::string& DocType() const { return fDocType; }
  void DocType(const std::string& s) { fDocType = s; }
  const std::string& DocCreator() const { return fDocCreator; }
  void DocCreator(const std::string& s) { fDocCreator = s; }
  ///@}
  /// The id that names this item's temporary version (KCache::Create's
  /// tempId); two writers of one key need different ids.
  ///@{
  unsigned long TmpNameId() const { return fTmpNameId; }
  void TmpNameId(unsigned long v) { fTmpNameId = static_cast<uint32_t>(v); }
  ///@}
  /// 1 once FindItem has found the item in the cache; FindItem never sets
  /// it back to 0.
  ///@{
  unsigned char Exists() const { return fExists; }
  void Exists(unsigned char exists) { fExists = exists; }
  ///@}

  // ===== Operations =====

  /// Releases the handle held, then opens the item (filling the fields from
  /// its header) or, when it is missing and mustExist is 0, creates a
  /// temporary version. True when a handle was obtained.
  unsigned char FindItem(unsigned char mustExist);
  /// Deletes the item's files (the cache must be a KFileCache), then
  /// FindItem(false), which leaves Exists() as it was; returns whether
  /// anything was deleted.
  unsigned char DeleteFileA(const char* type);

  /// Store the document: DocSize bytes, which must be set first (the path
  /// form sets it to the bytes stored afterwards); an empty document is not
  /// stored. Returns 1 when the new version was committed; on failure 0,
  /// and the old version, if any, stays the item.
  ///@{
  unsigned char StoreDoc(std::istream& in);
  unsigned char StoreDoc(const char* path);
  unsigned char StoreDoc(const KFile& file);
  ///@}
  /// Stores the document without copying it: the file at path holds
  /// kHeaderBytes bytes of room (a hole will do), then the document, whose
  /// size DocSize must be (0: not checked; the header keeps 0); the cache
  /// must be a KFileCache of that header size on the file's file system.
  /// The header is written into the room and the file becomes the item
  /// (KFileCache::AdoptFile): on success path no longer names it (or, after
  /// a copy from another file system, still names the caller's file). On
  /// failure nothing is stored, the old document stays, and the file stays
  /// at path for the caller to remove.
  unsigned char AdoptDoc(const char* path);
  /// Stores in as StoreDoc does while copying it to out, as
  /// KCache::StoreAndForwardData does; 1 when the new version was committed.
  ///@{
  unsigned char StoreNForwardItem(std::istream& in, std::ostream& out);
  unsigned char StoreNForwardItem(std::istream& in, std::FILE* out);
  ///@}

  /// Sends length bytes (0: all) of the document from offset. The path
  /// form creates or truncates the file at path. 0 when the item holds no
  /// handle, nothing was read or a write failed.
  ///@{
  unsigned char ForwardDoc(std::FILE* out, unsigned long offset, unsigned long length) const;
  unsigned char ForwardDoc(std::ostream& out, unsigned long offset, unsigned long length) const;
  unsigned char ForwardDoc(const char* path, unsigned long offset, unsigned long length) const;
  ///@}

  /// Writes the fields as the item's header through the handle.
  unsigned char UpdateDocHeader();

  /// The header bytes of the fields (kHeaderBytes). Texts are cut to
  /// kMaxText bytes, and further, last text first, when all four do not fit.
  std::string EncodeHeader() const;
  /// Fills the fields from header bytes; false (fields unchanged, one debug
  /// line) for a wrong version word or a text running past the end.
  bool DecodeHeader(const char* header, unsigned long size);

 private:
  /// A cache handle with how FindItem got it, released by its destructor.
  struct HeldHandle;

  void* Handle() const;
  /// Holds a new handle: a temporary write handle from Create, else a read
  /// handle from Open. False (holding none) when the cache gives none.
  bool Hold(bool temporary);
  unsigned char DoDeleteFile(const char* type);
  void ReleaseHandle();
  /// Replaces the handle held with a temporary write handle.
  /// Then writes the header through it (failure: headerFailed logged);
  /// headerFailed null: the header is left to the caller.
  bool BeginStore(const char* family, const char* headerFailed);
  /// Commits (ok) or discards the temporary version, then reopens.
  bool EndStore(bool ok);

  uint32_t fHeaderVersion = kHeaderVersion;
  uint32_t fDocVersion = 0;
  uint32_t fDocSize = 0;
  uint32_t fDocDataForkSize = 0;
  uint32_t fDocResourceForkSize = 0;
  uint32_t fDocPlatform = 0;
  KDateTime fDateLastVerified;
  KDateTime fDocCreatedDate;
  KDateTime fDocModifiedDate;
  unsigned char fDocPublic = 0;
  uint32_t fExpireInterval = 0;
  std::string fContentType;
  std::string fDocName;
  std::string fDocType;
  std::string fDocCreator;
  std::string fKey;
  uint32_t fTmpNameId;
  unsigned char fExists = 0;
  std::shared_ptr<HeldHandle> fHandle;  ///< null while none; shared by copies
  KCache* fCache;
};

#endif  // VXKERNEL_CACHE_KVXCLIENTCACHEITEM_H_
