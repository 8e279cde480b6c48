#include "vxkernel/web/KWebFormat.h"

#include <cstring>
#include <sstream>

#include "base/debug_line.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/web/KWebEscape.h"
#include "web/escape_internal.h"

namespace {

constexpr long kDateFormatMessage = 0x21430001;
constexpr long kNoCodeErrorMessage = 0x26AD0001;
constexpr unsigned long kDateTextMax = 254;

bool IsPlaceholderLetter(char c) { return c == 'H' || c == 'U' || c == 'D' || c == 'S' || c == 'L'; }

// The text a list element stands for in the page, before its escape.
KString ElementText(const KQSValue& v) {
  switch (v.Type()) {
    case -7: {  // Date
      KString format = err_get_msg(kDateFormatMessage);
      if (format.Length() == 0) format = "%m/%d/%Y";
      char buf[kDateTextMax + 1];
      const unsigned long n = v.Date().strftime(buf, kDateTextMax, format);
      return KString(buf, static_cast<unsigned>(n));
    }
    case -1: {  // String: its text up to the first NUL, as the escapes read it
      const KString& text = v.String();
      if (std::strlen(text) == text.Length()) return text;
      return KString(static_cast<const char*>(text));
    }
    case 0:  // Undefined
      return KString();
    case 1:  // Error
      return err_get_msg(v.Error() != 0 ? v.Error() : kNoCodeErrorMessage);
    default: {
      std::ostringstream os;
      os << v;
      return KString(os.view().data(), static_cast<unsigned>(os.view().size()));
    }
  }
}

KString Transform(char letter, const KString& text) {
  switch (letter) {
    case 'H':
      return KWebEscape::EscapeHTML(text);
    case 'U':
      return KWebEscape::Escape(text);
    case 'D':
      return KWebEscape::EscapeQuotes(text, '"', '\\');
    case 'S':
      return KWebEscape::EscapeQuotes(text, '\'', '\\');
    default:  // 'L'
      return text;
  }
}

}  // namespace

KString KWebFormat::FormatHTMLExpression(const char* tmpl, const KQSValue& args) {
  if (tmpl == nullptr) return KString();
  const char* places[kMaxPlaceholders];
  int count = 0;
  for (const char* p = std::strchr(tmpl, '`'); p != nullptr; p = std::strchr(p, '`')) {
    if (!IsPlaceholderLetter(p[1])) {
      ++p;
      continue;
    }
    if (count == kMaxPlaceholders) {
      vxk_internal::DebugText(
          "KWebUtils::FormatHTMLExpression   Ignoring placeholders beyond the first kMaxPlaceholders=",
          kMaxPlaceholders, "\n");
      break;
    }
    places[count++] = p;
    p += 2;
  }
  if (count == 0) return KString(tmpl);
  if (!args.IsList()) {
    vxk_internal::DebugText("KWebUtils::FormatHTMLExpression   Non-list argument list.\n");
    return KString(tmpl);
  }

  KString texts[kMaxPlaceholders];
  const size_t tmplLength = std::strlen(tmpl);
  size_t total = tmplLength - 2 * static_cast<size_t>(count);
  for (int i = 0; i < count; ++i) {
    texts[i] = Transform(places[i][1], ElementText(args.ListGetValue(i + 1)));
    total += texts[i].Length();
  }
  if (total == 0 || !vxk_internal::ResultFits(total, "KWebFormat::FormatHTMLExpression")) return KString();
  char* out;
  KString result = vxk_internal::NewStringOfLength(total, &out);
  const char* run = tmpl;
  for (int i = 0; i < count; ++i) {
    std::memcpy(out, run, static_cast<size_t>(places[i] - run));
    out += places[i] - run;
    std::memcpy(out, static_cast<const char*>(texts[i]), texts[i].Length());
    out += texts[i].Length();
    run = places[i] + 2;
  }
  std::memcpy(out, run, static_cast<size_t>(tmpl + tmplLength - run));
  return result;
}
