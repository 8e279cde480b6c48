// libFuzzer target for preference files.
//
// The input is a preference file. Checked: any input loads; KFilePrefs's
// lookup map answers every listed section and name as the C interface does;
// after one value is set, reading the file again gives every other value
// as before.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "vxkernel/files/KFilePrefs.h"
#include "vxkernel/files/fileprefs.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The file every input is written to, in a folder removed at exit.
struct Scratch {
  Scratch() {
    char name[] = "/tmp/vxk_prefs_fuzz_XXXXXX";
    Check(mkdtemp(name) != nullptr);
    dir = name;
    path = dir + "/fuzz.ini";
  }
  ~Scratch() {
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
  std::string dir, path;
};

const std::string& FilePath() {
  static Scratch scratch;
  return scratch.path;
}

using Answers = std::map<std::pair<std::string, std::string>, std::pair<long, std::string>>;

// Every listed section and value name with the C interface's answer.
Answers Read(void* h, size_t size) {
  Answers out;
  std::vector<char> buf(size + 16);  // room for every value and "set"
  char** sections = fileprefs_list_sections(h);
  Check(sections != nullptr);
  for (char** s = sections; *s != nullptr; ++s) {
    char** names = fileprefs_list_values(h, *s);
    if (names == nullptr) continue;  // a name with a NUL byte, cut short in the list
    for (char** n = names; *n != nullptr; ++n) {
      buf[0] = '\0';
      long r = fileprefs_get_pref(h, *s, *n, buf.data(), buf.size());
      out[{*s, *n}] = {r, buf.data()};
    }
    fileprefs_list_release(names);
  }
  fileprefs_list_release(sections);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = FilePath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  Check(f != nullptr && std::fwrite(data, 1, size, f) == size && std::fclose(f) == 0);

  void* h = fileprefs_open(path.c_str());
  Check(h != nullptr);
  const Answers before = Read(h, size);

  // The map holds what a read into 10240 bytes gets whole.
  KFilePrefs* p = KFilePrefs::GetKFilePrefs(path.c_str());
  Check(p != nullptr && p->Refresh() == 0);
  std::vector<char> buf(size + 16), whole(10240);
  for (const auto& [key, answer] : before) {
    const char* s = key.first.c_str();
    const char* n = key.second.c_str();
    long r = p->GetPref(s, n, buf.data(), static_cast<long>(buf.size()));
    if (fileprefs_get_pref(h, s, n, whole.data(), whole.size()) != 0) {
      Check(r == -3);
    } else {
      // The bounded copy may drop a character cut in half at the end.
      Check(r == 0 && answer.second.compare(0, std::strlen(buf.data()), buf.data()) == 0);
    }
  }

  // Set one value: in the first section, or a new one, named from the input.
  const std::string section = before.empty() ? "fuzz" : before.begin()->first.first;
  const std::string name = "fuzz" + std::to_string(size);
  Check(fileprefs_add_pref(h, section.c_str(), name.c_str(), "set") == 0);
  fileprefs_close(h);
  h = fileprefs_open(path.c_str());
  Check(h != nullptr);
  // Every listed spelling of the section (names match without letter case)
  // now answers "set" for the name; everything else is as before.
  const auto same = [](const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  Answers after = Read(h, size), others = before;
  Check(after.count({section, name}) == 1);
  for (Answers* a : {&after, &others}) {
    for (auto it = a->begin(); it != a->end();) {
      const bool set = same(it->first.first, section) && same(it->first.second, name);
      Check(!set || a == &others || it->second == std::make_pair(0L, std::string("set")));
      it = set ? a->erase(it) : std::next(it);
    }
  }
  Check(after == others);
  fileprefs_close(h);
  return 0;
}
