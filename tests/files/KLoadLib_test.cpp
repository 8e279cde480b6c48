// KLoadLib against a real module (the conversion client library) and a
// missing one: results, the debug lines and the loader's texts in them.
#include "vxkernel/files/KLoadLib.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/debug_capture.h"
#include "support/temp_dir.h"

namespace {

const std::string kLib = VXK_DCS_LIB;

std::string Stem() { return kLib.substr(0, kLib.size() - 3); }  // without ".so"

TEST(KLoadLib, FindsFunctionsUntilClosed) {
  KLoadLib lib;
  ExpectDebug({}, [&] { EXPECT_EQ(lib.GetFunctionAddress("ZorvClientFree"), nullptr); });
  ASSERT_TRUE(lib.OpenWithProperSuffix(Stem().c_str()));
  EXPECT_TRUE(lib.IsOpened());
  EXPECT_NE(lib.GetFunctionAddress("ZorvClientFree"), nullptr);
  DebugCapture capture;
  EXPECT_EQ(lib.GetFunctionAddress("NoSuchEntry"), nullptr);
  std::string prefix = "KLoadLib::GetFunctionAddress could not find address NoSuchEntry (";
  ASSERT_EQ(capture.Texts().size(), 1u);
  std::string line = capture.Texts()[0];
  EXPECT_EQ(line.substr(0, prefix.size()), prefix);
  EXPECT_EQ(line.substr(prefix.size(), line.size() - prefix.size() - 2),
            std::string(lib.LastError()));
  EXPECT_NE(std::string(lib.LastError()).find("NoSuchEntry"),
            std::string::npos);  // the loader's own text
  EXPECT_EQ(line.substr(line.size() - 2), ")\n");

  KLoadLib copy(lib);  // shares the module; destroying a copy leaves it loaded
  { KLoadLib temporary(lib); }
  EXPECT_NE(copy.GetFunctionAddress("ZorvClientInit"), nullptr);
  EXPECT_TRUE(lib.Close());
  EXPECT_FALSE(lib.IsOpened());
  EXPECT_FALSE(lib.Close());
  EXPECT_EQ(lib.GetFunctionAddress("ZorvClientFree"), nullptr);
  EXPECT_EQ(capture.Texts().size(), 1u);
}

TEST(KLoadLib, MissingModules) {
  TempDir temp("vxk_loadlib");
  const std::string fifo = temp / "fifo";
  ASSERT_EQ(mkfifo((fifo + ".so").c_str(), 0600), 0);  // the loader's open would wait on it
  struct {
    const char* name;   // given to OpenWithProperSuffix
    std::string tried;  // the file name in the message, "" for none
  } cases[] = {
      {"", ""},
      {kLib.c_str(), kLib + ".so"},  // the suffix is added even when present
      {"/nonexistent/dir/mod", "/nonexistent/dir/mod.so"},
      {fifo.c_str(), fifo + ".so"},
  };
  for (const auto& c : cases) {
    KLoadLib lib;
    DebugCapture capture;
    EXPECT_FALSE(lib.OpenWithProperSuffix(c.name)) << c.name;
    EXPECT_FALSE(lib.IsOpened());
    if (c.tried.empty()) {
      EXPECT_TRUE(capture.Texts().empty());
      continue;
    }
    EXPECT_EQ(capture.Texts(),
              std::vector<std::string>{"KLoadLib::Open could not load: " + c.tried + " (" +
                                       std::string(lib.LastError()) + ")\n"});
    EXPECT_NE(std::string(lib.LastError()).find(c.tried), std::string::npos);
  }
}

}  // namespace
