// Case, white-space, substring and editing functions of the str_ module.
// All of them walk whole characters in double-byte mode, so a pair is never
// split and its trail byte is never changed or taken for an ASCII byte.
#include "vxkernel/text/str.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/debug_line.h"
#include "text/text_walk.h"

namespace {

using vxk_internal::TextEnv;

inline unsigned char* U(char* s) { return reinterpret_cast<unsigned char*>(s); }
inline const unsigned char* U(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

inline bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }
// White space as the trim functions see it: ASCII only, so a byte of a
// multi-byte character is never removed.
inline bool IsTrimSpace(unsigned char c) { return c < 0x80 && std::isspace(c); }

char* NewCopy(const char* p, size_t n) {
  char* r = new char[n + 1];
  if (n > 0) std::memcpy(r, p, n);
  r[n] = '\0';
  return r;
}

template <typename Fn>
char* MapSingleBytes(char* s, Fn fn) {
  if (s == nullptr) return s;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  unsigned char* p = U(s);
  while (*p != 0) {
    if (e.PairAt(p)) {
      p += 2;
    } else {
      *p = static_cast<unsigned char>(fn(*p));
      ++p;
    }
  }
  return s;
}

// Byte length of the last character of s[0..n) in UTF-8 mode when it is an
// incomplete sequence, else 0.
size_t IncompleteUtf8Tail(const unsigned char* s, size_t n) {
  size_t start = n;
  size_t back = 0;
  while (start > 0 && back < 4 && (s[start - 1] & 0xC0) == 0x80) {
    --start;
    ++back;
  }
  if (start == 0) return 0;
  const unsigned char lead = s[start - 1];
  size_t want = 0;
  if (lead >= 0xF0 && lead <= 0xF7)
    want = 4;
  else if (lead >= 0xE0 && lead <= 0xEF)
    want = 3;
  else if (lead >= 0xC0 && lead <= 0xDF)
    want = 2;
  const size_t have = n - (start - 1);
  return (want != 0 && have < want) ? have : 0;
}

// The byte range [start, end) that str_sub, str_substring and str_delete
// work on: both ends rounded down to character boundaries.
void Range(const TextEnv& e, const char* s, long pos, long len, size_t* start, size_t* end) {
  const size_t total = std::strlen(s);
  if (pos < 0) pos = 0;
  if (len < 0) len = 0;
  if (static_cast<size_t>(pos) >= total) {
    *start = *end = total;
    return;
  }
  *start = vxk_internal::RoundDownToBoundary(e, s, pos);
  const long endPos = (static_cast<size_t>(len) > total) ? static_cast<long>(total) + 1
                                                         : static_cast<long>(*start) + len;
  *end = vxk_internal::RoundDownToBoundary(e, s, endPos);
}

}  // namespace

// ===== Case and white space =====

char* str_upper(char* s) {
  return MapSingleBytes(s, [](unsigned char c) { return std::toupper(c); });
}

char* str_lower(char* s) {
  return MapSingleBytes(s, [](unsigned char c) { return std::tolower(c); });
}

long str_capitalize(char* s) {
  if (s == nullptr) return 0;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  unsigned char* p = U(s);
  bool inWord = false;
  while (*p != 0) {
    if (e.PairAt(p)) {
      inWord = false;
      p += 2;
      continue;
    }
    const unsigned char c = *p;
    if (std::isalpha(c) || c == '-') {
      *p = static_cast<unsigned char>(inWord ? std::tolower(c) : std::toupper(c));
      inWord = true;
    } else {
      inWord = false;
    }
    ++p;
  }
  return static_cast<long>(p - U(s));
}

namespace {

// Drops every blank outside double-byte pairs (keepOne false) or squeezes
// each run of blanks to one space (keepOne true), in place.
long SqueezeBlanks(char* s, bool keepOne) {
  if (s == nullptr) return 0;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  unsigned char* r = U(s);
  unsigned char* w = r;
  while (*r != 0) {
    if (e.PairAt(r)) {
      *w++ = *r++;
      *w++ = *r++;
    } else if (IsBlank(*r)) {
      while (IsBlank(*r)) ++r;
      if (keepOne) *w++ = ' ';
    } else {
      *w++ = *r++;
    }
  }
  *w = 0;
  return static_cast<long>(w - U(s));
}

}  // namespace

long str_collapse(char* s) { return SqueezeBlanks(s, false); }

long str_compress(char* s) { return SqueezeBlanks(s, true); }

char* str_trim(char* s) {
  if (s == nullptr) return s;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  unsigned char* p = U(s);
  unsigned char* keep = p;  // end of the last character that is not white space
  while (*p != 0) {
    const size_t k = vxk_internal::UnitBytes(e, p);
    if (k == 2 || !IsTrimSpace(*p)) keep = p + k;
    p += k;
  }
  *keep = 0;
  return s;
}

char* str_trimlr(char* s) {
  if (s == nullptr) return s;
  str_trim(s);
  size_t lead = 0;
  while (IsTrimSpace(U(s)[lead])) ++lead;
  if (lead > 0) std::memmove(s, s + lead, std::strlen(s + lead) + 1);
  return s;
}

char* str_trimall(char* s) { return str_trimlr(s); }

long str_strip(char* s, const char* chars) {
  if (s == nullptr) return 0;
  if (chars == nullptr || *chars == 0) return static_cast<long>(std::strlen(s));
  const TextEnv e = vxk_internal::CurrentTextEnv();
  unsigned char* r = U(s);
  unsigned char* w = r;
  while (*r != 0) {
    const size_t k = vxk_internal::UnitBytes(e, r);
    bool drop = false;
    for (const unsigned char* c = U(chars); *c != 0;) {
      const size_t kc = vxk_internal::UnitBytes(e, c);
      if (kc == k && std::memcmp(c, r, k) == 0) {
        drop = true;
        break;
      }
      c += kc;
    }
    if (!drop) {
      std::memmove(w, r, k);
      w += k;
    }
    r += k;
  }
  *w = 0;
  return static_cast<long>(w - U(s));
}

char* str_translate_n(char* s, long n, const char* from, const char* to) {
  if (s == nullptr || from == nullptr || to == nullptr) return s;
  unsigned char map[256];
  for (int i = 0; i < 256; ++i) map[i] = static_cast<unsigned char>(i);
  const size_t pairs = std::min(std::strlen(from), std::strlen(to));
  // Filled backwards so that the first occurrence in from wins.
  for (size_t i = pairs; i-- > 0;) map[U(from)[i]] = U(to)[i];
  // A double-byte character is left whole: its trail byte may equal an
  // ASCII byte of the table ("\\" is a trail byte in Shift-JIS).
  const TextEnv e = vxk_internal::CurrentTextEnv();
  unsigned char* p = U(s);
  for (long i = 0; i < n && p[i] != 0; ++i) {
    if (e.PairAt(p + i)) {
      ++i;
      continue;
    }
    p[i] = map[p[i]];
  }
  return s;
}

char* str_fill(char* s, unsigned short ch, long n) {
  if (s == nullptr) return s;
  if (n < 0) n = 0;
  if (ch > 0xFF) {
    n &= ~1L;
    for (long i = 0; i < n; i += 2) {
      s[i] = static_cast<char>(ch >> 8);
      s[i + 1] = static_cast<char>(ch & 0xFF);
    }
  } else {
    std::memset(s, ch, static_cast<size_t>(n));
  }
  s[n] = '\0';
  return s;
}

long str_expand(char* dst, long size, const char* src, long tab) {
  if (dst == nullptr || size < 1) return 0;
  if (tab < 1) tab = 4;
  if (src == nullptr) src = "";
  const TextEnv e = vxk_internal::CurrentTextEnv();
  const size_t room = static_cast<size_t>(size - 1);
  std::memset(dst, ' ', room);
  dst[room] = '\0';
  size_t col = 0;
  const unsigned char* r = U(src);
  bool fits = true;
  while (*r != 0) {
    if (*r == '\t') {
      const size_t next = (col / static_cast<size_t>(tab) + 1) * static_cast<size_t>(tab);
      if (next > room) {
        fits = false;
        col = room;
        break;
      }
      col = next;  // already spaces
      ++r;
      continue;
    }
    const size_t k = vxk_internal::UnitBytes(e, r);
    if (col + k > room) {
      fits = false;
      break;
    }
    std::memcpy(dst + col, r, k);
    col += k;
    r += k;
  }
  dst[col] = '\0';
  str_trim(dst);
  const long len = static_cast<long>(std::strlen(dst));
  return fits ? len : -len;
}

// ===== Substrings and editing =====

char* str_copy_n(char* dst, long dstSize, const char* src, long n) {
  if (dst == nullptr || dstSize < 1) return dst;
  if (src == nullptr || n < 0) n = 0;
  size_t k = 0;
  const size_t limit = std::min(static_cast<size_t>(n), static_cast<size_t>(dstSize - 1));
  while (k < limit && src[k] != 0) ++k;
  if (k > 0) std::memmove(dst, src, k);
  const TextEnv e = vxk_internal::CurrentTextEnv();
  if (e.Dbcs()) {
    size_t i = 0;
    while (i < k) {
      if (e.fLead->fLead[U(dst)[i]]) {
        if (i + 1 == k) {  // a lead byte without its trail
          k = i;
          break;
        }
        i += 2;
      } else {
        ++i;
      }
    }
  } else if (e.Utf8()) {
    k -= IncompleteUtf8Tail(U(dst), k);
  }
  dst[k] = '\0';
  return dst;
}

char* str_sub(char* dst, const char* src, long pos, long len) {
  if (dst == nullptr) return dst;
  if (src == nullptr) {
    *dst = '\0';
    return dst;
  }
  size_t start, end;
  Range(vxk_internal::CurrentTextEnv(), src, pos, len, &start, &end);
  std::memmove(dst, src + start, end - start);
  dst[end - start] = '\0';
  return dst;
}

// The array holds what the source supplies, not len + 1 bytes whatever len
// says: a length far past the text would otherwise ask for gigabytes.
char* str_substring(const char* s, long pos, long len) {
  size_t start = 0, end = 0;
  if (s != nullptr) Range(vxk_internal::CurrentTextEnv(), s, pos, len, &start, &end);
  char* r = new char[end - start + 1];
  std::memcpy(r, s + start, end - start);
  r[end - start] = '\0';
  return r;
}

long str_delete(char* s, long pos, long len) {
  if (s == nullptr) return 0;
  size_t start, end;
  Range(vxk_internal::CurrentTextEnv(), s, pos, len, &start, &end);
  std::memmove(s + start, s + end, std::strlen(s + end) + 1);
  return static_cast<long>(std::strlen(s));
}

long str_insert(char* s, long pos, const char* ins) {
  if (s == nullptr) return 0;
  const size_t total = std::strlen(s);
  if (ins == nullptr || *ins == 0) return static_cast<long>(total);
  const size_t at = vxk_internal::RoundDownToBoundary(vxk_internal::CurrentTextEnv(), s, pos);
  const size_t n = std::strlen(ins);
  std::memmove(s + at + n, s + at, total - at + 1);
  std::memcpy(s + at, ins, n);
  return static_cast<long>(total + n);
}

char* str_dup(const char* s) { return s == nullptr ? NewCopy("", 0) : NewCopy(s, std::strlen(s)); }

char* str_add(const char* a, const char* b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  const size_t na = std::strlen(a);
  const size_t nb = std::strlen(b);
  char* r = new char[na + nb + 1];
  std::memcpy(r, a, na);
  std::memcpy(r + na, b, nb + 1);
  return r;
}

char* str_subtract(const char* a, const char* b) {
  if (a == nullptr) return str_dup(nullptr);
  const char* at = (b == nullptr || *b == 0) ? nullptr : str_DBCS_str(a, b);
  if (at == nullptr) return str_dup(a);
  const size_t head = static_cast<size_t>(at - a);
  const size_t cut = std::strlen(b);
  const size_t total = std::strlen(a);
  char* r = new char[total - cut + 1];
  std::memcpy(r, a, head);
  std::memcpy(r + head, at + cut, total - head - cut + 1);
  return r;
}

long str_length_in_chars(const char* s) {
  if (s == nullptr) return 0;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  if (!e.fMultiByte) return static_cast<long>(std::strlen(s));
  long count = 0;
  for (const unsigned char* p = U(s); *p != 0; p += vxk_internal::CountedBytes(e, p)) ++count;
  return count;
}

long str_byte_offset_to_char_offset(const char* s, long n) {
  if (s == nullptr || n <= 0) return 0;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  long count = 0;
  const unsigned char* p = U(s);
  for (size_t i = 0; p[i] != 0 && i < static_cast<size_t>(n);
       i += vxk_internal::CountedBytes(e, p + i)) {
    ++count;
  }
  return count;
}

// ===== Memory blocks =====

char* str_hdl_to_str(mem_handle h, char* buf, long n) {
  if (buf == nullptr) return buf;
  long k = 0;
  if (h != nullptr && n > 0) {
    k = std::min(n, mem_gethsize(h));
    if (k > 0) std::memcpy(buf, *h, static_cast<size_t>(k));
  }
  buf[k] = '\0';
  return buf;
}

char* str_handle_to_str(mem_handle hh, char* buf, long n) { return str_hdl_to_str(hh, buf, n); }

void str_str_to_hdl(const char* s, mem_handle h) {
  if (h == nullptr) return;
  if (s == nullptr) s = "";
  const long n = static_cast<long>(std::strlen(s));
  if (!mem_resize(h, n)) {
    vxk_internal::DebugLine("str_str_to_hdl", "could not resize the block to ", n, " bytes");
    return;
  }
  if (n > 0) std::memcpy(*h, s, static_cast<size_t>(n));
}

void str_str_to_handle(const char* s, mem_handle hh) { str_str_to_hdl(s, hh); }
