/// \file
/// KQSValueString: the storage of String and TypeCode values.
#ifndef VXKERNEL_VALUES_KQSVALUESTRING_H_
#define VXKERNEL_VALUES_KQSVALUESTRING_H_

#include <iosfwd>
#include <new>

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/values/KQSValueBase.h"

class KQSClassFormatter;

/// The text of a String (and TypeCode) value, shared by reference.
///
/// Make puts storage and text in one block: the storage object first, its
/// string's representation right behind it. The block holds one count of the
/// representation besides fString, and goes when the storage and every copy
/// of its string have gone (a copy of String() may outlive the storage).
///
/// Owned jointly by the values that hold it (KQSValueBase); the payload never
/// changes after construction. Values sharing it are used by one thread at a
/// time.
class VXKERNEL_EXPORT KQSValueString : public KQSValueBase {
 public:
  /// Shares s's text (a reference, not a copy).
  explicit KQSValueString(const KString& s) : fString(s) {}
  /// New storage holding a copy of the n bytes at p, in one allocation.
  static KQSValueString* Make(const char* p, unsigned n);
  /// Destroys the storage, then frees its block unless a copy of its
  /// string still holds the text that lives there.
  static void operator delete(KQSValueString* p, std::destroying_delete_t);
  /// Frees the block of a construction that threw.
  using KQSValueBase::operator delete;

  /// Bytes of the text, without a terminating NUL.
  long Length() const override { return static_cast<long>(fString.Length()); }
  /// Quoted text with line ends, quotes and backslashes escaped.
  bool Formatter(std::ostream& out, KQSClassFormatter* f) const override;
  /// The text; a copy may outlive the storage.
  virtual const KString& String() const { return fString; }
  /// Always vxk_types::kString; a TypeCode value is told apart by its
  /// class, not by its storage.
  virtual short Type() const { return -1; }
  /// The type as a 2-byte integer, then the text, in the portable byte order.
  virtual void StringBinaryOutput(std::ostream& out, short type, ...) const;
  /// Characters of the text: multi-byte characters of the current text
  /// environment count once; in a single-byte one this is Length().
  long LengthInChars() const;

 private:
  KString fString;
};

#endif  // VXKERNEL_VALUES_KQSVALUESTRING_H_
