/// \file
/// KPropertyResourceBundle: the chain of properties files for a base name
/// and a locale, and the process-wide registry that shares them.
#ifndef VXKERNEL_BUNDLES_KPROPERTYRESOURCEBUNDLE_H_
#define VXKERNEL_BUNDLES_KPROPERTYRESOURCEBUNDLE_H_

#include "vxkernel/export.h"
#include "vxkernel/files/KFile.h"
#include "vxkernel/locale/KLocale.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/text/KStringKey.h"

class KLock;
class KProperties;
class KBundleCache;

/// One properties file of a bundle chain: the base name, the locale of the
/// file actually loaded, the path it was asked for (KeyPath) and the file
/// used (File: the path itself, or its stand-in in the message-catalogue
/// directory). GetString walks from this bundle to its parents, the less
/// specific files.
///
/// Ownership: bundles are made only by GetResourceBundle and belong to the
/// registry gPropertyResourceMgr, which deletes them at process exit;
/// callers get const pointers and never delete them. A bundle owns its
/// properties; its parent is another registry bundle. A copy (construction
/// or assignment) owns a copy of the properties and shares the parent; the
/// cache and its lock are the registry's alone: a copy has none, and an
/// assignment keeps the target's. So each is released once, by its owner.
///
/// Thread rule: GetResourceBundle serialises on the registry's cache lock;
/// a returned bundle never changes again, and GetString takes only the
/// properties' own lock, so any thread may use it.
class VXKERNEL_EXPORT KPropertyResourceBundle {
 public:
  /// The registry: fallback locale en_US, the cache lock and the cache of
  /// path -> bundle (null for a request that found nothing).
  static KPropertyResourceBundle gPropertyResourceMgr;
  /// When true, a bundle whose file is missing uses the file of the same
  /// base name and suffix in the message-catalogue directory instead.
  static bool gTryDefaultERRLocation;

  ///@{
  /// Copies the names, locale, file and properties and shares the parent;
  /// never the registry's cache or lock (see the class comment).
  KPropertyResourceBundle(const KPropertyResourceBundle& other);
  KPropertyResourceBundle& operator=(const KPropertyResourceBundle& other);
  ///@}
  virtual ~KPropertyResourceBundle();

  /// The head of the chain for baseName in locale from directory (null or
  /// empty: no directory part), or null when no file exists. Results, also
  /// null ones, are kept for the life of the process.
  static const KPropertyResourceBundle* GetResourceBundle(const char* baseName,
                                                          const KLocale& locale,
                                                          const char* directory);
  /// "_en_US": the suffix of the registry's fallback locale.
  static KString FallbackLocaleResourceSuffix();

  /// out = the value of key in this bundle or the nearest parent that has
  /// it, and true; false (out untouched) when no bundle of the chain has it.
  bool GetString(const char* key, KString& out) const;
  /// Loads the properties from File(); false when the file is missing or
  /// does not parse (the latter with one debug line).
  bool Populate();

  /// The base name asked for, without directory, suffix or ".properties";
  /// empty for the registry.
  const KStringKey& BaseName() const { return fBaseName; }
  /// The locale whose suffix named the file (the fallback locale for a
  /// file without suffix).
  const KLocale& Locale() const { return fLocale; }
  /// The path asked for: directory + base name + locale suffix +
  /// ".properties".
  const KStringKey& KeyPath() const { return fKeyPath; }
  /// The file loaded: KeyPath() itself, or its stand-in in the
  /// message-catalogue directory when gTryDefaultERRLocation found one.
  const KFile& File() const { return fFile; }
  ///@{
  /// The next, less specific bundle of the chain; null at its end. Not
  /// owned (the registry owns every bundle).
  const KPropertyResourceBundle* Parent() const { return fParent; }
  void Parent(const KPropertyResourceBundle* parent) { fParent = parent; }
  ///@}
  /// The pairs of this file alone (parents not included); owned by the
  /// bundle.
  const KProperties& Properties() const { return *fProperties; }

 private:
  friend class KBundleRegistry;

  /// The registry object.
  explicit KPropertyResourceBundle(const char* fallbackSuffix);
  /// A bundle for path; File() is path or its stand-in.
  KPropertyResourceBundle(const char* baseName, const KLocale& locale, const char* path);

  KStringKey fBaseName;
  KLocale fLocale;
  KStringKey fKeyPath;
  KFile fFile;
  const KPropertyResourceBundle* fParent;
  KProperties* fProperties;  ///< owned
  KLock* fCacheLock;         ///< owned; registry only
  KBundleCache* fCache;      ///< owned; registry only
};

#endif  // VXKERNEL_BUNDLES_KPROPERTYRESOURCEBUNDLE_H_
