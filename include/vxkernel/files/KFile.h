/// \file
/// KFile: a file named by path, short name and type.
#ifndef VXKERNEL_FILES_KFILE_H_
#define VXKERNEL_FILES_KFILE_H_

#include <cstdint>

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

class KDir;

/// A file name split into path (always ending with "/"), short name and type
/// (from the last '.' on, the '.' included), with the operations on the file
/// it names. Every piece and every full name stays below kMaxName
/// characters; a longer name is refused with one debug line and leaves the
/// file invalid, and every operation on an invalid file returns false, 0, an
/// empty text or null.
///
/// Owns only its texts. Not synchronized: one thread at a time per object.
class VXKERNEL_EXPORT KFile {
 public:
  /// Names of kMaxName characters or more are refused.
  static constexpr unsigned kMaxName = 254;

  static const KString gTypeUnknown;    ///< ".DAT"
  static const KString gTypeText;       ///< ".TXT"
  static const KString gTypeProg;       ///< ".EXE"
  static const KString gTypeExtension;  ///< ".SYS"
  static const KString gTypeScript;     ///< ".BAT"

  /// A valid file with every piece empty.
  KFile();
  /// FullName(fullName).
  explicit KFile(const char* fullName);
  /// Copies the pieces, validity and LastError.
  ///@{
  KFile(const KFile& other);
  KFile& operator=(const KFile& other);
  ///@}
  virtual ~KFile();

  /// "/", the directory separator.
  static KString DirSep();

  // ===== Names =====
  /// Splits fullName at its last "/" after making it absolute (kept as given
  /// when that fails). A name of kMaxName characters or more invalidates the
  /// file (one debug line); any other name makes it valid again.
  void FullName(const KString& fullName);
  /// Path name + file name made absolute; the plain concatenation when that
  /// fails.
  KString FullName() const;
  /// Short name + type. Setting splits at the last '.'; a name of kMaxName
  /// characters or more invalidates the file (one debug line).
  ///@{
  void FileName(const KString& fileName);
  KString FileName() const;
  ///@}
  /// Appends "/" when missing, then makes the path absolute.
  void PathName(const KString& path);
  /// The path, ending with "/" unless empty.
  KString PathName() const;
  /// The file name without its type; set as given, unchecked.
  ///@{
  void ShortName(const KString& shortName);
  KString ShortName() const;
  ///@}
  /// Sets the type as given (with its '.'), unchecked.
  void Type(const KString& type);
  /// The type in upper case.
  KString Type() const;
  /// The part after the last "/" / up to and including it.
  ///@{
  static KString ExtractName(const KString& fullName);
  static KString ExtractPath(const KString& fullName);
  ///@}

  /// False after a name that was too long, until a name is accepted.
  bool Valid() const { return fValid != 0; }
  /// An error code kept for callers (0 initially); the library never sets it.
  ///@{
  void LastError(long error) { fLastError = static_cast<int32_t>(error); }
  long LastError() const { return fLastError; }
  ///@}

  // ===== The file itself =====
  /// Something exists under the full name (links followed).
  bool Exists() const;
  /// The full name is a directory (links followed).
  bool IsDir() const;
  /// The name denotes a directory: its file name is empty.
  bool IsDirSpec() const;
  /// Bytes of a regular file; 0 for a directory or a name not found.
  int64_t Size() const;
  /// A directory name makes that directory; any other name makes an empty
  /// file (an existing one is emptied). False (one debug line) on failure.
  bool Create() const;
  /// Removes the (empty) directory or deletes the file. False (one debug
  /// line) on failure.
  bool Delete() const;
  /// A new KDir for the directory that holds this file, or that holds this
  /// directory (the root holds itself); the caller deletes it. Null when
  /// invalid.
  KDir* Parent() const;
  /// The type is ".TXT" (gTypeText), in any case.
  bool IsText() const;

  /// Full names compared without regard to case (so "a.txt" and "A.TXT"
  /// are equal although Linux keeps them apart).
  ///@{
  bool operator==(const KFile& other) const;
  bool operator!=(const KFile& other) const { return !(*this == other); }
  ///@}

  /// Kept for callers of the interface; there is nothing to do on Linux.
  ///@{
  bool LoadAttributes() { return true; }
  bool SetAttributes() { return true; }
  bool ResolveAlias() { return true; }
  ///@}

 protected:
  /// The full name without its trailing "/" ("/" for the root).
  KString SystemName() const;

 private:
  uint8_t fValid;
  int32_t fLastError;
  KString fPathName;   ///< ends with "/" unless empty
  KString fShortName;  ///< file name without type
  KString fType;       ///< from the last '.', or empty
};

#endif  // VXKERNEL_FILES_KFILE_H_
