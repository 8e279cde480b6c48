// Whole-file reads and replacements, and the flock around edits.
#include "serve_jsonfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace serve {

namespace {

// The new file's time: now, but always after the old file's. The kernel
// stamps files from a clock that moves in ticks of milliseconds, and an
// inode freed by one rename may come back with the next; two quick edits
// could then leave inode, size and time as a reader last saw them.
timespec NextTime(const struct stat& previous) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  timespec after = previous.st_mtim;
  if (++after.tv_nsec == 1000000000) {
    after.tv_nsec = 0;
    ++after.tv_sec;
  }
  bool later = now.tv_sec != after.tv_sec ? now.tv_sec > after.tv_sec : now.tv_nsec > after.tv_nsec;
  return later ? now : after;
}

}  // namespace

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool ReadWholeFile(const std::string& path, std::string* text, struct stat* seen, std::string* error) {
  text->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      *error = "cannot read " + path + ": " + std::strerror(errno);
      return false;
    }
    *seen = {};
    return true;
  }
  struct stat st {};
  bool read = fstat(fd, &st) == 0;
  char buf[65536];
  for (ssize_t n; read && (n = ::read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) read = false;
    else text->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  if (!read) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  *seen = st;
  return true;
}

bool WriteWholeFile(const std::string& dir, const std::string& path, const std::string& bytes,
                    const struct stat& previous, std::string* error) {
  std::string temp = path + ".tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool ok = fd >= 0;
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  const timespec times[2] = {{0, UTIME_OMIT}, NextTime(previous)};
  ok = ok && futimens(fd, times) == 0 && fsync(fd) == 0;
  if (fd >= 0 && close(fd) != 0) ok = false;
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}

FileLock::FileLock(const std::string& path, int how) : fPath(path) {
  fFd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  while (fFd >= 0 && flock(fFd, how) != 0) {
    if (errno == EINTR) continue;
    fErrno = errno;
    close(fFd);
    fFd = -1;
  }
  if (fFd < 0 && fErrno == 0) fErrno = errno;
}

FileLock::~FileLock() {
  if (fFd >= 0) close(fFd);  // closing releases the lock
}

bool FileLock::Held(std::string* error) const {
  if (fFd < 0) *error = "cannot lock " + fPath + ": " + std::strerror(fErrno);
  return fFd >= 0;
}

// The count is the first 8 bytes of the lock file (the machine's order,
// little-endian here; missing bytes count as 0).
constexpr size_t kCountBytes = sizeof(uint64_t);

const uint64_t* MapEditCount(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat st {};
  void* p = MAP_FAILED;
  // A mapping past the file's end would fault on reading: make the bytes.
  if (fstat(fd, &st) == 0 && (st.st_size >= static_cast<off_t>(kCountBytes) || ftruncate(fd, kCountBytes) == 0))
    p = mmap(nullptr, kCountBytes, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  return p == MAP_FAILED ? nullptr : static_cast<const uint64_t*>(p);
}

void UnmapEditCount(const uint64_t* mapped) {
  if (mapped != nullptr) munmap(const_cast<uint64_t*>(mapped), kCountBytes);
}

uint64_t EditCount(const uint64_t* mapped) {
  return mapped != nullptr ? __atomic_load_n(mapped, __ATOMIC_ACQUIRE) : 0;
}

void CountEdit(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  uint64_t n = 0;
  if (pread(fd, &n, kCountBytes, 0) != static_cast<ssize_t>(kCountBytes)) n = 0;
  ++n;
  if (pwrite(fd, &n, kCountBytes, 0) != static_cast<ssize_t>(kCountBytes)) {
    // Nothing more to do: the readers' periodic stat finds the edit.
  }
  close(fd);
}

int64_t SteadyNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace serve
