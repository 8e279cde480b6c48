// The mem_ module: blocks and their size words, handles against a std::vector
// model of their bytes, and failures.
#include "vxkernel/base/mem.h"

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

// The failure callback: appends the size asked to a std::vector<long>.
void Record(void* sizes, long size) { static_cast<std::vector<long>*>(sizes)->push_back(size); }

class MemTest : public ::testing::Test {
 protected:
  void SetUp() override { mem_initialize(), mem_fail_callback_set(&Record, &fFails); }
  void TearDown() override { mem_fail_callback_set(nullptr, nullptr); }

  std::vector<long> fFails;
  DebugCapture fDebug;
};

TEST_F(MemTest, BlocksKeepTheirSizeInAWordAndEmptyOnesStillHaveAnAddress) {
  char* p = static_cast<char*>(mem_newp(10));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
  uint32_t word;
  std::memcpy(&word, p - 4, 4);
  EXPECT_EQ(word, 10u);
  std::memcpy(p, "abcdefghij", 10);
  // Not for pointer blocks.
  EXPECT_FALSE(mem_resizep(p, 20));
  EXPECT_FALSE(mem_expandp(p, 5));
  p = static_cast<char*>(mem_reallocatep(p, 3));  // the common prefix is copied
  EXPECT_EQ(std::string(p, static_cast<size_t>(mem_getpsize(p))), "abc");
  p = static_cast<char*>(mem_reallocatep(p, 100));
  EXPECT_EQ(std::string(p, 3), "abc");
  EXPECT_EQ(mem_getpsize(p), 100);
  EXPECT_EQ(mem_reallocatep(p, -1), nullptr);  // a failed reallocation keeps the block
  EXPECT_EQ(mem_getpsize(p), 100);
  mem_disposep(p);
  char* s = mem_str_newp("hello");
  EXPECT_EQ(std::string(s, static_cast<size_t>(mem_getpsize(s))), std::string("hello", 6));
  mem_disposep(s);
  void* f = mem_new_fixed_n(3, 7);
  EXPECT_EQ(mem_getsize_fixed(f), 21);
  EXPECT_EQ(mem_lock_fixed(f), f);
  mem_unlock_fixed(f);
  mem_dispose_fixed(f);
  void* z = mem_newp(0);
  EXPECT_NE(z, nullptr);
  EXPECT_EQ(mem_getpsize(z), 0);
  mem_disposep(z);
  mem_handle a = mem_new(0), b = mem_newh(0);  // distinct addresses that never move
  void* data = mem_lock(a);
  EXPECT_NE(data, nullptr);
  EXPECT_EQ(mem_getsize(a), 0);
  EXPECT_NE(data, mem_lock(b));
  mem_lockh(a);
  mem_sethpurge(a);
  EXPECT_EQ(*a, data);
  mem_dispose(a);
  mem_disposeh(b);
  EXPECT_EQ(mem_getpsize(nullptr), 0);
  EXPECT_EQ(mem_str_newp(nullptr), nullptr);
  mem_disposep(nullptr);
  EXPECT_EQ(fFails, std::vector<long>{-1});
  EXPECT_EQ(fDebug.Texts().size(), 1u);
}

// Random operations on handles against a vector model of their bytes. The
// failing ones must leave the handle as it was and report the sizes asked.
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
    const size_t i = rng() % 4, j = rng() % 4, n = rng() % 64, old = model[i].size();
    mem_handle& h = handles[i];
    std::vector<unsigned char>& m = model[i];
    unsigned char fresh[16];
    for (unsigned char& b : fresh) b = static_cast<unsigned char>(rng());
    switch (rng() % 6) {
      case 0:  // resize or expand; the test zeroes a new tail
        ASSERT_TRUE(rng() % 2 ? mem_resizeh(h, static_cast<long>(n))
                              : mem_expand(h, static_cast<long>(n) - static_cast<long>(old)));
        m.resize(n);
        if (n > old) std::memset(static_cast<unsigned char*>(*h) + old, 0, n - old);
        break;
      case 1:
        ASSERT_TRUE(mem_append(h, fresh, static_cast<long>(n % 16)));
        m.insert(m.end(), fresh, fresh + n % 16);
        break;
      case 2: {  // the tail of its own data
        const std::vector<unsigned char> tail(m.begin() + static_cast<long>(n * old / 64), m.end());
        ASSERT_TRUE(mem_append(h, static_cast<unsigned char*>(*h) + n * old / 64,
                               static_cast<long>(tail.size())));
        m.insert(m.end(), tail.begin(), tail.end());
        break;
      }
      case 3:
        ASSERT_TRUE(mem_copy(h, handles[j]));
        m = model[j];
        break;
      case 4: {
        mem_handle c = mem_new_copy(handles[j]);
        ASSERT_NE(c, nullptr);
        mem_dispose(h);
        h = c;
        m = model[j];
        break;
      }
      default: {  // too much, a sum past LONG_MAX, a negative size, nothing to copy
        fFails.clear();
        for (bool done : {mem_resize(h, LONG_MAX), mem_expand(h, LONG_MAX), mem_reallocate(h, -2),
                          mem_append(h, "x", LONG_MAX), mem_append(h, nullptr, 1),
                          mem_copy(h, nullptr)})
          ASSERT_FALSE(done);
        const long sum = old == 0 ? LONG_MAX : -1;  // -1: past LONG_MAX
        ASSERT_EQ(fFails, (std::vector<long>{LONG_MAX, sum, -2, sum}));
      }
    }
    ASSERT_EQ(mem_getsize(h), static_cast<long>(m.size()));
    const auto* data = static_cast<unsigned char*>(*h);
    ASSERT_EQ(std::vector<unsigned char>(data, data + m.size()), m) << "step " << step;
  }
  for (mem_handle h : handles) mem_dispose(h);
}

TEST_F(MemTest, FailuresReturnNullCallTheCallbackAndWriteOneLineEach) {
  EXPECT_EQ(mem_newp(-1), nullptr);
  EXPECT_EQ(mem_newp(0x100000000L), nullptr);   // beyond the 32-bit size word
  EXPECT_EQ(mem_newp_n(LONG_MAX, 2), nullptr);  // the product overflows
  EXPECT_EQ(mem_new(LONG_MAX), nullptr);
  EXPECT_EQ(mem_new_fixed(-5), nullptr);
  EXPECT_EQ(fFails, (std::vector<long>{-1, 0x100000000L, -1, LONG_MAX, -5}));
  ASSERT_EQ(fDebug.Texts().size(), 5u);
  EXPECT_EQ(fDebug.Texts()[0], "mem: mem_newp could not get -1 bytes");
}

// The module's state is process-global: a child tears it down.
TEST(MemModule, DoneReportsAndForgetsTheCallback) {
  EXPECT_EQ(ChildTranscript([](Transcript& transcript) {
    DebugCapture debug;
    std::vector<long> fails;
    mem_done();  // the parent's tests initialised the module: start torn down
    mem_fail_callback_set(&Record, &fails);  // not initialised: ignored
    mem_newp(-1);                                     // initialises the module
    mem_fail_callback_set(&Record, &fails);
    mem_newp(-1);
    debug.Clear();
    mem_done();
    transcript.Line(debug.All(), fails.size());
    mem_fail_callback_set(&Record, &fails);  // ignored again
    mem_new(-1);
    transcript.Line(fails.size());
  }),
            "Memory in use/max used: 0/0\n1\n1\n");
}

}  // namespace
