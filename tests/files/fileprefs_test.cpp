// Preference files: exact bytes of edits, reads through both layers, the
// rewrite's file-system behaviour, a random model, and running out of memory.
#include "vxkernel/files/fileprefs.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <vector>

#include "files/prefs_file_internal.h"
#include "port/port.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/failing_new.h"
#include "support/temp_dir.h"
#include "vxkernel/files/KConfigData.h"
#include "vxkernel/files/KConfigFile.h"
#include "vxkernel/files/KFilePrefs.h"
#include "vxkernel/files/pcfile.h"

namespace fs = std::filesystem;

class FilePrefsTest : public ::testing::Test {
 protected:
  std::string Put(const std::string& name, const std::string& text) { return fTemp.Write(name, text); }
  static std::string Read(const std::string& path) { return TempDir::Read(path); }
  TempDir fTemp{"vxk_prefs"};
  const std::string fDir = fTemp.Path();  // ends with "/"
  // "result:value" as fileprefs_get_pref and KFilePrefs::GetPref give it.
  static std::string Get(void* h, const char* section, const char* name) {
    char buf[64] = "";
    long r = fileprefs_get_pref(h, section, name, buf, sizeof buf);
    return std::to_string(r) + ":" + buf;
  }
  static std::string Get(KFilePrefs* p, const char* section, const char* name) {
    char buf[64] = "";
    long r = p->GetPref(section, name, buf, sizeof buf);
    return std::to_string(r) + ":" + buf;
  }
  // What body reports, run in a child that gave root's rights up for the
  // user and groups (the first is its group); anyone else stays who it is,
  // which is what the test wants to see.
  static std::string AsUser(uid_t uid, std::vector<gid_t> groups,
                            const std::function<void(Transcript&)>& body) {
    return ChildTranscript([&](Transcript& t) {
      if (geteuid() == 0 && (setgroups(groups.size(), groups.data()) != 0 ||
                             setgid(groups[0]) != 0 || setuid(uid) != 0)) {
        t.Line("could not become ", uid);
      }
      body(t);
    });
  }
  static constexpr uid_t kNobody = 65534;
};

const char kHandWritten[] =
    "\xEF\xBB\xBF[Main]\r\nName=Old\r\n# comment\r\nplain text\r\n\r\n"
    "[other]\nKey = spaced \n\n[Last]\nx=1";

TEST_F(FilePrefsTest, EditsKeepUntouchedLinesAndPlaceNewOnes) {
  struct Edit { const char *section, *name, *value; };  // value null: delete
  const struct { const char* before; std::vector<Edit> edits; const char* after; } cases[] = {
      {kHandWritten,
       {{"main", "NAME", "New"}, {"Main", "n2", "v2"}, {"OTHER", "added", "v"}, {"Fresh", "a", "b"},
        {"last", "X", nullptr}},
       "[Main]\r\nName=New\r\n# comment\r\n#plain text\r\nn2=v2\n\r\n"
       "[other]\nKey = spaced \nadded=v\n\n[Last]\n\n[Fresh]\na=b\n"},
      {"", {{"S", "k", "v"}}, "[S]\nk=v\n"},
      {"[A]", {{"a", "k", "v"}}, "[A]\nk=v\n"},
      {"[A]\nk=1\nk=2\n[A]\nk=3\n", {{"A", "K", "9"}, {"a", "k", nullptr}}, "[A]\nk=2\n[A]\nk=3\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.after);
    const std::string path = Put("p.ini", c.before);
    void* h = fileprefs_open(path.c_str());
    for (const Edit& e : c.edits) {
      EXPECT_EQ(e.value ? fileprefs_add_pref(h, e.section, e.name, e.value) : fileprefs_del_pref(h, e.section, e.name), 0);
    }
    EXPECT_EQ(Read(path), c.after);
    fileprefs_close(h);
  }
}

TEST_F(FilePrefsTest, BothLayersReadAlike) {
  const std::string path = Put("r.ini", std::string(kHandWritten) + "\n[Sp] \na=1\n[Tab]\t \t\nt=1\n[\ne=empty\n[sp]\nb=3\n[a[b]\nc=ab\n");
  void* h = fileprefs_open(path.c_str());
  KFilePrefs* p = KFilePrefs::GetKFilePrefs((fDir + "./r.ini").c_str());
  ASSERT_EQ(p, KFilePrefs::GetKFilePrefs(path.c_str()));
  const struct { const char *section, *name, *c, *k; } cases[] = {
      {"MAIN", "name", "0:Old", "0:Old"},  {"other", "Key ", "0: spaced ", "0: spaced "},
      {"other", "key", "-3:", "-3:"},      {"nope", "x", "-2:", "-3:"},
      {"sP", "A", "0:1", "0:1"},           {"tab", "t", "0:1", "0:1"},
      {"", "e", "0:empty", "0:empty"},
      {"sp", "b", "-3:", "-3:"},           {"a[b", "c", "0:ab", "0:ab"},
      {"a", "b[c", "-2:", "-3:"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Get(h, c.section, c.name), c.c) << c.section << "/" << c.name;
    EXPECT_EQ(Get(p, c.section, c.name), c.k) << c.section << "/" << c.name;
  }
  char** sections = fileprefs_list_sections(h);
  std::string all;
  for (char** s = sections; *s; ++s) all += std::string(*s) + "|";
  EXPECT_EQ(all, "Main|other|Last|Sp|Tab||sp|a[b|");
  fileprefs_list_release(sections);
  char buf[4];
  EXPECT_EQ(fileprefs_get_pref(h, "main", "name", buf, 3), -6);
  EXPECT_STREQ(buf, "Ol");
  ExpectDebug({"fileprefs_get_pref - null argument\n"}, [&] { EXPECT_EQ(fileprefs_get_pref(h, "a", "b", buf, 0), -5); });
  ExpectDebug({"KFilePrefs::Refresh() - why is this called...\n"}, [&] { EXPECT_EQ(p->Refresh(), 0); });
  EXPECT_EQ(KFilePrefs::gPrefsMgr.GetPref("a", "b", buf, 4), 1);
  fileprefs_close(h);
}

TEST_F(FilePrefsTest, KFilePrefsSkipsSameValueAndKeepsLongValuesOut) {
  const std::string path = Put("k.ini", "[S]\nk=v\n");
  KFilePrefs* p = KFilePrefs::GetKFilePrefs(path.c_str());
  Put("k.ini", "changed elsewhere\n");
  EXPECT_EQ(p->AddPref("s", "K", "v"), 0);
  EXPECT_EQ(Read(path), "changed elsewhere\n");
  const std::string longest(10239, 'x');
  EXPECT_EQ(p->AddPref("S", "long", longest.c_str()), 0);
  EXPECT_EQ(p->AddPref("S", "longer", (longest + "x").c_str()), 0);
  long n = 0;
  EXPECT_EQ(p->GetPrefLength("s", "long", &n), 0);
  EXPECT_EQ(n, 10239);
  EXPECT_EQ(p->GetPrefLength("s", "longer", &n), -3);
  EXPECT_EQ(p->DelPref("s", "longer"), 0);  // not seen, so not removed
  EXPECT_EQ(KFilePrefs::CreateKFilePrefs(path.c_str()), 0);
  EXPECT_EQ(Get(p, "S", "k"), "-3:");
  EXPECT_EQ(Read(path), "");
}

TEST_F(FilePrefsTest, RewriteKeepsModeAndLinkAndRemovesDeadTemporaries) {
  const std::string target = Put("t.ini", "[S]\n");
  chmod(target.c_str(), 0640);
  fs::create_symlink("t.ini", fDir + "link.ini");
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string prefix = port::ReplaceTempPrefix("t.ini");
  Put(prefix + std::to_string(dead) + ".0", "dead");
  Put(prefix + "1.0", "alive");  // pid 1 always exists
  void* h = fileprefs_open((fDir + "link.ini").c_str());
  EXPECT_EQ(fileprefs_add_pref(h, "S", "k", "v"), 0);
  fileprefs_close(h);
  EXPECT_TRUE(fs::is_symlink(fDir + "link.ini"));
  EXPECT_EQ(Read(target), "[S]\nk=v\n");
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
  std::string left;
  for (const auto& e : fs::directory_iterator(fDir)) left += e.path().filename().string() + " ";
  EXPECT_EQ(left.find(prefix + std::to_string(dead)), std::string::npos);
  EXPECT_NE(left.find(prefix + "1.0"), std::string::npos);
}

TEST_F(FilePrefsTest, UnwritableDirectoryFallsBackToInPlace) {
  const std::string path = Put("w.ini", "[S]\n");
  chmod(fDir.c_str(), 0555);
  chmod(path.c_str(), 0666);
  EXPECT_EQ(AsUser(kNobody, {kNobody}, [&](Transcript& t) {
              DebugCapture capture;
              void* h = fileprefs_open(path.c_str());
              long r = fileprefs_add_pref(h, "S", "k", "v");
              t.Line(r, " ", capture.All());
            }),
            "0 fileprefs_add_pref - directory not writable, rewrote in place: " + path + "\n\n");
  EXPECT_EQ(Read(path), "[S]\nk=v\n");
  chmod(fDir.c_str(), 0700);
}

// A FIFO would block in open; one with a writer would block the read. Only
// regular files are read or written.
TEST_F(FilePrefsTest, OnlyRegularFilesAreReadOrWritten) {
  const std::string fifo = fDir + "fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ExpectDebug({"fileprefs_open - could not read file: " + fifo + " (Invalid argument)\n"},
              [&] { EXPECT_EQ(fileprefs_open(fifo.c_str()), nullptr); });
  ExpectDebug({"fileprefs_create - could not write file: " + fifo + " (Invalid argument)\n"},
              [&] { EXPECT_EQ(fileprefs_create(fifo.c_str()), -1); });
  EXPECT_TRUE(fs::is_fifo(fifo));
}

// A file held by a writer that lets nobody read (a copy's destination) is
// not read half written.
TEST_F(FilePrefsTest, FileHeldByAWriterIsNotRead) {
  const std::string path = Put("held.ini", "[S]\n");
  std::FILE* writer = c_pc_fopen(path.c_str(), "wb");
  ASSERT_NE(writer, nullptr);
  ExpectDebug({"fileprefs_open - could not read file: " + path + " (Device or resource busy)\n"},
              [&] { EXPECT_EQ(fileprefs_open(path.c_str()), nullptr); });
  std::fclose(writer);
}

// A writable folder does not make a read-only file writable: the file, and
// what the handle answers, stay as they were.
TEST_F(FilePrefsTest, ReadOnlyFileIsLeftWhole) {
  const std::string path = Put("ro.ini", "[S]\nk=old\n");
  chmod(fDir.c_str(), 0777);
  // As root, a file of the user's own; anyone else owns it already.
  [[maybe_unused]] int mine = chown(path.c_str(), kNobody, kNobody);
  chmod(path.c_str(), 0444);
  EXPECT_EQ(AsUser(kNobody, {kNobody}, [&](Transcript& t) {
              DebugCapture capture;
              void* h = fileprefs_open(path.c_str());
              const long r = fileprefs_add_pref(h, "S", "k", "new");
              t.Line(r, " ", Get(h, "S", "k"));
              t.Line(fileprefs_create(path.c_str()));
              t.Line(capture.All());
              fileprefs_close(h);
            }),
            "-1 0:old\n-1\nfileprefs_add_pref - could not write file: " + path + " (Permission denied)\n" +
                "fileprefs_create - could not write file: " + path + " (Permission denied)\n\n");
  EXPECT_EQ(Read(path), "[S]\nk=old\n");
}

// An edit keeps the file's owner, group, mode and other names: the temporary
// gets them before it is renamed, or, where the editor cannot give them or
// the file has other links, the file is rewritten in place.
TEST_F(FilePrefsTest, EditKeepsOwnerGroupModeAndLinks) {
  if (geteuid() != 0) GTEST_SKIP() << "files of other users need root";
  chmod(fDir.c_str(), 0777);
  const struct {
    const char* name;
    uid_t editor;
    std::vector<gid_t> groups;
    bool link;
    const char* debug;  // before the path
    bool sameFile;
  } rows[] = {
      {"member.ini", 1001, {1001, 2000}, false,
       "owner, group or mode cannot be kept, rewrote in place: ", true},
      {"root.ini", 0, {0}, false, nullptr, false},
      {"linked.ini", 0, {0}, true, "file has other links, rewrote in place: ", true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string path = Put(r.name, "[S]\n"), other = fDir + "other-" + r.name;
    ASSERT_EQ(chown(path.c_str(), 1000, 2000), 0);
    ASSERT_EQ(chmod(path.c_str(), 0664), 0);
    if (r.link) fs::create_hard_link(path, other);
    struct stat before, after;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    EXPECT_EQ(AsUser(r.editor, r.groups, [&](Transcript& t) {
                DebugCapture capture;
                void* h = fileprefs_open(path.c_str());
                const long result = fileprefs_add_pref(h, "S", "k", "v");
                t.Line(result, " ", capture.All());
                fileprefs_close(h);
              }),
              r.debug ? "0 fileprefs_add_pref - " + std::string(r.debug) + path + "\n\n" : "0 \n");
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, 1000u);
    EXPECT_EQ(after.st_gid, 2000u);
    EXPECT_EQ(after.st_mode & 07777, 0664u);
    EXPECT_EQ(after.st_ino == before.st_ino, r.sameFile);
    EXPECT_EQ(Read(path), "[S]\nk=v\n");
    if (r.link) {
      EXPECT_EQ(Read(other), "[S]\nk=v\n");
    }
  }
}

// Random edits against a std::map of lowered keys; the file read again
// must give the same answers.
TEST_F(FilePrefsTest, RandomEditsMatchAMapModel) {
  const std::string path = Put("m.ini", "");
  std::mt19937 rng(std::random_device{}());
  SCOPED_TRACE(rng());
  const auto pick = [&](const char* choices) {
    std::string s(1, choices[rng() % std::strlen(choices)]);
    return rng() % 2 ? s : std::string(1, static_cast<char>(std::toupper(s[0])));
  };
  std::map<std::string, std::string> model;
  void* h = fileprefs_open(path.c_str());
  for (int i = 0; i < 400; ++i) {
    std::string section = pick("abcd"), name = pick("xyz"), value = std::to_string(rng() % 100) + "= [v]";
    std::string key = std::string(1, static_cast<char>(std::tolower(section[0]))) + static_cast<char>(std::tolower(name[0]));
    if (rng() % 3 == 0) {
      long r = fileprefs_del_pref(h, section.c_str(), name.c_str());
      EXPECT_EQ(r == 0, model.erase(key) == 1);
    } else {
      EXPECT_EQ(fileprefs_add_pref(h, section.c_str(), name.c_str(), value.c_str()), 0);
      model[key] = value;
    }
  }
  fileprefs_close(h);
  h = fileprefs_open(path.c_str());
  for (const char* s : {"a", "b", "c", "d"}) {
    for (const char* n : {"x", "y", "z"}) {
      auto it = model.find(std::string(s) + n);
      char buf[64];
      long r = fileprefs_get_pref(h, s, n, buf, sizeof buf);
      EXPECT_EQ(r == 0 ? std::string(buf) : "-", it == model.end() ? "-" : it->second) << s << n;
    }
  }
  fileprefs_close(h);
}

TEST_F(FilePrefsTest, NoMemoryGivesAResultAndKeepsTheFileWhole) {
  const std::string path = Put("n.ini", "[S]\nk=old\n");
  for (long n = 1;; ++n) {
    void* h = fileprefs_open(path.c_str());
    DebugCapture capture;
    failing_new::FailNth(n);
    long r = fileprefs_add_pref(h, "T", "k", "new");
    const bool fired = failing_new::Fired();
    failing_new::FailNth(0);
    fileprefs_close(h);
    if (!fired) break;
    if (r != 0) {
      EXPECT_EQ(r, -1);
      EXPECT_EQ(capture.All(), "fileprefs_add_pref - out of memory\n");
      EXPECT_EQ(Read(path), "[S]\nk=old\n");
    }
    Put("n.ini", "[S]\nk=old\n");
  }
}

TEST_F(FilePrefsTest, ConfigSources) {
  Put("c.ini", "[SOFTWARE\\Vendor\\App]\nhome=/srv\nbig=" + std::string(1024, 'x') + "\n");
  setenv("VXKERNEL_CONFIGDATA", (fDir + "c.ini").c_str(), 1);
  KConfigData data("software\\vendor");
  data.AppendKey("APP");
  KString out;
  EXPECT_TRUE(data.Get("HOME", out, "def"));
  EXPECT_STREQ(out, "/srv");
  EXPECT_FALSE(data.Get("big", out, "def"));
  EXPECT_STREQ(out, "def");
  EXPECT_FALSE(data.Exists("none"));
  unsetenv("VXKERNEL_CONFIGDATA");
  auto* first = new KConfigFile("x/../a.ini");
  KConfigFile second("b.ini");
  EXPECT_EQ(KConfigFile::TheConfigFile(), first);
  std::string cwd;
  port::ProcessCurrentDirectory(&cwd);
  EXPECT_EQ(std::string(first->FilePath()), cwd + "/a.ini");
  delete first;
  EXPECT_EQ(KConfigFile::TheConfigFile(), nullptr);
  KConfigFile third("c.ini");
  EXPECT_EQ(KConfigFile::TheConfigFile(), &third);
}
