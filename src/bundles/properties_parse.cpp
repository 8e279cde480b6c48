// Reading properties files: physical lines, logical lines, escapes.
#include <algorithm>
#include <cstring>
#include <istream>
#include <string>
#include <string_view>

#include "base/debug_line.h"
#include "bundles/properties_internal.h"
#include "vxkernel/bundles/KProperties.h"

namespace vxk_internal {
namespace {

// Hands out physical lines (without their LF) from a stream read in large
// blocks, so a line costs a memchr rather than a call per character. A line
// of more than KProperties::kMaxLineBytes bytes stops the reading: at most
// one block past the limit is ever read.
class LineSource {
 public:
  enum Result { kLine, kEnd, kTooLong };
  explicit LineSource(std::istream& in) : fBuf(in.rdbuf()) {}

  Result Next(std::string_view* line) {
    if (fDone) return kEnd;
    for (;;) {
      const char* start = fData.data() + fPos;
      const size_t avail = fData.size() - fPos;
      const void* lf = std::memchr(start, '\n', avail);
      if (lf != nullptr) {
        const size_t n = static_cast<const char*>(lf) - start;
        if (n > KProperties::kMaxLineBytes) return Stop();
        *line = std::string_view(start, n);
        fPos += n + 1;
        return kLine;
      }
      if (avail > KProperties::kMaxLineBytes) return Stop();
      if (!Fill()) {
        fDone = true;
        if (avail == 0) return kEnd;
        *line = std::string_view(fData.data() + fPos, avail);
        fPos = fData.size();
        return kLine;
      }
    }
  }

 private:
  static constexpr size_t kBlock = 64 * 1024;

  Result Stop() {
    fDone = true;
    return kTooLong;
  }
  // Moves the unread tail to the front and appends a block; false at the
  // end of the stream. The views handed out before stay valid until then.
  bool Fill() {
    if (fBuf == nullptr) return false;
    fData.erase(0, fPos);
    fPos = 0;
    const size_t old = fData.size();
    fData.resize(old + kBlock);
    std::streamsize got = 0;
    try {
      got = fBuf->sgetn(fData.data() + old, kBlock);
    } catch (...) {
      got = 0;
    }
    fData.resize(old + static_cast<size_t>(got > 0 ? got : 0));
    if (got <= 0) fBuf = nullptr;
    return got > 0;
  }

  std::streambuf* fBuf;
  std::string fData;
  size_t fPos = 0;
  bool fDone = false;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

std::string_view SkipSpace(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return s.substr(i);
}

std::string_view TrimLineEnd(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

bool OddBackslashes(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && s[s.size() - 1 - n] == '\\') ++n;
  return (n & 1) != 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Turns raw key or value text into its characters.
class Unescaper {
 public:
  explicit Unescaper(bool utf8) : fUtf8(utf8) {}

  // Appends the unescaped raw text to out; 0, 5 or 6.
  long Run(std::string_view raw, std::string* out) const {
    out->clear();
    // Text with no escape and nothing to convert is copied as it is.
    if (std::memchr(raw.data(), '\\', raw.size()) == nullptr && (!fUtf8 || IsAscii(raw))) {
      out->assign(raw);
      return 0;
    }
    const size_t n = raw.size();
    size_t i = 0;
    while (i < n) {
      const char c = raw[i++];
      if (c != '\\') {
        AppendByte(c, out);
        continue;
      }
      if (i == n) {  // a backslash at the very end stays
        out->push_back('\\');
        break;
      }
      const char e = raw[i++];
      switch (e) {
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
          long code = UnicodeEscape(raw, &i, out);
          if (code != 0) return code;
          break;
        }
        default: AppendByte(e, out); break;
      }
    }
    return 0;
  }

 private:
  static bool IsAscii(std::string_view s) {
    for (char c : s) {
      if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
  }

  // Bytes of the file are ISO-8859-1; UTF-8 mode widens those above 0x7F.
  void AppendByte(char c, std::string* out) const {
    const auto b = static_cast<unsigned char>(c);
    if (!fUtf8 || b < 0x80) {
      out->push_back(c);
      return;
    }
    out->push_back(static_cast<char>(0xC0 | (b >> 6)));
    out->push_back(static_cast<char>(0x80 | (b & 0x3F)));
  }

  // Reads up to four hex digits from *i into *v: the count read, or -1 at
  // a non-hex character among them.
  static int ReadDigits(std::string_view raw, size_t* i, unsigned* v) {
    int d = 0;
    *v = 0;
    while (d < 4 && *i < raw.size()) {
      const int h = HexValue(raw[*i]);
      if (h < 0) return -1;
      *v = *v * 16 + static_cast<unsigned>(h);
      ++*i;
      ++d;
    }
    return d;
  }

  // After "\u" at *i. "\u" before a non-hex character is a plain "u";
  // "\uu" is a backslash (the second "u" is read normally); digits cut off
  // by the end of the text give the character read so far.
  long UnicodeEscape(std::string_view raw, size_t* i, std::string* out) const {
    if (*i < raw.size() && raw[*i] == 'u') {
      out->push_back('\\');
      return 0;
    }
    if (*i < raw.size() && HexValue(raw[*i]) < 0) {
      out->push_back('u');
      return 0;
    }
    unsigned v = 0;
    if (ReadDigits(raw, i, &v) < 0) return KProperties::kBadEscape;
    if (!fUtf8) {
      if (v > 0xFF) {
        DebugText("KPropertiesLine::UnescapeLine dropping large character: ", v, '\n');
        return KProperties::kLargeCharacter;
      }
      out->push_back(static_cast<char>(v));
      return 0;
    }
    // A high surrogate directly followed by an escaped low one is one
    // character above U+FFFF (Store writes those as such pairs).
    if (v >= 0xD800 && v <= 0xDBFF && *i + 6 <= raw.size() && raw[*i] == '\\' && raw[*i + 1] == 'u') {
      size_t j = *i + 2;
      unsigned low = 0;
      if (ReadDigits(raw.substr(0, *i + 6), &j, &low) == 4 && low >= 0xDC00 && low <= 0xDFFF) {
        *i = j;
        AppendUtf8(0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00), out);
        return 0;
      }
    }
    AppendUtf8(v, out);
    return 0;
  }

  static void AppendUtf8(unsigned v, std::string* out) {
    if (v < 0x80) {
      out->push_back(static_cast<char>(v));
    } else if (v < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (v >> 6)));
      out->push_back(static_cast<char>(0x80 | (v & 0x3F)));
    } else if (v < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (v >> 12)));
      out->push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (v & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (v >> 18)));
      out->push_back(static_cast<char>(0x80 | ((v >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (v & 0x3F)));
    }
  }

  const bool fUtf8;
};

bool IsSeparator(char c) { return c == '=' || c == ':' || IsSpace(c); }

// Splits one logical line into key and value and unescapes both.
class LineProcessor {
 public:
  LineProcessor(bool utf8, KPropertiesTable* table) : fUnescape(utf8), fTable(table) {}

  long ProcessCompleteLine(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && !IsSeparator(line[i])) i += line[i] == '\\' ? 2 : 1;
    i = std::min(i, line.size());
    const std::string_view rawKey = line.substr(0, i);
    std::string_view rest = SkipSpace(line.substr(i));
    if (!rest.empty() && (rest[0] == ':' || rest[0] == '=')) rest = SkipSpace(rest.substr(1));
    if (long code = fUnescape.Run(rawKey, &fKey); code != 0) {
      DebugLine("KPropertiesLine::ProcessCompleteLine", "failed to process line with name: ", rawKey);
      return code;
    }
    if (long code = fUnescape.Run(rest, &fValue); code != 0) {
      DebugLine("KPropertiesLine::ProcessCompleteLine", "failed to process line with value: ", rest);
      return code;
    }
    // Keys and values are C strings: an escaped NUL ends them.
    if (fKey.empty() || fKey[0] == '\0') return 0;
    KStringKey previous;
    fTable->Set(KStringKey(fKey.c_str()), KStringKey(fValue.c_str()), &previous);
    return 0;
  }

 private:
  Unescaper fUnescape;
  KPropertiesTable* fTable;
  std::string fKey;
  std::string fValue;
};

}  // namespace

long ParseProperties(std::istream& in, bool utf8, KPropertiesTable* table) {
  LineSource source(in);
  LineProcessor processor(utf8, table);
  std::string joined;
  std::string_view line;
  while (source.Next(&line) == LineSource::kLine) {
    line = SkipSpace(TrimLineEnd(line));
    if (line.empty() || line[0] == '#' || line[0] == '!') continue;
    if (!OddBackslashes(line)) {
      if (long code = processor.ProcessCompleteLine(line); code != 0) return code;
      continue;
    }
    // Continuations: drop the final backslash, append the next line without
    // its leading whitespace; an empty next line (or the end of the stream)
    // ends the logical line, a too-long one drops it with the rest.
    joined.assign(line.substr(0, line.size() - 1));
    for (;;) {
      std::string_view next;
      const LineSource::Result r = source.Next(&next);
      if (r == LineSource::kTooLong) return 0;
      if (r == LineSource::kEnd) break;
      next = SkipSpace(TrimLineEnd(next));
      if (next.empty()) break;
      if (!OddBackslashes(next)) {
        joined.append(next);
        break;
      }
      joined.append(next.substr(0, next.size() - 1));
    }
    if (long code = processor.ProcessCompleteLine(joined); code != 0) return code;
  }
  return 0;
}

}  // namespace vxk_internal
