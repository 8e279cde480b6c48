// Request heads through http_parser, and response heads.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_HTTP_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_HTTP_H_

#include <http_parser.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace serve {

// The parts of a request head the routes use.
struct RequestHead {
  std::string method;  // "GET", "POST", ...
  std::string path;    // URL path, still percent-encoded
  std::string query;   // after "?", without it
  std::vector<std::pair<std::string, std::string>> headers;  // names lower-cased
  int64_t contentLength = -1;  // -1: no Content-Length
  bool chunked = false;
  bool keepAlive = false;
  // The value of header name (lower case), or "".
  const std::string& Header(std::string_view name) const;
};

// Reads one request head from bytes fed in pieces; stops at the end of the
// head (the body, if any, is left to the caller). A head longer than the
// limit or malformed ends with a status to answer (431 or 400). One per
// connection; Reset between requests. Not synchronized.
class HeadParser {
 public:
  enum class State { kMore, kDone, kFailed };

  explicit HeadParser(size_t maxHeadBytes);
  void Reset();
  // Consumes bytes up to the end of the head; *used tells how many (the
  // rest belongs to the body or the next request).
  State Feed(const char* data, size_t n, size_t* used);
  // True once any byte of the current head arrived.
  bool Started() const { return fBytes > 0; }
  const RequestHead& Head() const { return fHead; }
  // Hands the complete head to *into by a swap, without copying a string;
  // what *into held before (an earlier request's head) is emptied here and
  // its header strings kept for the next head.
  void TakeHead(RequestHead* into);
  int FailStatus() const { return fFailStatus; }
  const std::string& FailReason() const { return fFailReason; }

 private:
  static int OnUrl(http_parser* p, const char* at, size_t n);
  static int OnHeaderField(http_parser* p, const char* at, size_t n);
  static int OnHeaderValue(http_parser* p, const char* at, size_t n);
  static int OnHeadersComplete(http_parser* p);
  State Fail(int status, const std::string& reason);
  // Appends an empty header pair, a spare one when there is one.
  void NewHeader();
  // Empties fHead, its header pairs kept as spares within the bounds.
  void ClearHead();

  http_parser fParser;
  http_parser_settings fSettings;
  RequestHead fHead;
  // Emptied header pairs of earlier heads on this connection, their
  // buffers kept: a keep-alive request then makes no strings for its head.
  std::vector<std::pair<std::string, std::string>> fSpare;
  std::string fUrl;
  bool fInValue = false;
  bool fComplete = false;
  size_t fBytes = 0;
  size_t fMax;
  int fFailStatus = 0;
  std::string fFailReason;
};

// The reason phrase of a status ("Not Found").
const char* StatusText(int status);

// A response head with Content-Length and Connection set.
std::string ResponseHead(int status, const std::string& contentType, int64_t length, bool keepAlive,
                         const std::string& extraHeaders = "");

// s without the spaces and tabs around it.
std::string Trim(const std::string& s);

// ===== Partial and conditional downloads =====

// What a Range header asks of a document of a known size.
enum class RangeAsk {
  kWhole,          // no header, another unit, a malformed one, or several ranges: the whole document
  kPart,           // one satisfiable range
  kUnsatisfiable,  // one well-formed range that starts past the end
};

// Reads the value of a Range header ("bytes=a-b", "bytes=a-", "bytes=-n")
// against size bytes; for kPart fills *first and *last (inclusive, last
// clipped to the end).
RangeAsk ParseByteRange(const std::string& value, int64_t size, int64_t* first, int64_t* last);

// The IMF-fixdate of secondsUtc: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(int64_t secondsUtc);

// An IMF-fixdate into seconds since 1970; false for any other text (the
// obsolete date forms included).
bool ParseHttpDate(const std::string& text, int64_t* secondsUtc);

// True when an If-None-Match value ("*" or a list of entity tags) names
// etag; a weak tag matches its strong twin.
bool EtagListMatches(const std::string& value, const std::string& etag);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_HTTP_H_
