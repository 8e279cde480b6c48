// Comparison functions of the str_ module.
#include "vxkernel/text/str.h"

#include <cctype>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "text/text_settings.h"
#include "text/text_walk.h"
#include "vxkernel/text/codepage.h"

namespace {

using vxk_internal::TextEnv;

int Sign(int r) { return (r > 0) - (r < 0); }

// The slow paths stay out of line, so str_DBCS_cmp's strcmp path needs no
// saved registers: the comparison benchmark is a handful of nanoseconds,
// where a four-register prologue shows.

// Case-folding walk: stops at the first pair of bytes whose toupper values
// differ, or at the shared terminator.
[[gnu::noinline]] int CompareIgnoringCase(const unsigned char* a, const unsigned char* b) {
  for (;; ++a, ++b) {
    const int ca = std::toupper(*a);
    const int cb = std::toupper(*b);
    if (ca != cb) return ca - cb;
    if (*a == 0) return 0;
  }
}

// The value of the character at *p in double-byte mode (lead * 256 + trail,
// or the byte, upper-cased when folding) and the step past it. A pair is
// taken only when it fits in `room` bytes; otherwise its lead byte stands
// alone, so a bounded comparison never reads a byte past its limit.
inline unsigned DbcsValue(const TextEnv& e, const unsigned char* p, bool fold, size_t room,
                          size_t* step) {
  if (room >= 2 && e.PairAt(p)) {
    *step = 2;
    return (static_cast<unsigned>(p[0]) << 8) | p[1];
  }
  *step = 1;
  return fold ? static_cast<unsigned>(std::toupper(p[0])) : p[0];
}

// Double-byte walk over at most n bytes of each text; stops after a NUL on
// either side. Equal characters have equal lengths (a pair is worth at least
// 0x8100, a single byte at most 0xFF), so one index serves both texts.
[[gnu::noinline]] int CompareDbcs(const TextEnv& e, const unsigned char* a, const unsigned char* b,
                                  size_t n, bool fold) {
  size_t i = 0;
  while (i < n) {
    if (!fold) {
      // Runs of equal ASCII bytes: never lead bytes, so the walk stays on
      // character starts while it skips them a byte at a time.
      while (i < n && a[i] == b[i] && a[i] != 0 && a[i] < 0x80) ++i;
      if (i >= n) return 0;
    }
    size_t sa, sb;
    const unsigned va = DbcsValue(e, a + i, fold, n - i, &sa);
    const unsigned vb = DbcsValue(e, b + i, fold, n - i, &sb);
    if (va != vb) return static_cast<int>(va) - static_cast<int>(vb);
    if (a[i] == 0) return 0;
    i += sa;
  }
  return 0;
}

int CompareIgnoringCaseN(const unsigned char* a, const unsigned char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const int ca = std::toupper(a[i]);
    const int cb = std::toupper(b[i]);
    if (ca != cb) return ca - cb;
    if (a[i] == 0) return 0;
  }
  return 0;
}

[[gnu::noinline]] int CompareDbcsText(const char* a, const char* b, bool fold) {
  return CompareDbcs(vxk_internal::CurrentTextEnv(), reinterpret_cast<const unsigned char*>(a),
                     reinterpret_cast<const unsigned char*>(b), SIZE_MAX, fold);
}

// Character value for the blank-extended comparison (ends read as spaces).
inline unsigned BlankValue(const TextEnv& e, const unsigned char* p, bool fold, size_t* step) {
  if (*p == 0) {
    *step = 0;
    return ' ';
  }
  if (e.PairAt(p)) {
    *step = 2;
    return (static_cast<unsigned>(p[0]) << 8) | p[1];
  }
  *step = 1;
  return fold ? static_cast<unsigned>(std::toupper(p[0])) : p[0];
}

// Collation of the C library's current locale over wide characters.
int CompareCollated(const char* a, const char* b, bool fold) {
  const unsigned cp = vxk_internal::ActiveCodePage();
  std::wstring wa = mbtow(cp, a);
  std::wstring wb = mbtow(cp, b);
  if (fold) {
    for (wchar_t& c : wa) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    for (wchar_t& c : wb) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  }
  return Sign(std::wcscoll(wa.c_str(), wb.c_str()));
}

}  // namespace

int str_DBCS_cmp(const char* a, const char* b, bool ignoreCase) {
  if (a == nullptr || b == nullptr) return 0;
  if (vxk_internal::CurrentTextMode() == vxk_internal::TextMode::kDoubleByte) {
    return CompareDbcsText(a, b, ignoreCase);
  }
  if (!ignoreCase) {
    // The C library's strcmp already orders by unsigned bytes and compares a
    // machine word or vector at a time; only its magnitude is reduced.
    return Sign(std::strcmp(a, b));
  }
  return CompareIgnoringCase(reinterpret_cast<const unsigned char*>(a),
                             reinterpret_cast<const unsigned char*>(b));
}

int str_DBCS_ncmp(const char* a, const char* b, long n, bool ignoreCase) {
  if (a == nullptr || b == nullptr || n <= 0) return 0;
  const auto* ua = reinterpret_cast<const unsigned char*>(a);
  const auto* ub = reinterpret_cast<const unsigned char*>(b);
  const size_t limit = static_cast<size_t>(n);
  const TextEnv e = vxk_internal::CurrentTextEnv();
  if (e.Dbcs()) return CompareDbcs(e, ua, ub, limit, ignoreCase);
  if (!ignoreCase) return Sign(std::strncmp(a, b, limit));
  return CompareIgnoringCaseN(ua, ub, limit);
}

int str_cmpu(const char* a, const char* b) { return str_DBCS_cmp(a, b, true); }

int str_ncmpu(const char* a, const char* b, long n) { return str_DBCS_ncmp(a, b, n, true); }

int str_cmpbe(const char* a, const char* b, bool ignoreCase) {
  if (a == nullptr || b == nullptr) return 0;
  const TextEnv e = vxk_internal::CurrentTextEnv();
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  while (*pa != 0 || *pb != 0) {
    size_t sa, sb;
    const unsigned va = BlankValue(e, pa, ignoreCase, &sa);
    const unsigned vb = BlankValue(e, pb, ignoreCase, &sb);
    if (va != vb) return static_cast<int>(va) - static_cast<int>(vb);
    pa += sa;
    pb += sb;
  }
  return 0;
}

int str_cmpbeu(const char* a, const char* b) { return str_cmpbe(a, b, true); }

int str_cmp_intl(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return 0;
  if (!vxk_internal::IntlStringsOn()) return Sign(str_DBCS_cmp(a, b, false));
  return CompareCollated(a, b, false);
}

int str_cmpu_intl(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return 0;
  if (!vxk_internal::IntlStringsOn()) return Sign(str_DBCS_cmp(a, b, true));
  return CompareCollated(a, b, true);
}

bool str_is_lead_byte(unsigned char c) {
  switch (vxk_internal::CurrentTextMode()) {
    case vxk_internal::TextMode::kSingleByte:
      return false;
    case vxk_internal::TextMode::kUtf8:
      return (c & 0xC0) == 0xC0;
    case vxk_internal::TextMode::kDoubleByte:
      return vxk_internal::CurrentTextEnv().fLead->fLead[c];
  }
  return false;
}

bool str_is_lead_byte_ex(unsigned char c, unsigned codePage) {
  // Only the double-byte code pages have lead bytes; UTF-8 (65001) has none
  // in this sense, as the system's own test says.
  if (codePage == 0) codePage = vxk_internal::ActiveCodePage();
  return vxk_internal::LeadTableFor(codePage).fLead[c];
}
