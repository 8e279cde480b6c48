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

  unsigned long NumSect() const { return fNumSect; }
  void NumSect(unsigned long n) { fNumSect = static_cast<uint32_t>(n); }
  unsigned long NumSubSect() const { return fNumSubSect; }
  void NumSubSect(unsigned long n) { fNumSubSect = static_cast<uint32_t>(n); }
  unsigned long HeaderSize() const { return fHeaderSize; }
  void HeaderSize(unsigned long n) { fHeaderSize = static_cast<uint32_t>(n); }
  unsigned char Debug() const { return fDebug; }
  void Debug(unsigned char debug) { fDebug = debug; }
  unsigned char ReadOnly() const { return fReadOnly; }
  void ReadOnly(unsigned char readOnly) { fReadOnly = readOnly; }

  // ===== Items =====

  /// A write handle on a new temporary version of key's item; null on failure.
  virtual void* Create(const std::string& key, unsigned long tempId) = 0;
  /// A read handle on key's item; null when there is none.
  virtual void* Open(const std::string& key) = 0;
  virtual unsigned char Close(void* handle) = 0;
  /// Commits (a completely stored Create handle) or discards, then frees.
  virtual unsigned char Release(void* handle) = 0;
  /// Here: the cache is not read-only.
  virtual unsigned char DescCanWrite(void* handle) const;
  virtual unsigned char PutHeader(void* handle, const char* header) = 0;
  virtual unsigned char GetHeader(void* handle, char* buffer, unsigned long size) = 0;

  // ===== Data =====
  // Offsets count from the end of the header; length 0 means to the end.

  virtual unsigned char ForwardData(void* handle, unsigned char* buffer, unsigned long size,
                                    unsigned long offset, unsigned long length) = 0;
  virtual unsigned char ForwardData(void* handle, std::ostream& out, unsigned long offset,
                                    unsigned long length) = 0;
  virtual unsigned char ForwardData(void* handle, std::FILE* out, unsigned long offset,
                                    unsigned long length) = 0;
  virtual unsigned char StoreData(void* handle, std::istream& in, unsigned long length) = 0;
  /// length 0: data is a zero-terminated text, stored without its zero.
  virtual unsigned char StoreData(void* handle, const unsigned char* data,
                                  unsigned long length) = 0;
  /// The stream and FILE* stores need at least one byte: an empty source is
  /// a failure. This one returns the bytes stored, or all bits set on failure.
  virtual unsigned long StoreData(void* handle, std::FILE* in, unsigned long length) = 0;
  virtual unsigned char StoreAndForwardData(void* handle, std::istream& in, std::ostream* out,
                                            unsigned long length) = 0;
  virtual unsigned char StoreAndForwardData(void* handle, std::istream& in, std::FILE* out,
                                            unsigned long length) = 0;

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
