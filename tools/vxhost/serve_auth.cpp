// The gate: Host names, credentials, the origin of state changes and the
// form tokens, and the login and logout pages. Secrets are compared in
// constant time; names a client sent reach the log only when they are
// valid user names, so a log line can never be forged through them.
#include "serve_auth.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

#include "serve_api.h"
#include "serve_app.h"
#include "serve_log.h"
#include "vxkernel/web/KWebEscape.h"

namespace serve {

namespace {

const char kHtml[] = "text/html; charset=utf-8";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The host of a Host header: without the port, brackets of IPv6 kept off.
std::string HostName(const std::string& host) {
  if (!host.empty() && host.front() == '[') {
    size_t close = host.find(']');
    return close == std::string::npos ? host : host.substr(1, close - 1);
  }
  size_t colon = host.find(':');
  return Lower(colon == std::string::npos ? host : host.substr(0, colon));
}

}  // namespace

std::string Cookie(const RequestHead& head, std::string_view name) {
  for (const auto& [k, v] : head.headers) {
    if (k != "cookie") continue;
    std::string_view all = v;
    size_t at = 0;
    while (at < all.size()) {
      size_t end = std::min(all.find(';', at), all.size());
      size_t b = all.find_first_not_of(' ', at);
      if (b < end && all.substr(b, name.size()) == name && all.substr(b + name.size(), 1) == "=")
        return std::string(all.substr(b + name.size() + 1, end - b - name.size() - 1));
      at = end + 1;
    }
  }
  return "";
}

namespace {

// A name fit for the log: valid user names as they are, anything else
// not at all.
std::string LoggedName(const std::string& name) {
  std::string why;
  return Users::ValidName(name, &why) ? name : "(an invalid name)";
}

bool StateChange(const RequestHead& head) { return head.method != "GET" && head.method != "HEAD"; }

}  // namespace

// A browser tells where a request comes from: Sec-Fetch-Site (same-origin,
// or none for what the user typed) and Origin (this site's scheme and
// Host). A client that sends neither is not a browser acting for a page.
bool FromThisSite(Exchange& ex) {
  std::string site = ex.head.Header("sec-fetch-site");
  if (!site.empty() && site != "same-origin" && site != "none") return false;
  std::string origin = ex.head.Header("origin");
  if (origin.empty()) return true;
  std::string self = std::string(ex.req.secure ? "https://" : "http://") + ex.head.Header("host");
  return Lower(origin) == Lower(self);
}

bool SmallFormIn(Exchange& ex) {
  if (ex.req.body == RequestState::Body::kUnread) {
    ex.next = Next::kReadBody;
    return false;
  }
  if (ex.req.body == RequestState::Body::kMemory) return true;
  SendError(ex, 400, Text(kIncomplete));
  return false;
}

void RefuseOtherSite(Exchange& ex) {
  LogEvent("refused " + ex.head.method + " " + ex.head.path + " from " + ex.req.client +
           ": it came from another site");
  SendError(ex, 403, Text(kOtherSite));
}

namespace {

std::string SessionCookie(const std::string& id, bool secure, bool end) {
  return "Set-Cookie: " + std::string(kSessionCookie) + "=" + id + "; HttpOnly; SameSite=Strict; Path=/" +
         (secure ? "; Secure" : "") + (end ? "; Max-Age=0" : "") + "\r\n";
}

}  // namespace

std::string FormValue(const std::string& form, const std::string& name) {
  size_t at = 0;
  while (at <= form.size()) {
    size_t end = form.find('&', at);
    if (end == std::string::npos) end = form.size();
    size_t eq = form.find('=', at);
    if (eq != std::string::npos && eq < end && form.compare(at, eq - at, name) == 0 && eq - at == name.size()) {
      std::string v = form.substr(eq + 1, end - eq - 1);
      std::replace(v.begin(), v.end(), '+', ' ');
      return std::string(KWebEscape::Unescape(v.c_str()));
    }
    at = end + 1;
  }
  return "";
}

bool HostAllowed(Exchange& ex) {
  std::string host = HostName(ex.head.Header("host"));
  const auto& names = ex.app.config.serverNames;
  if (!host.empty() && std::find(names.begin(), names.end(), host) != names.end()) return true;
  ex.keepAlive = false;
  SendError(ex, 421, host.empty() ? Text(kNoHost) : Text(kWrongHost, host));
  return false;
}

bool Admit(Exchange& ex, Caller* who) {
  App& app = ex.app;
  // Another process may have deleted a user or a token since.
  if (app.users.Refresh()) app.sessions->RemoveMissingUsers([&app](const std::string& u) { return app.users.Exists(u); });
  const std::string_view auth = ex.head.Header("authorization");
  if (auth.size() > 7 && strncasecmp(auth.data(), "bearer ", 7) == 0) {
    std::string_view token = auth.substr(7);
    token.remove_prefix(std::min(token.find_first_not_of(' '), token.size()));
    if (app.users.CheckToken(token, &who->user, &who->admin)) {
      who->token = true;
      return true;
    }
    LogEvent("refused a request with an unknown token from " + ex.req.client);
    SendError(ex, 401, Text(kNeedToken), "WWW-Authenticate: Bearer error=\"invalid_token\"\r\n");
    return false;
  }
  Session s;
  std::string id = Cookie(ex.head, kSessionCookie);
  if (id.empty() || !app.sessions->Find(id, &s)) {
    // A script has no login form to be sent to.
    if (IsApiPath(ex.head.path)) {
      SendError(ex, 401, Text(kNeedToken), "WWW-Authenticate: Bearer\r\n");
      return false;
    }
    Send(ex, 303, kHtml, "<a href=\"/login\">log in</a>\n", "Location: /login\r\n");
    return false;
  }
  who->user = std::move(s.user);
  who->admin = s.admin;
  who->session = std::move(id);
  who->csrf = std::move(s.csrf);
  if (StateChange(ex.head) && !FromThisSite(ex)) {
    RefuseOtherSite(ex);
    return false;
  }
  return true;
}

bool CsrfOk(Exchange& ex, const Caller& who, const std::string& formToken) {
  if (who.token) return true;
  std::string given = formToken.empty() ? ex.head.Header("x-csrf-token") : formToken;
  if (!given.empty() && SecretEquals(given, who.csrf)) return true;
  LogEvent("refused " + ex.head.method + " " + ex.head.path + " from " + ex.req.client + " (" + who.user +
           "): the form token was " + (given.empty() ? "missing" : "wrong"));
  SendError(ex, 403, Text(kBadCsrf));
  return false;
}

void HandleLogin(Exchange& ex) {
  App& app = ex.app;
  if (!StateChange(ex.head)) return Send(ex, 200, kHtml, LoginPage(""));
  if (ex.head.method != "POST") return SendError(ex, 405, Text(kOnly, "GET, POST"));
  // No session yet to hold a form token: where the form came from decides.
  if (!FromThisSite(ex)) return RefuseOtherSite(ex);
  if (!SmallFormIn(ex)) return;
  std::string user = FormValue(ex.req.bodyBytes, "user");
  std::string password = FormValue(ex.req.bodyBytes, "password");
  if (!app.limiter.Allowed(ex.req.client, user)) {
    LogEvent("refused a login of " + LoggedName(user) + " from " + ex.req.client + ": too many failures");
    return Send(ex, 429, kHtml, LoginPage(Text(kLoginLimit)), "Retry-After: 60\r\n");
  }
  bool admin = false;
  if (!app.users.CheckPassword(user, password, &admin)) {
    app.limiter.Failed(ex.req.client, user);
    LogEvent("failed login of " + LoggedName(user) + " from " + ex.req.client);
    return Send(ex, 403, kHtml, LoginPage(Text(kBadLogin)));
  }
  std::string error;
  std::string id = app.sessions->Create(user, admin, &error);
  if (id.empty()) {
    LogEvent("cannot make a session for " + user + ": " + error);
    return SendError(ex, 500, Text(kBadLogin));
  }
  LogEvent(user + " logged in from " + ex.req.client);
  Send(ex, 303, kHtml, "<a href=\"/\">documents</a>\n", "Location: /\r\n" + SessionCookie(id, ex.req.secure, false));
}

void HandleLogout(Exchange& ex, const Caller& who) {
  if (who.token) return SendError(ex, 400, Text(kLogoutSession));
  if (ex.req.body == RequestState::Body::kUnread) {
    ex.next = Next::kReadBody;
    return;
  }
  if (!CsrfOk(ex, who, FormValue(ex.req.bodyBytes, kCsrfField))) return;
  ex.app.sessions->Remove(who.session);
  Announce("session " + Sessions::Digest(who.session));
  LogEvent(who.user + " logged out from " + ex.req.client);
  Send(ex, 303, kHtml, "<a href=\"/login\">log in</a>\n", "Location: /login\r\n" + SessionCookie("", ex.req.secure, true));
}

}  // namespace serve
