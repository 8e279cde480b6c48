/// \file
/// KProperties: a lockable, ordered table of properties-file pairs.
#ifndef VXKERNEL_BUNDLES_KPROPERTIES_H_
#define VXKERNEL_BUNDLES_KPROPERTIES_H_

#include <iosfwd>

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/text/KStringKey.h"
#include "vxkernel/threads/KLock.h"

class KQSValue;
class KPropertiesTable;

/// Key/value pairs read from and written to properties files (ISO-8859-1
/// text with backslash escapes), kept in ascending KStringKey order, with
/// lookups that fall back to a defaults table.
///
/// Ownership: the object owns its table and its lock; the defaults table is
/// not owned and must outlive this one. Copies (construction and assignment)
/// duplicate the table and get a lock of their own; they share the defaults
/// pointer. Keys and values are C strings: a NUL character ends them.
///
/// Thread rule: every read or change of the table holds fLock, exclusively
/// (a read may sort the key order); Load parses without it and swaps the new
/// table in under it. The flag, the defaults
/// pointer and the comments are not guarded: set them before sharing the
/// object.
class VXKERNEL_EXPORT KProperties {
 public:
  // Load results.
  static constexpr long kOk = 0;              ///< read and swapped in
  static constexpr long kReadOnly = 2;        ///< the table is read-only; nothing read
  static constexpr long kBadEscape = 5;       ///< a malformed "\u" escape
  static constexpr long kLargeCharacter = 6;  ///< above 0xFF outside UTF-8 mode
  /// Longest physical line Load accepts, trailing CR included.
  static constexpr unsigned kMaxLineBytes = 10238;

  /// An empty table; a non-zero readOnly refuses Load, SetProperty and
  /// ClearProperty. defaults (not owned, may be null) answers the keys this
  /// table lacks.
  explicit KProperties(unsigned char readOnly = 0, KProperties* defaults = nullptr);
  ///@{
  /// Copies the table (read under other's lock), the flag, the comments and
  /// the defaults pointer; the lock stays this object's own.
  KProperties(const KProperties& other);
  KProperties& operator=(const KProperties& other);
  ///@}
  virtual ~KProperties();

  ///@{
  /// Whether Load, SetProperty and ClearProperty refuse to change the table.
  bool ReadOnly() const { return fReadOnly != 0; }
  void ReadOnly(bool readOnly) { fReadOnly = readOnly ? 1 : 0; }
  ///@}
  /// The table asked for keys this one lacks; not owned, may be null.
  KProperties* Defaults() const { return fDefaults; }

  ///@{
  /// The comment Store writes first, each of its lines after "# "; empty
  /// for none. Load clears it.
  KString HeaderComment() const { return KString(fHeaderComment); }
  void HeaderComment(const char* text) { fHeaderComment = text; }
  ///@}
  ///@{
  /// The comment Store writes second; Store fills an empty one with the
  /// local time as "Y/M/D h:m:s" (fields unpadded). Load clears it.
  KString TimestampComment() const { return KString(fTimestampComment); }
  void TimestampComment(const char* text) { fTimestampComment = text; }
  ///@}

  /// Clears both comments and parses the stream into a new table, which on
  /// success replaces the table. Returns kOk; kReadOnly (nothing read or
  /// changed); kBadEscape or kLargeCharacter at the first bad escape, with
  /// its debug lines, keeping the old table. A physical line longer than
  /// kMaxLineBytes ends the reading without an error.
  long Load(std::istream& in);
  /// Writes the comments, an empty line and one "key = value" line per pair
  /// in key order, lines ended by "\n". A non-empty header is written and
  /// becomes the header comment; an empty or null one writes the stored
  /// header comment, if any. Stops writing once the stream is bad. Returns 0.
  long Store(std::ostream& out, const char* header);
  /// The text as Store writes a key (isKey) or a value: spaces, control
  /// characters and "\=:#!" escaped, characters outside 0x20-0x7E as "\u"
  /// and four upper-case hex digits (surrogate pairs above U+FFFF). Bytes
  /// are read as UTF-8 in UTF-8 mode, else as ISO-8859-1.
  static KString EscapeString(const char* text, bool isKey);

  /// The value, else the defaults' value, else the empty string.
  KString GetProperty(const char* key) const;
  /// True when the key is here or in the defaults.
  bool ContainsKey(const char* key) const;
  /// Stores the pair and returns the previous value (empty if none). A
  /// read-only table or a null argument changes nothing and returns empty.
  KString SetProperty(const char* key, const char* value);
  /// Removes the key and returns its value; empty (nothing changed) when
  /// absent or read-only.
  KString ClearProperty(const char* key);
  /// Appends the keys (with a non-empty group, only those beginning with
  /// group + ".") in key order as Strings. 0, or 1 when list is not a List.
  long ListKeys(KQSValue& list, const char* group);
  /// Appends once each, in key order, the non-empty text before the first
  /// "." of every key that has one. 0, or 1 when list is not a List.
  long ListGroupNames(KQSValue& list);
  /// The number of pairs in this table (defaults not counted).
  long Count() const;

 private:
  /// A copy of the table (owned by the caller), taken under fLock.
  KPropertiesTable* TableCopy() const VXK_EXCLUDES(fLock);

  // Constant after construction (or assignment).
  unsigned char fReadOnly;
  KProperties* fDefaults;
  KPropertiesTable* fTable VXK_GUARDED_BY(fLock);
  mutable KLock fLock;
  // Not guarded (see the thread rule).
  KStringKey fHeaderComment;
  KStringKey fTimestampComment;
};

#endif  // VXKERNEL_BUNDLES_KPROPERTIES_H_
