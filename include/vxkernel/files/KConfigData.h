/// \file
/// KConfigData: string values under a key path of the configuration store.
#ifndef VXKERNEL_FILES_KCONFIGDATA_H_
#define VXKERNEL_FILES_KCONFIGDATA_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// Reads named string values under a "\"-separated key path (relative to
/// the machine-wide root). The store is a preference file: the file named by
/// the environment variable VXKERNEL_CONFIGDATA, or else
/// "vxkernel/configdata.ini" in $XDG_CONFIG_HOME (when absolute) or
/// $HOME/.config. A key path is a section whose name is the whole path
/// (letter case ignored); value names are its names. The file is read at every Get, so changes show at once.
///
/// A KConfigData owns its key text. Not synchronized: one thread at a time.
class VXKERNEL_EXPORT KConfigData {
 public:
  /// Reads the values under key, a path of names separated by backslashes
  /// (null: the empty key).
  explicit KConfigData(const char* key);

  /// Replaces the key path (null: empty).
  void SetKey(const char* key);
  /// Appends "\" and sub to the key path.
  void AppendKey(const char* sub);
  /// The key path, as set and appended to.
  const KString& Key() const { return fKey; }

  /// Stores the named value in out and returns true; stores def and returns
  /// false when the store, the key or the value is missing or the value has
  /// 1024 bytes or more.
  bool Get(const char* name, KString& out, const KString& def) const;
  /// Get with an empty default.
  bool Exists(const char* name) const;

  /// The store's file name as the environment gives it now.
  static KString StorePath();

 private:
  KString fKey;
};

#endif  // VXKERNEL_FILES_KCONFIGDATA_H_
