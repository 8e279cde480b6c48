#include "vxkernel/web/KHTTPArgs.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <istream>
#include <new>
#include <string>
#include <string_view>

#include "base/debug_line.h"
#include "port/port.h"
#include "vxkernel/files/KFile.h"
#include "vxkernel/locale/KIntl.h"
#include "web/escape_internal.h"
#include "web/http_args_internal.h"

using vxk_internal::DebugText;

namespace {

// The fiber's stack: the parse's frames and the type detection's. Pages
// are taken only as they are touched.
constexpr size_t kParseStack = 1u << 20;

}  // namespace

KHTTPArgs::KHTTPArgs(unsigned long instanceNumber)
    : fInstance(instanceNumber), fReadBuf(new (std::nothrow) char[kBufferSize]), fCursor(fReadBuf) {}

KHTTPArgs::KHTTPArgs(const KHTTPArgs& other)
    : fInstance(other.fInstance), fReadBuf(new (std::nothrow) char[kBufferSize]), fCursor(fReadBuf) {
  *this = other;
}

KHTTPArgs& KHTTPArgs::operator=(const KHTTPArgs& other) {
  if (this == &other) return *this;
  for (int k = 0; k < kSlots; ++k) {
    delete fFiles[k];
    fFiles[k] = other.fFiles[k] != nullptr ? new KFile(*other.fFiles[k]) : nullptr;
  }
  fInstance = other.fInstance;
  fStrict = other.fStrict;
  fAddTimestamp = other.fAddTimestamp;
  fTmpDir = other.fTmpDir;
  fMaxItem = other.fMaxItem;
  fMaxDepth = other.fMaxDepth;
  return *this;
}

KHTTPArgs::~KHTTPArgs() {
  if (fPush != nullptr) {
    // What is still on the fiber's stack unwinds there; the callers of an
    // abandoned parse hear nothing more.
    fLookup = nullptr;
    fSink = nullptr;
    EndInput(InputEnd::kQuiet);
    port::FiberDestroy(fPush->fiber);
    delete fPush;
  }
  for (KFile* f : fFiles) delete f;
  delete[] fReadBuf;
  delete[] fWriteBuf;
}

// A read that gives less than asked for means the FILE is at its end or
// failed: the input ends with those bytes, as the parser's next look at
// the stream would have found.
int KHTTPArgs::CrackArgs(std::FILE* in, KHTTPLookup lookup, void* lookupContext, KHTTPSink sink,
                         void* sinkContext, bool verbose) {
  BeginArgs(lookup, lookupContext, sink, sinkContext, verbose);
  if (std::ferror(in) || std::feof(in)) return EndInput(InputEnd::kQuiet);
  size_t room = 0;
  for (char* p; (p = FeedBuffer(&room)) != nullptr;) {
    DebugText("KHTTPArgs::FillEmptyReadBuf try to read bytes from client socket strm: ", room, '\n');
    const size_t got = std::fread(p, 1, room, in);
    FeedCommit(got);
    if (got < room) break;
  }
  return EndInput(InputEnd::kQuiet);
}

int KHTTPArgs::CrackArgs(std::istream& in, KHTTPLookup lookup, void* lookupContext,
                         KHTTPSink sink, void* sinkContext, bool verbose) {
  BeginArgs(lookup, lookupContext, sink, sinkContext, verbose);
  size_t room = 0;
  char* p = nullptr;
  while (in.good() && !in.eof() && (p = FeedBuffer(&room)) != nullptr) {
    in.read(p, static_cast<std::streamsize>(room));
    FeedCommit(static_cast<size_t>(in.gcount()));
  }
  return EndInput(in.eof() || (in.good() && p == nullptr) ? InputEnd::kEnd : InputEnd::kBad);
}

void KHTTPArgs::BeginArgs(KHTTPLookup lookup, void* lookupContext, KHTTPSink sink,
                          void* sinkContext, bool verbose, uint32_t partDataOffset) {
  if (fPush != nullptr && fPush->open) EndInput(InputEnd::kEnd);
  if (fPush == nullptr) fPush = new (std::nothrow) Push;
  if (fPush != nullptr && fPush->fiber == nullptr) fPush->fiber = port::FiberCreate(kParseStack);
  if (fPush == nullptr || fPush->fiber == nullptr) {
    DebugText("KHTTPArgs::BeginArgs - no stack for the parse\n");
    return;
  }
  Push& push = *fPush;
  push = Push{push.fiber};
  push.open = true;
  push.partOffset = partDataOffset;
  fLookup = lookup;
  fLookupContext = lookupContext;
  fSink = sink;
  fSinkContext = sinkContext;
  fVerbose = verbose;
  fCursor = fReadBuf;
  fAvailable = 0;
  fUnread = 0;
}

bool KHTTPArgs::ResumeParse() {
  Push& push = *fPush;
  // The fiber starts on the thread that feeds it, with that thread's state.
  if (!push.started) port::FiberStart(push.fiber, &KHTTPArgs::RunParse, this);
  push.started = true;
  push.done = !port::FiberResume(push.fiber);
  return !push.done;
}

void KHTTPArgs::Push::Gather(KHTTPArgs& a) {
  if (a.fCursor != a.fReadBuf) std::memmove(a.fReadBuf, a.fCursor, static_cast<size_t>(a.fAvailable));
  a.fCursor = a.fReadBuf;
}

char* KHTTPArgs::FeedBuffer(size_t* room) {
  *room = 0;
  if (fPush == nullptr || !fPush->open) return nullptr;
  Push& push = *fPush;
  // The parse runs again once its read is whole, as a blocking read on a
  // stream would return: where the pieces end changes nothing.
  if (!push.done && (!push.started || push.committed == push.want)) ResumeParse();
  if (push.done || push.ended) return nullptr;
  Push::Gather(*this);
  *room = push.want - push.committed;
  return fReadBuf + fAvailable + push.committed;
}

void KHTTPArgs::FeedCommit(size_t n) {
  if (fPush == nullptr || !fPush->open || fPush->done) return;
  fPush->committed += std::min(n, fPush->want - fPush->committed);
}

// A read the caller's bytes hold whole, with the bytes the parse kept from
// the read before (they are the last ones fed, so they lie right before
// it when they came in this call), is read in place: the parse scans and
// writes the caller's bytes. Only a read cut by the end of the call is
// gathered in the parser's buffer.
size_t KHTTPArgs::FeedArgs(const char* data, size_t n) {
  if (fPush == nullptr || !fPush->open) return 0;
  Push& push = *fPush;
  size_t taken = 0;
  while (taken < n) {
    if (!push.done && (!push.started || push.committed == push.want)) ResumeParse();
    if (push.done || push.ended) break;
    const size_t want = push.want - push.committed;
    const size_t kept = static_cast<size_t>(fAvailable);
    if (push.committed == 0 && kept <= taken && want <= n - taken) {
      fCursor = data + taken - kept;
      push.committed = push.want;
      taken += want;
      continue;
    }
    Push::Gather(*this);
    const size_t k = std::min(want, n - taken);
    std::memcpy(fReadBuf + fAvailable + push.committed, data + taken, k);
    push.committed += k;
    taken += k;
  }
  // The bytes are lent only until the return: a whole read is parsed now,
  // and what the parse keeps of them (at most a delimiter, or the CR at the
  // end of a header line) moves into its buffer.
  if (!push.done && push.started && push.committed == push.want) ResumeParse();
  if (!push.done) {
    Push::Gather(*this);
  } else {
    fCursor = fReadBuf;
    fAvailable = 0;
  }
  return taken;
}

int KHTTPArgs::EndArgs() { return EndInput(InputEnd::kEnd); }

int KHTTPArgs::EndInput(InputEnd how) {
  if (fPush == nullptr || !fPush->open) return 1;
  Push& push = *fPush;
  push.ended = true;
  push.how = how;
  while (!push.done && ResumeParse()) {
  }
  push.open = false;
  fLookup = nullptr;
  fLookupContext = nullptr;
  fSink = nullptr;
  fSinkContext = nullptr;
  return push.result;
}

void KHTTPArgs::RunParse(void* self) {
  KHTTPArgs& a = *static_cast<KHTTPArgs*>(self);
  int result = 1;
  try {
    Parse p(a);
    bool found = false;
    std::string method = p.Lookup("REQUEST_METHOD", &found);
    if (method.size() > 254) method.resize(254);
    for (char& c : method) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (a.fReadBuf == nullptr) {
      DebugText("KHTTPArgs::CrackArgs - no read buffer\n");
    } else if (found && method == "GET") {
      result = p.CrackQueryString();
    } else if (found && method == "POST") {
      result = p.CrackPostStream();
    } else if (a.fVerbose) {
      DebugText("CrackArgs: Unknown REQUEST_METHOD: ", method, '\n');
    }
  } catch (...) {  // no memory for an item, or a callback that threw
    DebugText("KHTTPArgs::CrackArgs - parse abandoned by an exception\n");
    result = 1;
  }
  a.fPush->result = result;
}

void KHTTPArgs::CleanupPostFiles(bool trace) {
  for (KFile*& f : fFiles) {
    if (f == nullptr) continue;
    if (trace) DebugText("Delete tmp file: ", static_cast<const char*>(f->FullName()), '\n');
    port::RemoveFile(f->FullName());
    delete f;
    f = nullptr;
  }
}

KFile* KHTTPArgs::GetTmpFile(const char* base) {
  if (base == nullptr || *base == '\0') return nullptr;
  for (int k = 0; k < kSlots; ++k) {
    if (fFiles[k] != nullptr) continue;
    char tail[48];
    if (fAddTimestamp) {
      std::snprintf(tail, sizeof tail, "%c%02lu%010lu", 'A' + k, fInstance,
                    static_cast<unsigned long>(static_cast<uint32_t>(std::time(nullptr))));
    } else {
      std::snprintf(tail, sizeof tail, "%c%02lu", 'A' + k, fInstance);
    }
    fFiles[k] = new KFile((std::string(base) + tail).c_str());
    return fFiles[k];
  }
  return nullptr;
}

KString KHTTPArgs::UseTmpFile(const char* base) const {
  if (base == nullptr || *base == '\0') return KString();
  std::string path;
  if (fTmpDir.Length() > 0) {
    path = static_cast<const char*>(fTmpDir);
  } else {
    const char* env = std::getenv("TMPDIR");
    path = env != nullptr && *env != '\0' ? env : "/tmp";
    if (path.size() > 254) path.resize(254);
    path += '/';
  }
  path += vxk_internal::HttpJustFilename(base);
  return KString(path.c_str());
}

// ===== Arguments =====

void KHTTPArgs::Parse::AddEntry(const std::string& name, const char* value) {
  if (a.fSink != nullptr) a.fSink(a.fSinkContext, name.c_str(), value);
}

std::string KHTTPArgs::Parse::Lookup(const char* name, bool* found) {
  KString value;
  *found = a.fLookup != nullptr && a.fLookup(a.fLookupContext, name, value);
  return *found ? std::string(value, value.Length()) : std::string();
}

namespace {

// Two-byte sequences with a lead of 0xC0-0xC3 are Latin-1 characters a
// client sent as UTF-8; true when every high byte belongs to one.
bool RepairableLatin1(const std::string& s) {
  bool any = false;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) continue;
    if ((c & 0xE0) != 0xC0 || (c & 0x1F) > 3 || i + 1 >= s.size() ||
        (static_cast<unsigned char>(s[i + 1]) & 0xC0) != 0x80) {
      return false;
    }
    any = true;
    ++i;
  }
  return any;
}

}  // namespace

void KHTTPArgs::Parse::Decode(std::string& item) {
  for (char& c : item) {
    if (c == '+') c = ' ';
  }
  // A "%" without two characters behind it stays as it is.
  size_t out = 0;
  for (size_t i = 0; i < item.size(); ++i) {
    if (item[i] == '%' && i + 2 < item.size()) {
      item[out++] = static_cast<char>(vxk_internal::PercentPairByte(
          static_cast<unsigned char>(item[i + 1]), static_cast<unsigned char>(item[i + 2])));
      i += 2;
    } else {
      item[out++] = item[i];
    }
  }
  const bool shortened = out < item.size();
  item.resize(out);
  if (shortened && RepairableLatin1(item) && !KIntl::MultiByte() && !KIntl::Utf8()) {
    DebugText("KHTTPArgs unescape_url converting: ", item, '\n');
    size_t o = 0;
    for (size_t i = 0; i < item.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(item[i]);
      if (c >= 0x80) {
        c = static_cast<unsigned char>(((c & 0x1F) << 6) | (item[++i] & 0x3F));
      }
      item[o++] = static_cast<char>(c);
    }
    item.resize(o);
  }
  size_t eq = item.find('=');
  if (eq == std::string::npos) {
    AddEntry(item, nullptr);
  } else {
    item[eq] = '\0';  // the name ends there; no copy
    if (a.fSink != nullptr) a.fSink(a.fSinkContext, item.c_str(), item.c_str() + eq + 1);
  }
}

int KHTTPArgs::Parse::CrackQueryString() {
  bool found = false;
  std::string rest = Lookup("QUERY_STRING", &found);
  if (rest.empty()) return 0;
  if (a.fVerbose) DebugText("CrackQueryString: Cracking GET QUERY_STRING = ", rest, '\n');
  vxk_internal::HttpQueryItems items(rest);
  std::string item;
  for (std::string_view view; items.Next(&view);) {
    item.assign(view);
    Decode(item);
  }
  return 0;
}

vxk_internal::HttpQueryItems::HttpQueryItems(std::string_view text)
    : fText(text), fDone(text.empty()) {
  // One search from the end finds where ";" starts to count, so that no
  // item searches the rest of the text for an "&" that is not there.
  const size_t last = text.rfind('&');
  fAmpersandEnd = last == std::string_view::npos ? 0 : last + 1;
  fSearched = text.size() - (last == std::string_view::npos ? 0 : last);
}

size_t vxk_internal::HttpQueryItems::Find(char separator) {
  const size_t at = fText.find(separator, fStart);
  fSearched += (at == std::string_view::npos ? fText.size() : at + 1) - fStart;
  return at;
}

bool vxk_internal::HttpQueryItems::Next(std::string_view* item) {
  if (fDone) return false;
  size_t end = fStart < fAmpersandEnd ? Find('&') : std::string_view::npos;
  if (end == std::string_view::npos) end = Find(';');
  *item = fText.substr(fStart, end == std::string_view::npos ? end : end - fStart);
  if (end == std::string_view::npos || end + 1 >= fText.size()) {
    fDone = true;
  } else {
    fStart = end + 1;
  }
  return true;
}

namespace {

// Signed 64-bit decimal after optional blanks and sign, up to the first
// other character; false when it does not fit.
bool ParseLength(const std::string& text, int64_t* out) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (v > (UINT64_MAX - 9) / 10) return false;
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (v > static_cast<uint64_t>(INT64_MAX)) return false;
  }
  *out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

}  // namespace

int KHTTPArgs::Parse::CrackPostStream() {
  bool found = false;
  const std::string contentType = Lookup("CONTENT_TYPE", &found);
  if (!found || contentType.empty()) {
    if (a.fVerbose) {
      DebugText(found ? "CrackPostStream: Empty CONTENT_TYPE in request"
                      : "CrackPostStream: Did not find CONTENT_TYPE in request",
                '\n');
    }
    return 1;
  }
  int64_t length = 0;
  const std::string lengthText = Lookup("CONTENT_LENGTH", &found);
  if (!found || lengthText.empty()) {
    if (a.fVerbose) {
      DebugText(found ? "CrackPostStream: Empty CONTENT_LENGTH in request"
                      : "CrackPostStream: Did not find CONTENT_LENGTH in request",
                '\n');
    }
  } else {
    if (!ParseLength(lengthText, &length)) {
      DebugText("CrackPostStream: Invalid CONTENT_LENGTH =", lengthText, " (out of range)\n");
      return 1;
    }
    if (length < 1 && a.fVerbose) {
      DebugText("CrackPostStream: Invalid CONTENT_LENGTH =", lengthText, " (", length, ")\n");
    }
  }
  if (length == 0) return 0;
  if (length < 0) return 1;
  a.fUnread = length;
  if (a.fVerbose) {
    DebugText("CrackPostStream: ", a.fStrict ? "Strict " : "", "Args from POST data length = ",
              length, " type: ", contentType, '\n');
  }
  std::string lower = contentType;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("application/x-www-form-urlencoded") != std::string::npos) {
    std::string item;
    while (Remaining() > 0 && OkToReadMore(0)) {
      const Word word = MakeWord("&;", &item);
      if (word == Word::kEnd) break;
      if (word == Word::kItem) Decode(item);
    }
    if (fatal) return 1;
    if (Remaining() > 0 && !OkToReadMore(0)) {
      if (a.fVerbose) {
        DebugText("CrackPostStream: input stream error - did not receive content length: ",
                  Remaining(), '\n');
      }
      return a.fStrict ? 1 : 0;
    }
    return 0;
  }
  if (lower.find("multipart/form-data") != std::string::npos) {
    int result = CrackMultipart(contentType, 0);
    return fatal || (a.fStrict && writeFailed) ? 1 : result;
  }
  return 1;
}

std::string vxk_internal::HttpJustFilename(const std::string& name) {
  std::string s = name;
  for (char sep : {'/', '\\', ':', ' '}) {
    size_t p = s.rfind(sep);
    if (p != std::string::npos) s.erase(0, p + 1);
  }
  return s;
}

std::string vxk_internal::HttpNoQuotes(const std::string& value) {
  if (value.empty() || value[0] != '"') return value;
  size_t end = value.find('"', 1);
  return value.substr(1, end == std::string::npos ? std::string::npos : end - 1);
}
