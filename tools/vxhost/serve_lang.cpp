// The language of each request and the page texts in it. The language is
// chosen once at the start of each handler turn (Route) and kept for the
// worker thread: in this file for the page texts, and as the thread's
// current locale for the message catalogue (Text), so that every function
// below Route speaks it without a parameter.
#include <array>
#include <cstring>
#include <map>
#include <memory>

#include "serve_app.h"
#include "serve_auth.h"
#include "serve_log.h"
#include "serve_sheet.h"
#include "vxkernel/bundles/KPropertyResourceBundle.h"
#include "vxkernel/locale/KLocale.h"
#include "vxkernel/runtime/err.h"

namespace serve {

namespace {

const char kHtml[] = "text/html; charset=utf-8";
constexpr char kLanguageCookie[] = "vxlang";
constexpr char kPagesBundle[] = "pages";

// The request at hand on this thread: its language and the page the
// language switch comes back to.
struct RequestWords {
  std::string language = "en";
  std::string back = "/";
};
thread_local RequestWords tRequest;

// Each language's bundle chain, looked up once (the registry keeps it for
// the life of the process; a bundle never changes once made, so any thread
// may read it).
const KPropertyResourceBundle* PagesBundle(const std::string& language) {
  static const std::map<std::string, const KPropertyResourceBundle*> bundles = [] {
    std::map<std::string, const KPropertyResourceBundle*> made;
    KString dir = err_properties_path();
    for (const std::string& code : Languages())
      made[code] = KPropertyResourceBundle::GetResourceBundle(kPagesBundle, KLocale(code.c_str()), dir);
    return made;
  }();
  auto it = bundles.find(language);
  return it == bundles.end() ? nullptr : it->second;
}

bool Offered(const std::string& code) {
  for (const std::string& l : Languages())
    if (l == code) return true;
  return false;
}

// A target the switch may send the browser back to: a path on this site
// (not "//host"), printable ASCII without backslashes, so that it can go
// into a Location header as it is.
bool LocalTarget(const std::string& target) {
  if (target.empty() || target[0] != '/' || (target.size() > 1 && target[1] == '/')) return false;
  for (unsigned char c : target)
    if (c <= 0x20 || c >= 0x7f || c == '\\') return false;
  return true;
}

const char kSwitch[] =
    "<form class=\"lang\" method=\"post\" action=\"/lang\"><input type=\"hidden\" name=\"back\" value=\"`H\">";
const char kSwitchButton[] = "<button type=\"submit\" name=\"lang\" value=\"`H\" lang=\"`H\"`L>`H</button>";
// Each language by its own name, whatever the page's language.
const std::map<std::string, std::string> kLanguageNames = {{"en", "English"}, {"de", "Deutsch"}};

}  // namespace

const std::vector<std::string>& Languages() {
  static const std::vector<std::string> languages = {"en", "de"};
  return languages;
}

std::string RequestLanguage() { return tRequest.language; }

const std::string& RequestBack() { return tRequest.back; }

namespace {

// The cookie the switch set, else Accept-Language, else the default.
std::string LanguageOf(const RequestHead& head) {
  std::string chosen = Cookie(head, kLanguageCookie);
  return Offered(chosen) ? chosen : PreferredLanguage(head.Header("accept-language"), Languages());
}

// The thread's current locale becomes the one of the code, unless it is
// that already: a connection's context keeps its locale from one request
// to the next, and making a KLocale costs allocations.
void UseLocale(const std::string& language) {
  const KLocale& now = KLocale::CurrentLocale();
  if (std::strcmp(now.Language(), language.c_str()) == 0 && now.Country().Length() == 0 &&
      now.Variant().Length() == 0 && now.GetResourceSuffix().Length() != 0)
    return;
  KLocale::CurrentLocale(language.c_str());
}

void UseLanguage(const RequestWords& words) {
  tRequest = words;
  UseLocale(words.language);
}

}  // namespace

void ChooseLanguage(Exchange& ex) {
  // A page that answered a GET can be asked for again; after a form the
  // list is the page to return to. Made in the thread's own strings, which
  // keep their buffers from one request to the next.
  std::string& back = tRequest.back;
  back.assign(ex.head.path);
  if (!ex.head.query.empty()) back.append("?").append(ex.head.query);
  if (ex.head.method != "GET" || !LocalTarget(back)) back.assign("/");
  tRequest.language = LanguageOf(ex.head);
  UseLocale(tRequest.language);
}

LanguageScope::LanguageScope(const RequestHead& head)
    : fLanguage(tRequest.language),
      fBack(tRequest.back),
      fLocale(std::make_unique<KLocale>(KLocale::CurrentLocale())) {
  UseLanguage({LanguageOf(head), "/"});
}

LanguageScope::~LanguageScope() {
  tRequest = {fLanguage, fBack};
  KLocale::CurrentLocale(*fLocale);
}

std::string PageText(const std::string& key) {
  const KPropertyResourceBundle* bundle = PagesBundle(tRequest.language);
  KString text;
  if (bundle != nullptr && bundle->GetString(key.c_str(), text)) return std::string(text, text.Length());
  LogEvent("no page text " + key + " for the language " + tRequest.language);
  return key;
}

std::string PageText(const std::string& key, std::initializer_list<std::string> values) {
  std::string text = PageText(key), out;
  auto value = values.begin();
  size_t at = 0;
  for (size_t mark; value != values.end() && (mark = text.find("`H", at)) != std::string::npos; ++value) {
    out.append(text, at, mark - at).append(*value);
    at = mark + 2;
  }
  return out.append(text, at, std::string::npos);
}

std::string CountKey(const std::string& key, int64_t n) { return n == 1 ? key + ".one" : key; }

std::string Localize(const std::string& tmpl) {
  std::string out;
  size_t at = 0;
  for (size_t open; (open = tmpl.find("{{", at)) != std::string::npos;) {
    size_t close = tmpl.find("}}", open + 2);
    if (close == std::string::npos) break;
    out.append(tmpl, at, open - at);
    out += HtmlEscape(PageText(tmpl.substr(open + 2, close - open - 2)));
    at = close + 2;
  }
  return out.append(tmpl, at, std::string::npos);
}

void LanguageSwitch(Sheet& page) {
  page.Put(kSwitch, {Sheet::Slot::kBack});
  for (const std::string& code : Languages()) {
    if (code != Languages().front()) page.Add(" | ");
    auto name = kLanguageNames.find(code);
    page.Put(kSwitchButton, {code, code, code == tRequest.language ? " aria-current=\"true\"" : "",
                             name == kLanguageNames.end() ? code : name->second});
  }
  page.Add("</form>\n");
}

// POST /lang: lang=CODE&back=TARGET. No session may exist yet (the login
// page has the switch too), so, as for a login, where the form came from
// decides.
void HandleLanguage(Exchange& ex) {
  if (ex.head.method != "POST") return SendError(ex, 405, Text(kOnly, "POST"));
  if (!FromThisSite(ex)) return RefuseOtherSite(ex);
  if (!SmallFormIn(ex)) return;
  std::string code = FormValue(ex.req.bodyBytes, "lang");
  if (!Offered(code)) return SendError(ex, 400, Text(kNoLanguage, code));
  std::string back = FormValue(ex.req.bodyBytes, "back");
  if (!LocalTarget(back)) back = "/";
  std::string cookie = "Set-Cookie: " + std::string(kLanguageCookie) + "=" + code +
                       "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Lax" + (ex.req.secure ? "; Secure" : "") + "\r\n";
  Send(ex, 303, kHtml, Fill("<a href=\"`H\">`H</a>\n", {back, back}), "Location: " + back + "\r\n" + cookie);
}

}  // namespace serve
