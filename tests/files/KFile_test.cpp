// Files, directories, copying, search, attributes and shared opens on a real
// temporary directory; std::filesystem, stat and localtime_r are the oracles.
#include "vxkernel/files/KFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/debug_capture.h"
#include "support/temp_dir.h"
#include "vxkernel/files/KDir.h"
#include "vxkernel/files/KFileCopyOperation.h"
#include "vxkernel/files/KPath.h"
#include "vxkernel/files/pcfile.h"
#include "vxkernel/locale/KAttr.h"
#include "vxkernel/text/KArray.h"

namespace fs = std::filesystem;

// A copy buffer near LONG_MAX bytes must come back null under
// AddressSanitizer too.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

class FilesTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) { return fTemp.Write(name, bytes); }
  static std::string Read(const std::string& path) { return TempDir::Read(path); }
  TempDir fTemp{"vxk_files"};
  const std::string fDir = fTemp.Path();  // ends with "/"
};

TEST(KFileNames, SplittingAndLimits) {
  const std::string cwd = fs::current_path().string();
  const std::string n253 = "/" + std::string(252, 'a'), n254 = n253 + "b";
  struct Row {
    std::string in, path, shortName, type, fileName, debug;
  } rows[] = {
      {"/tmp/a/b.c.txt", "/tmp/a/", "b.c", ".TXT", "b.c.txt", ""},
      {"/tmp/noext", "/tmp/", "noext", "", "noext", ""},
      {"/x/../y/./z.Gz", "/y/", "z", ".GZ", "z.Gz", ""},
      {"rel/f.dat", cwd + "/rel/", "f", ".DAT", "f.dat", ""},
      {n253, "/", n253.substr(1), "", n253.substr(1), ""},
      {n254, "", "", "", "", "KFile::FullName( " + n254 + " name too long.\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.in.substr(0, 40));
    DebugCapture capture;
    KFile f(r.in.c_str());
    EXPECT_EQ(capture.All(), r.debug);
    EXPECT_EQ(f.Valid(), r.debug.empty());
    EXPECT_STREQ(f.PathName(), r.path.c_str());
    EXPECT_STREQ(f.ShortName(), r.shortName.c_str());
    EXPECT_STREQ(f.Type(), r.type.c_str());
    EXPECT_STREQ(f.FileName(), r.fileName.c_str());
    EXPECT_STREQ(f.FullName(), r.debug.empty() ? (r.path + r.fileName).c_str() : "");
  }
  EXPECT_TRUE(KFile("/T/Read.me") == KFile("/t/READ.ME"));
  EXPECT_TRUE(KFile("/t/a") != KFile("/t/b"));
}

TEST_F(FilesTest, ListingIsSortedSkipsTooLongNamesAndMarksDirectories) {
  Write("c", "");
  Write("b.txt", "x");
  fs::create_directory(fDir + "a");
  const std::string tooLong(254 - fDir.size(), 'z');  // dir + name reaches 254
  Write(tooLong, "");
  KDir dir(fDir.substr(0, fDir.size() - 1).c_str());  // the "/" is added
  DebugCapture capture;
  EXPECT_EQ(dir.NFiles(), 3);
  std::unique_ptr<KFile> first(dir.GetFile(1)), second(dir.GetFile(2)), past(dir.GetFile(4));
  ASSERT_NE(dynamic_cast<KDir*>(first.get()), nullptr);
  EXPECT_STREQ(first->FullName(), (fDir + "a/").c_str());
  EXPECT_EQ(dynamic_cast<KDir*>(second.get()), nullptr);
  EXPECT_STREQ(second->FullName(), (fDir + "b.txt").c_str());
  EXPECT_EQ(past, nullptr);
  KArray names;
  names.AddSelement(static_cast<void*>(nullptr));  // emptied first
  dir.GetFileNames(&names);
  std::vector<std::string> got;
  for (unsigned long i = 1; i <= names.NumElements(); ++i)
    got.emplace_back(static_cast<char*>(names[i]));
  EXPECT_EQ(got, (std::vector<std::string>{fDir + "a/", fDir + "b.txt", fDir + "c"}));
  KDir::FreeFileNames(&names);
  EXPECT_EQ(names.NumElements(), 0u);
  EXPECT_EQ(capture.Texts().size(), 5u);  // one line per listing that left the long name out
  EXPECT_NE(capture.Texts()[0].find("1 names too long left out of " + fDir), std::string::npos);
}

TEST_F(FilesTest, CreateDeleteSizeAndParent) {
  KDir sub((fDir + "sub").c_str());
  KFile file((fDir + "sub/f.txt").c_str());
  DebugCapture capture;
  EXPECT_FALSE(sub.Exists());
  EXPECT_TRUE(sub.Create());  // a directory name makes a directory
  EXPECT_TRUE(fs::is_directory(fDir + "sub"));
  EXPECT_TRUE(sub.IsDir());
  EXPECT_TRUE(sub.IsDirSpec());
  EXPECT_FALSE(file.IsDirSpec());
  EXPECT_FALSE(file.IsDir());
  Write("sub/f.txt", "12345");
  EXPECT_EQ(file.Size(), 5);
  EXPECT_EQ(sub.Size(), 0);
  EXPECT_TRUE(file.Create());  // an existing file is emptied
  EXPECT_EQ(file.Size(), 0);
  std::unique_ptr<KDir> up(file.Parent()), upUp(sub.Parent()), root(KDir("/").Parent());
  EXPECT_STREQ(up->FullName(), (fDir + "sub/").c_str());
  EXPECT_STREQ(upUp->FullName(), fDir.c_str());
  EXPECT_STREQ(root->FullName(), "/");
  EXPECT_FALSE(sub.Delete());  // not empty
  EXPECT_TRUE(file.Delete());
  EXPECT_TRUE(sub.Delete());
  EXPECT_FALSE(fs::exists(fDir + "sub"));
  EXPECT_TRUE(KDir("/").Exists());
  EXPECT_EQ(sub.FreeSpaceBytes(), ~uint64_t{0});  // unknown: the copy check must not refuse
  EXPECT_EQ(sub.FreeSpaceMegabytes(), -1);
  EXPECT_NE(KDir(fDir.c_str()).FreeSpaceBytes(), ~uint64_t{0});
  EXPECT_EQ(capture.All(), "KFile::Delete - could not remove directory: " + fDir + "sub\n");
}

TEST_F(FilesTest, CopyBlocksAndRefusals) {
  const std::string src = Write("data.txt", "0123456789");
  const std::string existing = Write("existing", "keep me");
  fs::create_directory(fDir + "into");
  auto copy = [&](const std::string& from, const std::string& to, long block) {
    KFileCopyOperation op;
    std::vector<long> results{op.CopyStart(KFile(from.c_str()), KFile(to.c_str()), block, 1)};
    while (results.back() == 0 && results.size() < 10) results.push_back(op.CopyContinue());
    results.push_back(op.CopyEnd());
    return results;
  };
  DebugCapture capture;
  EXPECT_EQ(copy(src, fDir + "out", 4), (std::vector<long>{0, 0, 0, 0, -1, 0}));
  EXPECT_EQ(Read(fDir + "out"), "0123456789");
  EXPECT_EQ(copy(src, fDir + "into/", 3), (std::vector<long>{0, 0, 0, 0, 0, -1, 0}));
  EXPECT_EQ(Read(fDir + "into/data"), "0123456789");   // short name only
  EXPECT_EQ(copy(src, fDir + "into", 3).front(), -5);  // now exists there
  EXPECT_EQ(copy(src, existing, 4).front(), -5);
  EXPECT_EQ(Read(existing), "keep me");
  EXPECT_EQ(copy(src, fDir + "no/such", 4).front(), -4);
  EXPECT_EQ(copy(fDir + "into", fDir + "d2", 4).front(), -3);
  EXPECT_EQ(copy(fDir + "missing", fDir + "m2", 4).front(), -2);
  EXPECT_EQ(copy(src, fDir + "zero", 0), (std::vector<long>{-10, 0}));
  EXPECT_FALSE(fs::exists(fDir + "zero"));
  KFileCopyOperation huge;  // the block count must not overflow on the way
  EXPECT_EQ(huge.CopyStart(KFile(src.c_str()), KFile((fDir + "huge").c_str()), LONG_MAX, 0), -10);
  EXPECT_EQ(huge.NumBlocks(), 1);
  EXPECT_EQ(capture.Texts().size(), 7u);  // one line per refusal
}

// A FIFO (or device) source would block the copy in open or read: it is
// refused as a source that cannot be opened.
TEST_F(FilesTest, CopyRefusesASourceThatIsNotARegularFile) {
  const std::string fifo = fDir + "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  KFileCopyOperation op;
  ExpectDebug({"c_pc_fopen - could not open file: " + fifo + "\n",
               "KFileCopyOperation::CopyStart - could not open " + fifo + "\n"},
              [&] { EXPECT_EQ(op.CopyStart(KFile(fifo.c_str()), KFile((fDir + "out").c_str()), 4, 0), -7); });
}

TEST_F(FilesTest, AccessSearchesStartupDirBeforePath) {
  const std::string name = "vxk_access_" + std::to_string(getpid());
  fs::create_directories(fDir + "start/sub"), fs::create_directory(fDir + "bin");
  Write("start/" + name, ""), Write("bin/" + name, ""), Write("bin/" + name + ".p", "");
  Write("start/sub/" + name, "");
  {
    KDir start((fDir + "start").c_str());
    KDir::StartupDir(&start);  // copied: start may go
  }
  const char* oldPath = std::getenv("PATH");
  const std::string savedPath = oldPath != nullptr ? oldPath : "";
  setenv("PATH", ("/nonexistent::" + fDir + "bin").c_str(), 1);
  DebugCapture capture;
  EXPECT_STREQ(KPath::Access(name.c_str(), 1), (fDir + "start/" + name).c_str());
  EXPECT_STREQ(KPath::Access((name + ".p").c_str(), 0), (fDir + "bin/" + name + ".p").c_str());
  EXPECT_STREQ(KPath::Access(("sub/" + name).c_str(), 1), "");  // a "/" is not searched for
  setenv("PATH", savedPath.c_str(), 1);
  KDir::StartupDir(nullptr);
  EXPECT_EQ(capture.All(), "KPath::Access( '" + name + "' ) located at '" + fDir + "start/" + name +
                               "'KPath::Access( 'sub/" + name + "' ) failed.");
}

TEST_F(FilesTest, AttributesFromAndToAFile) {
  const std::string path = Write("report.v2.Txt", "hello");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  KAttr attr;
  ASSERT_EQ(attr.GetAttrFromFile(KFile(path.c_str())), 0);
  EXPECT_EQ(attr.Platform(), 2);
  EXPECT_STREQ(attr.Name(), "report.v2.Txt");
  EXPECT_STREQ(attr.Type(), "TXT");
  EXPECT_EQ(attr.Dsize(), 5);
  EXPECT_EQ(attr.ReadOnly(), 1);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  struct tm tm;
  localtime_r(&st.st_mtime, &tm);
  const KDateTime& m = attr.ModifyDate();
  EXPECT_EQ((std::vector<int>{m.Year(), m.Month(), m.Day(), m.Hour(), m.Minute(), m.Second()}),
            (std::vector<int>{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                              tm.tm_sec}));
  EXPECT_LE(attr.CreateDate().Compare(m), 0);
  attr.ReadOnly(0);
  EXPECT_EQ(attr.SetAttrToFile(KFile(path.c_str())), 0);
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ExpectDebug({"KAttrGetAttrFromFile( " + fDir + "gone )...Error from GetFileAttributes\n"},
              [&] { EXPECT_EQ(attr.GetAttrFromFile(KFile((fDir + "gone").c_str())), -1); });
}

// What another process may do while this one holds the file open.
TEST_F(FilesTest, SharingRulesHoldAgainstAnotherProcess) {
  const std::string path = Write("shared", "abc");
  const struct {
    const char* held;
    const char* other;  // probe arguments: "open <mode> <share bits>" or "pcopen <mode>"
    int exit;           // 0 opened, 1 refused
  } rows[] = {{"w", "open r 3", 0},  {"wt", "open a 3", 1},  {"wb", "open r 3", 1},
              {"a+", "open r 3", 0}, {"r+b", "open r 3", 1}, {"rb", "open r 3", 0},
              {"rb", "open a 3", 1}, {"a", "pcopen r", 1},   {"r", "pcopen r", 0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.held) + " then " + r.other);
    std::FILE* f = c_pc_fopen(path.c_str(), r.held);
    ASSERT_NE(f, nullptr);
    const std::string probe = std::string(VXK_SHAREDFILE_PROBE) + " '" + path + "' " + r.other;
    const int status = std::system(probe.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, r.exit);
    std::fclose(f);
  }
}

}  // namespace
