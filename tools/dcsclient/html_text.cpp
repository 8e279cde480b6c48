#include "html_text.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

namespace dcs {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Position of needle in hay from `from` on, ASCII case ignored; npos if none.
size_t FindNoCase(std::string_view hay, std::string_view needle, size_t from) {
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && Lower(hay[i + k]) == needle[k]) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes the character reference at s[i] == '&' into out; returns the
// number of bytes used (1 when it is no reference: the '&' stays).
size_t DecodeReference(std::string_view s, size_t i, std::string& out) {
  size_t semi = s.find(';', i);
  if (semi == std::string_view::npos || semi - i > 10) {
    out += '&';
    return 1;
  }
  std::string_view name = s.substr(i + 1, semi - i - 1);
  static const struct {
    const char* name;
    uint32_t cp;
  } kNamed[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '}};
  for (const auto& n : kNamed) {
    if (name == n.name) {
      out += static_cast<char>(n.cp);
      return semi - i + 1;
    }
  }
  if (name.size() >= 2 && name[0] == '#') {
    bool hex = name[1] == 'x' || name[1] == 'X';
    std::string digits(name.substr(hex ? 2 : 1));
    char* end = nullptr;
    unsigned long cp = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
    if (!digits.empty() && *end == '\0' && std::isxdigit(static_cast<unsigned char>(digits[0]))) {
      AppendUtf8(cp > 0x10FFFF ? 0xFFFD : static_cast<uint32_t>(cp), out);
      return semi - i + 1;
    }
  }
  out += '&';
  return 1;
}

// Text with references decoded; tags are not expected in it.
std::string Decode(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (s[i] == '&') {
      i += DecodeReference(s, i, out);
    } else {
      out += s[i++];
    }
  }
  return out;
}

// Each line's white space runs made one space, lines trimmed, empty lines
// left out; every line kept ends in '\n'.
std::string CollapseLines(std::string_view raw) {
  std::string out;
  std::string line;
  auto flush = [&] {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) out += line + '\n';
    line.clear();
  };
  for (char c : raw) {
    if (c == '\n') {
      flush();
    } else if (IsSpace(c)) {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  flush();
  return out;
}

std::string FirstLine(std::string_view text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    while (!line.empty() && IsSpace(line.front())) line.remove_prefix(1);
    while (!line.empty() && IsSpace(line.back())) line.remove_suffix(1);
    if (!line.empty()) return std::string(line);
    start = end + 1;
  }
  return {};
}

bool IsBlockTag(std::string_view name) {
  static const char* const kBlock[] = {"p",  "br", "div", "li", "ul", "ol", "h1", "h2", "h3",
                                       "h4", "h5", "h6",  "tr", "table", "hr", "pre", "blockquote",
                                       "section", "article", "header", "footer", "dt", "dd", "body"};
  for (const char* b : kBlock) {
    if (name == b) return true;
  }
  return false;
}

}  // namespace

Document HtmlToText(std::string_view html) {
  Document doc;
  std::string raw;
  size_t i = 0;
  while (i < html.size()) {
    char c = html[i];
    if (c == '&') {
      i += DecodeReference(html, i, raw);
      continue;
    }
    if (c != '<') {
      raw += c;
      ++i;
      continue;
    }
    if (html.compare(i, 4, "<!--") == 0) {
      size_t end = html.find("-->", i + 4);
      i = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    size_t close = html.find('>', i);
    if (close == std::string_view::npos) break;  // an unfinished tag ends the text
    size_t n = i + 1;
    bool closing = n < close && html[n] == '/';
    if (closing) ++n;
    std::string name;
    while (n < close && std::isalnum(static_cast<unsigned char>(html[n]))) name += Lower(html[n++]);
    i = close + 1;
    if (closing) {
      if (IsBlockTag(name)) raw += '\n';
      continue;
    }
    if (name == "script" || name == "style" || name == "title") {
      size_t end = FindNoCase(html, "</" + name, i);
      if (name == "title" && doc.title.empty())
        doc.title = FirstLine(CollapseLines(Decode(html.substr(i, end - i))));
      if (end == std::string_view::npos) break;
      size_t endClose = html.find('>', end);
      i = endClose == std::string_view::npos ? html.size() : endClose + 1;
    } else if (IsBlockTag(name)) {
      raw += '\n';
    } else if (name == "td" || name == "th") {
      raw += ' ';
    }
  }
  doc.text = CollapseLines(raw);
  if (doc.title.empty()) doc.title = FirstLine(doc.text);
  return doc;
}

Document PlainText(std::string_view text) {
  Document doc;
  doc.text = std::string(text);
  doc.title = FirstLine(text);
  return doc;
}

}  // namespace dcs
