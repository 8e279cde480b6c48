// vxhost table: builds a RecArray through the flat client interface, the
// way a client component would, and prints it back through it.
#include <cstdio>

#include "commands.h"
#include "vxkernel/vxkernel.h"

namespace {

struct Document {
  const char* name;
  long pages;
  long long modified;  // seconds since 1970
};

}  // namespace

int RunTable() {
  KAt::ProcessStartup(1);
  const Document docs[] = {{"contract.pdf", 12, 1733400000LL}, {"minutes.doc", 3, 1733486400LL},
                           {"plan.xls", 40, 1733572800LL}};
  const char* columns[] = {"name", "pages", "modified"};
  const long nDocs = sizeof docs / sizeof docs[0];

  VXVALUE cols = nullptr, table = nullptr;
  VX_ValueAlloc(&cols);
  VX_ValueAlloc(&table);
  VX_ValueSetList(cols);
  VX_ValueSetLength(cols, 3);
  for (long c = 0; c < 3; ++c) VX_ListSetString(cols, c, columns[c]);
  VX_ValueSetTable(table, cols);
  VX_ValueSetLength(table, nDocs);
  for (long r = 0; r < nDocs; ++r) {
    VX_TableSetString(table, r, "name", docs[r].name);
    VX_TableSetInteger(table, r, "pages", docs[r].pages);
    VX_TableSetDate(table, r, "modified", docs[r].modified);
  }

  long rows = 0, width = 0;
  VX_ValueGetLength(table, &rows);
  VX_ValueGetWidth(table, &width);
  std::printf("RecArray built through VX_Table: %ld rows, %ld columns\n\n", rows, width);
  for (long c = 0; c < width; ++c) {
    const char* name = nullptr;
    VX_ValueGetIndexFieldPtr(table, c, &name);
    std::printf("%-16s", name);
  }
  std::printf("\n");
  for (long r = 0; r < rows; ++r) {
    char name[64];
    long length = 0, pages = 0;
    long long modified = 0;
    VX_TableGetString(table, r, "name", name, sizeof name, &length);
    VX_TableGetInteger(table, r, "pages", &pages);
    VX_TableGetDate(table, r, "modified", &modified);
    std::printf("%-16s%-16ld%lld\n", name, pages, modified);
  }
  // A small buffer: the text is cut, the full length reported.
  char small[8];
  long length = 0;
  const long status = VX_TableGetString(table, 0, "name", small, sizeof small, &length);
  std::printf("\nrow 0 name into 8 bytes: \"%s\", status 0x%lX, full length %ld\n", small,
              static_cast<unsigned long>(status) & 0xFFFFFFFFUL, length);
  std::printf("text form: %s\n", static_cast<const char*>(reinterpret_cast<KQSValue*>(table)->FormattedString()));
  VX_ValueFree(table);
  VX_ValueFree(cols);
  KAt::ProcessShutdown(1);
  return 0;
}
