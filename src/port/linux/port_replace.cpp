// Whole-file rewrites through a temporary file and rename(2).
//
// rename over an existing name is atomic: a reader, or the next writer after
// a SIGKILL, finds the old inode or the new one. The temporary carries the
// writer's pid so that the next successful writer can tell a dead writer's
// leftover (removed) from a live writer's work in progress (kept). No fsync:
// this guards against a writer that dies, as the in-place rewrite it replaces
// did nothing against power loss either.
//
// A rename makes a new file, so it is used only where the new file can be
// the old one in all that others see: the same owner, group and mode, and
// no other name (hard link) that would keep the old contents. Otherwise the
// file is rewritten in place through a descriptor opened before anything is
// written, which is also what shows that the file itself takes writing (a
// writable folder would let a rename replace a read-only file).
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

// Opens the existing target for writing, without waiting, and only when it
// is a regular file (EINVAL otherwise): renaming over a FIFO or a device
// would replace it, not write to it. Its current status goes to *st.
// Returns the descriptor, or -1 and *error.
int OpenTarget(const std::string& target, struct stat* st, int* error) {
  int fd = -1;
  if (S_ISREG(st->st_mode)) {
    do {
      fd = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
  } else {
    errno = EINVAL;
  }
  if (fd >= 0 && (fstat(fd, st) != 0 || !S_ISREG(st->st_mode))) {
    close(fd);
    fd = -1;
    errno = EINVAL;
  }
  if (fd < 0) *error = errno;
  return fd;
}

// Writes the data over the file from its start, cuts it to n bytes and
// closes fd; how on success. Overwriting before cutting means a full disk
// fails only past the old size.
ReplaceResult WriteInPlace(int fd, const char* data, size_t n, ReplaceResult how, int* error) {
  bool ok = lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, data, n) &&
            ftruncate(fd, static_cast<off_t>(n)) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    *error = saved;
    return ReplaceResult::kFailed;
  }
  return how;
}

// Gives the temporary the owner, group and mode of want; false when the
// system does not allow all of them (only root may give a file away, only a
// member may give it a group, set-group-id needs the group).
bool KeepOwnerAndMode(int temp, const struct stat& want) {
  struct stat made;
  if (fstat(temp, &made) != 0) return false;
  const mode_t mode = want.st_mode & 07777;
  if (made.st_uid != want.st_uid || made.st_gid != want.st_gid) {
    if (fchown(temp, want.st_uid, want.st_gid) != 0) return false;
    made.st_mode = ~mode;  // a change of owner clears set-id bits: set the mode again
  }
  if ((made.st_mode & 07777) == mode) return true;
  return fchmod(temp, mode) == 0 && fstat(temp, &made) == 0 && (made.st_mode & 07777) == mode;
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
  int fd = -1;  // the target, open for writing
  if (exists) {
    fd = OpenTarget(target, &st, error);
    if (fd < 0) return ReplaceResult::kFailed;
  } else if (inPlace) {
    fd = open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
      *error = errno;
      return ReplaceResult::kFailed;
    }
  }
  if (inPlace) return WriteInPlace(fd, data, n, ReplaceResult::kInPlace, error);
  if (exists && st.st_nlink > 1) {
    return WriteInPlace(fd, data, n, ReplaceResult::kInPlaceLinks, error);
  }

  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string prefix = ReplaceTempPrefix(slash == std::string::npos ? target : target.substr(slash + 1));
  std::string stem = (slash == std::string::npos ? std::string() : dir) + prefix +
                     std::to_string(getpid()) + ".";
  std::string temp;
  int tfd = -1;
  for (int attempt = 0; tfd < 0 && attempt < 100; ++attempt) {
    temp = stem + std::to_string(gTempCounter.fetch_add(1, std::memory_order_relaxed));
    tfd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
               exists ? st.st_mode & 0777 : 0666);
    if (tfd < 0 && errno != EEXIST) break;
  }
  if (tfd < 0) {
    const int e = errno;
    if (exists && (e == EACCES || e == EPERM)) {
      return WriteInPlace(fd, data, n, ReplaceResult::kInPlaceDirectory, error);
    }
    if (fd >= 0) close(fd);
    *error = e;
    return ReplaceResult::kFailed;
  }
  if (exists) {
    if (!KeepOwnerAndMode(tfd, st)) {
      close(tfd);
      unlink(temp.c_str());
      return WriteInPlace(fd, data, n, ReplaceResult::kInPlaceOwner, error);
    }
    close(fd);
  }
  bool ok = WriteAll(tfd, data, n);
  int saved = errno;
  if (close(tfd) != 0 && ok) {
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
