// Concurrent use of the settings, each atomic on its own.
#include "vxkernel/locale/KIntl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "locale/intl_internal.h"
#include "text/text_settings.h"

namespace {

constexpr int kRounds = 20000;

// One thread per setting flips it and reads it back: a setter writing the whole word
// from a stale copy would hand another thread its old value.
TEST(KIntlThreads, SettersOfDifferentSettingsNeverLoseEachOther) {
  vxk_internal::IntlResetForTesting();
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      bool v = (i & 1) != 0;
      KIntl::MultiByte(v);
      if (KIntl::MultiByte() != v) ++mismatches;
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      KIntl::kEncoding v = (i & 1) ? KIntl::kUTF8 : KIntl::kNotEncoded;
      KIntl::Encoding(v);
      if (KIntl::Encoding() != v) ++mismatches;
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      auto v = static_cast<unsigned char>(i);
      KIntl::FontCharSet(v);
      if (KIntl::FontCharSet() != v) ++mismatches;
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      auto v = static_cast<KIntl::kLanguage>(i & 3);
      KIntl::Language(v);
      if (KIntl::Language() != v) ++mismatches;
      KIntl::IntlStrings(v == KIntl::kKorean);
      if (KIntl::IntlStrings() != (v == KIntl::kKorean)) ++mismatches;
    }
  });
  // A reader of the text mode sees only the three valid modes.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      auto m = vxk_internal::CurrentTextMode();
      if (m != vxk_internal::TextMode::kSingleByte && m != vxk_internal::TextMode::kUtf8 &&
          m != vxk_internal::TextMode::kDoubleByte)
        ++mismatches;
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  // The last write of each thread survives.
  EXPECT_TRUE(KIntl::MultiByte());
  EXPECT_TRUE(KIntl::Utf8());
  EXPECT_EQ(KIntl::FontCharSet(), static_cast<unsigned char>(kRounds - 1));
  EXPECT_TRUE(KIntl::Unicode());
  EXPECT_FALSE(KIntl::IntlStrings());
  vxk_internal::IntlResetForTesting();
}

// Writers replace the default locale while readers take its suffix: every
// suffix read is one that some writer stored, whole.
TEST(KIntlThreads, DefaultLocaleIsReadWhole) {
  vxk_internal::IntlResetForTesting();
  const char* suffixes[] = {"en_US", "de-DE-EURO", "ja_JP", "fr"};
  const char* expected[] = {"_en_US", "_de_DE_EURO", "_ja_JP", "_fr"};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < 2; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < 2000; ++i) {
        if ((i + w) % 2 == 0)
          KIntl::DefaultLocale(suffixes[i % 4]);
        else
          KIntl::DefaultLocale("ja", "JP", nullptr);
      }
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        KString s = KIntl::DefaultLocaleResourceSuffix();
        bool known = false;
        for (const char* e : expected) known = known || s == e;
        if (!known) ++bad;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
  vxk_internal::IntlResetForTesting();
}

}  // namespace
