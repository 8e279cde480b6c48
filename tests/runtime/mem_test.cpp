// The mem_ module: sizes, contents against a std::vector model, and failures.
#include "vxkernel/runtime/mem.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/debug_capture.h"

// Huge requests must come back null under AddressSanitizer too.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

struct FailLog {
  std::vector<long> sizes;
  static void Record(void* context, long size) {
    static_cast<FailLog*>(context)->sizes.push_back(size);
  }
};

class MemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mem_initialize();
    mem_fail_callback_set(&FailLog::Record, &fFails);
  }
  void TearDown() override { mem_fail_callback_set(nullptr, nullptr); }

  static std::string Bytes(mem_handle h) {
    return std::string(static_cast<const char*>(*h), static_cast<size_t>(mem_getsize(h)));
  }
  static mem_handle HandleOf(const std::string& s) {
    mem_handle h = mem_new(static_cast<long>(s.size()));
    std::memcpy(*h, s.data(), s.size());
    return h;
  }

  FailLog fFails;
  DebugCapture fDebug;
};

TEST_F(MemTest, PointerAndFixedBlocksKeepTheirSizeAndAlignment) {
  void* p = mem_newp(10);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(mem_getpsize(p), 10);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
  uint32_t word;  // the size word sits right before the caller's bytes
  std::memcpy(&word, static_cast<char*>(p) - 4, 4);
  EXPECT_EQ(word, 10u);
  std::memset(p, 'x', 10);
  EXPECT_FALSE(mem_resizep(p, 20));
  EXPECT_FALSE(mem_expandp(p, 5));
  EXPECT_EQ(mem_getpsize(p), 10);
  mem_disposep(p);

  void* f = mem_new_fixed_n(3, 7);
  EXPECT_EQ(mem_getsize_fixed(f), 21);
  EXPECT_EQ(mem_lock_fixed(f), f);
  mem_unlock_fixed(f);
  mem_dispose_fixed(f);

  void* z = mem_newp(0);
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(mem_getpsize(z), 0);
  mem_disposep(z);
  EXPECT_EQ(mem_getpsize(nullptr), 0);
  mem_disposep(nullptr);
  EXPECT_TRUE(fFails.sizes.empty());
}

TEST_F(MemTest, ReallocatePointerBlockCopiesTheCommonPrefix) {
  char* p = static_cast<char*>(mem_newp(6));
  std::memcpy(p, "abcdef", 6);
  p = static_cast<char*>(mem_reallocatep(p, 3));
  EXPECT_EQ(mem_getpsize(p), 3);
  EXPECT_EQ(std::string(p, 3), "abc");
  p = static_cast<char*>(mem_reallocatep(p, 100));
  EXPECT_EQ(mem_getpsize(p), 100);
  EXPECT_EQ(std::string(p, 3), "abc");
  // A failed reallocation keeps the old block.
  EXPECT_EQ(mem_reallocatep(p, -1), nullptr);
  EXPECT_EQ(mem_getpsize(p), 100);
  mem_disposep(p);

  char* s = mem_str_newp("hello");
  EXPECT_STREQ(s, "hello");
  EXPECT_EQ(mem_getpsize(s), 6);
  mem_disposep(s);
  EXPECT_EQ(mem_str_newp(nullptr), nullptr);
}

TEST_F(MemTest, HandlesOfZeroBytesHaveDistinctAddressesThatNeverMove) {
  mem_handle a = mem_new(0);
  mem_handle b = mem_newh(0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(mem_getsize(a), 0);
  void* data = mem_lock(a);
  EXPECT_NE(data, nullptr);
  EXPECT_NE(data, mem_lock(b));
  mem_lockh(a);
  mem_sethpurge(a);
  EXPECT_EQ(*a, data);
  mem_dispose(a);
  mem_disposeh(b);
}

// Random operations on handles against a vector model of their bytes.
TEST_F(MemTest, HandleOperationsMatchAVectorModel) {
  std::mt19937 rng(7);
  std::vector<mem_handle> handles;
  std::vector<std::vector<unsigned char>> model;
  for (int i = 0; i < 4; ++i) {
    handles.push_back(mem_newh_n(i, 3));
    model.emplace_back(static_cast<size_t>(i * 3));
    std::memset(*handles.back(), 0, model.back().size());
  }
  for (int step = 0; step < 3000; ++step) {
    size_t i = rng() % handles.size();
    mem_handle h = handles[i];
    std::vector<unsigned char>& m = model[i];
    switch (rng() % 5) {
      case 0: {  // resize: new tail filled by the test
        long n = static_cast<long>(rng() % 64);
        ASSERT_TRUE(mem_resizeh(h, n));
        size_t old = m.size();
        m.resize(static_cast<size_t>(n));
        for (size_t k = old; k < m.size(); ++k) m[k] = static_cast<unsigned char>(rng());
        if (m.size() > old)
          std::memcpy(static_cast<unsigned char*>(*h) + old, m.data() + old, m.size() - old);
        break;
      }
      case 1: {  // append fresh bytes
        unsigned char bytes[16];
        long n = static_cast<long>(rng() % 16);
        for (long k = 0; k < n; ++k) bytes[k] = static_cast<unsigned char>(rng());
        ASSERT_TRUE(mem_append(h, bytes, n));
        m.insert(m.end(), bytes, bytes + n);
        break;
      }
      case 2: {  // append a piece of its own data
        if (m.empty()) break;
        size_t from = rng() % m.size();
        long n = static_cast<long>(rng() % (m.size() - from + 1));
        ASSERT_TRUE(mem_append(h, static_cast<unsigned char*>(*h) + from, n));
        std::vector<unsigned char> piece(m.begin() + static_cast<long>(from),
                                         m.begin() + static_cast<long>(from) + n);
        m.insert(m.end(), piece.begin(), piece.end());
        break;
      }
      case 3: {  // copy another handle into this one
        size_t j = rng() % handles.size();
        ASSERT_TRUE(mem_copy(h, handles[j]));
        m = model[j];
        break;
      }
      default: {  // replace by a copy of itself
        mem_handle c = mem_new_copy(h);
        ASSERT_NE(c, nullptr);
        mem_dispose(h);
        handles[i] = c;
        break;
      }
    }
    mem_handle now = handles[i];
    ASSERT_EQ(mem_getsize(now), static_cast<long>(m.size()));
    ASSERT_EQ(std::memcmp(*now, m.data(), m.size()), 0) << "step " << step;
  }
  for (mem_handle h : handles) mem_dispose(h);
  EXPECT_TRUE(fFails.sizes.empty());
}

TEST_F(MemTest, FailuresReturnNullCallTheCallbackAndWriteOneLine) {
  EXPECT_EQ(mem_newp(-1), nullptr);
  EXPECT_EQ(mem_newp(0x100000000L), nullptr);   // beyond the 32-bit size word
  EXPECT_EQ(mem_newp_n(LONG_MAX, 2), nullptr);  // the product overflows
  EXPECT_EQ(mem_new(LONG_MAX), nullptr);
  EXPECT_EQ(mem_new_fixed(-5), nullptr);
  EXPECT_EQ(fFails.sizes, (std::vector<long>{-1, 0x100000000L, -1, LONG_MAX, -5}));
  EXPECT_EQ(fDebug.Texts().size(), 5u);
  EXPECT_EQ(fDebug.Texts()[0], "mem: mem_newp could not get -1 bytes");

  // A failed resize leaves the handle as it was.
  fFails.sizes.clear();
  mem_handle h = HandleOf("keep");
  EXPECT_FALSE(mem_resize(h, LONG_MAX));
  EXPECT_FALSE(mem_expand(h, LONG_MAX));  // the sum overflows
  EXPECT_FALSE(mem_reallocate(h, -2));
  EXPECT_FALSE(mem_append(h, "x", LONG_MAX));
  EXPECT_FALSE(mem_append(h, nullptr, 1));  // refused, not a failure
  EXPECT_FALSE(mem_copy(h, nullptr));
  EXPECT_EQ(Bytes(h), "keep");
  EXPECT_EQ(fFails.sizes, (std::vector<long>{LONG_MAX, -1, -2, -1}));
  mem_dispose(h);
}

// The module's state is process-global: these run in a child.
TEST(MemModule, DoneReportsAndForgetsTheCallback) {
  ChildResult r = RunInChild([](std::string& out) {
    DebugCapture debug;
    FailLog fails;
    mem_done();  // the parent's tests initialised the module: start torn down
    mem_fail_callback_set(&FailLog::Record, &fails);  // not initialised: ignored
    mem_newp(-1);                                     // initialises the module
    out += std::to_string(fails.sizes.size()) + " ";
    mem_fail_callback_set(&FailLog::Record, &fails);
    mem_newp(-1);
    out += std::to_string(fails.sizes.size()) + " ";
    debug.Clear();
    mem_done();
    out += debug.All();
    mem_fail_callback_set(&FailLog::Record, &fails);  // ignored again
    mem_new(-1);
    out += std::to_string(fails.sizes.size());
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "0 1 Memory in use/max used: 0/0\n1");
}

}  // namespace
