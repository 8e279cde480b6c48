// Environment lookup and expansion: env_xlate and env_getenv_default against a model built
// from a regular expression on random texts, cut into buffers that end where ASan guards them;
// the profile files a host names through its resource strings.
#include "vxkernel/files/env.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <regex>
#include <string>

#include "locale/intl_internal.h"
#include "support/temp_dir.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/runtime/PcRsc.h"

// This program is the host: its strings 1 and 2 name the profile section and the private file.
extern "C" __attribute__((visibility("protected"))) const VXResource vxk_resource_table[] = {
    {"STRING", nullptr, 1, "vxtest", 6},
    {"STRING", nullptr, 2, "private.ini", 11},
    {nullptr, nullptr, 0, nullptr, 0},
};

namespace {

std::string Get(const std::string& name) {
  const char* v = getenv(name.c_str());
  return v != nullptr && name.size() <= 254 ? v : "";
}

// The expansion as one regular expression: "$$", "$(name)", "$(" with no ")" after it (the
// rest stays), "$name", a lone "$", or a run without "$".
std::string Model(const std::string& s) {
  static const std::regex token(R"(\$\$|\$\(([^)]*)\)|\$\([^)]*$|\$([A-Za-z][A-Za-z_]*)|\$|[^$]+)");
  std::string out;
  for (auto it = std::sregex_iterator(s.begin(), s.end(), token); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    if (m.str() == "$$") out += "$";
    else if (m[1].matched) out += Get(m[1]);
    else if (m[2].matched) out += Get(m[2]);
    else out += m.str();
  }
  return out;
}

// Calls f with a buffer of exactly size bytes (ASan reports a write past it).
template <class F>
std::string InBuffer(size_t size, F f) {
  std::unique_ptr<char[]> buf(new char[size]);
  f(buf.get(), size);
  return std::string(buf.get());
}

TEST(EnvXlate, MatchesTheModelOnRandomTextsInEveryBufferSize) {
  vxk_internal::IntlResetForTesting();
  setenv("A", "val", 1), setenv("B_", "", 1), setenv("AB", "$A", 1), unsetenv("Z");
  const std::string longName(255, 'L');  // one letter more than a name may have
  setenv("N2", "digits", 1), setenv(longName.c_str(), "too long", 1);
  const char* pieces[] = {"$", "(", ")", "2", "A", "B", "_", "Z", "x", " ", longName.c_str()};
  std::mt19937 rng(7);
  for (int round = 0; round < 4000; ++round) {
    std::string source;
    for (int n = static_cast<int>(rng() % 12); n > 0; --n) source += pieces[rng() % 11];
    const std::string whole = Model(source);
    const size_t size = 1 + rng() % (whole.size() + 3);
    ASSERT_EQ(InBuffer(size, [&](char* b, size_t n) { env_xlate(source.c_str(), b, n); }),
              whole.substr(0, size - 1))
        << "source \"" << source << "\" size " << size;
  }
  EXPECT_EQ(InBuffer(8, [](char* b, size_t n) { env_xlate(nullptr, b, n); }), "");
  EXPECT_EQ(env_xlate("x", nullptr, 5), nullptr);
}

// A double-byte character (Shift-JIS 0x82 0xA0) or a UTF-8 one is never cut in half.
TEST(EnvXlate, CutsAtCharacterBoundaries) {
  vxk_internal::IntlResetForTesting();
  setenv("W", "ab\x82\xa0" "c", 1);
  const auto cut = [](size_t size) {
    return InBuffer(size, [](char* b, size_t n) { env_xlate("$W", b, n); });
  };
  EXPECT_EQ(cut(4), "ab\x82");  // single-byte text: any byte may end it
  KIntl::MultiByte(true);
  EXPECT_EQ(cut(4) + "|" + cut(5), "ab|ab\x82\xa0");
  KIntl::Encoding(KIntl::kUTF8);
  setenv("W", "a\xc3\xa9", 1);
  EXPECT_EQ(cut(3) + "|" + cut(4), "a|a\xc3\xa9");
  vxk_internal::IntlResetForTesting();
}

// Setting, reading and the environment step of the lookup (no profile file exists).
TEST(EnvGetenv, PutenvGetenvAndDefaultsAsATable) {
  setenv("VXKERNEL_PROFILE", "/nonexistent/profile.ini", 1);
  struct Row {
    const char* put;
    bool ok;
    const char* name;
    const char* dflt;
    size_t size;
    const char* value;  // env_getenv_default's result
    const char* copy;   // env_getenv's, null when unset
  } rows[] = {
      {"VXE1=one", true, "VXE1", "d", 9, "one", "one"},
      {"VXE1=a=b", true, "VXE1", "d", 3, "a=", "a=b"},  // the first "=" splits; cut to 2
      {"VXE2=", true, "VXE2", "d", 9, "", ""},          // set to "": found
      {"VXE3", false, "VXE3", "dflt", 3, "df", nullptr},
      {"=x", false, "VXE4", nullptr, 9, "", nullptr},
      {"", false, nullptr, "d", 9, "d", nullptr},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(env_putenv(r.put), r.ok) << r.put;
    EXPECT_EQ(InBuffer(r.size, [&](char* b, size_t n) { env_getenv_default(r.name, r.dflt, b, n); }),
              r.value) << r.put;
    char* copy = env_getenv(r.name);
    EXPECT_EQ(copy ? std::string(copy) : "(null)", r.copy ? r.copy : "(null)") << r.put;
    free(copy);
  }
  EXPECT_FALSE(env_putenv(nullptr));
}

// The private file that string 2 names (relative to the profile, or redirected by INIFILE)
// answers before the environment; "%%%" there means not found.
TEST(EnvGetenv, TheProfileFilesComeBeforeTheEnvironment) {
  TempDir dir("vxk_env");
  setenv("VXKERNEL_PROFILE", (dir / "profile.ini").c_str(), 1);
  dir.Write("private.ini", "[VXTEST]\nKey=private\nMarked=%%%\n");
  const std::string other = dir.Write("other.ini", "[vxtest]\nKey=other\n");
  setenv("Key", "environment", 1), setenv("Marked", "environment", 1);
  const auto lookup = [](const char* name) {
    return InBuffer(32, [&](char* b, size_t n) { env_getenv_default(name, "default", b, n); });
  };
  EXPECT_EQ(lookup("Key") + "|" + lookup("Marked") + "|" + lookup("Unset"),
            "private|environment|default");
  dir.Write("profile.ini", "[vxtest]\nINIFILE=" + other + "\n");
  EXPECT_EQ(lookup("Key"), "other");
}

}  // namespace
