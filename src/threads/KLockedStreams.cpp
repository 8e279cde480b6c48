#include "vxkernel/threads/KLockedStreams.h"

#include <iostream>

KLock KLockedCout::fMonitor(KLock::kCriticalSection);
KLock KLockedCerr::fMonitor(KLock::kCriticalSection);
KLock KLockedWCout::fMonitor(KLock::kCriticalSection);
KLock KLockedWCerr::fMonitor(KLock::kCriticalSection);

std::ostream& KLockedCout::Out() { return std::cout; }
std::ostream& KLockedCerr::Out() { return std::cerr; }
std::wostream& KLockedWCout::Out() { return std::wcout; }
std::wostream& KLockedWCerr::Out() { return std::wcerr; }
