/// \file
/// KFileCacheDesc: the open handle of one item of a KFileCache.
#ifndef VXKERNEL_CACHE_KFILECACHEDESC_H_
#define VXKERNEL_CACHE_KFILECACHEDESC_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "vxkernel/export.h"

/// What a KFileCache handle (the void* of KCache) points to. A handle from
/// Open names the item file (fTarget empty); one from Create names its
/// temporary file (fPath) and the item file it will replace (fTarget). Owns
/// its stream and header buffer; the destructor closes and frees them.
/// Used by one thread at a time.
class VXKERNEL_EXPORT KFileCacheDesc {
 public:
  /// A closed handle on path (target: see fTarget) with a zeroed header
  /// buffer of headerSize bytes; the caller opens the stream.
  KFileCacheDesc(const std::string& path, const std::string& target, unsigned long headerSize);
  ~KFileCacheDesc();
  KFileCacheDesc(const KFileCacheDesc&) = delete;
  KFileCacheDesc& operator=(const KFileCacheDesc&) = delete;

  std::FILE* fStream = nullptr;  ///< null when closed
  /// A Create handle's temporary file, open and locked from Create to
  /// Release, also while the handle is closed, so that no other writer takes
  /// it over. fStream is this stream while the handle is open.
  std::FILE* fTemp = nullptr;
  std::string fPath;        ///< the file that is open
  std::string fTarget;      ///< the final item file; empty from Open
  char* fHeader = nullptr;  ///< fHeaderSize bytes; null when 0
  unsigned long fHeaderSize;     ///< the cache's HeaderSize when the handle was made
  unsigned char fOpen = 0;       ///< 1 while fStream is open
  unsigned char fWritable = 0;   ///< 1 while fStream is open for writing
  unsigned char fComplete = 0;  ///< the data was stored in full
  /// The file opened (device and inode): a reopen by path must find it
  /// again, not a version committed since.
  ///@{
  uint64_t fDevice = 0;
  uint64_t fInode = 0;
  ///@}
  /// Where the stream stands, when known, to save seeks and rewrites:
  /// kPlaceData means the file holds fHeader at offset 0 and the stream
  /// stands right after it, so a store need not write the header again.
  ///@{
  static constexpr unsigned char kPlaceUnknown = 0;  ///< not known: seek first
  static constexpr unsigned char kPlaceStart = 1;    ///< at offset 0, before the header
  static constexpr unsigned char kPlaceData = 2;     ///< right after the header on disk
  unsigned char fPlace = kPlaceUnknown;              ///< one of the kPlace values
  ///@}
};

#endif  // VXKERNEL_CACHE_KFILECACHEDESC_H_
