#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "log/syslog_reader_internal.h"

namespace {

// Read ahead in large steps: a line is at most kBufferSize - 1 bytes, so
// one chunk always holds a whole line or a whole piece.
constexpr size_t kChunkSize = 65536;
static_assert(kChunkSize >= static_cast<size_t>(KSysLog::kBufferSize));

}  // namespace

KSysLogReader::KSysLogReader(std::FILE* file, long end)
    : fFile(file),
      fEnd(end),
      fChunk(new char[kChunkSize]),
      fLine(new char[static_cast<size_t>(KSysLog::kBufferSize)]) {
  fLine[0] = '\0';
  SeekTo(0);
}

void KSysLogReader::SeekTo(long offset) {
  offset = std::clamp(offset, 0L, fEnd);
  fOffset = offset;
  fBegin = fLimit = 0;
  fNextStartsLine = true;  // callers seek to line starts only
  if (std::fseek(fFile, offset, SEEK_SET) != 0) fEnd = offset;  // read nothing more
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

bool KSysLogReader::GetHeaderInfo(char* line, long* sequence, char** timeStamp, char** sender,
                                  char** message) {
  if (!IsValidHeader(line)) return false;
  char* tab1 = std::strchr(line, '\t');
  char* tab2 = tab1 != nullptr ? std::strchr(tab1 + 1, '\t') : nullptr;
  char* tab3 = tab2 != nullptr ? std::strchr(tab2 + 1, '\t') : nullptr;
  if (tab3 == nullptr) return false;
  if (sequence != nullptr) *sequence = std::strtol(line + KSysLog::kHeaderLen, nullptr, 10);
  *tab2 = '\0';
  // The sender ends before " }"; a header too short for it has none.
  char* senderEnd = std::max(tab2 + 1, tab3 - 2);
  *senderEnd = '\0';
  if (timeStamp != nullptr) *timeStamp = tab1 + 1;
  if (sender != nullptr) *sender = tab2 + 1;
  if (message != nullptr) *message = tab3 + 1;
  return true;
}

bool KSysLogReader::ScanFor(KSysLog_Iterator& it, long from, bool* sawHeader) {
  SeekTo(from);
  while (Next()) {
    long sequence = 0;
    if (!AtLineStart() || !GetHeaderInfo(Line(), &sequence, nullptr, nullptr, nullptr)) continue;
    *sawHeader = true;
    if (sequence == it.Entry()) {
      it = KSysLog_Iterator(LineOffset(), it.Entry());
      SeekTo(it.Seek());
      return true;
    }
  }
  return false;
}

bool KSysLogReader::SeekToIterator(KSysLog_Iterator& it) {
  bool sawHeader = false;
  if (ScanFor(it, it.Seek(), &sawHeader)) return true;
  // A stale or wrong offset: the entry may lie before it.
  if (it.Seek() != 0) {
    sawHeader = false;
    if (ScanFor(it, 0, &sawHeader)) return true;
  }
  // An empty log read from its beginning.
  if (!sawHeader && it.Entry() == 0) {
    SeekTo(0);
    return true;
  }
  return false;
}

long KSysLogReader::ReadEntries(KSysLog_EntryListBase& list, long max) {
  long count = 0;
  long lastHeader = -1;
  bool have = Next();
  while (have && count < max) {
    long sequence = 0;
    char* timeStamp = nullptr;
    char* sender = nullptr;
    char* message = nullptr;
    // A marker line that does not split ends the read: what follows it
    // cannot be told apart from a damaged entry.
    if (!AtLineStart() || !GetHeaderInfo(Line(), &sequence, &timeStamp, &sender, &message)) break;
    lastHeader = LineOffset();
    KSysLog::ListNewEntry(list, sequence, timeStamp, sender);
    KSysLog::ListNewData(list, message);
    while ((have = Next()) && !(AtLineStart() && IsValidHeader(Line()))) {
      KSysLog::ListNewData(list, Line());
    }
    ++count;
  }
  if (count > 0) SeekTo(lastHeader);
  return count;
}
