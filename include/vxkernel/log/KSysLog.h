/// \file
/// KSysLog: the process's system log, an append-only text file that readers
/// follow like a tail.
#ifndef VXKERNEL_LOG_KSYSLOG_H_
#define VXKERNEL_LOG_KSYSLOG_H_

#include <atomic>
#include <cstdio>
#include <string>

#include "vxkernel/export.h"
#include "vxkernel/log/KSysLog_AsychBufferRoutine.h"
#include "vxkernel/log/KSysLog_Entry.h"
#include "vxkernel/log/KSysLog_EntryList.h"
#include "vxkernel/log/KSysLog_Iterator.h"
#include "vxkernel/threads/KCondition.h"
#include "vxkernel/threads/KMutex.h"

class KTimestamp;

/// The one system log of the process (TheSysLog()). Writers append entries
/// numbered from 0 in file order, each flushed to the file before Append
/// returns; readers ask for up to N entries from an iterator and, when
/// nothing new is there, sleep until a writer appends. The file is held
/// with an advisory lock: other processes may read it but not create a log
/// on it. The file format is described in docs/formats/syslog.md.
///
/// The log owns its file and its asynchronous buffer routine. Thread rule:
/// every operation may be called from any thread; one mutex orders writers,
/// and readers take it only to read End() and to wait.
class VXKERNEL_EXPORT KSysLog {
 public:
  /// The marker that begins every header line, and its length.
  ///@{
  static const char* const kHeader;  ///< "^{ "
  static const long kHeaderLen;
  ///@}
  /// The line end the log writes, and its length.
  ///@{
  static const char* const kNewline;  ///< "\n"
  static const long kNewlineLen;
  ///@}
  /// Buffer sizes suggested to asynchronous buffer routines.
  ///@{
  static constexpr long kMinBufferSize = 4096;
  static constexpr long kMaxBufferSize = 1048576;
  ///@}
  /// Lines longer than kBufferSize - 1 bytes are read back in pieces.
  static constexpr long kBufferSize = 16384;

  ~KSysLog();
  KSysLog(const KSysLog&) = delete;
  KSysLog& operator=(const KSysLog&) = delete;

  /// The process's log, which exists from start-up; it writes nothing
  /// until Create.
  static KSysLog& TheSysLog();

  /// Creates the log file at path (truncating it) and keeps routine (may be
  /// null) whatever happens. True on success; false when the log was created
  /// before (nothing changes) or when the file cannot be opened, which
  /// includes a file whose log another process holds: that file is left
  /// untouched, the log stays not created and a later Create may try
  /// another path.
  unsigned char Create(const char* path, KSysLog_AsychBufferRoutine* routine);
  /// Closes the file for good and wakes every waiting reader. False when
  /// not created or shut down already.
  unsigned char Shutdown();
  /// 1 once Create has succeeded, also after Shutdown.
  unsigned char IsValid() { return IsCreated(); }

  /// Appends one entry: through the routine when there is one, else written
  /// and flushed at once. Tabs and line ends of the sender are written as
  /// blanks, and message lines that would read as headers are escaped
  /// (docs/formats/syslog.md). When owned is true the log takes over both texts
  /// (from array new) in every case, refusals included. False when the log
  /// is not open or the write failed.
  unsigned char Append(const char* sender, const char* message, unsigned char owned);
  /// Writes one entry now, waking waiting readers when notify is true.
  /// False when the log is not open or the write failed (the entry's number
  /// is used up all the same).
  unsigned char _Append_atomic(const char* sender, const char* message, unsigned char notify);

  /// The position of entry 0, and the position just after the last entry.
  ///@{
  KSysLog_Iterator Begin() { return KSysLog_Iterator(0, 0); }
  KSysLog_Iterator End();
  ///@}

  /// Append up to max entries from from to list and return the position
  /// after the last one appended (numbers lost to failed writes are passed
  /// over). When from is at the end, Read waits without limit and
  /// ReadWithTimeout at most timeoutMs milliseconds (a timeout of 4294967295
  /// or more waits without limit) for a writer or for Shutdown. Returns from
  /// unchanged when nothing was read because the log is not open, max is
  /// not positive, the time ran out, or from is negative or beyond the end;
  /// returns the end when the file holds nothing readable from from on (a
  /// follower moves on rather than asking again).
  ///@{
  KSysLog_Iterator Read(KSysLog_EntryListBase& list, KSysLog_Iterator from, long max);
  KSysLog_Iterator ReadWithTimeout(KSysLog_EntryListBase& list, KSysLog_Iterator from, long max,
                                   unsigned long timeoutMs);
  ///@}
  /// The first max entries, and the last max entries; neither waits.
  ///@{
  KSysLog_Iterator Head(KSysLog_EntryListBase& list, long max);
  KSysLog_Iterator Tail(KSysLog_EntryListBase& list, long max);
  ///@}

 private:
  friend class KSysLogInternal;  ///< src/log/KSysLog_internal.h: private logs and their state
  friend class KSysLogReader;    ///< src/log: fills lists through the two below

  /// The list operations a reader may use.
  static void ListNewEntry(KSysLog_EntryListBase& list, long sequence, const char* timeStamp,
                           const char* sender) {
    list.NewEntry(sequence, timeStamp, sender);
  }
  static void ListNewData(KSysLog_EntryListBase& list, const char* data) {
    list.BackEntry().NewData(data);
  }

  KSysLog();

  bool IsCreated();
  bool IsShutdown();
  /// The shared body of Read and ReadWithTimeout; deadline null waits
  /// without limit.
  /// wait false: never waits.
  KSysLog_Iterator ReadUntil(KSysLog_EntryListBase& list, KSysLog_Iterator from, long max,
                             const KTimestamp* deadline, bool wait);
  /// ReadUntil after it noted end (End() then): writers may have appended
  /// since.
  KSysLog_Iterator ReadFromEnd(KSysLog_EntryListBase& list, KSysLog_Iterator from, long max,
                               KSysLog_Iterator end, const KTimestamp* deadline, bool wait);
  /// Waits until the next sequence number is no longer seen (the one the
  /// reader noted) or the log shuts down; true when it differs. deadline
  /// null waits without limit.
  bool WaitForUpdate(long seen, const KTimestamp* deadline);

  static KSysLog gTheSysLog;

  /// Set once, read without the mutex (then again under it).
  std::atomic<bool> fCreated{false};
  std::atomic<bool> fShutdown{false};
  /// Written by Create under fMutex before it publishes fCreated; read
  /// without the mutex once IsCreated().
  std::string fPath;
  KSysLog_AsychBufferRoutine* fRoutine = nullptr;  ///< owned
  /// The last message did not end with a line end.
  bool fNeedsSeparator VXK_GUARDED_BY(fMutex) = true;
  std::FILE* fFile VXK_GUARDED_BY(fMutex) = nullptr;  ///< the write stream; null when not open
  int fDescriptor VXK_GUARDED_BY(fMutex) = -1;        ///< fFile's descriptor, written directly
  long fEnd VXK_GUARDED_BY(fMutex) = 0;               ///< offset just after the last entry
  long fNextSequence VXK_GUARDED_BY(fMutex) = 0;
  std::string fEntryText VXK_GUARDED_BY(fMutex);  ///< the entry being written; kept for its capacity
  long fWaiters VXK_GUARDED_BY(fMutex) = 0;       ///< readers waiting on fCondition

  KMutex fMutex;
  KCondition fCondition;
};

#endif  // VXKERNEL_LOG_KSYSLOG_H_
