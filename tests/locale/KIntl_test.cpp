// The process-wide text settings: setters against a model and from many threads at once, the
// text mode and code pages they select, lead bytes against iconv, start-up settings.
#include "vxkernel/locale/KIntl.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "locale/intl_internal.h"
#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/temp_dir.h"
#include "text/text_settings.h"
#include "vxkernel/files/KConfigFile.h"
#include "vxkernel/locale/KLocale.h"
#include "vxkernel/runtime/KAt.h"

namespace {

using vxk_internal::IntlLangPrefs;

// Every scalar setting and the text mode and code pages they select, by default the current.
std::string Settings(int lang = KIntl::Language(), int enc = KIntl::Encoding(),
                     int mb = KIntl::MultiByte(), int intl = KIntl::IntlStrings(),
                     int cs = KIntl::FontCharSet(), int mode = int(vxk_internal::CurrentTextMode()),
                     int active = int(vxk_internal::ActiveCodePage()),
                     int dbcs = int(vxk_internal::DbcsCodePage())) {
  const char* modes[] = {"sbcs", "utf8", "dbcs"};
  char buf[96];
  snprintf(buf, sizeof buf, "lang=%d enc=%d mb=%d intl=%d cs=%d %s %d/%d", lang, enc, mb, intl, cs,
           modes[mode], active, dbcs);
  return buf;
}

// The settings share one word: each setter must leave the others as they were. UTF-8 wins over
// multi-byte; the active code page follows UTF-8, then the language; the double-byte one is
// Korean's or else Japanese's.
TEST(KIntlSettings, SettersChangeOnlyTheirOwnSettingAsAModelSays) {
  vxk_internal::IntlResetForTesting();
  EXPECT_EQ(Settings(), "lang=0 enc=0 mb=0 intl=0 cs=0 sbcs 1252/932");
  EXPECT_STREQ(KIntl::DefaultLocaleResourceSuffix(), "_en_US");
  KIntl::DefaultLocale("JA", "jp", nullptr);  // the suffix form: see KLocale_test
  EXPECT_STREQ(KIntl::DefaultLocaleResourceSuffix(), "_ja_JP");
  std::mt19937 rng(11);
  int m[5] = {};  // language, encoding, multi-byte, international strings, character set
  const int charSets[] = {0, 1, 0x7F, 0x80, 0x81, 0xFE, 0xFF};
  for (int step = 0; step < 3000; ++step) {
    const int which = static_cast<int>(rng() % 5);
    const int v = static_cast<int>(which == 0 ? rng() % 4 : which < 4 ? rng() % 2 : charSets[rng() % 7]);
    switch (which) {
      case 0: KIntl::Language(static_cast<KIntl::kLanguage>(v)); break;
      case 1: KIntl::Encoding(static_cast<KIntl::kEncoding>(v)); break;
      case 2: KIntl::MultiByte(v != 0); break;
      case 3: KIntl::IntlStrings(v != 0); break;
      default: KIntl::FontCharSet(static_cast<unsigned char>(v)); break;
    }
    m[which] = v;
    ASSERT_EQ(Settings(), Settings(m[0], m[1], m[2], m[3], m[4], m[1] ? 1 : m[2] ? 2 : 0,
                                   m[1] ? 65001 : m[0] == 1 ? 932 : m[0] == 2 ? 949 : 1252,
                                   m[0] == 2 ? 949 : 932))
        << "step " << step;
  }
}

// iconv reports a lone lead byte as an incomplete sequence (EINVAL); glibc's CP949 rejects
// outright the user-defined rows 0xC9 and 0xFE, which the code page reserves as lead bytes.
TEST(CodePageTest, LeadBytesMatchIconv) {
  for (unsigned cp : {932u, 949u, 1252u}) {
    const std::string name = "CP" + std::to_string(cp);
    for (int b = 0; b < 256; ++b) {
      iconv_t cd = iconv_open("UTF-8", name.c_str());
      if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv lacks " << name;
      char in[1] = {static_cast<char>(b)}, out[8], *ip = in, *op = out;
      size_t il = 1, ol = sizeof out;
      const bool incomplete = iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) && errno == EINVAL;
      iconv_close(cd);
      EXPECT_EQ(vxk_internal::IsDBCSLeadByte(cp, static_cast<unsigned char>(b)),
                incomplete || (cp == 949 && (b == 0xC9 || b == 0xFE)))
          << name << " byte " << b;
      EXPECT_FALSE(vxk_internal::IsDBCSLeadByte(65001, static_cast<unsigned char>(b)));
    }
  }
}

// Each row starts on the settings the last left. The system language decides only when no key
// is present; a key decides only its setting, an unknown language value none.
TEST(KIntlSettings, StartUpFromPreferencesOrTheSystemLanguage) {
  vxk_internal::IntlResetForTesting();
  // Preferences (language, international strings, multi-byte, encoding), the system language,
  // the settings it leaves, the report's first line.
  const std::tuple<std::optional<IntlLangPrefs>, int, const char*, const char*> cases[] = {
      {{}, 0x0411, "lang=1 enc=0 mb=1 intl=1 cs=128", "native language = Japanese"},
      {{}, 0x12, "lang=2 enc=0 mb=1 intl=1 cs=129", "native language = Korean"},
      {{}, 0x07, "lang=0 enc=0 mb=0 intl=0 cs=0", "default native language = English"},
      {IntlLangPrefs{{}, {}, {}, "utf-8"}, 0x11, "lang=0 enc=1 mb=0 intl=0 cs=0", "MultiByte"},
      {IntlLangPrefs{"Korean", {}, "false", "UTF8"}, 0x09, "lang=2 enc=1 mb=0 intl=1 cs=129",
       "language = Korean"},  // later keys override
      {IntlLangPrefs{{}, "TrUe", "yes", "UTF-16"}, 0x11, "lang=2 enc=0 mb=0 intl=1 cs=129",
       "MultiByte"},  // only "TRUE", in any case
      {IntlLangPrefs{"japanese", {}, {}, {}}, 0x11, "lang=1 enc=0 mb=1 intl=1 cs=128",
       "language = japanese"},  // exact case only
  };
  for (const auto& [prefs, system, settings, firstLine] : cases) {
    DebugCapture capture;
    vxk_internal::IntlSysInitializeWithLanguage(prefs ? &*prefs : nullptr, system);
    EXPECT_EQ(Settings().rfind(settings, 0), 0U) << Settings();
    EXPECT_EQ(capture.Texts().at(0).rfind(std::string("KIntl::SysInitialize - ") + firstLine, 0), 0U);
    if (system == 0x0411) {
      ASSERT_EQ(capture.Texts().size(), 4u);  // a line per setting
      EXPECT_EQ(capture.Texts()[1], "KIntl::SysInitialize - MultiByte set to TRUE");
    }
  }
  for (int c = 0; c < 256; ++c) EXPECT_EQ(KIntl::fCharTable[c], c);
  EXPECT_EQ(KIntl::ToUpper(0x100 + 'q'), 'Q');  // the low byte
  EXPECT_EQ(KIntl::ToLower('Q'), 'q');
  EXPECT_EQ(KIntl::ToUpper(-1), 0xFF);  // "C" locale: high bytes unchanged
}

// LC_ALL, LC_MESSAGES, LANG (null: unset), the language they give; played in a child.
TEST(KIntlSystemLanguage, ReadFromTheLocaleEnvironment) {
  const char* cases[][4] = {
      {nullptr, nullptr, "ko_KR.eucKR", "2"},
      {"", "ko_KR", "ja_JP", "2"},       // empty variables do not count
      {"en_US", "ja_JP", "ja_JP", "0"},  // LC_ALL first
      {nullptr, nullptr, nullptr, "0"},
      {nullptr, nullptr, "jazz", "1"},  // the prefix decides
  };
  std::string expected;
  for (const auto& c : cases) expected += std::string(c[3]) + "\n";
  EXPECT_EQ(ChildTranscript([&](Transcript& transcript) {
              for (const auto& c : cases) {
                const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
                for (int i = 0; i < 3; ++i) c[i] ? setenv(names[i], c[i], 1) : unsetenv(names[i]);
                vxk_internal::IntlSysInitialize(nullptr);
                transcript.Line(KIntl::Language());
              }
            }),
            expected);
}

// Start-up from a configuration file, in a child: the first KConfigFile names it; every step
// reports in order; ENV_ keys keep their spelling; a later KConfigFile is not the configuration.
TEST(KIntlInitialize, ReadsTheConfigurationFileStepByStep) {
  TempDir dir("vxk_intl");
  const std::string path =
      dir.Write("vx.ini", "[Locale]\nDefault=fr-CA\n[Lang]\nVX_ENCODING=utf-8\nVX_LC_COLLATE=no such locale\n"
                          "env_Vxk_Dir=C:\\temp\nENV_EMPTY=\nVX_LANGUAGE=Korean\n");
  const auto run = [](const std::string& configPath) {
    return ChildTranscript([&](Transcript& t) {
      KAt::ProcessStartup(true);
      KConfigFile config(configPath.c_str());
      KConfigFile later("/etc/passwd");
      DebugCapture capture;
      KIntl::Initialize(3);
      for (const std::string& line : capture.Texts()) t.Line(line);
      const char* env = getenv("Vxk_Dir");
      t.Line(Settings().substr(0, 31), " debug=", KIntl::Debug(), " env=", env ? env : "(unset)",
             " locale=", KLocale::CurrentLocale().GetResourceSuffix());
    });
  };
  EXPECT_EQ(run(path),
            "KIntl::Initialize - default Locale Suffix: _fr_CA\n"
            "KIntl::Initialize - Could not set collate Locale: no such locale\n"
            "KIntl::SysInitialize - language = Korean\n"
            "KIntl::SysInitialize - MultiByte set to TRUE\n"
            "KIntl::SysInitialize - Encoding set to 1\n"
            "KIntl::SysInitialize - IntlStrings set to TRUE\n"
            "KIntl::Initialize - added key to environment: Vxk_Dir=C:\\temp\n"
            "lang=2 enc=1 mb=1 intl=1 cs=129 debug=3 env=C:\\temp locale=_fr_CA\n");
  // A named file that cannot be read: the reader's line, then none.
  const std::string missing = run(dir / "missing.ini");
  EXPECT_EQ(missing.rfind("fileprefs_open - could not read file: " + dir / "missing.ini", 0), 0U);
  EXPECT_EQ(missing.substr(missing.find("KIntl::"), 85),
            "KIntl::Initialize - no config file\nKIntl::Initialize - default Locale Suffix: _en_US\n");
}

// A thread per setting stores round i's value and reads it back: a setter writing the whole
// word from a stale copy would hand another its old value. The text mode read meanwhile is one
// of the three; the default locale's suffix is read whole.
TEST(KIntlThreads, SettersNeverLoseEachOtherAndTheDefaultLocaleIsReadWhole) {
  vxk_internal::IntlResetForTesting();
  constexpr int kRounds = 20000;
  auto locale = [](int i) {
    i % 2 ? KIntl::DefaultLocale("ja", "JP", nullptr) : KIntl::DefaultLocale(i % 4 ? "fr" : "de-DE-EURO");
    return true;
  };
  auto suffix = [](int) {
    const std::string s = "|" + std::string(KIntl::DefaultLocaleResourceSuffix()) + "|";
    return std::string("|_en_US|_de_DE_EURO|_ja_JP|_fr|").find(s) != std::string::npos;
  };
  using Body = bool (*)(int);
  using UChar = unsigned char;
  const Body bodies[] = {
      [](int i) { KIntl::MultiByte(i & 1); return KIntl::MultiByte() == (i & 1); },
      [](int i) { KIntl::Encoding(KIntl::kEncoding(i & 1)); return KIntl::Encoding() == (i & 1); },
      [](int i) { KIntl::FontCharSet(UChar(i)); return KIntl::FontCharSet() == UChar(i); },
      [](int i) {
        KIntl::Language(KIntl::kLanguage(i & 3)), KIntl::IntlStrings(i & 2);
        return KIntl::Language() == (i & 3) && KIntl::IntlStrings() == ((i & 2) != 0);
      },
      [](int) { return vxk_internal::CurrentTextMode() <= vxk_internal::TextMode::kDoubleByte; },
      locale, suffix, locale, suffix};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (Body body : bodies)
    threads.emplace_back([&failures, body] {
      for (int i = 0; i < kRounds; ++i) failures += !body(i);
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  // The last store of each thread survives.
  EXPECT_TRUE(KIntl::MultiByte());
  EXPECT_TRUE(KIntl::Utf8());
  EXPECT_TRUE(KIntl::Unicode());
  EXPECT_TRUE(KIntl::IntlStrings());
  EXPECT_EQ(KIntl::FontCharSet(), static_cast<unsigned char>(kRounds - 1));
  vxk_internal::IntlResetForTesting();
}

}  // namespace
