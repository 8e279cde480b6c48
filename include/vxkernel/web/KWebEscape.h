/// \file
/// Escapes for web pages and scripts: URL percent-encoding, HTML and XML
/// entities, backslash-escaped and script string literals.
#ifndef VXKERNEL_WEB_KWEBESCAPE_H_
#define VXKERNEL_WEB_KWEBESCAPE_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// Static text transformations. Each takes a NUL-terminated byte string in
/// the process encoding (null reads as empty) and returns a new string; none
/// fails or keeps state, so all are reentrant. The text mode is read once at
/// the start of a call.
class VXKERNEL_EXPORT KWebEscape {
 public:
  /// Every byte but '0'-'9', 'a'-'z', 'A'-'Z' and '_' becomes "%XX" (upper
  /// case hexadecimal).
  static KString Escape(const char* s);
  /// "%" and the two characters after it become one byte (not validated);
  /// a "%" with fewer than two characters after it is kept; "+" becomes a
  /// space.
  static KString Unescape(const char* s);
  /// "<" "&lt;", ">" "&gt;", '"' "&quot;", "&" "&amp;".
  static KString EscapeHTML(const char* s);
  /// As EscapeHTML, and "'" "&apos;".
  static KString EscapeXML(const char* s);
  /// The escape character inserted before every quote character.
  static KString EscapeQuotes(const char* s, char quote, char escape);
  /// quote, the text with TAB, LF, CR, backslash and quote backslash-escaped
  /// (double-byte characters copied whole), quote; quote 0 gives "".
  static KString XString(const char* s, char quote);
  static KString CString(const char* s);  ///< XString(s, '"')
  static KString JString(const char* s);  ///< XString(s, '\'')
  /// XML character data: TAB, LF, CR as "&#9;" "&#10;" "&#13;", '"' "&", "<"
  /// and ">" as entities; the apostrophe is kept.
  static KString XMLString(const char* s);
  /// Unescape, then from UTF-8 to the process encoding.
  static KString DecodeForURL(const char* s);
  /// From the process encoding to UTF-8, then Escape.
  static KString EncodeForURL(const char* s);
};

#endif  // VXKERNEL_WEB_KWEBESCAPE_H_
