// KQSValueBase: heap storage of the script values that do not fit in the
// data word, and the scalar storage kinds (String, Bytes, Real, Long, Date).
//
// A storage object is owned jointly by the values that point at it; its
// reference count is kept by the value's class (KQSValueBaseClass), starts
// at 0 and the release that brings it back to 0 destroys the object.
// Scalar payloads never change after construction, so values share them
// freely.
//
// Thread rules: the reference count is a plain counter; values sharing one
// storage object must be used by one thread at a time.
#ifndef VXKERNEL_VALUES_KQSVALUEBASE_H_
#define VXKERNEL_VALUES_KQSVALUEBASE_H_

#include <cstddef>
#include <iosfwd>
#include <new>

#include "vxkernel/export.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/vxtypes.h"

class KQSValue;
class KQSClassFormatter;
class KQSValueBaseClass;

class VXKERNEL_EXPORT KQSValueBase {
 public:
  KQSValueBase() = default;
  KQSValueBase(const KQSValueBase&) = delete;
  KQSValueBase& operator=(const KQSValueBase&) = delete;
  virtual ~KQSValueBase();

  virtual long Length() const;
  // Identity order: 0 for the same object, else by address.
  virtual int Compare(KQSValueBase* other) const;
  virtual KQSValue Features();
  virtual bool IsFeature(const KQSValue& name);
  virtual long Dot(const KQSValue& name, KQSValue& out, KQSValue* env);
  virtual long DotValuePut(const KQSValue& name, const KQSValue& value);
  virtual long Subscript(long i, long j, KQSValue& out);
  virtual long SubscriptValuePut(long i, long j, const KQSValue& value);
  virtual long Invoke(short argc, KQSValue* argv, KQSValue& out);
  // Writes the storage's own text form; false when it has none.
  virtual bool Formatter(std::ostream& out, KQSClassFormatter* f) const;
  // The storage address printed with "%10lx", as a String value.
  virtual KQSValue ReferenceDebugStr(short how);

  long References() const { return fReferences; }

  // Storage is counted per class; these report 0.
  static long AllocCount() { return 0; }
  static long AllocTotal() { return 0; }
  static long AllocReferenced() { return 0; }
  static void DebugPrintCount();

 private:
  friend class KQSValueBaseClass;
  long fReferences = 0;
};

// The text of a String (and TypeCode) value, shared by reference.
//
// Make puts storage and text in one block: the storage object first, its
// string's representation right behind it. The block holds one count of the
// representation besides fString, and goes when the storage and every copy
// of its string have gone (a copy of String() may outlive the storage).
class VXKERNEL_EXPORT KQSValueString : public KQSValueBase {
 public:
  explicit KQSValueString(const KString& s) : fString(s) {}
  // New storage holding a copy of the n bytes at p, in one allocation.
  static KQSValueString* Make(const char* p, unsigned n);
  // Destroys the storage, then frees its block unless a copy of its
  // string still holds the text that lives there.
  static void operator delete(KQSValueString* p, std::destroying_delete_t);

  long Length() const override { return static_cast<long>(fString.Length()); }
  // Quoted text with line ends, quotes and backslashes escaped.
  bool Formatter(std::ostream& out, KQSClassFormatter* f) const override;
  virtual const KString& String() const { return fString; }
  virtual short Type() const { return -1; }
  // The type as a 2-byte integer, then the text, in the portable byte order.
  virtual void StringBinaryOutput(std::ostream& out, short type, ...) const;
  long LengthInChars() const;

 private:
  KString fString;
};

// A byte string, stored inline after its length in one allocation.
class VXKERNEL_EXPORT KQSValueBytes : public KQSValueBase {
 public:
  // Allocates the object together with room for length payload bytes.
  static void* operator new(size_t size, long length);
  static void operator delete(void* p, long length);
  static void operator delete(void* p);
  // Copies length bytes from bytes (or zero-fills them for null bytes).
  KQSValueBytes(const void* bytes, long length);
  static KQSValueBytes* Make(const void* bytes, long length) { return new (length) KQSValueBytes(bytes, length); }

  long Length() const override { return fLength; }
  const unsigned char* Bytes() const { return fBytes; }
  unsigned char* Bytes() { return fBytes; }

 private:
  long fLength;
  unsigned char fBytes[1];
};

class VXKERNEL_EXPORT KQSValueReal : public KQSValueBase {
 public:
  explicit KQSValueReal(double v) : fValue(v) {}
  double Value() const { return fValue; }

 private:
  double fValue;
};

class VXKERNEL_EXPORT KQSValueLong : public KQSValueBase {
 public:
  explicit KQSValueLong(int64 v) : fValue(v) {}
  int64 Value() const { return fValue; }

 private:
  int64 fValue;
};

class VXKERNEL_EXPORT KQSValueDate : public KQSValueBase {
 public:
  explicit KQSValueDate(const KDateTime& d) : fDate(d) {}
  const KDateTime& Date() const { return fDate; }
  KQSValue ReferenceDebugStr(short how) override;

 private:
  KDateTime fDate;
};

#endif  // VXKERNEL_VALUES_KQSVALUEBASE_H_
