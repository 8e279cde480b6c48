# The system log.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/log/KSysLog.h
  include/vxkernel/log/KSysLog_AsychBufferRoutine.h
  include/vxkernel/log/KSysLog_Entry.h
  include/vxkernel/log/KSysLog_EntryList.h
  include/vxkernel/log/KSysLog_Iterator.h
)
list(APPEND VXKERNEL_SOURCES
  src/log/KSysLog.cpp
  src/log/KSysLog_Entry.cpp
  src/log/syslog_reader.cpp
)
