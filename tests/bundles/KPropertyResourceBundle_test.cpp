#include "vxkernel/bundles/KPropertyResourceBundle.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "locale/intl_internal.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/temp_dir.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/err.h"

namespace {

using Bundle = KPropertyResourceBundle;

const Bundle* Get(const TempDir& d, const char* locale, const char* base = "err") {
  return Bundle::GetResourceBundle(base, KLocale(locale), d.Path().c_str());
}

// The files of the chain, most specific first; stops after 8 (a loop).
std::string Chain(const Bundle* b) {
  std::string s;
  for (int n = 0; b != nullptr && n < 8; b = b->Parent(), ++n)
    s += std::string(n ? " " : "") + static_cast<const char*>(b->File().ShortName()) +
         static_cast<const char*>(b->Locale().ResourceSuffix());
  return b == nullptr ? s : s + " ...";
}

TEST(KPropertyResourceBundle, ChainsAlongTheLocaleThenTheDefaultLocale) {
  struct Case {
    std::vector<const char*> files;
    const char* locale;
    const char* defaultLocale;
    const char* chain;  // each file's short name followed by its locale's suffix
  } cases[] = {
      {{"err", "err_fr"}, "fr_FR", "de_DE", "err_fr_fr err"},  // default pass meets err: no loop
      {{"err", "err_en"}, "ja_JP", "en_US", "err err_en_en"},
      {{"err", "err_en_US"}, "en_US", "en_US", "err_en_US_en_US err"},  // no default pass
      {{"err_de"}, "de_DE_X", "fr", "err_de_de"},
  };
  for (const Case& c : cases) {
    TempDir d;
    for (const char* f : c.files) d.Write(std::string(f) + ".properties", std::string("k=") + f);
    KIntl::DefaultLocale(c.defaultLocale);
    const Bundle* b = Get(d, c.locale);
    EXPECT_EQ(Chain(b), c.chain) << c.locale;
    EXPECT_EQ(Get(d, c.locale), b);
  }
}

TEST(KPropertyResourceBundle, NullIsRememberedButDoesNotCutALaterChain) {
  TempDir d;
  KIntl::DefaultLocale("de_DE");
  EXPECT_EQ(Get(d, "fr"), nullptr);
  d.Write("err_fr.properties", "a=1");
  EXPECT_EQ(Get(d, "fr"), nullptr);  // from the cache
  d.Write("err_fr_FR.properties", "a=2");
  d.Write("err.properties", "b=3");
  const Bundle* b = Get(d, "fr_FR");
  EXPECT_EQ(Chain(b), "err_fr_FR_fr_FR err");
  KString v;
  ASSERT_TRUE(b->GetString("b", v));
  EXPECT_EQ(std::string(v), "3");
  EXPECT_FALSE(b->GetString("c", v));
}

TEST(KPropertyResourceBundle, ABadFileIsReportedAndSkipped) {
  TempDir d;
  d.Write("e_fr.properties", "x=\\u00zz\n");
  d.Write("e.properties", "x=1\n");
  KIntl::DefaultLocale("de_DE");
  ExpectDebug(
      {"KPropertiesLine::ProcessCompleteLine - failed to process line with value: \\u00zz\n",
       "KPropertyResourceBundle::Populate - failed to load properties file: " + d.Path() +
           "e_fr.properties (5)\n"},
      [&] { EXPECT_EQ(Chain(Get(d, "fr", "e")), "e"); });
}

// The registry lock is held while a file opens: a FIFO must not block the
// open, and neither it nor a directory may become a bundle.
TEST(KPropertyResourceBundle, OnlyRegularFilesAreRead) {
  TempDir d;
  d.Write("e.properties", "x=1\n");
  std::filesystem::create_directory(d / "e_de.properties");
  const std::string fifo = d / "e_fr.properties";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A writer that opens as soon as a reader does, so an open that waits for
  // one still returns (and reads an empty file) instead of hanging the test.
  std::thread writer([&] {
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd >= 0) close(fd);
  });
  KIntl::DefaultLocale("de");
  ExpectDebug({"KPropertyResourceBundle::Populate - failed to open properties file: " + fifo + "\n",
               "KPropertyResourceBundle::Populate - failed to open properties file: " + d.Path() +
                   "e_de.properties\n"},
              [&] { EXPECT_EQ(Chain(Get(d, "fr", "e")), "e"); });
  const int release = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // for a writer still waiting
  writer.join();
  close(release);
}

// A copy owns a copy of the properties and shares the parent, which the
// registry keeps; a copy of the registry object is no second registry. Run
// under AddressSanitizer, anything released twice or never shows.
TEST(KPropertyResourceBundle, CopiesOwnTheirPropertiesAndShareTheParent) {
  TempDir d;
  d.Write("c.properties", "a=base");
  d.Write("c_fr.properties", "b=fr");
  KIntl::DefaultLocale("fr");
  const Bundle* b = Get(d, "fr", "c");
  ASSERT_EQ(Chain(b), "c_fr_fr c");
  KString v;
  {
    Bundle copy(*b);
    EXPECT_NE(&copy.Properties(), &b->Properties());
    EXPECT_EQ(copy.Parent(), b->Parent());
    Bundle assigned(*b->Parent());
    assigned = copy;
    EXPECT_TRUE(assigned.GetString("b", v));
    Bundle registry(Bundle::gPropertyResourceMgr);
  }
  EXPECT_TRUE(b->GetString("a", v));
  EXPECT_EQ(Get(d, "fr", "c"), b);
}

TEST(KPropertyResourceBundle, ThreadsShareOneLoadOfEachFile) {
  TempDir d;
  d.Write("t.properties", "a=1");
  d.Write("t_fr.properties", "b=2");
  KIntl::DefaultLocale("fr");
  vxk_internal::IntlSetDebugLevel(3);
  DebugCapture capture;
  std::vector<const Bundle*> got(16);
  std::vector<std::thread> threads;
  for (auto& g : got) threads.emplace_back([&] { g = Get(d, "fr_FR", "t"); });
  for (auto& t : threads) t.join();
  vxk_internal::IntlSetDebugLevel(0);
  for (auto* g : got) EXPECT_EQ(g, got[0]);
  EXPECT_EQ(Chain(got[0]), "t_fr_fr t");
  EXPECT_EQ(capture.Texts().size(), 2u) << capture.All();  // one "new ... bundle" line per file
}

// err_properties_path is chosen once per process: the catalogue cases run in a child.
TEST(KPropertyResourceBundle, CatalogueFilesAndDateNames) {
  EXPECT_EQ(ChildTranscript([](Transcript& t) {
              TempDir d, other;
              std::filesystem::create_directory(d / "res");
              d.Write("res/16100_fr.properties", "1055129620=mars\n1055129633=mrs\n");
              d.Write("res/-32767.properties", "-2147418102=big");
              d.Write("res/7_en_US.properties", "k=fallback");
              d.Write("res/8_fr.properties", "k=stand-in");
              err_properties_path_set(d.Path().c_str());
              KAt::ProcessStartup(1);
              KLocale::CurrentLocale("fr_FR");
              KIntl::DefaultLocale("de_FR");
              KString v;
              for (const char* base : {"7", "8"}) {
                const Bundle* b =
                    Bundle::GetResourceBundle(base, KLocale("fr_FR"), other.Path().c_str());
                const bool found = b->GetString("k", v);
                t.Line(Chain(b), " ", b->KeyPath() == (other.Path() + base + ".properties").c_str(),
                       " ", found, v);
              }
              t.Line(err_get_msg(0x3EE40014), err_get_msg(0x8001000AL), err_get_msg(0x3EE40015));
              KDateTime m;
              m.SetDate(2009, 3, 7);
              t.Line(m.FullMonth());
              const char* texts[] = {"7 mars 2009", "7 March 2009", "7 MRS 2009", "7 FEB 2009"};
              for (int i = 0; i < 4; ++i) {
                const bool parsed = m.crkftime(texts[i], i < 2 ? "%d %B %Y" : "%d %b %Y");
                t.Line(parsed, m.Month());
              }
              KLocale::CurrentLocale("de_FR");  // same answer slot as fr_FR, not the same answer
              t.Line("[", err_get_msg(0x3EE40014), "]");
            }),
            // "March" is no name here: the catalogue names March "mars".
            "7_en_US_en_US 1 1fallback\n8_fr_fr 0 1stand-in\nmarsbig\nmars\n13\n03\n13\n12\n[]\n");
}

}  // namespace
