/* The client value interface from C: the header compiles as C, and the
 * scalar functions keep buffers and values intact on every failure. */
#include <stdio.h>
#include <string.h>

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

  CHECK(VX_LockAlloc(&lock) == VX_OK && lock != NULL);
  CHECK(VX_LockLock(lock) == VX_OK);
  CHECK(VX_LockUnlock(lock) == VX_OK);
  CHECK(VX_LockFree(lock) == VX_OK);
  CHECK(VX_LockFree(NULL) == VX_OK);

  if (failures == 0) printf("all client value checks passed\n");
  return failures == 0 ? 0 : 1;
}
