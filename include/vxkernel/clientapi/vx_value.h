/** \file
 * The flat client interface to script values and client locks.
 *
 * Client components that cannot use the C++ value classes exchange values
 * through opaque handles: a VXVALUE designates a heap-allocated value owned
 * by the caller, a VXLOCK a mutex. Every function returns a status, 0 for
 * success; out-parameters are written only on success unless stated.
 * Indexes are 0-based. A C compiler accepts this header.
 *
 * No function lets a C++ exception reach its caller. When memory runs out
 * (or a request is larger than the heap can serve) the function answers
 * VX_ERR_NO_MEMORY, writes one debug line "<function> - out of memory" and
 * leaves every handle it was given with the value it held, writing no
 * out-parameter. Any other failure inside the library answers
 * VX_ERR_INTERNAL with one line of its own.
 *
 * Thread rules: no locking of its own; a handle is used by one thread at a
 * time (the VX_Lock functions give callers a mutex for that). */
#ifndef VXKERNEL_CLIENTAPI_VX_VALUE_H_
#define VXKERNEL_CLIENTAPI_VX_VALUE_H_

#include "vxkernel/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VXValueHandle* VXVALUE;
typedef struct VXLockHandle* VXLOCK;

/** Status codes. */
#define VX_OK 0L
#define VX_ERR_WRONG_TYPE ((long)0x80010005L)
#define VX_ERR_BUFFER_TOO_SMALL ((long)0x80010009L)
#define VX_ERR_INDEX_RANGE ((long)0x8001000CL)
#define VX_ERR_NO_INDEX_ACCESS ((long)0x8001000EL)
#define VX_ERR_NO_NAMED_ACCESS ((long)0x8001000FL)
#define VX_ERR_NO_FIELD ((long)0x80010010L)
#define VX_ERR_BAD_ARGUMENT ((long)0x80010012L)
#define VX_ERR_NEGATIVE_SIZE ((long)0x80010018L)
#define VX_ERR_NO_CLASS ((long)0x80010020L)
#define VX_ERR_NO_MEMORY ((long)0x80010030L) /* the heap refused; one debug line */
#define VX_ERR_INTERNAL ((long)0x80010031L)  /* unexpected failure; one debug line */

/** Handles. */
VXKERNEL_EXPORT long VX_ValueAlloc(VXVALUE* out);
VXKERNEL_EXPORT long VX_ValueFree(VXVALUE value);
VXKERNEL_EXPORT long VX_ValueSetValue(VXVALUE value, const VXVALUE source);

/** Type. */
VXKERNEL_EXPORT long VX_ValueGetType(VXVALUE value, long* type);
VXKERNEL_EXPORT long VX_ValueIsUndefined(VXVALUE value);
VXKERNEL_EXPORT long VX_ValueIsDefined(VXVALUE value);
VXKERNEL_EXPORT long VX_ValueSetUndefined(VXVALUE value);

/** Scalars. */
VXKERNEL_EXPORT long VX_ValueSetError(VXVALUE value, long code);
VXKERNEL_EXPORT long VX_ValueGetError(VXVALUE value, long* code);
VXKERNEL_EXPORT long VX_ValueSetString(VXVALUE value, const char* s);
VXKERNEL_EXPORT long VX_ValueGetString(VXVALUE value, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_ValueGetStringPtr(VXVALUE value, const char** s);
VXKERNEL_EXPORT long VX_ValueSetInteger(VXVALUE value, long n);
VXKERNEL_EXPORT long VX_ValueSetLong(VXVALUE value, long n);
VXKERNEL_EXPORT long VX_ValueSetULong(VXVALUE value, unsigned long n);
VXKERNEL_EXPORT long VX_ValueSetShort(VXVALUE value, short n);
VXKERNEL_EXPORT long VX_ValueSetUShort(VXVALUE value, unsigned short n);
VXKERNEL_EXPORT long VX_ValueSetChar(VXVALUE value, char n);
VXKERNEL_EXPORT long VX_ValueSetUChar(VXVALUE value, unsigned char n);
VXKERNEL_EXPORT long VX_ValueGetInteger(VXVALUE value, long* n);
VXKERNEL_EXPORT long VX_ValueGetLong(VXVALUE value, long* n);
VXKERNEL_EXPORT long VX_ValueGetULong(VXVALUE value, unsigned long* n);
VXKERNEL_EXPORT long VX_ValueGetShort(VXVALUE value, short* n);
VXKERNEL_EXPORT long VX_ValueGetUShort(VXVALUE value, unsigned short* n);
VXKERNEL_EXPORT long VX_ValueGetChar(VXVALUE value, char* n);
VXKERNEL_EXPORT long VX_ValueGetUChar(VXVALUE value, unsigned char* n);
VXKERNEL_EXPORT long VX_ValueSetLongLong(VXVALUE value, long long n);
VXKERNEL_EXPORT long VX_ValueGetLongLong(VXVALUE value, long long* n);
VXKERNEL_EXPORT long VX_ValueSetDouble(VXVALUE value, double d);
VXKERNEL_EXPORT long VX_ValueGetDouble(VXVALUE value, double* d);
VXKERNEL_EXPORT long VX_ValueSetBoolean(VXVALUE value, unsigned char b);
VXKERNEL_EXPORT long VX_ValueGetBoolean(VXVALUE value, long* b);
VXKERNEL_EXPORT long VX_ValueSetDate(VXVALUE value, long long systime);
VXKERNEL_EXPORT long VX_ValueGetDate(VXVALUE value, long long* systime);
VXKERNEL_EXPORT long VX_ValueSetBytes(VXVALUE value, const void* bytes, long length);
VXKERNEL_EXPORT long VX_ValueGetBytes(VXVALUE value, void* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_ValueGetBytesPtr(VXVALUE value, const void** bytes, long* length);
VXKERNEL_EXPORT long VX_ValueGetLength(VXVALUE value, long* length);
/** out becomes a String holding the value's display text. */
VXKERNEL_EXPORT long VX_ValueGetFormatted(VXVALUE value, VXVALUE out);
VXKERNEL_EXPORT long VX_ValueGetDisplayString(VXVALUE value, VXVALUE out);
/** A value of the class with that number and data word. For a class whose
 * values live in storage the word is borrowed: the handle takes a reference
 * of its own, so freeing it never frees storage another handle still holds.
 * Such a word must be 0 or one that VX_ValueGetInstance gave for a live
 * value of that class. Get gives the data word without a reference. */
VXKERNEL_EXPORT long VX_ValueSetInstance(VXVALUE value, short classNumber, long data);
VXKERNEL_EXPORT long VX_ValueGetInstance(VXVALUE value, long* data);
/** A Ptr value (class 17) holding a copy of source; a value that already is
 * a Ptr keeps its box and has the held value replaced. Get copies the held
 * value into out; a value that is not a Ptr, or has no box, gives
 * VX_ERR_WRONG_TYPE. */
VXKERNEL_EXPORT long VX_ValueSetPtr(VXVALUE value, const VXVALUE source);
VXKERNEL_EXPORT long VX_ValueGetPtr(VXVALUE value, VXVALUE out);

/** Containers as a whole. */
VXKERNEL_EXPORT long VX_ValueGetWidth(VXVALUE value, long* width);
VXKERNEL_EXPORT long VX_ValueSetLength(VXVALUE value, long n);
VXKERNEL_EXPORT long VX_ValueSetList(VXVALUE value);
VXKERNEL_EXPORT long VX_ValueSetAssoc(VXVALUE value);
VXKERNEL_EXPORT long VX_ValueSetAssocOutArgs(VXVALUE value);
VXKERNEL_EXPORT long VX_ValueSetAssocInArgs(VXVALUE value); /**< absent keys read NotSet */
VXKERNEL_EXPORT long VX_ValueSetTable(VXVALUE value, const VXVALUE columns);

/** Members by 0-based index: RecArray rows, Record columns, Assoc entries in
 * key order, List elements. */
VXKERNEL_EXPORT long VX_ValueGetIndexValue(VXVALUE value, long i, VXVALUE out);
VXKERNEL_EXPORT long VX_ValueSetIndexValue(VXVALUE value, long i, const VXVALUE v);
VXKERNEL_EXPORT long VX_ValueGetIndexField(VXVALUE value, long i, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_ValueGetIndexFieldPtr(VXVALUE value, long i, const char** name);
VXKERNEL_EXPORT long VX_ValueIndexIsUndefined(VXVALUE value, long i);
VXKERNEL_EXPORT long VX_ValueIndexIsDefined(VXVALUE value, long i);
VXKERNEL_EXPORT long VX_ValueIndexSetUndefined(VXVALUE value, long i);
VXKERNEL_EXPORT long VX_ValueGetIndexWidth(VXVALUE value, long i, long* width);
VXKERNEL_EXPORT long VX_ValueGetIndexType(VXVALUE value, long i, long* type);
VXKERNEL_EXPORT long VX_ValueGetIndexLength(VXVALUE value, long i, long* length);
VXKERNEL_EXPORT long VX_ValueSetIndexLength(VXVALUE value, long i, long n);
VXKERNEL_EXPORT long VX_ValueGetIndexInteger(VXVALUE value, long i, long* n);
VXKERNEL_EXPORT long VX_ValueSetIndexInteger(VXVALUE value, long i, long n);
VXKERNEL_EXPORT long VX_ValueGetIndexLongLong(VXVALUE value, long i, long long* n);
VXKERNEL_EXPORT long VX_ValueSetIndexLongLong(VXVALUE value, long i, long long n);
VXKERNEL_EXPORT long VX_ValueGetIndexString(VXVALUE value, long i, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_ValueGetIndexStringPtr(VXVALUE value, long i, const char** s);
VXKERNEL_EXPORT long VX_ValueSetIndexString(VXVALUE value, long i, const char* s);
VXKERNEL_EXPORT long VX_ValueGetIndexDate(VXVALUE value, long i, long long* systime);
VXKERNEL_EXPORT long VX_ValueSetIndexDate(VXVALUE value, long i, long long systime);
VXKERNEL_EXPORT long VX_ValueGetIndexBoolean(VXVALUE value, long i, long* b);
VXKERNEL_EXPORT long VX_ValueSetIndexBoolean(VXVALUE value, long i, unsigned char b);

/** Members by name: Record columns, Assoc entries with String keys. */
VXKERNEL_EXPORT long VX_ValueGetFieldValue(VXVALUE value, const char* name, VXVALUE out);
VXKERNEL_EXPORT long VX_ValueSetFieldValue(VXVALUE value, const char* name, const VXVALUE v);
VXKERNEL_EXPORT long VX_ValueFieldIsUndefined(VXVALUE value, const char* name);
VXKERNEL_EXPORT long VX_ValueFieldIsDefined(VXVALUE value, const char* name);
VXKERNEL_EXPORT long VX_ValueFieldSetUndefined(VXVALUE value, const char* name);
VXKERNEL_EXPORT long VX_ValueGetFieldWidth(VXVALUE value, const char* name, long* width);
VXKERNEL_EXPORT long VX_ValueGetFieldType(VXVALUE value, const char* name, long* type);
VXKERNEL_EXPORT long VX_ValueGetFieldLength(VXVALUE value, const char* name, long* length);
VXKERNEL_EXPORT long VX_ValueSetFieldLength(VXVALUE value, const char* name, long n);
VXKERNEL_EXPORT long VX_ValueGetFieldInteger(VXVALUE value, const char* name, long* n);
VXKERNEL_EXPORT long VX_ValueSetFieldInteger(VXVALUE value, const char* name, long n);
VXKERNEL_EXPORT long VX_ValueGetFieldLongLong(VXVALUE value, const char* name, long long* n);
VXKERNEL_EXPORT long VX_ValueSetFieldLongLong(VXVALUE value, const char* name, long long n);
VXKERNEL_EXPORT long VX_ValueGetFieldString(VXVALUE value, const char* name, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_ValueGetFieldStringPtr(VXVALUE value, const char* name, const char** s);
VXKERNEL_EXPORT long VX_ValueSetFieldString(VXVALUE value, const char* name, const char* s);
VXKERNEL_EXPORT long VX_ValueGetFieldDate(VXVALUE value, const char* name, long long* systime);
VXKERNEL_EXPORT long VX_ValueSetFieldDate(VXVALUE value, const char* name, long long systime);
VXKERNEL_EXPORT long VX_ValueGetFieldBoolean(VXVALUE value, const char* name, long* b);
VXKERNEL_EXPORT long VX_ValueSetFieldBoolean(VXVALUE value, const char* name, unsigned char b);

/** Client locks: exclusive, waiting without limit. All return 0. */
VXKERNEL_EXPORT long VX_LockAlloc(VXLOCK* out);
VXKERNEL_EXPORT long VX_LockFree(VXLOCK lock);
VXKERNEL_EXPORT long VX_LockLock(VXLOCK lock);
VXKERNEL_EXPORT long VX_LockUnlock(VXLOCK lock);

#ifdef __cplusplus
}
#endif

#endif /* VXKERNEL_CLIENTAPI_VX_VALUE_H_ */
