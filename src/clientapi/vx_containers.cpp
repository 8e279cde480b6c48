// The container families VX_Assoc, VX_Record, VX_List and VX_Table. Each
// family is an address type (the container, the member's address and the
// family's type guard in front of the member read and write of the VX_Value
// interface) with the 21 operations of Member (vx_internal.h); each exported
// function below is one of them run in the guard.
#include "vxkernel/clientapi/vx_containers.h"

#include "clientapi/vx_internal.h"
#include "vxkernel/values/KQSValue.h"

using namespace vxk_internal::types;
using vxk_internal::Guard;
using vxk_internal::H;
using vxk_internal::Is;
using vxk_internal::Member;

namespace {

namespace vx = vxk_internal::vx;

// An entry by key (kAssoc) or a column by name (kRecord).
template <short kType>
class NamedAt : public Member<NamedAt<kType>> {
 public:
  NamedAt(VXVALUE c, const char* name) : fContainer(c), fName(name) {}
  long Get(VXVALUE out) const {
    return Is(fContainer, kType) ? vx::ValueGetFieldValue(fContainer, fName, out)
                                 : VX_ERR_WRONG_TYPE;
  }
  long Set(VXVALUE v) const {
    return Is(fContainer, kType) ? vx::ValueSetFieldValue(fContainer, fName, v) : VX_ERR_WRONG_TYPE;
  }

 private:
  VXVALUE fContainer;
  const char* fName;
};
using AssocAt = NamedAt<kAssoc>;
using RecordAt = NamedAt<kRecord>;

// A member by name without a type guard: VX_RecordSetUndefined alone
// writes through it, so on an Assoc it stores Undefined under the key.
class FieldAt : public Member<FieldAt> {
 public:
  FieldAt(VXVALUE c, const char* name) : fContainer(c), fName(name) {}
  long Set(VXVALUE v) const { return vx::ValueSetFieldValue(fContainer, fName, v); }

 private:
  VXVALUE fContainer;
  const char* fName;
};

class ListAt : public Member<ListAt> {
 public:
  ListAt(VXVALUE c, long i) : fContainer(c), fIndex(i) {}
  long Get(VXVALUE out) const {
    return Is(fContainer, kList) ? vx::ValueGetIndexValue(fContainer, fIndex, out)
                                 : VX_ERR_WRONG_TYPE;
  }
  long Set(VXVALUE v) const {
    return Is(fContainer, kList) ? vx::ValueSetIndexValue(fContainer, fIndex, v)
                                 : VX_ERR_WRONG_TYPE;
  }

 private:
  VXVALUE fContainer;
  long fIndex;
};

long TableGetRecord(VXVALUE table, long row, VXVALUE out) {
  return Is(table, kRecArray) ? vx::ValueGetIndexValue(table, row, out) : VX_ERR_WRONG_TYPE;
}

// A cell: the row's Record, then its column. The Record shares its storage
// with the table, so writing the column changes the table.
class TableAt : public Member<TableAt> {
 public:
  TableAt(VXVALUE c, long row, const char* column) : fTable(c), fRow(row), fColumn(column) {}
  long Get(VXVALUE out) const {
    KQSValue record;
    const long status = TableGetRecord(fTable, fRow, H(&record));
    return status != VX_OK ? status : vx::ValueGetFieldValue(H(&record), fColumn, out);
  }
  long Set(VXVALUE v) const {
    KQSValue record;
    const long status = TableGetRecord(fTable, fRow, H(&record));
    return status != VX_OK ? status : vx::ValueSetFieldValue(H(&record), fColumn, v);
  }

 private:
  VXVALUE fTable;
  long fRow;
  const char* fColumn;
};

}  // namespace

// ===== The exported functions =====
// Each is its internal form run in the guard, one per line so that a
// search for the name finds its definition.

// clang-format off
extern "C" {

// VX_Assoc
long VX_AssocGetValue(VXVALUE c, const char* key, VXVALUE out) { return Guard(__func__, [&] { return AssocAt(c, key).GetValue(out); }); }
long VX_AssocSetValue(VXVALUE c, const char* key, const VXVALUE v) { return Guard(__func__, [&] { return AssocAt(c, key).SetValue(v); }); }
long VX_AssocGetType(VXVALUE c, const char* key, long* type) { return Guard(__func__, [&] { return AssocAt(c, key).GetType(type); }); }
long VX_AssocGetLength(VXVALUE c, const char* key, long* len) { return Guard(__func__, [&] { return AssocAt(c, key).GetLength(len); }); }
long VX_AssocSetLength(VXVALUE c, const char* key, long n) { return Guard(__func__, [&] { return AssocAt(c, key).SetLength(n); }); }
long VX_AssocGetWidth(VXVALUE c, const char* key, long* width) { return Guard(__func__, [&] { return AssocAt(c, key).GetWidth(width); }); }
long VX_AssocIsUndefined(VXVALUE c, const char* key) { return Guard(__func__, [&] { return AssocAt(c, key).IsUndefined(); }); }
long VX_AssocIsDefined(VXVALUE c, const char* key) { return Guard(__func__, [&] { return AssocAt(c, key).IsDefined(); }); }
long VX_AssocSetUndefined(VXVALUE c, const char* key) { return Guard(__func__, [&] { return AssocAt(c, key).SetUndefined(); }); }
long VX_AssocGetInteger(VXVALUE c, const char* key, long* n) { return Guard(__func__, [&] { return AssocAt(c, key).GetInteger(n); }); }
long VX_AssocGetLongLong(VXVALUE c, const char* key, long long* n) { return Guard(__func__, [&] { return AssocAt(c, key).GetLongLong(n); }); }
long VX_AssocSetInteger(VXVALUE c, const char* key, long n) { return Guard(__func__, [&] { return AssocAt(c, key).SetInteger(n); }); }
long VX_AssocSetLongLong(VXVALUE c, const char* key, long long n) { return Guard(__func__, [&] { return AssocAt(c, key).SetLongLong(n); }); }
long VX_AssocGetString(VXVALUE c, const char* key, char* buf, long size, long* len) { return Guard(__func__, [&] { return AssocAt(c, key).GetString(buf, size, len); }); }
long VX_AssocGetStringPtr(VXVALUE c, const char* key, const char** s) { return Guard(__func__, [&] { return AssocAt(c, key).GetStringPtr(s); }); }
long VX_AssocSetString(VXVALUE c, const char* key, const char* s) { return Guard(__func__, [&] { return AssocAt(c, key).SetString(s); }); }
long VX_AssocGetDate(VXVALUE c, const char* key, long long* t) { return Guard(__func__, [&] { return AssocAt(c, key).GetDate(t); }); }
long VX_AssocSetDate(VXVALUE c, const char* key, long long t) { return Guard(__func__, [&] { return AssocAt(c, key).SetDate(t); }); }
long VX_AssocGetBoolean(VXVALUE c, const char* key, long* b) { return Guard(__func__, [&] { return AssocAt(c, key).GetBoolean(b); }); }
long VX_AssocSetBoolean(VXVALUE c, const char* key, unsigned char b) { return Guard(__func__, [&] { return AssocAt(c, key).SetBoolean(b); }); }
long VX_AssocSetAssoc(VXVALUE c, const char* key) { return Guard(__func__, [&] { return AssocAt(c, key).SetAssoc(); }); }

// VX_Record
long VX_RecordGetValue(VXVALUE c, const char* col, VXVALUE out) { return Guard(__func__, [&] { return RecordAt(c, col).GetValue(out); }); }
long VX_RecordSetValue(VXVALUE c, const char* col, const VXVALUE v) { return Guard(__func__, [&] { return RecordAt(c, col).SetValue(v); }); }
long VX_RecordGetType(VXVALUE c, const char* col, long* type) { return Guard(__func__, [&] { return RecordAt(c, col).GetType(type); }); }
long VX_RecordGetLength(VXVALUE c, const char* col, long* len) { return Guard(__func__, [&] { return RecordAt(c, col).GetLength(len); }); }
long VX_RecordSetLength(VXVALUE c, const char* col, long n) { return Guard(__func__, [&] { return RecordAt(c, col).SetLength(n); }); }
long VX_RecordGetWidth(VXVALUE c, const char* col, long* width) { return Guard(__func__, [&] { return RecordAt(c, col).GetWidth(width); }); }
long VX_RecordIsUndefined(VXVALUE c, const char* col) { return Guard(__func__, [&] { return RecordAt(c, col).IsUndefined(); }); }
long VX_RecordIsDefined(VXVALUE c, const char* col) { return Guard(__func__, [&] { return RecordAt(c, col).IsDefined(); }); }
long VX_RecordSetUndefined(VXVALUE c, const char* col) { return Guard(__func__, [&] { return FieldAt(c, col).SetUndefined(); }); }
long VX_RecordGetInteger(VXVALUE c, const char* col, long* n) { return Guard(__func__, [&] { return RecordAt(c, col).GetInteger(n); }); }
long VX_RecordGetLongLong(VXVALUE c, const char* col, long long* n) { return Guard(__func__, [&] { return RecordAt(c, col).GetLongLong(n); }); }
long VX_RecordSetInteger(VXVALUE c, const char* col, long n) { return Guard(__func__, [&] { return RecordAt(c, col).SetInteger(n); }); }
long VX_RecordSetLongLong(VXVALUE c, const char* col, long long n) { return Guard(__func__, [&] { return RecordAt(c, col).SetLongLong(n); }); }
long VX_RecordGetString(VXVALUE c, const char* col, char* buf, long size, long* len) { return Guard(__func__, [&] { return RecordAt(c, col).GetString(buf, size, len); }); }
long VX_RecordGetStringPtr(VXVALUE c, const char* col, const char** s) { return Guard(__func__, [&] { return RecordAt(c, col).GetStringPtr(s); }); }
long VX_RecordSetString(VXVALUE c, const char* col, const char* s) { return Guard(__func__, [&] { return RecordAt(c, col).SetString(s); }); }
long VX_RecordGetDate(VXVALUE c, const char* col, long long* t) { return Guard(__func__, [&] { return RecordAt(c, col).GetDate(t); }); }
long VX_RecordSetDate(VXVALUE c, const char* col, long long t) { return Guard(__func__, [&] { return RecordAt(c, col).SetDate(t); }); }
long VX_RecordGetBoolean(VXVALUE c, const char* col, long* b) { return Guard(__func__, [&] { return RecordAt(c, col).GetBoolean(b); }); }
long VX_RecordSetBoolean(VXVALUE c, const char* col, unsigned char b) { return Guard(__func__, [&] { return RecordAt(c, col).SetBoolean(b); }); }
long VX_RecordSetAssoc(VXVALUE c, const char* col) { return Guard(__func__, [&] { return RecordAt(c, col).SetAssoc(); }); }

// VX_List
long VX_ListGetValue(VXVALUE c, long i, VXVALUE out) { return Guard(__func__, [&] { return ListAt(c, i).GetValue(out); }); }
long VX_ListSetValue(VXVALUE c, long i, const VXVALUE v) { return Guard(__func__, [&] { return ListAt(c, i).SetValue(v); }); }
long VX_ListGetType(VXVALUE c, long i, long* type) { return Guard(__func__, [&] { return ListAt(c, i).GetType(type); }); }
long VX_ListGetLength(VXVALUE c, long i, long* len) { return Guard(__func__, [&] { return ListAt(c, i).GetLength(len); }); }
long VX_ListSetLength(VXVALUE c, long i, long n) { return Guard(__func__, [&] { return ListAt(c, i).SetLength(n); }); }
long VX_ListGetWidth(VXVALUE c, long i, long* width) { return Guard(__func__, [&] { return ListAt(c, i).GetWidth(width); }); }
long VX_ListIsUndefined(VXVALUE c, long i) { return Guard(__func__, [&] { return ListAt(c, i).IsUndefined(); }); }
long VX_ListIsDefined(VXVALUE c, long i) { return Guard(__func__, [&] { return ListAt(c, i).IsDefined(); }); }
long VX_ListSetUndefined(VXVALUE c, long i) { return Guard(__func__, [&] { return ListAt(c, i).SetUndefined(); }); }
long VX_ListGetInteger(VXVALUE c, long i, long* n) { return Guard(__func__, [&] { return ListAt(c, i).GetInteger(n); }); }
long VX_ListGetLongLong(VXVALUE c, long i, long long* n) { return Guard(__func__, [&] { return ListAt(c, i).GetLongLong(n); }); }
long VX_ListSetInteger(VXVALUE c, long i, long n) { return Guard(__func__, [&] { return ListAt(c, i).SetInteger(n); }); }
long VX_ListSetLongLong(VXVALUE c, long i, long long n) { return Guard(__func__, [&] { return ListAt(c, i).SetLongLong(n); }); }
long VX_ListGetString(VXVALUE c, long i, char* buf, long size, long* len) { return Guard(__func__, [&] { return ListAt(c, i).GetString(buf, size, len); }); }
long VX_ListGetStringPtr(VXVALUE c, long i, const char** s) { return Guard(__func__, [&] { return ListAt(c, i).GetStringPtr(s); }); }
long VX_ListSetString(VXVALUE c, long i, const char* s) { return Guard(__func__, [&] { return ListAt(c, i).SetString(s); }); }
long VX_ListGetDate(VXVALUE c, long i, long long* t) { return Guard(__func__, [&] { return ListAt(c, i).GetDate(t); }); }
long VX_ListSetDate(VXVALUE c, long i, long long t) { return Guard(__func__, [&] { return ListAt(c, i).SetDate(t); }); }
long VX_ListGetBoolean(VXVALUE c, long i, long* b) { return Guard(__func__, [&] { return ListAt(c, i).GetBoolean(b); }); }
long VX_ListSetBoolean(VXVALUE c, long i, unsigned char b) { return Guard(__func__, [&] { return ListAt(c, i).SetBoolean(b); }); }
long VX_ListSetAssoc(VXVALUE c, long i) { return Guard(__func__, [&] { return ListAt(c, i).SetAssoc(); }); }

// VX_Table
long VX_TableGetRecord(VXVALUE c, long row, VXVALUE out) { return Guard(__func__, TableGetRecord, c, row, out); }
long VX_TableGetValue(VXVALUE c, long row, const char* col, VXVALUE out) { return Guard(__func__, [&] { return TableAt(c, row, col).GetValue(out); }); }
long VX_TableSetValue(VXVALUE c, long row, const char* col, const VXVALUE v) { return Guard(__func__, [&] { return TableAt(c, row, col).SetValue(v); }); }
long VX_TableGetType(VXVALUE c, long row, const char* col, long* type) { return Guard(__func__, [&] { return TableAt(c, row, col).GetType(type); }); }
long VX_TableGetLength(VXVALUE c, long row, const char* col, long* len) { return Guard(__func__, [&] { return TableAt(c, row, col).GetLength(len); }); }
long VX_TableSetLength(VXVALUE c, long row, const char* col, long n) { return Guard(__func__, [&] { return TableAt(c, row, col).SetLength(n); }); }
long VX_TableGetWidth(VXVALUE c, long row, const char* col, long* width) { return Guard(__func__, [&] { return TableAt(c, row, col).GetWidth(width); }); }
long VX_TableIsUndefined(VXVALUE c, long row, const char* col) { return Guard(__func__, [&] { return TableAt(c, row, col).IsUndefined(); }); }
long VX_TableIsDefined(VXVALUE c, long row, const char* col) { return Guard(__func__, [&] { return TableAt(c, row, col).IsDefined(); }); }
long VX_TableSetUndefined(VXVALUE c, long row, const char* col) { return Guard(__func__, [&] { return TableAt(c, row, col).SetUndefined(); }); }
long VX_TableGetInteger(VXVALUE c, long row, const char* col, long* n) { return Guard(__func__, [&] { return TableAt(c, row, col).GetInteger(n); }); }
long VX_TableGetLongLong(VXVALUE c, long row, const char* col, long long* n) { return Guard(__func__, [&] { return TableAt(c, row, col).GetLongLong(n); }); }
long VX_TableSetInteger(VXVALUE c, long row, const char* col, long n) { return Guard(__func__, [&] { return TableAt(c, row, col).SetInteger(n); }); }
long VX_TableSetLongLong(VXVALUE c, long row, const char* col, long long n) { return Guard(__func__, [&] { return TableAt(c, row, col).SetLongLong(n); }); }
long VX_TableGetString(VXVALUE c, long row, const char* col, char* buf, long size, long* len) { return Guard(__func__, [&] { return TableAt(c, row, col).GetString(buf, size, len); }); }
long VX_TableGetStringPtr(VXVALUE c, long row, const char* col, const char** s) { return Guard(__func__, [&] { return TableAt(c, row, col).GetStringPtr(s); }); }
long VX_TableSetString(VXVALUE c, long row, const char* col, const char* s) { return Guard(__func__, [&] { return TableAt(c, row, col).SetString(s); }); }
long VX_TableGetDate(VXVALUE c, long row, const char* col, long long* t) { return Guard(__func__, [&] { return TableAt(c, row, col).GetDate(t); }); }
long VX_TableSetDate(VXVALUE c, long row, const char* col, long long t) { return Guard(__func__, [&] { return TableAt(c, row, col).SetDate(t); }); }
long VX_TableGetBoolean(VXVALUE c, long row, const char* col, long* b) { return Guard(__func__, [&] { return TableAt(c, row, col).GetBoolean(b); }); }
long VX_TableSetBoolean(VXVALUE c, long row, const char* col, unsigned char b) { return Guard(__func__, [&] { return TableAt(c, row, col).SetBoolean(b); }); }
long VX_TableSetAssoc(VXVALUE c, long row, const char* col) { return Guard(__func__, [&] { return TableAt(c, row, col).SetAssoc(); }); }

}  // extern "C"
// clang-format on
