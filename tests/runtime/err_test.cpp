// The error catalogue: local messages, bundle lookups, templates (against snprintf), paths.
#include "vxkernel/runtime/err.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "runtime/err_bundle_lookup.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "vxkernel/runtime/KAt.h"

namespace fs = std::filesystem;
using vxk_internal::ErrBundleResult;

namespace {

std::string Msg(long code) { return std::string(err_get_msg(code)); }

TEST(ErrLocal, FreedSlotsAreTakenAgainInATableOfTheThreadsOwn) {
  long code = 0;
  std::thread([&] {
    KAt::ThreadStartup();
    EXPECT_EQ(Msg(1), "");  // no table yet
    const long a = err_add_local_msg("first"), b = err_add_local_msg("second");
    code = err_add_local_msg("third");
    EXPECT_EQ(a >> 16, 0);  // catalogue 0
    EXPECT_EQ(b >> 16, 0);
    EXPECT_NE(a, b);
    err_delete_local_msg(b | 0x10000);  // another catalogue: ignored
    EXPECT_EQ(Msg(a), "first");
    EXPECT_EQ(Msg(b), "second");
    EXPECT_EQ(Msg(code), "third");
    err_delete_local_msg(b);
    EXPECT_EQ(Msg(b), "");
    EXPECT_EQ(err_add_local_msg("fourth"), b);  // the freed slot
    EXPECT_EQ(Msg(b), "fourth");
    EXPECT_EQ(Msg(code), "third");
    EXPECT_EQ(Msg(0x7FFF), "");
    EXPECT_EQ(Msg(0), "");
    KAt::ThreadShutdown();
  }).join();
  std::thread([&] {  // another thread's table
    KAt::ThreadStartup();
    EXPECT_EQ(Msg(code), "");
    KAt::ThreadShutdown();
  }).join();
  ExpectDebug({"err_add_local_msg - the calling thread has not started\n"}, [] {
    std::thread([] { EXPECT_EQ(err_add_local_msg("nowhere"), 0); }).join();
  });
}

std::string gAsked;  // what the fake bundle lookup was asked, in order

ErrBundleResult FakeBundle(std::string_view bundle, std::string_view, std::string_view key,
                           char* text, size_t size, size_t* length) {
  gAsked += std::string(bundle) + ":" + std::string(key) + " ";
  if (std::string(bundle) != "9901") return ErrBundleResult::kNoBundle;
  if (std::string(key) != "648871951") return ErrBundleResult::kNoKey;  // 0x26AD000F
  *length = std::strlen(std::strncpy(text, "File %s#1 has %ld#2 bytes", size));
  return ErrBundleResult::kFound;
}

TEST(ErrCatalogue, KeyIsTheWholeCodeAndTemplatesAreFilled) {
  auto previous = vxk_internal::ErrSetBundleLookup(&FakeBundle);
  char buf[16] = "untouched";
  ExpectDebug({"Err:err_get_msg - Could not load -2\n", "Err:err_get_msg - Could not load 5\n"}, [&] {
    EXPECT_EQ(Msg(0x26AD000F), "File %s#1 has %ld#2 bytes");
    EXPECT_EQ(Msg(0x26AD0010), "");  // no such key: no line
    EXPECT_STREQ(err_get_msg(static_cast<long>(0xFFFE0003), buf, sizeof buf), "");  // catalogue -2
    EXPECT_EQ(std::string(err_sprintf(0x00050001, "x")), "");
  });
  EXPECT_EQ(gAsked, "9901:648871951 9901:648871952 -2:-131069 5:327681 ");
  EXPECT_EQ(std::string(err_sprintf(0x26AD000F, "a.txt", 12L)), "File a.txt has 12 bytes");
  char small[8];
  EXPECT_STREQ(err_sprintf(small, sizeof small, 0x26AD000F, "a.txt", 12L), "File a.");
  EXPECT_STREQ(err_strncpy(small, sizeof small, 0x26AD000F, 4), "File");
  EXPECT_STREQ(err_strcpy(small, sizeof small, 0x26AD000F), "File %s");
  vxk_internal::ErrSetBundleLookup(previous);
}

template <typename... Args>
std::string Buffer(const char* templ, Args... args) {
  char buf[300];
  return err_sprintf_buffer(buf, sizeof buf, templ, args...), std::string(buf);
}

template <typename... Args>
std::string Oracle(const char* format, Args... args) {
  char buf[300];
  return std::snprintf(buf, sizeof buf, format, args...), std::string(buf);
}

TEST(ErrTemplate, MarkersFillTheConversionBeforeThemAndTheResultIsBounded) {
  EXPECT_EQ(Buffer("%s#2 then %d#1.", 5, "x"), Oracle("%s then %d.", "x", 5));
  EXPECT_EQ(Buffer("%5.1f#1|%-4ld#2|%lld#3|%x#4", 3.14159, -7L, 1LL << 40, 255),
            Oracle("%5.1f|%-4ld|%lld|%x", 3.14159, -7L, 1LL << 40, 255));
  EXPECT_EQ(Buffer("50%% of %s#1 again %s#1", "a"), "50% of a again a");
  EXPECT_EQ(Buffer("%ld#9%ld#1", 1L, 2L, 3L, 4L, 5L, 6L, 7L, 8L, 9L), "91");
  EXPECT_EQ(Buffer("%s#1", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(Buffer("100%% done %d"), "100%% done %d");  // no marker: no printf
  EXPECT_EQ(Buffer("%d#1 left %d%%", 1), "1 left %d%%");
  EXPECT_EQ(Buffer("#0 and #x and # %d#1#", 7), "#0 and #x and # 7#");
  EXPECT_EQ(Buffer("plain#1 %d#2", 99L, 3), "plain 3");  // no conversion for #1
  EXPECT_EQ(Buffer("%d and %d#1", 4), "%d and 4");       // the last one is filled
  EXPECT_EQ(Buffer("%n#1 %*d#2", 1L, 2L), "%n %*d");     // never formatted
  const std::string longText(300, 'a');  // bounded by the work buffer, and the caller's
  EXPECT_EQ(Buffer(longText.c_str()), std::string(254, 'a'));
  EXPECT_EQ(Buffer("%s#1tail", longText.c_str()), std::string(254, 'a'));
  char buf[5], one[1] = {'x'};
  EXPECT_STREQ(err_sprintf_buffer(buf, sizeof buf, "%d#1", 123456), "1234");
  EXPECT_STREQ(err_sprintf_buffer(one, 1, "abc"), "");
  EXPECT_EQ(err_sprintf_buffer(nullptr, 10, "abc"), nullptr);
}

// res beside or above the directory given, chosen once until shut-down (chdir: in a child).
TEST(ErrPath, StartupTakesTheCurrentDirectoryAndTheFirstChoiceStays) {
  const fs::path dir = fs::temp_directory_path() / ("vxk_err_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "app"), fs::create_directories(dir / "other" / "res");
  const std::string app = (dir / "app").string() + "/";
  EXPECT_EQ(ChildTranscript([&](Transcript& transcript) {
    if (chdir((dir / "other").c_str()) != 0) _exit(4);
    KAt::ProcessStartup(0);
    transcript.Line(err_properties_path());
    KAt::ProcessShutdown(0);
    err_properties_path_set(app.c_str());  // neither app/res nor res above
    transcript.Line("[", err_properties_path(), "]");
    fs::create_directories(dir / "res");
    err_properties_path_set(app.c_str());
    err_properties_path_set(((dir / "other").string() + "/").c_str());  // already set
    transcript.Line(err_properties_path());
  }),
            fs::canonical(dir / "other").string() + "/res/\n[]\n" + app + "../res/\n");
  fs::remove_all(dir);
}

}  // namespace
