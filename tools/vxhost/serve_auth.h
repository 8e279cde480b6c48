// The gate every request passes: the Host it names, who is asking (a
// login session or an API token), and for a browser's state changes that
// the request comes from this site and carries the session's form token.
// Also the login and logout pages.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_AUTH_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_AUTH_H_

#include <string>
#include <string_view>

namespace serve {

struct Exchange;
struct RequestHead;

// Who a request comes from, once the gate let it in.
struct Caller {
  std::string user;
  bool admin = false;
  bool token = false;    // Authorization: Bearer; needs no form token
  std::string session;   // the browser's session id (the cookie)
  std::string csrf;      // that session's form token
};

constexpr char kSessionCookie[] = "vxsession";
constexpr char kCsrfField[] = "csrf";

// False (and 421 answered) unless the Host header, without its port, is
// one of the configured server names.
bool HostAllowed(Exchange& ex);
// False (and the request answered: 303 to /login, 401, 403) unless the
// request carries a live session or a valid token, and a browser's state
// change comes from this site.
bool Admit(Exchange& ex, Caller* who);
// True when a browser's state change carries its session's form token,
// given as formToken (from the form) or in the X-CSRF-Token header; always
// true for a token caller. False answers 403 and logs it.
bool CsrfOk(Exchange& ex, const Caller& who, const std::string& formToken);
// The value of name in an application/x-www-form-urlencoded text; "" when
// absent.
std::string FormValue(const std::string& form, const std::string& name);

// The value of the cookie name; "" when the request has none.
std::string Cookie(const RequestHead& head, std::string_view name);
// Whether a browser says the request comes from a page of this site
// (Sec-Fetch-Site, Origin); true for a client that sends neither.
bool FromThisSite(Exchange& ex);
// A small form's body (at most kMaxMemoryBody bytes): true once it is in
// memory. False when it is still to be read (ex.next asks the loop for it;
// the handler runs again) or came cut short (400 answered).
bool SmallFormIn(Exchange& ex);
// Logs and answers 403 a request that came from another site.
void RefuseOtherSite(Exchange& ex);

// GET and POST /login.
void HandleLogin(Exchange& ex);
// POST /logout.
void HandleLogout(Exchange& ex, const Caller& who);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_AUTH_H_
