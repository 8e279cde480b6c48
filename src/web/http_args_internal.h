// One parse of a request by KHTTPArgs: the reading, decoding and multipart
// steps, working on the object's buffers and callbacks.
#ifndef VXKERNEL_WEB_HTTP_ARGS_INTERNAL_H_
#define VXKERNEL_WEB_HTTP_ARGS_INTERNAL_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "vxkernel/web/KHTTPArgs.h"

namespace port {
struct Fiber;
}

// The fed parse: the fiber it runs on and what passes between the feeder
// and the parser's reads.
struct KHTTPArgs::Push {
  port::Fiber* fiber = nullptr;
  bool open = false;     // BeginArgs was called, EndArgs not yet
  bool started = false;  // the fiber has run
  bool done = false;     // the parse returned
  bool ended = false;    // no more input comes
  InputEnd how = InputEnd::kQuiet;
  size_t want = 0;       // what a waiting read takes; 0: none waits
  size_t committed = 0;  // bytes fed to it so far
  uint32_t partOffset = 0;  // room before each file part's data
  int result = 1;

  // Moves the bytes the parse has not taken to the front of its buffer, for
  // the next read to land behind them.
  static void Gather(KHTTPArgs& a);
};

struct KHTTPArgs::Parse {
  explicit Parse(KHTTPArgs& args) : a(args) {}

  // ===== Arguments =====
  void AddEntry(const std::string& name, const char* value);
  // Decodes one name=value item and hands it to the sink.
  void Decode(std::string& item);
  std::string Lookup(const char* name, bool* found);
  int CrackQueryString();
  int CrackPostStream();

  // ===== Reading (never past the declared length) =====
  int64_t Remaining() const { return a.fUnread + a.fAvailable; }
  bool StreamUsable() const { return !a.fPush->ended; }
  // Waits (yields the fiber) until want bytes were fed or the input ended;
  // returns the bytes fed. The parser sees the reads a blocking stream
  // gives, whatever the pieces: its steps (and its debug lines) depend on
  // where a read ends, not on where a piece does.
  size_t AwaitInput(size_t want);
  int32_t FillEmptyReadBuf(int32_t keep);
  bool OkToReadMore(int32_t keep);
  bool GetByte(char* c);
  void Consume(int32_t n) {
    a.fCursor += n;
    a.fAvailable -= n;
  }
  enum class Word { kItem, kDropped, kEnd };
  // One item up to a separator byte (not kept) into *out. kDropped: no
  // memory for it, so it was skipped up to its separator after the message;
  // kEnd: nothing was read, or the item grew past the cap (fatal).
  Word MakeWord(const char* separators, std::string* out);
  // One line up to CR LF (not stored) or size - 1 bytes; true when the line
  // ended with CR LF.
  bool GetLine(std::string* line, size_t size);

  // ===== Multipart =====
  std::string MakeBoundaryString(const std::string& contentType);
  int CrackMultipart(const std::string& contentType, int depth);
  bool GetNextPart(const std::string& boundary, int depth);
  bool GotoNextPart(const std::string& delimiter, std::FILE* file);
  // One step of GotoNextPart: passes input to file until the delimiter
  // (consumed, not written), the end of the input, or nearly a read
  // buffer's worth; a possible start of the delimiter at the end of the
  // input waits for more. Returns the bytes consumed, the delimiter
  // included, and sets *found when it was.
  int64_t ReadMoreUntil(const std::string& delimiter, std::FILE* file, bool* found);
  void WriteMore(std::FILE* file, const char* data, size_t n);
  void WriteDone(std::FILE* file);
  void WriteOut(std::FILE* file, const char* data, size_t n);  // writes and flushes
  bool FilePart(const std::string& name, const std::string& fileName,
                const std::string& contentType, const std::string& boundary);

  KHTTPArgs& a;
  bool fatal = false;        // a cap was exceeded: the parse fails
  bool writeFailed = false;  // an upload lost data: strict parses fail
  bool partWriteLost = false;
};

namespace vxk_internal {

// The items of a query string, in order: an item ends at the next "&";
// only in the tail after the last "&" does a ";" end it. A separator at the
// very end starts no item; an empty string has none. Each byte is searched
// at most twice, whatever the separators. Views into the text given.
class HttpQueryItems {
 public:
  explicit HttpQueryItems(std::string_view text);
  // The next item; false after the last.
  bool Next(std::string_view* item);
  // Bytes searched for separators so far (at most twice the length).
  size_t Searched() const { return fSearched; }

 private:
  size_t Find(char separator);

  std::string_view fText;
  size_t fAmpersandEnd;  // one past the last "&"; 0 without one
  size_t fStart = 0;
  size_t fSearched;
  bool fDone;
};

// Where the L-byte delimiter d first occurs in the n bytes at p, as memmem
// says; null when it does not. Linear in n whatever the bytes, and reads
// nothing outside the n bytes. Takes the AVX2 way where the processor has
// it, else the one of ByteScan's blocks; both are here for the tests.
const char* HttpFindDelimiter(const char* p, size_t n, const char* d, size_t L);
const char* HttpFindDelimiterBlocks(const char* p, size_t n, const char* d, size_t L);
// REQUIRES: HttpAvx2Usable().
const char* HttpFindDelimiterAvx2(const char* p, size_t n, const char* d, size_t L);
bool HttpAvx2Usable();

// "label H:M:S(clock)  ": the lead of the timed verbose traces.
std::string HttpTimeTrace(const char* label);
// Last path piece after "/", "\", ":" and " ".
std::string HttpJustFilename(const std::string& name);
// A leading quote dropped and the value cut at the next quote.
std::string HttpNoQuotes(const std::string& value);
}  // namespace vxk_internal

#endif  // VXKERNEL_WEB_HTTP_ARGS_INTERNAL_H_
