// The VX_Value functions that reach into containers: whole-container
// operations, members by 0-based index and by name, and their composites
// (Member in vx_internal.h), so the scalar rules live in one place.
#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>

#include "clientapi/vx_internal.h"
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KRZRow.h"
#include "vxkernel/values/KRZTable.h"

using namespace vxk_internal::types;
using vxk_internal::H;
using vxk_internal::Is;
using vxk_internal::Set;
using vxk_internal::V;

namespace {

KAssocVal* AssocOf(const KQSValue& v) { return static_cast<KAssocVal*>(v.User()); }

// The number of members reachable by index, or -1 without indexed access.
long MemberCount(const KQSValue& v) {
  switch (v.Type()) {
    case kRecArray:
    case kRecord:
    case kAssoc:
      return v.User() != nullptr ? v.User()->Length() : 0;
    case kList:
      return v.ListEntries();
    default:
      return -1;
  }
}

long CheckIndex(VXVALUE h, long i) {
  if (h == nullptr) return VX_ERR_NO_INDEX_ACCESS;
  const long n = MemberCount(V(h));
  if (n < 0) return VX_ERR_NO_INDEX_ACCESS;
  return i >= 0 && i < n ? VX_OK : VX_ERR_INDEX_RANGE;
}

// The name of column or key i (0-based) as a value.
long MemberName(VXVALUE h, long i, KQSValue& name) {
  if (h == nullptr) return VX_ERR_NO_INDEX_ACCESS;
  const KQSValue& v = V(h);
  switch (v.Type()) {
    case kRecArray:
    case kRecord: {
      if (v.User() == nullptr) return VX_ERR_INDEX_RANGE;
      const KQSValue names =
          v.Type() == kRecArray ? KRZTable::FromValue(v)->ColNames() : KRZRow::FromValue(v)->ColNames();
      if (i < 0 || i >= names.ListEntries()) return VX_ERR_INDEX_RANGE;
      name = names.ListGetValue(i + 1);
      return VX_OK;
    }
    case kAssoc: {
      KQSValue value;
      if (v.User() == nullptr || i < 0 || !AssocOf(v)->GetNth(i + 1, name, value)) return VX_ERR_INDEX_RANGE;
      return VX_OK;
    }
    default:
      return VX_ERR_NO_INDEX_ACCESS;
  }
}

// Growths from this many elements on are probed first (below).
constexpr long kProbeFrom = 1L << 16;

// Asks the heap for the room count more elements of each bytes would take,
// in one piece, and gives it straight back: a growth the heap could never
// hold fails here (std::bad_alloc, or std::length_error when the size does
// not even fit a size_t) before the first element is made, instead of
// filling memory element by element until the system stops the process.
// The elements are smaller than each, so a probe that passes proves
// nothing; it only keeps hopeless requests cheap.
void ProbeGrowth(long count, size_t each) {
  if (count < kProbeFrom) return;
  if (static_cast<unsigned long>(count) > std::numeric_limits<size_t>::max() / each)
    throw std::length_error("growth beyond the address space");
  void* volatile room = ::operator new(static_cast<size_t>(count) * each);
  ::operator delete(room);
}

}  // namespace

namespace vxk_internal::vx {

long ValueGetWidth(VXVALUE value, long* width) {
  if (value == nullptr || width == nullptr) return VX_ERR_WRONG_TYPE;
  const KQSValue& v = V(value);
  if (v.Type() == kRecArray) *width = v.User() != nullptr ? KRZTable::FromValue(v)->Width() : 0;
  else *width = MemberCount(v) >= 0 ? MemberCount(v) : 1;
  return VX_OK;
}

// A List grows in a copy, which replaces the value only once complete. A
// RecArray grows in place (its rows are shared with every copy), so rows
// added before a failure are taken off again.
long ValueSetLength(VXVALUE value, long n) {
  if (Is(value, kRecArray) && V(value).User() != nullptr) {
    KRZTable* table = KRZTable::FromValue(V(value));
    const long before = table->Length();
    ProbeGrowth(n - before, static_cast<size_t>(table->Width() + 2) * sizeof(KQSValue));
    try {
      table->Length(n);
    } catch (...) {
      table->Length(before);
      throw;
    }
    return VX_OK;
  }
  if (Is(value, kList)) {
    KQSValue copy = V(value);
    ProbeGrowth(n - copy.ListEntries(), sizeof(KQSValue));
    copy.ListAllocate(n);
    return Set(value, copy);
  }
  return VX_ERR_WRONG_TYPE;
}

long ValueSetList(VXVALUE value) { return Set(value, KQSValue::List()); }

long ValueSetAssoc(VXVALUE value) {
  return Set(value, KQSValue(static_cast<short>(kAssoc), static_cast<void*>(new KAssocVal())));
}

long ValueSetAssocOutArgs(VXVALUE value) { return ValueSetAssoc(value); }

long ValueSetAssocInArgs(VXVALUE value) {
  return Set(value, KQSValue(static_cast<short>(kAssoc), static_cast<void*>(new KAssocVal(KQSValue::NotSet()))));
}

long ValueSetTable(VXVALUE value, const VXVALUE columns) {
  if (value == nullptr) return VX_ERR_WRONG_TYPE;
  if (columns != nullptr && !V(columns).IsList()) return VX_ERR_BAD_ARGUMENT;
  KRZTable* table = columns != nullptr ? new KRZTable(V(columns)) : new KRZTable();
  return Set(value, KRZTable::MakeValue(table));
}

long ValueGetIndexValue(VXVALUE value, long i, VXVALUE out) {
  long status = CheckIndex(value, i);
  if (status != VX_OK) return status;
  if (out == nullptr) return VX_ERR_WRONG_TYPE;
  const KQSValue& v = V(value);
  KQSValue member;
  switch (v.Type()) {
    case kRecArray:
      member = KRZTable::FromValue(v)->GetRow(i + 1);
      break;
    case kRecord:
      member = KRZRow::FromValue(v)->GetColumn(i + 1);
      break;
    case kAssoc: {
      KQSValue key;
      AssocOf(v)->GetNth(i + 1, key, member);
      break;
    }
    default:
      member = v.ListGetValue(i + 1);
  }
  V(out) = member;
  return VX_OK;
}

long ValueSetIndexValue(VXVALUE value, long i, const VXVALUE v) {
  long status = CheckIndex(value, i);
  if (status != VX_OK) return status;
  if (v == nullptr) return VX_ERR_BAD_ARGUMENT;
  KQSValue copy = V(value);
  const KQSValue& member = V(v);
  switch (copy.Type()) {
    case kRecArray: {
      KQSValue list;
      if (member.Type() == kRecord && member.User() != nullptr) list = KRZRow::FromValue(member)->GetRow();
      else if (member.IsList()) list = member;
      else return VX_ERR_BAD_ARGUMENT;
      KRZTable::FromValue(copy)->SetRowValues(list, i + 1);
      break;
    }
    case kRecord:
      KRZRow::FromValue(copy)->SetColumn(member, i + 1);
      break;
    case kList:
      copy.ListSetValue(i + 1, member);
      break;
    default:
      return VX_ERR_NO_INDEX_ACCESS;
  }
  return Set(value, copy);
}

long ValueGetIndexField(VXVALUE value, long i, char* buffer, long size, long* length) {
  KQSValue name;
  const long status = MemberName(value, i, name);
  return status != VX_OK ? status : ValueGetString(H(&name), buffer, size, length);
}

long ValueGetIndexFieldPtr(VXVALUE value, long i, const char** s) {
  // The text belongs to the names row or the key, which outlive the copy.
  KQSValue name;
  const long status = MemberName(value, i, name);
  return status != VX_OK ? status : ValueGetStringPtr(H(&name), s);
}

long ValueGetFieldValue(VXVALUE value, const char* name, VXVALUE out) {
  if (value == nullptr || name == nullptr || out == nullptr) return VX_ERR_NO_NAMED_ACCESS;
  const KQSValue& v = V(value);
  if (v.Type() == kRecord && v.User() != nullptr) {
    const KRZRow* row = KRZRow::FromValue(v);
    const long c = row->GetColIndex(name);
    if (c <= 0) return VX_ERR_NO_FIELD;
    V(out) = row->GetColumn(c);
    return VX_OK;
  }
  if (v.Type() == kAssoc && v.User() != nullptr) {
    KQSValue member;
    if (!AssocOf(v)->Get(KQSValue(name), member)) return VX_ERR_NO_FIELD;
    V(out) = member;
    return VX_OK;
  }
  return VX_ERR_NO_NAMED_ACCESS;
}

long ValueSetFieldValue(VXVALUE value, const char* name, const VXVALUE v) {
  if (value == nullptr || name == nullptr || v == nullptr) return VX_ERR_WRONG_TYPE;
  const KQSValue& target = V(value);
  if (target.Type() == kRecord && target.User() != nullptr) {
    KRZRow* row = KRZRow::FromValue(target);
    const long c = row->GetColIndex(name);
    if (c <= 0) return VX_ERR_NO_FIELD;
    row->SetColumn(V(v), c);
    return VX_OK;
  }
  if (target.Type() == kAssoc && target.User() != nullptr) {
    target.DotValuePut(KQSValue(name), V(v));
    return VX_OK;
  }
  return VX_ERR_WRONG_TYPE;
}

}  // namespace vxk_internal::vx

namespace {

namespace vx = vxk_internal::vx;

// Members by 0-based index: the index is checked before a new member is
// built.
class ByIndex : public vxk_internal::Member<ByIndex> {
 public:
  ByIndex(VXVALUE c, long i) : fContainer(c), fIndex(i) {}
  long Get(VXVALUE out) const { return vx::ValueGetIndexValue(fContainer, fIndex, out); }
  long Set(VXVALUE v) const { return vx::ValueSetIndexValue(fContainer, fIndex, v); }
  long Check() const { return CheckIndex(fContainer, fIndex); }

 private:
  VXVALUE fContainer;
  long fIndex;
};

// Members by name: Record columns and Assoc entries.
class ByName : public vxk_internal::Member<ByName> {
 public:
  ByName(VXVALUE c, const char* name) : fContainer(c), fName(name) {}
  long Get(VXVALUE out) const { return vx::ValueGetFieldValue(fContainer, fName, out); }
  long Set(VXVALUE v) const { return vx::ValueSetFieldValue(fContainer, fName, v); }

 private:
  VXVALUE fContainer;
  const char* fName;
};

}  // namespace

using vxk_internal::Guard;

// ===== The exported functions =====
// Each is its internal form run in the guard, one per line so that a
// search for the name finds its definition.

// clang-format off
extern "C" {

long VX_ValueGetWidth(VXVALUE v, long* width) { return Guard(__func__, vx::ValueGetWidth, v, width); }
long VX_ValueSetLength(VXVALUE v, long n) { return Guard(__func__, vx::ValueSetLength, v, n); }
long VX_ValueSetList(VXVALUE v) { return Guard(__func__, vx::ValueSetList, v); }
long VX_ValueSetAssoc(VXVALUE v) { return Guard(__func__, vx::ValueSetAssoc, v); }
long VX_ValueSetAssocOutArgs(VXVALUE v) { return Guard(__func__, vx::ValueSetAssocOutArgs, v); }
long VX_ValueSetAssocInArgs(VXVALUE v) { return Guard(__func__, vx::ValueSetAssocInArgs, v); }
long VX_ValueSetTable(VXVALUE v, const VXVALUE columns) { return Guard(__func__, vx::ValueSetTable, v, columns); }

long VX_ValueGetIndexValue(VXVALUE c, long i, VXVALUE out) { return Guard(__func__, vx::ValueGetIndexValue, c, i, out); }
long VX_ValueSetIndexValue(VXVALUE c, long i, const VXVALUE v) { return Guard(__func__, vx::ValueSetIndexValue, c, i, v); }
long VX_ValueGetIndexField(VXVALUE c, long i, char* buf, long size, long* len) { return Guard(__func__, vx::ValueGetIndexField, c, i, buf, size, len); }
long VX_ValueGetIndexFieldPtr(VXVALUE c, long i, const char** s) { return Guard(__func__, vx::ValueGetIndexFieldPtr, c, i, s); }
long VX_ValueIndexIsUndefined(VXVALUE c, long i) { return Guard(__func__, [&] { return ByIndex(c, i).IsUndefined(); }); }
long VX_ValueIndexIsDefined(VXVALUE c, long i) { return Guard(__func__, [&] { return ByIndex(c, i).IsDefined(); }); }
long VX_ValueIndexSetUndefined(VXVALUE c, long i) { return Guard(__func__, [&] { return ByIndex(c, i).SetUndefined(); }); }
long VX_ValueGetIndexWidth(VXVALUE c, long i, long* width) { return Guard(__func__, [&] { return ByIndex(c, i).GetWidth(width); }); }
long VX_ValueGetIndexType(VXVALUE c, long i, long* type) { return Guard(__func__, [&] { return ByIndex(c, i).GetType(type); }); }
long VX_ValueGetIndexLength(VXVALUE c, long i, long* len) { return Guard(__func__, [&] { return ByIndex(c, i).GetLength(len); }); }
long VX_ValueSetIndexLength(VXVALUE c, long i, long n) { return Guard(__func__, [&] { return ByIndex(c, i).SetLength(n); }); }
long VX_ValueGetIndexInteger(VXVALUE c, long i, long* n) { return Guard(__func__, [&] { return ByIndex(c, i).GetInteger(n); }); }
long VX_ValueSetIndexInteger(VXVALUE c, long i, long n) { return Guard(__func__, [&] { return ByIndex(c, i).SetInteger(n); }); }
long VX_ValueGetIndexLongLong(VXVALUE c, long i, long long* n) { return Guard(__func__, [&] { return ByIndex(c, i).GetLongLong(n); }); }
long VX_ValueSetIndexLongLong(VXVALUE c, long i, long long n) { return Guard(__func__, [&] { return ByIndex(c, i).SetLongLong(n); }); }
long VX_ValueGetIndexString(VXVALUE c, long i, char* buf, long size, long* len) { return Guard(__func__, [&] { return ByIndex(c, i).GetString(buf, size, len); }); }
long VX_ValueGetIndexStringPtr(VXVALUE c, long i, const char** s) { return Guard(__func__, [&] { return ByIndex(c, i).GetStringPtr(s); }); }
long VX_ValueSetIndexString(VXVALUE c, long i, const char* s) { return Guard(__func__, [&] { return ByIndex(c, i).SetString(s); }); }
long VX_ValueGetIndexDate(VXVALUE c, long i, long long* t) { return Guard(__func__, [&] { return ByIndex(c, i).GetDate(t); }); }
long VX_ValueSetIndexDate(VXVALUE c, long i, long long t) { return Guard(__func__, [&] { return ByIndex(c, i).SetDate(t); }); }
long VX_ValueGetIndexBoolean(VXVALUE c, long i, long* b) { return Guard(__func__, [&] { return ByIndex(c, i).GetBoolean(b); }); }
long VX_ValueSetIndexBoolean(VXVALUE c, long i, unsigned char b) { return Guard(__func__, [&] { return ByIndex(c, i).SetBoolean(b); }); }

long VX_ValueGetFieldValue(VXVALUE c, const char* name, VXVALUE out) { return Guard(__func__, vx::ValueGetFieldValue, c, name, out); }
long VX_ValueSetFieldValue(VXVALUE c, const char* name, const VXVALUE v) { return Guard(__func__, vx::ValueSetFieldValue, c, name, v); }
long VX_ValueFieldIsUndefined(VXVALUE c, const char* name) { return Guard(__func__, [&] { return ByName(c, name).IsUndefined(); }); }
long VX_ValueFieldIsDefined(VXVALUE c, const char* name) { return Guard(__func__, [&] { return ByName(c, name).IsDefined(); }); }
long VX_ValueFieldSetUndefined(VXVALUE c, const char* name) { return Guard(__func__, [&] { return ByName(c, name).SetUndefined(); }); }
long VX_ValueGetFieldWidth(VXVALUE c, const char* name, long* width) { return Guard(__func__, [&] { return ByName(c, name).GetWidth(width); }); }
long VX_ValueGetFieldType(VXVALUE c, const char* name, long* type) { return Guard(__func__, [&] { return ByName(c, name).GetType(type); }); }
long VX_ValueGetFieldLength(VXVALUE c, const char* name, long* len) { return Guard(__func__, [&] { return ByName(c, name).GetLength(len); }); }
long VX_ValueSetFieldLength(VXVALUE c, const char* name, long n) { return Guard(__func__, [&] { return ByName(c, name).SetLength(n); }); }
long VX_ValueGetFieldInteger(VXVALUE c, const char* name, long* n) { return Guard(__func__, [&] { return ByName(c, name).GetInteger(n); }); }
long VX_ValueSetFieldInteger(VXVALUE c, const char* name, long n) { return Guard(__func__, [&] { return ByName(c, name).SetInteger(n); }); }
long VX_ValueGetFieldLongLong(VXVALUE c, const char* name, long long* n) { return Guard(__func__, [&] { return ByName(c, name).GetLongLong(n); }); }
long VX_ValueSetFieldLongLong(VXVALUE c, const char* name, long long n) { return Guard(__func__, [&] { return ByName(c, name).SetLongLong(n); }); }
long VX_ValueGetFieldString(VXVALUE c, const char* name, char* buf, long size, long* len) { return Guard(__func__, [&] { return ByName(c, name).GetString(buf, size, len); }); }
long VX_ValueGetFieldStringPtr(VXVALUE c, const char* name, const char** s) { return Guard(__func__, [&] { return ByName(c, name).GetStringPtr(s); }); }
long VX_ValueSetFieldString(VXVALUE c, const char* name, const char* s) { return Guard(__func__, [&] { return ByName(c, name).SetString(s); }); }
long VX_ValueGetFieldDate(VXVALUE c, const char* name, long long* t) { return Guard(__func__, [&] { return ByName(c, name).GetDate(t); }); }
long VX_ValueSetFieldDate(VXVALUE c, const char* name, long long t) { return Guard(__func__, [&] { return ByName(c, name).SetDate(t); }); }
long VX_ValueGetFieldBoolean(VXVALUE c, const char* name, long* b) { return Guard(__func__, [&] { return ByName(c, name).GetBoolean(b); }); }
long VX_ValueSetFieldBoolean(VXVALUE c, const char* name, unsigned char b) { return Guard(__func__, [&] { return ByName(c, name).SetBoolean(b); }); }

}  // extern "C"
// clang-format on
