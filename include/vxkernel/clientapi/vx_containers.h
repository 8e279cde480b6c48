/** \file
 * Typed access to the members of container values: VX_Assoc (entries by
 * key), VX_Record (columns by name), VX_List (elements by 0-based index) and
 * VX_Table (cells by 0-based row and column name). Each function checks the
 * container's type (else VX_ERR_WRONG_TYPE) and then works on the member as
 * the VX_Value function of the same verb does; statuses, handles and
 * buffers follow vx_value.h. A C compiler accepts this header.
 *
 * Each family has the same 21 operations: the member as a value, its type,
 * length and width, the predicates (VX_OK for yes, VX_ERR_WRONG_TYPE for
 * no), and Integer, LongLong, String, Date and Boolean reads and writes,
 * plus SetAssoc; VX_Table adds VX_TableGetRecord. A read copies the member
 * into a temporary and applies the scalar function; a write builds the
 * member with the scalar setter and stores it; the first failing step's
 * status is returned. A member read into out shares its storage, and a
 * ...StringPtr text belongs to the container's member.
 *
 * - VX_Assoc: String keys compared without regard to case. Reading an
 *   absent key answers VX_ERR_NO_FIELD; writing adds it.
 * - VX_Record: column names compared without regard to case; a column the
 *   Record lacks answers VX_ERR_NO_FIELD to reads and writes alike (no
 *   column is ever added). VX_RecordSetUndefined alone skips the Record
 *   check, so on an Assoc it stores Undefined under the key.
 * - VX_List: an index outside 0 to length - 1 answers VX_ERR_INDEX_RANGE;
 *   writes never grow the List (VX_ValueSetLength does).
 * - VX_Table: the container is a RecArray; a row outside 0 to rows - 1
 *   answers VX_ERR_INDEX_RANGE, an unknown column (compared without regard
 *   to case) VX_ERR_NO_FIELD. A cell is reached through its row's Record,
 *   which shares its storage with the table, so writing the cell changes
 *   the table.
 *
 * A null key or column name answers VX_ERR_NO_NAMED_ACCESS to reads and
 * VX_ERR_WRONG_TYPE to writes. */
#ifndef VXKERNEL_CLIENTAPI_VX_CONTAINERS_H_
#define VXKERNEL_CLIENTAPI_VX_CONTAINERS_H_

#include "vxkernel/clientapi/vx_value.h"

#ifdef __cplusplus
extern "C" {
#endif


/* ----- VX_Assoc: entries by key ----- */

/** The entry under key: Get copies it into out (VX_ERR_NO_FIELD when the key
 * is absent); Set stores v under key, adding the entry or replacing
 * its value. */
/**@{*/
VXKERNEL_EXPORT long VX_AssocGetValue(VXVALUE assoc, const char* key, VXVALUE out);
VXKERNEL_EXPORT long VX_AssocSetValue(VXVALUE assoc, const char* key, const VXVALUE v);
/**@}*/
/** VX_ValueGetType, VX_ValueGetLength, VX_ValueSetLength and VX_ValueGetWidth
 * on the entry under key; SetLength stores the resized List or RecArray
 * back. */
/**@{*/
VXKERNEL_EXPORT long VX_AssocGetType(VXVALUE assoc, const char* key, long* type);
VXKERNEL_EXPORT long VX_AssocGetLength(VXVALUE assoc, const char* key, long* length);
VXKERNEL_EXPORT long VX_AssocSetLength(VXVALUE assoc, const char* key, long n);
VXKERNEL_EXPORT long VX_AssocGetWidth(VXVALUE assoc, const char* key, long* width);
/**@}*/
/** VX_ValueIsUndefined, VX_ValueIsDefined and VX_ValueSetUndefined on
 * the entry under key. */
/**@{*/
VXKERNEL_EXPORT long VX_AssocIsUndefined(VXVALUE assoc, const char* key);
VXKERNEL_EXPORT long VX_AssocIsDefined(VXVALUE assoc, const char* key);
VXKERNEL_EXPORT long VX_AssocSetUndefined(VXVALUE assoc, const char* key);
/**@}*/
/** The entry under key as an Integer or a 64-bit integer, with the rules of
 * VX_ValueGetInteger, VX_ValueGetLongLong, VX_ValueSetInteger and
 * VX_ValueSetLongLong. */
/**@{*/
VXKERNEL_EXPORT long VX_AssocGetInteger(VXVALUE assoc, const char* key, long* n);
VXKERNEL_EXPORT long VX_AssocGetLongLong(VXVALUE assoc, const char* key, long long* n);
VXKERNEL_EXPORT long VX_AssocSetInteger(VXVALUE assoc, const char* key, long n);
VXKERNEL_EXPORT long VX_AssocSetLongLong(VXVALUE assoc, const char* key, long long n);
/**@}*/
/** The entry under key as a String, with the rules of VX_ValueGetString,
 * VX_ValueGetStringPtr (the text belongs to the member) and
 * VX_ValueSetString. */
/**@{*/
VXKERNEL_EXPORT long VX_AssocGetString(VXVALUE assoc, const char* key, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_AssocGetStringPtr(VXVALUE assoc, const char* key, const char** s);
VXKERNEL_EXPORT long VX_AssocSetString(VXVALUE assoc, const char* key, const char* s);
/**@}*/
/** The entry under key as a Date or a Boolean, with the rules of
 * VX_ValueGetDate, VX_ValueSetDate, VX_ValueGetBoolean and
 * VX_ValueSetBoolean. */
/**@{*/
VXKERNEL_EXPORT long VX_AssocGetDate(VXVALUE assoc, const char* key, long long* systime);
VXKERNEL_EXPORT long VX_AssocSetDate(VXVALUE assoc, const char* key, long long systime);
VXKERNEL_EXPORT long VX_AssocGetBoolean(VXVALUE assoc, const char* key, long* b);
VXKERNEL_EXPORT long VX_AssocSetBoolean(VXVALUE assoc, const char* key, unsigned char b);
/**@}*/
/** Stores a new empty Assoc as the entry under key, replacing what it held. */
VXKERNEL_EXPORT long VX_AssocSetAssoc(VXVALUE assoc, const char* key);

/* ----- VX_Record: columns by name ----- */

/** The column named column: Get copies it into out, Set stores v in it. A
 * column the Record lacks answers VX_ERR_NO_FIELD. */
/**@{*/
VXKERNEL_EXPORT long VX_RecordGetValue(VXVALUE record, const char* column, VXVALUE out);
VXKERNEL_EXPORT long VX_RecordSetValue(VXVALUE record, const char* column, const VXVALUE v);
/**@}*/
/** VX_ValueGetType, VX_ValueGetLength, VX_ValueSetLength and VX_ValueGetWidth
 * on the column named column; SetLength stores the resized List or RecArray
 * back. */
/**@{*/
VXKERNEL_EXPORT long VX_RecordGetType(VXVALUE record, const char* column, long* type);
VXKERNEL_EXPORT long VX_RecordGetLength(VXVALUE record, const char* column, long* length);
VXKERNEL_EXPORT long VX_RecordSetLength(VXVALUE record, const char* column, long n);
VXKERNEL_EXPORT long VX_RecordGetWidth(VXVALUE record, const char* column, long* width);
/**@}*/
/** VX_ValueIsUndefined, VX_ValueIsDefined and VX_ValueSetUndefined on
 * the column named column. VX_RecordSetUndefined skips the Record check: on
 * an Assoc it stores Undefined under the key named column. */
/**@{*/
VXKERNEL_EXPORT long VX_RecordIsUndefined(VXVALUE record, const char* column);
VXKERNEL_EXPORT long VX_RecordIsDefined(VXVALUE record, const char* column);
VXKERNEL_EXPORT long VX_RecordSetUndefined(VXVALUE record, const char* column);
/**@}*/
/** The column named column as an Integer or a 64-bit integer, with the rules of
 * VX_ValueGetInteger, VX_ValueGetLongLong, VX_ValueSetInteger and
 * VX_ValueSetLongLong. */
/**@{*/
VXKERNEL_EXPORT long VX_RecordGetInteger(VXVALUE record, const char* column, long* n);
VXKERNEL_EXPORT long VX_RecordGetLongLong(VXVALUE record, const char* column, long long* n);
VXKERNEL_EXPORT long VX_RecordSetInteger(VXVALUE record, const char* column, long n);
VXKERNEL_EXPORT long VX_RecordSetLongLong(VXVALUE record, const char* column, long long n);
/**@}*/
/** The column named column as a String, with the rules of VX_ValueGetString,
 * VX_ValueGetStringPtr (the text belongs to the member) and
 * VX_ValueSetString. */
/**@{*/
VXKERNEL_EXPORT long VX_RecordGetString(VXVALUE record, const char* column, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_RecordGetStringPtr(VXVALUE record, const char* column, const char** s);
VXKERNEL_EXPORT long VX_RecordSetString(VXVALUE record, const char* column, const char* s);
/**@}*/
/** The column named column as a Date or a Boolean, with the rules of
 * VX_ValueGetDate, VX_ValueSetDate, VX_ValueGetBoolean and
 * VX_ValueSetBoolean. */
/**@{*/
VXKERNEL_EXPORT long VX_RecordGetDate(VXVALUE record, const char* column, long long* systime);
VXKERNEL_EXPORT long VX_RecordSetDate(VXVALUE record, const char* column, long long systime);
VXKERNEL_EXPORT long VX_RecordGetBoolean(VXVALUE record, const char* column, long* b);
VXKERNEL_EXPORT long VX_RecordSetBoolean(VXVALUE record, const char* column, unsigned char b);
/**@}*/
/** Stores a new empty Assoc as the column named column, replacing what it
 * held. */
VXKERNEL_EXPORT long VX_RecordSetAssoc(VXVALUE record, const char* column);

/* ----- VX_List: elements by 0-based index ----- */

/** Element index (from 0): Get copies it into out, Set stores v in it (a
 * null v answers VX_ERR_BAD_ARGUMENT). */
/**@{*/
VXKERNEL_EXPORT long VX_ListGetValue(VXVALUE list, long index, VXVALUE out);
VXKERNEL_EXPORT long VX_ListSetValue(VXVALUE list, long index, const VXVALUE v);
/**@}*/
/** VX_ValueGetType, VX_ValueGetLength, VX_ValueSetLength and VX_ValueGetWidth
 * on element index; SetLength stores the resized List or RecArray back. */
/**@{*/
VXKERNEL_EXPORT long VX_ListGetType(VXVALUE list, long index, long* type);
VXKERNEL_EXPORT long VX_ListGetLength(VXVALUE list, long index, long* length);
VXKERNEL_EXPORT long VX_ListSetLength(VXVALUE list, long index, long n);
VXKERNEL_EXPORT long VX_ListGetWidth(VXVALUE list, long index, long* width);
/**@}*/
/** VX_ValueIsUndefined, VX_ValueIsDefined and VX_ValueSetUndefined on
 * element index. */
/**@{*/
VXKERNEL_EXPORT long VX_ListIsUndefined(VXVALUE list, long index);
VXKERNEL_EXPORT long VX_ListIsDefined(VXVALUE list, long index);
VXKERNEL_EXPORT long VX_ListSetUndefined(VXVALUE list, long index);
/**@}*/
/** Element index as an Integer or a 64-bit integer, with the rules of
 * VX_ValueGetInteger, VX_ValueGetLongLong, VX_ValueSetInteger and
 * VX_ValueSetLongLong. */
/**@{*/
VXKERNEL_EXPORT long VX_ListGetInteger(VXVALUE list, long index, long* n);
VXKERNEL_EXPORT long VX_ListGetLongLong(VXVALUE list, long index, long long* n);
VXKERNEL_EXPORT long VX_ListSetInteger(VXVALUE list, long index, long n);
VXKERNEL_EXPORT long VX_ListSetLongLong(VXVALUE list, long index, long long n);
/**@}*/
/** Element index as a String, with the rules of VX_ValueGetString,
 * VX_ValueGetStringPtr (the text belongs to the member) and
 * VX_ValueSetString. */
/**@{*/
VXKERNEL_EXPORT long VX_ListGetString(VXVALUE list, long index, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_ListGetStringPtr(VXVALUE list, long index, const char** s);
VXKERNEL_EXPORT long VX_ListSetString(VXVALUE list, long index, const char* s);
/**@}*/
/** Element index as a Date or a Boolean, with the rules of
 * VX_ValueGetDate, VX_ValueSetDate, VX_ValueGetBoolean and
 * VX_ValueSetBoolean. */
/**@{*/
VXKERNEL_EXPORT long VX_ListGetDate(VXVALUE list, long index, long long* systime);
VXKERNEL_EXPORT long VX_ListSetDate(VXVALUE list, long index, long long systime);
VXKERNEL_EXPORT long VX_ListGetBoolean(VXVALUE list, long index, long* b);
VXKERNEL_EXPORT long VX_ListSetBoolean(VXVALUE list, long index, unsigned char b);
/**@}*/
/** Stores a new empty Assoc as element index, replacing what it held. */
VXKERNEL_EXPORT long VX_ListSetAssoc(VXVALUE list, long index);

/* ----- VX_Table: cells by 0-based row and column name ----- */

/** Row row (from 0) into out as its Record, which shares its storage with
 * the table: writing into it (VX_RecordSetInteger, say) changes the table.
 * A null out answers VX_ERR_WRONG_TYPE. */
VXKERNEL_EXPORT long VX_TableGetRecord(VXVALUE table, long row, VXVALUE out);
/** The cell at row (from 0) and column: Get copies it into out, Set stores
 * v in it, changing the table. */
/**@{*/
VXKERNEL_EXPORT long VX_TableGetValue(VXVALUE table, long row, const char* column, VXVALUE out);
VXKERNEL_EXPORT long VX_TableSetValue(VXVALUE table, long row, const char* column, const VXVALUE v);
/**@}*/
/** VX_ValueGetType, VX_ValueGetLength, VX_ValueSetLength and VX_ValueGetWidth
 * on the cell at row and column; SetLength stores the resized List or
 * RecArray back. */
/**@{*/
VXKERNEL_EXPORT long VX_TableGetType(VXVALUE table, long row, const char* column, long* type);
VXKERNEL_EXPORT long VX_TableGetLength(VXVALUE table, long row, const char* column, long* length);
VXKERNEL_EXPORT long VX_TableSetLength(VXVALUE table, long row, const char* column, long n);
VXKERNEL_EXPORT long VX_TableGetWidth(VXVALUE table, long row, const char* column, long* width);
/**@}*/
/** VX_ValueIsUndefined, VX_ValueIsDefined and VX_ValueSetUndefined on
 * the cell at row and column. */
/**@{*/
VXKERNEL_EXPORT long VX_TableIsUndefined(VXVALUE table, long row, const char* column);
VXKERNEL_EXPORT long VX_TableIsDefined(VXVALUE table, long row, const char* column);
VXKERNEL_EXPORT long VX_TableSetUndefined(VXVALUE table, long row, const char* column);
/**@}*/
/** The cell at row and column as an Integer or a 64-bit integer, with the
 * rules of VX_ValueGetInteger, VX_ValueGetLongLong, VX_ValueSetInteger and
 * VX_ValueSetLongLong. */
/**@{*/
VXKERNEL_EXPORT long VX_TableGetInteger(VXVALUE table, long row, const char* column, long* n);
VXKERNEL_EXPORT long VX_TableGetLongLong(VXVALUE table, long row, const char* column, long long* n);
VXKERNEL_EXPORT long VX_TableSetInteger(VXVALUE table, long row, const char* column, long n);
VXKERNEL_EXPORT long VX_TableSetLongLong(VXVALUE table, long row, const char* column, long long n);
/**@}*/
/** The cell at row and column as a String, with the rules of VX_ValueGetString,
 * VX_ValueGetStringPtr (the text belongs to the member) and
 * VX_ValueSetString. */
/**@{*/
VXKERNEL_EXPORT long VX_TableGetString(VXVALUE table, long row, const char* column, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_TableGetStringPtr(VXVALUE table, long row, const char* column, const char** s);
VXKERNEL_EXPORT long VX_TableSetString(VXVALUE table, long row, const char* column, const char* s);
/**@}*/
/** The cell at row and column as a Date or a Boolean, with the rules of
 * VX_ValueGetDate, VX_ValueSetDate, VX_ValueGetBoolean and
 * VX_ValueSetBoolean. */
/**@{*/
VXKERNEL_EXPORT long VX_TableGetDate(VXVALUE table, long row, const char* column, long long* systime);
VXKERNEL_EXPORT long VX_TableSetDate(VXVALUE table, long row, const char* column, long long systime);
VXKERNEL_EXPORT long VX_TableGetBoolean(VXVALUE table, long row, const char* column, long* b);
VXKERNEL_EXPORT long VX_TableSetBoolean(VXVALUE table, long row, const char* column, unsigned char b);
/**@}*/
/** Stores a new empty Assoc as the cell at row and column, replacing what it
 * held. */
VXKERNEL_EXPORT long VX_TableSetAssoc(VXVALUE table, long row, const char* column);

#ifdef __cplusplus
}
#endif

#endif /* VXKERNEL_CLIENTAPI_VX_CONTAINERS_H_ */
