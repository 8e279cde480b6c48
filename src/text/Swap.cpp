// Little-endian stream I/O. The byte order is built explicitly with shifts,
// so the stored format does not depend on the processor.
#include "vxkernel/text/Swap.h"

#include <cstring>
#include <memory>

#include "base/debug_line.h"

namespace {

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

void Report(const char* function, const char* what) { vxk_internal::DebugLine(function, what); }

template <typename Io>
bool ReadUnsigned(Io& io, size_t bytes, uint32_t* v, const char* function) {
  unsigned char b[4] = {0, 0, 0, 0};
  if (!io.Read(b, bytes)) {
    Report(function, "unexpected end of stream");
    return false;
  }
  uint32_t r = 0;
  for (size_t i = bytes; i-- > 0;) r = (r << 8) | b[i];
  *v = r;
  return true;
}

template <typename Io>
bool WriteUnsigned(Io& io, size_t bytes, uint32_t v, const char* function) {
  unsigned char b[4];
  for (size_t i = 0; i < bytes; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
  if (!io.Write(b, bytes)) {
    Report(function, "write failed");
    return false;
  }
  return true;
}

// Longest length the 16-bit field holds; longer ones are escaped.
constexpr uint32_t kShortLengthMax = 32767;
constexpr uint32_t kLongLengthMarker = 0xFFFF;

template <typename Io>
bool WriteStr(Io& io, const char* s) {
  if (s == nullptr) s = "";
  const size_t len = std::strlen(s) + 1;  // the NUL counts
  if (len > 0x7FFFFFFF) {
    Report("SwapWriteStr", "text too long");
    return false;
  }
  bool ok;
  if (len > kShortLengthMax) {
    ok = WriteUnsigned(io, 2, kLongLengthMarker, "SwapWriteStr") &&
         WriteUnsigned(io, 4, static_cast<uint32_t>(len), "SwapWriteStr");
  } else {
    ok = WriteUnsigned(io, 2, static_cast<uint32_t>(len), "SwapWriteStr");
  }
  if (ok && !io.Write(s, len)) {
    Report("SwapWriteStr", "write failed");
    ok = false;
  }
  return ok;
}

template <typename Io>
KString ReadStr(Io& io) {
  uint32_t len = 0;
  if (!ReadUnsigned(io, 2, &len, "SwapReadStr")) return KString();
  if (len == kLongLengthMarker) {
    if (!ReadUnsigned(io, 4, &len, "SwapReadStr")) return KString();
    if (len > 0x7FFFFFFF) {
      Report("SwapReadStr", "invalid length");
      return KString();
    }
  }
  if (len == 0) {
    Report("SwapReadStr", "invalid length");
    return KString();
  }
  // Read in pieces so a damaged length does not allocate gigabytes before
  // the stream runs dry.
  std::string bytes;
  char piece[4096];
  for (uint32_t left = len; left > 0;) {
    const uint32_t k = left < sizeof piece ? left : static_cast<uint32_t>(sizeof piece);
    if (!io.Read(piece, k)) {
      Report("SwapReadStr", "unexpected end of stream");
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
    Report("SwapReadBytes", "invalid arguments");
    return false;
  }
  if (!io.Read(buf, static_cast<size_t>(n))) {
    Report("SwapReadBytes", "unexpected end of stream");
    return false;
  }
  return true;
}

template <typename Io>
bool WriteBytes(Io& io, const void* buf, long n) {
  if (n < 0 || (buf == nullptr && n > 0)) {
    Report("SwapWriteBytes", "invalid arguments");
    return false;
  }
  if (!io.Write(buf, static_cast<size_t>(n))) {
    Report("SwapWriteBytes", "write failed");
    return false;
  }
  return true;
}

template <typename T, typename Io>
bool ReadInt(Io& io, T* v, const char* function) {
  uint32_t u = 0;
  if (!ReadUnsigned(io, sizeof(T), &u, function)) return false;
  if (v != nullptr) *v = static_cast<T>(u);  // two's complement: the low bytes are the value
  return true;
}

template <typename T, typename Io>
bool WriteInt(Io& io, T v, const char* function) {
  return WriteUnsigned(io, sizeof(T), static_cast<uint32_t>(v), function);
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
