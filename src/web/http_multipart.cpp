// KHTTPArgs: buffered reading of the body and the multipart steps.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <istream>
#include <new>
#include <string>

#include "base/debug_line.h"
#include "port/port.h"
#include "vxkernel/docconv/KDor.h"
#include "vxkernel/files/KConfigFile.h"
#include "vxkernel/files/KFile.h"
#include "web/http_args_internal.h"

using vxk_internal::DebugText;
using vxk_internal::HttpNoQuotes;
using vxk_internal::HttpTimeTrace;

std::string vxk_internal::HttpTimeTrace(const char* label) {
  port::CivilTime t{};
  port::CivilFromSeconds(static_cast<int64_t>(std::time(nullptr)), true, &t);
  return std::string(label) + std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" +
         std::to_string(t.second) + "(" + std::to_string(static_cast<long>(std::clock())) +
         ")  ";
}

// ===== Reading =====

size_t KHTTPArgs::Parse::AwaitInput(size_t want) {
  Push& push = *a.fPush;
  push.want = want;
  port::FiberYield(push.fiber);  // back when the read is whole or the input ended
  const size_t got = push.committed;
  push.committed = 0;
  push.want = 0;
  return got;
}

int32_t KHTTPArgs::Parse::FillEmptyReadBuf(int32_t keep) {
  if (a.fAvailable > keep || a.fUnread <= 0 || !StreamUsable()) return 0;
  // The feeder puts the read right behind the bytes kept: in the read
  // buffer (Push::Gather) or, read in place, in the caller's bytes.
  const int64_t room = kBufferSize - a.fAvailable;
  const size_t got = AwaitInput(static_cast<size_t>(a.fUnread < room ? a.fUnread : room));
  a.fAvailable += static_cast<int32_t>(got);
  a.fUnread -= static_cast<int64_t>(got);
  if (got > 0 && a.fVerbose) {
    DebugText(HttpTimeTrace("KHTTPArgs::FillEmptyReadBuf end -- "), "read ", got,
              " more bytes into buffer.\n");
  }
  return static_cast<int32_t>(got);
}

bool KHTTPArgs::Parse::OkToReadMore(int32_t keep) {
  if (a.fAvailable > keep) return true;
  if (a.fUnread <= 0) return false;
  if (StreamUsable()) return true;
  if (a.fVerbose && a.fPush->how != InputEnd::kQuiet) {
    DebugText(a.fPush->how == InputEnd::kEnd ? "OkToReadMore: End of input, input socket closed."
                                              : "OkToReadMore: Input stream bad, no more data on socket.",
              '\n');
  }
  return false;
}

bool KHTTPArgs::Parse::GetByte(char* c) {
  FillEmptyReadBuf(0);
  if (a.fAvailable == 0) return false;
  *c = *a.fCursor;
  Consume(1);
  return true;
}

namespace {

// Room for n bytes in an item: the buffer starts at 10240 bytes and at
// least doubles. False, with the message, when there is no memory.
bool WordRoom(std::string* word, size_t n) {
  if (n <= word->capacity()) return true;
  try {
    word->reserve(std::max({n, 2 * word->capacity(), size_t{10240}}));
    return true;
  } catch (const std::bad_alloc&) {
    DebugText("Error could not allocate word buffer in KHTTPArgs::MakeWord.\n");
    return false;
  }
}

}  // namespace

KHTTPArgs::Parse::Word KHTTPArgs::Parse::MakeWord(const char* separators, std::string* out) {
  out->clear();
  bool any = false;
  bool dropped = false;
  for (;;) {
    FillEmptyReadBuf(0);
    if (a.fAvailable == 0) return !any ? Word::kEnd : dropped ? Word::kDropped : Word::kItem;
    any = true;
    const char* p = a.fCursor;
    const char* end = p + a.fAvailable;
    const char* hit = p;
    const char s0 = separators[0];
    const char s1 = s0 != '\0' && separators[1] != '\0' ? separators[1] : s0;
    while (hit < end && *hit != s0 && *hit != s1) ++hit;
    const size_t n = static_cast<size_t>(hit - p);
    if (!dropped && n > a.fMaxItem - out->size()) {
      DebugText("KHTTPArgs::MakeWord - item longer than ", a.fMaxItem, " bytes\n");
      fatal = true;
      return Word::kEnd;
    }
    dropped = dropped || !WordRoom(out, out->size() + n);
    if (!dropped) out->append(p, hit);
    if (hit < end) {
      Consume(static_cast<int32_t>(n) + 1);
      return dropped ? Word::kDropped : Word::kItem;
    }
    Consume(static_cast<int32_t>(n));
  }
}

bool KHTTPArgs::Parse::GetLine(std::string* line, size_t size) {
  line->clear();
  while (line->size() < size - 1) {
    FillEmptyReadBuf(1);
    if (a.fAvailable == 0) return false;
    const size_t room = size - 1 - line->size();
    const size_t n = static_cast<size_t>(a.fAvailable) < room ? a.fAvailable : room;
    const char* p = a.fCursor;
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', n));
    if (cr == nullptr) {
      line->append(p, n);
      Consume(static_cast<int32_t>(n));
      continue;
    }
    const int32_t at = static_cast<int32_t>(cr - p);
    line->append(p, cr);
    if (at + 1 < a.fAvailable) {
      if (cr[1] == '\n') {
        Consume(at + 2);
        return true;
      }
      // A bare CR is part of the line.
      line->push_back('\r');
      Consume(at + 1);
    } else if (OkToReadMore(a.fAvailable)) {
      Consume(at);  // the CR waits for the byte behind it
    } else {
      Consume(at + 1);
      return false;
    }
  }
  return false;
}

// ===== Writing uploads =====

void KHTTPArgs::Parse::WriteMore(std::FILE* file, const char* data, size_t n) {
  if (file == nullptr || a.fWriteBuf == nullptr || n == 0) return;
  if (n > static_cast<size_t>(kBufferSize)) n = kBufferSize;
  // A chunk of a quarter of the buffer or more goes out at once, behind
  // what is pending: the same bytes reach the file in the same order,
  // without the copy. The steps of the delimiter search end wherever their
  // count says, not where a refill does, so a buffer's worth of data often
  // comes as two chunks; the larger one is never copied.
  const bool direct = n >= static_cast<size_t>(kBufferSize / 4);
  if (direct || a.fPending + n > static_cast<size_t>(kBufferSize)) WriteDone(file);
  if (a.fWriteBuf == nullptr) return;  // a write failed: the rest is dropped
  if (direct) {
    WriteOut(file, data, n);
    return;
  }
  std::memcpy(a.fWriteBuf + a.fPending, data, n);
  a.fPending += static_cast<int32_t>(n);
}

void KHTTPArgs::Parse::WriteDone(std::FILE* file) {
  if (file == nullptr || a.fWriteBuf == nullptr || a.fPending == 0) return;
  WriteOut(file, a.fWriteBuf, static_cast<size_t>(a.fPending));
  a.fPending = 0;
}

void KHTTPArgs::Parse::WriteOut(std::FILE* file, const char* data, size_t n) {
  const size_t wrote = std::fwrite(data, 1, n, file);
  if (wrote != n || std::fflush(file) != 0) {
    const int e = std::ferror(file);
    DebugText("KHTTPArgs::WriteDone failed to write ", n - wrote, " bytes to tmp file. ferror = ", e,
              " ", std::strerror(errno), '\n');
    delete[] a.fWriteBuf;
    a.fWriteBuf = nullptr;
    partWriteLost = true;
    writeFailed = true;
  }
}

// ===== Multipart =====

namespace {

// Where a possible start of the delimiter, cut off by the end of the n
// bytes at p, begins (the longest one); n when there is none.
// REQUIRES: n >= L.
int32_t CutDelimiterStart(const char* p, int32_t n, const char* d, int32_t L) {
  for (int32_t s = n - L + 1; s < n; ++s) {
    const void* at = std::memchr(p + s, d[0], static_cast<size_t>(n - s));
    if (at == nullptr) break;
    s = static_cast<int32_t>(static_cast<const char*>(at) - p);
    if (std::memcmp(p + s, d, static_cast<size_t>(n - s)) == 0) return s;
  }
  return n;
}

}  // namespace

int64_t KHTTPArgs::Parse::ReadMoreUntil(const std::string& delimiter, std::FILE* file,
                                        bool* found) {
  const int32_t L = static_cast<int32_t>(delimiter.size());
  int64_t total = 0;
  while (!*found && total < kBufferSize - L && OkToReadMore(L)) {
    const int32_t got = FillEmptyReadBuf(L);
    if (a.fAvailable <= L) {
      DebugText("ReadMoreUntil: can not find until in few bytes left - ", a.fAvailable, '\n');
      if (got == 0) break;  // a stream that gives nothing yet reports no end
      continue;
    }
    // A match may start at the first `starts` places: what a step returns
    // stays below a read buffer less the delimiter.
    const int32_t starts = static_cast<int32_t>(kBufferSize - L - total);
    const int32_t n = a.fAvailable;
    const int32_t window = std::min(n, starts + L - 1);
    const char* p = a.fCursor;
    const char* hit = vxk_internal::HttpFindDelimiter(p, static_cast<size_t>(window),
                                                      delimiter.data(), static_cast<size_t>(L));
    if (hit != nullptr) {
      const int32_t at = static_cast<int32_t>(hit - p);
      WriteMore(file, p, static_cast<size_t>(at));
      Consume(at + L);
      total += at + L;
      *found = true;
      break;
    }
    const int32_t cut = window < n ? window : CutDelimiterStart(p, n, delimiter.data(), L);
    const int32_t take = cut < starts ? cut : starts;
    WriteMore(file, p, static_cast<size_t>(take));
    Consume(take);
    total += take;
  }
  if (a.fVerbose) {
    DebugText(HttpTimeTrace("KHTTPArgs::ReadMoreUntil end -- "), "returned ", total, " bytes and ",
              *found ? "found " : "did not find ", "the until string.\n");
  }
  return total;
}

bool KHTTPArgs::Parse::GotoNextPart(const std::string& delimiter, std::FILE* file) {
  if (file != nullptr && a.fWriteBuf == nullptr) {
    a.fWriteBuf = new (std::nothrow) char[kBufferSize];
    if (a.fWriteBuf == nullptr) {
      DebugText("KHTTPArgs::GotoNextPart - no write buffer\n");
      partWriteLost = true;
      writeFailed = true;
    }
  }
  a.fPending = 0;
  const int64_t start = Remaining();
  if (a.fVerbose) DebugText(HttpTimeTrace("KHTTPArgs::GotoNextPart start -- "), start, '\n');
  const int64_t L = static_cast<int64_t>(delimiter.size());
  bool found = false;
  while (!found && OkToReadMore(0) && Remaining() >= L) {
    if (ReadMoreUntil(delimiter, file, &found) == 0) {
      DebugText("GotoNextPart:: behaving poorly\n");
      break;
    }
  }
  if (found) {
    char c1 = 0;
    char c2 = 0;
    if (!GetByte(&c1) || !GetByte(&c2)) {
      found = false;
    } else if (c1 == '-' && c2 == '-') {
      found = false;
    } else if (c1 != '\r' || c2 != '\n') {
      DebugText("Darn we just ate these two chars: ", c1, c2, '\n');
    }
  }
  WriteDone(file);
  if (found && file != nullptr && partWriteLost && a.fStrict) found = false;
  if (a.fVerbose) {
    DebugText(HttpTimeTrace("KHTTPArgs::GotoNextPart end -- "), Remaining(), " part size was: ",
              start - Remaining() - L - 2, '\n');
  }
  return found;
}

std::string KHTTPArgs::Parse::MakeBoundaryString(const std::string& contentType) {
  size_t at = contentType.find("boundary");
  if (at == std::string::npos) return {};
  at = contentType.find('=', at);
  if (at == std::string::npos) return {};
  std::string value = contentType.substr(at + 1);
  size_t cut = value.find(",multipart/form-data; boundary");
  if (cut != std::string::npos) value.resize(cut);
  cut = value.find(';');
  if (cut != std::string::npos) value.resize(cut);
  value = HttpNoQuotes(value);
  if (value.empty()) return {};
  bool found = false;
  std::string agent = Lookup("HTTP_USER_AGENT", &found);
  if (agent.size() > 254) agent.resize(254);
  for (char& c : agent) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (agent.find("MSIE 3") != std::string::npos && agent.find("MAC") != std::string::npos) {
    if (a.fVerbose) {
      DebugText("MakeBoundaryString: detected Mac MSIE 3.x user agent: ", agent, '\n');
    }
    return value;
  }
  return "--" + value;
}

int KHTTPArgs::Parse::CrackMultipart(const std::string& contentType, int depth) {
  if (depth > a.fMaxDepth) {
    DebugText("CrackMultipart: multipart bodies nested deeper than ", a.fMaxDepth, '\n');
    fatal = true;
    return 1;
  }
  const std::string boundary = MakeBoundaryString(contentType);
  if (contentType.empty() || boundary.empty()) return 0;
  if (boundary.size() > kMaxBoundary) {
    DebugText("CrackMultipart: boundary longer than ", kMaxBoundary, " bytes\n");
    fatal = true;
    return 1;
  }
  if (a.fVerbose) DebugText("CrackMultipart: parse POST data with boundary = ", boundary, '\n');
  GotoNextPart(boundary, nullptr);
  while (!fatal && OkToReadMore(0) && Remaining() > 0) {
    if (!GetNextPart(boundary, depth)) break;
  }
  if (fatal) return 1;
  const int64_t left = Remaining();
  if (left <= 0) return 0;
  if (!OkToReadMore(0)) {
    if (a.fVerbose) {
      DebugText("CrackMultipart: input stream error - did not receive content length: ", left,
                '\n');
    }
  } else if (left == 2) {
    char c1 = 0;
    char c2 = 0;
    if (GetByte(&c1) && GetByte(&c2) && c1 == '\r' && c2 == '\n') return 0;
    if (a.fVerbose) DebugText("CrackMultipart: error - last two characters not EOL.\n");
  } else if (a.fVerbose) {
    DebugText("CrackMultipart: error - did not process full content length: ", left, '\n');
  }
  return a.fStrict ? 1 : 0;
}

namespace {

size_t SkipWS(const std::string& s, size_t i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return i;
}

bool SameText(const std::string& s, const char* t) {
  if (s.size() != std::strlen(t)) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) != t[i]) return false;
  }
  return true;
}

}  // namespace

bool KHTTPArgs::Parse::GetNextPart(const std::string& boundary, int depth) {
  std::string name;
  std::string fileName;
  bool hasFile = false;
  std::string contentType = "text/plain";
  std::string line;
  for (;;) {
    GetLine(&line, 1024);
    if (line.empty()) break;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    for (size_t i = 0; i < colon; ++i) {
      line[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
    }
    static const char kDisposition[] = "CONTENT-DISPOSITION: form-data; ";
    static const char kType[] = "CONTENT-TYPE: ";
    size_t at = line.find(kDisposition);
    if (at != std::string::npos) {
      size_t i = SkipWS(line, at + sizeof kDisposition - 1);
      while (i < line.size()) {
        // A ";" inside quotes belongs to the value.
        size_t end = i;
        bool quoted = false;
        while (end < line.size() && (quoted || line[end] != ';')) {
          if (line[end] == '"') quoted = !quoted;
          ++end;
        }
        const std::string pair = line.substr(i, end - i);
        const size_t eq = pair.find('=');
        const std::string key = pair.substr(0, eq);
        const std::string value =
            eq == std::string::npos ? std::string() : HttpNoQuotes(pair.substr(eq + 1));
        if (SameText(key, "name")) {
          name = value;
        } else if (SameText(key, "filename")) {
          fileName = value;
          hasFile = true;
          contentType.clear();
        } else {
          DebugText("unused form-data key: ", key, '\n');
        }
        i = SkipWS(line, end + 1);
      }
    } else if ((at = line.find(kType)) != std::string::npos) {
      contentType = HttpNoQuotes(line.substr(SkipWS(line, at + sizeof kType - 1)));
    } else if (line.find("CONTENT-LENGTH: ") == std::string::npos &&
               line.find("CONTENT-TRANSFER-ENCODING: ") == std::string::npos) {
      DebugText("GetNextPart Unused: ", line, '\n');
    }
  }
  if (contentType.find("multipart/form-data") != std::string::npos) {
    CrackMultipart(contentType, depth + 1);
    return false;
  }
  // The sink sees names up to a NUL; cut here so that the "_filelength"
  // family keeps its suffixes.
  name.resize(std::strlen(name.c_str()));
  if (name.empty()) return false;
  if (hasFile) {
    return FilePart(name, fileName, contentType, boundary);
  }
  if (contentType.find("text/") != std::string::npos) {
    // A line's CR LF joins it to the next line only when one follows and
    // the value is not empty: the CR LF before the boundary, leading empty
    // lines and a final line end without a boundary add nothing.
    std::string value;
    bool crlf = false;  // the previous line ended with CR LF
    for (;;) {
      const bool ended = GetLine(&line, 1024);
      if (memmem(line.data(), line.size(), boundary.data(), boundary.size()) != nullptr) {
        AddEntry(name, value.c_str());
        return true;
      }
      if (!ended && line.empty()) break;  // the end of the input: no line
      const size_t join = crlf && !value.empty() ? 2 : 0;
      if (line.size() + join > a.fMaxItem - value.size()) {
        DebugText("KHTTPArgs::GetNextPart - text part longer than ", a.fMaxItem, " bytes\n");
        fatal = true;
        return false;
      }
      value.append("\r\n", join).append(line);
      crlf = ended;
    }
    AddEntry(name, value.c_str());
    return false;
  }
  const bool found = GotoNextPart(boundary, nullptr);
  AddEntry(name, "");
  DebugText("bad value type ", contentType, '\n');
  return found;
}

namespace {

// The MIME type the document-conversion client detects for the data of
// the file at path (from offset on); false when it cannot tell.
bool DetectMimeType(const std::string& path, uint32_t offset, std::string* mimeType) {
  const std::string probe = path + ".probe";
  if (offset != 0 && !KHTTPArgs::WriteTypeProbe(path.c_str(), offset, probe.c_str())) return false;
  KDor dor(offset != 0 ? probe.c_str() : path.c_str(), KConfigFile::TheConfigFile()->FilePath(), 0);
  char buffer[254] = {};
  const bool known = dor.GetMimeType(buffer, sizeof buffer) == 0;
  if (offset != 0) port::RemoveFile(probe.c_str());
  if (!known) return false;
  buffer[sizeof buffer - 1] = '\0';
  *mimeType = buffer;
  return true;
}

}  // namespace

bool KHTTPArgs::Parse::FilePart(const std::string& name, const std::string& fileName,
                                const std::string& contentType, const std::string& boundary) {
  const uint32_t offset = a.fPush->partOffset;
  const std::string base = "vx" + std::to_string(port::ProcessId());
  const KString slotPath = a.UseTmpFile(base.c_str());
  KFile* slot = a.GetTmpFile(slotPath);
  // Without a free slot the argument still names the base path.
  std::string path = static_cast<const char*>(slotPath);
  std::FILE* file = nullptr;
  if (slot != nullptr) {
    path = static_cast<const char*>(slot->FullName());
    // Whatever stands at the name (a planted link) goes; "x" refuses to
    // follow one that reappears.
    port::RemoveFile(path.c_str());
    file = std::fopen(path.c_str(), "wbx");
    // Unbuffered: the parser's own write buffer gathers small pieces, and a
    // large one then goes out in one write, not a block-sized part of it
    // and a copy of the rest.
    if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
    if (file != nullptr && offset != 0 && std::fseek(file, offset, SEEK_SET) != 0) {
      std::fclose(file);
      file = nullptr;
    }
    if (file == nullptr) {
      DebugText("KHTTPArgs::GetNextPart - Could not open temporary file ", path, '\n');
    } else if (a.fVerbose) {
      DebugText(HttpTimeTrace("KHTTPArgs::GetNextPart using temporary file: "), path, '\n');
    }
  }
  partWriteLost = false;
  bool found = GotoNextPart("\r\n" + boundary, file);
  if (file != nullptr) {
    if (std::fclose(file) != 0 && !partWriteLost) {
      DebugText("KHTTPArgs::WriteDone failed to write 0 bytes to tmp file. ferror = 0 ",
                std::strerror(errno), '\n');
      partWriteLost = true;
      writeFailed = true;
      if (a.fStrict) found = false;
    }
    AddEntry(name + "_filename", fileName.c_str());
    // The size on disk, so that a failed write never reports bytes it lost.
    const int64_t size = static_cast<int64_t>(slot->Size()) - offset;
    AddEntry(name + "_filelength", std::to_string(size > 0 ? size : 0).c_str());
  } else {
    // An upload that cannot be stored fails a strict parse.
    writeFailed = true;
    found = false;
  }
  AddEntry(name + "_content_type", contentType.c_str());
  if (!path.empty() && KConfigFile::TheConfigFile() != nullptr) {
    std::string mimeType;
    if (DetectMimeType(path, offset, &mimeType)) {
      AddEntry(name + "_dcstype", mimeType.c_str());
    } else {
      AddEntry(name + "_dorMimeTypeStatus", "failure");
    }
  }
  AddEntry(name, path.c_str());
  return found;
}
