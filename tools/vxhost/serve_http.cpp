// Request heads through http_parser. The parser is told to skip the body
// (on_headers_complete returns 1) and paused when the message "ends", so
// it stops exactly after the blank line: the body stays with the caller,
// who hands it to KHTTPArgs bounded by Content-Length.
#include "serve_http.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "serve.h"

namespace serve {

namespace {

HeadParser* Self(http_parser* p) { return static_cast<HeadParser*>(p->data); }

// Header pairs a connection keeps for its next head: enough for a
// browser's, while a flood of headers is not held by an idle connection.
constexpr size_t kSpareHeaders = 32;
constexpr size_t kSpareBytes = 256;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The decimal digits of v, written into the end of buf.
std::string_view Decimal(int64_t v, char (&buf)[24]) {
  char* end = buf + sizeof buf;
  char* at = end;
  uint64_t u = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  do {
    *--at = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) *--at = '-';
  return {at, static_cast<size_t>(end - at)};
}

}  // namespace

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

const std::string& RequestHead::Header(std::string_view name) const {
  static const std::string kNone;
  for (const auto& [k, v] : headers)
    if (k == name) return v;
  return kNone;
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
  ClearHead();
  fUrl.clear();
  fInValue = false;
  fComplete = false;
  fBytes = 0;
  fFailStatus = 0;
  fFailReason.clear();
}

void HeadParser::ClearHead() {
  for (auto& kv : fHead.headers) {
    if (fSpare.size() >= kSpareHeaders || kv.first.capacity() > kSpareBytes || kv.second.capacity() > kSpareBytes)
      continue;
    kv.first.clear();
    kv.second.clear();
    fSpare.push_back(std::move(kv));
  }
  if (fHead.headers.size() > kSpareHeaders)
    std::vector<std::pair<std::string, std::string>>().swap(fHead.headers);
  else
    fHead.headers.clear();
  fHead.method.clear();
  fHead.path.clear();
  fHead.query.clear();
  fHead.contentLength = -1;
  fHead.chunked = false;
  fHead.keepAlive = false;
}

void HeadParser::TakeHead(RequestHead* into) {
  std::swap(fHead, *into);
  ClearHead();
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
  if (self->fInValue || self->fHead.headers.empty()) self->NewHeader();
  self->fInValue = false;
  std::string& name = self->fHead.headers.back().first;
  size_t from = name.size();
  name.append(at, n);
  // Names are ASCII tokens: no locale to ask.
  for (size_t i = from; i < name.size(); ++i)
    if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  return 0;
}

void HeadParser::NewHeader() {
  if (fSpare.empty()) {
    fHead.headers.emplace_back();
    return;
  }
  fHead.headers.push_back(std::move(fSpare.back()));
  fSpare.pop_back();
}

int HeadParser::OnHeaderValue(http_parser* p, const char* at, size_t n) {
  HeadParser* self = Self(p);
  self->fInValue = true;
  if (self->fHead.headers.empty()) self->NewHeader();
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
    h.path.assign(self->fUrl, u.field_data[UF_PATH].off, u.field_data[UF_PATH].len);
    if (u.field_set & (1 << UF_QUERY))
      h.query.assign(self->fUrl, u.field_data[UF_QUERY].off, u.field_data[UF_QUERY].len);
  }
  return 1;  // no body for the parser: the caller reads it
}

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 206: return "Partial Content";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 100: return "Continue";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 416: return "Range Not Satisfiable";
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
  // Every answer: no framing, no script or style from elsewhere, no
  // referrer to other sites, no type sniffing.
  static constexpr std::string_view kFixed =
      "Content-Security-Policy: default-src 'self'; frame-ancestors 'none'\r\n"
      "X-Frame-Options: DENY\r\n"
      "Referrer-Policy: same-origin\r\n"
      "X-Content-Type-Options: nosniff\r\n";
  // Made per answer: the numbers by hand and the whole head in one
  // allocation.
  char numbers[2][24];
  std::string_view code = Decimal(status, numbers[0]), size = Decimal(length, numbers[1]);
  std::string_view reason = StatusText(status);
  std::string_view connection = keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  std::string h;
  h.reserve(80 + reason.size() + contentType.size() + connection.size() + kFixed.size() +
            extraHeaders.size());
  h.append("HTTP/1.1 ").append(code).append(" ").append(reason).append("\r\n");
  if (!contentType.empty()) h.append("Content-Type: ").append(contentType).append("\r\n");
  h.append("Content-Length: ").append(size).append("\r\n");
  h.append(connection).append(kFixed).append(extraHeaders).append("\r\n");
  return h;
}

// ===== Partial and conditional downloads =====

namespace {

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The digits of s from *at on, saturating at INT64_MAX (a range past any
// file then stays past its end); false when there are none.
bool Digits(const std::string& s, size_t* at, int64_t* value) {
  size_t start = *at;
  int64_t v = 0;
  for (; *at < s.size() && s[*at] >= '0' && s[*at] <= '9'; ++*at) {
    int d = s[*at] - '0';
    v = v > (INT64_MAX - d) / 10 ? INT64_MAX : v * 10 + d;
  }
  *value = v;
  return *at > start;
}

// The index of name in names (n of them), or -1.
int IndexOf(const char* const* names, int n, const std::string& name) {
  for (int i = 0; i < n; ++i)
    if (name == names[i]) return i;
  return -1;
}

}  // namespace

RangeAsk ParseByteRange(const std::string& value, int64_t size, int64_t* first, int64_t* last) {
  std::string v = Trim(value);
  const std::string unit = "bytes=";
  if (v.size() < unit.size() || Lower(v.substr(0, unit.size())) != unit) return RangeAsk::kWhole;
  std::string set = Trim(v.substr(unit.size()));
  // Several ranges would need a multipart/byteranges answer, which is not
  // served: the whole document answers them.
  if (set.find(',') != std::string::npos) return RangeAsk::kWhole;
  size_t at = 0;
  int64_t a = 0, b = 0;
  bool hasFirst = Digits(set, &at, &a);
  if (at >= set.size() || set[at] != '-') return RangeAsk::kWhole;
  ++at;
  bool hasLast = Digits(set, &at, &b);
  if (at != set.size() || (!hasFirst && !hasLast) || (hasFirst && hasLast && b < a)) return RangeAsk::kWhole;
  if (!hasFirst) {
    if (b == 0) return RangeAsk::kUnsatisfiable;
    // The last n bytes of an empty document are no bytes, which a
    // Content-Range cannot name: the (empty) whole answers.
    if (size == 0) return RangeAsk::kWhole;
    *first = size - std::min(b, size);
    *last = size - 1;
    return RangeAsk::kPart;
  }
  if (a >= size) return RangeAsk::kUnsatisfiable;
  *first = a;
  *last = hasLast ? std::min(b, size - 1) : size - 1;
  return RangeAsk::kPart;
}

CivilTime CivilOf(int64_t secondsUtc) {
  using namespace std::chrono;
  sys_seconds t{seconds{secondsUtc}};
  sys_days day = floor<days>(t);
  year_month_day ymd{day};
  hh_mm_ss<seconds> hms{t - day};
  return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
          weekday{day}.c_encoding(), static_cast<long>(hms.hours().count()), static_cast<long>(hms.minutes().count()),
          static_cast<long>(hms.seconds().count())};
}

std::string HttpDate(int64_t secondsUtc) {
  CivilTime c = CivilOf(secondsUtc);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02ld:%02ld:%02ld GMT", kWeekdays[c.weekday], c.day,
                kMonths[c.month - 1], c.year, c.hour, c.minute, c.second);
  return text;
}

bool ParseHttpDate(const std::string& text, int64_t* secondsUtc) {
  using namespace std::chrono;
  static const char kShape[] = "aaa, 00 aaa 0000 00:00:00 GMT";
  if (text.size() != sizeof kShape - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool fits = kShape[i] == 'a' ? std::isalpha(c) != 0 : kShape[i] == '0' ? std::isdigit(c) != 0 : c == kShape[i];
    if (!fits) return false;
  }
  auto number = [&](size_t at, size_t n) { return std::atoi(text.substr(at, n).c_str()); };
  int wday = IndexOf(kWeekdays, 7, text.substr(0, 3)), mon = IndexOf(kMonths, 12, text.substr(8, 3));
  year_month_day ymd{year{number(12, 4)}, month{static_cast<unsigned>(mon + 1)},
                     day{static_cast<unsigned>(number(5, 2))}};
  int hour = number(17, 2), minute = number(20, 2), second = number(23, 2);
  if (wday < 0 || mon < 0 || !ymd.ok() || hour > 23 || minute > 59 || second > 60) return false;
  sys_days d{ymd};
  if (static_cast<int>(weekday{d}.c_encoding()) != wday) return false;
  *secondsUtc = d.time_since_epoch().count() * int64_t{86400} + hour * 3600 + minute * 60 + second;
  return true;
}

bool EtagListMatches(const std::string& value, const std::string& etag) {
  if (Trim(value) == "*") return true;
  for (size_t at = 0; at <= value.size();) {
    size_t end = std::min(value.find(',', at), value.size());
    std::string tag = Trim(value.substr(at, end - at));
    if (tag.compare(0, 2, "W/") == 0) tag.erase(0, 2);
    if (tag == etag) return true;
    at = end + 1;
  }
  return false;
}

}  // namespace serve
