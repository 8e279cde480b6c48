// Template filling: one row per placeholder letter and value type, the
// placeholder limit, the non-list message, and no "<" let through by `H.
#include "vxkernel/web/KWebFormat.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "support/debug_capture.h"
#include "support/temp_dir.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/web/KSGMLValues.h"

namespace {

// A catalogue with the date format and the message for an error value
// without a code, chosen before start-up picks the catalogue directory.
class CatalogueProcess : public ::testing::Environment {
 public:
  void SetUp() override {
    std::filesystem::create_directory(fDir / "res");
    fDir.Write("res/8515.properties", "558039041=%Y-%m-%d\n");               // 0x21430001
    fDir.Write("res/9901.properties", "648871937=no code\n648871938=two\n");  // 0x26AD0001, 2
    err_properties_path_set(fDir.Path().c_str());
    KAt::ProcessStartup(1);
  }

 private:
  TempDir fDir;
};
::testing::Environment* const gCatalogueProcess = ::testing::AddGlobalTestEnvironment(new CatalogueProcess);

std::string S(const KString& k) { return std::string(k, k.Length()); }

std::string Format(const char* tmpl, const KQSValue& args) {
  return S(KWebFormat::FormatHTMLExpression(tmpl, args));
}

TEST(KWebFormat, PlaceholdersAndValueTypes) {
  KDateTime date;
  date.SetDate(2026, 12, 7);
  const KQSValue noCode(static_cast<short>(1), 0L);
  const KQSValue two(static_cast<short>(1), 0x26AD0002L);
  const struct {
    const char* tmpl;
    KQSValue args;
    std::string want;
  } rows[] = {
      {"a`Hb", KQSValue::List(KQSValue("<")), "a&lt;b"},
      {"a`Hb", KQSValue::List(KQSValue()), "ab"},
      {"x``Ly", KQSValue::List(KQSValue("1")), "x`1y"},
      {"`U|`D|`S|`L", KQSValue::List("a b", "\"'", "\"'", "<"), "a%20b|\\\"'|\"\\'|<"},
      {"`L`L`L", KQSValue::List(KQSValue(42), date), "422026-12-07"},
      {"[`L|`L]", KQSValue::List(noCode, two), "[no code|two]"},
      {"no `placeholders`", KQSValue::List(), "no `placeholders`"},
  };
  for (const auto& r : rows) EXPECT_EQ(Format(r.tmpl, r.args), r.want) << r.tmpl;
  ExpectDebug({"KWebUtils::FormatHTMLExpression   Non-list argument list.\n"},
              [] { EXPECT_EQ(Format("a`Hb", KQSValue("<")), "a`Hb"); });
}

TEST(KWebFormat, OnlyTwentyPlaceholdersAreFilled) {
  std::string tmpl;
  KQSValue args = KQSValue::List();
  for (int i = 1; i <= KWebFormat::kMaxPlaceholders + 1; ++i) {
    tmpl += "`L";
    args.ListAppendValue(KQSValue(std::to_string(i % 10).c_str()));
  }
  ExpectDebug({"KWebUtils::FormatHTMLExpression   Ignoring placeholders beyond the first kMaxPlaceholders=20\n"},
              [&] { EXPECT_EQ(Format(tmpl.c_str(), args), "12345678901234567890`L"); });
}

TEST(KWebFormat, HtmlPlaceholdersLetNoLessThanThrough) {
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    std::string tmpl;
    KQSValue args = KQSValue::List();
    for (int k = 0; k < 1 + i % 25; ++k) {
      tmpl += (k % 3 == 0) ? "`H" : "t`";
      std::string v(rng() % 40, 'v');
      for (char& c : v) c = static_cast<char>(1 + rng() % 255);
      args.ListAppendValue(KQSValue(v.c_str()));
    }
    EXPECT_EQ(Format(tmpl.c_str(), args).find('<'), std::string::npos);
  }
}

TEST(KSGMLValues, ValuesRoundTripThroughTheirTextForm) {
  const KQSValue in = KQSValue::List(KQSValue("a<b"), KQSValue(7));
  std::stringstream stream;
  stream << KSGMLValues(&in);
  KQSValue out;
  stream >> KSGMLValues(&out);
  EXPECT_EQ(out.Compare(in, 0), 0);
}

}  // namespace
