#include "vxkernel/web/KWebEscape.h"

#include <cstring>
#include <string_view>

#include "text/text_walk.h"
#include "web/escape_internal.h"

using vxk_internal::ByteSetScanner;

namespace {

// ===== Entity and backslash escapes =====
// Each escape is a set of special bytes (the scanner) and the text that
// replaces each of them (repl). A first pass sums the lengths, so the result
// is allocated once; the second copies the runs between special bytes.

template <class Scanner, class Repl>
KString EscapeRuns(const char* s, const Scanner& scan, Repl repl, const char* operation) {
  if (s == nullptr) return KString();
  const size_t n = std::strlen(s);
  const char* end = s + n;
  const char* first = scan.Find(s, end);
  if (first == end) return KString(s, static_cast<unsigned>(n));
  size_t total = n;
  for (const char* p = first; p < end; p = scan.Find(p + 1, end)) {
    total += repl(static_cast<unsigned char>(*p)).size() - 1;
  }
  if (!vxk_internal::ResultFits(total, operation)) return KString();
  char* out;
  KString result = vxk_internal::NewStringOfLength(total, &out);
  const char* run = s;
  for (const char* p = first; p < end; p = scan.Find(p + 1, end)) {
    std::memcpy(out, run, static_cast<size_t>(p - run));
    out += p - run;
    const std::string_view r = repl(static_cast<unsigned char>(*p));
    std::memcpy(out, r.data(), r.size());
    out += r.size();
    run = p + 1;
  }
  std::memcpy(out, run, static_cast<size_t>(end - run));
  return result;
}

// The same walk for a double-byte text: a lead byte and its trail byte are
// copied together, never looked at as specials. A lead byte right before
// the terminator stands alone and is treated as any other byte.
template <class Scanner, class Repl>
KString EscapeDbcs(const char* s, const vxk_internal::TextEnv& env, const Scanner& scan, Repl repl,
                   const char* operation) {
  if (s == nullptr) return KString();
  const auto* u = reinterpret_cast<const unsigned char*>(s);
  size_t total = 0;
  for (size_t i = 0; u[i] != 0;) {
    if (env.PairAt(u + i)) {
      total += 2;
      i += 2;
    } else {
      total += scan.Contains(u[i]) ? repl(u[i]).size() : 1;
      ++i;
    }
  }
  if (!vxk_internal::ResultFits(total, operation)) return KString();
  char* out;
  KString result = vxk_internal::NewStringOfLength(total, &out);
  for (size_t i = 0; u[i] != 0;) {
    if (env.PairAt(u + i)) {
      *out++ = s[i++];
      *out++ = s[i++];
    } else if (scan.Contains(u[i])) {
      const std::string_view r = repl(u[i++]);
      std::memcpy(out, r.data(), r.size());
      out += r.size();
    } else {
      *out++ = s[i++];
    }
  }
  return result;
}

std::string_view HtmlEntity(unsigned char c) {
  switch (c) {
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '&':
      return "&amp;";
    default:
      return "&apos;";
  }
}

std::string_view XmlCharData(unsigned char c) {
  switch (c) {
    case '\t':
      return "&#9;";
    case '\n':
      return "&#10;";
    case '\r':
      return "&#13;";
    default:
      return HtmlEntity(c);
  }
}

std::string_view BackslashEscape(unsigned char c) {
  switch (c) {
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\\':
      return "\\\\";
    case '"':
      return "\\\"";
    default:
      return "\\'";
  }
}

const unsigned char kHtmlBytes[] = {'<', '>', '"', '&'};
const unsigned char kXmlBytes[] = {'<', '>', '"', '&', '\''};
const unsigned char kXmlCharDataBytes[] = {'\t', '\n', '\r', '"', '&', '<', '>'};
const ByteSetScanner<4> kHtmlScan(kHtmlBytes);
const ByteSetScanner<5> kXmlScan(kXmlBytes);
const ByteSetScanner<7> kXmlCharDataScan(kXmlCharDataBytes);

// ===== URL percent-encoding =====

struct UrlKeepTable {
  bool fKeep[256];
};
constexpr UrlKeepTable MakeUrlKeepTable() {
  UrlKeepTable t{};
  for (int c = 0; c < 256; ++c) {
    t.fKeep[c] = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  }
  return t;
}
constexpr UrlKeepTable kUrlKeep = MakeUrlKeepTable();

// The byte of "%" c1 c2. Bytes compare as signed characters, as the
// platform's char did where this rule was defined, so a byte of 0x80 and
// above counts as below 'A'. Nothing is validated.
unsigned char HexPair(char c1, char c2) {
  const int a = static_cast<signed char>(c1);
  const int b = static_cast<signed char>(c2);
  const int high = (a < 'A') ? a - '0' : (a & 0xDF) - 55;
  const int low = (b >= 'A') ? (b & 0xDF) - 55 : b - '0';
  return static_cast<unsigned char>(high * 16 + low);
}

}  // namespace

KString KWebEscape::Escape(const char* s) {
  if (s == nullptr) return KString();
  const auto* u = reinterpret_cast<const unsigned char*>(s);
  size_t n = 0;
  size_t specials = 0;
  for (; u[n] != 0; ++n) specials += kUrlKeep.fKeep[u[n]] ? 0 : 1;
  if (specials == 0) return KString(s, static_cast<unsigned>(n));
  if (!vxk_internal::ResultFits(n + 2 * specials, "KWebEscape::Escape")) return KString();
  static constexpr char kHex[] = "0123456789ABCDEF";
  char* out;
  KString result = vxk_internal::NewStringOfLength(n + 2 * specials, &out);
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = u[i];
    if (kUrlKeep.fKeep[c]) {
      *out++ = static_cast<char>(c);
    } else {
      out[0] = '%';
      out[1] = kHex[c >> 4];
      out[2] = kHex[c & 15];
      out += 3;
    }
  }
  return result;
}

KString KWebEscape::Unescape(const char* s) {
  if (s == nullptr) return KString();
  const char* plus = std::strchr(s, '+');
  const char* percent = std::strchr(s, '%');
  const size_t n = std::strlen(s);
  if (plus == nullptr && percent == nullptr) return KString(s, static_cast<unsigned>(n));
  char* out;
  KString result = vxk_internal::NewStringOfLength(n, &out);
  char* const start = out;
  for (const char* p = s; *p != 0;) {
    if (*p == '%' && p[1] != 0 && p[2] != 0) {
      *out++ = static_cast<char>(HexPair(p[1], p[2]));
      p += 3;
    } else {
      *out++ = (*p == '+') ? ' ' : *p;
      ++p;
    }
  }
  vxk_internal::ShrinkNewString(result, static_cast<size_t>(out - start));
  return result;
}

KString KWebEscape::EscapeHTML(const char* s) { return EscapeRuns(s, kHtmlScan, HtmlEntity, "KWebEscape::EscapeHTML"); }

KString KWebEscape::EscapeXML(const char* s) { return EscapeRuns(s, kXmlScan, HtmlEntity, "KWebEscape::EscapeXML"); }

KString KWebEscape::EscapeQuotes(const char* s, char quote, char escape) {
  if (s == nullptr) return KString();
  const auto q = static_cast<unsigned char>(quote);
  const ByteSetScanner<1> scan(&q);
  const char pair[2] = {escape, quote};
  // A quote of '\0' never occurs before the terminator: a plain copy.
  return EscapeRuns(s, scan, [&](unsigned char) { return std::string_view(pair, 2); }, "KWebEscape::EscapeQuotes");
}

KString KWebEscape::XString(const char* s, char quote) {
  if (quote == '\0') return KString();
  // Only a double quote or an apostrophe is escaped as the quote character.
  const unsigned char bytes[] = {'\t', '\n', '\r', '\\',
                                 static_cast<unsigned char>((quote == '"' || quote == '\'') ? quote : '\\')};
  const ByteSetScanner<5> scan(bytes);
  const vxk_internal::TextEnv env = vxk_internal::CurrentTextEnv();
  const KString body = env.Dbcs() ? EscapeDbcs(s, env, scan, BackslashEscape, "KWebEscape::XString")
                                  : EscapeRuns(s, scan, BackslashEscape, "KWebEscape::XString");
  if (!vxk_internal::ResultFits(body.Length() + 2, "KWebEscape::XString")) return KString();
  char* out;
  KString result = vxk_internal::NewStringOfLength(body.Length() + 2, &out);
  out[0] = quote;
  std::memcpy(out + 1, static_cast<const char*>(body), body.Length());
  out[body.Length() + 1] = quote;
  return result;
}

KString KWebEscape::CString(const char* s) { return XString(s, '"'); }

KString KWebEscape::JString(const char* s) { return XString(s, '\''); }

KString KWebEscape::XMLString(const char* s) {
  const vxk_internal::TextEnv env = vxk_internal::CurrentTextEnv();
  return env.Dbcs() ? EscapeDbcs(s, env, kXmlCharDataScan, XmlCharData, "KWebEscape::XMLString")
                    : EscapeRuns(s, kXmlCharDataScan, XmlCharData, "KWebEscape::XMLString");
}
