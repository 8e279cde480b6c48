// Search functions of the str_ module. Outside double-byte mode they are the
// C library's; in double-byte mode they walk whole characters so that a
// single-byte character never matches a trail byte.
#include "vxkernel/text/str.h"

#include <cstring>

#include "text/text_walk.h"

namespace {

using vxk_internal::TextEnv;

// The 16-bit value of the character at p and its length.
inline unsigned CharAt(const TextEnv& e, const unsigned char* p, size_t* len) {
  if (e.PairAt(p)) {
    *len = 2;
    return (static_cast<unsigned>(p[0]) << 8) | p[1];
  }
  *len = 1;
  return p[0];
}

// Whether the character c occurs in set (walked by characters too).
bool InSet(const TextEnv& e, unsigned c, const unsigned char* set) {
  for (const unsigned char* q = set; *q != 0;) {
    size_t k;
    if (CharAt(e, q, &k) == c) return true;
    q += k;
  }
  return false;
}

long Span(const char* s, const char* set, bool inSet) {
  if (s == nullptr) return 0;
  if (set == nullptr) set = "";
  const TextEnv e = vxk_internal::CurrentTextEnv();
  if (!e.Dbcs()) return static_cast<long>(inSet ? std::strspn(s, set) : std::strcspn(s, set));
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  const auto* u = reinterpret_cast<const unsigned char*>(set);
  size_t i = 0;
  while (p[i] != 0) {
    size_t k;
    const unsigned c = CharAt(e, p + i, &k);
    if (InSet(e, c, u) != inSet) break;
    i += k;
  }
  return static_cast<long>(i);
}

}  // namespace

char* str_DBCS_chr(const char* s, unsigned short ch) {
  if (s == nullptr) return nullptr;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  if (!e.Dbcs()) return ch > 0xFF ? nullptr : const_cast<char*>(std::strchr(s, ch));
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  for (;;) {
    size_t k;
    if (CharAt(e, p, &k) == ch) return const_cast<char*>(reinterpret_cast<const char*>(p));
    if (*p == 0) return nullptr;
    p += k;
  }
}

char* str_DBCS_rchr(const char* s, unsigned short ch) {
  if (s == nullptr) return nullptr;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  if (!e.Dbcs()) return ch > 0xFF ? nullptr : const_cast<char*>(std::strrchr(s, ch));
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  const unsigned char* found = nullptr;
  for (;;) {
    size_t k;
    if (CharAt(e, p, &k) == ch) found = p;
    if (*p == 0) break;
    p += k;
  }
  return const_cast<char*>(reinterpret_cast<const char*>(found));
}

char* str_DBCS_str(const char* s, const char* sub) {
  if (s == nullptr || sub == nullptr) return nullptr;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  if (!e.Dbcs()) return const_cast<char*>(std::strstr(s, sub));
  const size_t n = std::strlen(sub);
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  for (;;) {
    if (std::strncmp(reinterpret_cast<const char*>(p), sub, n) == 0) {
      return const_cast<char*>(reinterpret_cast<const char*>(p));
    }
    if (*p == 0) return nullptr;
    p += vxk_internal::UnitBytes(e, p);
  }
}

long str_DBCS_spn(const char* s, const char* set) { return Span(s, set, true); }

long str_DBCS_cspn(const char* s, const char* set) { return Span(s, set, false); }
