/// \file
/// The shared, copy-on-write byte string in which the library passes text.
#ifndef VXKERNEL_TEXT_KSTRING_H_
#define VXKERNEL_TEXT_KSTRING_H_

#include <compare>
#include <cstdint>
#include <cstring>
#include <iosfwd>

#include "vxkernel/export.h"
#include "vxkernel/text/str.h"

/// A byte string that shares one reference-counted representation among its
/// copies: copying costs one counter increment, and a change copies the text
/// first unless this string is the representation's only holder. Every empty
/// string shares the static gEmptyRef, so an empty string allocates nothing.
/// The text is always NUL-terminated and may hold embedded NUL bytes;
/// comparisons look only at the text before the first NUL.
///
/// Not synchronized: callers lock. The counts are plain integers, so a
/// representation must not be copied or released by two threads at once.
class VXKERNEL_EXPORT KString {
 public:
  /// The representation. Owns fText unless it is gEmptyRef. The strings
  /// make their representations with Create, which puts the text right
  /// behind the fields in the same block: one allocation per string, and no
  /// second cache miss to reach the text. Otherwise an adopted buffer came
  /// from array new and every other one from malloc, so that an unshared
  /// string grows its own buffer with realloc instead of copying it.
  class VXKERNEL_EXPORT KStringRef {
   public:
    /// Adopts p (from array new): count 1, length strlen(p), capacity length.
    explicit KStringRef(char* p);
    /// Room for n bytes by the capacity rule; length n, text not yet written.
    explicit KStringRef(unsigned n);
    /// Copies n bytes from p and terminates them.
    KStringRef(const char* p, unsigned n);
    KStringRef(const KStringRef&) = delete;
    KStringRef& operator=(const KStringRef&) = default;  ///< member-wise
    ~KStringRef();

    /// The capacity given to a representation created for n bytes: 32 below
    /// 16, doubled below 8160, grown by a third from there, then ORed with 15
    /// so that the buffer (capacity + 1 bytes) fills whole allocator units.
    static uint32_t CapacityFor(uint32_t n);
    /// A representation in one operator-new block with its text: room for n
    /// bytes by the capacity rule, length n, text not yet written. Freed by
    /// KString::Free, never by delete. When it grows, the text moves out to a
    /// buffer of its own.
    static KStringRef* Create(uint32_t n);
    /// As Create, but in a small-object heap block, behind hostSize bytes (a
    /// multiple of 8, below 2048) of it, which *host receives for the caller's
    /// object; the capacity is n plus what fills the block's last allocator
    /// unit. The count
    /// starts at 1, held by that object, which gives it back with
    /// ReleaseHost when it goes; the block is freed when the last holder of
    /// either kind has gone.
    static KStringRef* CreateHosted(uint32_t n, size_t hostSize, void** host);

    char* fText;         ///< capacity + 1 bytes, NUL at fLength
    int32_t fRefCount;   ///< KStrings sharing this representation
    uint32_t fLength;    ///< bytes in use
    uint32_t fCapacity;  ///< bytes that fit before the buffer is replaced

   private:
    friend class KString;
    struct EmptyTag {};
    constexpr KStringRef(EmptyTag, char* text)
        : fText(text),
          fRefCount(1),
          fLength(0),
          fCapacity(0),
          fAdopted(false),
          fPacked(false),
          fInline(false),
          fHostWords(0) {}
    struct InlineTag {};
    KStringRef(InlineTag, uint32_t n, uint32_t capacity, uint8_t hostWords)
        : fText(reinterpret_cast<char*>(this + 1)),
          fRefCount(1),
          fLength(n),
          fCapacity(capacity),
          fAdopted(false),
          fPacked(true),
          fInline(true),
          fHostWords(hostWords) {}
    /// The start of the block of a representation made by Create or
    /// CreateHosted.
    void* Block() { return reinterpret_cast<char*>(this) - 8 * static_cast<size_t>(fHostWords); }
    /// The size of that block while the text is still in it.
    uint32_t InlineBlockBytes() const { return 8 * uint32_t{fHostWords} + uint32_t{sizeof(KStringRef)} + fCapacity + 1; }
    /// Gives the buffer room for n bytes by the capacity rule, keeping the
    /// text. REQUIRES: unshared, not gEmptyRef, n > fCapacity.
    void GrowTo(uint32_t n);

    bool fAdopted;  ///< fText came from array new (fills the padding)
    bool fPacked;   ///< made by Create: the block goes back to SmallFree
    bool fInline;   ///< fText lies in this block, behind the fields
    uint8_t fHostWords;  ///< CreateHosted: 8-byte words of host before it
  };

  /// Shared by every empty string. Its count never changes: copies of the
  /// empty string neither raise nor lower it, so threads never write to it.
  static KStringRef gEmptyRef;

  KString() noexcept : fRef(&gEmptyRef) {}
  /// Null or "" gives the empty string.
  KString(const char* s);  // NOLINT: implicit by design
  /// Exactly n bytes from p; null p or n == 0 gives the empty string.
  KString(const char* p, unsigned n);
  /// Shares other's representation: one count increment, no copy of the text.
  KString(const KString& other) noexcept : fRef(other.fRef) { AddReference(); }
  /// Leaves other empty.
  KString(KString&& other) noexcept : fRef(other.fRef) { other.fRef = &gEmptyRef; }
  ~KString() { DropReference(); }

  /// Raises the source's count before dropping ours: self-assignment is safe.
  KString& operator=(const KString& other) noexcept {
    KStringRef* r = other.fRef;
    if (r != &gEmptyRef) ++r->fRefCount;
    DropReference();
    fRef = r;
    return *this;
  }
  /// Takes other's representation; other becomes empty.
  KString& operator=(KString&& other) noexcept {
    if (this != &other) {
      DropReference();
      fRef = other.fRef;
      other.fRef = &gEmptyRef;
    }
    return *this;
  }
  /// Replaces the text by a copy of s (null or "" gives the empty string); s
  /// may point into this string's own text.
  KString& operator=(const char* s);

  /// Takes over p, which must come from array new: null or "" is freed and
  /// gives the empty string; otherwise p becomes the text (capacity = length).
  static KString KStringFromPtr(char* p);
  /// A string sharing r (its count goes up by one).
  static KString Sharing(KStringRef* r) noexcept {
    ++r->fRefCount;
    return KString(r, AdoptTag{});
  }
  /// Gives back the hold that CreateHosted gave the host object; the host
  /// calls it after its own strings are gone.
  static void ReleaseHost(KStringRef* r) noexcept {
    if (r->fRefCount < 2) {
      Free(r);
    } else {
      --r->fRefCount;
    }
  }

  /// Releases this string's hold on its representation, freeing it when this
  /// was the last holder; the string is empty afterwards.
  void DropReference() noexcept {
    KStringRef* r = fRef;
    if (r != &gEmptyRef) {
      if (r->fRefCount < 2) {
        Free(r);
      } else {
        --r->fRefCount;
      }
      fRef = &gEmptyRef;
    }
  }

  // ===== Access =====
  /// The NUL-terminated text; never null, valid until this string changes or
  /// goes.
  operator const char*() const { return fRef->fText; }
  /// Bytes of text, embedded NULs included, the terminator not counted.
  unsigned Length() const { return fRef->fLength; }
  /// Bytes the text can reach before its buffer is replaced; 0 when empty.
  unsigned Capacity() const { return fRef->fCapacity; }
  /// The representation, shared with the string's copies; never null.
  const KStringRef* Ref() const { return fRef; }
  /// Byte i; 0 outside 0..Length()-1.
  char operator[](int i) const {
    return (i < 0 || static_cast<uint32_t>(i) >= fRef->fLength) ? '\0' : fRef->fText[i];
  }

  // ===== Building =====
  /// Both texts in a new string; an empty right side shares this one.
  ///@{
  KString operator+(const char* s) const;
  KString operator+(const KString& s) const;
  ///@}

  /// Appends run in place while this string is the only holder and the
  /// capacity suffices; otherwise the text moves to a new representation
  /// sized by the capacity rule. Appending '\0', null or "" changes nothing.
  ///@{
  KString& operator+=(char c) {
    KStringRef* r = fRef;
    if (r->fLength < r->fCapacity && r->fRefCount == 1) {  // never gEmptyRef
      if (c != '\0') {
        r->fText[r->fLength] = c;
        r->fText[++r->fLength] = '\0';
      }
      return *this;
    }
    return AppendOutOfPlace(c);
  }
  KString& operator+=(const char* s) {
    if (s == nullptr || *s == '\0') return *this;
    return Append(s, std::strlen(s));
  }
  ///@}
  /// Appends all Length() bytes of s, embedded NULs included.
  KString& operator+=(const KString& s) {
    if (s.fRef->fLength == 0) return *this;
    return Append(s.fRef->fText, s.fRef->fLength);
  }

  /// New strings with each byte before the first NUL passed through
  /// tolower / toupper of the current C locale.
  ///@{
  KString Lower() const;
  KString Upper() const;
  ///@}

  // ===== Comparison =====
  /// Case-sensitive str_DBCS_cmp of the texts; lengths play no part.
  ///@{
  bool operator==(const KString& s) const {
    return fRef == s.fRef || CompareTexts(fRef->fText, s.fRef->fText) == 0;
  }
  bool operator==(const char* s) const { return CompareTexts(fRef->fText, s) == 0; }
  std::weak_ordering operator<=>(const KString& s) const {
    return CompareTexts(fRef->fText, s.fRef->fText) <=> 0;
  }
  std::weak_ordering operator<=>(const char* s) const { return CompareTexts(fRef->fText, s) <=> 0; }
  ///@}

  /// Orders a and b as str_DBCS_cmp(a, b, false) does, but returns only a
  /// sign-correct value: in single-byte and UTF-8 modes it is strcmp's own
  /// result, which saves the reduction to -1/0/1 and a call level on the
  /// hottest comparison path.
  static int CompareTexts(const char* a, const char* b);

 private:
  struct AdoptTag {};
  KString(KStringRef* r, AdoptTag) noexcept : fRef(r) {}
  void AddReference() noexcept {
    if (fRef != &gEmptyRef) ++fRef->fRefCount;
  }
  KString& Append(const char* p, size_t n) {
    KStringRef* r = fRef;
    if (n <= r->fCapacity - r->fLength && r->fRefCount == 1) {
      std::memcpy(r->fText + r->fLength, p, n);
      r->fLength += static_cast<uint32_t>(n);
      r->fText[r->fLength] = '\0';
      return *this;
    }
    return AppendOutOfPlace(p, n);
  }
  KString& AppendOutOfPlace(char c);
  KString& AppendOutOfPlace(const char* p, size_t n);
  static void Free(KStringRef* r) noexcept;

  KStringRef* fRef;  ///< never null
};

/// Writes the text up to its first NUL.
VXKERNEL_EXPORT std::ostream& operator<<(std::ostream& os, const KString& s);

#endif  // VXKERNEL_TEXT_KSTRING_H_
