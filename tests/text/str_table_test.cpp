// strs_ string tables, checked against a std::map model, and the memory block conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/debug_capture.h"
#include "vxkernel/base/mem.h"
#include "vxkernel/text/str.h"

namespace {

struct Table {
  mem_handle fT = strs_new_table();
  ~Table() { strs_dispose_table(fT); }
  long Add(const std::string& s) { return strs_add_string(fT, s.c_str()); }
  std::string Get(long n) {
    std::unique_ptr<char[]> p(strs_get_string_ptr(fT, n));
    return p ? std::string(p.get()) : std::string("<none>");
  }
  uint16_t Field(int i) {
    uint16_t v;
    std::memcpy(&v, static_cast<char*>(*fT) + 2 * i, 2);
    return v;
  }
};

TEST(StrTableTest, NewTableLayout) {
  Table t;
  ASSERT_NE(t.fT, nullptr);
  EXPECT_EQ(mem_getsize(t.fT), 8 + 20);
  auto header = [&] { return std::vector<int>{t.Field(0), t.Field(1), t.Field(2), t.Field(3)}; };
  EXPECT_EQ(header(), (std::vector<int>{0, 10, 28, 0}));  // count, slots, end, garbage
  EXPECT_EQ(t.Add("abc"), 1);
  EXPECT_EQ(t.Add("de"), 2);
  // "abc" + NUL is already even, "de" + NUL is padded to 4; the offsets of strings 1 and 2 follow
  // the header.
  EXPECT_EQ(header(), (std::vector<int>{2, 10, 36, 0}));
  EXPECT_EQ(t.Field(4), 28);
  EXPECT_EQ(t.Field(5), 32);
}

TEST(StrTableTest, GetCopiesTruncatedAndRefusesBadNumbers) {
  Table t;
  t.Add("hello");
  char buf[4] = "xyz";
  EXPECT_EQ(strs_get_string(t.fT, 1, buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "hel");
  for (long n : {0L, -1L, 2L, 11L, 100000L}) {
    std::strcpy(buf, "xyz");
    EXPECT_EQ(strs_get_string(t.fT, n, buf, sizeof buf), nullptr) << n;
    EXPECT_EQ(buf[0], '\0') << n;
  }
}

TEST(StrTableTest, RandomOperationsMatchAMapModel) {
  std::mt19937 rng(5);
  Table t;
  std::map<long, std::string> model;
  int compactions = 0;
  for (int step = 0; step < 20000; ++step) {
    if (model.empty() || rng() % 3 != 0) {
      std::string s(rng() % 60, 'a');
      for (char& c : s) c = static_cast<char>('a' + rng() % 26);
      if (static_cast<size_t>(t.Field(2)) + s.size() + 64 > 0xFFFF)
        continue;  // keep below the 16-bit limit
      const long n = t.Add(s);
      ASSERT_GT(n, 0);
      ASSERT_EQ(model.count(n), 0u) << "number of a live string reused";
      // The lowest free slot is taken.
      for (long k = 1; k < n; ++k) ASSERT_EQ(model.count(k), 1u);
      model[n] = s;
    } else {
      auto it = model.begin();
      std::advance(it, rng() % model.size());
      const unsigned garbageBefore = t.Field(3);
      strs_delete_string(t.fT, it->first);
      if (t.Field(3) < garbageBefore) ++compactions;
      ASSERT_EQ(t.Get(it->first), "<none>");  // until a new string takes its number
      model.erase(it);
    }
    ASSERT_EQ(strs_count(t.fT), static_cast<long>(model.size()));
    ASSERT_LE(t.Field(3), 1024);
    ASSERT_EQ(mem_getsize(t.fT), t.Field(2));
    if (step % 500 == 0) {
      for (const auto& [n, s] : model) ASSERT_EQ(t.Get(n), s) << n;
    }
  }
  EXPECT_GT(compactions, 5);
  for (const auto& [n, s] : model) ASSERT_EQ(t.Get(n), s) << n;
  // A copy is an independent table with the same contents.
  Table copy;
  strs_copy_table(copy.fT, t.fT);
  for (const auto& [n, s] : model) ASSERT_EQ(copy.Get(n), s);
}

TEST(StrTableTest, DamagedHeadersAreRefused) {
  DebugCapture capture;
  Table t;
  t.Add("a");
  uint16_t slots = 0xFFF0;  // claims an offset array far past the block
  std::memcpy(static_cast<char*>(*t.fT) + 2, &slots, 2);
  EXPECT_EQ(t.Add("b"), 0);
  EXPECT_EQ(t.Get(1), "<none>");
  EXPECT_EQ(strs_add_string(nullptr, "x"), 0);
  EXPECT_EQ(capture.Texts(),  // the null table too
            std::vector<std::string>(2, "Illegal STRS add string .. data structure corrupt\n"));
}

TEST(StrHandleTest, CopiesInAndOut) {
  mem_handle h = mem_new(0);
  char buf[8], all[8];
  str_str_to_hdl("hello", h);
  EXPECT_EQ(mem_getsize(h), 5);  // no NUL stored
  EXPECT_STREQ(str_hdl_to_str(h, buf, 3), "hel");
  EXPECT_STREQ(str_handle_to_str(h, all, 7), "hello");
  str_str_to_handle("", h);
  EXPECT_EQ(mem_getsize(h), 0);
  EXPECT_STREQ(str_hdl_to_str(h, buf, 7), "");
  mem_dispose(h);
}

}  // namespace
