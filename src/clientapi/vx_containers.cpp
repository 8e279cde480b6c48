// The container families VX_Assoc, VX_Record, VX_List and VX_Table. Each
// family is an accessor (type guard, then the member read and write of the
// VX_Value interface) plus the same 21 operations, generated once for all
// four families from the member composites in vx_internal.h.
#include "vxkernel/clientapi/vx_containers.h"

#include "clientapi/vx_internal.h"
#include "vxkernel/values/KQSValue.h"

using namespace vxk_internal::types;
using vxk_internal::H;
using vxk_internal::Is;
using vxk_internal::MemberChange;
using vxk_internal::MemberRead;
using vxk_internal::MemberWrite;

namespace {

// Entries by key and columns by name: the named member functions.
template <short kType>
struct Named {
  static long Get(VXVALUE c, const char* name, VXVALUE out) {
    return Is(c, kType) ? VX_ValueGetFieldValue(c, name, out) : VX_ERR_WRONG_TYPE;
  }
  static long Set(VXVALUE c, const char* name, VXVALUE v) {
    return Is(c, kType) ? VX_ValueSetFieldValue(c, name, v) : VX_ERR_WRONG_TYPE;
  }
};
using AssocAccess = Named<kAssoc>;
using RecordAccess = Named<kRecord>;

struct ListAccess {
  static long Get(VXVALUE c, long i, VXVALUE out) {
    return Is(c, kList) ? VX_ValueGetIndexValue(c, i, out) : VX_ERR_WRONG_TYPE;
  }
  static long Set(VXVALUE c, long i, VXVALUE v) {
    return Is(c, kList) ? VX_ValueSetIndexValue(c, i, v) : VX_ERR_WRONG_TYPE;
  }
};

// A cell: the row's Record, then its column. The Record shares its storage
// with the table, so writing the column changes the table.
struct TableAccess {
  static long Get(VXVALUE c, long row, const char* column, VXVALUE out) {
    KQSValue record;
    const long status = VX_TableGetRecord(c, row, H(&record));
    return status != VX_OK ? status : VX_ValueGetFieldValue(H(&record), column, out);
  }
  static long Set(VXVALUE c, long row, const char* column, VXVALUE v) {
    KQSValue record;
    const long status = VX_TableGetRecord(c, row, H(&record));
    return status != VX_OK ? status : VX_ValueSetFieldValue(H(&record), column, v);
  }
};

}  // namespace

extern "C" {

long VX_TableGetRecord(VXVALUE table, long row, VXVALUE out) {
  return Is(table, kRecArray) ? VX_ValueGetIndexValue(table, row, out) : VX_ERR_WRONG_TYPE;
}

// RecordSetUndefined alone stores through the named write without the
// Record guard, so on an Assoc it stores Undefined under the key.
long VX_RecordSetUndefined(VXVALUE record, const char* column) {
  KQSValue undefined;
  return VX_ValueSetFieldValue(record, column, H(&undefined));
}

#define VXK_PARAMS(...) __VA_ARGS__
// The operations of one family. ADDRESS is the member address as
// parameters, ARGS the same as arguments.
#define VXK_FAMILY_COMMON(Family, Access, ADDRESS, ARGS)                                                  \
  long VX_##Family##GetValue(VXVALUE c, VXK_PARAMS ADDRESS, VXVALUE out) {                              \
    return Access::Get(c, VXK_PARAMS ARGS, out);                                                        \
  }                                                                                                      \
  long VX_##Family##SetValue(VXVALUE c, VXK_PARAMS ADDRESS, const VXVALUE v) {                          \
    return Access::Set(c, VXK_PARAMS ARGS, v);                                                          \
  }                                                                                                      \
  long VX_##Family##GetType(VXVALUE c, VXK_PARAMS ADDRESS, long* type) {                                \
    return MemberRead<Access>([&](VXVALUE m) { return VX_ValueGetType(m, type); }, c, VXK_PARAMS ARGS); \
  }                                                                                                      \
  long VX_##Family##GetLength(VXVALUE c, VXK_PARAMS ADDRESS, long* length) {                            \
    return MemberRead<Access>([&](VXVALUE m) { return VX_ValueGetLength(m, length); }, c,               \
                              VXK_PARAMS ARGS);                                                          \
  }                                                                                                      \
  long VX_##Family##SetLength(VXVALUE c, VXK_PARAMS ADDRESS, long n) {                                  \
    return MemberChange<Access>([&](VXVALUE m) { return VX_ValueSetLength(m, n); }, c, VXK_PARAMS ARGS); \
  }                                                                                                      \
  long VX_##Family##GetWidth(VXVALUE c, VXK_PARAMS ADDRESS, long* width) {                              \
    return MemberRead<Access>([&](VXVALUE m) { return VX_ValueGetWidth(m, width); }, c, VXK_PARAMS ARGS); \
  }                                                                                                      \
  long VX_##Family##IsUndefined(VXVALUE c, VXK_PARAMS ADDRESS) {                                        \
    return MemberRead<Access>([](VXVALUE m) { return VX_ValueIsUndefined(m); }, c, VXK_PARAMS ARGS);    \
  }                                                                                                      \
  long VX_##Family##IsDefined(VXVALUE c, VXK_PARAMS ADDRESS) {                                          \
    return MemberRead<Access>([](VXVALUE m) { return VX_ValueIsDefined(m); }, c, VXK_PARAMS ARGS);      \
  }                                                                                                      \
  long VX_##Family##GetInteger(VXVALUE c, VXK_PARAMS ADDRESS, long* n) {                                \
    return MemberRead<Access>([&](VXVALUE m) { return VX_ValueGetInteger(m, n); }, c, VXK_PARAMS ARGS); \
  }                                                                                                      \
  long VX_##Family##GetLongLong(VXVALUE c, VXK_PARAMS ADDRESS, long long* n) {                          \
    return MemberRead<Access>([&](VXVALUE m) { return VX_ValueGetLongLong(m, n); }, c, VXK_PARAMS ARGS); \
  }                                                                                                      \
  long VX_##Family##SetInteger(VXVALUE c, VXK_PARAMS ADDRESS, long n) {                                 \
    return MemberWrite<Access>([&](VXVALUE m) { return VX_ValueSetInteger(m, n); }, c, VXK_PARAMS ARGS); \
  }                                                                                                      \
  long VX_##Family##SetLongLong(VXVALUE c, VXK_PARAMS ADDRESS, long long n) {                           \
    return MemberWrite<Access>([&](VXVALUE m) { return VX_ValueSetLongLong(m, n); }, c, VXK_PARAMS ARGS); \
  }                                                                                                      \
  long VX_##Family##GetString(VXVALUE c, VXK_PARAMS ADDRESS, char* buffer, long size, long* length) {   \
    return MemberRead<Access>([&](VXVALUE m) { return VX_ValueGetString(m, buffer, size, length); }, c, \
                              VXK_PARAMS ARGS);                                                          \
  }                                                                                                      \
  long VX_##Family##GetStringPtr(VXVALUE c, VXK_PARAMS ADDRESS, const char** s) {                       \
    return MemberRead<Access>([&](VXVALUE m) { return VX_ValueGetStringPtr(m, s); }, c, VXK_PARAMS ARGS); \
  }                                                                                                      \
  long VX_##Family##SetString(VXVALUE c, VXK_PARAMS ADDRESS, const char* s) {                           \
    return MemberWrite<Access>([&](VXVALUE m) { return VX_ValueSetString(m, s); }, c, VXK_PARAMS ARGS);  \
  }                                                                                                      \
  long VX_##Family##GetDate(VXVALUE c, VXK_PARAMS ADDRESS, long long* t) {                              \
    return MemberRead<Access>([&](VXVALUE m) { return VX_ValueGetDate(m, t); }, c, VXK_PARAMS ARGS);     \
  }                                                                                                      \
  long VX_##Family##SetDate(VXVALUE c, VXK_PARAMS ADDRESS, long long t) {                               \
    return MemberWrite<Access>([&](VXVALUE m) { return VX_ValueSetDate(m, t); }, c, VXK_PARAMS ARGS);    \
  }                                                                                                      \
  long VX_##Family##GetBoolean(VXVALUE c, VXK_PARAMS ADDRESS, long* b) {                                \
    return MemberRead<Access>([&](VXVALUE m) { return VX_ValueGetBoolean(m, b); }, c, VXK_PARAMS ARGS);  \
  }                                                                                                      \
  long VX_##Family##SetBoolean(VXVALUE c, VXK_PARAMS ADDRESS, unsigned char b) {                        \
    return MemberWrite<Access>([&](VXVALUE m) { return VX_ValueSetBoolean(m, b); }, c, VXK_PARAMS ARGS); \
  }                                                                                                      \
  long VX_##Family##SetAssoc(VXVALUE c, VXK_PARAMS ADDRESS) {                                           \
    return MemberWrite<Access>([](VXVALUE m) { return VX_ValueSetAssoc(m); }, c, VXK_PARAMS ARGS);       \
  }

#define VXK_FAMILY(Family, Access, ADDRESS, ARGS)                                                          \
  VXK_FAMILY_COMMON(Family, Access, ADDRESS, ARGS)                                                       \
  long VX_##Family##SetUndefined(VXVALUE c, VXK_PARAMS ADDRESS) {                                       \
    return MemberWrite<Access>([](VXVALUE m) { return VX_ValueSetUndefined(m); }, c, VXK_PARAMS ARGS);  \
  }

VXK_FAMILY(Assoc, AssocAccess, (const char* key), (key))
VXK_FAMILY_COMMON(Record, RecordAccess, (const char* column), (column))
VXK_FAMILY(List, ListAccess, (long index), (index))
VXK_FAMILY(Table, TableAccess, (long row, const char* column), (row, column))

#undef VXK_FAMILY
#undef VXK_FAMILY_COMMON
#undef VXK_PARAMS

}  // extern "C"
