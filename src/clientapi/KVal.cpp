// KVal: native data conversions and row/column access for C++ callers.
#include "vxkernel/clientapi/KVal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <istream>
#include <sstream>
#include <streambuf>
#include <vector>

#include "base/debug_line.h"
#include "clientapi/vx_internal.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KRZRow.h"
#include "vxkernel/values/KRZTable.h"
#include "vxkernel/values/type_numbers.h"

using vxk_internal::Guard;
using vxk_internal::GuardResult;

namespace {

using vxk_types::kRecord;
using vxk_types::kRecArray;

// Bytes a native type occupies in a destination; -1 for the variable ones.
long NativeWidth(long ctype) {
  switch (ctype) {
    case KVal::kNativeNone:
      return 0;
    case KVal::kNativeChar:
      return 1;
    case KVal::kNativeShort:
      return 2;
    case KVal::kNativeLong:
    case KVal::kNativeFloat:
      return 4;
    case KVal::kNativeDouble:
    case KVal::kNativeDate:
    case KVal::kNativeLongLong:
      return 8;
    default:
      return -1;
  }
}

bool KnownNative(long ctype) { return ctype >= KVal::kNativeNone && ctype <= KVal::kNativeLongLong; }

template <class T>
T Read(const void* src) {
  T v;
  std::memcpy(&v, src, sizeof v);
  return v;
}

// Copies a fixed-width field, never more than the destination holds.
template <class T>
long Write(void* dst, long size, T v) {
  const long n = static_cast<long>(sizeof v) <= size ? static_cast<long>(sizeof v) : (size > 0 ? size : 0);
  std::memcpy(dst, &v, static_cast<size_t>(n));
  return n;
}

int32_t Word32(const KQSValue& v) { return static_cast<int32_t>(static_cast<long>(v)); }

KRZTable* TableOf(const KQSValue& v) {
  return v.Type() == kRecArray && v.User() != nullptr ? KRZTable::FromValue(v) : nullptr;
}
KRZRow* RowOf(const KQSValue& v) { return v.Type() == kRecord && v.User() != nullptr ? KRZRow::FromValue(v) : nullptr; }

// The Record addressed by (v, row): the table's row, or v itself.
KRZRow* AddressedRow(const KQSValue& v, long row) {
  if (KRZTable* t = TableOf(v)) {
    if (row < 1 || row > t->Length()) return nullptr;
    return RowOf(t->GetRow(row));
  }
  return RowOf(v);
}

}  // namespace

long KVal::Check(const VAPIVALUE* handle, KQSValue** out) {
  if (handle == nullptr || *handle == nullptr) return kNullHandle;
  if (out != nullptr) *out = reinterpret_cast<KQSValue*>(*handle);
  return 0;
}

long KVal::Type(const KQSValue& v, long* type) {
  if (type != nullptr) *type = v.Type();
  return 0;
}

long KVal::CToValue(KQSValue& v, long ctype, const void* src, long length) {
  return Guard("KVal::CToValue", [&]() -> long {
    if (!KnownNative(ctype)) return kUnknownType;
    if (src == nullptr) return 0;
    switch (ctype) {
      case kNativeNone:
        v = KQSValue();
        break;
      case kNativeChar:
        v = Read<char>(src);
        break;
      case kNativeShort:
        v = Read<short>(src);
        break;
      case kNativeLong:
        v = static_cast<int>(Read<int32_t>(src));
        break;
      case kNativeFloat:
        v = static_cast<double>(Read<float>(src));
        break;
      case kNativeDouble:
        v = Read<double>(src);
        break;
      case kNativeString:
        v = static_cast<const char*>(src);
        break;
      case kNativeBytes:
        v = KQSValue(vxk_types::kBytes, src, length);
        break;
      case kNativeDate: {
        KDateTime d;
        d.Systime(Read<int64>(src), false);
        v = KQSValue(d);
        break;
      }
      default:
        v = KQSValue(Read<int64>(src));
    }
    return 0;
  });
}

long KVal::ValueToC(const KQSValue& v, long ctype, void* dst, long size, long* length) {
  return Guard("KVal::ValueToC", [&]() -> long {
    if (dst == nullptr) return kNullDestination;
    if (!KnownNative(ctype)) return kUnknownType;
    if (size < 0) size = 0;
    if (v.IsUndefined()) {
      // Zero-filled for the type: one NUL for text, the whole buffer for bytes.
      long n = ctype == kNativeString ? 1 : (ctype == kNativeBytes ? size : NativeWidth(ctype));
      if (n > size) n = size;
      std::memset(dst, 0, static_cast<size_t>(n));
      if (length != nullptr) *length = 0;
      return kUndefinedValue;
    }
    long produced = 0;
    switch (ctype) {
      case kNativeNone:
        break;
      case kNativeChar:
        produced = Write(dst, size, static_cast<char>(Word32(v)));
        break;
      case kNativeShort:
        produced = Write(dst, size, static_cast<int16_t>(Word32(v)));
        break;
      case kNativeLong:
        produced = Write(dst, size, Word32(v));
        break;
      case kNativeFloat:
        produced = Write(dst, size, static_cast<float>(static_cast<double>(v)));
        break;
      case kNativeDouble:
        produced = Write(dst, size, static_cast<double>(v));
        break;
      case kNativeString: {
        const KString& s = v.String();
        const long n = static_cast<long>(s.Length());
        const long copied = size > 0 ? (n < size - 1 ? n : size - 1) : 0;
        if (size > 0) {
          std::memcpy(dst, static_cast<const char*>(s), static_cast<size_t>(copied));
          static_cast<char*>(dst)[copied] = '\0';
        }
        produced = n;
        break;
      }
      case kNativeBytes: {
        const long n = v.Type() == vxk_types::kBytes && v.User() != nullptr ? v.Length() : 0;
        if (n > 0) std::memcpy(dst, v.Bytes(), static_cast<size_t>(n < size ? n : size));
        produced = n;
        break;
      }
      case kNativeDate:
        produced =
            Write(dst, size, v.Type() == vxk_types::kDate && v.User() != nullptr ? v.Date().Systime() : int64{0});
        break;
      default:
        produced = Write(dst, size, static_cast<int64>(v));
    }
    if (length != nullptr) *length = produced;
    return 0;
  });
}

KQSValue KVal::Get(const KQSValue& v, const char* column, long row) {
  return GuardResult<KQSValue>("KVal::Get", [&]() -> KQSValue {
    KRZRow* r = AddressedRow(v, row);
    const long c = r != nullptr && column != nullptr ? r->GetColIndex(column) : 0;
    return c > 0 ? r->GetColumn(c) : KQSValue();
  });
}

KQSValue KVal::Get(const KQSValue& v, long column, long row) {
  return GuardResult<KQSValue>("KVal::Get", [&]() -> KQSValue {
    if (v.IsList()) return v.ListGetValue(column);
    KRZRow* r = AddressedRow(v, row);
    return r != nullptr && column >= 1 && column <= r->Width() ? r->GetColumn(column) : KQSValue();
  });
}

long KVal::Put(const KQSValue& value, KQSValue& target, const char* column, long row) {
  return Guard("KVal::Put", [&]() -> long {
    KRZRow* r = AddressedRow(target, row);
    const long c = r != nullptr && column != nullptr ? r->GetColIndex(column) : 0;
    if (c > 0) r->SetColumn(value, c);
    return 0;
  });
}

long KVal::Put(const KQSValue& value, KQSValue& target, long column, long row) {
  return Guard("KVal::Put", [&]() -> long {
    KRZRow* r = AddressedRow(target, row);
    if (r != nullptr && column >= 1 && column <= r->Width()) r->SetColumn(value, column);
    return 0;
  });
}

long KVal::Rename(KQSValue& table, const char* from, const char* to) {
  return Guard("KVal::Rename", [&]() -> long {
    KRZTable* t = TableOf(table);
    const long c = t != nullptr && from != nullptr && to != nullptr ? t->GetColIndex(from) : 0;
    if (c > 0) t->RenameColumn(c, to);
    return 0;
  });
}

long KVal::Delete(KQSValue& table, const char* column) {
  return Guard("KVal::Delete", [&]() -> long {
    KRZTable* t = TableOf(table);
    const long c = t != nullptr && column != nullptr ? t->GetColIndex(column) : 0;
    if (c > 0) t->DeleteColumn(c);
    return 0;
  });
}

namespace {

// The text form of a value as a String; Undefined stays Undefined.
KQSValue TextOf(const KQSValue& v) {
  if (v.IsUndefined()) return v;
  std::ostringstream s;
  s << v;
  return KQSValue(s.str().c_str());
}

// Reads a String's bytes in place, without copying them into a string
// stream. Nothing is ever written through the pointers.
class TextBuffer : public std::streambuf {
 public:
  TextBuffer(const char* text, unsigned length) {
    char* p = const_cast<char*>(text);
    setg(p, p, p + length);
  }
};

// The value a String's text form reads as; any other value as it is.
KQSValue ValueOf(const KQSValue& v) {
  if (!v.IsString()) return v;
  const KString& text = v.String();
  TextBuffer buffer(text, text.Length());
  std::istream in(&buffer);
  KQSValue out;
  in >> out;
  return out;
}

// Column c of every distinct row: each Record is converted once, even when
// several rows (or the same row twice) hold it.
long ConvertColumn(KQSValue& target, const char* name, long number, bool toString) {
  std::vector<KRZRow*> rows;
  if (KRZTable* t = TableOf(target)) {
    const long n = t->Length();
    rows.reserve(static_cast<size_t>(n));
    for (long i = 1; i <= n; ++i) {
      const KQSValue r = t->GetRow(i);
      if (KRZRow* row = RowOf(r)) rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  } else if (KRZRow* row = RowOf(target)) {
    rows.push_back(row);
  }
  for (KRZRow* row : rows) {
    const long c = name != nullptr ? row->GetColIndex(name) : number;
    if (c < 1 || c > row->Width()) continue;
    const KQSValue cell = row->GetColumn(c);
    row->SetColumn(toString ? TextOf(cell) : ValueOf(cell), c);
  }
  return 0;
}

}  // namespace

void KVal::AllocFailed() { vxk_internal::DebugLine("KVal::Alloc", "out of memory"); }

KQSValue KVal::ValueToString(const KQSValue& v) {
  return GuardResult<KQSValue>("KVal::ValueToString", [&] { return TextOf(v); });
}

KQSValue KVal::StringToValue(const KQSValue& v) {
  return GuardResult<KQSValue>("KVal::StringToValue", [&] { return ValueOf(v); });
}

long KVal::Convert(KQSValue& table, const char* column, bool toString) {
  return Guard("KVal::Convert", [&]() -> long {
    if (column == nullptr) return 0;
    return ConvertColumn(table, column, 0, toString);
  });
}

long KVal::Convert(KQSValue& table, long column, bool toString) {
  return Guard("KVal::Convert",
               [&]() -> long { return ConvertColumn(table, nullptr, column, toString); });
}

long KVal::Add(KQSValue& table, long n, const KQSValue* values) {
  return Guard("KVal::Add", [&]() -> long {
    if (n < 0) n = 0;
    KQSValue row = KQSValue::List();
    for (long i = 0; i < n; ++i) row.ListAppendValue(values[i]);
    if (TableOf(table) == nullptr) {
      // Made aside, so a failure leaves the value as it was.
      KQSValue names = KQSValue::List();
      names.ListAllocate(n);
      KQSValue made = KRZTable::MakeValue(new KRZTable(names));
      TableOf(made)->AddRow(&row);
      table = made;
      return 0;
    }
    TableOf(table)->AddRow(&row);
    return 0;
  });
}
