#include <algorithm>
#include <charconv>
#include <cstring>

#include "log/syslog_reader_internal.h"

namespace {

// Read ahead in large steps: a line is at most kBufferSize - 1 bytes, so
// one chunk always holds a whole line or a whole piece.
constexpr size_t kChunkSize = 65536;
static_assert(kChunkSize >= static_cast<size_t>(KSysLog::kBufferSize));

}  // namespace

KSysLogReader::KSysLogReader(std::FILE* file, long end, long endEntry)
    : fFile(file),
      fEnd(end),
      fEndEntry(endEntry),
      fChunk(new char[kChunkSize]),
      fLine(new char[static_cast<size_t>(KSysLog::kBufferSize)]) {
  fLine[0] = '\0';
  SeekTo(0);
}

void KSysLogReader::SeekTo(long offset) {
  offset = std::clamp(offset, 0L, fEnd);
  // A line starts at offset only after a line end, so the byte before is
  // read too: a wrong offset in a caller's iterator must not make the
  // middle of a line a header.
  const long before = std::max(0L, offset - 1);
  fOffset = before;
  fBegin = fLimit = 0;
  fNextStartsLine = true;
  if (std::fseek(fFile, before, SEEK_SET) != 0) {
    fEnd = before;  // read nothing more
  } else if (offset > 0 && Fill()) {
    fNextStartsLine = fChunk[0] == '\n';
    fBegin = 1;
    fOffset = offset;
  }
}

bool KSysLogReader::Fill() {
  const size_t kept = fLimit - fBegin;
  if (fBegin != 0) std::memmove(fChunk.get(), fChunk.get() + fBegin, kept);
  fBegin = 0;
  fLimit = kept;
  const long fileAt = fOffset + static_cast<long>(kept);
  if (fileAt >= fEnd) return false;
  const size_t want = std::min(kChunkSize - kept, static_cast<size_t>(fEnd - fileAt));
  const size_t got = std::fread(fChunk.get() + kept, 1, want, fFile);
  fLimit += got;
  if (got == 0) fEnd = fileAt;  // the file is shorter than the log thought
  return got != 0;
}

bool KSysLogReader::Next() {
  const size_t maxLine = static_cast<size_t>(KSysLog::kBufferSize) - 1;
  size_t len = 0;
  for (;;) {
    const size_t avail = fLimit - fBegin;
    const char* start = fChunk.get() + fBegin;
    const void* nl = std::memchr(start, '\n', std::min(avail, maxLine));
    if (nl != nullptr) {
      len = static_cast<size_t>(static_cast<const char*>(nl) - start) + 1;
      break;
    }
    if (avail >= maxLine) {
      len = maxLine;
      break;
    }
    if (!Fill()) {
      if (avail == 0) return false;
      len = avail;
      break;
    }
  }
  std::memcpy(fLine.get(), fChunk.get() + fBegin, len);
  fLine[len] = '\0';
  fLineOffset = fOffset;
  fLineStart = fNextStartsLine;
  fNextStartsLine = fLine[len - 1] == '\n';
  fBegin += len;
  fOffset += static_cast<long>(len);
  return true;
}

bool KSysLogReader::IsValidHeader(const char* line) {
  // The marker is ASCII and sits at the line start, where no multi-byte
  // character can have begun, so a byte comparison is the exact one.
  return line != nullptr && std::strncmp(line, KSysLog::kHeader, KSysLog::kHeaderLen) == 0;
}

bool KSysLogReader::StartsLikeHeader(const char* text) {
  while (*text == ' ') ++text;
  return IsValidHeader(text);
}

bool KSysLogReader::SplitHeader(const char* line, long* sequence, char* tabs[3]) {
  if (!IsValidHeader(line)) return false;
  const char* digits = line + KSysLog::kHeaderLen;
  const char* at = digits;
  for (int i = 0; i < 3; ++i) {
    at = std::strchr(at, '\t');
    if (at == nullptr) return false;
    tabs[i] = const_cast<char*>(at++);
  }
  // Nothing but digits up to the first tab: the writer puts nothing else
  // there, and a damaged line must not pass for entry 0.
  const auto parsed = std::from_chars(digits, tabs[0], *sequence);
  return digits != tabs[0] && *digits != '-' && parsed.ec == std::errc() && parsed.ptr == tabs[0];
}

bool KSysLogReader::GetHeaderInfo(char* line, long* sequence, char** timeStamp, char** sender,
                                  char** message) {
  long number = 0;
  char* tabs[3];
  if (!SplitHeader(line, &number, tabs)) return false;
  if (sequence != nullptr) *sequence = number;
  *tabs[1] = '\0';
  // The sender ends before " }"; a header too short for it has none.
  char* senderEnd = std::max(tabs[1] + 1, tabs[2] - 2);
  *senderEnd = '\0';
  if (timeStamp != nullptr) *timeStamp = tabs[0] + 1;
  if (sender != nullptr) *sender = tabs[1] + 1;
  if (message != nullptr) *message = tabs[2] + 1;
  return true;
}

long KSysLogReader::UsableHeader(long last) {
  long sequence = -1;
  char* tabs[3];
  if (!AtLineStart() || !SplitHeader(Line(), &sequence, tabs)) return -1;
  return sequence > last && sequence < fEndEntry ? sequence : -1;
}

KSysLogReader::Scan KSysLogReader::ScanFor(KSysLog_Iterator& it, long from) {
  SeekTo(from);
  // Numbers grow in file order, so once a header numbered below the entry
  // was seen, the first one at or above it is the entry or what follows
  // its gap. Without one, from a later offset, the entry may lie before.
  bool seenEarlier = Offset() == 0;
  long last = -1;
  while (Next()) {
    const long sequence = UsableHeader(last);
    if (sequence < 0) continue;
    last = sequence;
    if (sequence < it.Entry()) {
      seenEarlier = true;
      continue;
    }
    if (sequence != it.Entry() && !seenEarlier) return Scan::kMayLieBefore;
    it = KSysLog_Iterator(LineOffset(), it.Entry());
    SeekTo(it.Seek());
    return Scan::kFound;
  }
  return seenEarlier ? Scan::kAbsent : Scan::kMayLieBefore;
}

bool KSysLogReader::SeekToIterator(KSysLog_Iterator& it) {
  Scan scan = ScanFor(it, it.Seek());
  if (scan == Scan::kMayLieBefore && it.Seek() > 0) scan = ScanFor(it, 0);
  return scan == Scan::kFound;
}

long KSysLogReader::ReadEntries(KSysLog_EntryListBase& list, long max, KSysLog_Iterator* next) {
  long count = 0;
  long last = next->Entry() - 1;
  bool inEntry = false;  // false: before the first entry, or in lines skipped with their header
  while (Next()) {
    if (AtLineStart() && IsValidHeader(Line())) {
      // Every marker line ends the entry before it; one this reader cannot
      // use (torn by a failed write, numbered out of order) is skipped with
      // the lines that follow it.
      inEntry = false;
      if (count == max) break;
      const long sequence = UsableHeader(last);
      if (sequence < 0) continue;
      char* timeStamp = nullptr;
      char* sender = nullptr;
      char* message = nullptr;
      GetHeaderInfo(Line(), nullptr, &timeStamp, &sender, &message);
      KSysLog::ListNewEntry(list, sequence, timeStamp, sender);
      KSysLog::ListNewData(list, message);
      last = sequence;
      *next = KSysLog_Iterator(LineOffset(), sequence + 1);
      inEntry = true;
      ++count;
    } else if (inEntry) {
      const char* data = Line();
      if (AtLineStart() && *data == ' ' && StartsLikeHeader(data)) ++data;  // the writer's escape
      KSysLog::ListNewData(list, data);
    }
  }
  return count;
}
