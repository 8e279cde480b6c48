// Little-endian fixed-width fields and counted strings: the one coding of
// every byte format of the library (the Swap stream functions, the binary
// value form, class images, resource data).
//
// Fields are built with shifts, so the stored bytes never depend on the
// processor. A counted string is its byte count n (the text and its NUL) as
// a 16-bit field; when n is above kCountedShortMax the 16-bit field holds
// kCountedLongMarker and a 32-bit field with n follows; then the n bytes.
// n is never 0 (the NUL counts) and never above kCountedMax.
//
// Writers append to a std::string; readers take fields from a ByteCursor,
// which never reads past the bytes it was given. Stateless; thread-safe.
#ifndef VXKERNEL_BASE_CODING_H_
#define VXKERNEL_BASE_CODING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vxk_internal {

// ===== Counted strings =====

// Longest count the 16-bit field holds; longer counts are escaped.
constexpr uint32_t kCountedShortMax = 32767;
// The 16-bit field's value that announces a 32-bit count.
constexpr uint16_t kCountedLongMarker = 0xFFFF;
// Largest count any reader accepts.
constexpr uint32_t kCountedMax = 0x7FFFFFFF;
// Bytes of the longest count header: kCountedLongMarker, then 32 bits.
constexpr size_t kCountedHeaderMax = 2 + 4;

// ===== Fixed-width fields =====

inline void EncodeFixed16(char* dst, uint16_t v) {
  dst[0] = static_cast<char>(v & 0xFF);
  dst[1] = static_cast<char>(v >> 8);
}

inline void EncodeFixed32(char* dst, uint32_t v) {
  dst[0] = static_cast<char>(v & 0xFF);
  dst[1] = static_cast<char>((v >> 8) & 0xFF);
  dst[2] = static_cast<char>((v >> 16) & 0xFF);
  dst[3] = static_cast<char>(v >> 24);
}

inline uint16_t DecodeFixed16(const void* src) {
  const auto* p = static_cast<const unsigned char*>(src);
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t DecodeFixed32(const void* src) {
  const auto* p = static_cast<const unsigned char*>(src);
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void PutFixed16(std::string* dst, uint16_t v) {
  char b[2];
  EncodeFixed16(b, v);
  dst->append(b, 2);
}

inline void PutFixed32(std::string* dst, uint32_t v) {
  char b[4];
  EncodeFixed32(b, v);
  dst->append(b, 4);
}

// Writes the count header of a counted string of n bytes into dst (room for
// kCountedHeaderMax) and returns its size, 2 or 6.
// REQUIRES: 0 < n <= kCountedMax.
inline size_t EncodeCountedHeader(char* dst, uint32_t n) {
  if (n > kCountedShortMax) {
    EncodeFixed16(dst, kCountedLongMarker);
    EncodeFixed32(dst + 2, n);
    return 6;
  }
  EncodeFixed16(dst, static_cast<uint16_t>(n));
  return 2;
}

// Appends s (null: the empty text) up to its NUL, and the NUL, as a counted
// string. False, with nothing appended, when the text is longer than a
// count can say.
inline bool PutCountedString(std::string* dst, const char* s) {
  if (s == nullptr) s = "";
  const size_t n = std::strlen(s) + 1;  // the NUL counts
  if (n > kCountedMax) return false;
  char header[kCountedHeaderMax];
  dst->append(header, EncodeCountedHeader(header, static_cast<uint32_t>(n)));
  dst->append(s, n);
  return true;
}

// Reads a counted string's count through read(void* p, size_t n) -> bool,
// which fills p with the next n bytes or fails. On success stores the count
// (not yet checked against 0 or kCountedMax) and returns true; false when
// read fails.
template <class Read>
bool ReadCountedCount(Read&& read, uint32_t* n) {
  unsigned char b[4];
  if (!read(b, 2)) return false;
  const uint16_t first = DecodeFixed16(b);
  if (first != kCountedLongMarker) {
    *n = first;
    return true;
  }
  if (!read(b, 4)) return false;
  *n = DecodeFixed32(b);
  return true;
}

// Whether n can be the count of a stored string.
inline bool ValidCount(uint32_t n) { return n != 0 && n <= kCountedMax; }

// ===== Bounded cursor =====

// A cursor over bytes that stay where they are. Each Get either succeeds
// completely and moves on, or fails and leaves the cursor where it was;
// nothing is read past the end or allocated.
class ByteCursor {
 public:
  ByteCursor(const void* p, size_t n)
      : fPos(static_cast<const unsigned char*>(p)), fEnd(fPos + n) {}

  size_t Left() const { return static_cast<size_t>(fEnd - fPos); }
  const unsigned char* Pos() const { return fPos; }
  const unsigned char* End() const { return fEnd; }
  void Skip(size_t n) { fPos += n <= Left() ? n : Left(); }

  bool GetFixed16(uint16_t* v) {
    if (Left() < 2) return false;
    *v = DecodeFixed16(fPos);
    fPos += 2;
    return true;
  }
  bool GetFixed32(uint32_t* v) {
    if (Left() < 4) return false;
    *v = DecodeFixed32(fPos);
    fPos += 4;
    return true;
  }
  // n bytes in place.
  bool GetBytes(size_t n, const unsigned char** bytes) {
    if (Left() < n) return false;
    *bytes = fPos;
    fPos += n;
    return true;
  }
  // A counted string in place: its count (valid, and all its bytes there)
  // and where its bytes start.
  bool GetCounted(uint32_t* n, const unsigned char** bytes) {
    ByteCursor c = *this;
    uint32_t count = 0;
    if (!ReadCountedCount([&c](void* p, size_t k) { return c.Copy(p, k); }, &count) ||
        !ValidCount(count) || c.Left() < count) {
      return false;
    }
    *n = count;
    *bytes = c.fPos;
    fPos = c.fPos + count;
    return true;
  }
  // A counted string's text: the stored bytes up to the first NUL.
  bool GetCountedText(std::string* text) {
    uint32_t n = 0;
    const unsigned char* bytes = nullptr;
    if (!GetCounted(&n, &bytes)) return false;
    const void* nul = std::memchr(bytes, 0, n);
    const size_t len =
        nul != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - bytes) : n;
    text->assign(reinterpret_cast<const char*>(bytes), len);
    return true;
  }

 private:
  bool Copy(void* p, size_t n) {
    if (Left() < n) return false;
    std::memcpy(p, fPos, n);
    fPos += n;
    return true;
  }

  const unsigned char* fPos;
  const unsigned char* fEnd;
};

}  // namespace vxk_internal

#endif  // VXKERNEL_BASE_CODING_H_
