// KLocale: suffix parsing and forming, simplification, equality, and the
// per-thread current locale that the thread ring creates and destroys.
#include "vxkernel/locale/KLocale.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "locale/intl_internal.h"
#include "support/child_process.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/runtime/KAt.h"

namespace {

// "language|country|variant|cached suffix"
std::string Fields(const KLocale& l) {
  return std::string(l.Language()) + "|" + std::string(l.Country()) + "|" +
         std::string(l.Variant()) + "|" + std::string(l.GetResourceSuffix());
}

TEST(KLocaleSuffix, ParsedFromText) {
  struct Case {
    const char* text;
    const char* fields;
  } cases[] = {
      {"en-us", "en|us||_en_US"},
      {"_fr", "fr|||_fr"},
      {"en_US", "en|US||_en_US"},
      {"DE_de_EURO", "DE|de|EURO|_de_DE_EURO"},
      {"es_ES_Traditional_WIN",
       "es|ES|Traditional_WIN|_es_ES_Traditional_WIN"},  // rest is the variant
      {"zh-Hant-TW-x", "zh|Hant|TW-x|_zh_HANT_TW-x"},
      {"pt_BR-x", "pt|BR-x||_pt_BR-X"},  // "_" occurs, so "-" is text
      {"__en__US", "en||US|_en"},        // only leading separators skip
      {"en_", "en|||_en"},
      {"", "|||"},
      {"_", "|||"},
      {"---", "|||"},
      {"ja", "ja|||_ja"},
  };
  for (const Case& c : cases) EXPECT_EQ(Fields(KLocale(c.text)), c.fields) << "'" << c.text << "'";
  EXPECT_EQ(Fields(KLocale(static_cast<const char*>(nullptr))), "|||");
}

TEST(KLocaleSuffix, FormedFromComponents) {
  EXPECT_EQ(Fields(KLocale("en", "", "X")), "en||X|_en");  // no country: no variant
  EXPECT_EQ(Fields(KLocale("DE", "de", "EURO")), "DE|de|EURO|_de_DE_EURO");
  EXPECT_EQ(Fields(KLocale(nullptr, "US", nullptr)), "|US||");
  EXPECT_EQ(Fields(KLocale("\xC3\x89N", "us", nullptr)),
            "\xC3\x89N|us||_\xC3\x89n_US");  // ASCII folding only
}

TEST(KLocaleSuffix, UnusableTextLeavesTheLocaleUnchanged) {
  KLocale l("en", "GB", nullptr);
  l.SetBySuffix("_-_");  // "_" is the separator; "-" is text
  EXPECT_EQ(Fields(l), "-|||_-");
  KLocale m("en", "GB", nullptr);
  m.SetBySuffix("___");
  m.SetBySuffix(nullptr);
  EXPECT_EQ(Fields(m), "en|GB||_en_GB");
}

TEST(KLocaleSuffix, ChangingAComponentClearsTheCache) {
  KLocale l("en_US");
  l.Country("gb");
  EXPECT_EQ(Fields(l), "en|gb||");
  EXPECT_STREQ(l.ResourceSuffix(), "_en_GB");  // computed, not cached
  EXPECT_STREQ(l.GetResourceSuffix(), "");
  l.SetBySuffix(l.ResourceSuffix());
  EXPECT_EQ(Fields(l), "en|GB||_en_GB");
  l.Variant("V");
  l.Language(nullptr);
  EXPECT_STREQ(l.ResourceSuffix(), "");
}

TEST(KLocaleSimplify, StepsDownToEmpty) {
  KLocale l("en_US_X");
  std::string steps;
  while (l.Simplify()) steps += std::string(l.ResourceSuffix()) + ";";
  EXPECT_EQ(steps, "_en_US;_en;;");
  EXPECT_FALSE(l.Simplify());
  EXPECT_EQ(Fields(l), "|||");
  KLocale v("en", "", "X");  // the variant goes first even without a country
  EXPECT_TRUE(v.Simplify());
  EXPECT_EQ(Fields(v), "en|||");
}

TEST(KLocaleEquality, ComparesSuffixesIgnoringCase) {
  EXPECT_TRUE(KLocale("en_US") == KLocale("EN_us"));
  EXPECT_TRUE(KLocale("en", "US", "x") == KLocale("en_US_X"));
  EXPECT_TRUE(KLocale("en", "", "X") == KLocale("en"));
  EXPECT_TRUE(KLocale("") == KLocale("_"));
  EXPECT_TRUE(KLocale("en_US") != KLocale("en_USA"));
  EXPECT_TRUE(KLocale("en") != KLocale(""));
  KLocale copy = KLocale("fr-CA-x");
  KLocale assigned("de");
  assigned = copy;
  EXPECT_EQ(Fields(assigned), "fr|CA|x|_fr_CA_x");
}

// ===== Current locale =====
// The rings and the shared locale are process-global: each scenario runs in
// a child of its own.

std::string Current() { return std::string(KLocale::CurrentLocale().ResourceSuffix()); }

TEST(KLocaleCurrent, ThreadWithoutStartupSharesTheProcessLocale) {
  ChildResult r = RunInChild([](std::string& out) {
    KIntl::DefaultLocale("it_IT");
    out += Current() + " ";
    KIntl::DefaultLocale("fr_FR");    // the shared locale was made on first use
    KLocale::CurrentLocale("de_DE");  // no per-thread locale: nothing changes
    out += Current() + " ";
    std::thread([&] { out += Current(); }).join();
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "_it_IT _it_IT _it_IT");
}

TEST(KLocaleCurrent, EachStartedThreadOwnsOneFromTheDefault) {
  ChildResult r = RunInChild([](std::string& out) {
    KIntl::DefaultLocale("pt", "BR", nullptr);
    KAt::ProcessStartup(1);
    out += Current() + " ";
    KLocale::CurrentLocale("ja", "jp", nullptr);
    out += Current() + " ";
    KIntl::DefaultLocale("ko_KR");
    std::thread([&] {
      out += Current() + " ";  // not started: the shared one, made now
      KAt::ThreadStartup();
      out += Current() + " ";  // its own, from the default at its start
      KLocale::CurrentLocale(KLocale("es-ES"));
      out += Current() + " ";
      KAt::ThreadShutdown();
      out += Current() + " ";  // gone: the shared one again
    }).join();
    out += Current() + " ";      // the main thread kept its own
    KLocale::CurrentLocale("");  // an empty locale is a locale too
    out += "[" + Current() + "] ";
    KAt::ProcessShutdown(1);
    out += Current();
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "_pt_BR _ja_JP _ko_KR _ko_KR _es_ES _ko_KR _ja_JP [] _ko_KR");
}

}  // namespace
