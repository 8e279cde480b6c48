// KStringKey: ownership, equality and map ordering.
#include "vxkernel/text/KStringKey.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "vxkernel/text/KString.h"

namespace {

TEST(KStringKeyTest, EqualityNeedsEqualLengthAndText) {
  const char* null = nullptr;
  EXPECT_TRUE(KStringKey("abc") == KStringKey("abc"));
  EXPECT_TRUE(KStringKey() == KStringKey(""));
  EXPECT_TRUE(KStringKey(null) == KStringKey());
  EXPECT_TRUE(KStringKey("abc") == "abc");
  EXPECT_TRUE(KStringKey() == "");
  EXPECT_TRUE(KStringKey() == null);
  EXPECT_FALSE(KStringKey("abc") == KStringKey("abd"));
  EXPECT_FALSE(KStringKey("abc") == "ab");
  // A KString with an embedded NUL keeps its length but only its first bytes.
  const char bytes[] = {'a', '\0', 'b'};
  KStringKey withNul{KString(bytes, 3)};
  EXPECT_EQ(withNul.Length(), 3u);
  EXPECT_EQ(std::string(withNul), "a");
  EXPECT_FALSE(withNul == KStringKey("a"));
}

// The empty key is never null and sorts first.
TEST(KStringKeyTest, EmptyKeyIsNeverNullAndSortsFirst) {
  const KStringKey empty, one("\x01");
  EXPECT_TRUE(empty < one);
  EXPECT_FALSE(one < empty);
  EXPECT_FALSE(empty < KStringKey());
  std::ostringstream out;
  out << static_cast<const char*>(empty) << empty << KStringKey("key");
  EXPECT_EQ(out.str(), "key");
}

TEST(KStringKeyTest, CopiesAreDeepAndFoldInPlace) {
  KStringKey a("original");
  KStringKey b(a);
  EXPECT_NE(static_cast<const char*>(a), static_cast<const char*>(b));
  b.Upper();
  EXPECT_STREQ(a, "original");
  EXPECT_STREQ(b, "ORIGINAL");
  b = "MiXeD-9";
  b.Lower();
  EXPECT_STREQ(b, "mixed-9");
  b = a;
  const KStringKey& self = b;
  b = self;  // self-assignment keeps the key
  EXPECT_STREQ(b, "original");
  b = static_cast<const char*>(b) + 4;  // from our own text
  EXPECT_STREQ(b, "inal");
  EXPECT_EQ(b.Length(), 4u);
  b = nullptr;
  b.Upper();
  EXPECT_EQ(b.Length(), 0u);
  KStringKey fromString{KString("shared")}, moved(std::move(fromString));
  EXPECT_STREQ(moved, "shared");
}

// A std::map keyed by KStringKey must order and find exactly as one keyed by std::string, whose
// byte order is unsigned as well.
TEST(KStringKeyTest, MapOrderMatchesStdStringModel) {
  std::mt19937 rng(1234);
  const char alphabet[] = "abAB\x7f\x80\xff";
  std::map<KStringKey, int> keys;
  std::map<std::string, int> model;
  for (int i = 0; i < 3000; ++i) {
    std::string s(rng() % 5, ' ');
    for (char& c : s) c = alphabet[rng() % (sizeof alphabet - 1)];
    keys[KStringKey(s.c_str())] += 1;
    model[s] += 1;
  }
  std::vector<std::pair<std::string, int>> got;  // the empty key first
  for (const auto& [k, n] : keys) got.emplace_back(static_cast<const char*>(k), n);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>(model.begin(), model.end())));
}

}  // namespace
