// Debug output: routines, early buffer, printer choice (process-wide and final: scenarios
// run in children), ready-made routines, roll-over.
#include "vxkernel/runtime/dbg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// Records each event as "open", "close" or "write:<text>[/<detail>]", joined by '|'.
void Record(DBG_output kind, long detail, void* datum, const char* text) {
  auto* out = static_cast<std::string*>(datum);
  *out += std::string(out->empty() ? "" : "|") +
          (kind == DBG_open ? "open" : kind == DBG_close ? "close" : "write:" + std::string(text));
  if (kind == DBG_write && detail != 0) *out += "/" + std::to_string(detail);
}

void SelfWriting(DBG_output kind, long detail, void* datum, const char* text) {
  Record(kind, detail, datum, text);
  if (kind == DBG_write) dbg_write("echo");
}

void Print(const std::string& text) { std::ostringstream s(text); dbgstrm_print(s); }

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(missing)";
}

DBG_output_routine Routine() {
  DBG_output_routine routine = nullptr;
  return dbg_get_output(&routine, nullptr), routine;
}

fs::path TempDir(const char* name) {  // fresh and empty
  fs::path dir = fs::temp_directory_path() / ("vxk_dbg_" + std::to_string(getpid()) + "_" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(DbgStream, FirstChoiceWinsAndCompatibilityPrintsThroughTheRoutine) {
  EXPECT_EQ(ChildTranscript([](Transcript& transcript) {
              KAt::ProcessStartup(1);
              std::string events;
              dbg_set_output(&Record, &events);
              Print("unchosen\n");  // no printer yet: dropped
              const bool before = dbgstrm_is_initialized();
              const bool compat = dbgstrm_set_compatiblity_mode();
              const bool syslog = dbgstrm_set_syslog_mode("/nonexistent/log");
              transcript.Line(before, compat, syslog, dbgstrm_is_compatiblity_mode(),
                              dbgstrm_is_syslog_mode());
              Print("line\n");
              VXDropinEcho("drop-in");
              c_assert("f.cpp", 12, "x > 0");
              dbg_enable_handler();
              c_assert("g.cpp", 3, "y");  // no debugger attached: the report, no trap
              transcript.Line(events);
            }),
            "00010\nopen|write:line\n|write:drop-in\n"
            "|write:# failed assert x > 0; File f.cpp; line 12\n"
            "|write:# failed assert y; File g.cpp; line 3\n\n");
}

// Threads without a context feed the early buffer, which the first routine
// installed on any thread receives once. Racing printer choices settle on one.
TEST(DbgRoutine, EarlyTextGoesToTheFirstRoutineEventsComeInOrderAndLongMessagesAreCut) {
  EXPECT_EQ(ChildTranscript([](Transcript& transcript) {
              dbg_write("before ");
              dbg_msg("%s %d", "rings", 2);
              std::vector<std::thread> threads;
              for (int i = 0; i < 8; ++i) {
                threads.emplace_back([i] {
                  dbg_write("racing ");
                  i % 2 ? dbgstrm_set_syslog_mode(nullptr) : dbgstrm_set_compatiblity_mode();
                });
              }
              for (std::thread& t : threads) t.join();
              KAt::ProcessStartup(1);
              std::thread([] { dbg_write("bare"); }).join();
              dbg_write("dropped: no routine yet");
              std::string early, events, self, cut;
              std::thread([&] {
                KAt::ThreadStartup();
                dbg_set_output(&Record, &early);
                dbg_set_output(&Record, &early);  // a second install: the buffer is taken
                KAt::ThreadShutdown();
              }).join();
              transcript.Line(dbgstrm_is_initialized(),
                              dbgstrm_is_compatiblity_mode() + dbgstrm_is_syslog_mode(), early);
              dbg_set_output(&Record, &events);
              dbg_write("one");
              dbg_write_detailed("two", 7);
              const bool installed = Routine() == &Record;
              dbg_clear_output();
              dbg_write("after clear");
              dbg_clear_output();  // nothing set: no second close
              transcript.Line(installed, events);
              dbg_set_output(&SelfWriting, &self);  // the busy flag drops its echo
              dbg_write("x");
              dbg_clear_output();
              dbg_set_output(&Record, &cut);
              dbg_msg("%s", std::string(600, 'a').c_str());
              transcript.Line(self, " ", cut.size() - std::string("open|write:").size());
            }),
            "11open|write:before rings 2racing racing racing racing racing racing racing racing "
            "bare\n|open\n1open|write:one|write:two/7|close\nopen|write:x|close 509\n");
}

TEST(DbgStream, SystemLogChoiceKeepsTheReadyMadeRoutinesOut) {
  const fs::path dir = TempDir("syslog");
  EXPECT_EQ(ChildTranscript([&](Transcript& transcript) {
              KAt::ProcessStartup(1);
              dbgstrm_set_syslog_mode((dir / "sys.log").c_str());
              dbgstrm_set_compatiblity_mode();
              std::FILE* file = reinterpret_cast<std::FILE*>(1);
              dbgutils_file_setup_file(&file, (dir / "debug.out").c_str(), nullptr, 2);
              dbgutils_batch_setup();
              transcript.Line(dbgstrm_is_syslog_mode(), file == nullptr, Routine() == nullptr);
              Print("goes to the system log\n");
            }),
            "111\n");
  EXPECT_FALSE(fs::exists(dir / "debug.out"));
  fs::remove_all(dir);
}

TEST(DbgFiles, RollOverShiftsNumberedNamesAndTheFileRoutineRollsWritesAndCloses) {
  const fs::path dir = TempDir("roll");
  const char* names[] = {"debug.out", "debug_1.out", "debug_2.out", "debug_3.out", "debug_4.out"};
  for (int i = 0; i < 4; ++i) std::ofstream(dir / names[i]) << names[i];
  auto files = [&] {
    std::string all;
    for (const char* name : names) all += ReadFile(dir / name) + " ";
    return all;
  };
  const std::string debug = (dir / "debug.out").string();
  EXPECT_TRUE(dbgutils_file_roll_logs(debug, 3));
  EXPECT_EQ(files(), "(missing) debug.out debug_1.out debug_2.out (missing) ");
  std::ofstream(debug) << "new";  // gaps are skipped; keep 0 touches nothing
  fs::remove(dir / "debug_2.out");
  EXPECT_TRUE(dbgutils_file_roll_logs(debug, 0));
  EXPECT_TRUE(dbgutils_file_roll_logs(debug, 2));
  EXPECT_EQ(files(), "(missing) new debug.out debug_2.out (missing) ");  // beyond keep: untouched
  for (auto [name, rolled] : {std::pair{"trace", "trace_1"}, {"x.y.log", "x.y_1.log"}}) {
    std::ofstream(dir / name) << name;  // no dot, two dots: the last one counts
    EXPECT_TRUE(dbgutils_file_roll_logs((dir / name).string(), 2)) << name;
    EXPECT_EQ(ReadFile(dir / rolled), name);
  }
  // A failure other than a missing file is reported, and the rest goes on.
  fs::remove_all(dir);
  fs::create_directories(dir / "debug_2.out" / "occupied");  // cannot be deleted
  std::ofstream(debug) << "current";
  EXPECT_FALSE(dbgutils_file_roll_logs(debug, 2));
  EXPECT_EQ(ReadFile(dir / "debug_1.out"), "current");
  // The file routine rolls as it is set up, and flushes each text it writes.
  std::ofstream(debug) << "previous run";
  EXPECT_EQ(ChildTranscript([&](Transcript& transcript) {
              KAt::ProcessStartup(1);
              std::FILE* file = nullptr;
              dbgutils_file_setup_file(&file, debug.c_str(), nullptr, 1);
              Print("printed\n");
              dbg_write("written\n");
              transcript.Line(file != nullptr, ReadFile(debug));
              dbg_done();  // closes the file
              dbgutils_file_setup((dir / "nodir" / "debug.out").c_str(), "wt", 0);
              transcript.Line(Routine() == nullptr);
            }),
            "1printed\nwritten\n\n1\n");
  EXPECT_EQ(ReadFile(dir / "debug_1.out"), "previous run");
  fs::remove_all(dir);
}

}  // namespace
