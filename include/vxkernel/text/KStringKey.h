/// \file
/// An owning string that serves as the key of ordered maps.
#ifndef VXKERNEL_TEXT_KSTRINGKEY_H_
#define VXKERNEL_TEXT_KSTRINGKEY_H_

#include <cstdint>
#include <iosfwd>

#include "vxkernel/export.h"

class KString;

/// A plain string that owns its text outright: keys live inside maps for a
/// long time and must not pin a shared KString representation. Copies are
/// deep. The empty key holds no buffer and sorts before every other key.
/// Not synchronized: callers lock.
class VXKERNEL_EXPORT KStringKey {
 public:
  KStringKey() noexcept : fText(nullptr), fLength(0) {}
  /// A null or empty source gives the empty key.
  KStringKey(const char* s);  // NOLINT: implicit by design
  /// Length taken from s; the bytes up to its first NUL are copied.
  KStringKey(const KString& s);  // NOLINT: implicit by design
  /// A deep copy of other's text.
  KStringKey(const KStringKey& other);
  /// Takes other's text; other becomes the empty key.
  KStringKey(KStringKey&& other) noexcept : fText(other.fText), fLength(other.fLength) {
    other.fText = nullptr;
    other.fLength = 0;
  }
  ~KStringKey();

  /// Replace the text by a deep copy (a null s gives the empty key); s may
  /// point into this key's own text. Running out of memory throws
  /// std::bad_alloc, as the copying constructors do, and leaves the key as it
  /// was.
  ///@{
  KStringKey& operator=(const char* s);
  KStringKey& operator=(const KStringKey& other);
  ///@}
  /// Takes other's text; other becomes the empty key.
  KStringKey& operator=(KStringKey&& other) noexcept;

  /// Bytes of the key as given (from a KString, its full length, even when
  /// it holds a NUL); 0 for the empty key.
  unsigned Length() const { return fLength; }
  /// The text, or "" for the empty key; never null.
  operator const char*() const { return fText != nullptr ? fText : ""; }

  /// Equal lengths and equal texts (case-sensitive str_DBCS_cmp).
  ///@{
  bool operator==(const KStringKey& other) const;
  bool operator==(const char* s) const;
  ///@}
  /// The empty key first; otherwise case-sensitive str_DBCS_cmp order.
  bool operator<(const KStringKey& other) const;

  /// Fold the text in place through toupper / tolower, up to its NUL.
  ///@{
  void Upper();
  void Lower();
  ///@}

 private:
  void Assign(const char* s, uint32_t length);

  char* fText;       ///< length + 1 bytes from array new, or null when empty
  uint32_t fLength;  ///< bytes of the key
};

/// Writes the text; nothing for the empty key.
VXKERNEL_EXPORT std::ostream& operator<<(std::ostream& os, const KStringKey& key);

#endif  // VXKERNEL_TEXT_KSTRINGKEY_H_
