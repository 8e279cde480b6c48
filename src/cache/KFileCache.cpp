// KFileCache: names, handles, commits, headers, deletion and sweeping.
#include "vxkernel/cache/KFileCache.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "base/debug_line.h"
#include "cache/file_cache_internal.h"
#include "port/port.h"

using vxk_internal::CacheDesc;
using vxk_internal::DebugLine;
using vxk_internal::DebugText;
using vxk_internal::HeaderSizeAllowed;
using vxk_internal::OpenCacheFile;

namespace {

// Longest escaped key (one path piece).
constexpr size_t kMaxPiece = 254;

// "." and ".." would name a directory of the tree; a name shaped like a
// temporary's would be swept away with the temporaries (and could be one),
// and "~" + id alone would delete them with its companions.
bool KeyFormsName(const std::string& escaped) {
  return !escaped.empty() && escaped.size() <= kMaxPiece && escaped != "." && escaped != ".." &&
         !vxk_internal::ReachesTemporaries(escaped);
}

// A handle keeps the header size it was made with, while callers pass
// headers of the cache's present size: a copy between them is made only
// when the two agree (one debug line naming op when not).
bool SameHeaderSize(const char* op, const KFileCacheDesc* d, unsigned long cacheSize) {
  if (d->fHeaderSize == cacheSize) return true;
  DebugLine(op, "header size changed: the handle holds ", d->fHeaderSize, " bytes, the cache ",
            cacheSize, ".");
  return false;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

bool vxk_internal::SyncFileForCommit(const char* op, std::FILE* f, const std::string& path) {
  int error = 0;
  if (port::SyncStream(f, &error)) return true;
  DebugLine(op, "could not sync temp file: ", path, " : ", std::strerror(error));
  return false;
}

bool vxk_internal::SyncDirectoryOf(const char* op, const std::string& target) {
  int error = 0;
  std::string dir = DirectoryOf(target);
  if (port::SyncDirectory(dir.c_str(), &error)) return true;
  DebugLine(op, "could not sync directory: ", dir, " : ", std::strerror(error));
  return false;
}

KFileCache::KFileCache(const std::vector<std::string>& directories, unsigned long numSect,
                       unsigned long numSubSect, unsigned long headerSize, unsigned char debug)
    : KCache(numSect, numSubSect, headerSize, debug) {
  for (const std::string& d : directories) {
    fPartitions.push_back(FixupPath(d));
    if (debug != 0) {
      DebugText("KFileCache::KFileCache Added directory - ", fPartitions.back(),
                " - to the partition list. ", '\n');
    }
  }
}

KFileCache::~KFileCache() = default;

// ===== Names =====

std::string KFileCache::EscapeFilename(const std::string& key) {
  std::string s(key.c_str());  // a key ends at its first NUL
  for (char& c : s) {
    if (c == '/' || c == ':' || c == '\\') c = '_';
  }
  return s;
}

std::string KFileCache::FixupPath(const std::string& path) {
  std::string s = path;
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  if (s.empty()) s = ".";  // not the file-system root
  std::string full;
  if (port::AbsolutePath(s, &full)) s = full;
  if (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string KFileCache::MakeFileName(const std::string& key, std::string* dirOut,
                                     std::string* tempOut, unsigned long tempId) {
  std::string escaped = EscapeFilename(key);
  if (!KeyFormsName(escaped)) return std::string();
  unsigned long sect = 0, subSect = 0, partition = fPartitions.size();
  if (GetSectsFromKey(escaped.c_str(), sect, subSect, partition) == 0 || partition == 0 ||
      partition > fPartitions.size()) {
    return std::string();
  }
  std::string dir = fPartitions[partition - 1];
  dir += '/';
  dir += std::to_string(sect);
  dir += '/';
  dir += std::to_string(subSect);
  if (dirOut != nullptr) *dirOut = dir;
  if (tempOut != nullptr) {
    *tempOut = dir + "/~" + std::to_string(static_cast<long>(tempId)) + "_" + escaped;
  }
  return dir + "/" + escaped;
}

unsigned char KFileCache::NameEndsInType(const char* name, const char* type) {
  if (name == nullptr || type == nullptr) return 0;
  size_t nl = std::strlen(name), tl = std::strlen(type);
  if (tl == 0 || nl <= tl + 1 || name[nl - tl - 1] != '.') return 0;
  return std::strcmp(name + nl - tl, type) == 0 ? 1 : 0;
}

// ===== Handles =====

void* KFileCache::Open(const std::string& key) {
  std::string name = MakeFileName(key, nullptr, nullptr, 0);
  if (name.empty() || !HeaderSizeAllowed("KFileCache::Open", HeaderSize())) return nullptr;
  std::FILE* f = OpenCacheFile(name, "rbe");
  if (f == nullptr) return nullptr;
  auto* d = new (std::nothrow) KFileCacheDesc(name, std::string(), HeaderSize());
  if (d == nullptr || (d->fHeaderSize != 0 && d->fHeader == nullptr)) {
    DebugLine("KFileCache::Open", "no memory for a handle of ", name);
    delete d;
    std::fclose(f);
    return nullptr;
  }
  d->fStream = f;
  d->fOpen = 1;
  d->fPlace = KFileCacheDesc::kPlaceStart;
  vxk_internal::RememberFile(d);
  if (Debug() != 0) DebugLine("KFileCache::Open", "opened cache file ", name);
  if (d->fHeaderSize != 0 && RefreshHeader(d) == 0) {
    DebugLine("KFileCache::Open", "could not read header.");
  }
  return d;
}

int KFileCache::OpenData(const std::string& key, int64_t* offset, int64_t* length) {
  std::string name = MakeFileName(key, nullptr, nullptr, 0);
  if (name.empty() || !HeaderSizeAllowed("KFileCache::OpenData", HeaderSize())) return -1;
  int64_t size = 0;
  int fd = port::OpenForReading(name.c_str(), &size);
  if (fd < 0) return -1;
  const int64_t header = static_cast<int64_t>(HeaderSize());
  if (size < header) {
    port::CloseDescriptor(fd);
    DebugLine("KFileCache::OpenData", "cache file shorter than its header: ", name);
    return -1;
  }
  if (Debug() != 0) DebugLine("KFileCache::OpenData", "opened cache file ", name);
  *offset = header;
  *length = size - header;
  return fd;
}

void* KFileCache::Create(const std::string& key, unsigned long tempId) {
  std::string dir, temp;
  std::string name = MakeFileName(key, &dir, &temp, tempId);
  if (name.empty() || ReadOnly() != 0) return nullptr;
  if (!HeaderSizeAllowed("KFileCache::Create", HeaderSize())) return nullptr;
  // A live writer's temporary keeps this one out; a dead writer's is taken
  // over. The directories are made only when the first try says they are
  // missing.
  int error = 0;
  std::FILE* f = port::OpenCacheTemporary(temp.c_str(), &error);
  if (f == nullptr && error == ENOENT) {
    vxk_internal::MakeItemDirectories(dir);
    f = port::OpenCacheTemporary(temp.c_str(), &error);
  }
  if (f == nullptr) {
    DebugLine("KFileCache::Create", "could not create temp file: ", temp, " - ",
              std::strerror(error));
    return nullptr;
  }
  vxk_internal::Unbuffered(f);
  auto* d = new (std::nothrow) KFileCacheDesc(temp, name, HeaderSize());
  if (d == nullptr || (d->fHeaderSize != 0 && d->fHeader == nullptr)) {
    DebugLine("KFileCache::Create", "no memory for a handle of ", temp);
    delete d;
    std::remove(temp.c_str());  // still locked, so still this writer's
    std::fclose(f);
    return nullptr;
  }
  d->fStream = d->fTemp = f;
  d->fOpen = 1;
  d->fPlace = KFileCacheDesc::kPlaceStart;
  d->fWritable = 1;
  vxk_internal::RememberFile(d);
  if (Debug() != 0) {
    DebugLine("KFileCache::Create", "created temp file ", temp, " for cache file ", name);
  }
  return d;
}

unsigned char KFileCache::Close(void* handle) {
  KFileCacheDesc* d = CacheDesc(handle);
  if (d == nullptr || d->fStream == nullptr) {
    DebugLine("KFileCache::Close", "closing bad or closed descriptor.");
    return 0;
  }
  // A Create handle's temporary stays open, and locked, until Release.
  if (d->fStream != d->fTemp) std::fclose(d->fStream);
  d->fStream = nullptr;
  d->fOpen = 0;
  d->fWritable = 0;
  d->fPlace = KFileCacheDesc::kPlaceUnknown;
  return 1;
}

unsigned char KFileCache::Release(void* handle) {
  KFileCacheDesc* d = CacheDesc(handle);
  if (d == nullptr) return 0;
  unsigned char result = 1;
  const bool created = !d->fPath.empty() && !d->fTarget.empty();
  bool commit = created && d->fComplete != 0;
  const bool sync = commit && SyncOnCommit();
  if (sync && !vxk_internal::SyncFileForCommit("KFileCache::Release", d->fTemp, d->fPath)) {
    commit = false;
    result = 0;
  }
  if (d->fOpen != 0) Close(d);
  // The temporary is still locked (Close keeps it open), so no other writer
  // has taken it over. Only a sweep takes the name from a live writer, and
  // then the name is no longer this handle's to rename or remove.
  port::FileId id{};
  const bool named =
      created && port::NameFileId(d->fPath.c_str(), &id) && vxk_internal::IsHandlesFile(d, id);
  if (created && commit) {
    // The old item stays until this rename replaces it in one step. A
    // complete version that cannot be renamed stays as the temporary: once
    // the handle lets go of its lock, the next writer with this id takes it
    // over, or a sweep removes it.
    if (!named || std::rename(d->fPath.c_str(), d->fTarget.c_str()) != 0) {
      DebugLine("KFileCache::Release", "error renaming file from ", d->fPath, " to ", d->fTarget,
                " : ", std::strerror(named ? errno : ENOENT));
      result = 0;
    } else {
      if (Debug() != 0) DebugLine("KFileCache::Release", "rename temp file to ", d->fTarget);
      if (sync && !vxk_internal::SyncDirectoryOf("KFileCache::Release", d->fTarget)) result = 0;
    }
  } else if (named) {
    if (std::remove(d->fPath.c_str()) != 0) {
      DebugLine("KFileCache::Release", "did not clean up unused temp file: ", d->fPath, " : ",
                std::strerror(errno));
    } else if (Debug() != 0) {
      DebugLine("KFileCache::Release", "clean up unused temp file ", d->fPath);
    }
  }
  delete d;  // closes the temporary, which ends its lock
  return result;
}

unsigned char KFileCache::DescCanWrite(void* handle) const {
  KFileCacheDesc* d = CacheDesc(handle);
  return d != nullptr && ReadOnly() == 0 && d->fStream != nullptr && d->fOpen != 0 &&
                 d->fWritable != 0
             ? 1
             : 0;
}

// ===== Headers =====

unsigned char KFileCache::SaveHeader(KFileCacheDesc* d) {
  if (d == nullptr || ReadOnly() != 0) return 0;
  if (d->fHeaderSize == 0) return 1;
  // A failed reopen has written its line and may leave a readable stream.
  if (d->fWritable == 0 && ReOpenForWrite(d) == 0) return 0;
  if (d->fStream == nullptr) {
    DebugText("SaveHeader::PutHeader - bad file stream.", '\n');
    return 0;
  }
  const bool atStart = d->fPlace == KFileCacheDesc::kPlaceStart;
  d->fPlace = KFileCacheDesc::kPlaceUnknown;
  if (!atStart && std::fseek(d->fStream, 0, SEEK_SET) != 0) return 0;
  size_t written = std::fwrite(d->fHeader, 1, d->fHeaderSize, d->fStream);
  if (written != d->fHeaderSize) {
    DebugText("SaveHeader::PutHeader - failed to write header. ", written, " bytes of ",
              d->fHeaderSize, '\n');
    return 0;
  }
  d->fPlace = KFileCacheDesc::kPlaceData;
  return 1;
}

unsigned char KFileCache::PutHeader(void* handle, const char* header) {
  KFileCacheDesc* d = CacheDesc(handle);
  if (d == nullptr || !SameHeaderSize("KFileCache::PutHeader", d, HeaderSize())) return 0;
  if (d->fHeaderSize == 0) return 1;
  if (header == nullptr || d->fHeader == nullptr) return 0;
  std::memcpy(d->fHeader, header, d->fHeaderSize);
  return SaveHeader(d);
}

unsigned char KFileCache::GetHeader(void* handle, char* buffer, unsigned long size) {
  KFileCacheDesc* d = CacheDesc(handle);
  if (d == nullptr || !SameHeaderSize("KFileCache::GetHeader", d, HeaderSize())) return 0;
  if (d->fHeaderSize == 0) return 1;
  if (buffer == nullptr || d->fHeader == nullptr || size < d->fHeaderSize) return 0;
  std::memcpy(buffer, d->fHeader, d->fHeaderSize);
  return 1;
}

unsigned char KFileCache::RefreshHeader(KFileCacheDesc* d) {
  if (d == nullptr || d->fHeaderSize == 0) return 1;
  if (d->fStream == nullptr || d->fHeader == nullptr) return 0;
  const bool atStart = d->fPlace == KFileCacheDesc::kPlaceStart;
  d->fPlace = KFileCacheDesc::kPlaceUnknown;
  if (!atStart && std::fseek(d->fStream, 0, SEEK_SET) != 0) return 0;
  size_t got = std::fread(d->fHeader, 1, d->fHeaderSize, d->fStream);
  if (got != d->fHeaderSize) {
    DebugLine("KFileCache::RefreshHeader", "failed to read header. ", got, " bytes of ",
              d->fHeaderSize);
    return 0;
  }
  d->fPlace = KFileCacheDesc::kPlaceData;
  return 1;
}

unsigned char KFileCache::ReOpenForWrite(KFileCacheDesc* d) {
  if (d == nullptr || ReadOnly() != 0 || d->fPath.empty()) return 0;
  if (d->fOpen != 0 && d->fWritable != 0) return 1;
  // A closed Create handle takes its own temporary back.
  if (d->fTemp != nullptr) {
    d->fStream = d->fTemp;
    d->fOpen = 1;
    d->fPlace = KFileCacheDesc::kPlaceUnknown;
    d->fWritable = 1;
    return 1;
  }
  std::FILE* f = OpenCacheFile(d->fPath, "r+be");
  if (f == nullptr) {
    DebugLine("KFileCache::ReOpenForWrite", "could not reopen file: ", d->fPath, " : ",
              std::strerror(errno));
    return 0;
  }
  // The path may name a version another writer committed since: writing
  // this handle's header there would pair it with the other's data. The
  // handle then keeps its own version open for reading.
  port::FileId id{};
  if (!port::StreamFileId(f, &id) || !vxk_internal::IsHandlesFile(d, id)) {
    std::fclose(f);
    DebugLine("KFileCache::ReOpenForWrite",
              "cache file was replaced since it was opened: ", d->fPath);
    return 0;
  }
  if (d->fOpen != 0) Close(d);
  d->fStream = f;
  d->fOpen = 1;
  d->fPlace = KFileCacheDesc::kPlaceStart;
  d->fWritable = 1;
  return 1;
}
