// Whole-file rewrites through a temporary file and rename(2).
//
// rename over an existing name is atomic: a reader, or the next writer after
// a SIGKILL, finds the old inode or the new one. The temporary carries the
// writer's pid so that the next successful writer can tell a dead writer's
// leftover (removed) from a live writer's work in progress (kept). No fsync:
// this guards against a writer that dies, as the in-place rewrite it replaces
// did nothing against power loss either.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>

#include "port/port.h"

namespace port {
namespace {

std::atomic<unsigned> gTempCounter{0};

// Follows symbolic links from name to the name of the final target, whose
// status goes to *st (*exists false when there is none).
bool ResolveTarget(const char* name, std::string* out, struct stat* st, bool* exists, int* error) {
  std::string current = name;
  for (int hop = 0; hop < 40; ++hop) {
    *exists = lstat(current.c_str(), st) == 0;
    if (!*exists || !S_ISLNK(st->st_mode)) {
      *out = std::move(current);
      return true;
    }
    std::string link(PATH_MAX, '\0');
    ssize_t k = readlink(current.c_str(), link.data(), link.size());
    if (k < 0) {
      *error = errno;
      return false;
    }
    link.resize(static_cast<size_t>(k));
    if (link.empty() || link[0] != '/') {
      size_t slash = current.rfind('/');
      link = (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + link;
    }
    current = std::move(link);
  }
  *error = ELOOP;
  return false;
}

bool WriteAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t k = write(fd, data, n);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    data += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

ReplaceResult WriteInPlace(const std::string& target, const char* data, size_t n, int* error) {
  int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = errno;
    return ReplaceResult::kFailed;
  }
  bool ok = WriteAll(fd, data, n);
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    *error = saved;
    return ReplaceResult::kFailed;
  }
  return ReplaceResult::kInPlace;
}

// Parses "<pid>.<n>" after the prefix; false for any other text.
bool TempPid(const char* rest, long* pid) {
  char* end = nullptr;
  errno = 0;
  long p = std::strtol(rest, &end, 10);
  if (end == rest || *end != '.' || errno != 0 || p <= 0) return false;
  const char* digits = end + 1;
  if (*digits == '\0') return false;
  for (; *digits != '\0'; ++digits) {
    if (*digits < '0' || *digits > '9') return false;
  }
  *pid = p;
  return true;
}

// Removes the temporaries of a target in dir left by processes that are gone.
void RemoveDeadTemporaries(const std::string& dir, const std::string& prefix) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  const long self = static_cast<long>(getpid());
  while (struct dirent* e = readdir(d)) {
    if (std::string_view(e->d_name).substr(0, prefix.size()) != prefix) continue;
    long pid = 0;
    if (!TempPid(e->d_name + prefix.size(), &pid) || pid == self) continue;
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    unlinkat(dirfd(d), e->d_name, 0);
  }
  closedir(d);
}

}  // namespace

std::string ReplaceTempPrefix(const std::string& base) { return base.substr(0, 200) + ".vxtmp."; }

ReplaceResult ReplaceFileContents(const char* name, const char* data, size_t n, bool inPlace,
                                  int* error) {
  std::string target;
  struct stat st;
  bool exists = false;
  if (!ResolveTarget(name, &target, &st, &exists, error)) return ReplaceResult::kFailed;
  if (inPlace) return WriteInPlace(target, data, n, error);

  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string prefix = ReplaceTempPrefix(slash == std::string::npos ? target : target.substr(slash + 1));
  std::string stem = (slash == std::string::npos ? std::string() : dir) + prefix +
                     std::to_string(getpid()) + ".";
  const mode_t mode = exists ? (st.st_mode & 07777) : 0666;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp = stem + std::to_string(gTempCounter.fetch_add(1, std::memory_order_relaxed));
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM) return WriteInPlace(target, data, n, error);
    *error = errno;
    return ReplaceResult::kFailed;
  }
  if (exists) {
    // Owner first: a change of owner clears set-id bits that fchmod restores.
    // The umask usually leaves the target's bits alone, and fstat costs less
    // than fchmod.
    bool chown = st.st_uid != geteuid() || st.st_gid != getegid();
    if (chown) {
      [[maybe_unused]] int ignored = fchown(fd, st.st_uid, st.st_gid);
    }
    struct stat made;
    if (chown || fstat(fd, &made) != 0 || (made.st_mode & 07777) != mode) fchmod(fd, mode);
  }
  bool ok = WriteAll(fd, data, n);
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    *error = saved;
    return ReplaceResult::kFailed;
  }
  RemoveDeadTemporaries(dir, prefix);
  return ReplaceResult::kRenamed;
}

}  // namespace port
