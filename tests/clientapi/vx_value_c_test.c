/* The client value interface from C: the header compiles as C, and the
 * scalar functions keep buffers and values intact on every failure. */
#include <stdio.h>
#include <string.h>

#include "vxkernel/clientapi/vx_containers.h"
#include "vxkernel/clientapi/vx_value.h"

void vxk_test_start(void); /* starts the library (started.cpp) */

static int failures = 0;

#define CHECK(cond)                                            \
  do {                                                         \
    if (!(cond)) {                                             \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                              \
    }                                                          \
  } while (0)

int main(void) {
  VXVALUE v = NULL, w = NULL;
  VXLOCK lock = NULL;
  char buf[8];
  long n = 0, type = 0;
  long long big = 0;
  double d = 0;
  const char* p = NULL;
  const void* bytesPtr = NULL;
  unsigned char bytes[4] = {0, 0xab, 0x10, 0xff};
  unsigned char out[4] = {0, 0, 0, 0};
  unsigned char small = 0;

  vxk_test_start();
  CHECK(VX_ValueAlloc(&v) == VX_OK);
  CHECK(VX_ValueAlloc(&w) == VX_OK);
  CHECK(VX_ValueIsUndefined(v) == VX_OK);
  CHECK(VX_ValueIsDefined(v) == VX_ERR_WRONG_TYPE);

  /* Strings: a buffer too small keeps its last byte for the terminator. */
  CHECK(VX_ValueSetString(v, "document") == VX_OK);
  memset(buf, 'x', sizeof buf);
  CHECK(VX_ValueGetString(v, buf, sizeof buf, &n) == VX_ERR_BUFFER_TOO_SMALL);
  CHECK(n == 8 && strcmp(buf, "documen") == 0);
  CHECK(VX_ValueGetString(v, buf, -1, &n) == VX_ERR_NEGATIVE_SIZE);
  CHECK(VX_ValueGetStringPtr(v, &p) == VX_OK && strcmp(p, "document") == 0);
  CHECK(VX_ValueSetString(v, "doc") == VX_OK);
  CHECK(VX_ValueGetString(v, buf, sizeof buf, &n) == VX_OK && n == 3 && strcmp(buf, "doc") == 0);
  n = 77;
  CHECK(VX_ValueGetInteger(v, &n) == VX_ERR_WRONG_TYPE && n == 77);

  /* Integers keep 32 bits; a Long answers when it fits. */
  CHECK(VX_ValueSetLong(v, -5) == VX_OK);
  CHECK(VX_ValueGetType(v, &type) == VX_OK && type == 2);
  CHECK(VX_ValueGetLong(v, &n) == VX_OK && n == -5);
  CHECK(VX_ValueGetUChar(v, &small) == VX_OK && small == 251);
  CHECK(VX_ValueSetLongLong(v, 4294967296LL) == VX_OK);
  CHECK(VX_ValueGetInteger(v, &n) == VX_ERR_WRONG_TYPE);
  CHECK(VX_ValueGetLongLong(v, &big) == VX_OK && big == 4294967296LL);
  CHECK(VX_ValueSetLongLong(v, -7) == VX_OK);
  CHECK(VX_ValueGetInteger(v, &n) == VX_OK && n == -7);
  CHECK(VX_ValueGetDouble(v, &d) == VX_ERR_WRONG_TYPE);
  CHECK(VX_ValueSetDouble(v, 2.5) == VX_OK);
  CHECK(VX_ValueGetDouble(v, &d) == VX_OK && d == 2.5);

  /* Bytes, Boolean, Error, Date. */
  CHECK(VX_ValueSetBytes(v, bytes, 4) == VX_OK);
  CHECK(VX_ValueGetType(v, &type) == VX_OK && type == -6);
  CHECK(VX_ValueGetBytes(v, out, 2, &n) == VX_ERR_BUFFER_TOO_SMALL && n == 4 && out[1] == 0xab && out[2] == 0);
  CHECK(VX_ValueGetBytesPtr(v, &bytesPtr, &n) == VX_OK && n == 4 && memcmp(bytesPtr, bytes, 4) == 0);
  CHECK(VX_ValueSetBoolean(v, 2) == VX_OK);
  CHECK(VX_ValueGetBoolean(v, &n) == VX_OK && n == 1);
  CHECK(VX_ValueSetError(v, 0x26AD000FL) == VX_OK);
  CHECK(VX_ValueGetError(v, &n) == VX_OK && n == 0x26AD000FL);
  CHECK(VX_ValueIsDefined(v) == VX_OK);
  CHECK(VX_ValueSetDate(v, 1000000000LL) == VX_OK);
  CHECK(VX_ValueGetDate(v, &big) == VX_OK && big == 1000000000LL);

  /* Copies share; freeing one handle keeps the other. */
  CHECK(VX_ValueSetString(v, "shared") == VX_OK);
  CHECK(VX_ValueSetValue(w, v) == VX_OK);
  CHECK(VX_ValueFree(v) == VX_OK);
  CHECK(VX_ValueGetStringPtr(w, &p) == VX_OK && strcmp(p, "shared") == 0);
  CHECK(VX_ValueGetLength(w, &n) == VX_OK && n == 6);
  CHECK(VX_ValueFree(w) == VX_OK);
  CHECK(VX_ValueFree(NULL) == VX_OK);

  /* A RecArray built and read through the member functions. */
  {
    VXVALUE cols = NULL, table = NULL, row = NULL, a = NULL;
    const char* names[3] = {"id", "name", "size"};
    long i = 0, width = 0, len = 0;
    CHECK(VX_ValueAlloc(&cols) == VX_OK && VX_ValueAlloc(&table) == VX_OK);
    CHECK(VX_ValueAlloc(&row) == VX_OK && VX_ValueAlloc(&a) == VX_OK);
    CHECK(VX_ValueSetList(cols) == VX_OK && VX_ValueSetLength(cols, 3) == VX_OK);
    for (i = 0; i < 3; ++i) CHECK(VX_ValueSetIndexString(cols, i, names[i]) == VX_OK);
    CHECK(VX_ValueSetIndexString(cols, 3, "x") == VX_ERR_INDEX_RANGE);
    CHECK(VX_ValueSetTable(table, cols) == VX_OK);
    CHECK(VX_ValueSetLength(table, 2) == VX_OK);
    CHECK(VX_ValueGetLength(table, &len) == VX_OK && len == 2);
    CHECK(VX_ValueGetWidth(table, &width) == VX_OK && width == 3);
    CHECK(VX_ValueGetIndexField(table, 1, buf, sizeof buf, &n) == VX_OK && strcmp(buf, "name") == 0);
    CHECK(VX_ValueGetIndexField(table, 3, buf, sizeof buf, &n) == VX_ERR_INDEX_RANGE);
    for (i = 0; i < 2; ++i) {
      CHECK(VX_ValueGetIndexValue(table, i, row) == VX_OK);
      CHECK(VX_ValueSetFieldInteger(row, "id", 100 + i) == VX_OK);
      CHECK(VX_ValueSetFieldString(row, "name", i == 0 ? "a.pdf" : "bb.doc") == VX_OK);
    }
    CHECK(VX_ValueSetFieldInteger(row, "missing", 1) == VX_ERR_NO_FIELD);
    CHECK(VX_ValueGetIndexValue(table, 2, row) == VX_ERR_INDEX_RANGE);
    CHECK(VX_ValueGetIndexValue(table, 1, row) == VX_OK);
    CHECK(VX_ValueGetFieldInteger(row, "ID", &n) == VX_OK && n == 101);
    CHECK(VX_ValueGetFieldString(row, "name", buf, 4, &n) == VX_ERR_BUFFER_TOO_SMALL && n == 6 &&
          strcmp(buf, "bb.") == 0);
    CHECK(VX_ValueFieldIsUndefined(row, "size") == VX_OK);
    CHECK(VX_ValueGetIndexInteger(row, 0, &n) == VX_OK && n == 101);
    CHECK(VX_ValueGetIndexInteger(row, 1, &n) == VX_ERR_WRONG_TYPE);
    n = 5;
    CHECK(VX_ValueGetIndexWidth(table, 0, &n) == VX_OK && n == 3);
    CHECK(VX_ValueGetFieldValue(table, "id", row) == VX_ERR_NO_NAMED_ACCESS);
    CHECK(VX_ValueSetIndexValue(table, 0, cols) == VX_OK); /* a List replaces the row's values */
    CHECK(VX_ValueGetIndexValue(table, 0, row) == VX_OK);
    CHECK(VX_ValueGetFieldString(row, "size", buf, sizeof buf, &n) == VX_OK && strcmp(buf, "size") == 0);
    CHECK(VX_ValueSetInteger(a, 3) == VX_OK);
    CHECK(VX_ValueSetIndexValue(table, 0, a) == VX_ERR_BAD_ARGUMENT);
    CHECK(VX_ValueGetIndexValue(a, 0, row) == VX_ERR_NO_INDEX_ACCESS);
    CHECK(VX_ValueGetWidth(a, &n) == VX_OK && n == 1);
    /* Assocs add missing keys by name. */
    CHECK(VX_ValueSetAssoc(a) == VX_OK);
    CHECK(VX_ValueSetFieldString(a, "Owner", "ann") == VX_OK);
    CHECK(VX_ValueGetFieldStringPtr(a, "OWNER", &p) == VX_OK && strcmp(p, "ann") == 0);
    CHECK(VX_ValueGetIndexFieldPtr(a, 0, &p) == VX_OK && strcmp(p, "Owner") == 0);
    CHECK(VX_ValueGetFieldValue(a, "nobody", row) == VX_ERR_NO_FIELD);
    VX_ValueFree(cols);
    VX_ValueFree(table);
    VX_ValueFree(row);
    VX_ValueFree(a);
  }

  /* The container families: fill a RecArray through VX_Table, read it back
   * through VX_Record and VX_List. */
  {
    VXVALUE cols = NULL, table = NULL, rec = NULL, list = NULL, assoc = NULL;
    long i = 0;
    CHECK(VX_ValueAlloc(&cols) == VX_OK && VX_ValueAlloc(&table) == VX_OK);
    CHECK(VX_ValueAlloc(&rec) == VX_OK && VX_ValueAlloc(&list) == VX_OK && VX_ValueAlloc(&assoc) == VX_OK);
    CHECK(VX_ValueSetList(cols) == VX_OK && VX_ValueSetLength(cols, 2) == VX_OK);
    CHECK(VX_ListSetString(cols, 0, "name") == VX_OK && VX_ListSetString(cols, 1, "pages") == VX_OK);
    CHECK(VX_ListSetString(cols, 2, "extra") == VX_ERR_INDEX_RANGE);
    CHECK(VX_ValueSetTable(table, cols) == VX_OK && VX_ValueSetLength(table, 3) == VX_OK);
    for (i = 0; i < 3; ++i) {
      CHECK(VX_TableSetString(table, i, "name", i == 1 ? "middle" : "edge") == VX_OK);
      CHECK(VX_TableSetInteger(table, i, "pages", 10 * i) == VX_OK);
    }
    CHECK(VX_TableSetInteger(table, 3, "pages", 1) == VX_ERR_INDEX_RANGE);
    CHECK(VX_TableSetInteger(table, 0, "nope", 1) == VX_ERR_NO_FIELD);
    CHECK(VX_TableGetRecord(table, 1, rec) == VX_OK);
    CHECK(VX_RecordGetString(rec, "NAME", buf, sizeof buf, &n) == VX_OK && strcmp(buf, "middle") == 0);
    CHECK(VX_RecordGetInteger(rec, "pages", &n) == VX_OK && n == 10);
    CHECK(VX_TableGetInteger(table, 2, "pages", &n) == VX_OK && n == 20);
    CHECK(VX_TableIsUndefined(table, 0, "pages") == VX_ERR_WRONG_TYPE);
    CHECK(VX_TableGetValue(rec, 0, "name", list) == VX_ERR_WRONG_TYPE);
    CHECK(VX_TableGetRecord(rec, 0, list) == VX_ERR_WRONG_TYPE);
    /* A row read as a List of its values, through the List family. */
    CHECK(VX_ValueSetList(list) == VX_OK && VX_ValueSetLength(list, 2) == VX_OK);
    CHECK(VX_ListSetValue(list, 0, rec) == VX_OK);
    CHECK(VX_ListGetType(list, 0, &type) == VX_OK && type == -109);
    CHECK(VX_ListGetValue(list, 2, rec) == VX_ERR_INDEX_RANGE);
    CHECK(VX_ListSetBoolean(list, 1, 1) == VX_OK && VX_ListGetBoolean(list, 1, &n) == VX_OK && n == 1);
    CHECK(VX_ListIsDefined(list, 1) == VX_OK);
    CHECK(VX_AssocGetInteger(list, "x", &n) == VX_ERR_WRONG_TYPE);
    CHECK(VX_ValueGetLength(list, &n) == VX_OK && n == 2);
    /* Assocs, and RecordSetUndefined reaching an Assoc. */
    CHECK(VX_ValueSetAssoc(assoc) == VX_OK);
    CHECK(VX_AssocSetLongLong(assoc, "Size", 5000000000LL) == VX_OK);
    CHECK(VX_AssocGetLongLong(assoc, "size", &big) == VX_OK && big == 5000000000LL);
    CHECK(VX_AssocGetInteger(assoc, "size", &n) == VX_ERR_WRONG_TYPE);
    CHECK(VX_AssocSetAssoc(assoc, "nested") == VX_OK);
    CHECK(VX_AssocGetType(assoc, "nested", &type) == VX_OK && type == -18);
    CHECK(VX_RecordSetUndefined(assoc, "gone") == VX_OK);
    CHECK(VX_AssocIsUndefined(assoc, "gone") == VX_OK);
    CHECK(VX_RecordGetInteger(assoc, "size", &n) == VX_ERR_WRONG_TYPE);
    CHECK(VX_ValueGetLength(assoc, &n) == VX_OK && n == 3);
    VX_ValueFree(cols);
    VX_ValueFree(table);
    VX_ValueFree(rec);
    VX_ValueFree(list);
    VX_ValueFree(assoc);
  }

  /* Display text, instances, argument Assocs. */
  {
    VXVALUE x = NULL, t = NULL;
    CHECK(VX_ValueAlloc(&x) == VX_OK && VX_ValueAlloc(&t) == VX_OK);
    CHECK(VX_ValueSetBoolean(x, 1) == VX_OK && VX_ValueGetDisplayString(x, t) == VX_OK);
    CHECK(VX_ValueGetStringPtr(t, &p) == VX_OK && strcmp(p, "true") == 0);
    CHECK(VX_ValueSetString(x, "it's") == VX_OK && VX_ValueGetFormatted(x, t) == VX_OK);
    CHECK(VX_ValueGetStringPtr(t, &p) == VX_OK && strcmp(p, "it's") == 0);
    CHECK(VX_ValueSetInstance(x, 4, 77) == VX_OK);
    CHECK(VX_ValueGetType(x, &type) == VX_OK && type == 4);
    CHECK(VX_ValueGetInstance(x, &n) == VX_OK && n == 77);
    CHECK(VX_ValueSetInstance(x, 3, 1) == VX_ERR_NO_CLASS);
    CHECK(VX_ValueGetType(x, &type) == VX_OK && type == 4);
    /* A storage word is borrowed: freeing the second handle leaves the first. */
    CHECK(VX_ValueSetString(t, "shared") == VX_OK && VX_ValueGetInstance(t, &n) == VX_OK);
    CHECK(VX_ValueSetInstance(x, -1, n) == VX_OK && VX_ValueFree(x) == VX_OK);
    CHECK(VX_ValueAlloc(&x) == VX_OK);
    CHECK(VX_ValueGetStringPtr(t, &p) == VX_OK && strcmp(p, "shared") == 0);
    CHECK(VX_ValueSetAssocInArgs(x) == VX_OK);
    CHECK(VX_AssocGetType(x, "absent", &type) == VX_ERR_NO_FIELD);
    CHECK(VX_ValueGetIndexValue(x, 0, t) == VX_ERR_INDEX_RANGE);
    /* Ptr boxes: made, replaced in place, read back. */
    CHECK(VX_ValueSetString(t, "held") == VX_OK && VX_ValueSetPtr(x, t) == VX_OK);
    CHECK(VX_ValueGetType(x, &type) == VX_OK && type == 17);
    CHECK(VX_ValueSetInteger(t, 9) == VX_OK && VX_ValueSetPtr(x, t) == VX_OK);
    CHECK(VX_ValueSetUndefined(t) == VX_OK && VX_ValueGetPtr(x, t) == VX_OK);
    CHECK(VX_ValueGetInteger(t, &n) == VX_OK && n == 9);
    CHECK(VX_ValueGetPtr(t, x) == VX_ERR_WRONG_TYPE);
    VX_ValueFree(x);
    VX_ValueFree(t);
  }

  CHECK(VX_LockAlloc(&lock) == VX_OK && lock != NULL);
  CHECK(VX_LockLock(lock) == VX_OK);
  CHECK(VX_LockUnlock(lock) == VX_OK);
  CHECK(VX_LockFree(lock) == VX_OK);
  CHECK(VX_LockFree(NULL) == VX_OK);
  /* The statuses of a failure inside the library are distinct C constants. */
  CHECK(VX_ERR_NO_MEMORY != VX_ERR_INTERNAL && VX_ERR_NO_MEMORY != VX_ERR_WRONG_TYPE);

  if (failures == 0) printf("all client value checks passed\n");
  return failures == 0 ? 0 : 1;
}
