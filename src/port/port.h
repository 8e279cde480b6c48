// The platform layer.
//
// Everything the library needs from the operating system is declared here and
// implemented in src/port/linux/. No other file of the library includes a
// POSIX or Linux system header; the rest of the code reads as portable C++.
// Handles cross this boundary as opaque pointers or integers.
#ifndef VXKERNEL_PORT_PORT_H_
#define VXKERNEL_PORT_PORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace port {

// ===== Thread-local keys =====

// An invalid key; real keys are never equal to it.
constexpr uintptr_t kInvalidTlsKey = ~uintptr_t{0};

// Allocates a thread-local key whose value starts as null on every thread.
// On success stores it in *key and returns true; on failure returns false.
bool TlsAlloc(uintptr_t* key);
// Frees a key made by TlsAlloc.
void TlsFree(uintptr_t key);
// The calling thread's value for key (null when never set).
void* TlsGet(uintptr_t key);
// Stores the calling thread's value for key; returns false on failure.
bool TlsSet(uintptr_t key, void* value);

// ===== Waits =====

// A wait limit in milliseconds with all bits set waits without limit.
constexpr unsigned long kWaitForever = 0xFFFFFFFFUL;

enum class WaitResult { kOk, kTimeout, kFailed };

// ===== Mutexes =====
// Recursive mutexes: the owner may lock again and must unlock as often.
// They stand in for both the critical sections and the mutex objects of the
// library's interface.

struct Mutex;

// A new unlocked recursive mutex, or null when the system refuses one.
Mutex* MutexCreate();
// REQUIRES: m unlocked. Null is ignored.
void MutexDestroy(Mutex* m);
// Waits without limit; false only when the system reports an error.
bool MutexLock(Mutex* m);
// Takes m when it is free or already owned by the caller; false otherwise.
bool MutexTryLock(Mutex* m);
// Releases one level; false when the caller does not own m.
bool MutexUnlock(Mutex* m);

// ===== Condition variables =====
// Deadlines run on the monotonic clock, so setting the wall clock neither
// shortens nor lengthens a wait.

struct Cond;

// A new condition variable, or null when the system refuses one.
Cond* CondCreate();
void CondDestroy(Cond* c);
// Releases m (held exactly once by the caller), waits for a signal or ms
// milliseconds (kWaitForever: no limit), and takes m again before returning.
// kOk may also be a spurious wake-up.
WaitResult CondWait(Cond* c, Mutex* m, unsigned long ms);
// Wakes one / all threads waiting at this moment; nobody when none wait.
void CondSignal(Cond* c);
void CondBroadcast(Cond* c);

// ===== Semaphores =====
// Counting semaphores built on a mutex and a condition variable.

struct Semaphore;

// A semaphore holding initial counts (at most max), or null.
Semaphore* SemaphoreCreate(long initial, long max);
void SemaphoreDestroy(Semaphore* s);
// Adds count; stores the count before the release in *previous when given.
// Returns false and changes nothing when the maximum would be exceeded.
bool SemaphoreRelease(Semaphore* s, long count, long* previous);
// Takes one count, waiting up to ms milliseconds (kWaitForever: no limit;
// 0: do not wait).
WaitResult SemaphoreWait(Semaphore* s, unsigned long ms);

// ===== Threads =====

// Starts start(argument) on a new thread with the default stack size. Its
// return value becomes the thread's exit code. On success stores the handle
// and the 32-bit kernel thread id (known before this returns) and returns
// true; on failure returns false.
bool ThreadCreate(unsigned (*start)(void*), void* argument, uintptr_t* handle, uint32_t* id);
// Waits for the thread and releases its handle; stores its exit code when
// exitCode is not null. False when the handle cannot be joined.
bool ThreadJoin(uintptr_t handle, unsigned* exitCode);
// Releases the handle without waiting; false when refused.
bool ThreadDetach(uintptr_t handle);
// The calling thread's handle (not to be joined by itself) and kernel id.
uintptr_t ThreadSelf();
uint32_t ThreadId();

// ===== Clocks and sleeping =====

// Microseconds of the monotonic clock (arbitrary origin, never goes back).
int64_t MonotonicMicros();
// Milliseconds since 1 January 1970 UTC.
int64_t WallMillis();
// Sleeps at least ms milliseconds (resumes after signals).
void SleepMillis(unsigned long ms);

// ===== Files: descriptors and byte-range locks =====
// Byte-range locks are open-file-description locks: they belong to the open
// file, not to the process, so two opens in one process exclude each other as
// two processes do, and closing another descriptor of the file does not drop
// them.

// The descriptor behind a stdio stream; -1 for null.
int StreamDescriptor(std::FILE* stream);
// Locks len bytes from start, shared or exclusive; waits when wait is true.
// Returns 0 on success, otherwise the errno value (EAGAIN: held by another).
int RangeLock(int fd, int64_t start, int64_t len, bool exclusive, bool wait);
// Unlocks the range; 0 or the errno value.
int RangeUnlock(int fd, int64_t start, int64_t len);
// First offset of the marker bytes that hold sharing modes (see
// OpenShared); byte ranges of callers must stay below it.
constexpr int64_t kShareMarkerBase = int64_t{1} << 62;
// Opens name with an fopen-style mode ("r", "w" or "a", each optionally
// followed by "+", "b", "x", "e") and enforces a sharing rule between the
// opens of one file that all go through this function, in any process: the
// open has read and/or write access as its mode says, and lets others read
// (share bit 0) and/or write (share bit 1). It is refused when an earlier
// open denies the access wanted, or holds an access this open denies. The
// rule is checked before "w" truncates, so a refused open leaves the
// contents alone. The rule lasts until the stream is closed.
// On success returns the stream; on failure returns null and stores in
// *refused whether the sharing rule (true) or the system (false) said no.
std::FILE* OpenShared(const char* name, const char* mode, unsigned share, bool* refused);

}  // namespace port

#endif  // VXKERNEL_PORT_PORT_H_
