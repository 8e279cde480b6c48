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
#include <string>
#include <vector>

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

// ===== Fibers =====

// A function on a stack of its own that gives control back and is resumed
// later, on the same thread: a parser written as a loop of reads can then
// be fed bytes as they arrive. Not synchronized: one thread uses a fiber.
struct Fiber;
// A fiber with a stack of stackBytes (a guard page below it); null when
// there is no memory. It runs nothing until FiberStart.
Fiber* FiberCreate(size_t stackBytes);
// Frees the stack. REQUIRES: its body is not suspended (never started, or
// returned), else what lives on that stack is lost.
void FiberDestroy(Fiber* f);
// Makes body(argument) the fiber's next run from the top of its stack.
// REQUIRES: no body of this fiber is suspended.
void FiberStart(Fiber* f, void (*body)(void*), void* argument);
// Runs the fiber until it yields or its body returns; true while the body
// has not returned.
bool FiberResume(Fiber* f);
// From inside the body: back to the FiberResume that ran it.
void FiberYield(Fiber* f);

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
// The open itself never waits (a FIFO without a peer, a device), and only a
// regular file is truncated, so "w" on /dev/null or a pipe works. The
// sharing rule too holds for regular files only: a device or a FIFO is one
// object for every process on the machine (/dev/null, a terminal), and a
// rule on it would let one user of it lock out all others. With
// kShareRegularOnly in share, anything but a regular file (a FIFO, a device,
// a directory, a socket) is refused with errno EINVAL.
// On success returns the stream; on failure returns null and stores in
// *refused whether the sharing rule (true) or the system (false) said no.
std::FILE* OpenShared(const char* name, const char* mode, unsigned share, bool* refused);
// Share bit asking OpenShared to open regular files only.
constexpr unsigned kShareRegularOnly = 4;

// ===== Appending to a log file =====
// Writes all n bytes at the descriptor's position, as few write calls as the
// system allows (one for a regular file), resuming after signals. Stores the
// bytes written in *written (also on failure) and returns whether all were.
bool WriteAll(int fd, const char* data, size_t n, size_t* written);

// ===== Code-page conversion (iconv) =====
// Conversions between encodings named as iconv names ("CP932", "UTF-8",
// "WCHAR_T"). Converters are opened once per pair and reused; every call
// may run on any thread.

// Result of IconvConvert.
enum class IconvResult {
  kOk,          // every input unit converted
  kReplaced,    // some input could not be converted and was replaced
  kUnknown,     // the system has no converter between the two names
};

// Converts n bytes at in from encoding `from` to encoding `to` and appends
// the result to *out. The output buffer grows and the call is repeated
// while the system reports it too small. An input unit (inUnit bytes: 1 for
// byte encodings, 4 for WCHAR_T) that cannot be converted, or an incomplete
// sequence at the end, becomes the bytes of `replacement` (already in the
// `to` encoding) and conversion goes on after it.
IconvResult IconvConvert(const char* from, const char* to, const void* in, size_t n,
                         size_t inUnit, const std::string& replacement, std::string* out);

// ===== Dynamic modules (resource modules) =====
// Modules are shared objects opened with dlopen; a handle is the dlopen
// handle. The null handle stands for the host executable.

// Opens a shared object (RTLD_NOW | RTLD_LOCAL). On success returns its
// handle; on failure returns null and stores the loader's message in *error
// ("<name>: not a regular file" for a path to a FIFO, device or directory,
// which is not handed to the loader: its open would wait on a FIFO).
void* DlOpen(const char* name, std::string* error);
// Releases one DlOpen of the module.
void DlClose(void* handle);
// Address of the exported symbol in the module (null handle: the host
// executable and what it loaded into the global scope), or null.
void* DlSymbol(void* handle, const char* symbol);
// A handle of the shared object that holds this code (libvxkernel.so
// itself), without loading anything; null when the loader does not know it.
void* DlSelfHandle();
// For KLoadLib: releases one DlOpen of the module; false (the loader's
// message in *error) when the loader refuses.
bool DlUnload(void* handle, std::string* error);
// Address of the exported symbol in a loaded module (not null), or null with
// the loader's message in *error.
void* DlFind(void* handle, const char* symbol, std::string* error);

// ===== File system =====
// Names are passed as given (relative names against the current directory);
// links are followed, so a link to a directory is a directory.

// What stat (and statx, for the birth time) tell about a file.
struct FileInfo {
  bool isDirectory;
  uint64_t size;          // bytes (st_size)
  uint32_t mode;          // permission bits (st_mode & 07777)
  int64_t modifySeconds;  // last change of the contents, seconds since 1970
  int64_t birthSeconds;   // creation; equal to modifySeconds when the file
                          // system does not record it
};

// On success stores what the system knows about name and returns true;
// false when the name cannot be found or read.
bool FileStat(const char* name, FileInfo* out);
// mkdir (mode 0777 before the umask) / rmdir of an empty directory /
// unlink of anything but a directory. False when the system refuses.
bool MakeDirectory(const char* name);
bool RemoveDirectory(const char* name);
bool RemoveFile(const char* name);
// Clears every write bit (readOnly) or sets the owner's (not readOnly),
// leaving the other bits. False when the system refuses.
bool SetReadOnly(const char* name, bool readOnly);

// One entry of a directory: its name and whether it is a directory (links
// followed; a dangling link is not).
struct DirEntry {
  std::string name;
  bool isDirectory;
};
// Appends the entries of directory name, "." and ".." left out, in the
// order the system gives them (which differs between file systems). False
// when the directory cannot be opened; entries read before an error stay.
bool ListDirectory(const char* name, std::vector<DirEntry>* out);

// Bytes available to an unprivileged caller on the volume that holds name
// (statvfs f_bavail * f_frsize). False when the system cannot tell.
bool FreeSpace(const char* name, uint64_t* bytes);
// chdir. False when refused.
bool ChangeDirectory(const char* name);
// The file of the shared object (or program) that holds this code: the
// path of libvxkernel.so, or of the program when the library is linked in.
// False when the loader does not know it.
bool ModuleFileName(std::string* out);
// The first "dir/name" that exists for the directories of the PATH
// variable in order (empty entries skipped). False when none does.
bool SearchPathFor(const std::string& name, std::string* out);

// ===== Debugger and start-up directory =====

// True when a debugger (any tracer) is attached: TracerPid in
// /proc/self/status is not 0.
bool DebuggerAttached();
// Stops in the attached debugger (SIGTRAP). Only call when one is attached:
// without one the signal ends the process.
void DebuggerBreak();
// The process's current directory (getcwd); false when it cannot be read.
bool ProcessCurrentDirectory(std::string* out);
// True when something exists under name (stat succeeds).
bool FileNameExists(const char* name);

// ===== Paths =====

// The absolute form of name, worked out from the text alone: a relative
// name is joined to the current directory, then "." pieces, empty pieces
// and each ".." with the piece before it are removed (".." at the root
// stays at the root); symbolic links are not followed, so the result names
// the same file as long as no piece before a ".." is a link. A trailing "/"
// of name is kept. False when name is empty or the current directory cannot
// be read.
bool AbsolutePath(const std::string& name, std::string* out);

// ===== Environment =====

// Sets the variable (setenv, replacing a value it has); false when the
// system refuses (an invalid name, no memory).
bool SetEnvironmentVariable(const char* name, const char* value);

// ===== Replacing files =====
// Whole-file rewrites that a killed writer cannot tear: readers see the old
// contents or the new, never a mix.

// How ReplaceFileContents wrote.
enum class ReplaceResult {
  kRenamed,           // a temporary file beside the target was renamed over it
  kInPlace,           // the caller asked for an in-place rewrite
  kInPlaceDirectory,  // rewritten in place: the directory refused a temporary
  kInPlaceLinks,      // rewritten in place: the target has other names (hard links)
  kInPlaceOwner,      // rewritten in place: a temporary could not get the target's
                      // owner, group and mode
  kFailed,            // *error holds the errno value
};

// Makes data (n bytes) the whole contents of the file name. A symbolic link
// is followed to its final target, which is the file replaced. An existing
// target must be a regular file (EINVAL otherwise) that this process may
// open for writing (EACCES otherwise), whatever its directory allows. The
// text goes to "<target>.vxtmp.<pid>.<n>", created exclusively (O_EXCL) in
// the target's directory and given the target's owner, group and
// permission bits, and is renamed over the target; after the rename every
// temporary of that target whose process no longer exists is removed. When
// the directory refuses the temporary (EACCES, EPERM), the temporary cannot
// get the owner, group or mode, or the target has other links, the target
// is rewritten in place instead (overwritten from the start, then cut to n
// bytes), as it is when inPlace is true. On failure the target is
// unchanged, except that an in-place write may have been cut short.
ReplaceResult ReplaceFileContents(const char* name, const char* data, size_t n, bool inPlace,
                                  int* error);
// The prefix of the temporaries of the file named base (no directory):
// base, cut to 200 bytes so that the whole name fits a directory entry,
// then ".vxtmp.". Tests look for leftovers by it.
std::string ReplaceTempPrefix(const std::string& base);

// ===== Calendar time =====
// The C library's time-zone conversions (the TZ variable, /etc/localtime).

// A broken-down time: full year (2026), month 1-12, day 1-31, hour 0-23,
// minute 0-59, second 0-60.
struct CivilTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

// Breaks t seconds since 1970 into local time (local true) or UTC. False
// when the system cannot (the year does not fit an int).
bool CivilFromSeconds(int64_t t, bool local, CivilTime* out);
// Seconds since 1970 of c read as local time, daylight saving decided by
// the system; out-of-range fields are normalised (mktime). False when the
// result is not representable. Not serialised here: callers that need one
// conversion at a time lock.
bool LocalSecondsFromCivil(const CivilTime& c, int64_t* out);

// ===== Web request support =====

// The calling process's id.
unsigned long ProcessId();

// ===== File cache =====
// Cache item files: durable commits (fsync around a rename), single reads.

// Which file a name or an open stream stands for: two equal identities
// are the same file.
struct FileId {
  uint64_t device;
  uint64_t inode;
  bool operator==(const FileId&) const = default;
};
// The identity of the file of an open stream (fstat) / of the file that
// name names now, links followed (stat). False when the system cannot tell
// (for a name: also when nothing has that name).
bool StreamFileId(std::FILE* stream, FileId* out);
bool NameFileId(const char* name, FileId* out);
// Opens the temporary file name of a cache writer for reading and writing
// (close-on-exec, links not followed) and locks it exclusively for as long
// as this open lives. The lock is an open-file-description lock: a child
// forked meanwhile shares it, and it ends when the last descriptor of the
// open is closed, at the latest when the holders die. A regular file that
// no open holds (its writer died) is taken over and truncated; a missing
// one is created. On success returns the stream, standing at offset 0; on
// failure returns null with the errno value in *error: EEXIST while another
// open holds the file (a live writer) or something other than a regular
// file has the name, ENOENT when the directory is missing.
std::FILE* OpenCacheTemporary(const char* name, int* error);

// Opens the regular file name for reading and writing (close-on-exec, a
// link at the name not followed), for a cache to take it over as an item.
// On success returns the stream, standing at offset 0, unbuffered, with
// the file's size in *size; on failure null with the errno value in
// *error (ELOOP for a link, EINVAL for something not a regular file).
std::FILE* OpenRegularFile(const char* name, int64_t* size, int* error);

// Writes out what the stream buffers and syncs its file to the disk. False
// with *error set to the errno value when either fails.
bool SyncStream(std::FILE* stream, int* error);
// Syncs the directory name itself (its entries: a rename in it). False with
// *error set to the errno value when it cannot be opened or synced.
bool SyncDirectory(const char* name, int* error);
// One read(2) from the file of an unbuffered stream (retried on EINTR):
// fread would read again after a short read to be sure of the end, which
// costs a system call per transfer of a regular file. Returns the bytes
// read, 0 at the end, -1 on an error (errno set).
long ReadOnce(std::FILE* stream, void* buf, size_t n);
// ReadOnce that also tries one byte more into *probe (one readv): returns
// the bytes read into buf, and *probed is 1 when the probe byte came too.
long ReadOnceProbing(std::FILE* stream, void* buf, size_t n, int* probed);
// The bytes of the file of an unbuffered stream from its position to its
// end (one ioctl(FIONREAD)); -1 on failure.
long BytesLeft(std::FILE* stream);
// Opens the file name for reading (close-on-exec) with its size in *size:
// one open and one fstat, no stdio. Returns the descriptor, or -1 with
// errno set (EINVAL when name is not a regular file).
int OpenForReading(const char* name, int64_t* size);
// Closes a descriptor from OpenForReading.
void CloseDescriptor(int fd);
// ===== Address space for the small-object heap =====
// A reservation is address space only: no memory is charged for it until a
// part of it is committed.

// Reserves bytes (a multiple of the page size) of inaccessible address
// space; null on failure.
void* ReserveAddressSpace(size_t bytes);
// Makes [p, p + bytes) of a reservation readable and writable (zero-filled
// pages on first touch). False when the system refuses the memory.
bool CommitMemory(void* p, size_t bytes);
// Gives the pages of [p, p + bytes) back to the system; the range stays
// usable and reads as zeros afterwards.
void DiscardMemory(void* p, size_t bytes);
// Runs prepare before every fork (in the forking thread), parent after it
// in the parent and child after it in the child. False when refused.
bool AtFork(void (*prepare)(), void (*parent)(), void (*child)());

// ===== Stream sockets and readiness =====
// Sockets are descriptors (-1 invalid). Every descriptor is made
// close-on-exec; sends never raise SIGPIPE.

// One resolved address: family 4 or 6, the raw socket address of length
// bytes (at most 128).
struct SocketAddress {
  int family;
  unsigned length;
  alignas(8) unsigned char bytes[128];
};

// Resolves host (null: the wildcard or loopback address, as passive says)
// and service (null: none) for a stream socket of family 4, 6 or 0 (any).
// On success appends the addresses in the resolver's order and returns
// true; on failure stores the resolver's message (at most 1024 bytes) in
// *error and returns false.
bool SocketResolve(const char* host, const char* service, int family, bool passive,
                   std::vector<SocketAddress>* out, std::string* error);
// A socket bound to a (address reuse on; IPv6 sockets take IPv6 only) and
// listening with the system's largest backlog; -1 on failure.
int SocketListen(const SocketAddress& a);
// A blocking socket connected to a; -1 on failure.
int SocketConnect(const SocketAddress& a);
// The next connection of listener, made non-blocking when asked; -1 when
// none is waiting on a non-blocking listener or on failure.
int SocketAccept(int listener, bool nonBlocking);
bool SocketSetNonBlocking(int fd, bool nonBlocking);
// Receives once: the byte count (> 0), 0 when the peer has closed, -1 when
// the call would block, -2 on any other error.
long SocketReceive(int fd, char* buffer, long size);
// Sends once: the byte count (>= 0), -1 when the call would block, -2 on
// any other error (a closed peer among them).
long SocketSend(int fd, const char* data, long size);
// Waits until fd is readable (or writable) for up to ms milliseconds
// (kWaitForever: no limit): 1 ready, 0 time-out, -1 error.
int SocketWait(int fd, bool writable, unsigned long ms);
void SocketClose(int fd);
// The local port of fd in host order; 0 on failure.
unsigned short SocketLocalPort(int fd);
// The peer's port in host order and numeric address text; false on failure.
bool SocketPeer(int fd, unsigned short* port, std::string* address);
// The numeric text of a (no port); empty on failure.
std::string SocketAddressText(const SocketAddress& a);

// A readiness set: edge-triggered notification of sockets becoming
// readable or closed, with a wake-up that makes a waiter return.
struct Readiness;

struct ReadyEvent {
  uint64_t key;   // the key given to ReadinessAdd
  bool readable;  // data (or a connection) arrived
  bool hangup;    // the peer closed or the socket failed
};

// A new readiness set, or null.
Readiness* ReadinessCreate();
// Watches fd under key (never ~0). Returns false on failure.
bool ReadinessAdd(Readiness* r, int fd, uint64_t key);
// Reports fd again if it is ready now (an edge for a level that stayed).
bool ReadinessRearm(Readiness* r, int fd, uint64_t key);
// Waits without limit; stores up to max events and returns their count,
// 0 after a wake-up, -1 on failure.
int ReadinessWait(Readiness* r, ReadyEvent* events, int max);
// Makes the current or next ReadinessWait return 0.
void ReadinessWake(Readiness* r);
void ReadinessDestroy(Readiness* r);

}  // namespace port

#endif  // VXKERNEL_PORT_PORT_H_
