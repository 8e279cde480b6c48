// The client interface when the heap refuses: every allocation a call makes
// is failed in turn, and each failure must come back as VX_ERR_NO_MEMORY
// with one debug line, the values as they were and still usable. Huge
// requests are refused the same way, by the real heap.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <string>

#include "support/debug_capture.h"
#include "support/failing_new.h"
#include "support/started_process.h"
#include "vxkernel/clientapi/KVal.h"
#include "vxkernel/clientapi/vx_containers.h"
#include "vxkernel/clientapi/vx_value.h"

// A sanitizer's heap aborts on a request it cannot serve unless told to
// answer null, as the C library's heap does.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}

namespace {

KQSValue& V(VXVALUE h) { return *reinterpret_cast<KQSValue*>(h); }

// The handles a call works on: c the container (or the value), v an
// argument, out a result.
struct Values {
  VXVALUE c = nullptr, v = nullptr, out = nullptr;
  Values() {
    VX_ValueAlloc(&c);
    VX_ValueAlloc(&v);
    VX_ValueAlloc(&out);
  }
  ~Values() {
    VX_ValueFree(c);
    VX_ValueFree(v);
    VX_ValueFree(out);
  }
  // Everything the call may have written, in the text form.
  std::string Text() const {
    std::ostringstream s;
    s << V(c) << " | " << V(v) << " | " << V(out);
    return s.str();
  }
};

void Assoc(Values& x) {
  VX_ValueSetAssoc(x.c);
  // Enough keys for an inner level, so a new key splits nodes.
  for (const char* key : {"a", "b", "d", "e", "f", "g", "h", "name"})
    VX_AssocSetString(x.c, key, key);
}
void List(Values& x) {
  VX_ValueSetList(x.c);
  VX_ValueSetLength(x.c, 3);
  VX_ListSetString(x.c, 0, "first");
  VX_ListSetInteger(x.c, 1, 2);
}
void Table(VXVALUE table) {
  VXVALUE cols = nullptr;
  VX_ValueAlloc(&cols);
  VX_ValueSetList(cols);
  VX_ValueSetLength(cols, 2);
  VX_ListSetString(cols, 0, "name");
  VX_ListSetString(cols, 1, "pages");
  VX_ValueSetTable(table, cols);
  VX_ValueSetLength(table, 2);
  VX_TableSetString(table, 0, "name", "contract.pdf");
  VX_TableSetInteger(table, 0, "pages", 12);
  VX_ValueFree(cols);
}
void Table(Values& x) { Table(x.c); }
void Record(Values& x) {
  Table(x.v);
  VX_TableGetRecord(x.v, 0, x.c);
}

struct Row {
  const char* function;  // the name the debug line carries
  void (*setup)(Values&);
  long (*call)(Values&);
  long noMemory = VX_ERR_NO_MEMORY;
};

// One call of every family; the setters reach storage of every kind.
const Row kRows[] = {
    {"VX_ValueSetLongLong", [](Values&) {},
     [](Values& x) { return VX_ValueSetLongLong(x.c, 1LL << 40); }},
    {"VX_ValueSetString", List,
     [](Values& x) { return VX_ValueSetString(x.c, "quarterly-report.pdf"); }},
    {"VX_ValueGetString", [](Values& x) { VX_ValueSetString(x.c, "abc"); },
     [](Values& x) {
       char buf[8];
       long n;
       return VX_ValueGetString(x.c, buf, sizeof buf, &n);
     }},
    {"VX_ValueSetLength", List, [](Values& x) { return VX_ValueSetLength(x.c, 70); }},
    {"VX_ValueSetLength", Table, [](Values& x) { return VX_ValueSetLength(x.c, 5); }},
    {"VX_ValueSetTable", [](Values& x) { List(x), VX_ValueSetValue(x.v, x.c); },
     [](Values& x) { return VX_ValueSetTable(x.c, x.v); }},
    {"VX_ValueGetFormatted", Table, [](Values& x) { return VX_ValueGetFormatted(x.c, x.out); }},
    {"VX_AssocSetInteger", Assoc, [](Values& x) { return VX_AssocSetInteger(x.c, "c", 12); }},
    {"VX_AssocGetValue", Assoc, [](Values& x) { return VX_AssocGetValue(x.c, "name", x.out); }},
    {"VX_RecordSetString", Record,
     [](Values& x) { return VX_RecordSetString(x.c, "name", "minutes.doc"); }},
    {"VX_RecordGetInteger", Record,
     [](Values& x) {
       long n;
       return VX_RecordGetInteger(x.c, "pages", &n);
     }},
    {"VX_ListSetString", List, [](Values& x) { return VX_ListSetString(x.c, 2, "third"); }},
    {"VX_ListGetValue", List, [](Values& x) { return VX_ListGetValue(x.c, 0, x.out); }},
    {"VX_TableSetInteger", Table, [](Values& x) { return VX_TableSetInteger(x.c, 1, "pages", 7); }},
    {"VX_TableGetString", Table,
     [](Values& x) {
       char buf[32];
       long n;
       return VX_TableGetString(x.c, 0, "name", buf, sizeof buf, &n);
     }},
    {"VX_ValueSetPtr", List, [](Values& x) { return VX_ValueSetPtr(x.out, x.c); }},
    {"VX_ValueGetPtr", [](Values& x) { List(x), VX_ValueSetPtr(x.v, x.c); },
     [](Values& x) { return VX_ValueGetPtr(x.v, x.out); }},
    {"KVal::Add", [](Values& x) { VX_ValueSetString(x.v, "row"); },
     [](Values& x) { return KVal::Add(V(x.c), V(x.v), V(x.v)); }, KVal::kNoMemory},
};

TEST(VxNoMemory, EveryFailedAllocationIsOneStatusAndOneLine) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.function);
    std::string expected;  // what the call leaves when nothing fails
    {
      Values x;
      row.setup(x);
      ASSERT_EQ(row.call(x), VX_OK);
      expected = x.Text();
    }
    bool fired = true;
    for (long n = 1; fired && n < 10000; ++n) {
      Values x;
      row.setup(x);
      const std::string before = x.Text();
      DebugCapture capture;
      failing_new::FailNth(n);
      const long status = row.call(x);
      fired = failing_new::Fired();
      failing_new::FailNth(0);
      if (fired && status != VX_OK) {
        SCOPED_TRACE(n);
        EXPECT_EQ(status, row.noMemory);
        EXPECT_EQ(capture.All(), std::string(row.function) + " - out of memory\n");
        EXPECT_EQ(x.Text(), before);
      } else {
        // Nothing failed, or the failed allocation was one the call can do
        // without: the same result as an undisturbed call.
        EXPECT_EQ(status, VX_OK);
        EXPECT_EQ(x.Text(), expected);
      }
      EXPECT_EQ(VX_ValueGetFormatted(x.c, x.out), VX_OK);  // still usable
    }
    EXPECT_FALSE(fired) << "the call never got through";
  }
}

TEST(VxNoMemory, HugeRequestsAreRefusedWithoutFillingMemory) {
  // A heap that promises any size (vm.overcommit_memory 1) would hand out
  // the huge blocks below and leave the machine to run out later.
  std::ifstream overcommit("/proc/sys/vm/overcommit_memory");
  int mode = 0;
  if (overcommit >> mode && mode == 1) GTEST_SKIP() << "the heap overcommits without limit";
  const Row rows[] = {
      {"VX_ValueSetLength", List, [](Values& x) { return VX_ValueSetLength(x.c, 1L << 40); }},
      {"VX_ValueSetLength", List, [](Values& x) { return VX_ValueSetLength(x.c, LONG_MAX); }},
      {"VX_ValueSetLength", Table, [](Values& x) { return VX_ValueSetLength(x.c, 1L << 40); }},
      {"VX_ValueSetBytes", [](Values&) {},
       [](Values& x) {
         static const char bytes[16] = {};
         return VX_ValueSetBytes(x.c, bytes, 1L << 40);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.function);
    Values x;
    row.setup(x);
    const std::string before = x.Text();
    DebugCapture capture;
    EXPECT_EQ(row.call(x), VX_ERR_NO_MEMORY);
    EXPECT_EQ(capture.All(), std::string(row.function) + " - out of memory\n");
    EXPECT_EQ(x.Text(), before);
  }
}

}  // namespace
