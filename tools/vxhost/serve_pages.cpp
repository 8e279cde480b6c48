// The server's HTML. Rows and figures are filled in through
// KWebFormat::FormatHTMLExpression with `H (or `U for keys in URLs), so
// every name, title and note a client sent is shown escaped.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>

#include "serve_app.h"
#include "serve_loop.h"
#include "serve_auth.h"
#include "serve_pool.h"
#include "serve_preview.h"
#include "serve_sheet.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassPointer.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/text/TArray.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/version.h"
#include "vxkernel/web/KWebEscape.h"
#include "vxkernel/web/KWebFormat.h"

namespace serve {

namespace {

// No inline style or script anywhere: the pages are served with a
// Content-Security-Policy that allows only this site's own files.
const char kHead[] =
    "<!DOCTYPE html>\n<html lang=\"`H\"><head><meta charset=\"utf-8\"><title>`H</title>\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<link rel=\"stylesheet\" href=\"/static/style.css\">\n</head><body>\n";

const char kNav[] =
    "<nav><a href=\"/\">{{nav.documents}}</a> <a href=\"/log\">{{nav.log}}</a> "
    "<a href=\"/status\">{{nav.status}}</a>";
const char kAdminNav[] = " <a href=\"/trash\">{{nav.trash}}</a> <a href=\"/admin/classes\">{{nav.classes}}</a>";
const char kNavUser[] =
    " <span class=\"user\">`H</span>"
    " <form class=\"logout\" method=\"post\" action=\"/logout\"><input type=\"hidden\" name=\"csrf\" value=\"`H\">"
    "<button type=\"submit\">{{button.logout}}</button></form></nav>\n";

const char kTitle[] = "<h1>`H</h1>\n";

// `H: the form token, then the limit on files, shown beside the chooser.
const char kUploadForm[] =
    "<form id=\"upload\" method=\"post\" action=\"/upload\" enctype=\"multipart/form-data\">\n"
    "<input type=\"hidden\" name=\"csrf\" value=\"`H\">\n"
    "<label>{{upload.files}} <input type=\"file\" name=\"file\" multiple> <small class=\"limit\">`H</small></label>\n"
    "<label>{{upload.note}} <input type=\"text\" name=\"note\" placeholder=\"{{upload.note}}\"></label>\n"
    "<button type=\"submit\">{{button.upload}}</button>\n</form>\n";

// A thumbnail, shown at half its pixels so that it is sharp on dense
// screens: `H width, `H height, `U key.
const char kThumbCell[] =
    "<tr><td class=\"thumb\"><img alt=\"\" loading=\"lazy\" width=\"`H\" height=\"`H\" src=\"/doc/`U/thumb\"></td>";
const char kRow[] =
    "<td class=\"name\">`H</td><td class=\"size\">`H</td><td class=\"type\">`H</td>"
    "<td class=\"title\">`H</td><td class=\"date\"><time datetime=\"`H\">`H</time></td><td class=\"note\">`H</td>"
    "<td class=\"actions\"><div class=\"row-actions\"><a class=\"download\" href=\"/doc/`U\">{{button.download}}</a> "
    "<a class=\"preview\" href=\"/doc/`U/preview\">{{button.preview}}</a> "
    "<form class=\"delete\" method=\"post\" action=\"/doc/`U/delete\"><input type=\"hidden\" name=\"csrf\" value=\"`H\">"
    "<button type=\"submit\">{{button.delete}}</button></form> <a class=\"share\" href=\"/doc/`U/share\">{{button.share}}</a></div>";

// The list's head: a sort link per sortable column (`H: its query, its
// label), the column it is sorted by with its direction.
const char kSortHead[] = "<th><a href=\"/?`H\">`H</a></th>";
const char kSortedHead[] = "<th aria-sort=\"`H\"><a href=\"/?`H\">`H</a></th>";
const char kPlainHead[] = "<th>`H</th>";
// Index = ListQuery::Key; page texts.
const char* const kColumnLabels[] = {"column.name", "column.size", "column.type", "column.uploaded"};
const char kPageLink[] = "<a rel=\"`H\" href=\"/?`H\">`H</a> ";
const char kPageOf[] = "<span class=\"at\">{{list.page_of}}</span> ";

// `H: the name; `U: the key; `H: the form token.
const char kUndo[] =
    "<p class=\"notice\">{{undo.deleted}} \u2014 <form class=\"restore\" method=\"post\" action=\"/doc/`U/restore\">"
    "<input type=\"hidden\" name=\"csrf\" value=\"`H\"><button type=\"submit\">{{button.undo}}</button></form></p>\n";

const char kTrashRow[] =
    "<tr><td class=\"name\">`H</td><td class=\"size\">`H</td><td class=\"deleted\">`H</td><td class=\"by\">`H</td>"
    "<td><form class=\"restore\" method=\"post\" action=\"/doc/`U/restore\"><input type=\"hidden\" name=\"csrf\" "
    "value=\"`H\"><button type=\"submit\">{{button.restore}}</button></form></td></tr>\n";

const char kLoginForm[] =
    "<form id=\"login\" method=\"post\" action=\"/login\">\n"
    "<label>{{login.user}} <input type=\"text\" name=\"user\" autocomplete=\"username\" autofocus></label>\n"
    "<label>{{login.password}} <input type=\"password\" name=\"password\" autocomplete=\"current-password\"></label>\n"
    "<button type=\"submit\">{{button.login}}</button>\n</form>\n";

const char kStyle[] =
    ":root{font-size:15px;color-scheme:light dark;--fg:#1d2025;--bg:#f6f7f9;--surface:#fff;"
    "--line:#d9dde3;--muted:#5c6470;--link:#0b57d0;--accent:#0b57d0;--accent-fg:#fff;--button:#eef1f5;"
    "--focus:#1a5fb4;--code:#f1f3f5;--error:#b3261e;--notice:#fff4cc;--radius:6px}"
    "@media (prefers-color-scheme:dark){:root{--fg:#e6e8eb;--bg:#121417;--surface:#1b1e23;--line:#343a42;"
    "--muted:#a0a8b3;--link:#8ab4f8;--accent:#8ab4f8;--accent-fg:#0b1a33;--button:#2a2f36;"
    "--focus:#8ab4f8;--code:#23272d;--error:#ff8a80;--notice:#3b3420}}"
    // Whatever a rule below sets, a hidden element (the upload panel before its script runs) stays
    // hidden.
    "[hidden]{display:none!important}*,::before,::after{box-sizing:border-box}body{"
    "font-family:system-ui,-apple-system,\"Segoe UI\",Roboto,\"Noto Sans\",sans-serif;line-height:1.45;"
    "margin:0;color:var(--fg);background:var(--bg)}a{color:var(--link)}:focus-visible{"
    "outline:3px solid var(--focus);outline-offset:2px}input,button{max-width:100%;font:inherit;"
    "color:inherit}input[type=text],input[type=search],input[type=password],input[type=number]{"
    "padding:.4em .6em;border:1px solid var(--line);border-radius:var(--radius);"
    "background:var(--surface)}button{padding:.4em .9em;border:1px solid var(--line);"
    "border-radius:var(--radius);background:var(--button);cursor:pointer}button:hover{"
    "border-color:var(--muted)}"
    "#search button,#upload button,#login button,#share button,#share-password button{"
    "background:var(--accent);color:var(--accent-fg);border-color:var(--accent);font-weight:600}"
    // The bar on top: the pages on the left, the user and the language switch on the right.
    "header.top{display:flex;flex-wrap:wrap;align-items:center;gap:.4em 1.5em;"
    "padding:.5rem max(2rem,calc((100% - 90rem)/2 + 2rem));background:var(--surface);"
    "border-bottom:1px solid var(--line)}header.top nav{display:flex;flex-wrap:wrap;align-items:center;"
    "gap:.2em;flex:1 1 auto}header.top nav>a{padding:.35em .7em;border-radius:var(--radius);"
    "text-decoration:none;color:var(--fg);font-weight:500}header.top nav>a:hover{"
    "background:var(--button)}nav .user{margin-left:auto;padding:0 .5em;color:var(--muted)}"
    // The language switch: buttons that look like links, the page's own language marked.
    "form.lang{order:2;margin-left:auto;display:flex;align-items:center;gap:.1em;color:var(--muted);"
    "font-size:.9em}form.lang button{background:none;border:0;padding:.2em .35em;color:var(--link);"
    "text-decoration:underline;cursor:pointer}form.lang button[aria-current]{color:inherit;"
    "text-decoration:none;font-weight:bold}main{max-width:90rem;margin:0 auto;padding:1rem 2rem 2rem}h1{"
    "font-size:1.7em;margin:.4em 0 .6em;overflow-wrap:anywhere}"
    "form.delete,form.logout,form.restore,form.revoke{display:inline}form#search{display:flex;"
    "flex-wrap:wrap;align-items:center;gap:.5em;margin:0 0 1em}form#search label{display:flex;"
    "align-items:center;gap:.6em;flex:1 1 16em;max-width:36em}form#search input[type=search]{flex:1;"
    "min-width:0}div.add{background:var(--surface);border:1px solid var(--line);"
    "border-radius:var(--radius);padding:.8em 1em;margin:0 0 1.2em}form#upload{display:flex;"
    "flex-wrap:wrap;align-items:center;gap:.5em 1.5em}form#upload label{display:flex;flex-wrap:wrap;"
    "align-items:center;gap:.3em .6em}small.limit{color:var(--muted)}"
    // The upload panel: a drop zone that lights up while files are dragged over the page, then a
    // bar and a state per file.
    "#drop{display:block;width:100%;margin:.8em 0 0;padding:1.1em;border:2px dashed var(--line);"
    "border-radius:var(--radius);background:none;color:var(--muted);cursor:pointer}"
    "#drop:hover,body.dragging #drop{border-color:var(--accent);color:var(--fg)}body.dragging #drop{"
    "background:var(--notice)}#uploads ul{list-style:none;margin:0;padding:0}"
    "#uploads li{margin:.3em 0;overflow-wrap:anywhere}#uploads progress{vertical-align:middle;max-width:100%}"
    "#uploads li.failed .state{color:var(--error)}"
    // Tables
    "table{border-collapse:collapse;background:var(--surface)}td,th{border-bottom:1px solid var(--line);"
    "padding:.5em .6em;text-align:left;vertical-align:middle}th{font-size:.85em;font-weight:600;"
    "color:var(--muted);text-transform:uppercase;letter-spacing:.03em;white-space:nowrap}th a{"
    "color:inherit;text-decoration:none}th a:hover{color:var(--link);text-decoration:underline}"
    "th[aria-sort]{color:var(--fg)}th[aria-sort=ascending] a::after{content:\" \\25B2\"}"
    "th[aria-sort=descending] a::after{content:\" \\25BC\"}"
    "td.name,td.title,td.note,td.type{overflow-wrap:anywhere}"
    // Fixed columns, so that a long name takes its own column's width and no more, and short cells
    // are not broken mid-word; the actions' column fits its four actions on one line. Widths in
    // rem: a header's em is its smaller font.
    "table#docs{width:100%;table-layout:fixed;border:1px solid var(--line);border-radius:var(--radius)}"
    "#docs th:nth-child(1){width:calc(64px + 1.2rem)}#docs th:nth-child(3){width:5.5rem}"
    "#docs th:nth-child(4){width:8rem}#docs th:nth-child(5){width:14%}#docs th:nth-child(6){width:7.5rem}"
    "#docs th:nth-child(7){width:11%}#docs th:nth-child(8){width:20rem}"
    "#docs td.name{font-weight:600}#docs td.size,#docs td.type,#docs td.date{color:var(--muted);"
    "font-size:.9em}#docs tbody tr:hover{background:var(--bg)}td.thumb img{display:block;margin:0 auto;"
    "max-width:100%;height:auto;border:1px solid var(--line);border-radius:3px;background:#fff}"
    "td.thumb:empty::before{content:\"\";display:block;margin:0 auto;width:40px;height:48px;"
    "border:1px dashed var(--line);border-radius:3px}"
    // A row's actions on one line, delete last; its share links under them.
    ".row-actions{display:flex;flex-wrap:wrap;gap:.35em}.row-actions form.delete{order:1}"
    ".row-actions a,.row-actions button{display:inline-block;padding:.25em .5em;"
    "border:1px solid var(--line);border-radius:var(--radius);background:var(--button);color:var(--fg);"
    "text-decoration:none;font-size:.88em;line-height:1.4}.row-actions a:hover{border-color:var(--muted)}"
    ".row-actions a.download{background:var(--accent);border-color:var(--accent);color:var(--accent-fg)}"
    "form.delete button{color:var(--error)}form.delete button:hover{border-color:var(--error)}ul.shares{"
    "list-style:none;margin:.5em 0 0;padding:0;font-size:.85em;color:var(--muted)}ul.shares li{"
    "padding:.3em 0;border-top:1px dashed var(--line);overflow-wrap:anywhere}ul.shares .share-id{"
    "font-family:ui-monospace,monospace;color:var(--fg)}ul.shares form.revoke{float:right;"
    "margin-left:.5em}ul.shares li::after{content:\"\";display:block;clear:both}"
    "ul.shares form.revoke button{padding:.05em .5em;font-size:.95em}nav.pages{margin:1em 0;"
    "color:var(--muted)}nav.pages a,nav.pages span{margin-right:1em}p.notice{background:var(--notice);"
    "padding:.5em .8em;border-radius:var(--radius)}"
    // The undo form beside its notice (a form may not sit inside a paragraph: the parser closes the
    // paragraph before it).
    "p.notice,p.notice+form.restore{display:inline-block;margin:0 .6em 1em 0}p:empty{display:none}"
    // Other pages
    "table#status,table#trash,table#classes{border:1px solid var(--line)}table#status th{"
    "text-transform:none;letter-spacing:0;font-size:1em;font-weight:500;white-space:normal}"
    "table#status td,table#trash td{overflow-wrap:anywhere}table#trash,table#classes{width:100%}img.page{"
    "display:block;max-width:100%;height:auto;border:1px solid var(--line);background:#fff;"
    "box-shadow:0 1px 4px rgba(0,0,0,.15)}pre#text{white-space:pre-wrap;overflow-wrap:anywhere;"
    "background:var(--surface);border:1px solid var(--line);border-radius:var(--radius);padding:1em}"
    "p>a.download{display:inline-block;padding:.4em .9em;border-radius:var(--radius);"
    "background:var(--accent);color:var(--accent-fg);font-weight:600;text-decoration:none}"
    "form#share+ul.shares{max-width:26rem;margin-top:1.2em}form#login,form#share,form#share-password{"
    "display:flex;flex-direction:column;gap:.9em;max-width:26em;padding:1.2em;background:var(--surface);"
    "border:1px solid var(--line);border-radius:var(--radius)}"
    "form#login label,form#share label,form#share-password label{display:flex;flex-direction:column;"
    "gap:.3em;font-weight:500}form#login button,form#share button,form#share-password button{"
    "align-self:flex-start}a#share-link{overflow-wrap:anywhere;font-family:ui-monospace,monospace}"
    "pre#log{background:var(--code);padding:1em;max-height:30em;overflow:auto;white-space:pre-wrap;"
    "overflow-wrap:anywhere;border-radius:var(--radius)}p.error{color:var(--error);font-weight:500}"
    // Narrow screens: each document becomes a card (thumbnail beside its facts, the actions under
    // them), so that nothing scrolls sideways and its actions stay in view.
    "@media (max-width:40em){header.top{padding:.4rem .6rem;gap:.2em}header.top nav{display:contents}"
    "header.top:has(nav) form.lang{margin-left:0}header.top nav>a{padding:.3em .45em}nav .user{"
    "padding:0 .3em}main{padding:.6rem .6rem 1.5rem}h1{font-size:1.45em}"
    "table#docs,#docs thead,#docs tbody,#docs tr,#docs td{display:block;width:auto}table#docs{border:0;"
    "background:none}#docs thead tr{display:flex;flex-wrap:wrap;gap:0 .8em;padding:0 0 .4em}#docs th{"
    "border:0;padding:.2em 0;width:auto!important}#docs th:not(:has(a)){display:none}#docs tbody tr{"
    "display:grid;grid-template-columns:64px minmax(0,1fr);column-gap:.8em;margin:0 0 .7em;padding:.7em;"
    "background:var(--surface);border:1px solid var(--line);border-radius:var(--radius)}#docs td{"
    "grid-column:2;border:0;padding:.05em 0}#docs td:empty{display:none}#docs td.thumb{grid-column:1;"
    "grid-row:1/span 6}#docs td.thumb:empty{display:block}#docs td.actions{grid-column:1/-1;"
    "padding-top:.6em}.row-actions{display:grid;grid-template-columns:1fr 1fr;gap:.45em}"
    ".row-actions a,.row-actions button{width:100%;padding:.5em .6em;font-size:.95em;text-align:center}"
    ".row-actions form.delete{display:block}form#upload{gap:.6em}form#search label{flex-basis:100%;"
    "max-width:none}}\n";

// Rewrites the UTC times of a page in the reader's own time zone; without
// it they read as UTC.
const char kTimeScript[] =
    "(function () {\n"
    "  const two = (n) => String(n).padStart(2, '0');\n"
    "  for (const t of document.querySelectorAll('time[datetime]')) {\n"
    "    const d = new Date(t.getAttribute('datetime'));\n"
    "    if (isNaN(d.getTime())) continue;\n"
    "    const zone = d.toLocaleTimeString('en-US', {timeZoneName: 'short'}).split(' ').pop();\n"
    "    t.title = t.textContent;\n"
    "    t.textContent = d.getFullYear() + '-' + two(d.getMonth() + 1) + '-' + two(d.getDate()) + ' ' +\n"
    "        two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds()) + ' ' + zone;\n"
    "  }\n"
    "})();\n";

const char kLogScript[] =
    "(async function tail() {\n"
    "  const pre = document.getElementById('log');\n"
    "  let after = 0;\n"
    "  for (;;) {\n"
    "    try {\n"
    "      const r = await fetch('/log?after=' + after, {cache: 'no-store'});\n"
    "      // The session ended (logged out, idle): on to the login page rather\n"
    "      // than polling it.\n"
    "      if (r.redirected) { location.assign(r.url); return; }\n"
    "      if (!r.ok) throw new Error(r.statusText);\n"
    "      const text = await r.text();\n"
    "      after = Number(r.headers.get('X-Log-Next') || after);\n"
    "      if (text) { pre.textContent += text; pre.scrollTop = pre.scrollHeight; }\n"
    "    } catch (e) { await new Promise(ok => setTimeout(ok, 1000)); }\n"
    "  }\n"
    "})();\n";

}  // namespace

namespace {

// A localized template with its placeholders filled in order.
std::string Format(const std::string& localized, const std::vector<std::string>& values) {
  KQSValue list = KQSValue::List();
  for (const std::string& v : values) list.ListAppendValue(KQSValue(v.c_str()));
  return std::string(KWebFormat::FormatHTMLExpression(localized.c_str(), list));
}

// What a backquote before c makes a placeholder of.
bool PlaceholderLetter(char c) { return c == 'H' || c == 'U' || c == 'D' || c == 'S' || c == 'L'; }

// The page around body; with the navigation and the log-out button when nav.
Sheet PageSheet(const std::string& title, const Sheet& body, bool nav) {
  Sheet page;
  page.Put(kHead, {RequestLanguage(), title});
  page.Add("<header class=\"top\">");
  LanguageSwitch(page);
  if (nav) {
    page.Add(Localize(kNav));
    page.Add(Sheet::Slot::kAdminNav);
    page.SetAdminNav(Localize(kAdminNav));
    page.Put(kNavUser, {Sheet::Slot::kUser, Sheet::Slot::kCsrf});
  }
  page.Add("</header>\n<main>\n");
  page.Put(kTitle, {title});
  page.Add(body);
  page.Add("</main>\n</body></html>\n");
  return page;
}

}  // namespace

std::string Fill(const char* tmpl, std::initializer_list<std::string> values) {
  return Format(Localize(tmpl), std::vector<std::string>(values));
}

void Sheet::Add(Slot slot, const std::string& key) {
  fHoles.push_back({fText.size(), slot, static_cast<uint32_t>(fRows.size())});
  if (slot == Slot::kShares) fRows.push_back(key);
}

void Sheet::Add(const Sheet& other) {
  for (const Hole& h : other.fHoles)
    fHoles.push_back({fText.size() + h.at, h.slot, static_cast<uint32_t>(fRows.size() + h.row)});
  fText += other.fText;
  fRows.insert(fRows.end(), other.fRows.begin(), other.fRows.end());
  if (!other.fAdminNav.empty()) fAdminNav = other.fAdminNav;
}

// The template is scanned for placeholders as FormatHTMLExpression scans
// it; each stretch between holes is formatted with its own values.
void Sheet::Put(const char* tmpl, std::initializer_list<Cell> values) {
  const std::string text = Localize(tmpl);
  std::vector<std::string> run;  // the values since the last hole
  size_t from = 0;               // where the text since the last hole starts
  const Cell* value = values.begin();
  for (size_t at = 0; at + 1 < text.size() && value != values.end(); ++at) {
    if (text[at] != '`' || !PlaceholderLetter(text[at + 1])) continue;
    if (value->hole) {
      fText += Format(text.substr(from, at - from), run);
      run.clear();
      Add(value->slot);
      from = at + 2;
    } else {
      run.push_back(value->text);
    }
    ++value;
    ++at;
  }
  fText += Format(text.substr(from), run);
}

std::string Sheet::Fill(const Caller* who, const std::string& undo,
                        const std::function<std::string(const std::string& key)>& shares) const {
  const std::string back = HtmlEscape(RequestBack());
  const std::string user = who != nullptr ? HtmlEscape(who->user) : "";
  const std::string csrf = who != nullptr ? HtmlEscape(who->csrf) : "";
  std::string page;
  page.reserve(fText.size() + back.size() + user.size() + fAdminNav.size() + undo.size() +
               fHoles.size() * csrf.size());
  size_t at = 0;
  for (const Hole& h : fHoles) {
    page.append(fText, at, h.at - at);
    at = h.at;
    switch (h.slot) {
      case Slot::kBack: page += back; break;
      case Slot::kAdminNav: page += who != nullptr && who->admin ? fAdminNav : std::string(); break;
      case Slot::kUser: page += user; break;
      case Slot::kCsrf: page += csrf; break;
      case Slot::kUndo: page += undo; break;
      case Slot::kShares: page += shares ? shares(fRows[h.row]) : std::string(); break;
    }
  }
  return page.append(fText, at, std::string::npos);
}

// A page; with the navigation and the log-out button for a logged-in caller.
std::string Page(const std::string& title, const std::string& body, const Caller* who) {
  Sheet text;
  text.Add(body);
  return PageSheet(title, text, who != nullptr).Fill(who);
}

std::string Text(Message m, const std::string& arg) {
  long code = (kCatalogue << 16) | m;
  std::string text(err_sprintf(code, arg.c_str()));
  if (!text.empty()) return text;
  char fallback[32];
  std::snprintf(fallback, sizeof fallback, "message 0x%08lx", static_cast<unsigned long>(code));
  return fallback;
}

bool ValidKey(const std::string& key) {
  if (key.size() != 16) return false;
  for (char c : key)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool ValidInstance(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') return false;
  return true;
}

std::string HtmlEscape(const std::string& text) { return std::string(KWebEscape::EscapeHTML(text.c_str())); }

// In the request's language: its word for bytes and its decimal mark.
std::string FormatSize(int64_t bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " " + PageText("size.bytes");
  double v = static_cast<double>(bytes);
  int u = 0;
  while (v >= 1024 && u < 4) {
    v /= 1024;
    ++u;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", v, units[u]);
  std::string size = text;
  return size.replace(size.find('.'), 1, PageText("size.decimal_mark"));
}

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string FormatDate(int64_t secondsUtc) {
  CivilTime c = CivilOf(secondsUtc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ld UTC", c.year, c.month, c.day, c.hour, c.minute,
                c.second);
  return text;
}

std::string IsoDate(int64_t secondsUtc) {
  std::string iso = FormatDate(secondsUtc);  // "YYYY-MM-DD HH:MM:SS UTC"
  iso[10] = 'T';
  iso.replace(19, std::string::npos, "Z");
  return iso;
}

std::string ListPage(const std::vector<DocInfo>& docs, const Caller& who) { return ListPage(docs, ListQuery(), who); }

Sheet ListSheet(const std::vector<DocInfo>& all, const ListQuery& query, std::vector<std::string>* thumbless) {
  int page = 1, pages = 1, total = 0;
  std::vector<DocInfo> docs = PageOf(all, query, &page, &pages, &total);
  // A column's header sorts by it; chosen again, it turns the direction.
  auto head = [&query](ListQuery::Key key) {
    std::string label = PageText(kColumnLabels[key]);
    if (key != query.key) return Fill(kSortHead, {ListQueryString(key, DefaultAscending(key), 1, query.words), label});
    return Fill(kSortedHead, {query.ascending ? "ascending" : "descending",
                              ListQueryString(key, !query.ascending, 1, query.words), label});
  };
  Sheet body;
  body.Add(Sheet::Slot::kUndo);
  // The search above the list; the upload form and its drop zone together in
  // a panel of their own.
  body.Add(SearchBox(query) + "<div class=\"add\">\n");
  body.Put(kUploadForm, {Sheet::Slot::kCsrf, Text(kTooManyFiles)});
  body.Add(UploadPanel() + "</div>\n");
  body.Add(Localize("<table id=\"docs\" aria-label=\"{{list.table}}\">\n<thead><tr><th></th>") +
           head(ListQuery::kName) + head(ListQuery::kSize) + head(ListQuery::kType) +
           Fill(kPlainHead, {PageText("column.title")}) + head(ListQuery::kDate) +
           Fill(kPlainHead, {PageText("column.note")}) + "<th></th></tr></thead>\n<tbody>\n");
  for (const DocInfo& d : docs) {
    int w = 0, h = 0;
    if (ThumbSize(d.key, &w, &h)) {
      body.Add(Fill(kThumbCell, {std::to_string((w + 1) / 2), std::to_string((h + 1) / 2), d.key}));
    } else {
      body.Add("<tr><td class=\"thumb\"></td>");
      if (thumbless != nullptr) thumbless->push_back(d.key);
    }
    body.Put(kRow, {d.name, FormatSize(d.size), d.type, d.title, IsoDate(d.uploaded), FormatDate(d.uploaded), d.note,
                    d.key, d.key, d.key, Sheet::Slot::kCsrf, d.key});
    body.Add(Sheet::Slot::kShares, d.key);
    body.Add("</td></tr>\n");
  }
  std::string tail = "</tbody></table>\n";
  if (docs.empty()) tail += query.words.empty() ? Localize("<p id=\"empty\">{{list.empty}}</p>\n") : NoMatchNote();
  // The pages keep the view's order.
  tail += Localize("<nav class=\"pages\" aria-label=\"{{list.pages}}\">");
  if (page > 1)
    tail += Fill(kPageLink, {"prev", ListQueryString(query.key, query.ascending, page - 1, query.words),
                             PageText("list.previous")});
  tail += Fill(kPageOf, {std::to_string(page), std::to_string(pages)});
  if (page < pages)
    tail += Fill(kPageLink, {"next", ListQueryString(query.key, query.ascending, page + 1, query.words),
                             PageText("list.next")});
  body.Add(tail + "</nav>\n<script src=\"/static/time.js\" defer></script>\n");
  return PageSheet(PageText("list.heading"), body, true);
}

std::string UndoOffers(const std::vector<TrashInfo>& undo, const Caller& who) {
  std::string offers;
  for (const TrashInfo& t : undo) offers += Fill(kUndo, {t.doc.name, t.doc.key, who.csrf});
  return offers;
}

std::string ListPage(const std::vector<DocInfo>& all, const ListQuery& query, const Caller& who,
                     const std::vector<TrashInfo>& undo,
                     const std::function<std::string(const std::string& key)>& shares) {
  return ListSheet(all, query, nullptr).Fill(&who, UndoOffers(undo, who), shares);
}

std::string ErrorPage(int status, const std::string& message) {
  // The reason in the page's language where the bundle has it.
  std::string reason = "http." + std::to_string(status), text = PageText(reason);
  std::string title = std::to_string(status) + " " + (text == reason ? StatusText(status) : text);
  return Page(title, Fill("<p class=\"error\">`H</p>\n<p><a href=\"/\">{{error.back}}</a></p>\n", {message}));
}

std::string LogPage(const Caller& who) {
  return Page(PageText("log.heading"), "<pre id=\"log\"></pre>\n<script src=\"/static/log.js\"></script>\n", &who);
}

std::string LoginPage(const std::string& message) {
  std::string error = message.empty() ? "" : Fill("<p class=\"error\">`H</p>\n", {message});
  return Page(PageText("login.heading"), error + Localize(kLoginForm));
}

bool StaticAsset(const std::string& path, std::string* type, std::string* body) {
  if (path == "/static/style.css") {
    *type = "text/css; charset=utf-8";
    *body = kStyle;
    return true;
  }
  if (path == "/static/time.js") {
    *type = "text/javascript; charset=utf-8";
    *body = kTimeScript;
    return true;
  }
  if (path == "/static/upload.js") {
    *type = "text/javascript; charset=utf-8";
    *body = UploadScript();
    return true;
  }
  if (path == "/static/log.js") {
    *type = "text/javascript; charset=utf-8";
    *body = kLogScript;
    return true;
  }
  return false;
}

std::string TrashPage(const std::vector<TrashInfo>& trash, const Caller& who) {
  std::string body = Localize("<table id=\"trash\">\n<thead><tr><th>{{column.name}}</th><th>{{column.size}}</th>"
                              "<th>{{column.deleted}}</th><th>{{column.by}}</th><th></th></tr></thead>\n<tbody>\n");
  for (const TrashInfo& t : trash)
    body += Fill(kTrashRow, {t.doc.name, FormatSize(t.doc.size), FormatDate(t.deleted), t.by, t.doc.key, who.csrf});
  body += "</tbody></table>\n";
  if (trash.empty()) body += Localize("<p id=\"empty\">{{trash.empty}}</p>\n");
  return Page(PageText("trash.heading"), body, &who);
}

std::string StatusPage(App& app, const Caller& who) {
  StatusFigures s = StatusOf(app);
  const Store::Figures& f = s.store;
  const Loop::Figures& net = s.net;
  int64_t up = s.uptime, free = s.freeBytes;
  std::string rows;
  // Each row's name: a page text.
  auto row = [&rows](const std::string& name, const std::string& value) {
    rows += Fill("<tr><th>`H</th><td>`H</td></tr>\n", {PageText(name), value});
  };
  row("status.version", VXKERNEL_VERSION_STRING);
  row("status.uptime", std::to_string(up / 3600) + " h " + std::to_string(up / 60 % 60) + " min " +
                    std::to_string(up % 60) + " s");
  row("status.data_folder", app.config.dataDir);
  row("status.instance", app.config.instance);
  std::string others;
  for (const std::string& name : s.servers) others += (others.empty() ? "" : ", ") + name;
  row("status.servers", others.empty() ? PageText("status.none") : others);
  row("status.free_space", free < 0 ? PageText("status.unknown") : FormatSize(free));
  row("status.documents", std::to_string(f.documents));
  row("status.stored_bytes", FormatSize(f.bytes));
  row("status.trash_items", std::to_string(f.trashed));
  row("status.requests", std::to_string(s.requests));
  row("status.connections", std::to_string(net.open));
  row("status.sessions", std::to_string(s.sessions));
  row("status.workers", std::to_string(s.threads) + " (" + std::to_string(s.busy) + " " + PageText("status.busy") + ")");
  row("status.refused", std::to_string(net.refused));
  row("status.limited", std::to_string(net.limited));
  row("status.dropped", std::to_string(net.writeTimeouts));
  row("status.swept", std::to_string(f.swept));
  return Page(PageText("status.heading"), "<table id=\"status\">\n" + rows + "</table>\n", &who);
}

std::string ClassesPage(const Caller& who) {
  std::unique_ptr<TArray<const KQSClass*>> classes(KOPPEnvironment::ProcessClasses());
  std::string names;
  for (unsigned long i = 1; i <= classes->Count(); ++i) {
    const KQSClass* c = classes->GetAt(i);
    // Classes whose values hold storage count their objects and references.
    const auto* p = c->IsPointer() ? dynamic_cast<const KQSClassPointer*>(c) : nullptr;
    names += Fill("<tr><td>`H</td><td>`H</td><td>`H</td><td>`H</td></tr>\n",
                  {std::to_string(c->ClassNumber()), c->ClassName(), p ? std::to_string(p->ObjCount()) : "",
                   p ? std::to_string(p->RefCount()) : ""});
  }
  return Page(PageText("classes.heading"),
              Localize("<table id=\"classes\"><tr><th>{{classes.number}}</th><th>{{column.name}}</th>"
                       "<th>{{classes.objects}}</th><th>{{classes.references}}</th></tr>\n") + names + "</table>\n",
              &who);
}

}  // namespace serve
