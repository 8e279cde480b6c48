/// \file
/// KSharedFile and KSharedFileLock: files shared with other processes, with
/// sharing modes and byte-range locks.
#ifndef VXKERNEL_THREADS_KSHAREDFILE_H_
#define VXKERNEL_THREADS_KSHAREDFILE_H_

#include <cstdio>
#include <iosfwd>

#include "vxkernel/export.h"
#include "vxkernel/vxtypes.h"

/// Where a byte range starts: the beginning, the current position or the end
/// of the file (the same values as SEEK_SET, SEEK_CUR, SEEK_END).
enum KSeekMode : int { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

/// What an open lets other opens of the same file do: bit 0 read, bit 1
/// write. kShareNone denies both.
enum KShareMode : int { kShareNone = 0, kShareRead = 1, kShareWrite = 2, kShareReadWrite = 3 };

class KSharedFileStreamBuf;
class igstream;
class ogstream;

/// The buffered streams of a KSharedFile, made by the streams layer above
/// this one; the file owns them and deletes them before closing its stream.
class VXKERNEL_EXPORT KSharedFileStreams {
 public:
  virtual ~KSharedFileStreams();
};

/// A stdio stream on a file shared with other processes, with lazily made
/// C++ stream wrappers. Owns the stream when constructed with owns = true
/// (or by name) and then closes it; the wrappers are always owned.
/// Not synchronized: one thread at a time per object.
class VXKERNEL_EXPORT KSharedFile {
 public:
  /// Opens name with an fopen-style mode and applies the sharing rule of
  /// share against the other opens made through this function (in any
  /// process). Returns the new stream, or null (one debug line) when the file
  /// cannot be opened or the sharing rule refuses the open.
  static std::FILE* Open(const char* name, const char* mode, KShareMode share);

  /// Wraps stream; closes it on destruction when owns is true.
  KSharedFile(std::FILE* stream, bool owns);
  /// Opens with Open; Stream() is null when that failed.
  KSharedFile(const char* name, const char* mode, KShareMode share);
  ~KSharedFile();
  KSharedFile(const KSharedFile&) = delete;
  KSharedFile& operator=(const KSharedFile&) = delete;

  /// The stdio stream; null when the open by name failed. Owned by this
  /// object only when it was opened by name or wrapped with owns = true.
  std::FILE* Stream() const { return fStream; }
  /// C++ streams reading and writing through Stream(), made on first use and
  /// owned by this file (they share one buffer).
  /// REQUIRES: Stream() is not null.
  ///@{
  std::istream& In();
  std::ostream& Out();
  ///@}
  /// Buffered streams (blocks of 31744 bytes) over Stream(), made on first
  /// use over a KSharedFileStream of mode 1 or 2 and owned by this file.
  /// REQUIRES: Stream() is not null.
  ///@{
  igstream& IStream();
  ogstream& OStream();
  ///@}
  /// The descriptor of the stream's file; -1 without a stream.
  int _Handle() const { return fHandle; }

 private:
  std::FILE* fStream;
  bool fOwns;
  KSharedFileStreamBuf* fBuffer;  ///< made with the first wrapper
  std::istream* fIn;              ///< made on first use
  std::ostream* fOut;             ///< made on first use
  KSharedFileStreams* fStreams;   ///< made with IStream or OStream
  int fHandle;
};

class KSharedFileLock;

/// The reader facet of a KSharedFileLock: ReadLock/TryReadLock/Unlock under
/// the names Lock/TryLock/Unlock. Refers to the lock, does not own it.
class VXKERNEL_EXPORT KSharedFileReadLock {
 public:
  /// Refers to lock, which must outlive this facet.
  explicit KSharedFileReadLock(KSharedFileLock& lock) : fLock(&lock) {}
  /// KSharedFileLock::ReadLock, TryReadLock and Unlock on the same range, with
  /// their results.
  ///@{
  bool Lock(KSeekMode origin, long offset, long length);
  bool TryLock(KSeekMode origin, long offset, long length);
  bool Unlock(KSeekMode origin, long offset, long length);
  ///@}

 private:
  KSharedFileLock* fLock;
};

/// The writer facet of a KSharedFileLock.
class VXKERNEL_EXPORT KSharedFileWriteLock {
 public:
  /// Refers to lock, which must outlive this facet.
  explicit KSharedFileWriteLock(KSharedFileLock& lock) : fLock(&lock) {}
  /// KSharedFileLock::WriteLock, TryWriteLock and Unlock on the same range,
  /// with their results.
  ///@{
  bool Lock(KSeekMode origin, long offset, long length);
  bool TryLock(KSeekMode origin, long offset, long length);
  bool Unlock(KSeekMode origin, long offset, long length);
  ///@}

 private:
  KSharedFileLock* fLock;
};

/// Byte-range locks on a shared file. Read locks are shared, write locks
/// exclusive; they exclude other opens of the file, in this process or
/// another. The range starts at origin + offset, except that it starts at
/// byte 0 when offset is 0 or origin is kSeekCurrent; finding the origin
/// moves the stream's position there. The length is taken modulo 2^32; a
/// length of 0 locks nothing and gives false.
///
/// Owns its KSharedFile. Not synchronized: one thread at a time per object.
class VXKERNEL_EXPORT KSharedFileLock {
 public:
  /// Makes the KSharedFile as its constructors do: wrapping stream (closed on
  /// destruction when owns is true) or opening name with KSharedFile::Open.
  /// A failed open leaves a lock whose every call returns false.
  ///@{
  KSharedFileLock(std::FILE* stream, bool owns);
  KSharedFileLock(const char* name, const char* mode, KShareMode share);
  ///@}

  /// Each returns true on success; the try forms return false at once when
  /// another open holds a conflicting lock. False also without a stream, for
  /// an unknown origin, when the origin cannot be found, or for an empty
  /// range. Unlock releases the range given, which need not be one locked.
  ///@{
  bool ReadLock(KSeekMode origin, long offset, long length);
  bool TryReadLock(KSeekMode origin, long offset, long length);
  bool WriteLock(KSeekMode origin, long offset, long length);
  bool TryWriteLock(KSeekMode origin, long offset, long length);
  bool Unlock(KSeekMode origin, long offset, long length);
  ///@}

  /// The file locked; owned by this object.
  KSharedFile& File() { return fFile; }
  /// The reader and writer facets; they live as long as this object.
  ///@{
  KSharedFileReadLock& Reader() { return fReader; }
  KSharedFileWriteLock& Writer() { return fWriter; }
  ///@}

 private:
  bool Range(KSeekMode origin, long offset, long length);
  bool Apply(KSeekMode origin, long offset, long length, int what);

  KSharedFile fFile;
  KSharedFileReadLock fReader;
  KSharedFileWriteLock fWriter;
  int64 fStart;  ///< byte-range record: start of the last range
  int64 fLength; ///< and its length
};

/// Holds a lock on a byte range for its lifetime; the two guards below only
/// choose shared or exclusive. Locked() tells whether the lock was obtained.
class VXKERNEL_EXPORT KSharedFileRangeGuard {
 public:
  ~KSharedFileRangeGuard();
  KSharedFileRangeGuard(const KSharedFileRangeGuard&) = delete;
  KSharedFileRangeGuard& operator=(const KSharedFileRangeGuard&) = delete;
  /// True when the constructor obtained the lock; the destructor then
  /// releases the range.
  bool Locked() const { return fLocked; }
  /// The guard's own lock object, which owns the file when it was opened by
  /// name.
  KSharedFileLock& Lock() { return fLock; }

 protected:
  /// Locks the range, waiting as long as needed, exclusively or shared. The
  /// stream form does not take over stream; the named form opens the file
  /// with KSharedFile::Open and closes it on destruction. See Locked().
  ///@{
  KSharedFileRangeGuard(bool exclusive, std::FILE* stream, KSeekMode origin, long offset,
                        long length);
  KSharedFileRangeGuard(bool exclusive, const char* name, const char* mode, KShareMode share,
                        KSeekMode origin, long offset, long length);
  ///@}

 private:
  void Take(bool exclusive);

  KSharedFileLock fLock;
  KSeekMode fOrigin;
  long fOffset;
  long fLength;
  bool fLocked;
};

/// Holds a shared lock on a byte range for its lifetime.
class VXKERNEL_EXPORT KSharedFileReadLockGuard : public KSharedFileRangeGuard {
 public:
  /// Read-locks the range of stream (not taken over) or of the file opened
  /// by name; Locked() tells whether it succeeded.
  ///@{
  KSharedFileReadLockGuard(std::FILE* stream, KSeekMode origin, long offset, long length)
      : KSharedFileRangeGuard(false, stream, origin, offset, length) {}
  KSharedFileReadLockGuard(const char* name, const char* mode, KShareMode share, KSeekMode origin,
                           long offset, long length)
      : KSharedFileRangeGuard(false, name, mode, share, origin, offset, length) {}
  ///@}
};

/// Holds an exclusive lock on a byte range for its lifetime.
class VXKERNEL_EXPORT KSharedFileWriteLockGuard : public KSharedFileRangeGuard {
 public:
  /// Write-locks the range of stream (not taken over) or of the file opened
  /// by name; Locked() tells whether it succeeded.
  ///@{
  KSharedFileWriteLockGuard(std::FILE* stream, KSeekMode origin, long offset, long length)
      : KSharedFileRangeGuard(true, stream, origin, offset, length) {}
  KSharedFileWriteLockGuard(const char* name, const char* mode, KShareMode share, KSeekMode origin,
                            long offset, long length)
      : KSharedFileRangeGuard(true, name, mode, share, origin, offset, length) {}
  ///@}
};

#endif  // VXKERNEL_THREADS_KSHAREDFILE_H_
