/// \file
/// KSysLog_Iterator: a reading position in the system log.
#ifndef VXKERNEL_LOG_KSYSLOG_ITERATOR_H_
#define VXKERNEL_LOG_KSYSLOG_ITERATOR_H_

#include "vxkernel/export.h"

/// A position for reading the system log: the number of the next entry to
/// read and a file offset at or before that entry's header, where the search
/// for it starts. Arithmetic moves the entry number only and comparison looks
/// at it only: the offset is a hint, and a stale one costs a longer search,
/// never a wrong entry.
///
/// A plain value. Not synchronized: one thread at a time per object.
class VXKERNEL_EXPORT KSysLog_Iterator {
 public:
  KSysLog_Iterator() = default;
  /// Entry number entry, searched for from byte offset seek (0: the start).
  KSysLog_Iterator(long seek, long entry) : fSeek(seek), fEntry(entry) {}

  /// The byte offset where the search for Entry() starts.
  long Seek() const { return fSeek; }
  /// The number of the entry this position names.
  long Entry() const { return fEntry; }

  /// Move the entry number by n (or 1), keeping the offset hint. The
  /// number is not checked: a position past the end or below 0 is refused
  /// by the reads.
  ///@{
  KSysLog_Iterator& operator+=(long n) {
    fEntry += n;
    return *this;
  }
  KSysLog_Iterator& operator-=(long n) {
    fEntry -= n;
    return *this;
  }
  KSysLog_Iterator& operator++() { return *this += 1; }
  KSysLog_Iterator& operator--() { return *this -= 1; }
  KSysLog_Iterator operator++(int) {
    KSysLog_Iterator old = *this;
    ++*this;
    return old;
  }
  KSysLog_Iterator operator--(int) {
    KSysLog_Iterator old = *this;
    --*this;
    return old;
  }
  KSysLog_Iterator operator+(long n) const { return KSysLog_Iterator(fSeek, fEntry + n); }
  KSysLog_Iterator operator-(long n) const { return KSysLog_Iterator(fSeek, fEntry - n); }
  ///@}
  /// Compare the entry numbers only.
  ///@{
  bool operator==(const KSysLog_Iterator& o) const { return fEntry == o.fEntry; }
  bool operator!=(const KSysLog_Iterator& o) const { return fEntry != o.fEntry; }
  ///@}

 private:
  long fSeek = 0;
  long fEntry = 0;
};

#endif  // VXKERNEL_LOG_KSYSLOG_ITERATOR_H_
