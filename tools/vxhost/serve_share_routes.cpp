// The share links' routes and pages: /s/TOKEN for anyone with the link,
// /doc/KEY/share... for signed-in users. A link reaches its one document
// and nothing else: /s/ answers only whole tokens, and the key comes from
// the stored link, never from the request.
#include <algorithm>
#include <cctype>
#include <memory>

#include "serve_app.h"
#include "serve_auth.h"
#include "serve_log.h"
#include "serve_shares.h"

namespace serve {

namespace {

// ===== Pages: {{key}} is a page text; a constant holding a key ("share.title") names one =====
const char kShareTitle[] = "share.title";
const char kShareMadeTitle[] = "share.made_title";
const char kPasswordTitle[] = "share.password_title";
// `H: the document's name; `U: its key; `H: the form token.
const char kShareForm[] =
    "<p>{{share.intro}}</p>\n"
    "<form id=\"share\" method=\"post\" action=\"/doc/`U/share\"><input type=\"hidden\" name=\"csrf\" value=\"`H\">\n"
    "<label>{{share.hours}} <input type=\"number\" name=\"hours\" min=\"1\" max=\"8784\" placeholder=\"168\"></label>\n"
    "<label>{{share.until}} <input type=\"text\" name=\"until\" placeholder=\"{{share.until_format}}\"></label>\n"
    "<label>{{share.password}} <input type=\"password\" name=\"password\" autocomplete=\"new-password\"></label>\n"
    "<label>{{share.limit}} <input type=\"number\" name=\"limit\" min=\"1\"></label>\n"
    "<button type=\"submit\">{{share.make}}</button>\n</form>\n";
// `H: the name, the expiry; `H `H: the link twice.
const char kShareMade[] =
    "<p>{{share.made}}</p>\n"
    "<p><a id=\"share-link\" href=\"`H\">`H</a></p>\n"
    "<p>{{share.once}}</p>\n"
    "<p><a href=\"/\">{{error.back}}</a></p>\n";
// `H: the link's id, its time left, its uses left; `U `H: the key, the id; `H: the form token.
const char kShareItem[] =
    "<li class=\"share-link\"><span class=\"share-id\">`H</span> <span class=\"left\">`H</span>, "
    "<span class=\"uses\">`H</span> <form class=\"revoke\" method=\"post\" action=\"/doc/`U/share/`H/revoke\">"
    "<input type=\"hidden\" name=\"csrf\" value=\"`H\"><button type=\"submit\">{{share.revoke}}</button></form></li>";
const char kSharesOpen[] = "<ul class=\"shares\" aria-label=\"{{share.links}}\">";
const char kSharesClose[] = "</ul>";
const char kWithPassword[] = "share.with_password";
const char kPasswordIntro[] = "<p>{{share.protected}}</p>\n";
// `H: the token.
const char kPasswordForm[] =
    "<form id=\"share-password\" method=\"post\" action=\"/s/`H\">\n"
    "<label>{{login.password}} <input type=\"password\" name=\"password\" autocomplete=\"off\" autofocus></label>\n"
    "<button type=\"submit\">{{button.download}}</button>\n</form>\n";
const char kPasswordError[] = "<p class=\"error\">`H</p>\n";
const char kLeftDays[] = "share.left_days";
const char kLeftHours[] = "share.left_hours";
const char kLeftMinutes[] = "share.left_minutes";
const char kUsesLeft[] = "share.uses_left";  // the count is the limit: "1 of 1 download left"
const char kNoLimit[] = "share.no_limit";
// ===== End of pages =====

const char kHtml[] = "text/html; charset=utf-8";

// The limiter keys a link apart from every user name (':' is in none).
std::string LimiterKey(const ShareInfo& s) { return "share:" + s.id; }

std::string TimeLeft(int64_t seconds) {
  if (seconds >= 2 * 86400) return PageText(kLeftDays, {std::to_string(seconds / 86400)});
  if (seconds >= 2 * 3600) return PageText(kLeftHours, {std::to_string(seconds / 3600)});
  return PageText(kLeftMinutes, {std::to_string(std::max<int64_t>(0, (seconds + 59) / 60))});
}

std::string LinkList(const std::vector<ShareInfo>& links, const Caller& who, int64_t now) {
  if (links.empty()) return "";
  std::string html = Localize(kSharesOpen);
  for (const ShareInfo& s : links) {
    std::string uses = s.limit == 0 ? PageText(kNoLimit)
                                     : PageText(CountKey(kUsesLeft, s.limit),
                                                {std::to_string(std::max<int64_t>(0, s.limit - s.uses)),
                                                 std::to_string(s.limit)});
    if (s.password) uses += ", " + PageText(kWithPassword);
    html += Fill(kShareItem, {s.id, TimeLeft(s.expires - now), uses, s.key, s.id, who.csrf});
  }
  return html + kSharesClose;
}

// The password form, with a message above it when not empty.
void SendPasswordForm(Exchange& ex, int status, const std::string& token, const std::string& message) {
  std::string error = message.empty() ? "" : Fill(kPasswordError, {message});
  std::string body = Localize(kPasswordIntro) + error + Fill(kPasswordForm, {token});
  Send(ex, status, kHtml, Page(PageText(kPasswordTitle), body), "Cache-Control: no-store\r\n");
}

// Refuses a link that no longer gives its document: 410 while the server
// still knows it (expired, used up, its document in the trash), 404 once
// it does not (never made, revoked, swept).
void RefuseLink(Exchange& ex, Shares::State state) {
  if (state == Shares::State::kExpired) return SendError(ex, 410, Text(kShareExpired));
  if (state == Shares::State::kUsedUp) return SendError(ex, 410, Text(kShareUsedUp));
  SendError(ex, 404, Text(kNoShare));
}

// Sends the link's document through the one download code; a download
// that starts at its first byte (a GET without a range, or one from byte
// 0; the password form's POST) is a use, so resuming does not eat the limit.
void SendShared(Exchange& ex, const ShareInfo& link) {
  App& app = ex.app;
  ShareInfo counted;
  bool use = false;
  Download(ex, link.key, [&](int64_t first) {
    if (ex.head.method == "HEAD" || first != 0) return true;
    std::string error;
    Shares::State state = app.shares.TakeUse(link.id, NowSeconds(), &counted, &error);
    if (!error.empty()) {
      LogEvent("could not count a download of share link " + link.id + ": " + error);
      SendError(ex, 500, Text(kShareNotStored, error));
      return false;
    }
    if (state != Shares::State::kLive) {
      RefuseLink(ex, state);
      return false;
    }
    use = true;
    return true;
  });
  if (ex.status != 200 && ex.status != 206) return;
  // The link, not the person: no address in this line.
  std::string uses = !use ? "" : counted.limit == 0 ? ", download " + std::to_string(counted.uses)
                                                    : ", download " + std::to_string(counted.uses) + " of " +
                                                          std::to_string(counted.limit);
  LogEvent("sent " + link.key + " through share link " + link.id + uses);
}

}  // namespace

std::string ShareUrl(const Exchange& ex, const std::string& token) {
  return std::string(ex.req.secure ? "https://" : "http://") + ex.head.Header("host") + "/s/" + token;
}

int CreateShare(App& app, const std::string& key, const std::string& owner, const ShareAsk& ask, ShareInfo* info,
                std::string* token, std::string* message) {
  DocInfo doc;
  if (!app.store.Find(key, &doc)) {
    *message = Text(kNoDocument, key);
    return 404;
  }
  std::string error;
  if (!app.shares.Create(key, owner, ask, NowSeconds(), info, token, &error)) {
    LogEvent("could not make a share link for " + key + ": " + error);
    *message = Text(kShareNotStored, error);
    return 500;
  }
  LogEvent(owner + " made share link " + info->id + " for " + key + " until " + FormatDate(info->expires) +
           (info->limit > 0 ? ", " + std::to_string(info->limit) + " downloads" : "") +
           (info->password ? ", with a password" : ""));
  return 200;
}

int RevokeShare(App& app, const std::string& key, const std::string& id, const std::string& user,
                std::string* message) {
  std::string error;
  if (!app.shares.Revoke(key, id, &error)) {
    if (error.empty()) {
      *message = Text(kNoShare);
      return 404;
    }
    LogEvent("could not revoke share link " + id + ": " + error);
    *message = Text(kShareNotStored, error);
    return 500;
  }
  LogEvent(user + " revoked share link " + id + " of " + key);
  return 200;
}

std::function<std::string(const std::string& key)> ShareCells(App& app, const Caller& who) {
  std::vector<ShareInfo> links = app.shares.List("", Shares::Look::kWhenEdited);
  if (links.empty()) return {};  // no row has links: nothing to make per request
  auto byKey = std::make_shared<std::map<std::string, std::vector<ShareInfo>>>();
  for (ShareInfo& s : links) (*byKey)[s.key].push_back(std::move(s));
  return [byKey, &who, now = NowSeconds()](const std::string& key) {
    auto links = byKey->find(key);
    return links == byKey->end() ? std::string() : LinkList(links->second, who, now);
  };
}

void SweepShares(App& app) {
  std::vector<DocInfo> listed = app.store.List();
  std::vector<TrashInfo> trashed = app.store.TrashList();
  std::vector<std::string> keys;
  for (const DocInfo& d : listed) keys.push_back(d.key);
  for (const TrashInfo& t : trashed) keys.push_back(t.doc.key);
  std::sort(keys.begin(), keys.end());
  std::string error;
  auto kept = [&keys](const std::string& key) { return std::binary_search(keys.begin(), keys.end(), key); };
  for (const ShareInfo& s : app.shares.Sweep(NowSeconds(), kept, &error))
    LogEvent("forgot share link " + s.id + " of " + s.key);
  if (!error.empty()) LogEvent("could not sweep the share links: " + error);
}

void HandleShareLink(Exchange& ex) {
  App& app = ex.app;
  const std::string& m = ex.head.method;
  std::string token = ex.head.path.substr(3);
  ShareInfo link;
  std::string hash;
  Shares::State state = app.shares.Find(token, NowSeconds(), &link, &hash);
  if (state != Shares::State::kLive) return RefuseLink(ex, state);
  DocInfo doc;
  // A trashed document's links wait for its restore.
  if (!app.store.Find(link.key, &doc)) return SendError(ex, 410, Text(kShareDocGone));
  if (!link.password) {
    if (m != "GET" && m != "HEAD") return SendError(ex, 405, Text(kOnly, "GET"));
    return SendShared(ex, link);
  }
  if (m == "GET" || m == "HEAD") return SendPasswordForm(ex, 200, token, "");
  if (m != "POST") return SendError(ex, 405, Text(kOnly, "GET, POST"));
  // No session to hold a form token: where the form came from decides.
  if (!FromThisSite(ex)) {
    LogEvent("refused a password for share link " + link.id + " from " + ex.req.client +
             ": it came from another site");
    return SendError(ex, 403, Text(kOtherSite));
  }
  if (!SmallFormIn(ex)) return;
  if (!app.limiter.Allowed(ex.req.client, LimiterKey(link))) {
    LogEvent("refused a password for share link " + link.id + " from " + ex.req.client + ": too many failures");
    return SendPasswordForm(ex, 429, token, Text(kShareLimit));
  }
  // The answer to the right password is the document itself: nothing to
  // carry over a redirect.
  if (!PasswordMatches(FormValue(ex.req.bodyBytes, "password"), hash)) {
    app.limiter.Failed(ex.req.client, LimiterKey(link));
    LogEvent("wrong password for share link " + link.id + " from " + ex.req.client);
    return SendPasswordForm(ex, 403, token, Text(kShareWrongPassword));
  }
  SendShared(ex, link);
}

void HandleDocShare(Exchange& ex, const std::string& key, const std::string& action, const Caller& who) {
  App& app = ex.app;
  const std::string& m = ex.head.method;
  const std::string revoke = "/revoke";
  if (action == "/share") {
    DocInfo doc;
    if (m == "GET" || m == "HEAD") {
      if (!app.store.Find(key, &doc)) return SendError(ex, 404, Text(kNoDocument, key));
      std::string body = Fill(kShareForm, {doc.name, key, who.csrf}) + LinkList(app.shares.List(key), who, NowSeconds());
      return Send(ex, 200, kHtml, Page(PageText(kShareTitle), body, &who));
    }
    if (m != "POST") return SendError(ex, 405, Text(kOnly, "GET, POST"));
    // The form is read for token callers too: it carries the link's wishes.
    if (!SmallFormIn(ex) || !FormReady(ex, who)) return;
    const std::string& form = ex.req.bodyBytes;
    ShareAsk ask;
    ShareInfo info;
    std::string message, token;
    if (!ParseShareAsk(FormValue(form, "hours"), FormValue(form, "until"), FormValue(form, "password"),
                       FormValue(form, "limit"), NowSeconds(), &ask, &message))
      return SendError(ex, 400, message);
    int status = CreateShare(app, key, who.user, ask, &info, &token, &message);
    if (status != 200) return SendError(ex, status, message);
    app.store.Find(key, &doc);
    std::string url = ShareUrl(ex, token);
    std::string made = Fill(kShareMade, {doc.name, FormatDate(info.expires), url, url});
    return Send(ex, 200, kHtml, Page(PageText(kShareMadeTitle), made, &who),
                "Cache-Control: no-store\r\nX-Share-Link: " + url + "\r\nX-Share-Id: " + info.id + "\r\n");
  }
  // /share/ID/revoke
  std::string id = action.compare(0, 7, "/share/") == 0 ? action.substr(7) : "";
  if (id.size() > revoke.size() && id.compare(id.size() - revoke.size(), revoke.size(), revoke) == 0) {
    id.resize(id.size() - revoke.size());
    if (m != "POST") return SendError(ex, 405, Text(kOnly, "POST"));
    if (!FormReady(ex, who)) return;
    std::string message;
    int status = RevokeShare(app, key, id, who.user, &message);
    if (status != 200) return SendError(ex, status, message);
    return Send(ex, 303, kHtml, "<a href=\"/\">documents</a>\n", "Location: /\r\n");
  }
  SendError(ex, 404, Text(kNoPage, ex.head.path));
}

}  // namespace serve
