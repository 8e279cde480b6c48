// The error catalogue: local messages, bundle lookups, templates (against snprintf), paths.
#include "vxkernel/runtime/err.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "runtime/err_internal.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "vxkernel/runtime/KAt.h"

namespace fs = std::filesystem;
using vxk_internal::ErrBundleResult;

namespace {

// Runs body on a thread that has started its thread ring.
template <typename F>
void OnStartedThread(F body) {
  std::thread([&] {
    KAt::ThreadStartup();
    body();
    KAt::ThreadShutdown();
  }).join();
}

template <typename... Args>
std::string Buffer(const char* templ, Args... args) {
  char buf[300];
  err_sprintf_buffer(buf, sizeof buf, templ, args...);
  return buf;
}

template <typename... Args>
std::string Oracle(const char* format, Args... args) {
  char buf[300];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

TEST(ErrLocal, SlotsAreReusedAndCodesHaveCatalogueZero) {
  OnStartedThread([] {
    EXPECT_EQ(std::string(err_get_msg(1)), "");  // no table yet
    long a = err_add_local_msg("first");
    long b = err_add_local_msg("second");
    long c = err_add_local_msg("third");
    EXPECT_EQ(a >> 16, 0);
    EXPECT_EQ(b >> 16, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(std::string(err_get_msg(a)), "first");
    EXPECT_EQ(std::string(err_get_msg(b)), "second");
    err_delete_local_msg(b | 0x10000);  // another catalogue: ignored
    EXPECT_EQ(std::string(err_get_msg(b)), "second");
    err_delete_local_msg(b);
    EXPECT_EQ(std::string(err_get_msg(b)), "");
    long d = err_add_local_msg("fourth");
    EXPECT_EQ(d, b);  // the freed slot is taken again
    EXPECT_EQ(std::string(err_get_msg(c)), "third");
    EXPECT_EQ(std::string(err_get_msg(d)), "fourth");
    EXPECT_EQ(std::string(err_get_msg(0x7FFF)), "");
    EXPECT_EQ(std::string(err_get_msg(0)), "");
  });
}

TEST(ErrLocal, TablesArePerThreadAndNeedAStartedThread) {
  long code = 0;
  OnStartedThread([&] { code = err_add_local_msg("mine"); });
  OnStartedThread([&] { EXPECT_EQ(std::string(err_get_msg(code)), ""); });
  DebugCapture capture;
  std::thread([] { EXPECT_EQ(err_add_local_msg("nowhere"), 0); }).join();
  EXPECT_EQ(capture.All(), "err_add_local_msg - the calling thread has not started\n");
}

// ===== Catalogues =====

std::string gAsked;  // what the fake bundle lookup was asked, in order

ErrBundleResult FakeBundle(const char* bundle, const char*, const char* key, std::string* text) {
  gAsked += std::string(bundle) + ":" + key + " ";
  if (std::string(bundle) != "9901") return ErrBundleResult::kNoBundle;
  if (std::string(key) == "648871951") {  // 0x26AD000F
    *text = "File %s#1 has %ld#2 bytes";
    return ErrBundleResult::kFound;
  }
  return ErrBundleResult::kNoKey;
}

TEST(ErrCatalogue, MissingBundleGivesTheLineAndAnEmptyText) {
  DebugCapture capture;
  char buf[16] = "untouched";
  EXPECT_STREQ(err_get_msg(0x26AD000F, buf, sizeof buf), "");
  EXPECT_EQ(std::string(err_get_msg(static_cast<long>(0xFFFE0003))), "");  // catalogue -2
  EXPECT_EQ(std::string(err_sprintf(0x00050001, "x")), "");
  EXPECT_EQ(capture.All(),
            "Err:err_get_msg - Could not load 9901\n"
            "Err:err_get_msg - Could not load -2\n"
            "Err:err_get_msg - Could not load 5\n");
}

TEST(ErrCatalogue, KeyIsTheWholeCodeAndTemplatesAreFilled) {
  DebugCapture capture;
  auto previous = vxk_internal::ErrSetBundleLookup(&FakeBundle);
  gAsked.clear();
  EXPECT_EQ(std::string(err_get_msg(0x26AD000F)), "File %s#1 has %ld#2 bytes");
  EXPECT_EQ(std::string(err_get_msg(0x26AD0010)), "");  // no such key: no line
  EXPECT_EQ(std::string(err_get_msg(static_cast<long>(0xFFFE0003))), "");
  EXPECT_EQ(gAsked, "9901:648871951 9901:648871952 -2:-131069 ");
  EXPECT_EQ(capture.All(), "Err:err_get_msg - Could not load -2\n");

  EXPECT_EQ(std::string(err_sprintf(0x26AD000F, "a.txt", 12L)),
            Oracle("File %s has %ld bytes", "a.txt", 12L));
  char small[8];
  EXPECT_STREQ(err_sprintf(small, sizeof small, 0x26AD000F, "a.txt", 12L), "File a.");
  char cut[8];
  EXPECT_STREQ(err_strncpy(cut, sizeof cut, 0x26AD000F, 4), "File");
  EXPECT_STREQ(err_strcpy(cut, sizeof cut, 0x26AD000F), "File %s");
  vxk_internal::ErrSetBundleLookup(previous);
}

// ===== Templates =====

TEST(ErrTemplate, MarkersFillTheConversionBeforeThem) {
  EXPECT_EQ(Buffer("%s#1 and %d#2.", "one", 2), Oracle("%s and %d.", "one", 2));
  EXPECT_EQ(Buffer("%s#2 then %d#1", 5, "x"), Oracle("%s then %d", "x", 5));
  EXPECT_EQ(Buffer("%5.1f#1|%-4ld#2|%lld#3|%x#4", 3.14159, -7L, 1LL << 40, 255),
            Oracle("%5.1f|%-4ld|%lld|%x", 3.14159, -7L, 1LL << 40, 255));
  EXPECT_EQ(Buffer("%s#1 again %s#1", "a"), "a again a");
  EXPECT_EQ(Buffer("50%% of %s#1", "x"), Oracle("50%% of %s", "x"));
  EXPECT_EQ(Buffer("%s#1", static_cast<const char*>(nullptr)), "(null)");
}

TEST(ErrTemplate, TextOutsideMarkedSegmentsStaysAsWritten) {
  EXPECT_EQ(Buffer("100%% done %d"), "100%% done %d");  // no marker: no printf
  EXPECT_EQ(Buffer("%d#1 left %d%%", 1), "1 left %d%%");
  EXPECT_EQ(Buffer("#0 and #x and # %d#1#", 7), "#0 and #x and # 7#");
  EXPECT_EQ(Buffer("plain#1 %d#2", 99L, 3), "plain 3");  // no conversion for #1
  EXPECT_EQ(Buffer("%d and %d#1", 4), "%d and 4");       // the last one is filled
  EXPECT_EQ(Buffer("%n#1 %*d#2", 1L, 2L), "%n %*d");     // never formatted
}

TEST(ErrTemplate, ResultIsBoundedByTheWorkBufferAndTheCallersBuffer) {
  std::string longText(300, 'a');
  EXPECT_EQ(Buffer(longText.c_str()), std::string(254, 'a'));
  EXPECT_EQ(Buffer("%s#1tail", longText.c_str()), std::string(254, 'a'));
  char buf[5];
  EXPECT_STREQ(err_sprintf_buffer(buf, sizeof buf, "%d#1", 123456), "1234");
  char one[1] = {'x'};
  EXPECT_STREQ(err_sprintf_buffer(one, 1, "abc"), "");
  EXPECT_EQ(err_sprintf_buffer(nullptr, 10, "abc"), nullptr);
}

// ===== The error properties directory =====

fs::path TempDir(const char* name) {
  fs::path dir = fs::temp_directory_path() / ("vxk_err_" + std::to_string(getpid()) + "_" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(ErrPath, ResBesideOrAboveIsChosenOnce) {
  fs::path dir = TempDir("path");
  fs::create_directories(dir / "app");
  fs::create_directories(dir / "other" / "res");
  ChildResult r = RunInChild([&](std::string& out) {
    std::string app = (dir / "app").string() + "/";
    err_properties_path_set(app.c_str());  // neither app/res nor res above
    out += "[" + std::string(err_properties_path()) + "]";
    fs::create_directories(dir / "res");
    err_properties_path_set(app.c_str());
    out += "[" + std::string(err_properties_path()) + "]";
    err_properties_path_set(((dir / "other").string() + "/").c_str());  // already set
    out += "[" + std::string(err_properties_path()) + "]";
  });
  ASSERT_EQ(r.status, 0);
  std::string app = (dir / "app").string();
  EXPECT_EQ(r.output, "[][" + app + "/../res/][" + app + "/../res/]");
  fs::remove_all(dir);
}

TEST(ErrPath, StartupTakesTheStartupDirectoryAndShutdownFreesIt) {
  fs::path dir = TempDir("startup");
  fs::create_directories(dir / "res");
  ChildResult r = RunInChild([&](std::string& out) {
    if (chdir(dir.c_str()) != 0) _exit(4);
    KAt::ProcessStartup(0);
    out += "[" + std::string(err_properties_path()) + "]";
    KAt::ProcessShutdown(0);
    out += "[" + std::string(err_properties_path()) + "]";
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "[" + fs::canonical(dir).string() + "/res/][]");
  fs::remove_all(dir);
}

}  // namespace
