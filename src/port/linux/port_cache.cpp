// Syncing cache item files and their directories for durable commits.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "port/port.h"

namespace port {

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

}  // namespace port
