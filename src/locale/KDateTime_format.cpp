// KDateTime::strftime and KDateTime::crkftime.
#include <cstring>
#include <string>

#include "base/debug_line.h"
#include "locale/KDateTime_internal.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/text/str.h"

namespace {

// Writes the last `width` decimal digits of |v| into out.
inline void PutDigits(char* out, long v, int width) {
  unsigned long u = v < 0 ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + u % 10);
    u /= 10;
  }
}

// A debug line quotes at most this many bytes of the caller's text.
constexpr size_t kQuoteLimit = 64;

std::string Quote(const char* s) {
  if (s == nullptr) return "(null)";
  const size_t n = strnlen(s, kQuoteLimit + 1);
  std::string q = "\"" + std::string(s, n > kQuoteLimit ? kQuoteLimit : n);
  return n > kQuoteLimit ? q + "...\"" : q + "\"";
}

bool ParseFailure(const char* text, const char* fmt, const char* why) {
  vxk_internal::DebugLine("KDateTime::crkftime", "could not parse ", Quote(text), " with format ",
                          Quote(fmt), ": ", why);
  return false;
}

// Case-insensitive prefix match of the first of count names against *text;
// on a match advances *text past it and returns the name's index, else -1.
// The names are the locale's (English only where the catalogue has no
// text), so a text in another language's names does not parse.
int MatchName(const char** text, const std::string* names, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string& name = names[i];
    if (name.empty()) continue;
    if (str_DBCS_ncmp(*text, name.c_str(), static_cast<long>(name.size()), true) == 0 &&
        strnlen(*text, name.size()) == name.size()) {
      *text += name.size();
      return i;
    }
  }
  return -1;
}

// Reads min..max decimal digits (as many as there are, up to max) from
// *text; false when fewer than min.
bool ReadNumber(const char** text, int min, int max, int* value) {
  int v = 0;
  int n = 0;
  const char* t = *text;
  while (n < max && t[n] >= '0' && t[n] <= '9') {
    v = v * 10 + (t[n] - '0');
    ++n;
  }
  if (n < min) return false;
  *text = t + n;
  *value = v;
  return true;
}

// Case-insensitive match of one of two fixed two-letter words; 1 or 2 for
// the first or second, 0 for neither. Advances *text on a match.
int MatchWord(const char** text, const char* first, const char* second) {
  if (str_DBCS_ncmp(*text, first, 2, true) == 0 && strnlen(*text, 2) == 2) {
    *text += 2;
    return 1;
  }
  if (str_DBCS_ncmp(*text, second, 2, true) == 0 && strnlen(*text, 2) == 2) {
    *text += 2;
    return 2;
  }
  return 0;
}

}  // namespace

// Names are fetched only when a conversion needs one, so numeric formats
// never touch the locale. Each conversion is rendered into a small buffer
// or points at a cached name, then copied when it fits.
unsigned long KDateTime::strftime(char* buf, unsigned long size, const char* fmt) const {
  if (buf == nullptr || fmt == nullptr) {
    if (buf != nullptr) buf[0] = '\0';
    vxk_internal::DebugLine("KDateTime::strftime", "null ", buf == nullptr ? "buffer" : "format");
    return 0;
  }
  char* out = buf;
  char* const end = buf + size;
  const vxk_internal::DateNames* names = nullptr;
  auto Names = [&names]() -> const vxk_internal::DateNames& {
    if (names == nullptr) names = &vxk_internal::CurrentDateNames();
    return *names;
  };
  for (const char* f = fmt; *f != '\0'; ++f) {
    if (*f != '%') {
      if (out != end) *out++ = *f;
      continue;
    }
    ++f;
    char digits[4];
    const char* text = digits;
    size_t len = 2;
    switch (*f) {
      case '\0':
        *out = '\0';
        return static_cast<unsigned long>(out - buf);
      case '%':
        text = "%";
        len = 1;
        break;
      case 'A':
      case 'a': {
        const std::string& s = (*f == 'A' ? Names().fullDay : Names().shortDay)[DayOfWeek() - 1];
        text = s.data();
        len = s.size();
        break;
      }
      case 'B':
      case 'b': {
        const unsigned m = static_cast<unsigned>(fMonth);
        if (m - 1 >= 12) continue;
        const std::string& s = (*f == 'B' ? Names().fullMonth : Names().shortMonth)[m - 1];
        text = s.data();
        len = s.size();
        break;
      }
      case 'd':
        PutDigits(digits, fDay, 2);
        break;
      case 'H':
        PutDigits(digits, fHour, 2);
        break;
      case 'I':
        PutDigits(digits, (fHour == 0 || fHour == 12) ? 12 : (fHour < 0 ? -fHour : fHour) % 12, 2);
        break;
      case 'j':
        PutDigits(digits, DayOfYear(), 3);
        len = 3;
        break;
      case 'M':
        PutDigits(digits, fMinute, 2);
        break;
      case 'm':
        PutDigits(digits, fMonth, 2);
        break;
      case 'P': {
        const std::string& s = fYear < 1 ? Names().bc : Names().ad;
        text = s.data();
        len = s.size();
        break;
      }
      case 'p': {
        const std::string& s = vxk_internal::PeriodName(Names(), *this);
        text = s.data();
        len = s.size();
        break;
      }
      case 'S':
        PutDigits(digits, fSecond, 2);
        break;
      case 'w':
        PutDigits(digits, DayOfWeek(), 1);
        len = 1;
        break;
      case 'Y':
        PutDigits(digits, fYear < 1 ? 1L - fYear : fYear, 4);
        len = 4;
        break;
      case 'y':
        PutDigits(digits, fYear < 1 ? 1L - fYear : fYear, 2);
        break;
      default:
        continue;
    }
    if (len <= static_cast<size_t>(end - out)) {
      std::memcpy(out, text, len);
      out += len;
    }
  }
  *out = '\0';
  return static_cast<unsigned long>(out - buf);
}

bool KDateTime::crkftime(const char* text, const char* fmt) {
  if (text == nullptr || fmt == nullptr) return ParseFailure(text, fmt, "null argument");
  KDateTime now;
  now.Now();
  KDateTime w;
  w.fYear = now.fYear;
  w.fMonth = 1;
  w.fDay = 1;
  const int century = now.fYear / 100;

  bool haveDay = false, haveMonth = false, haveHour = false, haveMinute = false;
  bool haveSecond = false, haveYear = false;
  int period = 0;  // 0 none, 1 AM, 2 PM
  bool bc = false;
  const vxk_internal::DateNames* names = nullptr;
  auto Names = [&names]() -> const vxk_internal::DateNames& {
    if (names == nullptr) names = &vxk_internal::CurrentDateNames();
    return *names;
  };
  const char* t = text;
  int v = 0;
  for (const char* f = fmt; *f != '\0'; ++f) {
    if (*f != '%') {
      if (*t != *f) return ParseFailure(text, fmt, "text does not match the format");
      ++t;
      continue;
    }
    ++f;
    switch (*f) {
      case '\0':
        return ParseFailure(text, fmt, "format ends in a lone %");
      case '%':
        if (*t != '%') return ParseFailure(text, fmt, "no % in the text");
        ++t;
        break;
      case 'B':
      case 'b': {
        if (haveMonth) return ParseFailure(text, fmt, "month given twice");
        const int i = MatchName(&t, *f == 'B' ? Names().fullMonth : Names().shortMonth, 12);
        if (i < 0) return ParseFailure(text, fmt, "no month name");
        w.fMonth = static_cast<int8_t>(i + 1);
        haveMonth = true;
        break;
      }
      case 'a':
        if (MatchName(&t, Names().shortDay, 7) < 0) return ParseFailure(text, fmt, "no day name");
        break;
      case 'd':
        if (haveDay) return ParseFailure(text, fmt, "day given twice");
        if (!ReadNumber(&t, 1, 2, &v)) return ParseFailure(text, fmt, "no day");
        w.fDay = static_cast<int8_t>(v);
        haveDay = true;
        break;
      case 'm':
        if (haveMonth) return ParseFailure(text, fmt, "month given twice");
        if (!ReadNumber(&t, 1, 2, &v)) return ParseFailure(text, fmt, "no month");
        w.fMonth = static_cast<int8_t>(v);
        haveMonth = true;
        break;
      case 'H':
      case 'I':
        if (haveHour) return ParseFailure(text, fmt, "hour given twice");
        if (!ReadNumber(&t, 2, 2, &v)) return ParseFailure(text, fmt, "no two-digit hour");
        w.fHour = static_cast<int8_t>(v);
        haveHour = true;
        break;
      case 'M':
        if (haveMinute) return ParseFailure(text, fmt, "minute given twice");
        if (!ReadNumber(&t, 2, 2, &v)) return ParseFailure(text, fmt, "no two-digit minute");
        w.fMinute = static_cast<int8_t>(v);
        haveMinute = true;
        break;
      case 'S':
        if (haveSecond) return ParseFailure(text, fmt, "second given twice");
        if (!ReadNumber(&t, 2, 2, &v)) return ParseFailure(text, fmt, "no two-digit second");
        w.fSecond = static_cast<int8_t>(v);
        haveSecond = true;
        break;
      case 'Y':
        if (haveYear) return ParseFailure(text, fmt, "year given twice");
        if (!ReadNumber(&t, 4, 4, &v)) return ParseFailure(text, fmt, "no four-digit year");
        w.fYear = static_cast<int16_t>(v);
        haveYear = true;
        break;
      case 'y':
        if (haveYear) return ParseFailure(text, fmt, "year given twice");
        if (!ReadNumber(&t, 2, 2, &v)) return ParseFailure(text, fmt, "no two-digit year");
        w.fYear = static_cast<int16_t>(century * 100 + v);
        haveYear = true;
        break;
      case 'p':
        if (period != 0) return ParseFailure(text, fmt, "AM/PM given twice");
        period = MatchWord(&t, "AM", "PM");
        if (period == 0) return ParseFailure(text, fmt, "no AM or PM");
        break;
      case 'P': {
        const int era = MatchWord(&t, "AD", "BC");
        if (era == 0) return ParseFailure(text, fmt, "no AD or BC");
        bc = era == 2;
        break;
      }
      default:
        return ParseFailure(text, fmt, "conversion not accepted");
    }
  }
  if (period == 1 && w.fHour == 12) w.fHour = 0;
  if (period == 2) {
    if (w.fHour > 12) return ParseFailure(text, fmt, "PM with an hour above 12");
    if (w.fHour < 12) w.fHour = static_cast<int8_t>(w.fHour + 12);
  }
  if (bc) w.fYear = static_cast<int16_t>(1 - w.fYear);
  if (!w.CheckValidity()) return ParseFailure(text, fmt, "not a valid date and time");
  fYear = w.fYear;
  fMonth = w.fMonth;
  fDay = w.fDay;
  fHour = w.fHour;
  fMinute = w.fMinute;
  fSecond = w.fSecond;
  fMilliseconds = w.fMilliseconds;
  return true;
}
