// The VX_Value functions that reach into containers: whole-container
// operations, members by 0-based index and by name, and their composites.
// Every composite is a member read into a temporary value followed by the
// scalar function on it (or the scalar setter into a temporary followed by
// the member write), so the scalar rules live in one place.
#include "clientapi/vx_internal.h"
#include "vxkernel/values/KAssocVal.h"
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

struct ByIndex {
  static long Get(VXVALUE c, long i, VXVALUE out) { return VX_ValueGetIndexValue(c, i, out); }
  static long Set(VXVALUE c, long i, VXVALUE v) { return VX_ValueSetIndexValue(c, i, v); }
};

struct ByName {
  static long Get(VXVALUE c, const char* name, VXVALUE out) { return VX_ValueGetFieldValue(c, name, out); }
  static long Set(VXVALUE c, const char* name, VXVALUE v) { return VX_ValueSetFieldValue(c, name, v); }
};

template <class Read>
long ViaIndex(VXVALUE h, long i, Read read) {
  return vxk_internal::MemberRead<ByIndex>(read, h, i);
}

// The index is checked before the new member is built.
template <class Write>
long IntoIndex(VXVALUE h, long i, Write write) {
  const long status = CheckIndex(h, i);
  return status != VX_OK ? status : vxk_internal::MemberWrite<ByIndex>(write, h, i);
}

template <class Change>
long ChangeIndex(VXVALUE h, long i, Change change) {
  return vxk_internal::MemberChange<ByIndex>(change, h, i);
}

template <class Read>
long ViaField(VXVALUE h, const char* name, Read read) {
  return vxk_internal::MemberRead<ByName>(read, h, name);
}

template <class Write>
long IntoField(VXVALUE h, const char* name, Write write) {
  return vxk_internal::MemberWrite<ByName>(write, h, name);
}

template <class Change>
long ChangeField(VXVALUE h, const char* name, Change change) {
  return vxk_internal::MemberChange<ByName>(change, h, name);
}

}  // namespace

extern "C" {

// ----- whole containers -----

long VX_ValueGetWidth(VXVALUE value, long* width) {
  if (value == nullptr || width == nullptr) return VX_ERR_WRONG_TYPE;
  const KQSValue& v = V(value);
  if (v.Type() == kRecArray) *width = v.User() != nullptr ? KRZTable::FromValue(v)->Width() : 0;
  else *width = MemberCount(v) >= 0 ? MemberCount(v) : 1;
  return VX_OK;
}

long VX_ValueSetLength(VXVALUE value, long n) {
  if (Is(value, kRecArray) && V(value).User() != nullptr) {
    KRZTable::FromValue(V(value))->Length(n);
    return VX_OK;
  }
  if (Is(value, kList)) {
    KQSValue copy = V(value);
    copy.ListAllocate(n);
    return Set(value, copy);
  }
  return VX_ERR_WRONG_TYPE;
}

long VX_ValueSetList(VXVALUE value) { return Set(value, KQSValue::List()); }

long VX_ValueSetAssoc(VXVALUE value) {
  return Set(value, KQSValue(static_cast<short>(kAssoc), static_cast<void*>(new KAssocVal())));
}

long VX_ValueSetAssocOutArgs(VXVALUE value) { return VX_ValueSetAssoc(value); }

long VX_ValueSetAssocInArgs(VXVALUE value) {
  return Set(value, KQSValue(static_cast<short>(kAssoc), static_cast<void*>(new KAssocVal(KQSValue::NotSet()))));
}

long VX_ValueSetTable(VXVALUE value, const VXVALUE columns) {
  if (value == nullptr) return VX_ERR_WRONG_TYPE;
  if (columns != nullptr && !V(columns).IsList()) return VX_ERR_BAD_ARGUMENT;
  KRZTable* table = columns != nullptr ? new KRZTable(V(columns)) : new KRZTable();
  return Set(value, KRZTable::MakeValue(table));
}

// ----- by index -----

long VX_ValueGetIndexValue(VXVALUE value, long i, VXVALUE out) {
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

long VX_ValueSetIndexValue(VXVALUE value, long i, const VXVALUE v) {
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

long VX_ValueGetIndexField(VXVALUE value, long i, char* buffer, long size, long* length) {
  KQSValue name;
  const long status = MemberName(value, i, name);
  return status != VX_OK ? status : VX_ValueGetString(H(&name), buffer, size, length);
}

long VX_ValueGetIndexFieldPtr(VXVALUE value, long i, const char** s) {
  // The text belongs to the names row or the key, which outlive the copy.
  KQSValue name;
  const long status = MemberName(value, i, name);
  return status != VX_OK ? status : VX_ValueGetStringPtr(H(&name), s);
}

long VX_ValueIndexIsUndefined(VXVALUE value, long i) {
  return ViaIndex(value, i, [](VXVALUE m) { return VX_ValueIsUndefined(m); });
}
long VX_ValueIndexIsDefined(VXVALUE value, long i) {
  return ViaIndex(value, i, [](VXVALUE m) { return VX_ValueIsDefined(m); });
}
long VX_ValueIndexSetUndefined(VXVALUE value, long i) {
  return IntoIndex(value, i, [](VXVALUE m) { return VX_ValueSetUndefined(m); });
}
long VX_ValueGetIndexWidth(VXVALUE value, long i, long* width) {
  return ViaIndex(value, i, [&](VXVALUE m) { return VX_ValueGetWidth(m, width); });
}
long VX_ValueGetIndexType(VXVALUE value, long i, long* type) {
  return ViaIndex(value, i, [&](VXVALUE m) { return VX_ValueGetType(m, type); });
}
long VX_ValueGetIndexLength(VXVALUE value, long i, long* length) {
  return ViaIndex(value, i, [&](VXVALUE m) { return VX_ValueGetLength(m, length); });
}
long VX_ValueSetIndexLength(VXVALUE value, long i, long n) {
  return ChangeIndex(value, i, [&](VXVALUE m) { return VX_ValueSetLength(m, n); });
}
long VX_ValueGetIndexInteger(VXVALUE value, long i, long* n) {
  return ViaIndex(value, i, [&](VXVALUE m) { return VX_ValueGetInteger(m, n); });
}
long VX_ValueSetIndexInteger(VXVALUE value, long i, long n) {
  return IntoIndex(value, i, [&](VXVALUE m) { return VX_ValueSetInteger(m, n); });
}
long VX_ValueGetIndexLongLong(VXVALUE value, long i, long long* n) {
  return ViaIndex(value, i, [&](VXVALUE m) { return VX_ValueGetLongLong(m, n); });
}
long VX_ValueSetIndexLongLong(VXVALUE value, long i, long long n) {
  return IntoIndex(value, i, [&](VXVALUE m) { return VX_ValueSetLongLong(m, n); });
}
long VX_ValueGetIndexString(VXVALUE value, long i, char* buffer, long size, long* length) {
  return ViaIndex(value, i, [&](VXVALUE m) { return VX_ValueGetString(m, buffer, size, length); });
}
long VX_ValueGetIndexStringPtr(VXVALUE value, long i, const char** s) {
  // The member shares its text with the container, so the pointer outlives
  // the temporary.
  return ViaIndex(value, i, [&](VXVALUE m) { return VX_ValueGetStringPtr(m, s); });
}
long VX_ValueSetIndexString(VXVALUE value, long i, const char* s) {
  return IntoIndex(value, i, [&](VXVALUE m) { return VX_ValueSetString(m, s); });
}
long VX_ValueGetIndexDate(VXVALUE value, long i, long long* systime) {
  return ViaIndex(value, i, [&](VXVALUE m) { return VX_ValueGetDate(m, systime); });
}
long VX_ValueSetIndexDate(VXVALUE value, long i, long long systime) {
  return IntoIndex(value, i, [&](VXVALUE m) { return VX_ValueSetDate(m, systime); });
}
long VX_ValueGetIndexBoolean(VXVALUE value, long i, long* b) {
  return ViaIndex(value, i, [&](VXVALUE m) { return VX_ValueGetBoolean(m, b); });
}
long VX_ValueSetIndexBoolean(VXVALUE value, long i, unsigned char b) {
  return IntoIndex(value, i, [&](VXVALUE m) { return VX_ValueSetBoolean(m, b); });
}

// ----- by name -----

long VX_ValueGetFieldValue(VXVALUE value, const char* name, VXVALUE out) {
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

long VX_ValueSetFieldValue(VXVALUE value, const char* name, const VXVALUE v) {
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

long VX_ValueFieldIsUndefined(VXVALUE value, const char* name) {
  return ViaField(value, name, [](VXVALUE m) { return VX_ValueIsUndefined(m); });
}
long VX_ValueFieldIsDefined(VXVALUE value, const char* name) {
  return ViaField(value, name, [](VXVALUE m) { return VX_ValueIsDefined(m); });
}
long VX_ValueFieldSetUndefined(VXVALUE value, const char* name) {
  return IntoField(value, name, [](VXVALUE m) { return VX_ValueSetUndefined(m); });
}
long VX_ValueGetFieldWidth(VXVALUE value, const char* name, long* width) {
  return ViaField(value, name, [&](VXVALUE m) { return VX_ValueGetWidth(m, width); });
}
long VX_ValueGetFieldType(VXVALUE value, const char* name, long* type) {
  return ViaField(value, name, [&](VXVALUE m) { return VX_ValueGetType(m, type); });
}
long VX_ValueGetFieldLength(VXVALUE value, const char* name, long* length) {
  return ViaField(value, name, [&](VXVALUE m) { return VX_ValueGetLength(m, length); });
}
long VX_ValueSetFieldLength(VXVALUE value, const char* name, long n) {
  return ChangeField(value, name, [&](VXVALUE m) { return VX_ValueSetLength(m, n); });
}
long VX_ValueGetFieldInteger(VXVALUE value, const char* name, long* n) {
  return ViaField(value, name, [&](VXVALUE m) { return VX_ValueGetInteger(m, n); });
}
long VX_ValueSetFieldInteger(VXVALUE value, const char* name, long n) {
  return IntoField(value, name, [&](VXVALUE m) { return VX_ValueSetInteger(m, n); });
}
long VX_ValueGetFieldLongLong(VXVALUE value, const char* name, long long* n) {
  return ViaField(value, name, [&](VXVALUE m) { return VX_ValueGetLongLong(m, n); });
}
long VX_ValueSetFieldLongLong(VXVALUE value, const char* name, long long n) {
  return IntoField(value, name, [&](VXVALUE m) { return VX_ValueSetLongLong(m, n); });
}
long VX_ValueGetFieldString(VXVALUE value, const char* name, char* buffer, long size, long* length) {
  return ViaField(value, name, [&](VXVALUE m) { return VX_ValueGetString(m, buffer, size, length); });
}
long VX_ValueGetFieldStringPtr(VXVALUE value, const char* name, const char** s) {
  return ViaField(value, name, [&](VXVALUE m) { return VX_ValueGetStringPtr(m, s); });
}
long VX_ValueSetFieldString(VXVALUE value, const char* name, const char* s) {
  return IntoField(value, name, [&](VXVALUE m) { return VX_ValueSetString(m, s); });
}
long VX_ValueGetFieldDate(VXVALUE value, const char* name, long long* systime) {
  return ViaField(value, name, [&](VXVALUE m) { return VX_ValueGetDate(m, systime); });
}
long VX_ValueSetFieldDate(VXVALUE value, const char* name, long long systime) {
  return IntoField(value, name, [&](VXVALUE m) { return VX_ValueSetDate(m, systime); });
}
long VX_ValueGetFieldBoolean(VXVALUE value, const char* name, long* b) {
  return ViaField(value, name, [&](VXVALUE m) { return VX_ValueGetBoolean(m, b); });
}
long VX_ValueSetFieldBoolean(VXVALUE value, const char* name, unsigned char b) {
  return IntoField(value, name, [&](VXVALUE m) { return VX_ValueSetBoolean(m, b); });
}

}  // extern "C"
