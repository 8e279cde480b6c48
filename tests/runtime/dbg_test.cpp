// Debug output: routines, early buffer, printer choice, ready-made routines, roll-over.
// The buffer and the printer choice are process-wide and final: scenarios run in children.
#include "vxkernel/runtime/dbg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/debug_capture.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/dbgstrm.h"
#include "vxkernel/runtime/dbgutils.h"

namespace fs = std::filesystem;

namespace {

// Records every event a routine receives: "open", "close", "write:<text>"
// (with "/<detail>" when the detail is not 0), joined by '|'.
void Record(DBG_output kind, long detail, void* datum, const char* text) {
  auto* out = static_cast<std::string*>(datum);
  if (!out->empty()) *out += '|';
  switch (kind) {
    case DBG_open: *out += "open"; break;
    case DBG_close: *out += "close"; break;
    case DBG_write:
      *out += "write:" + std::string(text);
      if (detail != 0) *out += "/" + std::to_string(detail);
      break;
  }
}

void Print(const std::string& text) {
  std::ostringstream s;
  s << text;
  dbgstrm_print(s);
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return in ? s.str() : "(missing)";
}

// A fresh empty directory for one test.
fs::path TempDir(const char* name) {
  fs::path dir = fs::temp_directory_path() / ("vxk_dbg_" + std::to_string(getpid()) + "_" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(DbgRoutine, EventsInOrderAndEarlyTextFlushedIntoTheFirstRoutine) {
  ChildResult r = RunInChild([](std::string& out) {
    dbg_write("before ");  // no thread ring has run: early buffer
    dbg_msg("%s %d", "rings", 2);
    KAt::ProcessStartup(1);
    dbg_write("dropped: no routine yet");
    std::string events;
    dbg_set_output(&Record, &events);
    dbg_write("one");
    dbg_write_detailed("two", 7);
    DBG_output_routine routine = nullptr;
    void* datum = nullptr;
    dbg_get_output(&routine, &datum);
    if (routine != &Record || datum != &events) events += "|wrong output";
    dbg_clear_output();
    dbg_write("after clear");
    dbg_clear_output();  // nothing set: no second close
    out = events;
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "open|write:before rings 2\n|write:one|write:two/7|close");
}

TEST(DbgRoutine, ThreadWithoutContextFeedsTheNextRoutineOfAnyThread) {
  ChildResult r = RunInChild([](std::string& out) {
    KAt::ProcessStartup(1);
    std::thread([] { dbg_write("from a bare thread"); }).join();
    std::string events;
    std::thread([&] {
      KAt::ThreadStartup();
      dbg_set_output(&Record, &events);
      dbg_set_output(&Record, &events);  // a second install: buffer already taken
      KAt::ThreadShutdown();
    }).join();
    out = events;
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "open|write:from a bare thread\n|open");
}

// A routine that writes about itself: the busy flag drops that text.
void SelfWriting(DBG_output kind, long detail, void* datum, const char* text) {
  Record(kind, detail, datum, text);
  if (kind == DBG_write) dbg_write("echo");
}

TEST(DbgRoutine, OutputOfTheRoutineItselfDoesNotLoopAndMessagesAreCut) {
  ChildResult r = RunInChild([](std::string& out) {
    KAt::ProcessStartup(1);
    std::string events;
    dbg_set_output(&SelfWriting, &events);
    dbg_write("x");
    dbg_clear_output();
    std::string cut;
    dbg_set_output(&Record, &cut);
    dbg_msg("%s", std::string(600, 'a').c_str());
    out = events + "#" + std::to_string(cut.size() - std::string("open|write:").size());
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "open|write:x|close#509");
}

TEST(DbgStream, FirstChoiceWinsAndCompatibilityPrintsThroughTheRoutine) {
  ChildResult r = RunInChild([](std::string& out) {
    KAt::ProcessStartup(1);
    std::string events;
    dbg_set_output(&Record, &events);
    Print("unchosen\n");  // no printer yet: dropped
    out += dbgstrm_is_initialized() ? "init " : "uninit ";
    bool a = dbgstrm_set_compatiblity_mode();
    bool b = dbgstrm_set_syslog_mode("/nonexistent/log");
    out += (a || b) ? "true " : "false ";
    out += dbgstrm_is_compatiblity_mode() ? "compat " : "";
    out += dbgstrm_is_syslog_mode() ? "syslog " : "";
    Print("line\n");
    VXDropinEcho("drop-in");
    c_assert("f.cpp", 12, "x > 0");
    dbg_enable_handler();
    c_assert("g.cpp", 3, "y");  // no debugger attached: the report, no trap
    out += events;
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output,
            "uninit false compat open|write:line\n|write:drop-in\n"
            "|write:# failed assert x > 0; File f.cpp; line 12\n"
            "|write:# failed assert y; File g.cpp; line 3\n");
}

TEST(DbgStream, RacingChoicesSettleOnExactlyOneMode) {
  ChildResult r = RunInChild([](std::string& out) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([i] {
        dbg_write("racing ");  // early buffer, from every thread at once
        if (i % 2 == 0) dbgstrm_set_compatiblity_mode();
        else dbgstrm_set_syslog_mode(nullptr);
      });
    for (std::thread& t : threads) t.join();
    out += dbgstrm_is_initialized() ? "chosen:" : "unchosen:";
    out += std::to_string(int{dbgstrm_is_compatiblity_mode()} + int{dbgstrm_is_syslog_mode()});
    KAt::ProcessStartup(1);
    std::string events;
    dbg_set_output(&Record, &events);
    out += " " + std::to_string(events.size() - std::string("open|write:\n").size());
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "chosen:1 " + std::to_string(8 * std::string("racing ").size()));
}

TEST(DbgStream, SystemLogChoiceKeepsTheReadyMadeRoutinesOut) {
  fs::path dir = TempDir("syslog");
  ChildResult r = RunInChild([&](std::string& out) {
    KAt::ProcessStartup(1);
    dbgstrm_set_syslog_mode((dir / "sys.log").c_str());
    dbgstrm_set_compatiblity_mode();
    out += dbgstrm_is_syslog_mode() ? "syslog " : "other ";
    std::FILE* file = reinterpret_cast<std::FILE*>(1);
    dbgutils_file_setup_file(&file, (dir / "debug.out").c_str(), nullptr, 2);
    out += file == nullptr ? "no file " : "file ";
    dbgutils_batch_setup();
    DBG_output_routine routine = nullptr;
    dbg_get_output(&routine, nullptr);
    out += routine == nullptr ? "no routine" : "routine";
    Print("goes to the system log\n");
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "syslog no file no routine");
  EXPECT_FALSE(fs::exists(dir / "debug.out"));
  fs::remove_all(dir);
}

TEST(DbgStream, TestPrinterSeesLinesWhateverTheMode) {
  // The seam that every test's DebugCapture uses keeps working in this
  // process, which never chooses a mode.
  DebugCapture capture;
  VXDropinEcho("seen");
  c_assert("h.cpp", 9, "z");
  EXPECT_EQ(capture.All(), "seen\n# failed assert z; File h.cpp; line 9\n");
  EXPECT_FALSE(dbgstrm_is_initialized());
}

// ===== Roll-over =====

void Touch(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }

TEST(DbgRollOver, NumberedNamesShiftTheOldestGoesAndTheLastDotCounts) {
  fs::path dir = TempDir("roll");
  Touch(dir / "debug.out", "current");
  Touch(dir / "debug_1.out", "one");
  Touch(dir / "debug_2.out", "two");
  Touch(dir / "debug_3.out", "three");
  EXPECT_TRUE(dbgutils_file_roll_logs((dir / "debug.out").string(), 3));
  EXPECT_FALSE(fs::exists(dir / "debug.out"));
  EXPECT_EQ(ReadFile(dir / "debug_1.out"), "current");
  EXPECT_EQ(ReadFile(dir / "debug_2.out"), "one");
  EXPECT_EQ(ReadFile(dir / "debug_3.out"), "two");
  EXPECT_FALSE(fs::exists(dir / "debug_4.out"));

  // Gaps are skipped; keep 0 touches nothing.
  Touch(dir / "debug.out", "new");
  fs::remove(dir / "debug_2.out");
  EXPECT_TRUE(dbgutils_file_roll_logs((dir / "debug.out").string(), 0));
  EXPECT_EQ(ReadFile(dir / "debug.out"), "new");
  EXPECT_TRUE(dbgutils_file_roll_logs((dir / "debug.out").string(), 2));
  EXPECT_EQ(ReadFile(dir / "debug_1.out"), "new");
  EXPECT_EQ(ReadFile(dir / "debug_2.out"), "current");
  EXPECT_EQ(ReadFile(dir / "debug_3.out"), "two");  // beyond keep: untouched

  // A name without a dot, and one where only the last dot counts.
  Touch(dir / "trace", "a");
  EXPECT_TRUE(dbgutils_file_roll_logs((dir / "trace").string(), 2));
  EXPECT_EQ(ReadFile(dir / "trace_1"), "a");
  Touch(dir / "x.y.log", "b");
  EXPECT_TRUE(dbgutils_file_roll_logs((dir / "x.y.log").string(), 1));
  EXPECT_EQ(ReadFile(dir / "x.y_1.log"), "b");
  fs::remove_all(dir);
}

TEST(DbgRollOver, FailureOtherThanMissingFileIsReportedAndTheRestGoesOn) {
  fs::path dir = TempDir("fail");
  fs::create_directories(dir / "debug_2.out" / "occupied");  // cannot be deleted
  Touch(dir / "debug.out", "current");
  EXPECT_FALSE(dbgutils_file_roll_logs((dir / "debug.out").string(), 2));
  EXPECT_EQ(ReadFile(dir / "debug_1.out"), "current");
  fs::remove_all(dir);
}

TEST(DbgFileRoutine, SetupRollsOpensWritesAndCloses) {
  fs::path dir = TempDir("file");
  Touch(dir / "debug.out", "previous run");
  ChildResult r = RunInChild([&](std::string& out) {
    KAt::ProcessStartup(1);
    std::FILE* file = nullptr;
    dbgutils_file_setup_file(&file, (dir / "debug.out").c_str(), nullptr, 1);
    out += file != nullptr ? "open " : "none ";
    Print("printed\n");
    dbg_write("written\n");
    out += ReadFile(dir / "debug.out");  // flushed on every write
    dbg_done();                          // closes the file
    dbgutils_file_setup((dir / "nodir" / "debug.out").c_str(), "wt", 0);
    DBG_output_routine routine = nullptr;
    dbg_get_output(&routine, nullptr);
    out += routine == nullptr ? "unopened" : "installed";
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "open printed\nwritten\nunopened");
  EXPECT_EQ(ReadFile(dir / "debug_1.out"), "previous run");
  fs::remove_all(dir);
}

}  // namespace
