/// \file
/// KCache: the abstract interface of a cache of items named by text keys.
#ifndef VXKERNEL_CACHE_KCACHE_H_
#define VXKERNEL_CACHE_KCACHE_H_

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <string>

#include "vxkernel/export.h"

/// A cache of items, each a fixed-size header chosen by the user followed by
/// the item's data, spread over sections and subsections derived from the
/// key (GetSectsFromKey). Handles are opaque (void*): one from Create writes
/// a new version that Release commits; one from Open reads. Every handle is
/// released exactly once. Results are unsigned char (1 success, 0 failure)
/// unless stated; each failure writes one debug line.
///
/// The dimensions are set up before the cache is shared; after that one
/// cache may serve many threads, each handle used by one thread at a time.
class VXKERNEL_EXPORT KCache {
 public:
  /// Keys map to sections 1..numSect and subsections 1..numSubSect (0: no
  /// such level); every item starts with headerSize header bytes. debug not
  /// 0 adds a debug line for each step, not only for failures.
  KCache(unsigned long numSect, unsigned long numSubSect, unsigned long headerSize,
         unsigned char debug);
  virtual ~KCache();
  KCache(const KCache&) = delete;
  KCache& operator=(const KCache&) = delete;

  // ===== Dimensions and flags =====
  // Numbers are unsigned 32-bit: larger values keep their low 32 bits.

  /// The largest header a handle holds (1 MiB). Every handle keeps its
  /// header in memory, so for a larger HeaderSize a file cache makes no
  /// handles (Create and Open refuse with a debug line) and a client item
  /// builds no header.
  static constexpr unsigned long kMaxHeaderSize = 1UL << 20;

  /// Sections the keys spread over (0: items sit directly in a partition).
  ///@{
  unsigned long NumSect() const { return fNumSect; }
  void NumSect(unsigned long n) { fNumSect = static_cast<uint32_t>(n); }
  ///@}
  /// Subsections within each section (0: none).
  ///@{
  unsigned long NumSubSect() const { return fNumSubSect; }
  void NumSubSect(unsigned long n) { fNumSubSect = static_cast<uint32_t>(n); }
  ///@}
  /// Bytes of the header before each item's data (0: no header). Handles
  /// made under another size are refused by the header operations.
  ///@{
  unsigned long HeaderSize() const { return fHeaderSize; }
  void HeaderSize(unsigned long n) { fHeaderSize = static_cast<uint32_t>(n); }
  ///@}
  /// Not 0: each step writes a debug line, not only each failure.
  ///@{
  unsigned char Debug() const { return fDebug; }
  void Debug(unsigned char debug) { fDebug = debug; }
  ///@}
  /// Not 0: every write (header, data, commit) is refused; 0 by default.
  ///@{
  unsigned char ReadOnly() const { return fReadOnly; }
  void ReadOnly(unsigned char readOnly) { fReadOnly = readOnly; }
  ///@}

  // ===== Items =====

  /// A write handle on a new temporary version of key's item; null on failure.
  virtual void* Create(const std::string& key, unsigned long tempId) = 0;
  /// A read handle on key's item; null when there is none.
  virtual void* Open(const std::string& key) = 0;
  /// Closes the handle's file but keeps the handle (a Create handle keeps
  /// its temporary, and its lock, until Release); a later write reopens it.
  /// 0 for a null or already closed handle.
  virtual unsigned char Close(void* handle) = 0;
  /// Commits (a completely stored Create handle) or discards, then frees.
  virtual unsigned char Release(void* handle) = 0;
  /// Here: the cache is not read-only.
  virtual unsigned char DescCanWrite(void* handle) const;
  /// Copies HeaderSize bytes from header into the handle and writes them
  /// at the start of its file. 0 when the cache is read-only or the header
  /// cannot be written; with HeaderSize 0, 1 and nothing is written.
  virtual unsigned char PutHeader(void* handle, const char* header) = 0;
  /// Copies the handle's HeaderSize header bytes into buffer; 0 when size
  /// is smaller than that (buffer unchanged).
  virtual unsigned char GetHeader(void* handle, char* buffer, unsigned long size) = 0;

  // ===== Data =====
  // Offsets count from the end of the header; length 0 means to the end.

  /// Copies length bytes of the open handle's data from offset into a
  /// buffer of size bytes; data beyond size is dropped (one debug line).
  /// 0 when nothing could be read (offset past the end, closed handle).
  virtual unsigned char ForwardData(void* handle, unsigned char* buffer, unsigned long size,
                                    unsigned long offset, unsigned long length) = 0;
  /// Writes length bytes of the open handle's data from offset to out.
  /// 0 when nothing was read or a write to out failed.
  ///@{
  virtual unsigned char ForwardData(void* handle, std::ostream& out, unsigned long offset,
                                    unsigned long length) = 0;
  virtual unsigned char ForwardData(void* handle, std::FILE* out, unsigned long offset,
                                    unsigned long length) = 0;
  ///@}
  /// Stores all of in as the data of a Create handle, after its header.
  /// length not 0 must match the bytes read, else 0.
  virtual unsigned char StoreData(void* handle, std::istream& in, unsigned long length) = 0;
  /// length 0: data is a zero-terminated text, stored without its zero.
  virtual unsigned char StoreData(void* handle, const unsigned char* data,
                                  unsigned long length) = 0;
  /// The stream and FILE* stores need at least one byte: an empty source is
  /// a failure. This one returns the bytes stored, or all bits set on failure.
  virtual unsigned long StoreData(void* handle, std::FILE* in, unsigned long length) = 0;
  /// Stores in as StoreData does and copies each chunk to out as well
  /// (null: store only). A failing std::ostream does not stop the store; a
  /// failed write to a FILE* does, with 0.
  ///@{
  virtual unsigned char StoreAndForwardData(void* handle, std::istream& in, std::ostream* out,
                                            unsigned long length) = 0;
  virtual unsigned char StoreAndForwardData(void* handle, std::istream& in, std::FILE* out,
                                            unsigned long length) = 0;
  ///@}

 protected:
  /// The 1-based place of key; partition holds the number of partitions on
  /// entry. False (all three 0) when the key reads as the number 0.
  virtual unsigned char GetSectsFromKey(const char* key, unsigned long& sect,
                                        unsigned long& subSect, unsigned long& partition);

 private:
  uint32_t fNumSect;
  uint32_t fNumSubSect;
  uint32_t fHeaderSize;
  unsigned char fDebug;
  unsigned char fReadOnly = 0;
};

#endif  // VXKERNEL_CACHE_KCACHE_H_
