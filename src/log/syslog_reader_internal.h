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
  KSysLogReader(std::FILE* file, long end);

  // Moves to offset (clamped to the end).
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
  // Splits a header line in place; any output may be null. False (outputs
  // unchanged) when the line is no header or has fewer than three tabs.
  static bool GetHeaderInfo(char* line, long* sequence, char** timeStamp, char** sender,
                            char** message);

  // Finds the header of it's entry from it's offset (then from the start)
  // and positions there; false when the file does not hold the entry.
  bool SeekToIterator(KSysLog_Iterator& it);
  // Appends up to max whole entries from the current position to list and
  // positions at the last one's header; returns how many.
  long ReadEntries(KSysLog_EntryListBase& list, long max);

 private:
  bool ScanFor(KSysLog_Iterator& it, long from, bool* sawHeader);
  bool Fill();

  std::FILE* fFile;
  long fEnd;
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
