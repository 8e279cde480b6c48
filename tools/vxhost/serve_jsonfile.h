// Small files of the data folder that the server keeps whole (users.json,
// shares.json): read in one go, replaced whole through a temporary, edited
// under an flock so that two editors never lose each other's change.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_JSONFILE_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_JSONFILE_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace serve {

// Reads the file at path into *text, *seen its stat. A missing file is no
// error: *text empty and *seen zeroed (st_ino 0). False with *error when it
// exists and cannot be read.
bool ReadWholeFile(const std::string& path, std::string* text, struct stat* seen, std::string* error);

// True when two stats are of the same file as it was then (inode, size,
// modification time): whether a file kept in memory must be read again.
bool SameFile(const struct stat& a, const struct stat& b);

// Replaces the file at path (in folder dir) with bytes: a temporary beside
// it, fsync, rename, fsync of the folder, so a crash leaves the old or the
// new file. previous is the file it replaces: the new one gets a later
// modification time even when the kernel's coarse clock has not moved.
bool WriteWholeFile(const std::string& dir, const std::string& path, const std::string& bytes,
                    const struct stat& previous, std::string* error);

// An edit count in a lock file, so that a reader learns of an edit from a
// memory read instead of a stat: the editors add one after each edit,
// under the exclusive lock, and readers map the count shared. An edit made
// by hand (or a count that cannot be written) is left to the readers'
// periodic stat.
//
// The count of the lock file at path, mapped read-only (the file made 8
// bytes long when shorter); null when it cannot be. Call under the file's
// lock, so no editor writes meanwhile.
const uint64_t* MapEditCount(const std::string& path);
void UnmapEditCount(const uint64_t* mapped);
// The count now; 0 for null.
uint64_t EditCount(const uint64_t* mapped);
// Adds one to the count of the lock file at path. REQUIRES: its LOCK_EX held.
void CountEdit(const std::string& path);
// A monotonic clock, for the readers' periodic stat.
int64_t SteadyNanos();

// Holds an flock (LOCK_SH or LOCK_EX) on the file at path, made when
// missing, for its lifetime.
class FileLock {
 public:
  FileLock(const std::string& path, int how);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // False with *error when the lock could not be taken.
  bool Held(std::string* error) const;

 private:
  std::string fPath;
  int fFd = -1;
  int fErrno = 0;
};

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_JSONFILE_H_
