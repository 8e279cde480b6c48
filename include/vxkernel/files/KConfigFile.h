/// \file
/// KConfigFile: where the process's main configuration file is.
#ifndef VXKERNEL_FILES_KCONFIGFILE_H_
#define VXKERNEL_FILES_KCONFIGFILE_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// Remembers the absolute path of a configuration file. While no other
/// KConfigFile holds the place, a new one becomes the process's configuration
/// file (gTheConfigFile) and gives the place up when it is destroyed, so
/// the next one made after that takes it. The creator owns the object.
///
/// Thread rule: the place is taken and given up atomically; FilePath is
/// constant after construction.
class VXKERNEL_EXPORT KConfigFile {
 public:
  /// A null or unusable path leaves the path empty (and writes a debug line).
  explicit KConfigFile(const char* path);
  ~KConfigFile();
  KConfigFile(const KConfigFile&) = delete;
  KConfigFile& operator=(const KConfigFile&) = delete;

  /// The process's configuration file, or null.
  static KConfigFile* TheConfigFile();
  /// The absolute path of the file; empty when the constructor refused it.
  const KString& FilePath() const { return fPath; }

  /// The first KConfigFile constructed (not owned: its destructor clears
  /// this), or null. Read it through TheConfigFile().
  static KConfigFile* gTheConfigFile;

 private:
  KString fPath;
};

#endif  // VXKERNEL_FILES_KCONFIGFILE_H_
