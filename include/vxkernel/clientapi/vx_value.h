/** \file
 * The flat client interface to script values and client locks.
 *
 * Client components that cannot use the C++ value classes exchange values
 * through opaque handles: a VXVALUE designates a heap-allocated value owned
 * by the caller, a VXLOCK a mutex. Every function returns a status, 0 for
 * success; out-parameters are written only on success unless stated.
 * Indexes are 0-based. A C compiler accepts this header.
 *
 * A VXVALUE passed as an out-parameter (out) is a handle the caller already
 * allocated: the function replaces the value it holds. A value taken from
 * another (VX_ValueSetValue, the member reads) shares its storage, as a
 * copy of a C++ KQSValue does; text and byte pointers handed out (the ...Ptr
 * functions) belong to the value and stay valid while it holds them.
 * The predicates (VX_ValueIsDefined and the like) answer VX_OK for yes and
 * VX_ERR_WRONG_TYPE for no. Unless a function says otherwise, a null handle
 * or a null out-parameter answers VX_ERR_WRONG_TYPE (the member functions:
 * their access error) instead of crashing.
 *
 * Members by 0-based index are RecArray rows (as Records), Record columns,
 * Assoc entries in key order and List elements. The kind of value is
 * checked before the index: a value without members by index answers
 * VX_ERR_NO_INDEX_ACCESS for any i, an i outside 0 to length - 1
 * VX_ERR_INDEX_RANGE. Members by name are Record columns and Assoc entries
 * with String keys, both compared without regard to case. Reads by name
 * answer VX_ERR_NO_NAMED_ACCESS for any other value (or a null name) and
 * VX_ERR_NO_FIELD for a name not there; writes answer VX_ERR_WRONG_TYPE for
 * any other value (or a null name) and VX_ERR_NO_FIELD for a column a
 * Record lacks, and add the key to an Assoc. The composites
 * (VX_ValueGetIndexInteger, VX_ValueSetFieldString, ...) read the member
 * into a temporary and apply the VX_Value function of the same verb, or
 * build the member with it and store it, so they answer that function's
 * statuses too; the first failing step's status is returned.
 *
 * No function lets a C++ exception reach its caller. When memory runs out
 * (or a request is larger than the heap can serve) the function answers
 * VX_ERR_NO_MEMORY, writes one debug line "<function> - out of memory" and
 * leaves every handle it was given with the value it held, writing no
 * out-parameter. Any other failure inside the library answers
 * VX_ERR_INTERNAL with one line of its own.
 *
 * Thread rules: no locking of its own; a handle is used by one thread at a
 * time (the VX_Lock functions give callers a mutex for that: exclusive,
 * re-entrant, waiting without limit). */
#ifndef VXKERNEL_CLIENTAPI_VX_VALUE_H_
#define VXKERNEL_CLIENTAPI_VX_VALUE_H_

#include "vxkernel/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/** A value owned by the caller: made by VX_ValueAlloc, released by
 * VX_ValueFree. A distinct incomplete type, so a C compiler rejects a VXLOCK
 * passed in its place. */
typedef struct VXValueHandle* VXVALUE;
/** An exclusive, re-entrant lock owned by the caller: made by VX_LockAlloc,
 * released by VX_LockFree. */
typedef struct VXLockHandle* VXLOCK;

/** \name Status codes
 * What every function returns: VX_OK, or one of the VX_ERR_ codes. */
/**@{*/
#define VX_OK 0L /**< success */
/** The value (or member) is not of the type the function needs; also the
 * "no" of the predicates, and the answer to a null handle. */
#define VX_ERR_WRONG_TYPE ((long)0x80010005L)
/** The buffer was too small: as much as fits was copied (text keeps its
 * terminator) and the full length is reported. */
#define VX_ERR_BUFFER_TOO_SMALL ((long)0x80010009L)
#define VX_ERR_INDEX_RANGE ((long)0x8001000CL)     /**< index outside 0 to length - 1 */
#define VX_ERR_NO_INDEX_ACCESS ((long)0x8001000EL) /**< the value has no members by index */
#define VX_ERR_NO_NAMED_ACCESS ((long)0x8001000FL) /**< the value has no members by name */
#define VX_ERR_NO_FIELD ((long)0x80010010L)        /**< no column or key of that name */
#define VX_ERR_BAD_ARGUMENT ((long)0x80010012L)    /**< an argument value has the wrong type */
#define VX_ERR_NEGATIVE_SIZE ((long)0x80010018L)   /**< a negative buffer size */
#define VX_ERR_NO_CLASS ((long)0x80010020L)        /**< no class with that number */
#define VX_ERR_NO_MEMORY ((long)0x80010030L) /**< the heap refused; one debug line */
#define VX_ERR_INTERNAL ((long)0x80010031L)  /**< unexpected failure; one debug line */
/**@}*/

/* ----- Handles ----- */

/** Stores in *out a new handle holding Undefined, which the caller releases
 * with VX_ValueFree. A null out answers VX_ERR_WRONG_TYPE. */
VXKERNEL_EXPORT long VX_ValueAlloc(VXVALUE* out);
/** Releases the handle and its reference to the value; a null handle is
 * accepted. Always VX_OK; the handle must not be used afterwards. */
VXKERNEL_EXPORT long VX_ValueFree(VXVALUE value);
/** value becomes what source holds, sharing its storage (a C++ copy); a
 * null handle on either side answers VX_ERR_WRONG_TYPE. */
VXKERNEL_EXPORT long VX_ValueSetValue(VXVALUE value, const VXVALUE source);

/* ----- Type ----- */

/** Stores the class number in *type: 0 Undefined, 1 Error, 2 Integer,
 * 5 Boolean, 7 NotSet, 17 Ptr, -1 String, -2 List, -4 Real, -6 Bytes,
 * -7 Date, -8 Long, -18 Assoc, -109 Record, -110 RecArray (vxk_types in
 * vxkernel/values/type_numbers.h lists them all). */
VXKERNEL_EXPORT long VX_ValueGetType(VXVALUE value, long* type);
/** VX_OK when the value is Undefined (class 0), else VX_ERR_WRONG_TYPE;
 * NotSet counts as defined. */
VXKERNEL_EXPORT long VX_ValueIsUndefined(VXVALUE value);
/** VX_OK when the value is not Undefined, else VX_ERR_WRONG_TYPE. */
VXKERNEL_EXPORT long VX_ValueIsDefined(VXVALUE value);
/** The value becomes Undefined, releasing what it held. */
VXKERNEL_EXPORT long VX_ValueSetUndefined(VXVALUE value);

/* ----- Scalars ----- */

/** An Error value: Set keeps the low 32 bits of code; Get stores the code
 * of an Error value, and answers VX_ERR_WRONG_TYPE for any other. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueSetError(VXVALUE value, long code);
VXKERNEL_EXPORT long VX_ValueGetError(VXVALUE value, long* code);
/**@}*/
/** The value becomes a String holding a copy of the text s (a null s gives
 * the empty String). */
VXKERNEL_EXPORT long VX_ValueSetString(VXVALUE value, const char* s);
/** Copies a String's text and its terminator into buffer (size bytes) and
 * stores its length in bytes, terminator excluded, in *length. When the
 * text does not fit, copies size - 1 bytes and a terminator and answers
 * VX_ERR_BUFFER_TOO_SMALL, still reporting the full length; a null buffer
 * with size 0 asks for the length alone. buffer and length may be null. A
 * value that is not a String answers VX_ERR_WRONG_TYPE, a negative size
 * VX_ERR_NEGATIVE_SIZE. */
VXKERNEL_EXPORT long VX_ValueGetString(VXVALUE value, char* buffer, long size, long* length);
/** Stores in *s the String's own terminated text, not a copy: valid while
 * the value holds that String, and not to be freed. A value that is not a
 * String answers VX_ERR_WRONG_TYPE. */
VXKERNEL_EXPORT long VX_ValueGetStringPtr(VXVALUE value, const char** s);
/** The value becomes an Integer holding n's low 32 bits as a signed number:
 * unsigned values from 2^31 up read back negative, and a 64-bit long wraps
 * (VX_ValueSetLongLong keeps all 64 bits). */
/**@{*/
VXKERNEL_EXPORT long VX_ValueSetInteger(VXVALUE value, long n);
VXKERNEL_EXPORT long VX_ValueSetLong(VXVALUE value, long n);
VXKERNEL_EXPORT long VX_ValueSetULong(VXVALUE value, unsigned long n);
VXKERNEL_EXPORT long VX_ValueSetShort(VXVALUE value, short n);
VXKERNEL_EXPORT long VX_ValueSetUShort(VXVALUE value, unsigned short n);
VXKERNEL_EXPORT long VX_ValueSetChar(VXVALUE value, char n);
VXKERNEL_EXPORT long VX_ValueSetUChar(VXVALUE value, unsigned char n);
/**@}*/
/** Stores an Integer's value, or a Long's when it fits in 32 signed bits,
 * converted to the out-parameter's type (the narrower types truncate, and
 * the unsigned ones take a negative number modulo their range). Any other
 * value, or a Long beyond 32 bits, answers VX_ERR_WRONG_TYPE. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetInteger(VXVALUE value, long* n);
VXKERNEL_EXPORT long VX_ValueGetLong(VXVALUE value, long* n);
VXKERNEL_EXPORT long VX_ValueGetULong(VXVALUE value, unsigned long* n);
VXKERNEL_EXPORT long VX_ValueGetShort(VXVALUE value, short* n);
VXKERNEL_EXPORT long VX_ValueGetUShort(VXVALUE value, unsigned short* n);
VXKERNEL_EXPORT long VX_ValueGetChar(VXVALUE value, char* n);
VXKERNEL_EXPORT long VX_ValueGetUChar(VXVALUE value, unsigned char* n);
/**@}*/
/** A 64-bit integer: Set makes a Long; Get reads an Integer or a Long, and
 * answers VX_ERR_WRONG_TYPE for any other value. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueSetLongLong(VXVALUE value, long long n);
VXKERNEL_EXPORT long VX_ValueGetLongLong(VXVALUE value, long long* n);
/**@}*/
/** A Real (a double): Get answers VX_ERR_WRONG_TYPE for any other value,
 * an Integer too. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueSetDouble(VXVALUE value, double d);
VXKERNEL_EXPORT long VX_ValueGetDouble(VXVALUE value, double* d);
/**@}*/
/** A Boolean: Set stores b as given, so pass 0 or 1 (equal Booleans must
 * hold equal bytes); Get stores 1 for true and 0 for false, and answers
 * VX_ERR_WRONG_TYPE for any value that is not a Boolean. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueSetBoolean(VXVALUE value, unsigned char b);
VXKERNEL_EXPORT long VX_ValueGetBoolean(VXVALUE value, long* b);
/**@}*/
/** A Date, given and read as systime, whole seconds since 1970 (UTC). Set
 * stores the local date and time of that instant; a time beyond the
 * system's range leaves the Date's fields at their defaults and writes one
 * debug line, still answering VX_OK. Get reads the fields back as local
 * time (-1 with one debug line when they do not convert) and answers
 * VX_ERR_WRONG_TYPE for a value that is not a Date. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueSetDate(VXVALUE value, long long systime);
VXKERNEL_EXPORT long VX_ValueGetDate(VXVALUE value, long long* systime);
/**@}*/
/** The value becomes Bytes holding a copy of length bytes from bytes
 * (zeros for a null bytes). */
VXKERNEL_EXPORT long VX_ValueSetBytes(VXVALUE value, const void* bytes, long length);
/** Copies at most size bytes of a Bytes value into buffer and stores the
 * full length in *length; VX_ERR_BUFFER_TOO_SMALL when they do not all
 * fit (as many as fit are copied). buffer and length may be null. A value
 * that is not Bytes answers VX_ERR_WRONG_TYPE, a negative size
 * VX_ERR_NEGATIVE_SIZE. */
VXKERNEL_EXPORT long VX_ValueGetBytes(VXVALUE value, void* buffer, long size, long* length);
/** Stores in *bytes the value's own bytes, not a copy (valid while the value
 * holds them; not to be freed), and their count in *length when length is
 * not null. A value that is not Bytes answers VX_ERR_WRONG_TYPE. */
VXKERNEL_EXPORT long VX_ValueGetBytesPtr(VXVALUE value, const void** bytes, long* length);
/** Stores what the value's class counts: elements of a List, bytes of a
 * String or Bytes value, rows of a RecArray, columns of a Record, pairs of
 * an Assoc; 0 for a storage value without storage, -1 for a class without
 * a length. */
VXKERNEL_EXPORT long VX_ValueGetLength(VXVALUE value, long* length);
/** out becomes a String holding the value's display text. The two names
 * are the same function. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetFormatted(VXVALUE value, VXVALUE out);
VXKERNEL_EXPORT long VX_ValueGetDisplayString(VXVALUE value, VXVALUE out);
/**@}*/
/** A value of the class with that number and data word. For a class whose
 * values live in storage the word is borrowed: the handle takes a reference
 * of its own, so freeing it never frees storage another handle still holds.
 * Such a word must be 0 or one that VX_ValueGetInstance gave for a live
 * value of that class. Get gives the data word without a reference. An
 * unknown class number answers VX_ERR_NO_CLASS. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueSetInstance(VXVALUE value, short classNumber, long data);
VXKERNEL_EXPORT long VX_ValueGetInstance(VXVALUE value, long* data);
/**@}*/
/** A Ptr value (class 17) holding a copy of source; a value that already is
 * a Ptr keeps its box and has the held value replaced. Every copy of a Ptr
 * value shares its box, so a Set through one handle changes what all of
 * them hold. Get copies the held value into out; a value that is not a
 * Ptr, or has no box, gives VX_ERR_WRONG_TYPE. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueSetPtr(VXVALUE value, const VXVALUE source);
VXKERNEL_EXPORT long VX_ValueGetPtr(VXVALUE value, VXVALUE out);
/**@}*/

/* ----- Containers as a whole ----- */

/** Stores the columns of a RecArray, the members of a List, Record or
 * Assoc (as VX_ValueGetLength), and 1 for any other value. */
VXKERNEL_EXPORT long VX_ValueGetWidth(VXVALUE value, long* width);
/** Makes a List exactly n elements long (Undefined elements added, or the
 * List cut) or a RecArray n rows long (empty rows added, or the rows from
 * n on deleted; a negative n deletes them all). Any other value answers
 * VX_ERR_WRONG_TYPE. A growth of 65,536 or more first asks the heap for
 * its room in one piece, so a hopeless n answers VX_ERR_NO_MEMORY at once;
 * on that failure the value is as it was. */
VXKERNEL_EXPORT long VX_ValueSetLength(VXVALUE value, long n);
/** The value becomes a new empty List. */
VXKERNEL_EXPORT long VX_ValueSetList(VXVALUE value);
/** The value becomes a new empty Assoc; the OutArgs form is the same. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueSetAssoc(VXVALUE value);
VXKERNEL_EXPORT long VX_ValueSetAssocOutArgs(VXVALUE value);
/**@}*/
/** The value becomes a new empty Assoc whose absent keys read NotSet
 * through the C++ value interface; the by-name functions here still answer
 * VX_ERR_NO_FIELD for them. */
VXKERNEL_EXPORT long VX_ValueSetAssocInArgs(VXVALUE value);
/** The value becomes a new RecArray without rows, with one column per
 * element of the List columns (its Strings name the columns) or no column
 * for a null columns. A columns that is not a List answers
 * VX_ERR_BAD_ARGUMENT. Add rows with VX_ValueSetLength. */
VXKERNEL_EXPORT long VX_ValueSetTable(VXVALUE value, const VXVALUE columns);

/* ----- Members by 0-based index ----- */

/** Member i into out (sharing its storage: a RecArray row's Record writes
 * through to the table). A null out answers VX_ERR_WRONG_TYPE. */
VXKERNEL_EXPORT long VX_ValueGetIndexValue(VXVALUE value, long i, VXVALUE out);
/** Stores v as member i. Into a RecArray row v must be a Record or a List
 * of the row's values (else VX_ERR_BAD_ARGUMENT, as for a null v); Assoc
 * entries cannot be written by index (VX_ERR_NO_INDEX_ACCESS). The
 * composite setters below share these rules. */
VXKERNEL_EXPORT long VX_ValueSetIndexValue(VXVALUE value, long i, const VXVALUE v);
/** The name of column i of a RecArray or Record, or the key of entry i of
 * an Assoc, copied as VX_ValueGetString copies (Field) or pointed to
 * (FieldPtr: the text belongs to the container's names or key). An unnamed
 * column, or a key that is not a String, answers VX_ERR_WRONG_TYPE; a List
 * VX_ERR_NO_INDEX_ACCESS. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetIndexField(VXVALUE value, long i, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_ValueGetIndexFieldPtr(VXVALUE value, long i, const char** name);
/**@}*/
/** The predicates and VX_ValueSetUndefined on member i. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueIndexIsUndefined(VXVALUE value, long i);
VXKERNEL_EXPORT long VX_ValueIndexIsDefined(VXVALUE value, long i);
VXKERNEL_EXPORT long VX_ValueIndexSetUndefined(VXVALUE value, long i);
/**@}*/
/** VX_ValueGetWidth, VX_ValueGetType, VX_ValueGetLength and
 * VX_ValueSetLength on member i; SetLength stores the resized member back
 * (it must be a List or RecArray). */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetIndexWidth(VXVALUE value, long i, long* width);
VXKERNEL_EXPORT long VX_ValueGetIndexType(VXVALUE value, long i, long* type);
VXKERNEL_EXPORT long VX_ValueGetIndexLength(VXVALUE value, long i, long* length);
VXKERNEL_EXPORT long VX_ValueSetIndexLength(VXVALUE value, long i, long n);
/**@}*/
/** Member i as an Integer or a 64-bit integer, with the rules of
 * VX_ValueGetInteger, VX_ValueSetInteger and their LongLong forms. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetIndexInteger(VXVALUE value, long i, long* n);
VXKERNEL_EXPORT long VX_ValueSetIndexInteger(VXVALUE value, long i, long n);
VXKERNEL_EXPORT long VX_ValueGetIndexLongLong(VXVALUE value, long i, long long* n);
VXKERNEL_EXPORT long VX_ValueSetIndexLongLong(VXVALUE value, long i, long long n);
/**@}*/
/** Member i as a String, with the rules of VX_ValueGetString,
 * VX_ValueGetStringPtr (the text belongs to the container's member) and
 * VX_ValueSetString. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetIndexString(VXVALUE value, long i, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_ValueGetIndexStringPtr(VXVALUE value, long i, const char** s);
VXKERNEL_EXPORT long VX_ValueSetIndexString(VXVALUE value, long i, const char* s);
/**@}*/
/** Member i as a Date or a Boolean, with the rules of VX_ValueGetDate,
 * VX_ValueSetDate, VX_ValueGetBoolean and VX_ValueSetBoolean. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetIndexDate(VXVALUE value, long i, long long* systime);
VXKERNEL_EXPORT long VX_ValueSetIndexDate(VXVALUE value, long i, long long systime);
VXKERNEL_EXPORT long VX_ValueGetIndexBoolean(VXVALUE value, long i, long* b);
VXKERNEL_EXPORT long VX_ValueSetIndexBoolean(VXVALUE value, long i, unsigned char b);
/**@}*/

/* ----- Members by name ----- */

/** The member called name into out, sharing its storage; a null out
 * answers VX_ERR_NO_NAMED_ACCESS. */
VXKERNEL_EXPORT long VX_ValueGetFieldValue(VXVALUE value, const char* name, VXVALUE out);
/** Stores v as the member called name: a Record's existing column, or an
 * Assoc entry added or replaced. A null v answers VX_ERR_WRONG_TYPE. */
VXKERNEL_EXPORT long VX_ValueSetFieldValue(VXVALUE value, const char* name, const VXVALUE v);
/** The predicates and VX_ValueSetUndefined on the member called name. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueFieldIsUndefined(VXVALUE value, const char* name);
VXKERNEL_EXPORT long VX_ValueFieldIsDefined(VXVALUE value, const char* name);
VXKERNEL_EXPORT long VX_ValueFieldSetUndefined(VXVALUE value, const char* name);
/**@}*/
/** VX_ValueGetWidth, VX_ValueGetType, VX_ValueGetLength and
 * VX_ValueSetLength on the member called name; SetLength stores the
 * resized member back (it must be a List or RecArray). */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetFieldWidth(VXVALUE value, const char* name, long* width);
VXKERNEL_EXPORT long VX_ValueGetFieldType(VXVALUE value, const char* name, long* type);
VXKERNEL_EXPORT long VX_ValueGetFieldLength(VXVALUE value, const char* name, long* length);
VXKERNEL_EXPORT long VX_ValueSetFieldLength(VXVALUE value, const char* name, long n);
/**@}*/
/** The member called name as an Integer or a 64-bit integer, with the
 * rules of VX_ValueGetInteger, VX_ValueSetInteger and their LongLong
 * forms. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetFieldInteger(VXVALUE value, const char* name, long* n);
VXKERNEL_EXPORT long VX_ValueSetFieldInteger(VXVALUE value, const char* name, long n);
VXKERNEL_EXPORT long VX_ValueGetFieldLongLong(VXVALUE value, const char* name, long long* n);
VXKERNEL_EXPORT long VX_ValueSetFieldLongLong(VXVALUE value, const char* name, long long n);
/**@}*/
/** The member called name as a String, with the rules of
 * VX_ValueGetString, VX_ValueGetStringPtr (the text belongs to the
 * container's member) and VX_ValueSetString. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetFieldString(VXVALUE value, const char* name, char* buffer, long size, long* length);
VXKERNEL_EXPORT long VX_ValueGetFieldStringPtr(VXVALUE value, const char* name, const char** s);
VXKERNEL_EXPORT long VX_ValueSetFieldString(VXVALUE value, const char* name, const char* s);
/**@}*/
/** The member called name as a Date or a Boolean, with the rules of
 * VX_ValueGetDate, VX_ValueSetDate, VX_ValueGetBoolean and
 * VX_ValueSetBoolean. */
/**@{*/
VXKERNEL_EXPORT long VX_ValueGetFieldDate(VXVALUE value, const char* name, long long* systime);
VXKERNEL_EXPORT long VX_ValueSetFieldDate(VXVALUE value, const char* name, long long systime);
VXKERNEL_EXPORT long VX_ValueGetFieldBoolean(VXVALUE value, const char* name, long* b);
VXKERNEL_EXPORT long VX_ValueSetFieldBoolean(VXVALUE value, const char* name, unsigned char b);
/**@}*/

/* ----- Client locks ----- */

/** Stores in *out a new lock, which the caller releases with VX_LockFree;
 * a null out makes none. VX_ERR_NO_MEMORY when the lock object cannot be
 * made; a lock whose system mutex is refused is still handed out (with one
 * debug line) and does not lock. */
VXKERNEL_EXPORT long VX_LockAlloc(VXLOCK* out);
/** Releases the lock made by VX_LockAlloc; a null lock is accepted. Always
 * VX_OK. */
VXKERNEL_EXPORT long VX_LockFree(VXLOCK lock);
/** Takes the lock, waiting as long as another thread holds it; the holder
 * may take it again. A null lock is ignored. Always VX_OK. */
VXKERNEL_EXPORT long VX_LockLock(VXLOCK lock);
/** Gives up one hold of the lock taken by VX_LockLock; a null lock is
 * ignored. Always VX_OK. */
VXKERNEL_EXPORT long VX_LockUnlock(VXLOCK lock);

#ifdef __cplusplus
}
#endif

#endif /* VXKERNEL_CLIENTAPI_VX_VALUE_H_ */
