// Little-endian stream I/O in the library's one coding (base/coding.h), so
// the stored format does not depend on the processor.
#include "vxkernel/text/Swap.h"

#include <cstddef>
#include <cstring>
#include <string>

#include "base/coding.h"
#include "base/debug_line.h"

namespace {

using vxk_internal::DebugLine;
using vxk_internal::DecodeFixed16;
using vxk_internal::DecodeFixed32;
using vxk_internal::EncodeCountedHeader;
using vxk_internal::EncodeFixed16;
using vxk_internal::EncodeFixed32;
using vxk_internal::kCountedHeaderMax;
using vxk_internal::kCountedMax;
using vxk_internal::ReadCountedCount;
using vxk_internal::ValidCount;

// Both stream kinds behind two verbs, so the format is written once.
struct FileIo {
  std::FILE* f;
  bool Read(void* p, size_t n) { return n == 0 || (f != nullptr && std::fread(p, 1, n, f) == n); }
  bool Write(const void* p, size_t n) {
    return n == 0 || (f != nullptr && std::fwrite(p, 1, n, f) == n);
  }
};

struct StreamIo {
  std::istream* in;
  std::ostream* out;
  bool Read(void* p, size_t n) {
    if (n == 0) return true;
    in->read(static_cast<char*>(p), static_cast<std::streamsize>(n));
    return static_cast<size_t>(in->gcount()) == n && !in->bad();
  }
  bool Write(const void* p, size_t n) {
    if (n == 0) return true;
    out->write(static_cast<const char*>(p), static_cast<std::streamsize>(n));
    return out->good();
  }
};

// An integer of kBytes (1, 2 or 4) bytes, least significant first.
template <size_t kBytes>
uint32_t DecodeUnsigned(const unsigned char* b) {
  if constexpr (kBytes == 4) {
    return DecodeFixed32(b);
  } else if constexpr (kBytes == 2) {
    return DecodeFixed16(b);
  } else {
    static_assert(kBytes == 1);
    return b[0];
  }
}

template <size_t kBytes>
void EncodeUnsigned(char* b, uint32_t v) {
  if constexpr (kBytes == 4) {
    EncodeFixed32(b, v);
  } else if constexpr (kBytes == 2) {
    EncodeFixed16(b, static_cast<uint16_t>(v));
  } else {
    static_assert(kBytes == 1);
    b[0] = static_cast<char>(v);
  }
}

template <typename Io>
bool WriteStr(Io& io, const char* s) {
  if (s == nullptr) s = "";
  const size_t len = std::strlen(s) + 1;  // the NUL counts
  if (len > kCountedMax) {
    DebugLine("SwapWriteStr", "text too long");
    return false;
  }
  char header[kCountedHeaderMax];
  const size_t headerSize = EncodeCountedHeader(header, static_cast<uint32_t>(len));
  if (!io.Write(header, headerSize) || !io.Write(s, len)) {
    DebugLine("SwapWriteStr", "write failed");
    return false;
  }
  return true;
}

template <typename Io>
KString ReadStr(Io& io) {
  uint32_t len = 0;
  if (!ReadCountedCount([&io](void* p, size_t n) { return io.Read(p, n); }, &len)) {
    DebugLine("SwapReadStr", "unexpected end of stream");
    return KString();
  }
  if (!ValidCount(len)) {
    DebugLine("SwapReadStr", "invalid length");
    return KString();
  }
  // Read in pieces so a damaged length does not allocate gigabytes before
  // the stream runs dry.
  std::string bytes;
  char piece[4096];
  for (uint32_t left = len; left > 0;) {
    const uint32_t k = left < sizeof piece ? left : static_cast<uint32_t>(sizeof piece);
    if (!io.Read(piece, k)) {
      DebugLine("SwapReadStr", "unexpected end of stream");
      return KString();
    }
    bytes.append(piece, k);
    left -= k;
  }
  const size_t text = std::strlen(bytes.c_str());  // up to the first NUL
  return KString(bytes.data(), static_cast<unsigned>(text));
}

template <typename Io>
bool ReadBytes(Io& io, void* buf, long n) {
  if (n < 0 || (buf == nullptr && n > 0)) {
    DebugLine("SwapReadBytes", "invalid arguments");
    return false;
  }
  if (!io.Read(buf, static_cast<size_t>(n))) {
    DebugLine("SwapReadBytes", "unexpected end of stream");
    return false;
  }
  return true;
}

template <typename Io>
bool WriteBytes(Io& io, const void* buf, long n) {
  if (n < 0 || (buf == nullptr && n > 0)) {
    DebugLine("SwapWriteBytes", "invalid arguments");
    return false;
  }
  if (!io.Write(buf, static_cast<size_t>(n))) {
    DebugLine("SwapWriteBytes", "write failed");
    return false;
  }
  return true;
}

template <typename T, typename Io>
bool ReadInt(Io& io, T* v, const char* function) {
  unsigned char b[sizeof(T)];
  if (!io.Read(b, sizeof b)) {
    DebugLine(function, "unexpected end of stream");
    return false;
  }
  // Two's complement: the low bytes are the value.
  if (v != nullptr) *v = static_cast<T>(DecodeUnsigned<sizeof(T)>(b));
  return true;
}

template <typename T, typename Io>
bool WriteInt(Io& io, T v, const char* function) {
  char b[sizeof(T)];
  EncodeUnsigned<sizeof(T)>(b, static_cast<uint32_t>(v));
  if (!io.Write(b, sizeof b)) {
    DebugLine(function, "write failed");
    return false;
  }
  return true;
}

}  // namespace

bool SwapReadI1(std::FILE* f, int8_t* v) {
  FileIo io{f};
  return ReadInt(io, v, "SwapReadI1");
}
bool SwapReadI2(std::FILE* f, int16_t* v) {
  FileIo io{f};
  return ReadInt(io, v, "SwapReadI2");
}
bool SwapReadI4(std::FILE* f, int32_t* v) {
  FileIo io{f};
  return ReadInt(io, v, "SwapReadI4");
}
bool SwapWriteI1(std::FILE* f, int8_t v) {
  FileIo io{f};
  return WriteInt(io, v, "SwapWriteI1");
}
bool SwapWriteI2(std::FILE* f, int16_t v) {
  FileIo io{f};
  return WriteInt(io, v, "SwapWriteI2");
}
bool SwapWriteI4(std::FILE* f, int32_t v) {
  FileIo io{f};
  return WriteInt(io, v, "SwapWriteI4");
}
KString SwapReadStr(std::FILE* f) {
  FileIo io{f};
  return ReadStr(io);
}
bool SwapWriteStr(std::FILE* f, const char* s) {
  FileIo io{f};
  return WriteStr(io, s);
}
bool SwapReadBytes(std::FILE* f, void* buf, long n) {
  FileIo io{f};
  return ReadBytes(io, buf, n);
}
bool SwapWriteBytes(std::FILE* f, const void* buf, long n) {
  FileIo io{f};
  return WriteBytes(io, buf, n);
}

bool SwapReadI1(std::istream& in, int8_t* v) {
  StreamIo io{&in, nullptr};
  return ReadInt(io, v, "SwapReadI1");
}
bool SwapReadI2(std::istream& in, int16_t* v) {
  StreamIo io{&in, nullptr};
  return ReadInt(io, v, "SwapReadI2");
}
bool SwapReadI4(std::istream& in, int32_t* v) {
  StreamIo io{&in, nullptr};
  return ReadInt(io, v, "SwapReadI4");
}
bool SwapWriteI1(std::ostream& out, int8_t v) {
  StreamIo io{nullptr, &out};
  return WriteInt(io, v, "SwapWriteI1");
}
bool SwapWriteI2(std::ostream& out, int16_t v) {
  StreamIo io{nullptr, &out};
  return WriteInt(io, v, "SwapWriteI2");
}
bool SwapWriteI4(std::ostream& out, int32_t v) {
  StreamIo io{nullptr, &out};
  return WriteInt(io, v, "SwapWriteI4");
}
KString SwapReadStr(std::istream& in) {
  StreamIo io{&in, nullptr};
  return ReadStr(io);
}
bool SwapWriteStr(std::ostream& out, const char* s) {
  StreamIo io{nullptr, &out};
  return WriteStr(io, s);
}
bool SwapReadBytes(std::istream& in, void* buf, long n) {
  StreamIo io{&in, nullptr};
  return ReadBytes(io, buf, n);
}
bool SwapWriteBytes(std::ostream& out, const void* buf, long n) {
  StreamIo io{nullptr, &out};
  return WriteBytes(io, buf, n);
}
