/** \file
 * Typed access to the members of container values: VX_Assoc (entries by
 * key), VX_Record (columns by name), VX_List (elements by 0-based index) and
 * VX_Table (cells by 0-based row and column name). Each function checks the
 * container's type (else VX_ERR_WRONG_TYPE) and then works on the member as
 * the VX_Value function of the same verb does; statuses, handles and
 * buffers follow vx_value.h. A C compiler accepts this header. */
#ifndef VXKERNEL_CLIENTAPI_VX_CONTAINERS_H_
#define VXKERNEL_CLIENTAPI_VX_CONTAINERS_H_

#include "vxkernel/clientapi/vx_value.h"

#ifdef __cplusplus
extern "C" {
#endif


/** VX_Assoc */
VXKERNEL_EXPORT long VX_AssocGetValue(VXVALUE assoc, const char* key, VXVALUE out);
VXKERNEL_EXPORT long VX_AssocSetValue(VXVALUE assoc, const char* key, const VXVALUE v);
VXKERNEL_EXPORT long VX_AssocGetType(VXVALUE assoc, const char* key, long* type);
VXKERNEL_EXPORT long VX_AssocGetLength(VXVALUE assoc, const char* key, long* length);
VXKERNEL_EXPORT long VX_AssocSetLength(VXVALUE assoc, const char* key, long n);
VXKERNEL_EXPORT long VX_AssocGetWidth(VXVALUE assoc, const char* key, long* width);
VXKERNEL_EXPORT long VX_AssocIsUndefined(VXVALUE assoc, const char* key);
VXKERNEL_EXPORT long VX_AssocIsDefined(VXVALUE assoc, const char* key);
VXKERNEL_EXPORT long VX_AssocSetUndefined(VXVALUE assoc, const char* key);
VXKERNEL_EXPORT long VX_AssocGetInteger(VXVALUE assoc, const char* key, long* n);
VXKERNEL_EXPORT long VX_AssocGetLongLong(VXVALUE assoc, const char* key, long long* n);
VXKERNEL_EXPORT long VX_AssocSetInteger(VXVALUE assoc, const char* key, long n);
VXKERNEL_EXPORT long VX_AssocSetLongLong(VXVALUE assoc, const char* key, long long n);
VXKERNEL_EXPORT long VX_AssocGetString(VXVALUE assoc, const char* key, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_AssocGetStringPtr(VXVALUE assoc, const char* key, const char** s);
VXKERNEL_EXPORT long VX_AssocSetString(VXVALUE assoc, const char* key, const char* s);
VXKERNEL_EXPORT long VX_AssocGetDate(VXVALUE assoc, const char* key, long long* systime);
VXKERNEL_EXPORT long VX_AssocSetDate(VXVALUE assoc, const char* key, long long systime);
VXKERNEL_EXPORT long VX_AssocGetBoolean(VXVALUE assoc, const char* key, long* b);
VXKERNEL_EXPORT long VX_AssocSetBoolean(VXVALUE assoc, const char* key, unsigned char b);
VXKERNEL_EXPORT long VX_AssocSetAssoc(VXVALUE assoc, const char* key);

/** VX_Record */
VXKERNEL_EXPORT long VX_RecordGetValue(VXVALUE record, const char* column, VXVALUE out);
VXKERNEL_EXPORT long VX_RecordSetValue(VXVALUE record, const char* column, const VXVALUE v);
VXKERNEL_EXPORT long VX_RecordGetType(VXVALUE record, const char* column, long* type);
VXKERNEL_EXPORT long VX_RecordGetLength(VXVALUE record, const char* column, long* length);
VXKERNEL_EXPORT long VX_RecordSetLength(VXVALUE record, const char* column, long n);
VXKERNEL_EXPORT long VX_RecordGetWidth(VXVALUE record, const char* column, long* width);
VXKERNEL_EXPORT long VX_RecordIsUndefined(VXVALUE record, const char* column);
VXKERNEL_EXPORT long VX_RecordIsDefined(VXVALUE record, const char* column);
VXKERNEL_EXPORT long VX_RecordSetUndefined(VXVALUE record, const char* column);
VXKERNEL_EXPORT long VX_RecordGetInteger(VXVALUE record, const char* column, long* n);
VXKERNEL_EXPORT long VX_RecordGetLongLong(VXVALUE record, const char* column, long long* n);
VXKERNEL_EXPORT long VX_RecordSetInteger(VXVALUE record, const char* column, long n);
VXKERNEL_EXPORT long VX_RecordSetLongLong(VXVALUE record, const char* column, long long n);
VXKERNEL_EXPORT long VX_RecordGetString(VXVALUE record, const char* column, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_RecordGetStringPtr(VXVALUE record, const char* column, const char** s);
VXKERNEL_EXPORT long VX_RecordSetString(VXVALUE record, const char* column, const char* s);
VXKERNEL_EXPORT long VX_RecordGetDate(VXVALUE record, const char* column, long long* systime);
VXKERNEL_EXPORT long VX_RecordSetDate(VXVALUE record, const char* column, long long systime);
VXKERNEL_EXPORT long VX_RecordGetBoolean(VXVALUE record, const char* column, long* b);
VXKERNEL_EXPORT long VX_RecordSetBoolean(VXVALUE record, const char* column, unsigned char b);
VXKERNEL_EXPORT long VX_RecordSetAssoc(VXVALUE record, const char* column);

/** VX_List */
VXKERNEL_EXPORT long VX_ListGetValue(VXVALUE list, long index, VXVALUE out);
VXKERNEL_EXPORT long VX_ListSetValue(VXVALUE list, long index, const VXVALUE v);
VXKERNEL_EXPORT long VX_ListGetType(VXVALUE list, long index, long* type);
VXKERNEL_EXPORT long VX_ListGetLength(VXVALUE list, long index, long* length);
VXKERNEL_EXPORT long VX_ListSetLength(VXVALUE list, long index, long n);
VXKERNEL_EXPORT long VX_ListGetWidth(VXVALUE list, long index, long* width);
VXKERNEL_EXPORT long VX_ListIsUndefined(VXVALUE list, long index);
VXKERNEL_EXPORT long VX_ListIsDefined(VXVALUE list, long index);
VXKERNEL_EXPORT long VX_ListSetUndefined(VXVALUE list, long index);
VXKERNEL_EXPORT long VX_ListGetInteger(VXVALUE list, long index, long* n);
VXKERNEL_EXPORT long VX_ListGetLongLong(VXVALUE list, long index, long long* n);
VXKERNEL_EXPORT long VX_ListSetInteger(VXVALUE list, long index, long n);
VXKERNEL_EXPORT long VX_ListSetLongLong(VXVALUE list, long index, long long n);
VXKERNEL_EXPORT long VX_ListGetString(VXVALUE list, long index, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_ListGetStringPtr(VXVALUE list, long index, const char** s);
VXKERNEL_EXPORT long VX_ListSetString(VXVALUE list, long index, const char* s);
VXKERNEL_EXPORT long VX_ListGetDate(VXVALUE list, long index, long long* systime);
VXKERNEL_EXPORT long VX_ListSetDate(VXVALUE list, long index, long long systime);
VXKERNEL_EXPORT long VX_ListGetBoolean(VXVALUE list, long index, long* b);
VXKERNEL_EXPORT long VX_ListSetBoolean(VXVALUE list, long index, unsigned char b);
VXKERNEL_EXPORT long VX_ListSetAssoc(VXVALUE list, long index);

/** VX_Table */
VXKERNEL_EXPORT long VX_TableGetRecord(VXVALUE table, long row, VXVALUE out);
VXKERNEL_EXPORT long VX_TableGetValue(VXVALUE table, long row, const char* column, VXVALUE out);
VXKERNEL_EXPORT long VX_TableSetValue(VXVALUE table, long row, const char* column, const VXVALUE v);
VXKERNEL_EXPORT long VX_TableGetType(VXVALUE table, long row, const char* column, long* type);
VXKERNEL_EXPORT long VX_TableGetLength(VXVALUE table, long row, const char* column, long* length);
VXKERNEL_EXPORT long VX_TableSetLength(VXVALUE table, long row, const char* column, long n);
VXKERNEL_EXPORT long VX_TableGetWidth(VXVALUE table, long row, const char* column, long* width);
VXKERNEL_EXPORT long VX_TableIsUndefined(VXVALUE table, long row, const char* column);
VXKERNEL_EXPORT long VX_TableIsDefined(VXVALUE table, long row, const char* column);
VXKERNEL_EXPORT long VX_TableSetUndefined(VXVALUE table, long row, const char* column);
VXKERNEL_EXPORT long VX_TableGetInteger(VXVALUE table, long row, const char* column, long* n);
VXKERNEL_EXPORT long VX_TableGetLongLong(VXVALUE table, long row, const char* column, long long* n);
VXKERNEL_EXPORT long VX_TableSetInteger(VXVALUE table, long row, const char* column, long n);
VXKERNEL_EXPORT long VX_TableSetLongLong(VXVALUE table, long row, const char* column, long long n);
VXKERNEL_EXPORT long VX_TableGetString(VXVALUE table, long row, const char* column, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_TableGetStringPtr(VXVALUE table, long row, const char* column, const char** s);
VXKERNEL_EXPORT long VX_TableSetString(VXVALUE table, long row, const char* column, const char* s);
VXKERNEL_EXPORT long VX_TableGetDate(VXVALUE table, long row, const char* column, long long* systime);
VXKERNEL_EXPORT long VX_TableSetDate(VXVALUE table, long row, const char* column, long long systime);
VXKERNEL_EXPORT long VX_TableGetBoolean(VXVALUE table, long row, const char* column, long* b);
VXKERNEL_EXPORT long VX_TableSetBoolean(VXVALUE table, long row, const char* column, unsigned char b);
VXKERNEL_EXPORT long VX_TableSetAssoc(VXVALUE table, long row, const char* column);

#ifdef __cplusplus
}
#endif

#endif /* VXKERNEL_CLIENTAPI_VX_CONTAINERS_H_ */
