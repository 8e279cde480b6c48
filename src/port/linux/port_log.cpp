#include <unistd.h>

#include <cerrno>

#include "port/port.h"

namespace port {

bool WriteAll(int fd, const char* data, size_t n, size_t* written) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = write(fd, data + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  *written = done;
  return done == n;
}

}  // namespace port
