// The one-probe name table against a std::map model under random puts and
// erases (enough keys to grow it several times and to collide), probed in
// mixed case; names with bytes above 0x7F leave the answer to the index.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <random>
#include <string>

#include "classes/classes_internal.h"

namespace {

using vxk_internal::FeatureHash;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

KQSClass_Slot* Fake(long n) { return reinterpret_cast<KQSClass_Slot*>(n * 8 + 8); }

TEST(FeatureHash, FollowsAMapModel) {
  std::mt19937 rng(5);
  FeatureHash hash;
  std::map<std::string, KQSClass_Slot*> model;  // upper-cased key -> slot
  auto name = [&] {
    std::string s;  // short names from few letters, so that keys recur
    for (size_t n = 1 + rng() % 3; n > 0; --n) s += "aBc_@`9z"[rng() % 8];
    return s;
  };
  for (long step = 0; step < 20000; ++step) {
    const std::string key = Upper(name());
    if (rng() % 3 == 0) {
      hash.Erase(key.c_str());
      model.erase(key);
    } else {
      ASSERT_TRUE(hash.Put(key.c_str(), Fake(step)));
      model[key] = Fake(step);
    }
    const std::string probe = name();
    const auto it = model.find(Upper(probe));
    KQSClass_Slot* found = Fake(-2);
    ASSERT_TRUE(hash.Find(probe.c_str(), &found));
    ASSERT_EQ(found, it == model.end() ? nullptr : it->second) << step << " " << probe;
  }
  KQSClass_Slot* found = nullptr;
  EXPECT_FALSE(hash.Find("caf\xC3\xA9", &found));  // a non-ASCII probe
  ASSERT_TRUE(hash.Put("\xC9T\xC9", Fake(1)));
  EXPECT_FALSE(hash.Find("abc", &found));  // a table with a non-ASCII key
  hash.Erase("\xC9T\xC9");
  EXPECT_TRUE(hash.Find("abc", &found));
}

}  // namespace
