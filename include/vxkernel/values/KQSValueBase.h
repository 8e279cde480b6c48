/// \file
/// KQSValueBase: heap storage of the script values that do not fit in the
/// data word. The scalar storage kinds (String, Bytes, Real, Long, Date) have
/// headers of their own.
#ifndef VXKERNEL_VALUES_KQSVALUEBASE_H_
#define VXKERNEL_VALUES_KQSVALUEBASE_H_

#include <cstddef>
#include <iosfwd>

#include "vxkernel/export.h"
#include "vxkernel/smallheap.h"

class KQSValue;
class KQSClassFormatter;
class KQSValueBaseClass;

/// The base of every heap storage object; its virtual members are what the
/// storage classes answer for their values, and the defaults here answer
/// "not supported".
///
/// A storage object is owned jointly by the values that point at it; its
/// reference count is kept by the value's class (KQSValueBaseClass), starts
/// at 0 and the release that brings it back to 0 destroys the object.
/// Scalar payloads never change after construction, so values share them
/// freely.
///
/// Thread rules: the reference count is a plain counter; values sharing one
/// storage object must be used by one thread at a time.
class VXKERNEL_EXPORT KQSValueBase {
 public:
  KQSValueBase() = default;
  KQSValueBase(const KQSValueBase&) = delete;
  KQSValueBase& operator=(const KQSValueBase&) = delete;
  virtual ~KQSValueBase();

  /// What the kind counts (elements, bytes, columns, pairs, rows);
  /// -1 (the default) for a kind without a length.
  virtual long Length() const;
  /// Identity order: 0 for the same object, else by address.
  virtual int Compare(KQSValueBase* other) const;
  /// The member names as a value; the default answers Undefined.
  virtual KQSValue Features();
  /// True when Dot knows name; the default asks Dot and means "not -1".
  virtual bool IsFeature(const KQSValue& name);
  /// The member name into out (env: the caller's context, may be null). 0 on
  /// success, else an error code; -1 (the default) when the kind has no
  /// members.
  virtual long Dot(const KQSValue& name, KQSValue& out, KQSValue* env);
  /// Sets the member name. 0 on success, else an error code (with one debug
  /// line); -1 (the default) when the kind has no members.
  virtual long DotValuePut(const KQSValue& name, const KQSValue& value);
  /// The element at [i, j] into out; kinds with one index want i == j. 0 on
  /// success, else an error code (with one debug line); -1 (the default)
  /// when the kind has no elements.
  virtual long Subscript(long i, long j, KQSValue& out);
  /// Sets the element at [i, j], as Subscript reads it. 0 on success, else
  /// an error code (with one debug line); -1 (the default) when the kind has
  /// no elements.
  virtual long SubscriptValuePut(long i, long j, const KQSValue& value);
  /// Calls the value with argc arguments at argv, the result into out. 0 on
  /// success, else an error code; -1 (the default) when it cannot be called.
  virtual long Invoke(short argc, KQSValue* argv, KQSValue& out);
  /// Writes the storage's own text form; false when it has none.
  virtual bool Formatter(std::ostream& out, KQSClassFormatter* f) const;
  /// The storage address printed with "%10lx", as a String value.
  virtual KQSValue ReferenceDebugStr(short how);

  /// The values holding this object now; 0 for one no value holds yet.
  long References() const { return fReferences; }

  ///@{
  /// Storage objects live in the library's small-object heap. The virtual
  /// destructor hands the sized delete the dynamic type's size; the
  /// placement form constructs in memory the caller provides.
  static void* operator new(size_t size) { return vxk::SmallAlloc(size); }
  static void* operator new(size_t, void* where) noexcept { return where; }
  static void operator delete(void* p, size_t size) noexcept { vxk::SmallFree(p, size); }
  ///@}

  ///@{
  /// Storage is counted per class; these report 0.
  static long AllocCount() { return 0; }
  static long AllocTotal() { return 0; }
  static long AllocReferenced() { return 0; }
  ///@}
  /// Writes the counts above as one debug line "Count = 0/0".
  static void DebugPrintCount();

 private:
  friend class KQSValueBaseClass;
  long fReferences = 0;
};

#endif  // VXKERNEL_VALUES_KQSVALUEBASE_H_
