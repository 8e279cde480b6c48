/// \file
/// KDir: a directory, its listing, and the process's well-known directories.
#ifndef VXKERNEL_FILES_KDIR_H_
#define VXKERNEL_FILES_KDIR_H_

#include <cstdint>

#include "vxkernel/export.h"
#include "vxkernel/files/KFile.h"

class KArray;
class KLock;

/// A KFile whose path name is the directory and whose file name is empty.
///
/// Listings leave out "." and "..", and are sorted by name (byte order), so
/// GetFile(n) names the same entry on every file system as long as the
/// directory does not change. An entry whose full name would reach
/// KFile::kMaxName characters is left out (one debug line per listing).
/// Every listing call reads the directory afresh.
///
/// The start-up directory is the process's one shared state here: read and
/// replaced under its own lock. A KDir itself is not synchronized.
class VXKERNEL_EXPORT KDir : public KFile {
 public:
  /// Called by ForEachFile for entry n of dir. ForEachFile deletes file
  /// after the call returns: copy it to keep it.
  typedef void (*ForEachFunc)(void* datum, KDir* dir, KFile* file, unsigned short n);

  KDir() = default;
  /// path, with "/" appended when missing, as the full name; null or "" is
  /// the empty KDir.
  explicit KDir(const char* path);
  /// Copies the name.
  KDir(const KDir& other) = default;
  /// file's name as it is: file should name a directory (empty file name).
  explicit KDir(const KFile& file) : KFile(file) {}
  /// Copies the name.
  KDir& operator=(const KDir& other) = default;
  ~KDir() override;

  // ===== Listing =====
  /// Entries of the directory (at most 65535 counted); 0 (one debug line)
  /// when it cannot be read.
  unsigned short NFiles() const;
  /// A new KFile, or KDir for a subdirectory, for entry n (from 1); the
  /// caller deletes it. Null for 0 or past the end.
  KFile* GetFile(unsigned short n) const;
  /// Empties names (without freeing what it held) and appends, per entry, a
  /// char* full name made with new[] ("/" appended for a subdirectory).
  /// Returns names (null for null). Free the entries with FreeFileNames.
  KArray* GetFileNames(KArray* names) const;
  /// delete[]s every entry of names (as GetFileNames and RootDirs make them)
  /// and empties it; the array itself stays the caller's.
  static void FreeFileNames(KArray* names);
  /// fn(datum, this, GetFile(n), n) for n = 1 to NFiles().
  void ForEachFile(ForEachFunc fn, void* datum);

  // ===== Well-known directories =====
  /// A new KDir for the current directory (caller deletes), or null (one
  /// debug line) when it cannot be read.
  static KDir* CurrDir();
  /// Makes dir the current directory. The caller keeps dir. False (one debug
  /// line) when refused.
  static bool CurrDir(KDir* dir);
  /// A new KDir for "/usr/lib/", the system's library directory.
  static KDir* SystemDir();
  /// A new KArray holding one new[] char* entry, "/"; the caller frees the
  /// entry with FreeFileNames and deletes the array.
  static KArray* RootDirs();
  /// A new copy of the start-up directory (caller deletes), or null when
  /// none was recorded.
  static KDir* StartupDir();
  /// Replaces the start-up directory with a copy of dir (null: none); the old
  /// one is deleted. The caller keeps dir.
  static void StartupDir(KDir* dir);

  // ===== Free space =====
  /// Bytes available to the caller on the directory's volume; all bits set
  /// when unknown.
  uint64_t FreeSpaceBytes() const;
  /// FreeSpaceBytes() / 1048576; -1 (all bits set) when unknown.
  long FreeSpaceMegabytes() const;

  /// The start-up directory (owned; null when none). Guarded by the lock
  /// that StartupDir takes; read it only through StartupDir().
  static KDir* gStartupDir;
};

#endif  // VXKERNEL_FILES_KDIR_H_
