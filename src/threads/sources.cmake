list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/threads/KCondition.h
  include/vxkernel/threads/KLock.h
  include/vxkernel/threads/KLockGuard.h
  include/vxkernel/threads/KLockedStreams.h
  include/vxkernel/threads/KMutex.h
  include/vxkernel/threads/KPthread.h
  include/vxkernel/threads/KPthreadSpecific.h
  include/vxkernel/threads/KRWLock.h
  include/vxkernel/threads/KSharedFile.h
  include/vxkernel/threads/KSleep.h
  include/vxkernel/threads/KTimestamp.h
  include/vxkernel/threads/thread_annotations.h
)
list(APPEND VXKERNEL_SOURCES
  src/threads/KCondition.cpp
  src/threads/KLock.cpp
  src/threads/KLockedStreams.cpp
  src/threads/KMutex.cpp
  src/threads/KPthread.cpp
  src/threads/KPthreadSpecific.cpp
  src/threads/KRWLock.cpp
  src/threads/KSharedFile.cpp
  src/threads/KSleep.cpp
  src/threads/KTimestamp.cpp
)
