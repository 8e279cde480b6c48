// Writing properties files: KProperties::Store and the escapes it uses.
#include <ctime>
#include <ostream>
#include <string>
#include <string_view>

#include "bundles/properties_internal.h"
#include "port/port.h"
#include "vxkernel/bundles/KProperties.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/threads/KLockGuard.h"

namespace vxk_internal {
namespace {

// The next character of text at *i. In UTF-8 mode a well-formed sequence
// (three-byte surrogates included, as Load writes lone ones) is one
// character and any other byte stands for itself as ISO-8859-1, so no
// input is lost; otherwise every byte is ISO-8859-1, which keeps
// Store then Load an identity for all 256 byte values.
unsigned NextChar(const unsigned char* text, size_t* i, bool utf8) {
  const unsigned b = text[(*i)++];
  if (!utf8 || b < 0xC2 || b > 0xF4) return b;
  const int extra = b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
  unsigned v = b & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    const unsigned c = text[*i + k];
    if ((c & 0xC0) != 0x80) return b;  // the NUL terminator fails here too
    v = (v << 6) | (c & 0x3F);
  }
  // Overlong forms and values past U+10FFFF are not characters.
  if ((extra == 2 && v < 0x800) || (extra == 3 && (v < 0x10000 || v > 0x10FFFF))) return b;
  *i += extra;
  return v;
}

void AppendUnicodeEscape(unsigned v, std::string* out) {
  static const char kNibble[] = "0123456789ABCDEF";
  const char e[6] = {'\\', 'u', kNibble[(v >> 12) & 15], kNibble[(v >> 8) & 15], kNibble[(v >> 4) & 15],
                     kNibble[v & 15]};
  out->append(e, 6);
}

}  // namespace

void EscapeProperty(const char* text, bool isKey, bool utf8, std::string* out) {
  if (text == nullptr) return;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  bool leading = true;  // only spaces and control escapes written so far
  for (size_t i = 0; p[i] != 0;) {
    const unsigned c = NextChar(p, &i, utf8);
    switch (c) {
      case ' ':
        out->append(isKey || leading ? "\\ " : " ");
        continue;
      case '\f': out->append("\\f"); continue;
      case '\n': out->append("\\n"); continue;
      case '\r': out->append("\\r"); continue;
      case '\t': out->append("\\t"); continue;
      case '\\': case '=': case ':': case '#': case '!':
        out->push_back('\\');
        out->push_back(static_cast<char>(c));
        break;
      default:
        if (c >= 0x20 && c <= 0x7E) {
          out->push_back(static_cast<char>(c));
        } else if (c > 0xFFFF) {
          AppendUnicodeEscape(0xD800 + ((c - 0x10000) >> 10), out);
          AppendUnicodeEscape(0xDC00 + ((c - 0x10000) & 0x3FF), out);
        } else {
          AppendUnicodeEscape(c, out);
        }
        break;
    }
    leading = false;
  }
}

}  // namespace vxk_internal

namespace {

// "# " and the comment; a comment of several lines gets "# " on each, so
// that it cannot turn into pairs when the file is read back.
void AppendComment(std::string_view text, std::string* out) {
  for (;;) {
    const size_t lf = text.find('\n');
    out->append("# ").append(text.substr(0, lf)).push_back('\n');
    if (lf == std::string_view::npos) return;
    text.remove_prefix(lf + 1);
  }
}

// The local time as year/month/day hour:minute:second without leading zeros.
std::string NowText() {
  port::CivilTime c{};
  if (!port::CivilFromSeconds(static_cast<int64_t>(std::time(nullptr)), true, &c)) return std::string();
  return std::to_string(c.year) + '/' + std::to_string(c.month) + '/' + std::to_string(c.day) + ' ' +
         std::to_string(c.hour) + ':' + std::to_string(c.minute) + ':' + std::to_string(c.second);
}

bool Put(std::ostream& out, const std::string& text) {
  if (!out) return false;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out);
}

}  // namespace

KString KProperties::EscapeString(const char* text, bool isKey) {
  std::string out;
  vxk_internal::EscapeProperty(text, isKey, KIntl::Utf8(), &out);
  return KString(out.data(), static_cast<unsigned>(out.size()));
}

long KProperties::Store(std::ostream& out, const char* header) {
  const bool utf8 = KIntl::Utf8();
  if (header != nullptr && *header != '\0') fHeaderComment = header;
  if (fTimestampComment.Length() == 0) fTimestampComment = NowText().c_str();
  std::string text;
  if (fHeaderComment.Length() != 0) AppendComment(static_cast<const char*>(fHeaderComment), &text);
  if (fTimestampComment.Length() != 0) AppendComment(static_cast<const char*>(fTimestampComment), &text);
  text.push_back('\n');
  if (!Put(out, text)) return 0;
  KLockGuard guard(fLock);
  // Written in blocks: one stream call per few kilobytes, not per line.
  text.clear();
  bool good = true;
  fTable->VisitInOrder([&](const KPropertiesTable::Pair& pair) {
    if (!good) return;
    vxk_internal::EscapeProperty(pair.first, true, utf8, &text);
    text.append(" = ");
    vxk_internal::EscapeProperty(pair.second, false, utf8, &text);
    text.push_back('\n');
    if (text.size() >= 8192) {
      good = Put(out, text);
      text.clear();
    }
  });
  if (good && !text.empty()) Put(out, text);
  return 0;
}
