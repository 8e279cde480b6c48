// str_ comparison functions, checked against the C library.
#include "vxkernel/text/str.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

std::string RandomText(std::mt19937& rng, size_t maxLength) {
  const char alphabet[] = "aAbBzZ09_\x7f\x80\xc3\xa9\xff";
  std::string s(rng() % (maxLength + 1), ' ');
  for (char& c : s) c = alphabet[rng() % (sizeof alphabet - 1)];
  return s;
}

// Case-sensitive: the unit sign of unsigned byte order, as std::string compares. Ignoring case: the
// difference of the first bytes whose toupper values differ. Null on either side compares equal.
TEST(StrCompareTest, MatchesReferencesWithAndWithoutCase) {
  std::mt19937 rng(42);
  for (int i = 0; i < 20000; ++i) {
    const std::string a = RandomText(rng, i % 2 ? 70 : 20);
    const std::string b =
        (i % 3 == 0) ? a.substr(0, a.size() / 2) + RandomText(rng, 3) : RandomText(rng, 70);
    ASSERT_EQ(str_DBCS_cmp(a.c_str(), b.c_str(), false), Sign(a.compare(b))) << a << " / " << b;
    int expected = 0;
    for (size_t k = 0;; ++k) {
      const int ca = std::toupper(static_cast<unsigned char>(a.c_str()[k]));
      const int cb = std::toupper(static_cast<unsigned char>(b.c_str()[k]));
      if (ca != cb || ca == 0) {
        expected = ca - cb;
        break;
      }
    }
    ASSERT_EQ(str_DBCS_cmp(a.c_str(), b.c_str(), true), expected) << a << " / " << b;
  }
  EXPECT_EQ(str_DBCS_cmp("a_", "AZ", true), '_' - 'Z');  // '_' sorts after 'Z' folded up
  EXPECT_EQ(str_DBCS_cmp(nullptr, "a", false), 0);
  EXPECT_EQ(str_DBCS_cmp("a", nullptr, true), 0);
  EXPECT_EQ(str_DBCS_cmp(nullptr, nullptr, false), 0);
}

}  // namespace
