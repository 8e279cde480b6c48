// The process-wide text settings: each setting on its own, the text mode and
// code pages they select, start-up from preferences or the system language.
#include "vxkernel/locale/KIntl.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <string>

#include "text/text_settings.h"
#include "locale/intl_internal.h"
#include "support/child_process.h"
#include "support/debug_capture.h"

namespace {

using vxk_internal::IntlLangPrefs;
using vxk_internal::TextMode;

class KIntlTest : public ::testing::Test {
 protected:
  void SetUp() override { vxk_internal::IntlResetForTesting(); }
  void TearDown() override { vxk_internal::IntlResetForTesting(); }

  // Runs start-up as on a system whose primary language is `system`.
  std::string SysInit(const IntlLangPrefs* prefs, int system = 0x09) {
    DebugCapture capture;
    vxk_internal::IntlSysInitializeWithLanguage(prefs, system);
    std::string lines;
    for (const std::string& t : capture.Texts()) lines += t + "\n";
    return lines;
  }

  // A compact picture of every scalar setting.
  static std::string Settings() {
    return "lang=" + std::to_string(KIntl::Language()) +
           " enc=" + std::to_string(KIntl::Encoding()) +
           " mb=" + std::to_string(KIntl::MultiByte()) +
           " intl=" + std::to_string(KIntl::IntlStrings()) +
           " cs=" + std::to_string(KIntl::FontCharSet());
  }
};

TEST_F(KIntlTest, StartsEnglishSingleByteWithEnUsAndZeroTables) {
  EXPECT_EQ(Settings(), "lang=0 enc=0 mb=0 intl=0 cs=0");
  EXPECT_TRUE(KIntl::English());
  EXPECT_TRUE(KIntl::NotEncoded());
  EXPECT_EQ(KIntl::Debug(), 0);
  EXPECT_STREQ(KIntl::DefaultLocaleResourceSuffix(), "_en_US");
  EXPECT_EQ(KIntl::ToUpper('a'), 0);  // the mode these flags give is in the table below
}

// Every setting lives in the same word: each setter must leave the others
// exactly as they were, including at the extreme values of its neighbours.
TEST_F(KIntlTest, EachSetterChangesOnlyItsOwnSetting) {
  KIntl::FontCharSet(0xFF);
  KIntl::Language(KIntl::kUnicode);
  KIntl::Encoding(KIntl::kUTF8);
  KIntl::MultiByte(true);
  KIntl::IntlStrings(true);
  EXPECT_EQ(Settings(), "lang=3 enc=1 mb=1 intl=1 cs=255");
  EXPECT_TRUE(KIntl::Unicode());
  EXPECT_TRUE(KIntl::Utf8());

  KIntl::Language(KIntl::kKorean);
  EXPECT_EQ(Settings(), "lang=2 enc=1 mb=1 intl=1 cs=255");
  EXPECT_TRUE(KIntl::Korean() && !KIntl::Japanese() && !KIntl::English() && !KIntl::Unicode());
  KIntl::Encoding(KIntl::kNotEncoded);
  EXPECT_EQ(Settings(), "lang=2 enc=0 mb=1 intl=1 cs=255");
  KIntl::MultiByte(false);
  EXPECT_EQ(Settings(), "lang=2 enc=0 mb=0 intl=1 cs=255");
  KIntl::IntlStrings(false);
  EXPECT_EQ(Settings(), "lang=2 enc=0 mb=0 intl=0 cs=255");
  KIntl::FontCharSet(0x80);
  EXPECT_EQ(Settings(), "lang=2 enc=0 mb=0 intl=0 cs=128");
  KIntl::Language(KIntl::kJapanese);
  EXPECT_EQ(Settings(), "lang=1 enc=0 mb=0 intl=0 cs=128");
}

// The two flags are independent; UTF-8 wins over multi-byte.
TEST_F(KIntlTest, TextModeAndCodePagesFollowTheFlags) {
  struct Case {
    KIntl::kLanguage lang;
    bool multiByte;
    KIntl::kEncoding enc;
    TextMode mode;
    unsigned activeCp;
    unsigned dbcsCp;
  } cases[] = {
      {KIntl::kEnglish, false, KIntl::kNotEncoded, TextMode::kSingleByte, 1252, 932},
      {KIntl::kEnglish, true, KIntl::kNotEncoded, TextMode::kDoubleByte, 1252, 932},
      {KIntl::kJapanese, true, KIntl::kNotEncoded, TextMode::kDoubleByte, 932, 932},
      {KIntl::kJapanese, false, KIntl::kNotEncoded, TextMode::kSingleByte, 932, 932},
      {KIntl::kKorean, true, KIntl::kNotEncoded, TextMode::kDoubleByte, 949, 949},
      {KIntl::kKorean, true, KIntl::kUTF8, TextMode::kUtf8, 65001, 949},
      {KIntl::kUnicode, false, KIntl::kUTF8, TextMode::kUtf8, 65001, 932},
  };
  for (const Case& c : cases) {
    KIntl::Language(c.lang);
    KIntl::MultiByte(c.multiByte);
    KIntl::Encoding(c.enc);
    SCOPED_TRACE(Settings());
    EXPECT_EQ(vxk_internal::CurrentTextMode(), c.mode);
    EXPECT_EQ(vxk_internal::ActiveCodePage(), c.activeCp);
    EXPECT_EQ(vxk_internal::DbcsCodePage(), c.dbcsCp);
  }
}

// Oracle: iconv reports a lone lead byte as an incomplete sequence (EINVAL).
// glibc's CP949 rejects the two user-defined rows 0xC9 and 0xFE outright,
// although the code page reserves them as lead bytes.
TEST(CodePageTest, LeadBytesMatchIconv) {
  for (unsigned cp : {932u, 949u}) {
    std::string name = "CP" + std::to_string(cp);
    for (int b = 0; b < 256; ++b) {
      iconv_t cd = iconv_open("UTF-8", name.c_str());
      if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv lacks " << name;
      char in[1] = {static_cast<char>(b)};
      char out[8];
      char* ip = in;
      char* op = out;
      size_t il = 1, ol = sizeof out;
      bool incomplete = iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) && errno == EINVAL;
      iconv_close(cd);
      if (cp == 949 && (b == 0xC9 || b == 0xFE)) incomplete = true;
      EXPECT_EQ(vxk_internal::IsDBCSLeadByte(cp, static_cast<unsigned char>(b)), incomplete)
          << name << " byte " << b;
    }
  }
  for (int b = 0; b < 256; ++b) {
    EXPECT_FALSE(vxk_internal::IsDBCSLeadByte(1252, static_cast<unsigned char>(b)));
    EXPECT_FALSE(vxk_internal::IsDBCSLeadByte(65001, static_cast<unsigned char>(b)));
  }
}

TEST_F(KIntlTest, DefaultLocaleBySuffixAndByComponents) {
  KIntl::DefaultLocale("de-de-EURO");
  EXPECT_STREQ(KIntl::DefaultLocaleResourceSuffix(), "_de_DE_EURO");
  KIntl::DefaultLocale("__");  // nothing but separators: unchanged
  EXPECT_STREQ(KIntl::DefaultLocaleResourceSuffix(), "_de_DE_EURO");
  KIntl::DefaultLocale(nullptr);
  EXPECT_STREQ(KIntl::DefaultLocaleResourceSuffix(), "_de_DE_EURO");
  KIntl::DefaultLocale("JA", "jp", nullptr);
  EXPECT_STREQ(KIntl::DefaultLocaleResourceSuffix(), "_ja_JP");
  KIntl::DefaultLocale(nullptr, "US", "X");
  EXPECT_STREQ(KIntl::DefaultLocaleResourceSuffix(), "");
}

TEST_F(KIntlTest, NoPreferencesOnAJapaneseSystem) {
  std::string lines = SysInit(nullptr, 0x0411);  // primary language in the low 10 bits
  EXPECT_EQ(Settings(), "lang=1 enc=0 mb=1 intl=1 cs=128");
  EXPECT_EQ(lines,
            "KIntl::SysInitialize - native language = Japanese\n"
            "KIntl::SysInitialize - MultiByte set to TRUE\n"
            "KIntl::SysInitialize - Encoding set to 0\n"
            "KIntl::SysInitialize - IntlStrings set to TRUE\n");
}

TEST_F(KIntlTest, NoPreferencesOnKoreanAndOtherSystems) {
  SysInit(nullptr, 0x12);
  EXPECT_EQ(Settings(), "lang=2 enc=0 mb=1 intl=1 cs=129");
  // An English system puts everything back, language and character set too.
  std::string lines = SysInit(nullptr, 0x07);
  EXPECT_EQ(Settings(), "lang=0 enc=0 mb=0 intl=0 cs=0");
  EXPECT_EQ(lines.substr(0, lines.find('\n')),
            "KIntl::SysInitialize - default native language = English");
}

TEST_F(KIntlTest, PreferencesOverrideInReadingOrder) {
  IntlLangPrefs prefs;
  prefs.encoding = "utf-8";
  SysInit(&prefs, 0x11);  // a key present stops detection
  EXPECT_EQ(Settings(), "lang=0 enc=1 mb=0 intl=0 cs=0");

  // Korean sets the flags, the later keys override them.
  prefs = IntlLangPrefs();
  prefs.language = "Korean";
  prefs.multiByte = "false";
  prefs.encoding = "UTF8";
  std::string lines = SysInit(&prefs);
  EXPECT_EQ(Settings(), "lang=2 enc=1 mb=0 intl=1 cs=129");
  EXPECT_EQ(lines,
            "KIntl::SysInitialize - language = Korean\n"
            "KIntl::SysInitialize - MultiByte set to FALSE\n"
            "KIntl::SysInitialize - Encoding set to 1\n"
            "KIntl::SysInitialize - IntlStrings set to TRUE\n");

  prefs = IntlLangPrefs();
  prefs.intlStrings = "TrUe";
  prefs.multiByte = "yes";  // only "TRUE" in any case enables
  prefs.encoding = "UTF-16";
  SysInit(&prefs, 0x11);
  EXPECT_EQ(Settings(), "lang=2 enc=0 mb=0 intl=1 cs=129");  // language untouched
}

TEST_F(KIntlTest, UnknownLanguageValueKeepsDetectionOn) {
  IntlLangPrefs prefs;
  prefs.language = "japanese";  // exact case only
  std::string lines = SysInit(&prefs, 0x12);
  EXPECT_TRUE(KIntl::Korean());
  EXPECT_EQ(lines.substr(0, lines.find('\n')), "KIntl::SysInitialize - language = japanese");
  EXPECT_NE(lines.find("native language = Korean"), std::string::npos);
}

TEST_F(KIntlTest, StartUpFillsTheCaseTables) {
  SysInit(nullptr);
  for (int c = 0; c < 256; ++c) EXPECT_EQ(KIntl::fCharTable[c], c);
  EXPECT_EQ(KIntl::ToUpper(0x100 + 'q'), 'Q');  // the low byte is the index
  EXPECT_EQ(KIntl::ToLower('Q'), 'q');
  EXPECT_EQ(KIntl::ToUpper(-1), 0xFF);  // "C" locale: high bytes unchanged
}

// The environment is process-global: each system runs in a child.
TEST(KIntlSystemLanguage, ReadFromTheLocaleEnvironment) {
  struct Case {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    const char* expected;
  } cases[] = {
      {nullptr, nullptr, "ja_JP.UTF-8", "1"},
      {nullptr, nullptr, "ko_KR.eucKR", "2"},
      {"", "ko_KR", "ja_JP", "2"},       // empty variables do not count
      {"en_US", "ja_JP", "ja_JP", "0"},  // LC_ALL first
      {nullptr, nullptr, nullptr, "0"},
      {nullptr, nullptr, "jazz", "1"},  // the prefix decides
  };
  for (const Case& c : cases) {
    ChildResult r = RunInChild([&](std::string& out) {
      auto put = [](const char* name, const char* v) {
        if (v == nullptr)
          unsetenv(name);
        else
          setenv(name, v, 1);
      };
      put("LC_ALL", c.lcAll);
      put("LC_MESSAGES", c.lcMessages);
      put("LANG", c.lang);
      vxk_internal::IntlSysInitialize(nullptr);
      out = std::to_string(KIntl::Language());
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, c.expected) << (c.lang ? c.lang : "(no LANG)");
  }
}

}  // namespace
