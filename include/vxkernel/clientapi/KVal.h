/// \file
/// KVal: the class bridge between script values and plain data, for C++
/// callers that hold values directly, and the VAPIVALUE handle type.
#ifndef VXKERNEL_CLIENTAPI_KVAL_H_
#define VXKERNEL_CLIENTAPI_KVAL_H_

#include <new>

#include "vxkernel/clientapi/vx_value.h"
#include "vxkernel/export.h"
#include "vxkernel/values/KQSValue.h"

/// The flat interface's value handle under the name KVal uses: a VXVALUE.
typedef VXVALUE VAPIVALUE;

/// Converts script values to and from plain data for C++ callers.
///
/// Values are converted by a native-type code (kNative...), and RecArray and
/// Record values get row and column access. All members are static; handles
/// (VAPIVALUE) are the same objects as the VXVALUE handles of vx_value.h.
/// No member throws: when memory runs out, one that returns a status answers
/// kNoMemory, one that returns a value answers Undefined (Alloc: null), and
/// each writes one debug line "KVal::<member> - out of memory" (any other
/// failure inside: VX_ERR_INTERNAL and a line of its own). Members that
/// change a table in place may leave it partly changed.
/// Thread rules: a value is used by one thread at a time.
class VXKERNEL_EXPORT KVal {
 public:
  // Status codes.
  static constexpr long kNullHandle = 0x277B0002;       ///< Check got a null handle
  static constexpr long kNullDestination = 0x277B0003;  ///< ValueToC got a null dst
  static constexpr long kUnknownType = 0x277B0004;      ///< not a kNative code
  /// ValueToC of Undefined: dst is zero-filled for the type (one NUL for a
  /// string, the whole buffer for bytes) and *length is 0.
  static constexpr long kUndefinedValue = 0x277B0005;
  static constexpr long kNoMemory = VX_ERR_NO_MEMORY;  ///< as the VX_ functions

  /// Native-type codes; the bytes ValueToC writes are fixed whatever the
  /// build machine's type widths: 1, 2, 4, 4, 8 for char, short, long
  /// (32 bits), float and double, 8 for dates and 64-bit integers.
  enum Native : long {
    kNativeNone = 1,
    kNativeChar = 2,
    kNativeShort = 3,
    kNativeLong = 4,
    kNativeFloat = 5,
    kNativeDouble = 6,
    kNativeString = 7,
    kNativeBytes = 8,
    kNativeDate = 9,      ///< 64-bit seconds since 1970, local time
    kNativeLongLong = 10,
  };

  KVal() = delete;

  /// A new Undefined value; null when memory ran out.
  static KQSValue* Alloc() {
    KQSValue* v = new (std::nothrow) KQSValue();
    if (v == nullptr) AllocFailed();
    return v;
  }
  /// Deletes a value made by Alloc; null is allowed.
  static void Free(KQSValue* v) { delete v; }
  /// kNullHandle for a null handle; else the value (when out is given) and 0.
  static long Check(const VAPIVALUE* handle, KQSValue** out);
  /// *type = the value's type number (vxk_types), unless type is null.
  /// Always 0.
  static long Type(const KQSValue& v, long* type);

  /// Builds v from native data; a null src leaves v and answers 0.
  static long CToValue(KQSValue& v, long ctype, const void* src, long length);
  /// Writes v as native data into dst (size bytes); *length gets the bytes
  /// produced (the full length for strings and bytes).
  static long ValueToC(const KQSValue& v, long ctype, void* dst, long size, long* length);

  /// RecArray: the column of row (1-based, at most the length); Record: the
  /// column; otherwise Undefined.
  static KQSValue Get(const KQSValue& v, const char* column, long row);
  /// The same by column number (1-based); a List yields its element.
  static KQSValue Get(const KQSValue& v, long column, long row);
  ///@{
  /// RecArray: sets the column (by name, or 1-based number up to the width)
  /// of row; Record: sets the column. By name only an existing column; an
  /// absent column or row changes nothing. Always 0.
  static long Put(const KQSValue& value, KQSValue& target, const char* column, long row);
  static long Put(const KQSValue& value, KQSValue& target, long column, long row);
  ///@}
  ///@{
  /// RecArray only: renames or deletes an existing column. Always 0.
  static long Rename(KQSValue& table, const char* from, const char* to);
  static long Delete(KQSValue& table, const char* column);
  ///@}
  /// A String of the value's text form; Undefined stays Undefined.
  static KQSValue ValueToString(const KQSValue& v);
  /// The value a String's text form reads as (operator>>); Undefined stays
  /// Undefined and any other value is returned as it is.
  static KQSValue StringToValue(const KQSValue& v);
  ///@{
  /// Converts one column (by name, or 1-based number) of every row of a
  /// RecArray, or of a Record, in place: ValueToString of each cell when
  /// toString is true, else StringToValue. A Record held by several rows is
  /// converted once. Anything else is left alone. Always 0.
  static long Convert(KQSValue& table, const char* column, bool toString);
  static long Convert(KQSValue& table, long column, bool toString);
  ///@}

  /// Appends one row to a RecArray and fills its first cells; a value that is
  /// not a RecArray is first replaced by a new one with n unnamed columns.
  /// Always 0.
  static long Add(KQSValue& table, long n, const KQSValue* values);
  /// The same with the cells given as one to twelve arguments.
  template <class... Values>
  static long Add(KQSValue& table, const KQSValue& first, const Values&... rest) {
    static_assert(sizeof...(rest) < 12, "one to twelve values");
    const KQSValue values[] = {first, rest...};
    return Add(table, static_cast<long>(1 + sizeof...(rest)), values);
  }

 private:
  static void AllocFailed();  ///< writes Alloc's debug line
};

#endif  // VXKERNEL_CLIENTAPI_KVAL_H_
