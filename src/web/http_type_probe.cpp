// KHTTPArgs::WriteTypeProbe: what a type detection reads of a part file's
// data, for a part written with room before its data.
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "base/debug_line.h"
#include "port/port.h"
#include "vxkernel/web/KHTTPArgs.h"

using vxk_internal::DebugLine;

namespace {

const char kProbe[] = "KHTTPArgs::WriteTypeProbe";
constexpr size_t kChunk = 1 << 20;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Copies n bytes from in at from to out at to.
bool CopyRange(std::FILE* in, int64_t from, std::FILE* out, int64_t to, int64_t n, char* buf) {
  if (std::fseek(in, static_cast<long>(from), SEEK_SET) != 0 ||
      std::fseek(out, static_cast<long>(to), SEEK_SET) != 0) {
    return false;
  }
  while (n > 0) {
    const size_t want = n < static_cast<int64_t>(kChunk) ? static_cast<size_t>(n) : kChunk;
    if (std::fread(buf, 1, want, in) != want || std::fwrite(buf, 1, want, out) != want) {
      return false;
    }
    n -= static_cast<int64_t>(want);
  }
  return true;
}

}  // namespace

bool KHTTPArgs::WriteTypeProbe(const char* path, uint64_t dataOffset, const char* probePath) {
  if (path == nullptr || probePath == nullptr) return false;
  File in(std::fopen(path, "rbe"));
  if (in == nullptr || std::fseek(in.get(), 0, SEEK_END) != 0) {
    const int e = errno;
    DebugLine(kProbe, "could not read ", path, " : ", std::strerror(e));
    errno = e;
    return false;
  }
  const int64_t size = static_cast<int64_t>(std::ftell(in.get())) - static_cast<int64_t>(dataOffset);
  const int64_t data = size > 0 ? size : 0;
  std::unique_ptr<char[]> buf(new (std::nothrow) char[kChunk]);
  port::RemoveFile(probePath);
  File out(std::fopen(probePath, "wbxe"));
  if (buf == nullptr || out == nullptr) {
    const int e = buf == nullptr ? ENOMEM : errno;
    DebugLine(kProbe, "could not make ", probePath, " : ", std::strerror(e));
    errno = e;
    return false;
  }
  std::setvbuf(in.get(), nullptr, _IONBF, 0);
  std::setvbuf(out.get(), nullptr, _IONBF, 0);
  const int64_t off = static_cast<int64_t>(dataOffset);
  const int64_t head = data < kTypeProbeBytes ? data : kTypeProbeBytes;
  const int64_t tail = data - kTypeProbeBytes > head ? data - kTypeProbeBytes : head;
  bool ok = CopyRange(in.get(), off, out.get(), 0, head, buf.get()) &&
            CopyRange(in.get(), off + tail, out.get(), tail, data - tail, buf.get());
  if (std::fclose(out.release()) != 0) ok = false;
  if (!ok) {
    const int e = errno;
    DebugLine(kProbe, "could not copy ", path, " to ", probePath, " : ", std::strerror(e));
    port::RemoveFile(probePath);
    errno = e;
  }
  return ok;
}
