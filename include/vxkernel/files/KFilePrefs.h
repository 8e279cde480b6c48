/// \file
/// KFilePrefs: one shared, locked reader and editor per preference file.
#ifndef VXKERNEL_FILES_KFILEPREFS_H_
#define VXKERNEL_FILES_KFILEPREFS_H_

#include "vxkernel/export.h"
#include "vxkernel/threads/KLock.h"

class KFilePrefsMap;
class KFilePrefsRegistry;

/// The process keeps one KFilePrefs per file, found by the file's absolute
/// path (case matters), made by GetKFilePrefs and kept until the process
/// ends; callers never delete one. An instance owns its fileprefs_ handle
/// and a lookup map that answers every read without touching the file and
/// is rebuilt after every change. gPrefsMgr owns the registry of instances
/// and has no file of its own: its operations return 1 and do nothing.
///
/// Results: 0 success, 1 no open file, -1 the file could not be read or
/// written, -3 no such value (or section), -5 a null argument, -6 cut to the
/// caller's buffer (see fileprefs.h).
///
/// Thread rule: every operation of an instance holds its lock; the registry
/// is guarded by gPrefsMgr's lock, which is taken before an instance's.
class VXKERNEL_EXPORT KFilePrefs {
 public:
  /// The shared instance of the file, loading it the first time; null (and
  /// a debug line) when the file cannot be read.
  static KFilePrefs* GetKFilePrefs(const char* path);
  /// Creates the file empty (or empties it), then reloads its instance if
  /// there is one; the result of the creation.
  static long CreateKFilePrefs(const char* path);

  /// Does nothing: the instance stays shared. Returns 0.
  long Close();
  /// Reads the file again and rebuilds the map; 0 or -1.
  long Refresh();

  /// Copies the value, at most size - 1 bytes (a character cut in half at
  /// the end is dropped), and a NUL; -6 when the value has size bytes or
  /// more. Values longer than 10239 bytes read as absent.
  long GetPref(const char* section, const char* name, char* buf, long size);
  /// Stores the value's length in bytes (without a NUL) in *length; -3
  /// when there is no such value.
  long GetPrefLength(const char* section, const char* name, long* length);
  /// GetPref, then fileprefs_FixDirSep.
  long GetPath(const char* section, const char* name, char* buf, long size);
  /// Sets the value and rewrites the file, unless the value stored is the
  /// same and not empty (0, nothing written).
  long AddPref(const char* section, const char* name, const char* value);
  /// Removes the value and rewrites the file; 0 when there is none to remove.
  long DelPref(const char* section, const char* name);

  /// The fileprefs_ lists (null without a file); free with ListRelease.
  ///@{
  char** ListSections();
  char** ListValues(const char* section);
  ///@}
  /// Frees a list from ListSections or ListValues; null does nothing.
  static void ListRelease(char** list);
  /// Prints the file as it would be written to standard output.
  void Dump();

  /// The registry of the shared instances; it has no file (see above).
  static KFilePrefs gPrefsMgr;

  KFilePrefs(const KFilePrefs&) = delete;
  KFilePrefs& operator=(const KFilePrefs&) = delete;
  ~KFilePrefs();

 private:
  friend class KFilePrefsRegistry;
  KFilePrefs();

  /// Rebuilds fMap from fPrefs; on failure keeps the old one.
  void Rebuild(const char* operation) VXK_REQUIRES(fLock);

  void* fPrefs;  ///< owned fileprefs_ handle; null in gPrefsMgr
  KLock fLock;
  KFilePrefsMap* fMap VXK_GUARDED_BY(fLock);  ///< owned; null until first built
  /// Only in gPrefsMgr, guarded by its fLock.
  KFilePrefsRegistry* fRegistry;  ///< owned
};

#endif  // VXKERNEL_FILES_KFILEPREFS_H_
