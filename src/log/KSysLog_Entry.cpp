#include "vxkernel/log/KSysLog_Entry.h"

#include "vxkernel/log/KSysLog_AsychBufferRoutine.h"
#include "vxkernel/log/KSysLog_EntryList.h"

KSysLog_EntryBase::~KSysLog_EntryBase() = default;

KSysLog_Entry::KSysLog_Entry(long sequence, const char* timeStamp, const char* sender)
    : fSequence(sequence), fTimeStamp(timeStamp), fSender(sender) {}

KSysLog_Entry::~KSysLog_Entry() = default;

void KSysLog_Entry::NewData(const char* data) { fData.emplace_back(data); }

KSysLog_EntryListBase::~KSysLog_EntryListBase() = default;

KSysLog_EntryList::KSysLog_EntryList() = default;

KSysLog_EntryList::~KSysLog_EntryList() = default;

void KSysLog_EntryList::Erase() { fEntries.clear(); }

void KSysLog_EntryList::NewEntry(long sequence, const char* timeStamp, const char* sender) {
  fEntries.emplace_back(sequence, timeStamp, sender);
}

KSysLog_AsychBufferRoutine::~KSysLog_AsychBufferRoutine() = default;
