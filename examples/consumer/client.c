/* A client component written in C: it sees only the flat value interface
 * of the installed headers, and is called by the host once the library has
 * started. */
#include <stdio.h>
#include <string.h>

#include "vxkernel/clientapi/vx_containers.h"
#include "vxkernel/clientapi/vx_value.h"

int client_demo(void) {
  VXVALUE cols = NULL, table = NULL;
  char name[8];
  long length = 0, pages = 0, status = 0;
  VX_ValueAlloc(&cols);
  VX_ValueAlloc(&table);
  VX_ValueSetList(cols);
  VX_ValueSetLength(cols, 2);
  VX_ListSetString(cols, 0, "name");
  VX_ListSetString(cols, 1, "pages");
  VX_ValueSetTable(table, cols);
  VX_ValueSetLength(table, 1);
  VX_TableSetString(table, 0, "name", "contract.pdf");
  VX_TableSetInteger(table, 0, "pages", 12);
  VX_TableGetInteger(table, 0, "PAGES", &pages);
  status = VX_TableGetString(table, 0, "name", name, sizeof name, &length);
  printf("client read %ld pages, name \"%s\" of %ld bytes (status 0x%lX)\n", pages, name, length,
         (unsigned long)status & 0xFFFFFFFFUL);
  VX_ValueFree(cols);
  VX_ValueFree(table);
  return pages == 12 && length == 12 && status == VX_ERR_BUFFER_TOO_SMALL && strcmp(name, "contrac") == 0;
}
