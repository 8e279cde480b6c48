/// \file
/// KSysLog_EntryBase and KSysLog_Entry: one entry read back from the system
/// log.
#ifndef VXKERNEL_LOG_KSYSLOG_ENTRY_H_
#define VXKERNEL_LOG_KSYSLOG_ENTRY_H_

#include <vector>

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// What a reader gets for one entry: its number, time stamp and sender, and
/// its message as data lines. The first data line is the rest of the header
/// line; every line keeps its line end, so joining the lines gives the
/// message as written (plus the line end the next entry's separator added).
/// The log fills an entry only through NewData, so a reader's own list may
/// hand out its own subclass.
///
/// Not synchronized: one thread at a time per object.
class VXKERNEL_EXPORT KSysLog_EntryBase {
 public:
  virtual ~KSysLog_EntryBase();
  /// The entry's number: from 0, one more per entry written (or lost).
  virtual long SequenceNumber() const = 0;
  /// When it was written: "MM/DD/YYYY HH:MM:SS", local time.
  virtual KString TimeStamp() const = 0;
  /// The sender as written (tabs and line ends turned into blanks).
  virtual KString Sender() const = 0;
  /// The number of data lines.
  virtual long Size() const = 0;
  /// The i-th data line.
  /// REQUIRES: 0 <= i < Size().
  virtual KString operator[](long i) const = 0;

 private:
  friend class KSysLog;
  /// Appends one data line (line bytes up to the terminating zero).
  virtual void NewData(const char* data) = 0;
};

/// The library's entry: owns its texts. Copyable.
class VXKERNEL_EXPORT KSysLog_Entry : public KSysLog_EntryBase {
 public:
  /// An entry without data lines; copies both texts.
  KSysLog_Entry(long sequence, const char* timeStamp, const char* sender);
  ~KSysLog_Entry() override;

  long SequenceNumber() const override { return fSequence; }
  KString TimeStamp() const override { return fTimeStamp; }
  KString Sender() const override { return fSender; }
  long Size() const override { return static_cast<long>(fData.size()); }
  KString operator[](long i) const override { return fData[static_cast<size_t>(i)]; }

 private:
  void NewData(const char* data) override;

  long fSequence;
  KString fTimeStamp;
  KString fSender;
  std::vector<KString> fData;
};

#endif  // VXKERNEL_LOG_KSYSLOG_ENTRY_H_
