// Concurrent use of the settings, each atomic on its own.
#include "vxkernel/locale/KIntl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "locale/intl_internal.h"
#include "text/text_settings.h"

namespace {

// Runs each body on a thread of its own for rounds 0..rounds-1 and counts
// the rounds that returned false.
int Failures(const std::vector<std::function<bool(int)>>& bodies, int rounds) {
  vxk_internal::IntlResetForTesting();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (const auto& body : bodies) {
    threads.emplace_back([&] {
      for (int i = 0; i < rounds; ++i) failures += body(i) ? 0 : 1;
    });
  }
  for (std::thread& t : threads) t.join();
  return failures;
}

// One thread per setting, each storing round i's value and reading it back:
// a setter writing the whole word from a stale copy would hand another thread
// its old value. The text mode read meanwhile is always one of the three.
// Writers replace the default locale while readers take its suffix: every
// suffix read is one that some writer stored, whole.
TEST(KIntlThreads, SettersNeverLoseEachOtherAndTheDefaultLocaleIsReadWhole) {
  using vxk_internal::TextMode;
  auto locale = [](int i) {
    i % 2 ? KIntl::DefaultLocale("ja", "JP", nullptr) : KIntl::DefaultLocale(i % 4 ? "fr" : "de-DE-EURO");
    return true;
  };
  auto suffix = [](int) {
    const std::string s(KIntl::DefaultLocaleResourceSuffix());
    return std::string("|_en_US|_de_DE_EURO|_ja_JP|_fr|").find("|" + s + "|") != std::string::npos;
  };
  const int rounds = 20000;
  EXPECT_EQ(Failures({[](int i) { KIntl::MultiByte(i & 1); return KIntl::MultiByte() == (i & 1); },
                      [](int i) {
                        KIntl::Encoding(static_cast<KIntl::kEncoding>(i & 1));
                        return KIntl::Encoding() == (i & 1);
                      },
                      [](int i) {
                        KIntl::FontCharSet(static_cast<unsigned char>(i));
                        return KIntl::FontCharSet() == static_cast<unsigned char>(i);
                      },
                      [](int i) {
                        KIntl::Language(static_cast<KIntl::kLanguage>(i & 3));
                        KIntl::IntlStrings(i & 2);
                        return KIntl::Language() == (i & 3) && KIntl::IntlStrings() == ((i & 2) != 0);
                      },
                      [](int) { return vxk_internal::CurrentTextMode() <= TextMode::kDoubleByte; },
                      locale, suffix, locale, suffix},
                     rounds),
            0);
  // The last store of each thread survives.
  EXPECT_TRUE(KIntl::MultiByte() && KIntl::Utf8() && KIntl::Unicode() && KIntl::IntlStrings());
  EXPECT_EQ(KIntl::FontCharSet(), static_cast<unsigned char>(rounds - 1));
  vxk_internal::IntlResetForTesting();
}

}  // namespace
