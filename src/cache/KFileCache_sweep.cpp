// KFileCache: deleting items with their companions, sweeping temporaries.
#include <cerrno>
#include <cstring>

#include "base/debug_line.h"
#include "cache/file_cache_internal.h"
#include "port/port.h"
#include "vxkernel/cache/KFileCache.h"

using vxk_internal::DebugLine;

unsigned char KFileCache::Delete(const std::string& key, const std::string& type) {
  if (ReadOnly() != 0) return 0;
  std::string dir;
  std::string f = MakeFileName(key, &dir, nullptr, 0);
  if (f.empty()) return 0;
  vxk_internal::MakeItemDirectories(dir);
  std::vector<port::DirEntry> entries;
  port::ListDirectory(dir.c_str(), &entries);
  unsigned char deleted = 0;
  for (const port::DirEntry& e : entries) {
    std::string p = dir + "/" + e.name;
    if (p.size() < f.size()) continue;
    if (type.empty() && p == f) {
      if (port::RemoveFile(p.c_str())) {
        deleted = 1;
        if (Debug() != 0) DebugLine("KFileCache::Delete", "deleted file ", p);
      } else {
        DebugLine("KFileCache::Delete", "could not delete file: ", p, " : ", std::strerror(errno));
      }
      break;
    }
    if (p.size() == f.size() || p.compare(0, f.size(), f) != 0) continue;
    char next = p[f.size()];
    if (next != '_' && next != '.') continue;
    if (!type.empty() && NameEndsInType(p.c_str(), type.c_str()) == 0) continue;
    if (port::RemoveFile(p.c_str())) {
      deleted = 1;
      if (Debug() != 0) DebugLine("KFileCache::Delete", "deleted file ", p);
    } else {
      DebugLine("KFileCache::Delete",
                type.empty() ? "could not delete wildcard file: " : "could not delete typed file: ",
                p, " : ", std::strerror(errno));
    }
  }
  return deleted;
}

long KFileCache::SweepTemporaries(long ageSeconds) {
  if (ageSeconds < 0) ageSeconds = 0;
  const int64_t now = port::WallMillis() / 1000;
  long removed = 0;
  std::vector<port::DirEntry> sections, subSections, files;
  for (const std::string& partition : fPartitions) {
    sections.clear();
    port::ListDirectory(partition.c_str(), &sections);
    for (const port::DirEntry& s : sections) {
      if (!s.isDirectory) continue;
      std::string sectDir = partition + "/" + s.name;
      subSections.clear();
      port::ListDirectory(sectDir.c_str(), &subSections);
      for (const port::DirEntry& ss : subSections) {
        if (!ss.isDirectory) continue;
        std::string dir = sectDir + "/" + ss.name;
        files.clear();
        port::ListDirectory(dir.c_str(), &files);
        for (const port::DirEntry& f : files) {
          if (f.isDirectory || !vxk_internal::IsTemporaryName(f.name)) continue;
          std::string p = dir + "/" + f.name;
          port::FileInfo info;
          if (!port::FileStat(p.c_str(), &info) || now - info.modifySeconds < ageSeconds) continue;
          if (port::RemoveFile(p.c_str())) {
            ++removed;
            if (Debug() != 0) DebugLine("KFileCache::SweepTemporaries", "removed ", p);
          } else if (errno != ENOENT) {
            DebugLine("KFileCache::SweepTemporaries", "could not remove temp file: ", p, " : ",
                      std::strerror(errno));
          }
        }
      }
    }
  }
  return removed;
}
