// Pieces shared by the files of KFileCache.
#ifndef VXKERNEL_CACHE_FILE_CACHE_INTERNAL_H_
#define VXKERNEL_CACHE_FILE_CACHE_INTERNAL_H_

#include <cstddef>
#include <cstdio>
#include <string>

#include "base/debug_line.h"
#include "port/port.h"
#include "vxkernel/cache/KCache.h"
#include "vxkernel/cache/KFileCacheDesc.h"

namespace vxk_internal {

// Every copy loop moves data through one buffer of this size.
constexpr size_t kCacheCopyBuffer = 102400;

inline KFileCacheDesc* CacheDesc(void* handle) { return static_cast<KFileCacheDesc*>(handle); }

// Cache files are used without stdio buffering: every read and write is
// one system call, so a short write shows at the call that made it and a
// header rewritten through a handle is in the file when the call returns.
inline std::FILE* Unbuffered(std::FILE* f) {
  if (f != nullptr) std::setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

inline std::FILE* OpenCacheFile(const std::string& path, const char* mode) {
  return Unbuffered(std::fopen(path.c_str(), mode));
}

// Every handle holds its header in memory: a header size above the limit
// is refused (one debug line naming op) before anything is allocated.
inline bool HeaderSizeAllowed(const char* op, unsigned long size) {
  if (size <= KCache::kMaxHeaderSize) return true;
  DebugLine(op, "header size ", size, " is above the limit of ", KCache::kMaxHeaderSize, " bytes.");
  return false;
}

// Remembers which file the handle's stream is (kept 0 when the system
// cannot tell, which no later check then matches).
inline void RememberFile(KFileCacheDesc* d) {
  port::FileId id{};
  if (port::StreamFileId(d->fStream, &id)) d->fDevice = id.device, d->fInode = id.inode;
}

// Whether id is the file the handle opened.
inline bool IsHandlesFile(const KFileCacheDesc* d, const port::FileId& id) {
  return d->fDevice == id.device && d->fInode == id.inode && (id.device | id.inode) != 0;
}

// The shape of a temporary file's name: "~" + decimal id (maybe negative)
// + "_" + key. SweepTemporaries removes such files, so no item may be named
// like one.
// Where the "~" + id part of name ends (past the digits), or 0 when name
// does not begin with one.
inline size_t TemporaryIdEnd(const std::string& name) {
  if (name.size() < 2 || name[0] != '~') return 0;
  size_t i = 1;
  if (name[i] == '-') ++i;
  size_t digits = i;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
  return i > digits ? i : 0;
}
inline bool IsTemporaryName(const std::string& name) {
  const size_t i = TemporaryIdEnd(name);
  return i != 0 && i < name.size() && name[i] == '_';
}
// Whether an item of that name could reach temporaries: one named like a
// temporary, or "~" + id alone, whose Delete with an empty type removes
// every "~id_..." file of its directory (other keys' writes in progress).
inline bool ReachesTemporaries(const std::string& name) {
  const size_t i = TemporaryIdEnd(name);
  return i != 0 && (i == name.size() || name[i] == '_');
}

// The section and subsection directories of dir (an existing one is fine).
inline void MakeItemDirectories(const std::string& dir) {
  size_t slash = dir.rfind('/');
  if (slash != std::string::npos && slash > 0) port::MakeDirectory(dir.substr(0, slash).c_str());
  port::MakeDirectory(dir.c_str());
}

// The syncs of a commit under SyncOnCommit: the new version's file before
// its rename, the item's directory after it. False, with one debug line
// naming op, when a sync fails.
bool SyncFileForCommit(const char* op, std::FILE* f, const std::string& path);
bool SyncDirectoryOf(const char* op, const std::string& target);

}  // namespace vxk_internal

#endif  // VXKERNEL_CACHE_FILE_CACHE_INTERNAL_H_
