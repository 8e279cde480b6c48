// The URL forms of text: percent-encoded UTF-8 whatever the process
// encoding is.
#include <string>

#include "text/text_settings.h"
#include "vxkernel/text/codepage.h"
#include "vxkernel/web/KWebEscape.h"

namespace {

// Whether a non-UTF-8 process converts through Shift-JIS (multi-byte and
// Japanese) rather than the active ANSI code page (1252 in a single-byte
// Western process). One reading of the settings word.
enum class UrlCodePage { kUtf8, kShiftJis, kAnsi };

UrlCodePage CurrentUrlCodePage() {
  const uint32_t w = vxk_internal::IntlSettingsWord();
  if (w & vxk_internal::kIntlUtf8Bit) return UrlCodePage::kUtf8;
  const bool japanese = (w & vxk_internal::kIntlLanguageMask) == vxk_internal::kIntlLanguageJapanese;
  return ((w & vxk_internal::kIntlMultiByteBit) && japanese) ? UrlCodePage::kShiftJis : UrlCodePage::kAnsi;
}

}  // namespace

KString KWebEscape::DecodeForURL(const char* s) {
  KString u = Unescape(s);
  const UrlCodePage cp = CurrentUrlCodePage();
  if (cp == UrlCodePage::kUtf8) return u;
  const std::wstring w = utf8tow(u, static_cast<long>(u.Length()));
  const std::string t = (cp == UrlCodePage::kShiftJis) ? wtosj(w) : wtoa(w);
  return KString(t.data(), static_cast<unsigned>(t.size()));
}

KString KWebEscape::EncodeForURL(const char* s) {
  const UrlCodePage cp = CurrentUrlCodePage();
  if (cp == UrlCodePage::kUtf8 || s == nullptr) return Escape(s);
  const std::wstring w = (cp == UrlCodePage::kShiftJis) ? sjtow(s) : atow(s);
  return Escape(wtoutf8(w).c_str());
}
