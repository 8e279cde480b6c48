// KFileCache: adopting a file that its writer prepared as an item, so that
// the data is written once (an upload's part file becomes the item).
#include <cerrno>
#include <cstring>

#include "base/debug_line.h"
#include "cache/file_cache_internal.h"
#include "port/port.h"
#include "vxkernel/cache/KFileCache.h"

using vxk_internal::CacheDesc;
using vxk_internal::DebugLine;

namespace {

const char kAdopt[] = "KFileCache::AdoptFile";

// Another file system: the data goes into the handle's temporary as a store
// from the file would put it, after the room.
bool CopyInstead(KFileCache& cache, void* handle, std::FILE* f, unsigned long headerSize,
                 unsigned long length) {
  if (std::fseek(f, static_cast<long>(headerSize), SEEK_SET) != 0) {
    DebugLine(kAdopt, "could not seek past the header's room: ", std::strerror(errno));
    return false;
  }
  return cache.StoreData(handle, f, length) != ~0UL;
}

}  // namespace

unsigned char KFileCache::AdoptFile(void* handle, const char* path, const char* header,
                                    unsigned long length) {
  KFileCacheDesc* d = CacheDesc(handle);
  if (d == nullptr || path == nullptr) return 0;
  if (DescCanWrite(handle) == 0 || d->fTarget.empty() || d->fHeaderSize != HeaderSize()) {
    DebugLine(kAdopt, "needs a writable handle from Create of the cache's header size: ", path);
    return 0;
  }
  int error = 0;
  int64_t size = 0;
  std::FILE* f = port::OpenRegularFile(path, &size, &error);
  if (f == nullptr) {
    DebugLine(kAdopt, "could not open file: ", path, " : ", std::strerror(error));
    return 0;
  }
  const int64_t data = size - static_cast<int64_t>(d->fHeaderSize);
  bool ok = data >= 0 && (length == 0 || data == static_cast<int64_t>(length));
  if (!ok) {
    DebugLine(kAdopt, "file ", path, " holds ", data, " bytes after the header's room, expected ",
              length, " bytes.");
  }
  if (ok && header != nullptr && d->fHeaderSize != 0) {
    std::memcpy(d->fHeader, header, d->fHeaderSize);
  }
  if (ok && d->fHeaderSize != 0) {
    // Flushed before the rename: the room is a hole, so the header may find
    // the disk full, and an item must never appear without its header.
    size_t written = std::fwrite(d->fHeader, 1, d->fHeaderSize, f);
    if (written == d->fHeaderSize && std::fflush(f) != 0) written = 0;
    if (written != d->fHeaderSize) {
      DebugLine(kAdopt, "failed to write header. ", written, " bytes of ", d->fHeaderSize);
      ok = false;
    }
  }
  const bool sync = SyncOnCommit();
  ok = ok && (!sync || vxk_internal::SyncFileForCommit(kAdopt, f, path));
  if (ok && std::rename(path, d->fTarget.c_str()) != 0) {
    if (errno == EXDEV) {
      ok = CopyInstead(*this, handle, f, d->fHeaderSize, length);
    } else {
      DebugLine(kAdopt, "error renaming file from ", path, " to ", d->fTarget, " : ",
                std::strerror(errno));
      ok = false;
    }
  } else if (ok) {
    // The handle's temporary holds nothing: its release removes it.
    d->fComplete = 0;
    if (Debug() != 0) DebugLine(kAdopt, "adopted ", path, " as cache file ", d->fTarget);
    if (sync && !vxk_internal::SyncDirectoryOf(kAdopt, d->fTarget)) ok = false;
  }
  std::fclose(f);
  return ok ? 1 : 0;
}
