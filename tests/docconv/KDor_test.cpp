// KDor with the built client library: MIME types against the file command,
// the text conversion, and the failure messages of each loading step.
#include "vxkernel/docconv/KDor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/debug_capture.h"
#include "support/temp_dir.h"

namespace {

const std::string kHome = VXK_DCS_HOME;
// The signature and header chunk of a 1x1 PNG image.
const char kPngBytes[] =
    "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0\x90\x77\x53\xde";
const std::string kPng(kPngBytes, sizeof kPngBytes - 1);

std::string Config(const TempDir& dir, const std::string& home, const char* name = "/server.ini") {
  return dir.Write(name,
                   "[general]\nRZHome=" + home + "\n[DORView]\ndllpath=" + home + "filters\n");
}

// The file command's answer, or "" when it is not installed.
std::string FileCommandType(const std::string& path) {
  std::string out;
  if (FILE* p = popen(("file -b --mime-type '" + path + "' 2>/dev/null").c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
    if (pclose(p) != 0) out.clear();
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(KDor, MimeTypesAgreeWithFileCommand) {
  TempDir dir;
  std::string ini = Config(dir, kHome);
  const std::string samples[][2] = {
      {"/a.txt", "plain words\nand a second line\n"},
      {"/b.html",
       "<!DOCTYPE html>\n<html><head><title>T</title></head><body><p>x</p></body></html>\n"},
      {"/c.png", kPng},
      {"/d.pdf", "%PDF-1.4\n1 0 obj\n<< >>\nendobj\n"},
  };
  for (const auto& s : samples) {
    std::string path = dir.Write(s[0], s[1]);
    KDor dor(path.c_str(), ini.c_str(), 0);
    char type[64] = "";
    ExpectDebug({}, [&] {
      ASSERT_EQ(dor.GetMimeType(type, sizeof type), 0) << s[0];
      ASSERT_EQ(dor.GetMimeType(type, sizeof type), 0) << s[0];  // loaded once, usable again
    });
    std::string oracle = FileCommandType(path);
    if (!oracle.empty()) {
      EXPECT_EQ(type, oracle) << s[0];
    }
    EXPECT_EQ(std::string(dor.GetFiltersPath()), kHome + "filters");
  }
}

TEST(KDor, AHomeWithoutItsClosingSlashStillFindsTheClient) {
  TempDir dir;
  std::string png = dir.Write("/p.png", kPng);
  std::string ini = Config(dir, kHome.substr(0, kHome.size() - 1));
  EXPECT_EQ(KDor(png.c_str(), ini.c_str(), 0).LoadDorClientLib(), 0);
}

TEST(KDor, ConvertsToTextWithTitleAndDeletesOutputs) {
  TempDir dir;
  std::string ini = Config(dir, kHome);
  const char* cases[][3] = {
      // input, text, title
      {"<html><head><TITLE>Q &amp; A</TITLE><style>p{}</style></head><body><h1>Head</h1>"
       "<p>one \n two<br>three &#x263A;</p><script>x<y</script></body></html>",
       "Head\none two\nthree \xe2\x98\xba\n", "Q & A"},
      {"<html><body><div>  first  </div><div>second</div></body></html>", "first\nsecond\n",
       "first"},
      {"\n   \n  Plain title  \nbody\n", "\n   \n  Plain title  \nbody\n", "Plain title"},
  };
  for (const auto& c : cases) {
    std::string in = dir.Write(c[1][0] == '\n' ? "/in.txt" : "/in.html", c[0]);
    std::vector<std::string> outputs;
    {
      KDor dor(in.c_str(), ini.c_str(), 1);
      ASSERT_TRUE(dor.Convert(dir.Path().c_str(), "text"));
      for (const KFile& f : dor.GetOutputFiles()) outputs.push_back(std::string(f.FullName()));
      ASSERT_EQ(outputs.size(), 2u);
      EXPECT_EQ(dir.Read(outputs[0]), c[1]);
      EXPECT_EQ(dir.Read(outputs[1]), std::string(c[2]) + "\n");
    }
    for (const std::string& f : outputs) EXPECT_FALSE(std::filesystem::exists(f)) << f;
  }
}

TEST(KDor, FailureMessages) {
  TempDir dir;
  std::string png = dir.Write("/p.png", kPng);
  std::string good = Config(dir, kHome);
  std::string noHome = dir.Write("/nohome.ini", "[general]\nOther=1\n");
  std::string noFilters = dir.Write("/nofilters.ini", "[general]\nRZHome=/x/\n");
  std::string empty = dir.Path() + "/empty/";
  std::filesystem::create_directories(empty + "bin");
  std::string emptyIni = Config(dir, empty, "/empty.ini");
  ExpectDebug({"fileprefs_open - could not read file: /no/such.ini (No such file or directory)\n",
               "Error, opening ini file.\n"},
              [&] { EXPECT_EQ(KDor(png.c_str(), "/no/such.ini", 0).GetMimeType(nullptr, 0), 1); });
  ExpectDebug({"Error, getting the rzhome path.\n"},
              [&] { EXPECT_FALSE(KDor(png.c_str(), noHome.c_str(), 0).Convert("", "")); });
  ExpectDebug({"Error, getting the filters path.\n"},
              [&] { EXPECT_EQ(KDor(png.c_str(), noFilters.c_str(), 0).LoadDorClientLib(), 1); });
  // No library in the home, then one without the entry points; KLoadLib's
  // line comes first.
  for (const std::string& last : {"Error accessing " + empty + "bin/dcsclient\n",
                                  std::string("Error mapping ZorvClientInitParams\n")}) {
    DebugCapture capture;
    EXPECT_EQ(KDor(png.c_str(), emptyIni.c_str(), 0).LoadDorClientLib(), 1);
    EXPECT_EQ(capture.Texts().size(), 2u);
    EXPECT_EQ(capture.Texts().back(), last);
    std::error_code ignored;
    std::filesystem::create_symlink(VXK_OTHER_LIB, empty + "bin/dcsclient.so", ignored);
  }
  KDor dor(png.c_str(), good.c_str(), 0);
  ExpectDebug({"Error converting document: 5\n"},
              [&] { EXPECT_FALSE(dor.Convert(nullptr, nullptr)); });
  EXPECT_TRUE(dor.GetOutputFiles().empty());
  char small[9];  // "image/png" and its terminator need 10
  ExpectDebug({"Error detecting mime type: 2\n"},
              [&] { EXPECT_EQ(dor.GetMimeType(small, sizeof small), 2); });
}

}  // namespace
