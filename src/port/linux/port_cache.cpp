// Cache item files: durable commits, file identities, temporaries locked by
// their writers, single reads.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "port/port.h"

namespace port {

namespace {

FileId IdOf(const struct stat& st) {
  return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

}  // namespace

bool StreamFileId(std::FILE* stream, FileId* out) {
  struct stat st;
  if (stream == nullptr || fstat(fileno(stream), &st) != 0) return false;
  *out = IdOf(st);
  return true;
}

bool NameFileId(const char* name, FileId* out) {
  struct stat st;
  if (stat(name, &st) != 0) return false;
  *out = IdOf(st);
  return true;
}

std::FILE* OpenCacheTemporary(const char* name, int* error) {
  // A round repeats only when the holder renamed or removed the file
  // between this open and this lock: the lock then sits on a file that no
  // longer has the name. Each repeat needs another writer to finish.
  constexpr int kRounds = 16;
  for (int round = 0; round < kRounds; ++round) {
    int fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      *error = errno == ELOOP ? EEXIST : errno;
      return nullptr;
    }
    int e = RangeLock(fd, 0, 0, true, false);  // length 0: the whole file, however long
    struct stat mine, named;
    if (e == 0 && fstat(fd, &mine) != 0) e = errno;
    if (e == 0 && !S_ISREG(mine.st_mode)) e = EEXIST;
    if (e == 0 && (stat(name, &named) != 0 || IdOf(named) != IdOf(mine))) {
      close(fd);
      continue;
    }
    if (e == 0 && mine.st_size != 0 && ftruncate(fd, 0) != 0) e = errno;
    std::FILE* f = e == 0 ? fdopen(fd, "r+b") : nullptr;
    if (f != nullptr) return f;
    if (e == 0) e = errno;
    close(fd);
    *error = e == EAGAIN || e == EACCES ? EEXIST : e;
    return nullptr;
  }
  *error = EEXIST;
  return nullptr;
}

std::FILE* OpenRegularFile(const char* name, int64_t* size, int* error) {
  int fd = open(name, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    *error = errno;
    return nullptr;
  }
  struct stat st;
  int e = fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  std::FILE* f = e == 0 ? fdopen(fd, "r+b") : nullptr;
  if (f == nullptr) {
    *error = e != 0 ? e : errno;
    close(fd);
    return nullptr;
  }
  std::setvbuf(f, nullptr, _IONBF, 0);
  *size = static_cast<int64_t>(st.st_size);
  return f;
}

bool SyncStream(std::FILE* stream, int* error) {
  if (stream == nullptr) {
    *error = EBADF;
    return false;
  }
  if (std::fflush(stream) != 0 || fsync(fileno(stream)) != 0) {
    *error = errno;
    return false;
  }
  return true;
}

bool SyncDirectory(const char* name, int* error) {
  int fd = open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return false;
  }
  bool ok = fsync(fd) == 0;
  if (!ok) *error = errno;
  close(fd);
  return ok;
}

long ReadOnce(std::FILE* stream, void* buf, size_t n) {
  for (;;) {
    ssize_t got = read(fileno(stream), buf, n);
    if (got >= 0 || errno != EINTR) return static_cast<long>(got);
  }
}

long ReadOnceProbing(std::FILE* stream, void* buf, size_t n, int* probed) {
  char probe = 0;
  iovec parts[2] = {{buf, n}, {&probe, 1}};
  for (;;) {
    ssize_t got = readv(fileno(stream), parts, 2);
    if (got < 0 && errno == EINTR) continue;
    *probed = got > static_cast<ssize_t>(n) ? 1 : 0;
    return got < 0 ? -1 : static_cast<long>(got) - *probed;
  }
}

long BytesLeft(std::FILE* stream) {
  int n = 0;
  if (ioctl(fileno(stream), FIONREAD, &n) != 0) return -1;
  return n;
}

int OpenForReading(const char* name, int64_t* size) {
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  int e = fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  if (e != 0) {
    close(fd);
    errno = e;
    return -1;
  }
  *size = static_cast<int64_t>(st.st_size);
  return fd;
}

void CloseDescriptor(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace port
