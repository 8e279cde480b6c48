// Byte-range locks and sharing modes over open-file-description locks.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "port/port.h"

namespace port {

namespace {

// Marker bytes above every caller range. An open holds a shared lock on the
// marker of each access it has and of each access it denies others.
constexpr int64_t kAccessRead = kShareMarkerBase + 0;
constexpr int64_t kAccessWrite = kShareMarkerBase + 1;
constexpr int64_t kDenyRead = kShareMarkerBase + 2;
constexpr int64_t kDenyWrite = kShareMarkerBase + 3;

int SetLock(int fd, short type, int64_t start, int64_t len, bool wait) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(len);
  fl.l_pid = 0;  // required by open-file-description locks
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// True when another open file description holds any lock on the byte.
bool HeldByOther(int fd, int64_t byte) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(byte);
  fl.l_len = 1;
  fl.l_pid = 0;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;  // cannot tell: refuse
  return fl.l_type != F_UNLCK;
}

// See OpenShared.
bool ShareModeAcquire(int fd, bool wantRead, bool wantWrite, unsigned share) {
  const bool denyRead = (share & 1) == 0;
  const bool denyWrite = (share & 2) == 0;
  // Take our own markers before checking the others': of two opens racing,
  // the later checker always sees the earlier one, so both may fail but
  // never both succeed against each other's rule.
  bool ok = true;
  if (wantRead) ok = ok && SetLock(fd, F_RDLCK, kAccessRead, 1, false) == 0;
  if (wantWrite) ok = ok && SetLock(fd, F_RDLCK, kAccessWrite, 1, false) == 0;
  if (denyRead) ok = ok && SetLock(fd, F_RDLCK, kDenyRead, 1, false) == 0;
  if (denyWrite) ok = ok && SetLock(fd, F_RDLCK, kDenyWrite, 1, false) == 0;
  if (ok && wantRead && HeldByOther(fd, kDenyRead)) ok = false;
  if (ok && wantWrite && HeldByOther(fd, kDenyWrite)) ok = false;
  if (ok && denyRead && HeldByOther(fd, kAccessRead)) ok = false;
  if (ok && denyWrite && HeldByOther(fd, kAccessWrite)) ok = false;
  if (!ok) SetLock(fd, F_UNLCK, kShareMarkerBase, 4, false);
  return ok;
}

}  // namespace

int StreamDescriptor(std::FILE* stream) { return stream == nullptr ? -1 : fileno(stream); }

int RangeLock(int fd, int64_t start, int64_t len, bool exclusive, bool wait) {
  return SetLock(fd, exclusive ? F_WRLCK : F_RDLCK, start, len, wait);
}

int RangeUnlock(int fd, int64_t start, int64_t len) { return SetLock(fd, F_UNLCK, start, len, false); }


std::FILE* OpenShared(const char* name, const char* mode, unsigned share, bool* refused) {
  *refused = false;
  if (name == nullptr || mode == nullptr) return nullptr;
  int flags = 0;
  switch (mode[0]) {
    case 'r':
      break;
    case 'w':
      flags = O_CREAT;  // truncated only after the sharing check
      break;
    case 'a':
      flags = O_CREAT | O_APPEND;
      break;
    default:
      errno = EINVAL;
      return nullptr;
  }
  const bool plus = strchr(mode, '+') != nullptr;
  const bool wantRead = mode[0] == 'r' || plus;
  const bool wantWrite = mode[0] != 'r' || plus;
  if (strchr(mode, 'x') != nullptr) flags |= O_EXCL;
  if (strchr(mode, 'e') != nullptr) flags |= O_CLOEXEC;
  // The sharing markers are shared (read) locks, which need a readable
  // descriptor, so a write-only mode opens for reading too where the file
  // allows it; the stream itself still only writes. A file that may be
  // written but not read is opened write-only and takes no markers.
  const int access = wantRead ? (wantWrite ? O_RDWR : O_RDONLY) : O_RDWR;
  // O_NONBLOCK only for the open: a FIFO without a writer would hold it
  // forever. Reads and writes on the stream block as usual.
  flags |= O_NONBLOCK;
  int fd;
  do {
    fd = open(name, flags | access, 0666);
  } while (fd < 0 && errno == EINTR);
  bool markers = true;
  if (fd < 0 && errno == EACCES && !wantRead) {
    markers = false;
    do {
      fd = open(name, flags | O_WRONLY, 0666);
    } while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || ((share & kShareRegularOnly) != 0 && !S_ISREG(st.st_mode))) {
    close(fd);
    errno = EINVAL;
    return nullptr;
  }
  const int fdFlags = fcntl(fd, F_GETFL);
  if (fdFlags == -1 || fcntl(fd, F_SETFL, fdFlags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  if (markers && S_ISREG(st.st_mode) && !ShareModeAcquire(fd, wantRead, wantWrite, share)) {
    close(fd);
    *refused = true;
    return nullptr;
  }
  if (mode[0] == 'w' && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
  // fdopen with "w" does not truncate again and keeps the descriptor's flags.
  std::FILE* stream = fdopen(fd, mode);
  if (stream == nullptr) close(fd);
  return stream;
}

}  // namespace port
