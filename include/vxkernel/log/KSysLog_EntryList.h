/// \file
/// KSysLog_EntryListBase and KSysLog_EntryList: where a read of the system
/// log puts its entries.
#ifndef VXKERNEL_LOG_KSYSLOG_ENTRYLIST_H_
#define VXKERNEL_LOG_KSYSLOG_ENTRYLIST_H_

#include <vector>

#include "vxkernel/export.h"
#include "vxkernel/log/KSysLog_Entry.h"

/// The list a reader passes to KSysLog::Read and its relatives. The log only
/// appends, through NewEntry and then BackEntry().NewData, and only whole
/// entries, so a reader may keep one list across reads or supply a subclass
/// that stores entries its own way.
///
/// Not synchronized: one thread at a time per object.
class VXKERNEL_EXPORT KSysLog_EntryListBase {
 public:
  virtual ~KSysLog_EntryListBase();
  /// The number of entries in the list.
  virtual long Size() const = 0;
  /// The i-th entry.
  /// REQUIRES: 0 <= i < Size().
  virtual const KSysLog_EntryBase& operator[](long i) const = 0;

 private:
  friend class KSysLog;
  /// Appends an entry without data lines.
  virtual void NewEntry(long sequence, const char* timeStamp, const char* sender) = 0;
  /// The entry appended last.
  /// REQUIRES: Size() > 0.
  virtual KSysLog_EntryBase& BackEntry() = 0;
};

/// The library's list: owns its entries.
class VXKERNEL_EXPORT KSysLog_EntryList : public KSysLog_EntryListBase {
 public:
  KSysLog_EntryList();
  ~KSysLog_EntryList() override;

  long Size() const override { return static_cast<long>(fEntries.size()); }
  const KSysLog_EntryBase& operator[](long i) const override {
    return fEntries[static_cast<size_t>(i)];
  }
  /// Removes every entry.
  virtual void Erase();

 private:
  void NewEntry(long sequence, const char* timeStamp, const char* sender) override;
  KSysLog_EntryBase& BackEntry() override { return fEntries.back(); }

  std::vector<KSysLog_Entry> fEntries;
};

#endif  // VXKERNEL_LOG_KSYSLOG_ENTRYLIST_H_
