// The server's HTML. Rows and figures are filled in through
// KWebFormat::FormatHTMLExpression with `H (or `U for keys in URLs), so
// every name, title and note a client sent is shown escaped.
#include <chrono>
#include <cstdio>
#include <memory>

#include "serve_app.h"
#include "serve_loop.h"
#include "serve_auth.h"
#include "serve_pool.h"
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
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>`H</title>\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<link rel=\"stylesheet\" href=\"/static/style.css\">\n</head><body>\n";

const char kNav[] =
    "<nav><a href=\"/\">documents</a> | <a href=\"/log\">log</a> | <a href=\"/status\">status</a>";
const char kAdminNav[] = " | <a href=\"/trash\">trash</a> | <a href=\"/admin/classes\">classes</a>";
const char kNavUser[] =
    " <span class=\"user\">`H</span>"
    " <form class=\"logout\" method=\"post\" action=\"/logout\"><input type=\"hidden\" name=\"csrf\" value=\"`H\">"
    "<button type=\"submit\">log out</button></form></nav>\n";

const char kTitle[] = "<h1>`H</h1>\n";

// `H: the form token, then the limit on files, shown beside the chooser.
const char kUploadForm[] =
    "<form id=\"upload\" method=\"post\" action=\"/upload\" enctype=\"multipart/form-data\">\n"
    "<input type=\"hidden\" name=\"csrf\" value=\"`H\">\n"
    "<label>documents <input type=\"file\" name=\"file\" multiple> <small class=\"limit\">`H</small></label>\n"
    "<label>note <input type=\"text\" name=\"note\" placeholder=\"note\"></label>\n"
    "<button type=\"submit\">upload</button>\n</form>\n";

const char kRow[] =
    "<tr><td class=\"name\">`H</td><td class=\"size\">`H</td><td class=\"type\">`H</td>"
    "<td class=\"title\">`H</td><td class=\"date\"><time datetime=\"`H\">`H</time></td><td class=\"note\">`H</td>"
    "<td class=\"actions\"><a class=\"download\" href=\"/doc/`U\">download</a> "
    "<form class=\"delete\" method=\"post\" action=\"/doc/`U/delete\"><input type=\"hidden\" name=\"csrf\" value=\"`H\">"
    "<button type=\"submit\">delete</button></form></td></tr>\n";

// The list's head: a sort link per sortable column (`H: its query, its
// label), the column it is sorted by with its direction.
const char kSortHead[] = "<th><a href=\"/?`H\">`H</a></th>";
const char kSortedHead[] = "<th aria-sort=\"`H\"><a href=\"/?`H\">`H</a></th>";
const char kPlainHead[] = "<th>`H</th>";
// Index = ListQuery::Key.
const char* const kColumnLabels[] = {"name", "size", "type", "uploaded"};
const char kPageLink[] = "<a rel=\"`H\" href=\"/?`H\">`H</a> ";
const char kPageOf[] = "<span class=\"at\">page `H of `H</span> ";

// `H: the name; `U: the key; `H: the form token.
const char kUndo[] =
    "<p class=\"notice\">deleted `H \u2014 <form class=\"restore\" method=\"post\" action=\"/doc/`U/restore\">"
    "<input type=\"hidden\" name=\"csrf\" value=\"`H\"><button type=\"submit\">undo</button></form></p>\n";

const char kTrashRow[] =
    "<tr><td class=\"name\">`H</td><td class=\"size\">`H</td><td class=\"deleted\">`H</td><td class=\"by\">`H</td>"
    "<td><form class=\"restore\" method=\"post\" action=\"/doc/`U/restore\"><input type=\"hidden\" name=\"csrf\" "
    "value=\"`H\"><button type=\"submit\">restore</button></form></td></tr>\n";

const char kLoginForm[] =
    "<form id=\"login\" method=\"post\" action=\"/login\">\n"
    "<label>user <input type=\"text\" name=\"user\" autocomplete=\"username\" autofocus></label>\n"
    "<label>password <input type=\"password\" name=\"password\" autocomplete=\"current-password\"></label>\n"
    "<button type=\"submit\">log in</button>\n</form>\n";

const char kStyle[] =
    ":root{color-scheme:light dark;--fg:#111;--bg:#fff;--line:#ccc;--muted:#555;--link:#0645ad;--focus:#1a5fb4;"
    "--code:#f4f4f4;--error:#a00;--notice:#ffd}"
    "body{font-family:sans-serif;margin:2em;color:var(--fg);background:var(--bg)}a{color:var(--link)}"
    "table{border-collapse:collapse}"
    "td,th{border-bottom:1px solid var(--line);padding:.3em .6em;text-align:left;vertical-align:top}"
    "td.name,td.title,td.note,td.type{overflow-wrap:anywhere}"
    // Fixed columns, so that a long name takes its own column's width and
    // no more, and short cells are not broken mid-word.
    "table#docs{width:100%;table-layout:fixed}#docs th:nth-child(2){width:6em}#docs th:nth-child(3){width:10em}"
    "#docs th:nth-child(4),#docs th:nth-child(6){width:12%}#docs th:nth-child(5){width:8em}"
    "#docs th:nth-child(7){width:6.5em}"
    "th[aria-sort=ascending] a::after{content:\" \\25B2\"}th[aria-sort=descending] a::after{content:\" \\25BC\"}"
    "nav.pages{margin:1em 0}nav.pages a,nav.pages span{margin-right:1em}"
    "form.delete,form.logout,form.restore{display:inline}p.notice{background:var(--notice);padding:.5em}"
    "nav .user{margin-left:2em;color:var(--muted)}"
    "form#upload label{margin-right:1em}input,button{max-width:100%;font:inherit}"
    "pre#log{background:var(--code);padding:1em;max-height:30em;overflow:auto;white-space:pre-wrap;"
    "overflow-wrap:anywhere}"
    "p.error{color:var(--error)}form#login label{display:block;margin:.5em 0}"
    ":focus-visible{outline:3px solid var(--focus);outline-offset:2px}"
    "@media (prefers-color-scheme:dark){:root{--fg:#e8e8e8;--bg:#16181c;--line:#444;--muted:#aaa;"
    "--link:#8ab4f8;--focus:#8ab4f8;--code:#23262b;--error:#ff8a80;--notice:#3a3520}}"
    // Narrow screens: each document becomes a card of stacked cells, so
    // that nothing scrolls sideways and its actions stay in view.
    "@media (max-width:40em){body{margin:.6em}nav .user{margin-left:.5em}"
    "table#docs,#docs tbody,#docs tr,#docs td{display:block;width:auto}"
    "#docs thead tr{display:flex;flex-wrap:wrap}#docs th{border:0;padding:.3em .6em .3em 0;width:auto!important}"
    "#docs th:empty{display:none}#docs tr{border-bottom:1px solid var(--line);padding:.5em 0}"
    "#docs td{border:0;padding:.1em 0}#docs td:empty{display:none}#docs td.actions{padding-top:.4em}"
    "#docs td.actions a,#docs td.actions button{display:inline-block;padding:.4em .8em;margin-right:.6em}"
    "form#upload label{display:block;margin:.4em 0}}\n";

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

std::string Fill(const char* tmpl, std::initializer_list<std::string> values) {
  KQSValue list = KQSValue::List();
  for (const std::string& v : values) list.ListAppendValue(KQSValue(v.c_str()));
  return std::string(KWebFormat::FormatHTMLExpression(tmpl, list));
}

// A page; with the navigation and the log-out button for a logged-in caller.
std::string Page(const std::string& title, const std::string& body, const Caller* who = nullptr) {
  std::string nav;
  if (who != nullptr) nav = kNav + std::string(who->admin ? kAdminNav : "") + Fill(kNavUser, {who->user, who->csrf});
  return Fill(kHead, {title}) + nav + Fill(kTitle, {title}) + body + "</body></html>\n";
}

}  // namespace

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

std::string HtmlEscape(const std::string& text) { return std::string(KWebEscape::EscapeHTML(text.c_str())); }

std::string FormatSize(int64_t bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  double v = static_cast<double>(bytes);
  int u = 0;
  while (v >= 1024 && u < 4) {
    v /= 1024;
    ++u;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", v, units[u]);
  return text;
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

std::string ListPage(const std::vector<DocInfo>& docs, const Caller& who) { return ListPage(docs, ListQuery(), who); }

std::string ListPage(const std::vector<DocInfo>& all, const ListQuery& query, const Caller& who,
                     const std::vector<TrashInfo>& undo) {
  int page = 1, pages = 1, total = 0;
  std::vector<DocInfo> docs = PageOf(all, query, &page, &pages, &total);
  // A column's header sorts by it; chosen again, it turns the direction.
  auto head = [&query](ListQuery::Key key) {
    const char* label = kColumnLabels[key];
    if (key != query.key) return Fill(kSortHead, {ListQueryString(key, DefaultAscending(key), 1, query.words), label});
    return Fill(kSortedHead, {query.ascending ? "ascending" : "descending",
                              ListQueryString(key, !query.ascending, 1, query.words), label});
  };
  std::string body;
  for (const TrashInfo& t : undo) body += Fill(kUndo, {t.doc.name, t.doc.key, who.csrf});
  body += Fill(kUploadForm, {who.csrf, Text(kTooManyFiles)});
  body += SearchBox(query);
  body += "<table id=\"docs\" aria-label=\"documents\">\n<thead><tr>" + head(ListQuery::kName) +
          head(ListQuery::kSize) + head(ListQuery::kType) + Fill(kPlainHead, {"title"}) + head(ListQuery::kDate) +
          Fill(kPlainHead, {"note"}) + "<th></th></tr></thead>\n<tbody>\n";
  for (const DocInfo& d : docs) {
    std::string iso = FormatDate(d.uploaded);  // "YYYY-MM-DD HH:MM:SS UTC" into ISO 8601
    iso[10] = 'T';
    iso.replace(19, std::string::npos, "Z");
    body += Fill(kRow, {d.name, FormatSize(d.size), d.type, d.title, iso, FormatDate(d.uploaded), d.note, d.key, d.key,
                        who.csrf});
  }
  body += "</tbody></table>\n";
  if (docs.empty()) body += query.words.empty() ? "<p id=\"empty\">No documents yet.</p>\n" : NoMatchNote();
  // The pages keep the view's order.
  body += "<nav class=\"pages\" aria-label=\"pages\">";
  if (page > 1) body += Fill(kPageLink, {"prev", ListQueryString(query.key, query.ascending, page - 1, query.words), "previous"});
  body += Fill(kPageOf, {std::to_string(page), std::to_string(pages)});
  if (page < pages) body += Fill(kPageLink, {"next", ListQueryString(query.key, query.ascending, page + 1, query.words), "next"});
  body += "</nav>\n<script src=\"/static/time.js\" defer></script>\n";
  return Page("Documents", body, &who);
}

std::string ErrorPage(int status, const std::string& message) {
  std::string title = std::to_string(status) + " " + StatusText(status);
  return Page(title, Fill("<p class=\"error\">`H</p>\n<p><a href=\"/\">back to the documents</a></p>\n", {message}));
}

std::string LogPage(const Caller& who) {
  return Page("Log", "<pre id=\"log\"></pre>\n<script src=\"/static/log.js\"></script>\n", &who);
}

std::string LoginPage(const std::string& message) {
  std::string error = message.empty() ? "" : Fill("<p class=\"error\">`H</p>\n", {message});
  return Page("Log in", error + kLoginForm);
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
  if (path == "/static/log.js") {
    *type = "text/javascript; charset=utf-8";
    *body = kLogScript;
    return true;
  }
  return false;
}

std::string TrashPage(const std::vector<TrashInfo>& trash, const Caller& who) {
  std::string body = "<table id=\"trash\">\n<thead><tr><th>name</th><th>size</th><th>deleted</th><th>by</th>"
                     "<th></th></tr></thead>\n<tbody>\n";
  for (const TrashInfo& t : trash)
    body += Fill(kTrashRow, {t.doc.name, FormatSize(t.doc.size), FormatDate(t.deleted), t.by, t.doc.key, who.csrf});
  body += "</tbody></table>\n";
  if (trash.empty()) body += "<p id=\"empty\">The trash is empty.</p>\n";
  return Page("Trash", body, &who);
}

std::string StatusPage(App& app, const Caller& who) {
  Store::Figures f = app.store.Stats();
  int64_t up = NowSeconds() - app.started;
  int64_t free = FreeBytes(app.config.dataDir);
  std::string rows;
  auto row = [&rows](const std::string& name, const std::string& value) {
    rows += Fill("<tr><th>`H</th><td>`H</td></tr>\n", {name, value});
  };
  row("version", VXKERNEL_VERSION_STRING);
  row("uptime", std::to_string(up / 3600) + " h " + std::to_string(up / 60 % 60) + " min " +
                    std::to_string(up % 60) + " s");
  row("data folder", app.config.dataDir);
  row("free disk space", free < 0 ? "unknown" : FormatSize(free));
  row("documents", std::to_string(f.documents));
  row("stored bytes", FormatSize(f.bytes));
  row("trash items", std::to_string(f.trashed));
  row("requests served", std::to_string(app.requests.load()));
  Loop::Figures net = app.loop->Stats();
  row("open connections", std::to_string(net.open));
  row("active sessions", std::to_string(app.sessions->Count()));
  row("worker threads", std::to_string(app.pool->Threads()) + " (" + std::to_string(app.pool->Busy()) + " busy)");
  row("connections refused (per-address cap)", std::to_string(net.refused));
  row("requests refused (per-address rate)", std::to_string(net.limited));
  row("clients dropped (stopped reading)", std::to_string(net.writeTimeouts));
  row("temporaries removed at start", std::to_string(f.swept));
  return Page("Status", "<table id=\"status\">\n" + rows + "</table>\n", &who);
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
  return Page("Registered classes", "<table id=\"classes\"><tr><th>number</th><th>name</th><th>objects</th>"
                                    "<th>references</th></tr>\n" + names + "</table>\n", &who);
}

}  // namespace serve
