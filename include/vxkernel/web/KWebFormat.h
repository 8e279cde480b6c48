/// \file
/// Filling HTML templates from a list of script values.
#ifndef VXKERNEL_WEB_KWEBFORMAT_H_
#define VXKERNEL_WEB_KWEBFORMAT_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/values/KQSValue.h"

/// Template placeholders are a backquote and one letter choosing the escape
/// of the value put in its place: `H EscapeHTML, `U Escape (URL), `D and `S
/// backslash before double quotes / apostrophes, `L the text as it is.
/// Stateless; reentrant as long as args is not changed meanwhile.
class VXKERNEL_EXPORT KWebFormat {
 public:
  /// Placeholders beyond this many stay in the result as text.
  static constexpr int kMaxPlaceholders = 20;

  /// tmpl with placeholder i (from 0) replaced by list element i + 1 of args
  /// as text: a Date by the catalogue's date format, a String its text,
  /// Undefined nothing, an Error its catalogue message, anything else its
  /// value text form. A missing element gives empty text. Non-list args:
  /// writes one debug text and returns a copy of tmpl.
  static KString FormatHTMLExpression(const char* tmpl, const KQSValue& args);
};

#endif  // VXKERNEL_WEB_KWEBFORMAT_H_
