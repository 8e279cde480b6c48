// KLocale: suffixes parsed and formed, simplification, equality, the per-thread current locale.
#include "vxkernel/locale/KLocale.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>

#include "support/child_process.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/runtime/KAt.h"

namespace {

std::string Fields(const KLocale& l) {  // "language|country|variant|cached suffix"
  return std::string(l.Language()) + "|" + std::string(l.Country()) + "|" +
         std::string(l.Variant()) + "|" + std::string(l.GetResourceSuffix());
}

TEST(KLocaleSuffix, ParsedFromTextOrFormedFromComponents) {
  const std::pair<KLocale, const char*> cases[] = {
      {KLocale("en-us"), "en|us||_en_US"},
      {KLocale("_fr"), "fr|||_fr"},
      {KLocale("DE_de_EURO"), "DE|de|EURO|_de_DE_EURO"},
      {KLocale("zh-Hant-TW-x"), "zh|Hant|TW-x|_zh_HANT_TW-x"},  // the rest is the variant
      {KLocale("pt_BR-x"), "pt|BR-x||_pt_BR-X"},  // "_" occurs, so "-" is text
      {KLocale("__en__US"), "en||US|_en"},        // only leading separators skip
      {KLocale("---"), "|||"},
      {KLocale(static_cast<const char*>(nullptr)), "|||"},
      {KLocale("en", "", "X"), "en||X|_en"},  // no country: no variant
      {KLocale(nullptr, "US", nullptr), "|US||"},
      {KLocale("\xC3\x89N", "us", nullptr), "\xC3\x89N|us||_\xC3\x89n_US"},  // ASCII folding only
  };
  for (const auto& [locale, fields] : cases) EXPECT_EQ(Fields(locale), fields);
}

// Unusable text leaves a locale as it was; setting a component clears the cached suffix.
// Simplifying drops the variant (even without a country), then the country, then the
// language; equality ignores case.
TEST(KLocaleSuffix, UnusableTextComponentsSimplifyAndEquality) {
  KLocale l("en", "GB", nullptr);
  l.SetBySuffix("___"), l.SetBySuffix(nullptr);
  EXPECT_EQ(Fields(l), "en|GB||_en_GB");
  l.Country("us");
  EXPECT_EQ(Fields(l), "en|us||");
  EXPECT_STREQ(l.ResourceSuffix(), "_en_US");  // computed, not cached
  l.SetBySuffix(l.ResourceSuffix());
  EXPECT_EQ(Fields(l), "en|US||_en_US");
  l.Variant("V"), l.Language(nullptr);
  EXPECT_STREQ(l.ResourceSuffix(), "");
  l = KLocale("en_US_X");
  std::string steps;
  while (l.Simplify()) steps += std::string(l.ResourceSuffix()) + ";";
  EXPECT_EQ(steps, "_en_US;_en;;");
  EXPECT_EQ(Fields(l), "|||");
  KLocale v("en", "", "X");
  EXPECT_TRUE(v.Simplify());
  EXPECT_EQ(Fields(v), "en|||");
  EXPECT_TRUE(KLocale("en_US") == KLocale("EN_us"));
  EXPECT_TRUE(KLocale("en", "US", "x") == KLocale("en_US_X"));
  EXPECT_TRUE(KLocale("en", "", "X") == KLocale("en"));
  EXPECT_TRUE(KLocale("en_US") != KLocale("en_USA"));
  EXPECT_TRUE(KLocale("en") != KLocale(""));
}

// The rings and the shared locale are process-global: a child has no rings, then starts them.
TEST(KLocaleCurrent, StartedThreadsOwnOneFromTheDefaultOthersShareOne) {
  EXPECT_EQ(ChildTranscript([](Transcript& transcript) {
    auto current = [&](const char* when) {
      transcript.Line(when, " ", std::string(KLocale::CurrentLocale().ResourceSuffix()));
    };
    KIntl::DefaultLocale("it_IT");
    current("shared");                // made now, from the default
    KIntl::DefaultLocale("fr_FR");
    KLocale::CurrentLocale("de_DE");  // no locale of its own: nothing changes
    current("shared");
    KAt::ProcessStartup(1);
    current("started");
    KLocale::CurrentLocale("ja", "jp", nullptr);
    current("set");
    KIntl::DefaultLocale("ko_KR");
    std::thread([&] {
      current("bare thread");
      KAt::ThreadStartup();
      current("its start");
      KLocale::CurrentLocale(KLocale("es-ES"));
      current("its own");
      KAt::ThreadShutdown();
      current("its end");
    }).join();
    current("main");
    KLocale::CurrentLocale("");  // an empty locale is a locale too
    current("empty");
    KAt::ProcessShutdown(1);
    current("shut down");
  }),
            "shared _it_IT\nshared _it_IT\nstarted _fr_FR\nset _ja_JP\nbare thread _it_IT\n"
            "its start _ko_KR\nits own _es_ES\nits end _it_IT\nmain _ja_JP\nempty \nshut down _it_IT\n");
}

}  // namespace
