// Files, directories, free space and the places files are searched in.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "port/port.h"

namespace port {

bool FileStat(const char* name, FileInfo* out) {
  if (name == nullptr || name[0] == '\0') return false;
  struct statx sx;
  if (statx(AT_FDCWD, name, 0, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
    out->isDirectory = S_ISDIR(sx.stx_mode);
    out->size = sx.stx_size;
    out->mode = sx.stx_mode & 07777;
    out->modifySeconds = sx.stx_mtime.tv_sec;
    out->birthSeconds =
        (sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
    return true;
  }
  if (errno != ENOSYS && errno != EPERM) return false;
  struct stat st;  // kernels before statx (4.11), or filters that refuse it
  if (stat(name, &st) != 0) return false;
  out->isDirectory = S_ISDIR(st.st_mode);
  out->size = static_cast<uint64_t>(st.st_size);
  out->mode = st.st_mode & 07777;
  out->modifySeconds = st.st_mtime;
  out->birthSeconds = st.st_mtime;
  return true;
}

bool MakeDirectory(const char* name) { return name != nullptr && mkdir(name, 0777) == 0; }

bool RemoveDirectory(const char* name) { return name != nullptr && rmdir(name) == 0; }

bool RemoveFile(const char* name) { return name != nullptr && unlink(name) == 0; }

bool SetReadOnly(const char* name, bool readOnly) {
  struct stat st;
  if (name == nullptr || stat(name, &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  mode = readOnly ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
  return chmod(name, mode) == 0;
}

bool ListDirectory(const char* name, std::vector<DirEntry>* out) {
  if (name == nullptr) return false;
  DIR* dir = opendir(name);
  if (dir == nullptr) return false;
  const int dirFd = dirfd(dir);
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(dir);
    if (e == nullptr) break;
    const char* n = e->d_name;
    if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
    bool isDir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;  // links are followed, as FileStat does
      isDir = fstatat(dirFd, n, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    out->push_back(DirEntry{n, isDir});
  }
  const bool ok = errno == 0;
  closedir(dir);
  return ok;
}

bool FreeSpace(const char* name, uint64_t* bytes) {
  struct statvfs sv;
  if (name == nullptr || statvfs(name, &sv) != 0) return false;
  *bytes = static_cast<uint64_t>(sv.f_bavail) * static_cast<uint64_t>(sv.f_frsize);
  return true;
}

bool ChangeDirectory(const char* name) { return name != nullptr && chdir(name) == 0; }

bool ModuleFileName(std::string* out) {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&ModuleFileName), &info) == 0 || info.dli_fname == nullptr)
    return false;
  if (std::strchr(info.dli_fname, '/') != nullptr) {
    *out = info.dli_fname;
    return true;
  }
  // The program itself is reported by the name it was started under.
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return false;
  out->assign(buf, static_cast<size_t>(n));
  return true;
}

bool SearchPathFor(const std::string& name, std::string* out) {
  const char* path = std::getenv("PATH");
  if (path == nullptr || name.empty()) return false;
  const char* p = path;
  for (;;) {
    const char* end = std::strchr(p, ':');
    const size_t len = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
    if (len > 0) {
      std::string candidate(p, len);
      if (candidate.back() != '/') candidate += '/';
      candidate += name;
      struct stat st;
      if (stat(candidate.c_str(), &st) == 0) {
        *out = std::move(candidate);
        return true;
      }
    }
    if (end == nullptr) return false;
    p = end + 1;
  }
}

}  // namespace port
