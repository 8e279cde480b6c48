// Reading the system log file: lines, headers, the search for an entry and
// the collection of entries.
#ifndef VXKERNEL_LOG_SYSLOG_READER_INTERNAL_H_
#define VXKERNEL_LOG_SYSLOG_READER_INTERNAL_H_

#include <cstdio>
#include <memory>

#include "vxkernel/log/KSysLog.h"

// Reads the log file from one offset up to a fixed end, line by line, as
// a text-mode reader with a kBufferSize-byte line buffer would: a line is
// at most kBufferSize - 1 bytes with its line end, a longer one arrives in
// pieces. The end is the log's end position when the read began, so a
// reader never sees an entry that is still being written.
//
// Owns its buffers, not the stream. One thread.
class KSysLogReader {
 public:
  // end and endEntry: the log's End() when the read began.
  KSysLogReader(std::FILE* file, long end, long endEntry);

  // Moves to offset (clamped to the end). The line there counts as a line
  // start only at offset 0 or after a line end.
  void SeekTo(long offset);
  // The offset of the next line.
  long Offset() const { return fOffset; }
  // Reads the next line into Line() (NUL-terminated, bytes after an
  // embedded NUL unseen by the header split). False at the end.
  bool Next();
  char* Line() { return fLine.get(); }
  // Whether the current line starts a line of the file (not a later piece
  // of a long line); only such a line can be a header.
  bool AtLineStart() const { return fLineStart; }
  long LineOffset() const { return fLineOffset; }

  static bool IsValidHeader(const char* line);
  // Whether text begins with blanks (none or more) and then the marker: a
  // message line the writer escapes with one blank more in front, which a
  // reader takes off again.
  static bool StartsLikeHeader(const char* text);
  // Splits a header line in place; any output may be null. False (outputs
  // and line unchanged) when the line is no header: no marker, no decimal
  // number right after it, or fewer than three tabs.
  static bool GetHeaderInfo(char* line, long* sequence, char** timeStamp, char** sender,
                            char** message);

  // Finds the first usable header numbered it.Entry() or later (numbers
  // lost to failed writes leave gaps), searching from it's offset and then,
  // if the entry may lie before it, from the start; positions there and
  // sets it's offset. False when the file holds no such header.
  bool SeekToIterator(KSysLog_Iterator& it);
  // Appends up to max whole entries from the current position to list,
  // numbered from next->Entry() on, skipping headers it cannot use with
  // their lines. Returns how many; when some, *next becomes the position
  // after the last: its header's offset and its number plus 1.
  long ReadEntries(KSysLog_EntryListBase& list, long max, KSysLog_Iterator* next);

 private:
  enum class Scan { kFound, kAbsent, kMayLieBefore };
  // GetHeaderInfo's checks, without changing the line: the number and the
  // three tabs.
  static bool SplitHeader(const char* line, long* sequence, char* tabs[3]);
  Scan ScanFor(KSysLog_Iterator& it, long from);
  // The current line's number when it is a header this log can have
  // written after number last: at a line start, numbered above last and
  // below the end's entry number. Otherwise -1.
  long UsableHeader(long last);
  bool Fill();

  std::FILE* fFile;
  long fEnd;
  const long fEndEntry;
  long fOffset = 0;      // file offset of fChunk[fBegin]
  long fLineOffset = 0;  // file offset of the current line
  bool fLineStart = true;
  bool fNextStartsLine = true;
  std::unique_ptr<char[]> fChunk;  // bytes read ahead: [fBegin, fLimit)
  size_t fBegin = 0;
  size_t fLimit = 0;
  std::unique_ptr<char[]> fLine;   // kBufferSize bytes
};

#endif  // VXKERNEL_LOG_SYSLOG_READER_INTERNAL_H_
