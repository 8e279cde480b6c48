// Element lists and quoting of the str_ module.
#include "vxkernel/text/str.h"

#include <cstring>
#include <string>

#include "text/text_walk.h"

namespace {

using vxk_internal::TextEnv;

inline const unsigned char* U(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

// Calls fn(offset) for every separator of s, in order, walking whole
// characters so a trail byte never counts as a separator.
template <typename Fn>
void ForEachSeparator(const TextEnv& e, const char* s, unsigned short sep, Fn fn) {
  const unsigned char* p = U(s);
  size_t i = 0;
  while (p[i] != 0) {
    if (e.PairAt(p + i)) {
      if (((static_cast<unsigned>(p[i]) << 8) | p[i + 1]) == sep) {
        if (!fn(i, size_t{2})) return;
      }
      i += 2;
    } else {
      if (p[i] == sep) {
        if (!fn(i, size_t{1})) return;
      }
      ++i;
    }
  }
}

// Finds element n (numbered from 0; n < 1 is the first): its byte range.
// False when s has fewer than n separators.
bool FindElement(const char* s, long n, unsigned short sep, size_t* start, size_t* end) {
  const TextEnv e = vxk_internal::CurrentTextEnv();
  if (n < 1) n = 0;
  long seen = 0;
  *start = 0;
  *end = std::strlen(s);
  bool found = (n == 0);
  ForEachSeparator(e, s, sep, [&](size_t at, size_t width) {
    if (found) {  // the separator that closes element n
      *end = at;
      return false;
    }
    if (++seen == n) {
      *start = at + width;
      found = true;
    }
    return true;
  });
  return found;
}

// Appends the character at p (one byte, or a pair in double-byte mode) and
// returns its length.
size_t CopyChar(const TextEnv& e, const unsigned char* p, std::string* out) {
  const size_t k = vxk_internal::UnitBytes(e, p);
  out->append(reinterpret_cast<const char*>(p), k);
  return k;
}

std::string Quoted(const char* s, char q) {
  const TextEnv e = vxk_internal::CurrentTextEnv();
  std::string out(1, q);
  for (const unsigned char* p = U(s == nullptr ? "" : s); *p != 0;) {
    if (!e.PairAt(p) && *p == static_cast<unsigned char>(q)) out += q;
    p += CopyChar(e, p, &out);
  }
  out += q;
  return out;
}

char* NewText(const std::string& s) {
  char* r = new char[s.size() + 1];
  std::memcpy(r, s.c_str(), s.size() + 1);
  return r;
}

}  // namespace

long str_nsubelements(const char* s, unsigned short sep) {
  if (s == nullptr) return 0;
  long n = 1;
  ForEachSeparator(vxk_internal::CurrentTextEnv(), s, sep, [&](size_t, size_t) {
    ++n;
    return true;
  });
  return n;
}

char* str_element(char* dst, long n, unsigned short sep, const char* src) {
  if (dst == nullptr || src == nullptr) return nullptr;
  size_t start, end;
  if (!FindElement(src, n, sep, &start, &end)) return nullptr;
  std::memmove(dst, src + start, end - start);
  dst[end - start] = '\0';
  return dst;
}

char* str_subelement(const char* s, long n, unsigned short sep) {
  if (s == nullptr) return nullptr;
  size_t start, end;
  if (!FindElement(s, n, sep, &start, &end)) return nullptr;
  char* r = new char[end - start + 1];
  std::memcpy(r, s + start, end - start);
  r[end - start] = '\0';
  return r;
}

long str_elements_map(const char* s, unsigned short sep, long*& map) {
  map = nullptr;
  if (s == nullptr) return 0;
  const long count = str_nsubelements(s, sep);
  // The separators and the length fill count entries; the one spare entry
  // repeats the length, so no entry is left uninitialised.
  map = new long[static_cast<size_t>(count) + 1];
  long k = 0;
  ForEachSeparator(vxk_internal::CurrentTextEnv(), s, sep, [&](size_t at, size_t) {
    map[k++] = static_cast<long>(at);
    return true;
  });
  map[k] = map[k + 1] = static_cast<long>(std::strlen(s));
  return count;
}

char* str_quote(const char* s, char q) { return NewText(Quoted(s, q)); }

char* str_quote(const char* s, long size, char* dst, char q) {
  if (dst == nullptr || size < 1) return dst;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  const size_t room = static_cast<size_t>(size - 1);
  size_t w = 0;
  auto put = [&](const unsigned char* p, size_t k) {
    if (w + k > room) return false;
    std::memcpy(dst + w, p, k);
    w += k;
    return true;
  };
  const auto uq = static_cast<unsigned char>(q);
  const unsigned char pair[2] = {uq, uq};
  if (put(&uq, 1)) {
    bool full = false;
    for (const unsigned char* p = U(s == nullptr ? "" : s); *p != 0 && !full;) {
      const size_t k = vxk_internal::UnitBytes(e, p);
      if (k == 1 && *p == uq) {
        full = !put(pair, 2);
      } else {
        full = !put(p, k);
      }
      p += k;
    }
    if (!full) put(&uq, 1);
  }
  dst[w] = '\0';
  return dst;
}

char* str_munge_quotes(const char* s) {
  const TextEnv e = vxk_internal::CurrentTextEnv();
  std::string out;
  for (const unsigned char* p = U(s == nullptr ? "" : s); *p != 0;) {
    if (!e.PairAt(p) && *p == '\'') out += '\'';
    p += CopyChar(e, p, &out);
  }
  return NewText(out);
}

long str_unquote(char* dst, long len, const char* src) {
  if (dst == nullptr || len < 1) return 0;
  if (src == nullptr) src = "";
  const TextEnv e = vxk_internal::CurrentTextEnv();
  std::string out;
  bool unchanged = true;
  const unsigned char q = U(src)[0];
  if (q == '\'' || q == '"') {
    const unsigned char* p = U(src) + 1;
    while (*p != 0) {
      if (!e.PairAt(p) && *p == q) {
        if (p[1] == q) {  // a doubled quote stands for one
          out += static_cast<char>(q);
          p += 2;
          continue;
        }
        unchanged = (p[1] != 0);  // text after the closing quote: not one quoted text
        break;
      }
      p += CopyChar(e, p, &out);
    }
    // An unterminated quote leaves unchanged true.
  }
  if (unchanged) out = src;
  size_t n = out.size();
  if (n > static_cast<size_t>(len - 1)) {
    n = static_cast<size_t>(len - 1);
    // Do not leave half a character at the cut.
    char* tmp = new char[n + 1];
    str_copy_n(tmp, static_cast<long>(n) + 1, out.c_str(), static_cast<long>(n));
    n = std::strlen(tmp);
    delete[] tmp;
  }
  std::memcpy(dst, out.data(), n);
  dst[n] = '\0';
  return static_cast<long>(n);
}
