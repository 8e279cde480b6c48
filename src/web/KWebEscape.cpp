#include "vxkernel/web/KWebEscape.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "text/text_walk.h"
#include "web/escape_internal.h"

using vxk_internal::ByteEscaper;
using vxk_internal::ByteReplacement;

namespace {

// ===== Entity and backslash escapes =====
// Each escape is a set of special bytes and the texts that replace them.
// The result is written in one pass into a string made for the input's
// length, whose capacity (a third more for long texts, twice as much for
// short ones) holds the usual few entities. Only a text that outgrows it is
// measured, and the rest written into a second string sized exactly.

template <class Escaper>
KString EscapeRuns(const char* s, const Escaper& escaper, const char* operation) {
  if (s == nullptr || *s == '\0') return KString();
  const size_t n = std::strlen(s);
  const char* end = s + n;
  char* out;
  const char* limit;
  KString result = vxk_internal::NewStringOfLength(n, &out, &limit);
  auto done = escaper.Write(s, end, out, limit);
  if (done.fIn != end) {
    const size_t written = static_cast<size_t>(done.fOut - out);
    const size_t total = written + static_cast<size_t>(end - done.fIn) + escaper.Growth(done.fIn, end);
    if (!vxk_internal::ResultFits(total, operation)) return KString();
    char* bigger;
    KString whole = vxk_internal::NewStringOfLength(total, &bigger, &limit);
    std::memcpy(bigger, out, written);
    done = escaper.Write(done.fIn, end, bigger + written, limit);
    result = std::move(whole);
    out = bigger;
  }
  vxk_internal::SetNewStringLength(result, static_cast<size_t>(done.fOut - out));
  return result;
}

// The same for a double-byte text: a lead byte and its trail byte are
// copied together, never looked at as specials. A lead byte right before
// the terminator stands alone and is treated as any other byte.
template <class Escaper>
KString EscapeDbcs(const char* s, const vxk_internal::TextEnv& env, const Escaper& escaper,
                   const char* operation) {
  if (s == nullptr) return KString();
  const auto* u = reinterpret_cast<const unsigned char*>(s);
  size_t total = 0;
  for (size_t i = 0; u[i] != 0;) {
    if (env.PairAt(u + i)) {
      total += 2;
      i += 2;
    } else {
      total += escaper.Contains(u[i]) ? escaper.Replacement(u[i]).size() : 1;
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
    } else if (escaper.Contains(u[i])) {
      const std::string_view r = escaper.Replacement(u[i++]);
      std::memcpy(out, r.data(), r.size());
      out += r.size();
    } else {
      *out++ = s[i++];
    }
  }
  return result;
}

const ByteReplacement kXmlEntities[] = {
    {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'&', "&amp;"}, {'\'', "&apos;"}};
const ByteEscaper<4> kHtmlEscaper(kXmlEntities);  // the first four
const ByteEscaper<5> kXmlEscaper(kXmlEntities);

const ByteReplacement kXmlCharData[] = {{'\t', "&#9;"}, {'\n', "&#10;"}, {'\r', "&#13;"},
                                        {'<', "&lt;"},   {'>', "&gt;"},    {'"', "&quot;"},
                                        {'&', "&amp;"}};
const ByteEscaper<7> kXmlCharDataEscaper(kXmlCharData);

// The backslash escapes of XString; the last entry is the quote character.
const ByteReplacement kDoubleQuoted[] = {
    {'\t', "\\t"}, {'\n', "\\n"}, {'\r', "\\r"}, {'\\', "\\\\"}, {'"', "\\\""}};
const ByteReplacement kSingleQuoted[] = {
    {'\t', "\\t"}, {'\n', "\\n"}, {'\r', "\\r"}, {'\\', "\\\\"}, {'\'', "\\'"}};
const ByteEscaper<5> kDoubleQuotedEscaper(kDoubleQuoted);
const ByteEscaper<5> kSingleQuotedEscaper(kSingleQuoted);
const ByteEscaper<4> kOtherQuotedEscaper(kDoubleQuoted);  // the quote is not escaped

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
      *out++ = static_cast<char>(vxk_internal::PercentPairByte(static_cast<unsigned char>(p[1]),
                                                               static_cast<unsigned char>(p[2])));
      p += 3;
    } else {
      *out++ = (*p == '+') ? ' ' : *p;
      ++p;
    }
  }
  vxk_internal::SetNewStringLength(result, static_cast<size_t>(out - start));
  return result;
}

KString KWebEscape::EscapeHTML(const char* s) { return EscapeRuns(s, kHtmlEscaper, "KWebEscape::EscapeHTML"); }

KString KWebEscape::EscapeXML(const char* s) { return EscapeRuns(s, kXmlEscaper, "KWebEscape::EscapeXML"); }

KString KWebEscape::EscapeQuotes(const char* s, char quote, char escape) {
  // A quote of '\0' never occurs before the terminator: a plain copy.
  const char pair[3] = {escape, quote, '\0'};
  const ByteReplacement entry[] = {{static_cast<unsigned char>(quote), pair}};
  if (escape == '\0') return KString(s);  // inserting a NUL inserts nothing
  return EscapeRuns(s, ByteEscaper<1>(entry), "KWebEscape::EscapeQuotes");
}

namespace {

template <class Escaper>
KString Quoted(const char* s, char quote, const Escaper& escaper) {
  const vxk_internal::TextEnv env = vxk_internal::CurrentTextEnv();
  const KString body = env.Dbcs() ? EscapeDbcs(s, env, escaper, "KWebEscape::XString")
                                  : EscapeRuns(s, escaper, "KWebEscape::XString");
  if (!vxk_internal::ResultFits(body.Length() + 2, "KWebEscape::XString")) return KString();
  char* out;
  KString result = vxk_internal::NewStringOfLength(body.Length() + 2, &out);
  out[0] = quote;
  std::memcpy(out + 1, static_cast<const char*>(body), body.Length());
  out[body.Length() + 1] = quote;
  return result;
}

}  // namespace

KString KWebEscape::XString(const char* s, char quote) {
  // Only a double quote or an apostrophe is escaped as the quote character.
  switch (quote) {
    case '\0':
      return KString();
    case '"':
      return Quoted(s, quote, kDoubleQuotedEscaper);
    case '\'':
      return Quoted(s, quote, kSingleQuotedEscaper);
    default:
      return Quoted(s, quote, kOtherQuotedEscaper);
  }
}

KString KWebEscape::CString(const char* s) { return XString(s, '"'); }

KString KWebEscape::JString(const char* s) { return XString(s, '\''); }

KString KWebEscape::XMLString(const char* s) {
  const vxk_internal::TextEnv env = vxk_internal::CurrentTextEnv();
  return env.Dbcs() ? EscapeDbcs(s, env, kXmlCharDataEscaper, "KWebEscape::XMLString")
                    : EscapeRuns(s, kXmlCharDataEscaper, "KWebEscape::XMLString");
}
