// Request heads through http_parser. The parser is told to skip the body
// (on_headers_complete returns 1) and paused when the message "ends", so
// it stops exactly after the blank line: the body stays with the caller,
// who hands it to KHTTPArgs bounded by Content-Length.
#include "serve_http.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "serve.h"

namespace serve {

namespace {

HeadParser* Self(http_parser* p) { return static_cast<HeadParser*>(p->data); }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string RequestHead::Header(const std::string& name) const {
  for (const auto& [k, v] : headers)
    if (k == name) return v;
  return "";
}

HeadParser::HeadParser(size_t maxHeadBytes) : fMax(maxHeadBytes) {
  http_parser_settings_init(&fSettings);
  fSettings.on_url = &OnUrl;
  fSettings.on_header_field = &OnHeaderField;
  fSettings.on_header_value = &OnHeaderValue;
  fSettings.on_headers_complete = &OnHeadersComplete;
  fSettings.on_message_complete = [](http_parser* p) {
    http_parser_pause(p, 1);
    return 0;
  };
  Reset();
}

void HeadParser::Reset() {
  http_parser_init(&fParser, HTTP_REQUEST);
  fParser.data = this;
  fHead = RequestHead();
  fUrl.clear();
  fInValue = false;
  fComplete = false;
  fBytes = 0;
  fFailStatus = 0;
  fFailReason.clear();
}

HeadParser::State HeadParser::Fail(int status, const std::string& reason) {
  fFailStatus = status;
  fFailReason = reason;
  return State::kFailed;
}

HeadParser::State HeadParser::Feed(const char* data, size_t n, size_t* used) {
  *used = 0;
  if (fFailStatus != 0) return State::kFailed;
  if (fComplete) return State::kDone;
  // Only look at what still fits the limit, plus one byte to notice excess.
  size_t room = fMax - std::min(fMax, fBytes);
  size_t take = std::min(n, room + 1);
  size_t done = http_parser_execute(&fParser, &fSettings, data, take);
  fBytes += done;
  *used = done;
  http_errno err = HTTP_PARSER_ERRNO(&fParser);
  if (fComplete) {
    if (fFailStatus != 0) return State::kFailed;
    return State::kDone;
  }
  if (err != HPE_OK && err != HPE_PAUSED) {
    if (err == HPE_HEADER_OVERFLOW) return Fail(431, Text(kHeadTooLarge, std::to_string(fMax)));
    return Fail(400, Text(kUnreadable, http_errno_description(err)));
  }
  if (fBytes > fMax) return Fail(431, Text(kHeadTooLarge, std::to_string(fMax)));
  return State::kMore;
}

int HeadParser::OnUrl(http_parser* p, const char* at, size_t n) {
  Self(p)->fUrl.append(at, n);
  return 0;
}

int HeadParser::OnHeaderField(http_parser* p, const char* at, size_t n) {
  HeadParser* self = Self(p);
  if (self->fInValue || self->fHead.headers.empty()) self->fHead.headers.emplace_back();
  self->fInValue = false;
  self->fHead.headers.back().first += Lower(std::string(at, n));
  return 0;
}

int HeadParser::OnHeaderValue(http_parser* p, const char* at, size_t n) {
  HeadParser* self = Self(p);
  self->fInValue = true;
  if (self->fHead.headers.empty()) self->fHead.headers.emplace_back();
  self->fHead.headers.back().second.append(at, n);
  return 0;
}

int HeadParser::OnHeadersComplete(http_parser* p) {
  HeadParser* self = Self(p);
  RequestHead& h = self->fHead;
  self->fComplete = true;
  h.method = http_method_str(static_cast<http_method>(p->method));
  h.keepAlive = http_should_keep_alive(p) != 0;
  h.chunked = (p->flags & F_CHUNKED) != 0;
  bool hasLength = false;
  for (const auto& kv : h.headers) hasLength = hasLength || kv.first == "content-length";
  h.contentLength = hasLength && p->content_length <= static_cast<uint64_t>(LLONG_MAX)
                        ? static_cast<int64_t>(p->content_length)
                        : -1;
  http_parser_url u;
  http_parser_url_init(&u);
  if (http_parser_parse_url(self->fUrl.data(), self->fUrl.size(), 0, &u) != 0 ||
      !(u.field_set & (1 << UF_PATH))) {
    self->Fail(400, Text(kNotAPath));
  } else {
    h.path = self->fUrl.substr(u.field_data[UF_PATH].off, u.field_data[UF_PATH].len);
    if (u.field_set & (1 << UF_QUERY))
      h.query = self->fUrl.substr(u.field_data[UF_QUERY].off, u.field_data[UF_QUERY].len);
  }
  return 1;  // no body for the parser: the caller reads it
}

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 303: return "See Other";
    case 100: return "Continue";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 421: return "Misdirected Request";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 507: return "Insufficient Storage";
    default: return "Unknown";
  }
}

std::string ResponseHead(int status, const std::string& contentType, int64_t length, bool keepAlive,
                         const std::string& extraHeaders) {
  std::string h = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) + "\r\n";
  if (!contentType.empty()) h += "Content-Type: " + contentType + "\r\n";
  h += "Content-Length: " + std::to_string(length) + "\r\n";
  h += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  // Every answer: no framing, no script or style from elsewhere, no
  // referrer to other sites, no type sniffing.
  h += "Content-Security-Policy: default-src 'self'; frame-ancestors 'none'\r\n"
       "X-Frame-Options: DENY\r\n"
       "Referrer-Policy: same-origin\r\n"
       "X-Content-Type-Options: nosniff\r\n";
  h += extraHeaders;
  h += "\r\n";
  return h;
}

}  // namespace serve
