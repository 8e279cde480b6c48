// Plain text and a title from HTML or plain text, for the conversion.
#ifndef DCSCLIENT_HTML_TEXT_H_
#define DCSCLIENT_HTML_TEXT_H_

#include <string>
#include <string_view>

namespace dcs {

struct Document {
  std::string text;   // lines ending in '\n', no blank line twice
  std::string title;  // one line, may be empty
};

// Tags dropped (block tags end a line), script and style bodies left out,
// character references decoded to UTF-8, white space collapsed; the title
// is the <title> element's text, else the first non-empty line.
Document HtmlToText(std::string_view html);
// The text unchanged; the title is its first non-empty line, trimmed.
Document PlainText(std::string_view text);

}  // namespace dcs

#endif  // DCSCLIENT_HTML_TEXT_H_
