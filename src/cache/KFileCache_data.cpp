// KFileCache: storing and forwarding item data.
#include <cerrno>
#include <cstring>
#include <istream>
#include <memory>
#include <new>
#include <ostream>

#include "base/debug_line.h"
#include "cache/file_cache_internal.h"
#include "port/port.h"
#include "vxkernel/cache/KFileCache.h"

using vxk_internal::CacheDesc;
using vxk_internal::DebugLine;
using vxk_internal::DebugText;
using vxk_internal::kCacheCopyBuffer;

namespace {

constexpr unsigned long kStoreFailed = ~0UL;

std::unique_ptr<char[]> CopyBuffer() {
  return std::unique_ptr<char[]>(new (std::nothrow) char[kCacheCopyBuffer]);
}

// What a forwarding sink says after a chunk.
enum class Sent { kMore, kFailed };

// Reads the data from offset in chunks of up to kCacheCopyBuffer bytes
// (length 0: to the end) and hands each to sink(chunk, n). Returns the
// number of chunks read, or -1 when the seek fails or a write failed.
template <class Ready, class Sink>
long ForwardChunks(KFileCacheDesc* d, unsigned long offset, unsigned long length, bool debug,
                   char* buf, Ready ready, Sink sink) {
  std::FILE* f = d->fStream;
  // Right after Open the stream already stands at the data.
  if (!(offset == 0 && d->fPlace == KFileCacheDesc::kPlaceData) &&
      std::fseek(f, static_cast<long>(d->fHeaderSize + offset), SEEK_SET) != 0) {
    d->fPlace = KFileCacheDesc::kPlaceUnknown;
    return -1;
  }
  d->fPlace = KFileCacheDesc::kPlaceUnknown;
  long chunks = 0;
  unsigned long remaining = length;
  for (;;) {
    size_t want = length != 0 && remaining < kCacheCopyBuffer ? remaining : kCacheCopyBuffer;
    if (want == 0 || !ready()) break;
    long got = port::ReadOnce(f, buf, want);
    if (got <= 0) break;
    size_t n = static_cast<size_t>(got);
    ++chunks;
    if (debug) DebugText("KFileCache::ForwardData Read ", n, " from cachefile", '\n');
    Sent s = sink(buf, n);
    if (s == Sent::kFailed) return -1;
    remaining -= length != 0 ? n : 0;
    if (n < want) break;
  }
  return chunks;
}

bool CanForward(void* handle) {
  KFileCacheDesc* d = CacheDesc(handle);
  return d != nullptr && d->fStream != nullptr && d->fOpen != 0;
}

}  // namespace

// ===== Forwarding =====

unsigned char KFileCache::ForwardData(void* handle, std::FILE* out, unsigned long offset,
                                      unsigned long length) {
  if (!CanForward(handle) || out == nullptr) return 0;
  auto buf = CopyBuffer();
  if (buf == nullptr) return 0;
  const bool debug = Debug() != 0;
  long chunks = ForwardChunks(
      CacheDesc(handle), offset, length, debug, buf.get(), [] { return true; },
      [&](const char* p, size_t n) {
        size_t w = std::fwrite(p, 1, n, out);
        if (w != n) {
          int e = std::ferror(out) != 0 ? errno : 0;
          DebugText("KFileCache::ForwardData failed to write ", n, " to strm. ferror = ", e, " ",
                    std::strerror(e), '\n');
          return Sent::kFailed;
        }
        if (debug) DebugText("KFileCache::ForwardData wrote ", n, " to strm", '\n');
        return Sent::kMore;
      });
  return chunks > 0 ? 1 : 0;
}

unsigned char KFileCache::ForwardData(void* handle, std::ostream& out, unsigned long offset,
                                      unsigned long length) {
  if (!CanForward(handle)) return 0;
  auto buf = CopyBuffer();
  if (buf == nullptr) return 0;
  const bool debug = Debug() != 0;
  long chunks = ForwardChunks(
      CacheDesc(handle), offset, length, debug, buf.get(), [&] { return out.good(); },
      [&](const char* p, size_t n) {
        out.write(p, static_cast<std::streamsize>(n));
        if (!out.good()) return Sent::kFailed;
        if (debug) DebugText("KFileCache::ForwardData Wrote ", n, " to ostrm", '\n');
        return Sent::kMore;
      });
  return chunks > 0 ? 1 : 0;
}

unsigned char KFileCache::ForwardData(void* handle, unsigned char* buffer, unsigned long size,
                                      unsigned long offset, unsigned long length) {
  if (!CanForward(handle) || buffer == nullptr) return 0;
  KFileCacheDesc* d = CacheDesc(handle);
  const bool debug = Debug() != 0;
  if (!(offset == 0 && d->fPlace == KFileCacheDesc::kPlaceData) &&
      std::fseek(d->fStream, static_cast<long>(d->fHeaderSize + offset), SEEK_SET) != 0) {
    d->fPlace = KFileCacheDesc::kPlaceUnknown;
    return 0;
  }
  d->fPlace = KFileCacheDesc::kPlaceUnknown;
  // Every chunk is read straight into the caller's buffer. A chunk larger
  // than the room left is read only as far as the room goes; the bytes it
  // would have dropped are counted from the file's size rather than read
  // (the file of an open item never changes: a new version is a new file).
  unsigned long used = 0, remaining = length;
  bool any = false;
  while (used < size) {
    size_t want = length != 0 && remaining < kCacheCopyBuffer ? remaining : kCacheCopyBuffer;
    if (want == 0) break;
    const size_t room = size - used;
    char* into = reinterpret_cast<char*>(buffer) + used;
    // A chunk larger than the room is read as far as the room goes, with a
    // probe byte behind it: only when the probe finds more is the rest
    // counted from the file's size.
    int probed = 0;
    long got = want <= room ? port::ReadOnce(d->fStream, into, want)
                            : port::ReadOnceProbing(d->fStream, into, room, &probed);
    if (got <= 0) break;
    size_t n = static_cast<size_t>(got);
    if (probed != 0) {
      const long left = port::BytesLeft(d->fStream);
      const size_t more = 1 + (left > 0 ? static_cast<size_t>(left) : 0);
      n += more < want - room ? more : want - room;
    }
    any = true;
    if (debug) DebugText("KFileCache::ForwardData Read ", n, " from cachefile", '\n');
    size_t take = n < room ? n : room;
    used += take;
    if (debug) DebugText("KFileCache::ForwardData Wrote ", take, " to buffer.", '\n');
    if (take < n) DebugText("KFileCache::ForwardData Truncated ", n - take, " bytes.", '\n');
    remaining -= length != 0 ? n : 0;
    if (n < want) break;
  }
  return any ? 1 : 0;
}

// ===== Storing =====

bool KFileCache::HeaderBeforeData(KFileCacheDesc* d, const char* op) {
  // A handle that stands at the data has its header on disk already.
  if (d->fPlace != KFileCacheDesc::kPlaceData && SaveHeader(d) == 0) {
    DebugLine(op, "failed to save header.");
    return false;
  }
  d->fPlace = KFileCacheDesc::kPlaceUnknown;
  return true;
}

unsigned char KFileCache::StoreData(void* handle, const unsigned char* data, unsigned long length) {
  if (DescCanWrite(handle) == 0 || data == nullptr) return 0;
  KFileCacheDesc* d = CacheDesc(handle);
  if (length == 0) length = std::strlen(reinterpret_cast<const char*>(data));
  if (!HeaderBeforeData(d, "KFileCache::StoreData")) return 0;
  if (length != 0 && std::fwrite(data, 1, length, d->fStream) != length) {
    DebugText("KFileCache::StoreData failed to write ", length, " to cachefile.", '\n');
    return 0;
  }
  if (Debug() != 0) DebugText("KFileCache::StoreData wrote ", length, " to cachefile.", '\n');
  std::fflush(d->fStream);
  d->fComplete = 1;
  return 1;
}

unsigned long KFileCache::StoreData(void* handle, std::FILE* in, unsigned long length) {
  if (DescCanWrite(handle) == 0 || in == nullptr) return kStoreFailed;
  KFileCacheDesc* d = CacheDesc(handle);
  if (!HeaderBeforeData(d, "KFileCache::StoreData")) return kStoreFailed;
  auto buf = CopyBuffer();
  if (buf == nullptr) return kStoreFailed;
  const bool debug = Debug() != 0;
  unsigned long count = 0;
  bool failed = false;
  for (;;) {
    size_t n = std::fread(buf.get(), 1, kCacheCopyBuffer, in);
    if (n == 0 && std::ferror(in) != 0) {
      DebugText("KFileCache::StoreData input stream read error - ", std::strerror(errno), '\n');
      failed = true;
      break;
    }
    if (n == 0) break;
    if (debug) DebugText("KFileCache::StoreData Read ", n, " from strm", '\n');
    if (std::fwrite(buf.get(), 1, n, d->fStream) != n) {
      DebugText("KFileCache::StoreData failed to write ", n, " to cachefile.", '\n');
      failed = true;
      break;
    }
    if (debug) DebugText("KFileCache::StoreData wrote ", n, " to cachefile.", '\n');
    count += n;
  }
  if (failed) return kStoreFailed;
  if (length != 0 && count != length) {
    DebugText("KFileCache::StoreData received ", count, " bytes, expected ", length, " bytes.",
              '\n');
    return kStoreFailed;
  }
  if (count == 0) {
    DebugText("KFileCache::StoreData received no data from strm.", '\n');
    return kStoreFailed;
  }
  std::fflush(d->fStream);
  d->fComplete = 1;
  return count;
}

unsigned char KFileCache::StoreData(void* handle, std::istream& in, unsigned long length) {
  return StoreAndForwardData(handle, in, static_cast<std::ostream*>(nullptr), length);
}

namespace {

// The loop of both StoreAndForwardData forms; forward(chunk, n) returns
// false to stop the whole transfer.
template <class Forward>
bool StoreFromStream(KFileCacheDesc* d, std::istream& in, unsigned long length, bool debug,
                     Forward forward) {
  auto buf = CopyBuffer();
  if (buf == nullptr) return false;
  unsigned long count = 0;
  while (in.good()) {
    in.read(buf.get(), static_cast<std::streamsize>(kCacheCopyBuffer));
    size_t n = static_cast<size_t>(in.gcount());
    if (in.bad()) {
      DebugText("KFileCache::StoreAndForwardData input istream error.", '\n');
      return false;
    }
    if (n == 0) break;
    count += n;
    if (debug) DebugText("KFileCache::StoreAndForwardData Read ", n, " from istream", '\n');
    if (!forward(buf.get(), n)) return false;
    if (std::fwrite(buf.get(), 1, n, d->fStream) != n) {
      DebugText("KFileCache::StoreAndForwardData failed to write ", n, " to cachefile.", '\n');
      return false;
    }
    if (debug) DebugText("KFileCache::StoreAndForwardData wrote ", n, " to cachefile.", '\n');
  }
  if (length != 0 && count != length) {
    DebugText("KFileCache::StoreAndForwardData received ", count, " bytes, expected ", length,
              " bytes.", '\n');
    return false;
  }
  if (count == 0) {
    DebugText("KFileCache::StoreAndForwardData received no data from istream.", '\n');
    return false;
  }
  return true;
}

}  // namespace

unsigned char KFileCache::StoreAndForwardData(void* handle, std::istream& in, std::ostream* out,
                                              unsigned long length) {
  if (!in.good() || DescCanWrite(handle) == 0) return 0;
  KFileCacheDesc* d = CacheDesc(handle);
  if (!HeaderBeforeData(d, "KFileCache::StoreAndForwardData")) return 0;
  const bool debug = Debug() != 0;
  // A failing out stream does not stop storing.
  bool ok = StoreFromStream(d, in, length, debug, [&](const char* p, size_t n) {
    if (out != nullptr && out->good()) {
      out->write(p, static_cast<std::streamsize>(n));
      if (debug) DebugText("KFileCache::StoreAndForwardData Wrote ", n, " to ostrm", '\n');
    }
    return true;
  });
  if (!ok) return 0;
  std::fflush(d->fStream);
  d->fComplete = 1;
  return 1;
}

unsigned char KFileCache::StoreAndForwardData(void* handle, std::istream& in, std::FILE* out,
                                              unsigned long length) {
  if (!in.good() || DescCanWrite(handle) == 0) return 0;
  KFileCacheDesc* d = CacheDesc(handle);
  if (!HeaderBeforeData(d, "KFileCache::StoreAndForwardData")) return 0;
  const bool debug = Debug() != 0;
  bool ok = StoreFromStream(d, in, length, debug, [&](const char* p, size_t n) {
    if (out == nullptr) return true;
    if (std::fwrite(p, 1, n, out) != n) {
      DebugText("KFileCache::StoreAndForwardData failed to write ", n, " to strm", '\n');
      return false;
    }
    if (debug) DebugText("KFileCache::StoreAndForwardData wrote ", n, " to strm", '\n');
    return true;
  });
  if (!ok) return 0;
  std::fflush(d->fStream);
  d->fComplete = 1;
  return 1;
}
